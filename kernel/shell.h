// The application shell: display settings, the window and its procedure, the
// space-bar tap log and the main loop that turns the clock into show time.
// Depends on: dgl (start, present), kernel (loader, timeline, messages),
// resources/files, platform (window, clock).
#pragma once

#include "platform/win_types.h"

struct DisplaySettings {
    const char* title;
    std::int32_t width;
    std::int32_t height;
    bool fullscreen;
    float startOffset; // seconds added to the show clock at start
};

DisplaySettings getDisplaySettings();

inline constexpr char WINDOW_CLASS_NAME[] = "gfxCore";

// Shell state for the whole run (kernel/shell_state.cpp). Written by the
// start-up below; fatalExit clears the window, class and log entries when it
// releases them.
extern HWND mainWindow;             // null until the window exists
extern bool windowClassRegistered;  // set just before the window is created
extern FileHandle tapLog;           // spaceTimes.log; 0 until opened after loading
extern int lastFrameTime;           // show time (ms) of the last frame handed to the Timeline
extern DWORD showStartInstant;      // timeGetTime() when the show clock started
extern int showStartOffsetMs;       // startOffset in whole milliseconds

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Start-up, split into the steps a test or tool can drive:
// registers the class, creates, shows and focuses the window, starts the renderer.
void createShellWindow(const DisplaySettings& settings);
// After loading: hides the pointer in full screen, opens the tap log, reads the start instant.
void startShow(const DisplaySettings& settings);
// Moves the music to show time timeMs (no change for 0 or less, or before the
// music exists).
void seekMusicToShowTime(int timeMs);
// Dispatches every queued message of the window to its procedure.
void drainMessages(HWND window);
// One turn of the main loop: messages, show time, Timeline, present.
void runMainLoopTurn();

// The process entry: start-up, loading, then the main loop until fatalExit.
// WinMain plays with the build's settings; runShow with the given ones (the
// show's command line overrides the display mode and the start offset).
int WinMain();
int runShow(const DisplaySettings& settings);
