// gfxcore-capture: plays the show headless on a virtual clock, one frame
// every 1000/fps ms, and saves chosen frames as PNG or the whole stretch as
// an MP4 video with the soundtrack. Same kernel, load sequence, timeline and
// scenes as the show; the music is not played (its offset is 0).
//
// The scenes carry state from frame to frame (beat counters, render-target
// feedback, one random sequence shared by all of them), so a stretch that
// starts late is preceded by a pre-roll: every frame from the show's start is
// drawn on the same schedule, without read-back. Frame k is then the same
// picture whatever --from is.
//
// The show writes pimplog and spaceTimes.log into its working folder. The
// capture works in a temporary folder of its own that links to the data set
// and to the logs' places in the output folder (or --logs); a show's own
// logs are never touched.
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
#include "platform/renderer.h"
#include "platform/video_encoder.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* SHOW_LOGS[] = {"pimplog", "spaceTimes.log"};

struct CaptureRun {
    CaptureOptions options;
    DWORD clockMs = 0;          // what the virtual clock reads
    int frameTimeMs = 0;        // show time of the frame being drawn
    bool saveFrame = false;     // save the frame being drawn as PNG
    bool inLoading = false;     // presents are progress screens
    int loadingStep = 0;        // next progress screen
    bool prerolling = false;    // frames before --from: drawn, not read back
    std::string workDir;        // the temporary working folder; empty once put away
    std::size_t nextAt = 0;     // next entry of options.atMs
    VideoEncoder* video = nullptr;
    std::int64_t framesDone = 0;
    std::int64_t framesTotal = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastReport;
};

CaptureRun run;

DWORD virtualClock() { return run.clockMs; }

void putWorkFolderAway();

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "gfxcore-capture: %s\n", message.c_str());
    putWorkFolderAway();
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
    std::fprintf(stderr, "\r[%s] %lld/%lld frames%s  %.1f fps  %d:%02d left ", bar.c_str(),
                 static_cast<long long>(run.framesDone), static_cast<long long>(run.framesTotal),
                 run.prerolling ? " (pre-roll)" : "", fps,
                 secondsLeft / 60, secondsLeft % 60);
    if (last)
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

void onPresent(const std::uint8_t* rgb, int width, int height, void*)
{
    if (run.inLoading) {
        if (run.options.loading) {
            std::string path = run.options.outDir + "/" + captureLoadingFileName(run.loadingStep);
            if (!writePngRgb(path, rgb, width, height))
                fail("can not write " + path);
        }
        ++run.loadingStep;
        return;
    }
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
}

// The data folder of a folder (named "data" in any case), or empty.
fs::path dataFolderIn(const fs::path& folder)
{
    std::error_code ignored;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ignored))
        if (strcasecmp(entry.path().filename().c_str(), "data") == 0 && entry.is_directory(ignored))
            return fs::absolute(entry.path(), ignored);
    return fs::path();
}

// The data set the show reads: ./data when it exists here, else the one
// beside the program. Empty when neither exists (the show then ends with its
// own message for the first missing file).
fs::path findDataFolder()
{
    std::error_code ignored;
    fs::path here = dataFolderIn(fs::current_path(ignored));
    if (!here.empty())
        return here;
    fs::path program = fs::read_symlink("/proc/self/exe", ignored);
    return program.empty() ? fs::path() : dataFolderIn(program.parent_path());
}

