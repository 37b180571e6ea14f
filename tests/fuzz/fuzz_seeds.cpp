// Writes small seed inputs that the data set has no room for: short clips in
// each codec layout the video reader handles (key frame every frame, sparse
// key frames, reordered B-frames) and a short MP3. The data set's own files
// are the other seeds (see run_fuzzers.sh).
// and small TGA pictures in each layout the decoder reads (the data set's
// TGAs are large). Usage: gfxcore-fuzz-seeds <folder>; writes
// <folder>/video_clip/, <folder>/mp3_stream/ and <folder>/texture_file/
// (texture inputs begin with the two bytes that choose size and format).
#include "tests/support/mp3.h"
#include "tests/support/test_clips.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>
#include <filesystem>
#include <string>

namespace {

// A 3 x 2 TGA of the image type, bits per pixel and descriptor, run-length
// encoded as one raw packet per row when the type asks for it. The
// colour-mapped types (1, 9) get a map of four 24-bit entries.
std::vector<std::uint8_t> smallTga(int type, int bits, int descriptor)
{
    const int width = 3;
    const int height = 2;
    const int bytes = (bits + 7) / 8;
    const bool mapped = type == 1 || type == 9;
    // No image id, origin 0, 0.
    std::vector<std::uint8_t> out = {0, mapped ? std::uint8_t{1} : std::uint8_t{0}, static_cast<std::uint8_t>(type),
                                     0, 0, mapped ? std::uint8_t{4} : std::uint8_t{0}, 0,
                                     mapped ? std::uint8_t{24} : std::uint8_t{0}, 0, 0, 0, 0,
                                     width, 0, height, 0, static_cast<std::uint8_t>(bits),
                                     static_cast<std::uint8_t>(descriptor)};
    for (int entry = 0; mapped && entry < 4 * 3; ++entry)
        out.push_back(static_cast<std::uint8_t>(60 * entry));
    for (int y = 0; y < height; ++y) {
        if (type >= 9)
            out.push_back(static_cast<std::uint8_t>(width - 1));
        for (int x = 0; x < width * bytes; ++x)
            out.push_back(static_cast<std::uint8_t>(mapped ? (x + y) % 4 : 40 * y + 7 * x));
    }
    return out;
}

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: gfxcore-fuzz-seeds <folder>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder / "video_clip");
    std::filesystem::create_directories(folder / "mp3_stream");
    std::filesystem::create_directories(folder / "texture_file");
    const int layouts[][3] = {{2, 24, 0x00}, {2, 32, 0x28}, {3, 8, 0x20},  {10, 24, 0x10}, {10, 32, 0x08},
                              {11, 8, 0x00}, {1, 8, 0x20},  {9, 8, 0x00},  {2, 16, 0x21},  {10, 15, 0x00},
                              {3, 16, 0x28}, {11, 16, 0x08}};
    int tga = 0;
    for (const auto& layout : layouts) {
        std::vector<std::uint8_t> input = {static_cast<std::uint8_t>(0x21 * tga), static_cast<std::uint8_t>(tga)};
        std::vector<std::uint8_t> picture = smallTga(layout[0], layout[1], layout[2]);
        input.insert(input.end(), picture.begin(), picture.end());
        if (!writeFile(folder / "texture_file" / ("seed" + std::to_string(tga) + ".tga"), input)) {
            std::fprintf(stderr, "gfxcore-fuzz-seeds: can not write a TGA seed\n");
            return 1;
        }
        ++tga;
    }
    const TestClip clips[] = {
        {TestCodec::Mjpeg, 16, 16, 3, 1, 25},
        {TestCodec::Mpeg4, 32, 16, 6, 3, 25},
        {TestCodec::Mpeg4BFrames, 16, 32, 6, 4, 10},
    };
    int written = 0;
    for (const TestClip& clip : clips) {
        std::string error;
        std::string path = (folder / "video_clip" / ("seed" + std::to_string(written) + ".avi")).string();
        if (!writeTestClip(path, clip, error)) {
            std::fprintf(stderr, "gfxcore-fuzz-seeds: %s\n", error.c_str());
            return 1;
        }
        ++written;
    }
    if (!writeTestMp3((folder / "mp3_stream" / "seed.mp3").string(), 0.3, 0.1)) {
        std::fprintf(stderr, "gfxcore-fuzz-seeds: can not write the MP3 seed\n");
        return 1;
    }
    return 0;
}
