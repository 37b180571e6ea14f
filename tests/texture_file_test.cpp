// Texture files: real JPEG, PNG and TGA files written here are decoded,
// scaled and converted into textures of the recording device; truncated,
// corrupt and absurd files fail without a texture.
#include "imaging/texture_file.h"
#include "resources/memory.h"
#include "tests/dgl_fixture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<BYTE>;

// A picture as the tests describe it: A8R8G8B8, top row first.
struct Picture {
    int width;
    int height;
    std::vector<DWORD> pixels;
    DWORD at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

Picture pattern(int width, int height)
{
    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.pixels.push_back(static_cast<DWORD>((x * 37 + y * 11) & 0xFF) << 24 | static_cast<DWORD>(x * 9 & 0xFF) << 16 |
                               static_cast<DWORD>(y * 13 & 0xFF) << 8 | static_cast<DWORD>((x ^ y) * 5 & 0xFF));
    return p;
}

Picture solid(int width, int height, DWORD color) { return Picture{width, height, std::vector<DWORD>(width * height, color)}; }

Bytes tga(const Picture& p, int bits, bool rle, bool topDown)
{
    Bytes out(18, 0);
    out[2] = rle ? 10 : 2;
    out[12] = static_cast<BYTE>(p.width);
    out[13] = static_cast<BYTE>(p.width >> 8);
    out[14] = static_cast<BYTE>(p.height);
    out[15] = static_cast<BYTE>(p.height >> 8);
    out[16] = static_cast<BYTE>(bits);
    out[17] = static_cast<BYTE>((topDown ? 0x20 : 0) | (bits == 32 ? 8 : 0));
    std::vector<DWORD> order;
    for (int row = 0; row < p.height; ++row) {
        int y = topDown ? row : p.height - 1 - row;
        for (int x = 0; x < p.width; ++x)
            order.push_back(p.at(x, y));
    }
    auto put = [&](DWORD c) {
        out.push_back(static_cast<BYTE>(c));
        out.push_back(static_cast<BYTE>(c >> 8));
        out.push_back(static_cast<BYTE>(c >> 16));
        if (bits == 32)
            out.push_back(static_cast<BYTE>(c >> 24));
    };
    if (!rle) {
        for (DWORD c : order)
            put(c);
        return out;
    }
    // Runs of equal pixels (across rows) as run packets, the rest as raw packets.
    std::size_t i = 0;
    while (i < order.size()) {
        std::size_t run = 1;
        while (i + run < order.size() && run < 128 && order[i + run] == order[i])
            ++run;
        if (run > 1) {
            out.push_back(static_cast<BYTE>(0x80 | (run - 1)));
            put(order[i]);
            i += run;
        } else {
            out.push_back(0);
            put(order[i]);
            ++i;
        }
    }
    return out;
}

void pngWrite(png_structp png, png_bytep data, png_size_t length)
{
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void pngFlush(png_structp) {}

// colorType: PNG_COLOR_TYPE_RGBA, _RGB or _GRAY (grey from the blue byte).
Bytes png(const Picture& p, int colorType, int depth = 8)
{
    Bytes out;
    png_structp write = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(write);
    png_set_write_fn(write, &out, pngWrite, pngFlush);
    png_set_IHDR(write, info, static_cast<png_uint_32>(p.width), static_cast<png_uint_32>(p.height), depth, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(write, info);
    const int channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    const int sampleBytes = depth / 8;
    std::vector<BYTE> row(static_cast<std::size_t>(p.width) * channels * sampleBytes);
    for (int y = 0; y < p.height; ++y) {
        std::size_t at = 0;
        for (int x = 0; x < p.width; ++x) {
            DWORD c = p.at(x, y);
            BYTE samples[4] = {static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c),
                               static_cast<BYTE>(c >> 24)};
            if (channels == 1)
                samples[0] = static_cast<BYTE>(c);
            for (int s = 0; s < channels; ++s)
                for (int b = 0; b < sampleBytes; ++b)
                    row[at++] = samples[s];
        }
        png_write_row(write, row.data());
    }
    png_write_end(write, nullptr);
    png_destroy_write_struct(&write, &info);
    return out;
}

// A copy of a PNG whose header promises side x side pixels, with the
// header's CRC made right again so only the size is wrong.
Bytes pngOfSide(Bytes file, std::uint32_t side)
{
    const BYTE big[4] = {static_cast<BYTE>(side >> 24), static_cast<BYTE>(side >> 16), static_cast<BYTE>(side >> 8),
                         static_cast<BYTE>(side)};
    std::memcpy(file.data() + 16, big, 4);
    std::memcpy(file.data() + 20, big, 4);
    uLong crc = crc32(0, file.data() + 12, 17);
    const BYTE crcBytes[4] = {static_cast<BYTE>(crc >> 24), static_cast<BYTE>(crc >> 16), static_cast<BYTE>(crc >> 8),
                              static_cast<BYTE>(crc)};
    std::memcpy(file.data() + 29, crcBytes, 4);
    return file;
}

Bytes jpeg(const Picture& p, bool grey)
{
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(p.width);
    info.image_height = static_cast<JDIMENSION>(p.height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 98, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<BYTE> row(static_cast<std::size_t>(p.width) * 3);
    while (info.next_scanline < info.image_height) {
        int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < p.width; ++x) {
            DWORD c = p.at(x, y);
            if (grey) {
                row[x] = static_cast<BYTE>(c);
            } else {
                row[x * 3] = static_cast<BYTE>(c >> 16);
                row[x * 3 + 1] = static_cast<BYTE>(c >> 8);
                row[x * 3 + 2] = static_cast<BYTE>(c);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// A CMYK JPEG written by libjpeg: as YCCK or as plain CMYK, with or without
// the Adobe marker. samples holds four bytes per pixel, as stored.
Bytes jpegCmyk(int width, int height, const std::vector<BYTE>& samples, bool ycck, bool adobe)
{
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, ycck ? JCS_YCCK : JCS_CMYK);
    info.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_set_quality(&info, 98, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<BYTE*>(samples.data()) + static_cast<std::size_t>(info.next_scanline) * width * 4;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// A TGA header; the data follows.
Bytes tgaHeader(int type, int mapFirst, int mapLength, int mapBits, int width, int height, int bits, int descriptor)
{
    Bytes out(18, 0);
    out[1] = mapLength > 0 || type == 1 || type == 9 ? 1 : 0;
    out[2] = static_cast<BYTE>(type);
    out[3] = static_cast<BYTE>(mapFirst);
    out[4] = static_cast<BYTE>(mapFirst >> 8);
    out[5] = static_cast<BYTE>(mapLength);
    out[6] = static_cast<BYTE>(mapLength >> 8);
    out[7] = static_cast<BYTE>(mapBits);
    out[12] = static_cast<BYTE>(width);
    out[14] = static_cast<BYTE>(height);
    out[16] = static_cast<BYTE>(bits);
    out[17] = static_cast<BYTE>(descriptor);
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

DWORD rgb555(WORD word, bool alphaBit)
{
    auto five = [](DWORD v) { return (v << 3) | (v >> 2); };
    DWORD alpha = !alphaBit || (word & 0x8000) ? 0xFF : 0;
    return alpha << 24 | five(word >> 10 & 31) << 16 | five(word >> 5 & 31) << 8 | five(word & 31);
}

bool haveProgram(const char* name)
{
    return std::system(("command -v " + std::string(name) + " > /dev/null 2>&1").c_str()) == 0;
}

// ImageMagick itself, not a stand-in that may come first on the path.
constexpr const char* IMAGEMAGICK = "/usr/bin/convert";

Bytes readBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A binary PPM (8-bit), as djpeg and ImageMagick write it, as opaque pixels.
Picture readPpm(const std::string& path)
{
    Bytes bytes = readBytes(path);
    std::size_t at = 0;
    auto field = [&]() {
        while (at < bytes.size() && (std::isspace(bytes[at]) || bytes[at] == '#')) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
            else
                ++at;
        }
        std::string text;
        while (at < bytes.size() && !std::isspace(bytes[at]))
            text += static_cast<char>(bytes[at++]);
        return text;
    };
    Picture p{0, 0, {}};
    if (field() != "P6")
        return p;
    const int width = std::stoi(field());
    const int height = std::stoi(field());
    if (std::stoi(field()) != 255)
        return p;
    ++at; // the one whitespace byte before the samples
    if (bytes.size() - at < static_cast<std::size_t>(width) * height * 3)
        return p;
    p.width = width;
    p.height = height;
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i, at += 3)
        p.pixels.push_back(0xFF000000u | static_cast<DWORD>(bytes[at]) << 16 | static_cast<DWORD>(bytes[at + 1]) << 8 |
                           bytes[at + 2]);
    return p;
}

Bytes ppm(const Picture& p)
{
    std::string header = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    Bytes out(header.begin(), header.end());
    for (DWORD c : p.pixels) {
        out.push_back(static_cast<BYTE>(c >> 16));
        out.push_back(static_cast<BYTE>(c >> 8));
        out.push_back(static_cast<BYTE>(c));
    }
    return out;
}

class TextureFileTest : public DglTest {
protected:
    void SetUp() override
    {
        DglTest::SetUp();
        folder = fs::temp_directory_path() / ("texture_file_test_" + std::to_string(getpid()));
        fs::create_directories(folder);
        init();
        markScratchMemory();
        blocksBefore = memoryBlockCount();
    }

    void TearDown() override
    {
        freeScratchMemory();
        EXPECT_EQ(memoryBlockCount(), blocksBefore);
        fs::remove_all(folder);
        DglTest::TearDown();
    }

    std::string write(const std::string& name, const Bytes& bytes)
    {
        fs::path path = folder / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    Picture decode(const std::string& path)
    {
        DecodedImage image{};
        EXPECT_TRUE(decodeImageFile(path.c_str(), &image)) << path;
        Picture p{image.width, image.height, {}};
        if (image.pixels != nullptr)
            p.pixels.assign(image.pixels, image.pixels + static_cast<std::size_t>(image.width) * image.height);
        return p;
    }

    HRESULT load(const std::string& path, UINT width, UINT height, D3DFORMAT format, IDirect3DTexture8** texture)
    {
        return D3DXCreateTextureFromFileExA(dglDevice(), path.c_str(), width, height, 1, 0, format, D3DPOOL_MANAGED,
                                            D3DX_FILTER_TRIANGLE, 0, 0, nullptr, nullptr, texture);
    }

    fs::path folder;
    int blocksBefore = 0;
};

void expectSame(const Picture& actual, const Picture& expected, int tolerance = 0)
{
    ASSERT_EQ(actual.width, expected.width);
    ASSERT_EQ(actual.height, expected.height);
    int worst = 0;
    for (std::size_t i = 0; i < expected.pixels.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8) {
            int a = static_cast<int>(actual.pixels[i] >> shift & 0xFF);
            int e = static_cast<int>(expected.pixels[i] >> shift & 0xFF);
            worst = std::max(worst, std::abs(a - e));
        }
    EXPECT_LE(worst, tolerance);
}

Picture opaque(Picture p)
{
    for (DWORD& c : p.pixels)
        c |= 0xFF000000u;
    return p;
}

Picture greyFromBlue(Picture p)
{
    for (DWORD& c : p.pixels)
        c = 0xFF000000u | (c & 0xFF) * 0x010101u;
    return p;
}

// The tent scaler written plainly: a whole horizontal pass into floats, then
// a whole vertical pass. The loader's scaler must give the same bits.
std::vector<DWORD> referenceTent(const Picture& source, int width, int height)
{
    auto taps = [](int i, int outSize, int inSize, std::vector<float>& weights) {
        const double scale = static_cast<double>(inSize) / outSize;
        const double radius = scale > 1.0 ? scale : 1.0;
        const double centre = (i + 0.5) * scale - 0.5;
        int first = static_cast<int>(std::floor(centre - radius)) + 1;
        int last = static_cast<int>(std::ceil(centre + radius)) - 1;
        const int room = 2 * static_cast<int>(std::ceil(static_cast<double>(inSize) / outSize)) + 3;
        if (last - first + 1 > room)
            last = first + room - 1;
        weights.assign(static_cast<std::size_t>(last - first + 1), 0.0f);
        double total = 0.0;
        for (int s = first; s <= last; ++s) {
            double w = 1.0 - std::fabs(s - centre) / radius;
            weights[s - first] = static_cast<float>(w > 0.0 ? w : 0.0);
            total += weights[s - first];
        }
        for (float& w : weights)
            w = static_cast<float>(w / total);
        return first;
    };
    auto clamp = [](int i, int size) { return i < 0 ? 0 : (i >= size ? size - 1 : i); };
    auto toByte = [](float v) {
        float r = v + 0.5f;
        return static_cast<DWORD>(r <= 0.0f ? 0 : (r >= 255.0f ? 255 : static_cast<int>(r)));
    };
    std::vector<float> middle(static_cast<std::size_t>(width) * source.height * 4);
    std::vector<float> w;
    for (int x = 0; x < width; ++x) {
        int first = taps(x, width, source.width, w);
        for (int y = 0; y < source.height; ++y) {
            float sum[4] = {0, 0, 0, 0};
            for (std::size_t t = 0; t < w.size(); ++t) {
                DWORD p = source.at(clamp(first + static_cast<int>(t), source.width), y);
                for (int c = 0; c < 4; ++c)
                    sum[c] += w[t] * static_cast<float>((p >> (8 * c)) & 0xFF);
            }
            for (int c = 0; c < 4; ++c)
                middle[(static_cast<std::size_t>(y) * width + x) * 4 + c] = sum[c];
        }
    }
    std::vector<DWORD> out(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        int first = taps(y, height, source.height, w);
        for (int x = 0; x < width; ++x) {
            float sum[4] = {0, 0, 0, 0};
            for (std::size_t t = 0; t < w.size(); ++t) {
                const float* in = &middle[(static_cast<std::size_t>(clamp(first + static_cast<int>(t), source.height)) * width + x) * 4];
                for (int c = 0; c < 4; ++c)
                    sum[c] += w[t] * in[c];
            }
            out[static_cast<std::size_t>(y) * width + x] =
                toByte(sum[3]) << 24 | toByte(sum[2]) << 16 | toByte(sum[1]) << 8 | toByte(sum[0]);
        }
    }
    return out;
}

} // namespace

TEST_F(TextureFileTest, TgaInEveryLayoutDecodesExactly)
{
    Picture p = pattern(37, 21);
    expectSame(decode(write("a.tga", tga(p, 32, false, false))), p);
    expectSame(decode(write("b.tga", tga(p, 32, false, true))), p);
    expectSame(decode(write("c.tga", tga(p, 24, false, false))), opaque(p));
    expectSame(decode(write("d.tga", tga(p, 24, true, true))), opaque(p));
    Picture runs = solid(300, 3, 0x80112233);
    runs.pixels[5] = 0xFF000000;
    expectSame(decode(write("e.tga", tga(runs, 32, true, false))), runs);
}

TEST_F(TextureFileTest, PngOfEveryKindDecodesExactly)
{
    Picture p = pattern(33, 17);
    expectSame(decode(write("a.png", png(p, PNG_COLOR_TYPE_RGBA))), p);
    expectSame(decode(write("b.png", png(p, PNG_COLOR_TYPE_RGB))), opaque(p));
    expectSame(decode(write("c.png", png(p, PNG_COLOR_TYPE_GRAY))), greyFromBlue(p));
    expectSame(decode(write("d.png", png(p, PNG_COLOR_TYPE_RGBA, 16))), p);
}

TEST_F(TextureFileTest, JpegDecodesCloseToTheOriginal)
{
    Picture smooth{32, 16, {}};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            smooth.pixels.push_back(0xFF000000u | static_cast<DWORD>(x * 8) << 16 | static_cast<DWORD>(y * 16) << 8 | 0x40);
    expectSame(decode(write("a.jpg", jpeg(smooth, false))), smooth, 8);
    expectSame(decode(write("b.jpeg", jpeg(smooth, true))), greyFromBlue(smooth), 3);
}

TEST_F(TextureFileTest, TextureHasTheRequestedSizeAndFormat)
{
    std::string path = write("photo.png", png(solid(40, 30, 0xFF336699), PNG_COLOR_TYPE_RGB));
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(load(path, 512, 128, D3DFMT_A8R8G8B8, &texture), S_OK);
    RecordingTextureInfo info{};
    ASSERT_TRUE(recordingTextureInfo(texture, &info));
    EXPECT_EQ(info.width, 512u);
    EXPECT_EQ(info.height, 128u);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.pool, D3DPOOL_MANAGED);
    const DWORD* texels = reinterpret_cast<const DWORD*>(info.texels);
    EXPECT_EQ(texels[0], 0xFF336699u);
    EXPECT_EQ(texels[127 * 512 + 511], 0xFF336699u);
    EXPECT_EQ(recordingLogLines("CreateTexture(").front(), "CreateTexture(512, 128, 1, 0, 21, 1) -> texture1");
    EXPECT_EQ(recordingLogLines("texture1.UnlockRect").size(), 1u);
    texture->Release();

    std::string colours = write("rgb.tga", tga(Picture{3, 1, {0xFFFFFFFF, 0xFFFF0000, 0xFF0000FF}}, 24, false, false));
    ASSERT_EQ(load(colours, 3, 1, D3DFMT_R5G6B5, &texture), S_OK);
    ASSERT_TRUE(recordingTextureInfo(texture, &info));
    const WORD* words = reinterpret_cast<const WORD*>(info.texels);
    EXPECT_EQ(words[0], 0xFFFF);
    EXPECT_EQ(words[1], 0xF800);
    EXPECT_EQ(words[2], 0x001F);
    texture->Release();
}

TEST_F(TextureFileTest, SizesAboveTheDeviceLimitAreClamped)
{
    textureFileSetMaxSize(256, 128);
    std::string path = write("big.tga", tga(pattern(8, 8), 32, false, false));
    IDirect3DTexture8* texture = nullptr;
    EXPECT_EQ(load(path, 1024, 64, D3DFMT_A8R8G8B8, &texture), S_OK);
    RecordingTextureInfo info{};
    ASSERT_TRUE(recordingTextureInfo(texture, &info));
    EXPECT_EQ(info.width, 256u);
    EXPECT_EQ(info.height, 64u);
    texture->Release();
    textureFileSetMaxSize(2048, 2048);
}

TEST_F(TextureFileTest, TentScalingInterpolatesAndAverages)
{
    DWORD twoPixels[2] = {0xFF000000, 0xFFFFFFFF};
    DWORD out[4];
    scaleImageTent(DecodedImage{2, 1, twoPixels}, 4, 1, out);
    EXPECT_EQ(out[0] & 0xFF, 0u);
    EXPECT_EQ(out[1] & 0xFF, 64u);
    EXPECT_EQ(out[2] & 0xFF, 191u);
    EXPECT_EQ(out[3] & 0xFF, 255u);
    EXPECT_EQ(out[2] >> 24, 255u);

    // A checkerboard shrunk to a quarter is an even grey.
    std::vector<DWORD> board(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            board[y * 64 + x] = ((x + y) & 1) ? 0xFFFFFFFF : 0xFF000000;
    std::vector<DWORD> small(16 * 16);
    scaleImageTent(DecodedImage{64, 64, board.data()}, 16, 16, small.data());
    for (DWORD c : small) {
        EXPECT_NEAR(static_cast<int>(c & 0xFF), 128, 16);
        EXPECT_EQ(c >> 24, 255u);
    }
    // Same size is a copy.
    std::vector<DWORD> same(64 * 64);
    scaleImageTent(DecodedImage{64, 64, board.data()}, 64, 64, same.data());
    EXPECT_EQ(same, board);
    // A long row to one pixel: the weighted mean stays inside the range.
    std::vector<DWORD> ramp(1000);
    for (int i = 0; i < 1000; ++i)
        ramp[i] = 0xFF000000u | static_cast<DWORD>(i * 255 / 999);
    DWORD one;
    scaleImageTent(DecodedImage{1000, 1, ramp.data()}, 1, 1, &one);
    EXPECT_NEAR(static_cast<int>(one & 0xFF), 128, 2);
}

TEST_F(TextureFileTest, TentScalingMatchesTheTwoPassFilterToTheBit)
{
    // Shrinking a little (the data set's 5152 to 4096), a lot, enlarging, one
    // axis kept, and a shrink wider than the ring's fixed room.
    const int sizes[][4] = {{161, 16, 128, 16}, {64, 64, 16, 16},  {7, 5, 20, 13},
                            {100, 300, 33, 17}, {40, 9, 40, 30},   {300, 200, 4, 2}};
    for (const auto& size : sizes) {
        Picture source = pattern(size[0], size[1]);
        std::vector<DWORD> scaled(static_cast<std::size_t>(size[2]) * size[3]);
        scaleImageTent(DecodedImage{size[0], size[1], source.pixels.data()}, size[2], size[3], scaled.data());
        EXPECT_EQ(scaled, referenceTent(source, size[2], size[3])) << size[0] << "x" << size[1];
    }
    // Loaded into a 32-bit texture the scaled picture is written straight
    // into the texture: the same bits.
    Picture wide = pattern(161, 16);
    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(load(write("wide.tga", tga(wide, 32, false, false)), 128, 16, D3DFMT_A8R8G8B8, &texture), S_OK);
    RecordingTextureInfo info{};
    ASSERT_TRUE(recordingTextureInfo(texture, &info));
    const DWORD* texels = reinterpret_cast<const DWORD*>(info.texels);
    EXPECT_EQ(std::vector<DWORD>(texels, texels + 128 * 16), referenceTent(wide, 128, 16));
    texture->Release();
}

TEST_F(TextureFileTest, PathsResolveIgnoringCase)
{
    write("Mixed.TGA", tga(pattern(4, 4), 24, false, false));
    IDirect3DTexture8* texture = nullptr;
    EXPECT_EQ(load((folder / "mixed.tga").string(), 4, 4, D3DFMT_A8R8G8B8, &texture), S_OK);
    ASSERT_NE(texture, nullptr);
    texture->Release();
}

TEST_F(TextureFileTest, BadFilesFailWithoutATexture)
{
    Picture p = pattern(64, 48);
    Bytes goodJpeg = jpeg(p, false);
    Bytes goodPng = png(p, PNG_COLOR_TYPE_RGBA);
    Bytes goodTga = tga(p, 32, false, false);
    Bytes goodRle = tga(p, 32, true, true);

    std::vector<std::pair<std::string, Bytes>> bad;
    bad.push_back({"empty.png", {}});
    bad.push_back({"noise.bin", Bytes(5000, 0x5A)});
    bad.push_back({"cut.jpg", Bytes(goodJpeg.begin(), goodJpeg.begin() + goodJpeg.size() / 2)});
    bad.push_back({"header.jpg", Bytes(goodJpeg.begin(), goodJpeg.begin() + 40)});
    Bytes garbledJpeg = goodJpeg;
    for (std::size_t i = 2; i < 200 && i < garbledJpeg.size(); ++i)
        garbledJpeg[i] = static_cast<BYTE>(i * 7);
    bad.push_back({"garbled.jpg", garbledJpeg});
    bad.push_back({"cut.png", Bytes(goodPng.begin(), goodPng.begin() + goodPng.size() * 2 / 3)});
    bad.push_back({"sig.png", Bytes(goodPng.begin(), goodPng.begin() + 8)});
    Bytes badCrc = goodPng;
    badCrc[20] ^= 0x01; // inside IHDR, its CRC no longer matches
    bad.push_back({"crc.png", badCrc});
    // A valid IHDR (with its CRC) promising an absurd size.
    Bytes huge = pngOfSide(goodPng, 0x100000);
    bad.push_back({"huge.png", huge});
    bad.push_back({"cut.tga", Bytes(goodTga.begin(), goodTga.end() - 1)});
    bad.push_back({"cutrle.tga", Bytes(goodRle.begin(), goodRle.end() - 3)});
    bad.push_back({"header.tga", Bytes(goodTga.begin(), goodTga.begin() + 10)});
    Bytes hugeTga = goodTga;
    hugeTga[12] = hugeTga[13] = hugeTga[14] = hugeTga[15] = 0xFF;
    bad.push_back({"huge.tga", hugeTga});
    Bytes zeroTga = goodTga;
    zeroTga[12] = zeroTga[13] = 0;
    bad.push_back({"zero.tga", zeroTga});
    Bytes mappedTga = goodTga;
    mappedTga[2] = 1; // colour-mapped pictures are not read
    bad.push_back({"mapped.tga", mappedTga});
    Bytes bitsTga = goodTga;
    bitsTga[16] = 12;
    bad.push_back({"bits.tga", bitsTga});
    Bytes greyTga = goodTga;
    greyTga[2] = 3; // grey is 8 or 16 bit
    bad.push_back({"grey32.tga", greyTga});
    // Colour-mapped: indices 4..7 name the four entries of the map.
    const Bytes map = {0, 0, 255, 0, 255, 0, 255, 0, 0, 9, 9, 9};
    const Bytes goodMapped = tgaHeader(1, 4, 4, 24, 4, 1, 8, 0x20) + map + Bytes{4, 5, 6, 7};
    bad.push_back({"nomap.tga", tgaHeader(1, 4, 0, 24, 4, 1, 8, 0x20) + Bytes{4, 5, 6, 7}});
    bad.push_back({"index.tga", tgaHeader(1, 4, 4, 24, 4, 1, 8, 0x20) + map + Bytes{4, 5, 6, 8}});
    bad.push_back({"below.tga", tgaHeader(1, 4, 4, 24, 4, 1, 8, 0x20) + map + Bytes{3, 5, 6, 7}});
    bad.push_back({"shortmap.tga", Bytes(goodMapped.begin(), goodMapped.begin() + 25)});
    bad.push_back({"mapbits.tga", tgaHeader(1, 4, 4, 8, 4, 1, 8, 0x20) + Bytes{1, 2, 3, 4} + Bytes{4, 5, 6, 7}});
    bad.push_back({"indexbits.tga", tgaHeader(1, 4, 4, 24, 4, 1, 24, 0x20) + map + Bytes(12, 4)});
    Bytes unmapped = goodMapped;
    unmapped[1] = 0; // a colour-mapped type without its map
    bad.push_back({"unmapped.tga", unmapped});
    bad.push_back({"runindex.tga", tgaHeader(9, 4, 4, 24, 4, 1, 8, 0x20) + map + Bytes{0x83, 9}});
    bad.push_back({"cutmapped.tga", tgaHeader(9, 4, 4, 24, 4, 1, 8, 0x20) + map + Bytes{0x81, 4, 0x01, 5}});
    // The map length times its entry size is all the data there is: no room for the picture.
    bad.push_back({"longmap.tga", tgaHeader(1, 0, 0xFFFF, 32, 4, 1, 8, 0x20) + Bytes(4 * 0xFFFF, 7)});
    Bytes idTga = goodTga;
    idTga[0] = 255; // an ID field longer than what follows
    bad.push_back({"id.tga", Bytes(idTga.begin(), idTga.begin() + 100)});

    for (const auto& [name, bytes] : bad) {
        std::string path = write(name, bytes);
        IDirect3DTexture8* texture = reinterpret_cast<IDirect3DTexture8*>(&path);
        EXPECT_TRUE(FAILED(load(path, 64, 64, D3DFMT_A8R8G8B8, &texture))) << name;
        EXPECT_EQ(texture, nullptr) << name;
    }
    IDirect3DTexture8* texture = nullptr;
    EXPECT_TRUE(FAILED(load((folder / "missing.png").string(), 64, 64, D3DFMT_A8R8G8B8, &texture)));
    EXPECT_TRUE(FAILED(load(folder.string(), 64, 64, D3DFMT_A8R8G8B8, &texture))); // a folder
    EXPECT_EQ(recordingCallCount("CreateTexture"), 0);
}

TEST_F(TextureFileTest, RendererLoadsIntoItsPoolAndNamesFailures)
{
    std::string path = write("panel.jpg", jpeg(pattern(50, 20), false));
    IDirect3DTexture8* texture = dglCreateTextureFromFile(path.c_str(), 512, 128, D3DFMT_R5G6B5, true);
    EXPECT_EQ(dglTextureCount(), 1);
    EXPECT_EQ(recordingLogLines("CreateTexture(").front(), "CreateTexture(512, 128, 1, 0, 23, 0) -> texture1");
    // A texture from a file never becomes a render target.
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(texture)));
    EXPECT_FATAL(dglSetRenderTarget(texture, nullptr),
                 "Supplied texture (0x" + std::string(hex) + ") can not be used as render target.");

    recordingInstall();
    init();
    std::string missing = (folder / "missing.png").string();
    EXPECT_FATAL(dglCreateTextureFromFile(missing.c_str(), 64, 32, D3DFMT_A8R8G8B8, false),
                 "Can not create a 64*32 32-bit ARGB texture from file: " + missing + ".");
    recordingInstall();
    init();
    EXPECT_FATAL(dglCreateTextureFromFile(missing.c_str(), 64, 32, D3DFMT_R5G6B5, false),
                 "Can not create a 64*32 16-bit RGB texture from file: " + missing + ".");
    // fatalExit freed every memory block; start the bracket again for TearDown.
    markScratchMemory();
    blocksBefore = memoryBlockCount();
}

TEST_F(TextureFileTest, MutatedFilesDecodeOrFailWithoutHarm)
{
    Picture p = pattern(24, 16);
    const Bytes originals[] = {jpeg(p, false), png(p, PNG_COLOR_TYPE_RGBA), tga(p, 32, true, false),
                               tga(p, 24, false, true)};
    std::uint32_t state = 12345;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    // Damage in pixel data alone may still decode; what matters is that
    // nothing crashes or reads outside the data (run under the sanitizers).
    for (const Bytes& original : originals) {
        for (int round = 0; round < 250; ++round) {
            Bytes bytes = original;
            int edits = 1 + static_cast<int>(next() % 6);
            for (int e = 0; e < edits; ++e)
                bytes[next() % bytes.size()] = static_cast<BYTE>(next());
            if (round % 5 == 0)
                bytes.resize(next() % bytes.size());
            DecodedImage image{};
            if (decodeImageMemory(bytes.data(), bytes.size(), &image)) {
                ASSERT_GT(image.width, 0);
                ASSERT_GT(image.height, 0);
                ASSERT_NE(image.pixels, nullptr);
            }
            freeScratchMemory();
            markScratchMemory();
        }
    }
}

// Every picture of the generated data set decodes (the data set is built
// before the tests; without it there is nothing to check).
TEST_F(TextureFileTest, EveryPictureOfTheDataSetDecodes)
{
    const fs::path data = fs::path(GFXCORE_SHOW_DIR) / "data";
    if (!fs::exists(data))
        GTEST_SKIP() << "no data set at " << data;
    int pictures = 0;
    for (const auto& entry : fs::recursive_directory_iterator(data)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension != ".jpg" && extension != ".jpeg" && extension != ".png" && extension != ".tga")
            continue;
        DecodedImage image{};
        EXPECT_TRUE(decodeImageFile(entry.path().c_str(), &image)) << entry.path();
        ++pictures;
        freeScratchMemory();
        markScratchMemory();
    }
    EXPECT_GT(pictures, 0);
}

TEST_F(TextureFileTest, SixteenBitGreyAlphaAndMappedTgasDecodeExactly)
{
    const WORD words[4] = {0x7FFF, 0x8000 | 0x7C00, 0x03E0, 0x801F};
    Bytes packed;
    for (WORD w : words)
        packed.insert(packed.end(), {static_cast<BYTE>(w), static_cast<BYTE>(w >> 8)});
    auto row = [&](bool alphaBit) {
        Picture p{4, 1, {}};
        for (WORD w : words)
            p.pixels.push_back(rgb555(w, alphaBit));
        return p;
    };
    // The top bit is alpha only when the descriptor counts an alpha bit.
    expectSame(decode(write("rgb16.tga", tgaHeader(2, 0, 0, 0, 4, 1, 16, 0x20) + packed)), row(false));
    expectSame(decode(write("argb16.tga", tgaHeader(2, 0, 0, 0, 4, 1, 16, 0x21) + packed)), row(true));
    expectSame(decode(write("rgb15.tga", tgaHeader(2, 0, 0, 0, 4, 1, 15, 0x21) + packed)), row(false));
    // Run-length: a run of the first word, then three raw words.
    const Bytes runs = Bytes{0x81, packed[0], packed[1], 0x01} + Bytes(packed.begin() + 2, packed.begin() + 6);
    Picture runRow{4, 1, {rgb555(words[0], true), rgb555(words[0], true), rgb555(words[1], true), rgb555(words[2], true)}};
    expectSame(decode(write("rle16.tga", tgaHeader(10, 0, 0, 0, 4, 1, 16, 0x21) + runs)), runRow);

    // Grey and alpha, two bytes a pixel, bottom-up.
    const Bytes greyAlpha = {10, 255, 20, 0, 30, 128, 40, 1};
    Picture grey{2, 2, {0x801E1E1E, 0x01282828, 0xFF0A0A0A, 0x00141414}};
    expectSame(decode(write("ga.tga", tgaHeader(3, 0, 0, 0, 2, 2, 16, 0x08) + greyAlpha)), grey);
    expectSame(decode(write("garle.tga", tgaHeader(11, 0, 0, 0, 2, 2, 16, 0x08) + Bytes{0x03} + greyAlpha)), grey);

    // 8-bit indices from 10 into a 32-bit map; a 16-bit map with RLE indices.
    const Bytes map32 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    Picture mapped{3, 2, {0x0C0B0A09, 0x04030201, 0x08070605, 0x08070605, 0x04030201, 0x0C0B0A09}};
    expectSame(decode(write("map32.tga", tgaHeader(1, 10, 3, 32, 3, 2, 8, 0x28) + map32 + Bytes{12, 10, 11, 11, 10, 12})),
               mapped);
    const DWORD red = rgb555(words[1], true), clearWhite = rgb555(words[0], true);
    expectSame(decode(write("map16.tga", tgaHeader(9, 0, 2, 16, 3, 2, 8, 0x21) + Bytes(packed.begin(), packed.begin() + 4) +
                                             Bytes{0x82, 1, 0x82, 0})),
               Picture{3, 2, {red, red, red, clearWhite, clearWhite, clearWhite}});

    // A 32-bit picture keeps its fourth byte as alpha even when the
    // descriptor counts no alpha bits.
    Picture p = pattern(5, 3);
    Bytes noAlphaBits = tga(p, 32, false, true);
    noAlphaBits[17] = 0x20;
    expectSame(decode(write("zeroalpha.tga", noAlphaBits)), p);
}

TEST_F(TextureFileTest, ColourMappedTgasFromAnImageEditorDecodeExactly)
{
    if (access(IMAGEMAGICK, X_OK) != 0)
        GTEST_SKIP() << "ImageMagick is not installed at " << IMAGEMAGICK;
    // Eight colours in blocks: the palette holds every one exactly.
    const DWORD colours[8] = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00,
                              0xFF0000FF, 0xFF123456, 0xFFFEDCBA, 0xFF808080};
    Picture p{45, 31, {}};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.pixels.push_back(colours[(x / 6 + y / 5 * 3) % 8]);
    const std::string source = write("blocks.png", png(p, PNG_COLOR_TYPE_RGB));
    struct Made {
        const char* name;
        const char* options;
        int type;
    };
    // Without an orientation ImageMagick 6 marks the rows bottom-up but
    // writes them top row first; with one it marks them top-down.
    for (const Made& made : {Made{"palette.tga", "-orient TopLeft -type Palette", 1},
                             Made{"rle.tga", "-orient TopLeft -type Palette -compress RLE", 9}}) {
        const std::string path = (folder / made.name).string();
        const std::string command = std::string(IMAGEMAGICK) + " " + source + " " + made.options + " " + path;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const Bytes bytes = readBytes(path);
        ASSERT_GT(bytes.size(), 18u);
        EXPECT_EQ(bytes[2], made.type) << made.name;
        EXPECT_EQ(bytes[16], 8) << made.name;
        expectSame(decode(path), p);
    }
}

// Damage that libjpeg decodes through with a warning loads as the reference
// decoder (djpeg, same library) shows it; data that ends while rows of the
// picture are still to come is refused. Baseline, progressive,
// restart-marker and arithmetic-coded files from cjpeg.
TEST_F(TextureFileTest, JpegWarningsLoadAsTheReferenceShowsThemAndCutFilesFail)
{
    if (!haveProgram("cjpeg") || !haveProgram("djpeg"))
        GTEST_SKIP() << "cjpeg / djpeg (package libjpeg-turbo-progs) are not installed";
    Picture source = opaque(pattern(96, 80));
    const std::string ppmPath = write("source.ppm", ppm(source));
    for (const char* options : {"", "-progressive", "-restart 1", "-arithmetic"}) {
        const bool arithmetic = std::string(options) == "-arithmetic";
        const std::string basePath = (folder / "base.jpg").string();
        ASSERT_EQ(std::system(("cjpeg -quality 90 " + std::string(options) + " " + ppmPath + " > " + basePath).c_str()), 0);
        const Bytes base = readBytes(basePath);
        ASSERT_GT(base.size(), 200u);
        ASSERT_EQ(base[base.size() - 2], 0xFF);
        ASSERT_EQ(base[base.size() - 1], 0xD9);

        struct Damaged {
            const char* name;
            Bytes bytes;
            const char* warning; // what djpeg says about it, if anything
        };
        std::vector<Damaged> intact;
        // Stray bytes between the first segment and the next marker.
        const std::size_t afterApp0 = 4 + (static_cast<std::size_t>(base[4]) << 8 | base[5]);
        Bytes extraneous = base;
        extraneous.insert(extraneous.begin() + static_cast<std::ptrdiff_t>(afterApp0), {0x12, 0x34, 0x56});
        intact.push_back({"extraneous.jpg", extraneous, "extraneous bytes before marker"});
        // The last data segment a few bytes short of what the last blocks need.
        Bytes shortSegment(base.begin(), base.end() - 5);
        shortSegment.insert(shortSegment.end(), {0xFF, 0xD9});
        // (The arithmetic decoder pads a short segment without a word.)
        intact.push_back({"short.jpg", shortSegment, arithmetic ? nullptr : "premature end of data segment"});
        // Successive-approximation bits in a sequential scan header, which
        // a sequential decoder has no use for.
        if (std::string(options) != "-progressive") {
            std::size_t scanHeader = 2;
            while (scanHeader + 3 < base.size() && !(base[scanHeader] == 0xFF && base[scanHeader + 1] == 0xDA))
                ++scanHeader;
            Bytes oddScan = base;
            oddScan[scanHeader + 1 + (static_cast<std::size_t>(base[scanHeader + 2]) << 8 | base[scanHeader + 3])] = 0x01;
            intact.push_back({"sequential.jpg", oddScan, "Invalid SOS parameters for sequential JPEG"});
        }
        // Every row there, only the end-of-image marker missing.
        intact.push_back({"noend.jpg", Bytes(base.begin(), base.end() - 2), "Premature end of JPEG file"});

        for (const Damaged& file : intact) {
            const std::string path = write(file.name, file.bytes);
            const std::string reference = path + ".ppm";
            const std::string warnings = path + ".txt";
            // djpeg exits with 2 after a warning.
            const int status = std::system(("djpeg -ppm " + path + " > " + reference + " 2> " + warnings).c_str());
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 2) << file.name;
            const Bytes said = readBytes(warnings);
            if (file.warning != nullptr) {
                EXPECT_NE(std::string(said.begin(), said.end()).find(file.warning), std::string::npos)
                    << options << " " << file.name << ": " << std::string(said.begin(), said.end());
            }
            expectSame(decode(path), readPpm(reference));
        }

        // Coded data scrambled behind the first scan header: bad codes.
        std::size_t scan = 2;
        while (scan + 3 < base.size() && !(base[scan] == 0xFF && base[scan + 1] == 0xDA))
            ++scan;
        Bytes scrambled = base;
        std::uint32_t state = 99;
        for (std::size_t i = scan + 14; i < scrambled.size(); ++i) {
            state = state * 1103515245u + 12345u;
            scrambled[i] ^= static_cast<BYTE>(state >> 16);
        }
        DecodedImage garbage{};
        EXPECT_FALSE(decodeImageMemory(scrambled.data(), scrambled.size(), &garbage)) << options << " scrambled";

        for (std::size_t keep : {base.size() / 2, base.size() * 3 / 4, base.size() / 3}) {
            DecodedImage image{};
            EXPECT_FALSE(decodeImageMemory(base.data(), keep, &image)) << options << " cut to " << keep;
            // Closed again with an end marker, a cut looks like a short last
            // segment; in a sequential file the rows after it are missing.
            // (A progressive file's scan may end in its last row: that one
            // is whole; the arithmetic decoder pads at a marker without a word,
            // as djpeg shows.)
            if (std::string(options) == "-progressive" || arithmetic)
                continue;
            Bytes closed(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(keep));
            closed.insert(closed.end(), {0xFF, 0xD9});
            EXPECT_FALSE(decodeImageMemory(closed.data(), closed.size(), &image))
                << options << " cut to " << keep << " and closed";
        }
    }
}

// CMYK as an image editor writes it (YCCK with the Adobe marker, inverted
// samples) matches the editor's own RGB; libjpeg-written CMYK and YCCK,
// with and without the marker, match the arithmetic.
TEST_F(TextureFileTest, CmykAndYcckJpegsBecomeRgb)
{
    Picture smooth{48, 32, {}};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            smooth.pixels.push_back(0xFF000000u | static_cast<DWORD>(x * 5) << 16 | static_cast<DWORD>(y * 8) << 8 |
                                    static_cast<DWORD>(200 - x * 2));
    std::vector<BYTE> samples;
    for (DWORD c : smooth.pixels) {
        const int k = 255 - static_cast<int>(c >> 8 & 0xFF) / 4;
        samples.insert(samples.end(), {static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c),
                                       static_cast<BYTE>(k)});
    }
    // Stored inverted (Adobe): what is left of each colour times what is left of black.
    auto expected = [&](bool inverted) {
        Picture p{48, 32, {}};
        for (std::size_t i = 0; i < samples.size(); i += 4) {
            DWORD channel[4];
            for (int c = 0; c < 4; ++c)
                channel[c] = inverted ? samples[i + c] : 255 - samples[i + c];
            auto mix = [&](int c) { return (channel[c] * channel[3] + 127) / 255; };
            p.pixels.push_back(0xFF000000u | mix(0) << 16 | mix(1) << 8 | mix(2));
        }
        return p;
    };
    expectSame(decode(write("cmyk.jpg", jpegCmyk(48, 32, samples, false, true))), expected(true), 4);
    expectSame(decode(write("ycck.jpg", jpegCmyk(48, 32, samples, true, true))), expected(true), 5);
    expectSame(decode(write("plain.jpg", jpegCmyk(48, 32, samples, false, false))), expected(false), 4);

