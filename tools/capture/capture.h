// The capture tool's pieces that tests check without running a whole show:
// its options, the frame schedule and the choice of frames to save.
#pragma once

#include "platform/renderer.h"

#include <cstdint>
#include <string>
#include <vector>

struct CaptureOptions {
    int framesPerSecond = 60;
    int fromMs = 0;
    int toMs = 165000;
    std::string outDir = ".";
    std::string logDir;      // where the show's logs are left; empty: outDir
    std::vector<int> atMs;   // empty: every frame of the stretch is saved (unless a video is asked for)
    std::string videoPath;   // empty: no video
    int scale = 1;
    bool quiet = false;
    bool loading = false;    // save the nine progress screens as loading-<step>.png
    // False when only the progress screens were asked for (--loading without
    // --from, --to, --at or --video): the capture ends after loading.
    bool showFrames = true;
    Renderer renderer = Renderer::gl;
};

// Parses argv; false with a message in error on a bad option.
bool parseCaptureOptions(int argc, char** argv, CaptureOptions& options, std::string& error);

// Show time of frame k: round(k * 1000 / fps).
int captureFrameTime(std::int64_t frame, int framesPerSecond);

// The first frame drawn at or after a show time.
std::int64_t captureFirstFrameAtOrAfter(int timeMs, int framesPerSecond);

// "frame-<ms, six digits>.png"
std::string captureFrameFileName(int timeMs);

// "loading-<step>.png"
std::string captureLoadingFileName(int step);

// The name a log of the show gets in the output folder: its own name, or
// "capture-<name>" when the output folder is a show's folder (it holds a
// data folder), so the show's own log is never overwritten.
std::string captureLogFileName(const std::string& logName, bool outputIsShowFolder);
