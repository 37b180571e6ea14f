// The capture tool: its frame schedule and options, and whole runs of the
// real program (same times give the same pictures, finer rendering matches,
// a short video holds the right frames and sound).
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

int runCapture(const std::string& arguments)
{
    std::string command = std::string("SDL_VIDEODRIVER=offscreen ") + GFXCORE_SHOW_DIR "/gfxcore-capture --quiet " +
                          arguments + " > /dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
                       "--out", "frames", "--video", "a.mp4"},
                      options, error))
        << error;
    EXPECT_EQ(options.framesPerSecond, 30);
    EXPECT_EQ(options.fromMs, 1000);
    EXPECT_EQ(options.toMs, 2000);
    EXPECT_EQ(options.atMs, (std::vector<int>{1200, 1500}));
    EXPECT_EQ(options.scale, 2);
    EXPECT_EQ(options.outDir, "frames");
    EXPECT_EQ(options.videoPath, "a.mp4");

    for (auto bad : std::vector<std::vector<std::string>>{{"--fps", "0"},
                                                          {"--fps"},
                                                          {"--at", "12,,3"},
                                                          {"--at", "x"},
                                                          {"--from", "2000", "--to", "1000"},
                                                          {"--scale", "9"},
                                                          {"--bogus"}}) {
        CaptureOptions rejected;
        EXPECT_FALSE(parse(bad, rejected, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
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