    if (access(IMAGEMAGICK, X_OK) != 0 || !haveProgram("identify"))
        GTEST_SKIP() << "ImageMagick is not installed at " << IMAGEMAGICK;
    const std::string source = write("smooth.png", png(smooth, PNG_COLOR_TYPE_RGB));
    const std::string cmyk = (folder / "editor.jpg").string();
    ASSERT_EQ(std::system((std::string(IMAGEMAGICK) + " " + source + " -colorspace CMYK " + cmyk).c_str()), 0);
    const std::string kind = (folder / "kind.txt").string();
    ASSERT_EQ(std::system(("identify -format %[colorspace] " + cmyk + " > " + kind).c_str()), 0);
    const Bytes said = readBytes(kind);
    ASSERT_EQ(std::string(said.begin(), said.end()), "CMYK");
    const std::string reference = (folder / "editor.ppm").string();
    ASSERT_EQ(std::system((std::string(IMAGEMAGICK) + " " + cmyk + " -colorspace sRGB -depth 8 " + reference).c_str()), 0);
    Picture ours = decode(cmyk);
    expectSame(ours, readPpm(reference), 2);
    expectSame(ours, smooth, 12);
}

// A picture above 32 Mi pixels is decoded at a reduced scale that still
// covers the wanted size, then tent-filtered to it; one above 256 Mi pixels
// is refused with the loader's message.
TEST_F(TextureFileTest, HugeJpegsLoadReducedAndAbsurdOnesFail)
{
    if (!haveProgram("cjpeg"))
        GTEST_SKIP() << "cjpeg (package libjpeg-turbo-progs) is not installed";
    // 8000 x 6000 in four flat quadrants: compresses to little and tells
    // where each part of the picture went.
    const int width = 8000, height = 6000;
    const std::string path = (folder / "camera.jpg").string();
    FILE* encoder = popen(("cjpeg -quality 85 > " + path).c_str(), "w");
    ASSERT_NE(encoder, nullptr);
    std::fprintf(encoder, "P6\n%d %d\n255\n", width, height);
    std::vector<BYTE> rowBytes(static_cast<std::size_t>(width) * 3);
    const BYTE quadrant[4][3] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {220, 220, 220}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            std::memcpy(&rowBytes[static_cast<std::size_t>(x) * 3], quadrant[(y >= height / 2) * 2 + (x >= width / 2)], 3);
        ASSERT_EQ(std::fwrite(rowBytes.data(), 1, rowBytes.size(), encoder), rowBytes.size());
    }
    ASSERT_EQ(pclose(encoder), 0);

    // Wanted at 512 x 384: an eighth (1000 x 750) still covers it.
    DecodedImage image{};
    ASSERT_TRUE(decodeImageFile(path.c_str(), &image, 512, 384));
    EXPECT_EQ(image.width, 1000);
    EXPECT_EQ(image.height, 750);
    freeScratchMemory();
    markScratchMemory();
    // Wanted at the largest texture (2048): three eighths.
    ASSERT_TRUE(decodeImageFile(path.c_str(), &image));
    EXPECT_EQ(image.width, 3000);
    EXPECT_EQ(image.height, 2250);
    freeScratchMemory();
    markScratchMemory();

    IDirect3DTexture8* texture = nullptr;
    ASSERT_EQ(load(path, 512, 384, D3DFMT_A8R8G8B8, &texture), S_OK);
    RecordingTextureInfo info{};
    ASSERT_TRUE(recordingTextureInfo(texture, &info));
    ASSERT_EQ(info.width, 512u);
    ASSERT_EQ(info.height, 384u);
    const DWORD* texels = reinterpret_cast<const DWORD*>(info.texels);
    const int probes[4][2] = {{100, 80}, {400, 80}, {100, 300}, {400, 300}};
    for (int q = 0; q < 4; ++q) {
        const DWORD c = texels[probes[q][1] * 512 + probes[q][0]];
        EXPECT_NEAR(static_cast<int>(c >> 16 & 0xFF), quadrant[q][0], 3) << q;
        EXPECT_NEAR(static_cast<int>(c >> 8 & 0xFF), quadrant[q][1], 3) << q;
        EXPECT_NEAR(static_cast<int>(c & 0xFF), quadrant[q][2], 3) << q;
    }
    texture->Release();

    // The same file claiming 20000 x 20000 (400 M pixels) is refused before
    // anything is decoded.
    Bytes absurd = readBytes(path);
    std::size_t frame = 2;
    while (frame + 9 < absurd.size() && !(absurd[frame] == 0xFF && absurd[frame + 1] == 0xC0))
        frame += 2 + (static_cast<std::size_t>(absurd[frame + 2]) << 8 | absurd[frame + 3]);
    ASSERT_LT(frame + 9, absurd.size());
    const BYTE side[2] = {0x4E, 0x20}; // 20000
    std::memcpy(&absurd[frame + 5], side, 2);
    std::memcpy(&absurd[frame + 7], side, 2);
    const std::string absurdPath = write("absurd.jpg", absurd);
    EXPECT_FALSE(decodeImageFile(absurdPath.c_str(), &image, 512, 384));
    EXPECT_FATAL(dglCreateTextureFromFile(absurdPath.c_str(), 512, 384, D3DFMT_A8R8G8B8, false),
                 "Can not create a 512*384 32-bit ARGB texture from file: " + absurdPath + ".");
    markScratchMemory();
    blocksBefore = memoryBlockCount();
}

