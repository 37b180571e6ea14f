// The capture tool: its frame schedule and options, and whole runs of the
// real program (same times give the same pictures, a late start gives the
// frames of a whole run, finer rendering matches, a short video holds the
// right frames and sound, the progress screens are saved, the logs land in
// the output folder and never over a show's own).
#include "tools/capture/capture.h"

#include "imaging/png_writer.h"
#include "platform/video_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

bool parse(std::vector<std::string> words, CaptureOptions& options, std::string& error)
{
    std::vector<char*> argv{const_cast<char*>("gfxcore-capture")};
    for (std::string& word : words)
        argv.push_back(word.data());
    return parseCaptureOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

fs::path scratchDir(const std::string& name)
{
    fs::path dir = fs::temp_directory_path() / ("gfxcore-capture-test-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs the capture tool in the working folder `from` (the test's own when
// empty) with TMPDIR set to `temporary` when given.
int runCapture(const std::string& arguments, const fs::path& from = {}, const fs::path& temporary = {})
{
    std::string command = "SDL_VIDEODRIVER=offscreen ";
    if (!temporary.empty())
        command += "TMPDIR=" + temporary.string() + " ";
    command += GFXCORE_SHOW_DIR "/gfxcore-capture --quiet " + arguments + " > /dev/null 2>&1";
    if (!from.empty())
        command = "cd " + from.string() + " && " + command;
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::size_t entriesIn(const fs::path& folder)
{
    std::size_t count = 0;
    for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it)
        ++count;
    return count;
}

} // namespace

TEST(CaptureSchedule, FrameTimesRoundToTheNearestMillisecond)
{
    EXPECT_EQ(captureFrameTime(0, 60), 0);
    EXPECT_EQ(captureFrameTime(1, 60), 17);
    EXPECT_EQ(captureFrameTime(2, 60), 33);
    EXPECT_EQ(captureFrameTime(3, 60), 50);
    EXPECT_EQ(captureFrameTime(60, 60), 1000);
    EXPECT_EQ(captureFrameTime(9900, 60), 165000);
    EXPECT_EQ(captureFrameTime(1, 30), 33);
    EXPECT_EQ(captureFrameTime(2, 30), 67);
    // Times never drift: frame k of a long run is still k * 1000 / fps.
    EXPECT_EQ(captureFrameTime(9899, 60), 164983);
}

TEST(CaptureSchedule, FirstFrameAtOrAfterATime)
{
    EXPECT_EQ(captureFirstFrameAtOrAfter(0, 60), 0);
    EXPECT_EQ(captureFirstFrameAtOrAfter(1000, 60), 60);
    EXPECT_EQ(captureFirstFrameAtOrAfter(1001, 60), 61);
    EXPECT_EQ(captureFirstFrameAtOrAfter(17, 60), 1);
    EXPECT_EQ(captureFirstFrameAtOrAfter(18, 60), 2);
    for (int time = 0; time < 3000; time += 7) {
        std::int64_t frame = captureFirstFrameAtOrAfter(time, 60);
        EXPECT_GE(captureFrameTime(frame, 60), time);
        if (frame > 0) {
            EXPECT_LT(captureFrameTime(frame - 1, 60), time);
        }
    }
    EXPECT_EQ(captureFrameFileName(2200), "frame-002200.png");
}

TEST(CaptureOptionsParsing, AcceptsTheDocumentedOptionsAndRejectsTheRest)
{
    CaptureOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--fps", "30", "--from", "1000", "--to", "2000", "--at", "1200,1500", "--scale", "2",
                       "--out", "frames", "--video", "a.mp4", "--logs", "logs"},
                      options, error))
        << error;
    EXPECT_EQ(options.framesPerSecond, 30);
    EXPECT_EQ(options.fromMs, 1000);
    EXPECT_EQ(options.toMs, 2000);
    EXPECT_EQ(options.atMs, (std::vector<int>{1200, 1500}));
    EXPECT_EQ(options.scale, 2);
    EXPECT_EQ(options.outDir, "frames");
    EXPECT_EQ(options.videoPath, "a.mp4");
    EXPECT_EQ(options.logDir, "logs");

    EXPECT_TRUE(options.showFrames);
    EXPECT_FALSE(options.loading);
    EXPECT_EQ(options.renderer, Renderer::gl);

    // The progress screens alone end the capture after loading; with a
    // stretch asked for, the show is captured too.
    CaptureOptions loadingOnly;
    ASSERT_TRUE(parse({"--loading", "--out", "x", "--renderer", "es"}, loadingOnly, error)) << error;
    EXPECT_TRUE(loadingOnly.loading);
    EXPECT_FALSE(loadingOnly.showFrames);
    EXPECT_EQ(loadingOnly.renderer, Renderer::es);
    for (auto stretch : std::vector<std::vector<std::string>>{
             {"--at", "100"}, {"--from", "100"}, {"--to", "200"}, {"--video", "a.mp4"}}) {
        CaptureOptions withShow;
        stretch.push_back("--loading");
        ASSERT_TRUE(parse(stretch, withShow, error)) << error;
        EXPECT_TRUE(withShow.showFrames) << stretch[0];
    }

    for (auto bad : std::vector<std::vector<std::string>>{{"--fps", "0"},
                                                          {"--fps"},
                                                          {"--at", "12,,3"},
                                                          {"--at", "x"},
                                                          {"--from", "2000", "--to", "1000"},
                                                          {"--scale", "9"},
                                                          {"--renderer", "vulkan"},
                                                          {"--renderer"},
                                                          {"--bogus"}}) {
        CaptureOptions rejected;
        EXPECT_FALSE(parse(bad, rejected, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(CaptureOptionsParsing, LogNamesNeverTakeAShowsOwn)
{
    EXPECT_EQ(captureLogFileName("pimplog", false), "pimplog");
    EXPECT_EQ(captureLogFileName("spaceTimes.log", true), "capture-spaceTimes.log");
    EXPECT_EQ(captureLoadingFileName(8), "loading-8.png");
}

TEST(CaptureRun, SameTimesGiveIdenticalFramesAndFinerRenderingMatches)
{
    fs::path first = scratchDir("first");
    fs::path second = scratchDir("second");
    fs::path fine = scratchDir("fine");
    const std::string times = "--at 2300,3000 --to 3100 --out ";
    ASSERT_EQ(runCapture(times + first.string()), 0);
    ASSERT_EQ(runCapture(times + second.string()), 0);
    ASSERT_EQ(runCapture(times + fine.string() + " --scale 2"), 0);

    for (const char* name : {"frame-002300.png", "frame-003000.png"}) {
        ASSERT_TRUE(fs::exists(first / name)) << name;
        EXPECT_EQ(fileBytes(first / name), fileBytes(second / name)) << name;

        std::vector<std::uint8_t> coarse;
        std::vector<std::uint8_t> detailed;
        int width = 0, height = 0, fineWidth = 0, fineHeight = 0;
        ASSERT_TRUE(readPngRgb((first / name).string(), coarse, width, height));
        ASSERT_TRUE(readPngRgb((fine / name).string(), detailed, fineWidth, fineHeight));
        EXPECT_EQ(width, 640);
        EXPECT_EQ(height, 480);
        ASSERT_EQ(fineWidth, 1280);
        ASSERT_EQ(fineHeight, 960);
        double difference = 0.0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    auto at = [&](int fx, int fy) { return detailed[(static_cast<std::size_t>(fy) * 1280 + fx) * 3 + c]; };
                    double averaged = (at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) +
                                       at(2 * x + 1, 2 * y + 1)) / 4.0;
                    difference += std::fabs(averaged - coarse[(static_cast<std::size_t>(y) * width + x) * 3 + c]);
                }
        EXPECT_LT(difference / (width * height * 3), 4.0) << name;
    }
}

// The scenes keep state from frame to frame (beat counters, one random
// sequence): a stretch that starts late, mid-scene, must show the frames a
// run from earlier shows at the same times, byte for byte.
TEST(CaptureRun, LateStartGivesTheFramesOfARunFromEarlier)
{
    fs::path whole = scratchDir("whole");
    fs::path late = scratchDir("late");
    const std::vector<int> times = {4000, 4033, 4067, 4100, 4133, 4167}; // frames 120..125 at 30 fps
    std::string at;
    for (int time : times)
        at += (at.empty() ? "" : ",") + std::to_string(time);
    ASSERT_EQ(runCapture("--fps 30 --from 3000 --to 4200 --at " + at + " --out " + whole.string()), 0);
    ASSERT_EQ(runCapture("--fps 30 --from 4000 --to 4200 --out " + late.string()), 0);
    for (int time : times) {
        const std::string name = captureFrameFileName(time);
        ASSERT_TRUE(fs::exists(late / name)) << name;
        ASSERT_TRUE(fs::exists(whole / name)) << name;
        EXPECT_TRUE(fileBytes(late / name) == fileBytes(whole / name)) << name << " differs";
    }
    // Only the stretch is saved: the pre-roll's frames are not.
    EXPECT_FALSE(fs::exists(late / captureFrameFileName(3967)));
}

TEST(CaptureRun, ProgressScreensAreSavedAndTheLogsGoToTheOutputFolder)
{
    // From a folder without a data set: the show's files come from beside
    // the program, the logs go to the output folder, nothing is left in the
    // working or the temporary folder.
    fs::path elsewhere = scratchDir("elsewhere");
    fs::path temporary = scratchDir("temporary");
    fs::path out = scratchDir("loading");
    ASSERT_EQ(runCapture("--loading --out " + out.string(), elsewhere, temporary), 0);
    EXPECT_EQ(entriesIn(elsewhere), 0u);
    EXPECT_EQ(entriesIn(temporary), 0u);
    const std::string log = fileBytes(out / "pimplog");
    EXPECT_EQ(countOf(log, "->updating progress stuff\r\n"), 9u);
    EXPECT_EQ(countOf(log, "free->dumping avi live -xxx- streams..\r\n"), 1u);
    EXPECT_FALSE(fs::exists(out / captureLoadingFileName(9)));

    // Nine presents, the bar growing through the picture's windows: each
    // screen is at least as bright as the one before, the last brighter.
    std::vector<long> brightness;
    for (int step = 0; step < 9; ++step) {
        std::vector<std::uint8_t> rgb;
        int width = 0, height = 0;
        ASSERT_TRUE(readPngRgb((out / captureLoadingFileName(step)).string(), rgb, width, height)) << step;
        ASSERT_EQ(width, 640);
        ASSERT_EQ(height, 480);
        long sum = 0;
        for (std::uint8_t value : rgb)
            sum += value;
        brightness.push_back(sum);
    }
    for (int step = 1; step < 9; ++step)
        EXPECT_GE(brightness[step], brightness[step - 1]) << step;
    EXPECT_GT(brightness[8], brightness[0] + 640L * 3 * 255);

    // From a show's folder, writing into it: the show's own logs stay as
    // they were, the capture's get names of their own.
    fs::path show = scratchDir("show");
    fs::create_directory_symlink(fs::path(GFXCORE_SHOW_DIR) / "data", show / "data");
    std::ofstream(show / "pimplog") << "the show's own loading log";
    std::ofstream(show / "spaceTimes.log") << "the show's own taps";
    ASSERT_EQ(runCapture("--at 100 --to 200", show, temporary), 0);
    EXPECT_EQ(fileBytes(show / "pimplog"), "the show's own loading log");
    EXPECT_EQ(fileBytes(show / "spaceTimes.log"), "the show's own taps");
    EXPECT_TRUE(fs::exists(show / captureFrameFileName(100)));
    EXPECT_EQ(countOf(fileBytes(show / "capture-pimplog"), "->updating progress stuff\r\n"), 9u);
    EXPECT_EQ(fileBytes(show / "capture-spaceTimes.log"), "spacebarsmackertiminigsystemlog (hoho!)\r\n");
    EXPECT_EQ(entriesIn(temporary), 0u);
    EXPECT_TRUE(fs::exists(GFXCORE_SHOW_DIR "/data/houjebek.tga")); // the link only was removed
}

TEST(CaptureRun, ShortVideoHoldsEveryFrameAndTheSoundtrack)
{
    fs::path dir = scratchDir("video");
    fs::path video = dir / "short.mp4";
    ASSERT_EQ(runCapture("--from 1000 --to 2000 --fps 30 --video " + video.string()), 0);
    MediaInfo info;
    std::string error;
    ASSERT_TRUE(probeMediaFile(video.c_str(), info, error)) << error;
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    EXPECT_EQ(info.videoCodec, "h264");
    EXPECT_EQ(info.videoFrames, 30);
    EXPECT_NEAR(info.videoSeconds, 1.0, 0.05);
    ASSERT_TRUE(info.hasAudio);
    EXPECT_NEAR(info.audioSeconds, 1.0, 0.1);
}
