// Picture toolkit of the data-set generator; see image.h.
// Depends on libjpeg, libpng, FreeType and the DejaVu fonts.
#include "tools/data/image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include <ft2build.h>
#include FT_FREETYPE_H

float clamp01(float value) { return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value); }

float smoothstep(float edge0, float edge1, float x)
{
    const float t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0f - 2.0f * t);
}

std::uint32_t Rng::next()
{
    // xorshift32: never reaches 0 from a non-zero start
    if (state == 0) {
        state = 0x9E3779B9u;
    }
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

float Rng::uniform() { return static_cast<float>(next() >> 8) / 16777216.0f; }

float Rng::range(float low, float high) { return low + (high - low) * uniform(); }

int Rng::below(int count) { return count <= 0 ? 0 : static_cast<int>(next() % static_cast<std::uint32_t>(count)); }

float hash01(int x, int y, std::uint32_t seed)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8DA6B343u ^ static_cast<std::uint32_t>(y) * 0xD8163841u ^
                      seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return static_cast<float>(h >> 8) / 16777216.0f;
}

float valueNoise(float x, float y, std::uint32_t seed)
{
    const float fx = std::floor(x);
    const float fy = std::floor(y);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    float tx = x - fx;
    float ty = y - fy;
    tx = tx * tx * (3.0f - 2.0f * tx);
    ty = ty * ty * (3.0f - 2.0f * ty);
    const float a = hash01(ix, iy, seed);
    const float b = hash01(ix + 1, iy, seed);
    const float c = hash01(ix, iy + 1, seed);
    const float d = hash01(ix + 1, iy + 1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

float fbm(float x, float y, int octaves, std::uint32_t seed)
{
    float sum = 0.0f;
    float amplitude = 0.5f;
    float total = 0.0f;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, seed + static_cast<std::uint32_t>(i) * 101u);
        total += amplitude;
        // a rotation between octaves hides the lattice
        const float nx = x * 1.6f - y * 1.2f;
        const float ny = x * 1.2f + y * 1.6f;
        x = nx + 17.3f;
        y = ny + 5.1f;
        amplitude *= 0.5f;
    }
    return sum / total;
}

Image::Image(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 4, 0.0f) {}

void Image::set(int x, int y, Rgb colour, float alpha)
{
    float* p = at(x, y);
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
    p[3] = alpha;
}

void Image::fill(Rgb colour, float alpha)
{
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            set(x, y, colour, alpha);
        }
    }
}

void Image::blend(int x, int y, Rgb colour, float coverage)
{
    if (x < 0 || y < 0 || x >= width || y >= height || coverage <= 0.0f) {
        return;
    }
    coverage = clamp01(coverage);
    float* p = at(x, y);
    const float outAlpha = coverage + p[3] * (1.0f - coverage);
    if (outAlpha <= 0.0f) {
        return;
    }
    const float keep = p[3] * (1.0f - coverage);
    p[0] = (colour.r * coverage + p[0] * keep) / outAlpha;
    p[1] = (colour.g * coverage + p[1] * keep) / outAlpha;
    p[2] = (colour.b * coverage + p[2] * keep) / outAlpha;
    p[3] = outAlpha;
}

void Image::addLight(int x, int y, Rgb colour, float amount)
{
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return;
    }
    float* p = at(x, y);
    p[0] += colour.r * amount;
    p[1] += colour.g * amount;
    p[2] += colour.b * amount;
}

namespace {

void boxBlurPass(const std::vector<float>& in, std::vector<float>& out, int width, int height, int radius,
                 bool horizontal)
{
    const int length = horizontal ? width : height;
    const int lines = horizontal ? height : width;
    const float norm = 1.0f / static_cast<float>(2 * radius + 1);
    for (int line = 0; line < lines; ++line) {
        auto index = [&](int i) {
            i = std::clamp(i, 0, length - 1);
            return horizontal ? static_cast<std::size_t>(line) * width + i : static_cast<std::size_t>(i) * width + line;
        };
        float sum = 0.0f;
        for (int i = -radius; i <= radius; ++i) {
            sum += in[index(i)];
        }
        for (int i = 0; i < length; ++i) {
            out[index(i)] = sum * norm;
            sum += in[index(i + radius + 1)] - in[index(i - radius)];
        }
    }
}

} // namespace

