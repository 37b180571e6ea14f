// Replays the inputs that fuzzing found (tests/fuzz/regressions/<target>/*)
// and a few hand-made hostile ones through the same fuzz targets, in the
// normal build and under the sanitizers: each must end without a crash, and
// leave the file, memory and clip tables empty (every run ends through
// fatalExit, which releases them).
// Depends on: tests/fuzz/fuzz_targets.{h,cpp}, resources (counts).
#include "dgl/dgl.h"
#include "resources/avi.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "tests/fuzz/fuzz_targets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const char* const TARGETS[] = {"model3ds", "texture_file", "video_clip", "mp3_stream"};

Bytes readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void expectTablesEmpty(const std::string& what)
{
    EXPECT_EQ(openFileCount(), 0) << what;
    EXPECT_EQ(memoryBlockCount(), 0) << what;
    EXPECT_EQ(aviStreamCount(), 0) << what;
    EXPECT_EQ(dglDevice(), nullptr) << what;
}

void replay(const char* target, const Bytes& input, const std::string& what)
{
    FuzzTarget run = fuzzTargetNamed(target);
    ASSERT_NE(run, nullptr) << target;
    EXPECT_EQ(run(input.data(), input.size()), 0) << what;
    expectTablesEmpty(what);
}

TEST(FuzzRegressionTest, EveryKeptInputEndsCleanly)
{
    const fs::path root = fs::path(GFXCORE_SOURCE_DIR) / "tests" / "fuzz" / "regressions";
    int replayed = 0;
    for (const char* target : TARGETS) {
        const fs::path folder = root / target;
        if (!fs::is_directory(folder))
            continue;
        std::vector<fs::path> inputs;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
        for (const fs::path& input : inputs) {
            replay(target, readBytes(input), input.string());
            ++replayed;
        }
    }
    RecordProperty("replayed", replayed);
}

// Inputs every target must shrug off: nothing, one byte, a wrong kind of file.
TEST(FuzzRegressionTest, EmptyAndForeignInputsEndCleanly)
{
    const Bytes inputs[] = {
        {},
        {0x00},
        {0xFF, 0xD8, 0xFF},                                     // a JPEG that stops after its marker
        {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},          // a PNG signature alone
        {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 'A', 'V', 'I', ' '}, // an AVI that claims 2 GB
        {0x4D, 0x4D, 0x06, 0x00, 0x00, 0x00},                   // a 3DS main chunk holding nothing
        {0xFF, 0xFB, 0x90, 0x64, 0x00},                         // an MP3 frame header alone
    };
    for (const char* target : TARGETS)
        for (const Bytes& input : inputs)
            replay(target, input, std::string(target) + " with " + std::to_string(input.size()) + " bytes");
}

// The show's own files, whole, through each target of their kind: the
// targets exercise the loaders and not only their failure paths.
TEST(FuzzRegressionTest, DataSetFilesLoadThroughTheirTargets)
{
    const fs::path data = fs::path(GFXCORE_SHOW_DIR) / "data";
    const std::pair<const char*, const char*> files[] = {
        {"model3ds", "cube.3ds"}, {"texture_file", "money.jpg"}, {"texture_file", "levend10.png"},
        {"texture_file", "star03.tga"}, {"video_clip", "knot.avi"}, {"mp3_stream", "Music.mp3"},
    };
    for (const auto& [target, name] : files) {
        Bytes input = readBytes(data / name);
        ASSERT_FALSE(input.empty()) << name;
        if (std::string(target) == "texture_file")
            input.insert(input.begin(), {0x33, 0x00}); // 52 x 52, A8R8G8B8
        replay(target, input, name);
    }
}

} // namespace
