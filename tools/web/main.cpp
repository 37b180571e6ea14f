// The show in a web browser: the same kernel, load sequence, timeline and
// scenes as the desktop show, on the shader device (WebGL 2 is OpenGL ES
// 3.0), driven by the browser's frame callback. Each callback does one piece
// of work and returns, so the page can draw and take input in between: the
// window, then the start of loading, then one precalculation step per
// callback (each ends with its progress frame), then, once the audio is
// unlocked, the music and the show clock start together, and then one turn
// of the main loop per callback. fatalExit ends it all as on the desktop:
// its message box is the page's, and the page's end screen follows.
//
// The test modes of the query (tools/web/web_options.h) replace the page's
// clock with the capture tool's fixed-step one and play no sound.
// Depends on: kernel (shell, loader, timeline, messages), platform (renderer,
// audio, clock, process, gl_common device hooks, web page), imaging (PNG),
// tools/capture (frame schedule).
#include "imaging/png_writer.h"
#include "kernel/loader.h"
#include "kernel/messages.h"
#include "kernel/shell.h"
#include "kernel/timeline.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/gl_common/gl_device.h"
#include "platform/process.h"
#include "platform/renderer.h"
#include "platform/web/web_page.h"
#include "tools/capture/capture.h"
#include "tools/web/web_options.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

enum class Stage { beginLoading, loadStep, waitForAudio, show };

struct FpsProbe {
    double firstMs = 0.0;
    double lastMs = 0.0;
};

// The run, written by main and the frame callback only.
struct WebRun {
    WebOptions options;
    DisplaySettings settings{};
    Stage stage = Stage::beginLoading;
    int loadStep = 0;
    double loadStartMs = 0.0;
    double loadStepEndMs[LOAD_STEP_COUNT] = {};
    double loadedMs = 0.0;
    double firstShowFrameMs = 0.0;
    // Fixed-step modes: the virtual clock, the frame being drawn and the
    // frames of the schedule (frames mode: the asked ones).
    DWORD clockMs = 0;
    std::int64_t frame = 0;
    std::vector<std::int64_t> wantedFrames;
    std::int64_t endFrame = 0;
    int savedFrames = 0;
    FpsProbe probes[TIMELINE_SCENE_COUNT];
};

WebRun run;

DWORD virtualClock() { return run.clockMs; }

// Frames mode: the asked frame just presented, as PNG to the page's server.
void onPresent(const std::uint8_t* rgb, int width, int height, void*)
{
    std::string name = captureFrameFileName(captureFrameTime(run.frame, run.options.framesPerSecond));
    std::string path = "/frames/" + name;
    if (!writePngRgb(path, rgb, width, height)) {
        std::fprintf(stderr, "gfxcore: can not write %s\n", path.c_str());
        return;
    }
    webPageSendFile(path.c_str(), name.c_str());
    ++run.savedFrames;
}

// Times are on the page's clock, which starts with the page.
std::string reportJson()
{
    char text[256];
    std::snprintf(text, sizeof text, "{\"loadedMs\":%.0f,\"firstShowFrameMs\":%.0f,\"frames\":%lld,\"savedFrames\":%d",
                  run.loadedMs, run.firstShowFrameMs,
                  static_cast<long long>(run.frame), run.savedFrames);
    std::string json = text;
    json += ",\"loadStepsMs\":[";
    double stepStart = run.loadStartMs;
    for (int step = 0; step < LOAD_STEP_COUNT; ++step) {
        double end = run.loadStepEndMs[step];
        std::snprintf(text, sizeof text, "%s%.0f", step > 0 ? "," : "", end > 0.0 ? end - stepStart : 0.0);
        json += text;
        stepStart = end;
    }
    json += "]";
    if (run.options.mode == WebMode::fps) {
        json += ",\"fps\":[";
        for (int scene = 0; scene < TIMELINE_SCENE_COUNT; ++scene) {
            const FpsProbe& probe = run.probes[scene];
            double span = probe.lastMs - probe.firstMs;
            double fps = span > 0.0 ? (FPS_PROBE_FRAMES - 1) * 1000.0 / span : 0.0;
            std::snprintf(text, sizeof text, "%s%.1f", scene > 0 ? "," : "", fps);
            json += text;
        }
        json += "]";
    }
    return json + "}";
}

