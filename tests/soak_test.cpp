// Whole-show soak: the show from its first to its last frame.
// - Captured twice (the capture tool, 10 frames a second, every frame
//   saved), the two runs give the same frames byte for byte.
// - The real show, played in real time with its sound, keeps its resident
//   memory flat after loading (no more than 5 MB of growth) and ends
//   normally at the end of the show.
// - In this process, on the same fixed-step clock: the file table, the
//   memory table, the renderer's pools and the clip registry stay within
//   their limits and do not grow at all once loading is done.
// Long (minutes): labelled "soak", not part of the CI run.
// Depends on: the show, the capture tool and the data set in
// GFXCORE_SHOW_DIR; kernel (shell, loader), resources, dgl, platform.
#include "dgl/dgl.h"
#include "kernel/loader.h"
#include "kernel/messages.h"
#include "kernel/shell.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "resources/avi.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "tests/show_process.h"
#include "tests/support/fatal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <malloc.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path showDir = GFXCORE_SHOW_DIR;

constexpr int SHOW_END_MS = 165000;
constexpr int CAPTURE_FPS = 10;

fs::path makeShowFolder()
{
    fs::path folder = showMakeTempFolder("gfxcore-soak");
    if (!folder.empty())
        fs::create_directory_symlink(showDir / "data", folder / "data");
    return folder;
}

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
    const fs::path first = makeShowFolder();
    const fs::path second = makeShowFolder();
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

long residentKilobytes(pid_t process)
{
    std::string status = showReadFile("/proc/" + std::to_string(process) + "/status");
    std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

// Scene windows of the show, in milliseconds of show time.
constexpr int SCENE_STARTS_MS[] = {0, 57112, 74314, 88010, 101778, 122370, 139570, 157050, SHOW_END_MS};

struct MemorySample {
    double showSeconds;
    long kilobytes;
};

// The real show in real time. Memory taken during loading is the show's;
// from the first frame of the show to its last, resident memory may not
// grow by more than 5 MB. The growth of each scene is printed: in its first
// second (new GL state compiled) and after it (a leak or a filling cache).
TEST(SoakTest, ResidentMemoryStaysFlatThroughTheRealShow)
{
    const fs::path folder = makeShowFolder();
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
        const long resident = residentKilobytes(child);
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
    EXPECT_LE(peak - baseline, 5 * 1024L) << "resident memory grew during the show";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// What the fixed tables hold.
struct TableCounts {
    int files = 0;
    int memoryBlocks = 0;
    int textures = 0;
    int vertexBuffers = 0;
    int indexBuffers = 0;
    int depthBuffers = 0;
    int clips = 0;
    bool operator==(const TableCounts&) const = default;
};

TableCounts tableCounts()
{
    return TableCounts{openFileCount(),         memoryBlockCount(),    dglTextureCount(), dglVertexBufferCount(),
                       dglIndexBufferCount(),   dglDepthBufferCount(), aviStreamCount()};
}

TableCounts largest(const TableCounts& a, const TableCounts& b)
{
    return TableCounts{std::max(a.files, b.files),
                       std::max(a.memoryBlocks, b.memoryBlocks),
                       std::max(a.textures, b.textures),
                       std::max(a.vertexBuffers, b.vertexBuffers),
                       std::max(a.indexBuffers, b.indexBuffers),
                       std::max(a.depthBuffers, b.depthBuffers),
                       std::max(a.clips, b.clips)};
}

DWORD virtualClockMs = 0;
DWORD virtualClock() { return virtualClockMs; }

TEST(SoakTest, TablesStayWithinTheirLimitsAndDoNotGrowDuringTheShow)
{
    const fs::path folder = makeShowFolder();
    ASSERT_FALSE(folder.empty());
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    platformSetAudioSilent(true);
    platformSetClock(virtualClock);

    DisplaySettings settings = getDisplaySettings();
    settings.fullscreen = false;
    TableCounts afterLoad;
    TableCounts peak;
    int frames = 0;
    std::string ending = "<the show did not end>";
    try {
        createShellWindow(settings);
        loadAndPrecalc(mainWindow);
        virtualClockMs = 0;
        startShow(settings);
        afterLoad = tableCounts();
        peak = afterLoad;
        long resident = residentKilobytes(getpid());
        for (;;) {
            virtualClockMs = static_cast<DWORD>(frames * (1000 / CAPTURE_FPS));
            runMainLoopTurn();
            ++frames;
            peak = largest(peak, tableCounts());
            const long now = residentKilobytes(getpid());
            if (now - resident > 512) {
                struct mallinfo2 heap = mallinfo2();
                std::printf("frame at %d ms: resident +%ld kB (heap %zu kB, in use %zu kB, mapped %zu kB)\n",
                            static_cast<int>(virtualClockMs), now - resident, heap.arena / 1024, heap.uordblks / 1024,
                            heap.hblkhd / 1024);
            }
            resident = now;
        }
    } catch (const FatalExitError& end) {
        ending = end.hasMessage ? end.what() : "";
    }
    fs::current_path(previous);
    platformSetClock(nullptr);

    EXPECT_EQ(ending, "") << "the show must end normally";
    EXPECT_EQ(frames, SHOW_END_MS / 1000 * CAPTURE_FPS);
    EXPECT_EQ(peak, afterLoad) << "a table grew during the show";
    EXPECT_LE(peak.files, 100);
    EXPECT_LE(peak.memoryBlocks, 1024);
    EXPECT_LE(peak.textures, 100);
    EXPECT_LE(peak.vertexBuffers, 100);
    EXPECT_LE(peak.indexBuffers, 100);
    EXPECT_LE(peak.depthBuffers, 100);
    EXPECT_LE(peak.clips, 9);
    std::printf("tables after loading: %d files, %d memory blocks, %d textures, %d vertex buffers, %d index "
                "buffers, %d depth buffers, %d clips\n",
                afterLoad.files, afterLoad.memoryBlocks, afterLoad.textures, afterLoad.vertexBuffers,
                afterLoad.indexBuffers, afterLoad.depthBuffers, afterLoad.clips);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

} // namespace
