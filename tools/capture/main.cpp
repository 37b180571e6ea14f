// gfxcore-capture: plays the show headless on a virtual clock, one frame
// every 1000/fps ms, and saves chosen frames as PNG or the whole stretch as
// an MP4 video with the soundtrack. Same kernel, load sequence, timeline and
// scenes as the show; the music is not played (its offset is 0).
#include "tools/capture/capture.h"

#include "imaging/png_writer.h"
#include "kernel/loader.h"
#include "kernel/messages.h"
#include "kernel/shell.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/gl/gl_device.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/video_encoder.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct CaptureRun {
    CaptureOptions options;
    DWORD clockMs = 0;          // what the virtual clock reads
    int frameTimeMs = 0;        // show time of the frame being drawn
    bool saveFrame = false;     // save the frame being drawn as PNG
    std::size_t nextAt = 0;     // next entry of options.atMs
    VideoEncoder* video = nullptr;
    std::int64_t framesDone = 0;
    std::int64_t framesTotal = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastReport;
};

CaptureRun run;

DWORD virtualClock() { return run.clockMs; }

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "gfxcore-capture: %s\n", message.c_str());
    std::exit(2);
}

void reportProgress(bool last)
{
    if (run.options.quiet)
        return;
    auto now = std::chrono::steady_clock::now();
    if (!last && now - run.lastReport < std::chrono::milliseconds(500))
        return;
    run.lastReport = now;
    double seconds = std::chrono::duration<double>(now - run.started).count();
    double fps = seconds > 0.0 ? static_cast<double>(run.framesDone) / seconds : 0.0;
    std::int64_t left = run.framesTotal - run.framesDone;
    int secondsLeft = fps > 0.0 ? static_cast<int>(static_cast<double>(left) / fps) : 0;
    const int barWidth = 30;
    int filled = run.framesTotal > 0 ? static_cast<int>(run.framesDone * barWidth / run.framesTotal) : barWidth;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(barWidth, '.');
    std::fprintf(stderr, "\r[%s] %lld/%lld frames  %.1f fps  %d:%02d left ", bar.c_str(),
                 static_cast<long long>(run.framesDone), static_cast<long long>(run.framesTotal), fps,
                 secondsLeft / 60, secondsLeft % 60);
    if (last)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

void onPresent(const std::uint8_t* rgb, int width, int height, void*)
{
    if (run.saveFrame) {
        std::string path = run.options.outDir + "/" + captureFrameFileName(run.frameTimeMs);
        if (!writePngRgb(path, rgb, width, height))
            fail("can not write " + path);
    }
    if (run.video != nullptr) {
        std::string error;
        if (!videoEncoderAddFrame(run.video, rgb, error))
            fail(error);
    }
    ++run.framesDone;
    reportProgress(false);
}

// Runs on every way out of the show (its end, --to, Escape, an error).
void finishCapture()
{
    reportProgress(true);
    if (run.video != nullptr) {
        std::string error;
        VideoEncoder* video = run.video;
        run.video = nullptr;
        if (!videoEncoderClose(video, error))
            std::fprintf(stderr, "gfxcore-capture: %s\n", error.c_str());
    }
}

// The data set lies beside the program: work there unless ./data exists here.
void enterShowDirectory()
{
    std::error_code ignored;
    if (std::filesystem::is_directory("data", ignored))
        return;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ignored);
    if (!program.empty() && chdir(program.parent_path().c_str()) != 0)
        fail("can not enter " + program.parent_path().string());
}

std::string absolute(const std::string& path)
{
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    if (!parseCaptureOptions(argc, argv, run.options, error)) {
        std::fprintf(stderr,
                     "gfxcore-capture: %s\n"
                     "usage: gfxcore-capture [--fps N] [--from MS] [--to MS] [--out DIR] [--at MS[,MS...]]\n"
                     "                       [--video FILE.mp4] [--scale N] [--quiet]\n",
                     error.c_str());
        return 2;
    }
    CaptureOptions& options = run.options;
    options.outDir = absolute(options.outDir);
    options.videoPath = absolute(options.videoPath);
    std::error_code made;
    std::filesystem::create_directories(options.outDir, made);

    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    enterShowDirectory();

    platformSetAudioSilent(true);
    platformSetClock(virtualClock);
    glDeviceSetRenderScale(options.scale);
    platformSetBeforeExit(finishCapture);

    DisplaySettings settings = getDisplaySettings();
    settings.fullscreen = false;
    createShellWindow(settings);
    loadAndPrecalc(mainWindow);
    run.clockMs = 0;
    startShow(settings);

    std::int64_t firstFrame = captureFirstFrameAtOrAfter(options.fromMs, options.framesPerSecond);
    std::int64_t endFrame = captureFirstFrameAtOrAfter(options.toMs, options.framesPerSecond);
    run.framesTotal = endFrame - firstFrame;
    if (!options.videoPath.empty()) {
        int scale = glDeviceRenderScale();
        std::string musicPath = platformResolvePath("Data/Music.mp3");
        VideoEncoderSettings videoSettings{options.videoPath.c_str(), 640 * scale, 480 * scale,
                                           options.framesPerSecond, musicPath.c_str(),
                                           captureFrameTime(firstFrame, options.framesPerSecond)};
        run.video = videoEncoderOpen(videoSettings, error);
        if (run.video == nullptr)
            fail(error);
    }
    glDeviceSetPresentHook(onPresent, nullptr);
    run.started = std::chrono::steady_clock::now();
    run.lastReport = run.started;

    bool everyFrame = options.atMs.empty() && options.videoPath.empty();
    std::vector<std::int64_t> atFrames;
    for (int time : options.atMs)
        atFrames.push_back(captureFirstFrameAtOrAfter(time, options.framesPerSecond));

    for (std::int64_t frame = firstFrame; frame < endFrame; ++frame) {
        run.frameTimeMs = captureFrameTime(frame, options.framesPerSecond);
        run.clockMs = static_cast<DWORD>(run.frameTimeMs);
        run.saveFrame = everyFrame;
        for (std::int64_t atFrame : atFrames)
            run.saveFrame = run.saveFrame || atFrame == frame;
        runMainLoopTurn();
    }
    // The stretch ends before the show does: leave through the show's own exit path.
    fatalExit(nullptr);
}