// A PNG above 32 Mi pixels is read row by row into block means toward the
// wanted size; one above 256 Mi pixels is refused from its header.
TEST_F(TextureFileTest, HugePngsLoadReducedAndAbsurdOnesFail)
{
    // Grey keeps the file quick to write; 8000 x 4200 is just above 32 Mi.
    const int width = 8000, height = 4200;
    const BYTE quadrant[4] = {200, 30, 90, 220};
    Bytes file;
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(writer);
    png_set_write_fn(writer, &file, pngWrite, pngFlush);
    png_set_compression_level(writer, 1);
    png_set_IHDR(writer, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, info);
    std::vector<BYTE> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            row[static_cast<std::size_t>(x)] = quadrant[(y >= height / 2) * 2 + (x >= width / 2)];
        png_write_row(writer, row.data());
    }
    png_write_end(writer, nullptr);
    png_destroy_write_struct(&writer, &info);
    const std::string path = write("poster.png", file);

    // Wanted at 512 x 256: blocks of 15 x 15 (as 4200 / 256 = 16 would not
    // cover the width), 534 x 280 of them.
    DecodedImage image{};
    ASSERT_TRUE(decodeImageFile(path.c_str(), &image, 512, 256));
    ASSERT_EQ(image.width, 534);
    ASSERT_EQ(image.height, 280);
    const int probes[4][2] = {{0, 0}, {533, 0}, {0, 279}, {533, 279}};
    for (int q = 0; q < 4; ++q)
        EXPECT_EQ(image.pixels[probes[q][1] * 534 + probes[q][0]], 0xFF000000u | quadrant[q] * 0x010101u) << q;
    // The block across the middle column holds 10 columns of the left
    // grey and 5 of the right one; the last row of blocks is 15 rows high
    // and the last column 5 wide: both are plain means.
    EXPECT_EQ(image.pixels[266] & 0xFF, (10u * 200 + 5 * 30 + 7) / 15);

    // 20000 x 20000 is refused.
    Bytes absurd = pngOfSide(file, 20000);
    EXPECT_FALSE(decodeImageMemory(absurd.data(), absurd.size(), &image, 512, 256));
}