Mask blurMask(const Mask& mask, int radius)
{
    Mask result = mask;
    if (radius <= 0) {
        return result;
    }
    std::vector<float> scratch(result.values.size());
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurPass(result.values, scratch, mask.width, mask.height, radius, true);
        boxBlurPass(scratch, result.values, mask.width, mask.height, radius, false);
    }
    return result;
}

Mask dilateMask(const Mask& mask, int radius)
{
    Mask rows(mask.width, mask.height);
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < mask.width; ++x) {
            float best = 0.0f;
            for (int d = -radius; d <= radius; ++d) {
                best = std::max(best, mask.get(x + d, y));
            }
            rows.ref(x, y) = best;
        }
    }
    Mask result(mask.width, mask.height);
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < mask.width; ++x) {
            float best = 0.0f;
            for (int d = -radius; d <= radius; ++d) {
                best = std::max(best, rows.get(x, y + d));
            }
            result.ref(x, y) = best;
        }
    }
    return result;
}

void paintMask(Image& image, const Mask& mask, Rgb colour, float alpha, int offsetX, int offsetY)
{
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float coverage = mask.get(x - offsetX, y - offsetY) * alpha;
            if (coverage > 0.0f) {
                image.blend(x, y, colour, coverage);
            }
        }
    }
}

void addMask(Image& image, const Mask& mask, Rgb colour, float amount)
{
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float m = mask.get(x, y);
            if (m > 0.0f) {
                image.addLight(x, y, colour, m * amount);
            }
        }
    }
}

namespace {

constexpr int SUPER = 4;

template <typename Inside>
void maskShape(Mask& mask, float left, float top, float right, float bottom, float value, Inside inside)
{
    const int x0 = std::max(0, static_cast<int>(std::floor(left)));
    const int y0 = std::max(0, static_cast<int>(std::floor(top)));
    const int x1 = std::min(mask.width - 1, static_cast<int>(std::ceil(right)));
    const int y1 = std::min(mask.height - 1, static_cast<int>(std::ceil(bottom)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < SUPER; ++sy) {
                for (int sx = 0; sx < SUPER; ++sx) {
                    const float px = x + (sx + 0.5f) / SUPER;
                    const float py = y + (sy + 0.5f) / SUPER;
                    hits += inside(px, py) ? 1 : 0;
                }
            }
            if (hits > 0) {
                float& m = mask.ref(x, y);
                m = std::max(m, value * static_cast<float>(hits) / (SUPER * SUPER));
            }
        }
    }
}

} // namespace

void maskCircle(Mask& mask, float cx, float cy, float radius, float value)
{
    maskShape(mask, cx - radius, cy - radius, cx + radius, cy + radius, value, [&](float x, float y) {
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
    });
}

void maskRect(Mask& mask, float left, float top, float right, float bottom, float value)
{
    maskShape(mask, left, top, right, bottom, value,
              [&](float x, float y) { return x >= left && x < right && y >= top && y < bottom; });
}

void maskPolygon(Mask& mask, const float* xy, int pointCount, float value)
{
    float left = xy[0], right = xy[0], top = xy[1], bottom = xy[1];
    for (int i = 1; i < pointCount; ++i) {
        left = std::min(left, xy[2 * i]);
        right = std::max(right, xy[2 * i]);
        top = std::min(top, xy[2 * i + 1]);
        bottom = std::max(bottom, xy[2 * i + 1]);
    }
    maskShape(mask, left, top, right, bottom, value, [&](float x, float y) {
        // even-odd rule
        bool inside = false;
        for (int i = 0, j = pointCount - 1; i < pointCount; j = i++) {
            const float xi = xy[2 * i], yi = xy[2 * i + 1], xj = xy[2 * j], yj = xy[2 * j + 1];
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) {
                inside = !inside;
            }
        }
        return inside;
    });
}

// ---------------------------------------------------------------- text

