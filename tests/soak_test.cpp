// Whole-show soak: the show from its first to its last frame.
// - Captured twice (the capture tool, 10 frames a second, every frame
//   saved), the two runs give the same frames byte for byte.
// - The real show, played in real time with its sound, keeps its resident
//   memory flat after loading (no more than 8 MB of growth) and ends
//   normally at the end of the show.
// Long (minutes): labelled "soak", not part of the CI run. The same show on
// a fixed-step clock inside one process (tables, memory) is
// show_tables_test, which CI runs.
// Depends on: the show, the capture tool and the data set in GFXCORE_SHOW_DIR.
#include "tests/show_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path showDir = GFXCORE_SHOW_DIR;

constexpr int SHOW_END_MS = 165000;
constexpr int CAPTURE_FPS = 10;

std::uint64_t fnv1a(const std::string& bytes)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// Frame file name -> hash of its bytes.
std::map<std::string, std::uint64_t> frameHashes(const fs::path& folder)
{
    std::map<std::string, std::uint64_t> hashes;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".png")
            hashes[entry.path().filename().string()] = fnv1a(showReadFile(entry.path()));
    return hashes;
}

ShowRunResult captureWholeShow(const fs::path& folder)
{
    ShowRunOptions options;
    options.program = (showDir / "gfxcore-capture").string();
    options.arguments = {"--fps", std::to_string(CAPTURE_FPS), "--out", (folder / "frames").string(), "--quiet"};
    options.folder = folder.string();
    options.environment = showHeadlessEnvironment(folder);
    options.timeLimitSeconds = 1800.0;
    return runShowProgram(options);
}

TEST(SoakTest, WholeShowCapturedTwiceGivesIdenticalFrames)
{
    const fs::path first = showMakeDataFolder("gfxcore-soak");
    const fs::path second = showMakeDataFolder("gfxcore-soak");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    for (const fs::path& folder : {first, second}) {
        const ShowRunResult run = captureWholeShow(folder);
        ASSERT_TRUE(run.exited) << "signal " << run.signal << "\n" << run.errorText;
        ASSERT_EQ(run.status, 0) << run.errorText;
        std::printf("capture of the whole show: %.1f s\n", run.seconds);
    }
    const auto a = frameHashes(first / "frames");
    const auto b = frameHashes(second / "frames");
    EXPECT_EQ(a.size(), static_cast<std::size_t>(SHOW_END_MS / 1000 * CAPTURE_FPS));
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    std::string firstDifference;
    for (const auto& [name, hash] : a) {
        auto other = b.find(name);
        if (other == b.end() || other->second != hash) {
            if (differing++ == 0)
                firstDifference = name;
        }
    }
    EXPECT_EQ(differing, 0) << "first differing frame: " << firstDifference;
    RecordProperty("frames", static_cast<int>(a.size()));
    std::error_code ignored;
    fs::remove_all(first, ignored);
    fs::remove_all(second, ignored);
}

// Scene windows of the show, in milliseconds of show time.
constexpr int SCENE_STARTS_MS[] = {0, 57112, 74314, 88010, 101778, 122370, 139570, 157050, SHOW_END_MS};

struct MemorySample {
    double showSeconds;
    long kilobytes;
};

// The real show in real time. Memory taken during loading is the show's;
// from the first frame of the show to its last, resident memory may not
// grow by more than 8 MB. The growth of each scene is printed: in its first
// second (new GL state compiled) and after it (a leak or a filling cache).
TEST(SoakTest, ResidentMemoryStaysFlatThroughTheRealShow)
{
    const fs::path folder = showMakeDataFolder("gfxcore-soak");
    ASSERT_FALSE(folder.empty());
    double showBegan = -1.0;
    double nextSample = 0.0;
    std::vector<MemorySample> samples;
    ShowRunOptions options;
    options.program = (showDir / "gfxcore").string();
    options.folder = folder.string();
    options.environment = showHeadlessEnvironment(folder);
    options.timeLimitSeconds = 240.0;
    options.onTick = [&](pid_t child, double seconds) {
        if (seconds < nextSample)
            return;
        nextSample = seconds + 0.25;
        if (showBegan < 0.0) {
            if (showReadFile(folder / "pimplog").find("let the show begin!") == std::string::npos)
                return;
            showBegan = seconds;
        }
        const long resident = showResidentKilobytes(child);
        // Stop before the show's own release at its end.
        if (resident > 0 && seconds - showBegan < SHOW_END_MS / 1000.0 - 0.5)
            samples.push_back({seconds - showBegan, resident});
    };
    const ShowRunResult run = runShowProgram(options);
    ASSERT_TRUE(run.exited) << "signal " << run.signal << "\n" << run.errorText;
    EXPECT_EQ(run.status, 0) << run.errorText;
    EXPECT_EQ(showErrorMessage(run.errorText), "");
    EXPECT_GE(run.seconds, 165.0) << "the show ended early";
    ASSERT_GT(samples.size(), 300u);

    const long baseline = samples.front().kilobytes;
    long peak = baseline;
    for (const MemorySample& sample : samples)
        peak = std::max(peak, sample.kilobytes);
    std::printf("resident memory: %ld kB when the show began, peak %ld kB, %ld kB at the end (growth %ld kB)\n",
                baseline, peak, samples.back().kilobytes, peak - baseline);
    for (int scene = 0; scene < 8; ++scene) {
        const double start = SCENE_STARTS_MS[scene] / 1000.0;
        const double end = SCENE_STARTS_MS[scene + 1] / 1000.0;
        long before = -1;
        long settled = -1;
        long highest = -1;
        for (const MemorySample& sample : samples) {
            if (sample.showSeconds < start)
                before = sample.kilobytes;
            if (sample.showSeconds >= start + 1.0 && sample.showSeconds < end - 0.3) {
                if (settled < 0)
                    settled = sample.kilobytes;
                highest = std::max(highest, sample.kilobytes);
            }
        }
        if (settled < 0)
            continue;
        std::printf("scene %d: %+ld kB in its first second, %+ld kB after it\n", scene + 1,
                    before < 0 ? 0 : settled - before, highest - settled);
    }
    RecordProperty("rss_show_start_kb", static_cast<int>(baseline));
    RecordProperty("rss_peak_kb", static_cast<int>(peak));
    // 5 MB of margin, and the up to 3 MB of freed batch memory that the
    // allocator keeps at the top of its heap for the next frame.
    EXPECT_LE(peak - baseline, 8 * 1024L) << "resident memory grew during the show";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

} // namespace