// A run-length TGA above 32 Mi pixels, stored bottom-up and right to left,
// is read into block means with every row and column in its place; the
// bottom row of blocks, one row high, comes first in the file.
TEST_F(TextureFileTest, HugeTgasLoadReducedInTheirOrientation)
{
    const int width = 8000, height = 4201;
    const BYTE quadrant[4] = {200, 30, 90, 220};
    const BYTE bottomRow = 10;
    Bytes file = tgaHeader(11, 0, 0, 0, 0, 0, 8, 0x10);
    file[12] = static_cast<BYTE>(width);
    file[13] = static_cast<BYTE>(width >> 8);
    file[14] = static_cast<BYTE>(height);
    file[15] = static_cast<BYTE>(height >> 8);
    auto runs = [&](int count, BYTE value) {
        for (; count > 0; count -= 128) {
            file.push_back(static_cast<BYTE>(0x80 | (std::min(count, 128) - 1)));
            file.push_back(value);
        }
    };
    // File rows from the bottom of the picture, each from its right edge.
    for (int y = height - 1; y >= 0; --y) {
        const bool lower = y >= height / 2;
        runs(width / 2, y == height - 1 ? bottomRow : quadrant[lower ? 3 : 1]);
        runs(width / 2, y == height - 1 ? bottomRow : quadrant[lower ? 2 : 0]);
    }
    DecodedImage image{};
    ASSERT_TRUE(decodeImageFile(write("mural.tga", file).c_str(), &image, 512, 256));
    ASSERT_EQ(image.width, 534);
    ASSERT_EQ(image.height, 281);
    auto at = [&](int x, int y) { return image.pixels[static_cast<std::size_t>(y) * 534 + x]; };
    const int probes[4][2] = {{0, 0}, {533, 0}, {0, 279}, {533, 279}};
    for (int q = 0; q < 4; ++q)
        EXPECT_EQ(at(probes[q][0], probes[q][1]), 0xFF000000u | quadrant[q] * 0x010101u) << q;
    EXPECT_EQ(at(0, 280), 0xFF000000u | bottomRow * 0x010101u);
    EXPECT_EQ(at(533, 280), 0xFF000000u | bottomRow * 0x010101u);
    EXPECT_EQ(at(266, 0) & 0xFF, (10u * 200 + 5 * 30 + 7) / 15);

    // The same picture cut inside its last packet fails.
    file.resize(file.size() - 1);
    EXPECT_FALSE(decodeImageFile(write("cut.tga", file).c_str(), &image, 512, 256));
}
