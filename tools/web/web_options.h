// What the page's query asks of the web show. Without a query the show plays
// for a viewer. The test modes run on the capture tool's fixed-step clock
// without sound, so their frames are comparable with gfxcore-capture's:
//   test=frames&fps=N&at=T1,T2,...  draws every frame of the schedule from
//       the show's start up to the last asked time (frame k at
//       round(k*1000/N) ms) and hands the frames at the asked times back
//       to the page's server as PNG, named as the capture tool names them;
//   test=fps                        draws FPS_PROBE_FRAMES frames into each
//       scene and reports the frame rate the browser kept in each.
// Pure C++ (no browser), so the desktop tests check it.
#pragma once

#include <string>
#include <vector>

enum class WebMode { show, frames, fps };

struct WebOptions {
    WebMode mode = WebMode::show;
    int framesPerSecond = 2;
    std::vector<int> atMs; // frames mode: at least one, each 0..164999
};

constexpr int FPS_PROBE_FRAMES = 24;

// Parses a query such as "test=frames&fps=1&at=500,9000". Unknown keys are
// ignored (a page may carry its own). False with a message in error for a
// test mode that can not run as asked; options then stay the show's.
bool parseWebQuery(const std::string& query, WebOptions& options, std::string& error);