// A temporary folder becomes the working folder. It holds a link to the
// data set (under the data folder's own name) and, under the show's log
// names, links to the capture's logs in the log folder: the show finds its
// files and writes its logs straight there, so even a capture that is killed
// leaves them where it was asked to.
void enterWorkFolder()
{
    fs::path data = findDataFolder();
    std::string pattern = (fs::temp_directory_path() / "gfxcore-capture-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        fail("can not make a working folder in " + fs::temp_directory_path().string());
    run.workDir = pattern;
    std::error_code error;
    if (!data.empty()) {
        fs::create_directory_symlink(data, fs::path(run.workDir) / data.filename(), error);
        if (error)
            fail("can not link the data set into " + run.workDir + ": " + error.message());
    }
    const std::string& logDir = run.options.logDir;
    bool logsInShowFolder = !dataFolderIn(logDir).empty();
    for (const char* log : SHOW_LOGS) {
        fs::create_symlink(fs::path(logDir) / captureLogFileName(log, logsInShowFolder),
                           fs::path(run.workDir) / log, error);
        if (error)
            fail("can not link the logs into " + run.workDir + ": " + error.message());
    }
    if (chdir(run.workDir.c_str()) != 0)
        fail("can not enter " + run.workDir);
}

// Removes the working folder: its links only (never what they point to),
// then the folder if nothing else is left in it. Runs once, after the show
// has closed its files (or on a capture failure).
void putWorkFolderAway()
{
    if (run.workDir.empty())
        return;
    std::string work = run.workDir;
    run.workDir.clear();
    std::error_code ignored;
    std::vector<fs::path> links;
    for (const fs::directory_entry& entry : fs::directory_iterator(work, ignored))
        if (entry.is_symlink(ignored))
            links.push_back(entry.path());
    for (const fs::path& link : links)
        fs::remove(link, ignored);
    if (chdir(run.options.outDir.c_str()) != 0)
        std::fprintf(stderr, "gfxcore-capture: can not enter %s\n", run.options.outDir.c_str());
    fs::remove(work, ignored);
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
    putWorkFolderAway();
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
                     "                       [--logs DIR] [--video FILE.mp4] [--scale N] [--loading] [--renderer %s]\n"
                     "                       [--quiet]\n",
                     error.c_str(), kRendererNames);
        return 2;
    }
    CaptureOptions& options = run.options;
    options.outDir = absolute(options.outDir);
    options.videoPath = absolute(options.videoPath);
    options.logDir = options.logDir.empty() ? options.outDir : absolute(options.logDir);
    std::error_code made;
    std::filesystem::create_directories(options.outDir, made);
    std::filesystem::create_directories(options.logDir, made);

    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    platformSetBeforeExit(finishCapture);
    enterWorkFolder();

    selectRenderer(options.renderer);
    platformSetAudioSilent(true);
    platformSetClock(virtualClock);
    glDeviceSetRenderScale(options.scale);

    DisplaySettings settings = getDisplaySettings();
    settings.fullscreen = false;
    createShellWindow(settings);
    // The progress screens are read back only when they are asked for.
    run.inLoading = true;
    if (options.loading)
        glDeviceSetPresentHook(onPresent, nullptr);
    loadAndPrecalc(mainWindow);
    glDeviceSetPresentHook(nullptr, nullptr);
    run.inLoading = false;
    if (!options.showFrames)
        fatalExit(nullptr);
    run.clockMs = 0;
    startShow(settings);

    std::int64_t firstFrame = captureFirstFrameAtOrAfter(options.fromMs, options.framesPerSecond);
    std::int64_t endFrame = captureFirstFrameAtOrAfter(options.toMs, options.framesPerSecond);
    run.framesTotal = endFrame;
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
    run.started = std::chrono::steady_clock::now();
    run.lastReport = run.started;

    bool everyFrame = options.atMs.empty() && options.videoPath.empty();
    std::vector<std::int64_t> atFrames;
    for (int time : options.atMs)
        atFrames.push_back(captureFirstFrameAtOrAfter(time, options.framesPerSecond));

    // From frame 0: the frames before --from are the pre-roll, drawn on the
    // same schedule as the stretch so that every scene reaches it in the
    // state a whole run has there.
    run.prerolling = firstFrame > 0;
    for (std::int64_t frame = 0; frame < endFrame; ++frame) {
        if (frame == firstFrame) {
            run.prerolling = false;
            glDeviceSetPresentHook(onPresent, nullptr);
        }
        run.frameTimeMs = captureFrameTime(frame, options.framesPerSecond);
        run.clockMs = static_cast<DWORD>(run.frameTimeMs);
        run.saveFrame = everyFrame;
        for (std::int64_t atFrame : atFrames)
            run.saveFrame = run.saveFrame || atFrame == frame;
        runMainLoopTurn();
        ++run.framesDone;
        reportProgress(false);
    }
    // The stretch ends before the show does: leave through the show's own exit path.
    fatalExit(nullptr);
}