namespace {

const char* const fontFiles[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",     "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",    "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf",
};
constexpr int FONT_COUNT = 6;

FT_Library fontLibrary = nullptr;
FT_Face fontFaces[FONT_COUNT] = {};

FT_Face face(Font font)
{
    return fontFaces[static_cast<int>(font)];
}

// Calls glyph(bitmap, left, top) for every character, pen starting at x.
template <typename Visit>
int layoutText(Font font, int pixelSize, const std::string& text, int x, Visit visit)
{
    FT_Face f = face(font);
    if (f == nullptr) {
        return 0;
    }
    FT_Set_Pixel_Sizes(f, 0, static_cast<FT_UInt>(pixelSize));
    long pen = static_cast<long>(x) * 64;
    FT_UInt previous = 0;
    for (unsigned char c : text) {
        const FT_UInt glyphIndex = FT_Get_Char_Index(f, c);
        if (previous != 0 && glyphIndex != 0 && FT_HAS_KERNING(f)) {
            FT_Vector kerning;
            FT_Get_Kerning(f, previous, glyphIndex, FT_KERNING_DEFAULT, &kerning);
            pen += kerning.x;
        }
        if (FT_Load_Glyph(f, glyphIndex, FT_LOAD_RENDER) != 0) {
            continue;
        }
        const FT_GlyphSlot slot = f->glyph;
        visit(slot->bitmap, static_cast<int>(pen >> 6) + slot->bitmap_left, slot->bitmap_top);
        pen += slot->advance.x;
        previous = glyphIndex;
    }
    return static_cast<int>((pen + 63) >> 6) - x;
}

} // namespace

bool textAvailable(std::string& error)
{
    if (fontLibrary == nullptr && FT_Init_FreeType(&fontLibrary) != 0) {
        error = "FreeType can not start";
        return false;
    }
    for (int i = 0; i < FONT_COUNT; ++i) {
        if (fontFaces[i] == nullptr && FT_New_Face(fontLibrary, fontFiles[i], 0, &fontFaces[i]) != 0) {
            fontFaces[i] = nullptr;
            error = std::string("font missing: ") + fontFiles[i] + " (package fonts-dejavu-core)";
            return false;
        }
    }
    return true;
}

int textWidth(Font font, int pixelSize, const std::string& text)
{
    return layoutText(font, pixelSize, text, 0, [](const FT_Bitmap&, int, int) {});
}

void maskText(Mask& mask, Font font, int pixelSize, const std::string& text, int x, int baseline)
{
    layoutText(font, pixelSize, text, x, [&](const FT_Bitmap& bitmap, int left, int top) {
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            for (unsigned column = 0; column < bitmap.width; ++column) {
                const int px = left + static_cast<int>(column);
                const int py = baseline - top + static_cast<int>(row);
                if (px < 0 || py < 0 || px >= mask.width || py >= mask.height) {
                    continue;
                }
                const float value = bitmap.buffer[row * bitmap.pitch + column] / 255.0f;
                float& m = mask.ref(px, py);
                m = std::max(m, value);
            }
        }
    });
}

void maskTextCentred(Mask& mask, Font font, int pixelSize, const std::string& text, int cx, int baseline)
{
    maskText(mask, font, pixelSize, text, cx - textWidth(font, pixelSize, text) / 2, baseline);
}

// ---------------------------------------------------------------- resize

Image resizeImage(const Image& source, int width, int height)
{
    Image result(width, height);
    const float sx = static_cast<float>(source.width) / width;
    const float sy = static_cast<float>(source.height) / height;
    for (int y = 0; y < height; ++y) {
        const int y0 = static_cast<int>(y * sy);
        const int y1 = std::max(y0 + 1, static_cast<int>((y + 1) * sy));
        for (int x = 0; x < width; ++x) {
            const int x0 = static_cast<int>(x * sx);
            const int x1 = std::max(x0 + 1, static_cast<int>((x + 1) * sx));
            float sum[4] = {0, 0, 0, 0};
            int count = 0;
            for (int yy = y0; yy < y1 && yy < source.height; ++yy) {
                for (int xx = x0; xx < x1 && xx < source.width; ++xx) {
                    const float* p = source.at(xx, yy);
                    for (int c = 0; c < 4; ++c) {
                        sum[c] += p[c];
                    }
                    ++count;
                }
            }
            float* out = result.at(x, y);
            for (int c = 0; c < 4; ++c) {
                out[c] = count > 0 ? sum[c] / static_cast<float>(count) : 0.0f;
            }
        }
    }
    return result;
}