// Every way out of the show (its end, Escape, an error) passes here before
// the process ends: no further callbacks, and the page's end screen.
void onExit()
{
    webStopFrameLoop();
    if (run.options.mode != WebMode::show)
        webPageSetReport(reportJson().c_str());
    webPageSetStage(WebStage::ended);
}

// The fps mode's show time for probe frame k: FPS_PROBE_FRAMES frames 1/30 s
// apart, two seconds into each scene.
int fpsProbeTime(std::int64_t k)
{
    int scene = static_cast<int>(k / FPS_PROBE_FRAMES);
    int start = scene == 0 ? 0 : timelineScenes[scene].start;
    return start + 2000 + static_cast<int>(k % FPS_PROBE_FRAMES) * 1000 / 30;
}

void fixedStepTurn()
{
    if (run.frame == run.endFrame)
        fatalExit(nullptr); // the schedule is done: leave through the show's own exit path
    bool saved = false;
    if (run.options.mode == WebMode::frames) {
        run.clockMs = static_cast<DWORD>(captureFrameTime(run.frame, run.options.framesPerSecond));
        for (std::int64_t wanted : run.wantedFrames)
            saved = saved || wanted == run.frame;
    } else {
        run.clockMs = static_cast<DWORD>(fpsProbeTime(run.frame));
        FpsProbe& probe = run.probes[run.frame / FPS_PROBE_FRAMES];
        double now = webNowMs();
        if (run.frame % FPS_PROBE_FRAMES == 0)
            probe.firstMs = now;
        probe.lastMs = now;
    }
    // Only the asked frames are read back: a read-back waits for the
    // whole frame to be drawn.
    glDeviceSetPresentHook(saved ? onPresent : nullptr, nullptr);
    runMainLoopTurn();
    ++run.frame;
}

void startTheShow()
{
    finishLoadSequence(mainWindow, startMusic);
    run.clockMs = 0;
    startShow(run.settings);
    run.stage = Stage::show;
    webPageSetStage(WebStage::show);
}

void frameCallback()
{
    switch (run.stage) {
    case Stage::beginLoading:
        run.loadStartMs = webNowMs();
        beginLoadSequence(mainWindow);
        run.stage = Stage::loadStep;
        return;
    case Stage::loadStep:
        runLoadStep(SCENE_PRECALC_STEPS, run.loadStep);
        run.loadStepEndMs[run.loadStep++] = webNowMs();
        if (run.loadStep == LOAD_STEP_COUNT) {
            run.loadedMs = webNowMs();
            run.stage = Stage::waitForAudio;
            webPageSetStage(WebStage::waiting);
        }
        return;
    case Stage::waitForAudio:
        // Music and show clock start in the same callback, after the click
        // that lets the browser play sound, so they start together.
        if (run.options.mode != WebMode::show || webAudioUnlocked())
            startTheShow();
        return;
    case Stage::show:
        if (run.firstShowFrameMs == 0.0)
            run.firstShowFrameMs = webNowMs();
        if (run.options.mode == WebMode::show)
            runMainLoopTurn();
        else
            fixedStepTurn();
        return;
    }
}

} // namespace

int main()
{
    std::string error;
    if (!parseWebQuery(webPageQuery(), run.options, error)) {
        webPageShowMessage("gfxcore", error.c_str());
        webPageSetStage(WebStage::ended);
        return 1;
    }
    platformSetBeforeExit(onExit);
    selectRenderer(Renderer::es);

    if (run.options.mode != WebMode::show) {
        platformSetAudioSilent(true);
        platformSetClock(virtualClock);
        mkdir("/frames", 0755);
    }
    if (run.options.mode == WebMode::frames) {
        for (int time : run.options.atMs) {
            std::int64_t frame = captureFirstFrameAtOrAfter(time, run.options.framesPerSecond);
            run.wantedFrames.push_back(frame);
            if (frame + 1 > run.endFrame)
                run.endFrame = frame + 1;
        }
    } else if (run.options.mode == WebMode::fps) {
        run.endFrame = static_cast<std::int64_t>(TIMELINE_SCENE_COUNT) * FPS_PROBE_FRAMES;
    }

    // The page scales the canvas to its window; the picture is always 640x480.
    run.settings = getDisplaySettings();
    run.settings.fullscreen = false;
    webPageSetStage(WebStage::loading);
    createShellWindow(run.settings);
    webStartFrameLoop(frameCallback);
    return 0;
}