// ---------------------------------------------------------------- writers

namespace {

std::uint8_t toByte(float value) { return static_cast<std::uint8_t>(std::lround(clamp01(value) * 255.0f)); }

void rgbRows(const Image& image, std::vector<std::uint8_t>& rows)
{
    rows.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float* p = image.at(x, y);
            std::uint8_t* out = &rows[(static_cast<std::size_t>(y) * image.width + x) * 3];
            out[0] = toByte(p[0]);
            out[1] = toByte(p[1]);
            out[2] = toByte(p[2]);
        }
    }
}

} // namespace

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "can not create " + path;
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !ok) {
        error = "can not write " + path;
        return false;
    }
    return true;
}

bool encodeJpeg(const Image& image, int quality, std::vector<std::uint8_t>& bytes, std::string& error)
{
    std::vector<std::uint8_t> rows;
    rgbRows(image, rows);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rows[static_cast<std::size_t>(info.next_scanline) * image.width * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    if (buffer == nullptr || size == 0) {
        error = "JPEG encoding failed";
        std::free(buffer);
        return false;
    }
    bytes.assign(buffer, buffer + size);
    std::free(buffer);
    return true;
}

bool writeJpeg(const std::string& path, const Image& image, int quality, std::string& error)
{
    std::vector<std::uint8_t> bytes;
    return encodeJpeg(image, quality, bytes, error) && writeBytes(path, bytes, error);
}

namespace {

void pngWrite(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void pngFlush(png_structp) {}

} // namespace

namespace {

// libpng reports failures by longjmp, so this frame holds no C++ object that
// the jump could leave half-made.
bool encodePng(png_structp png, png_infop info, int width, int height, bool alpha, const std::uint8_t* pixels,
               std::vector<std::uint8_t>* bytes)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    const int channels = alpha ? 4 : 3;
    png_set_write_fn(png, bytes, pngWrite, pngFlush);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, const_cast<png_bytep>(pixels + static_cast<std::size_t>(y) * width * channels));
    }
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool writePng(const std::string& path, const Image& image, bool alpha, std::string& error)
{
    const int channels = alpha ? 4 : 3;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(image.width) * image.height * channels);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const float* p = image.at(x, y);
            std::uint8_t* out = &pixels[(static_cast<std::size_t>(y) * image.width + x) * channels];
            for (int c = 0; c < channels; ++c) {
                out[c] = toByte(p[c]);
            }
        }
    }
    std::vector<std::uint8_t> bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        error = "libpng can not start";
        return false;
    }
    const bool encoded = encodePng(png, info, image.width, image.height, alpha, pixels.data(), &bytes);
    png_destroy_write_struct(&png, &info);
    if (!encoded) {
        error = "PNG encoding failed for " + path;
        return false;
    }
    return writeBytes(path, bytes, error);
}

bool writeTga(const std::string& path, const Image& image, std::string& error)
{
    // Uncompressed true colour, 32 bits, rows bottom-up, 8 alpha bits.
    std::vector<std::uint8_t> bytes(18 + static_cast<std::size_t>(image.width) * image.height * 4);
    bytes[2] = 2;
    bytes[12] = static_cast<std::uint8_t>(image.width & 255);
    bytes[13] = static_cast<std::uint8_t>(image.width >> 8);
    bytes[14] = static_cast<std::uint8_t>(image.height & 255);
    bytes[15] = static_cast<std::uint8_t>(image.height >> 8);
    bytes[16] = 32;
    bytes[17] = 8;
    std::size_t offset = 18;
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const float* p = image.at(x, y);
            bytes[offset++] = toByte(p[2]);
            bytes[offset++] = toByte(p[1]);
            bytes[offset++] = toByte(p[0]);
            bytes[offset++] = toByte(p[3]);
        }
    }
    return writeBytes(path, bytes, error);
}
