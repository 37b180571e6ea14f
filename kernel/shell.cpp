// Entry, window procedure and main loop of the show; see shell.h.
// Depends on: dgl (dglInit, dglSwapBuffers), kernel/loader (loadAndPrecalc),
// kernel/timeline, kernel/messages, resources/files, platform (window, clock).
#include "kernel/shell.h"

#include "dgl/dgl.h"
#include "kernel/loader.h"
#include "kernel/messages.h"
#include "kernel/timeline.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "resources/files.h"

#include <cstring>

// A build may choose a window or a later start (CMake options); by default
// the show runs full screen from its beginning. The show's command line
// overrides both at run time (tools/show).
#ifndef GFXCORE_FULLSCREEN
#define GFXCORE_FULLSCREEN true
#endif
#ifndef GFXCORE_START_OFFSET
#define GFXCORE_START_OFFSET 0.0f
#endif

DisplaySettings getDisplaySettings() { return DisplaySettings{"gfxcore", 640, 480, GFXCORE_FULLSCREEN, GFXCORE_START_OFFSET}; }

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
        fatalExit(nullptr);
    if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
        platformSendMessage(window, WM_CLOSE, 0, 0);
        return 0;
    }
    // Taps during loading arrive before the tap log exists: they are ignored.
    if (message == WM_KEYDOWN && wParam == VK_SPACE && tapLog != 0) {
        const char* line = formatMessage("Smacked: %d.\r\n", lastFrameTime);
        writeToFile(tapLog, line, static_cast<DWORD>(std::strlen(line)));
    }
    return platformDefWindowProc(window, message, wParam, lParam);
}

void createShellWindow(const DisplaySettings& settings)
{
    // The windowed mode's class cursor is the arrow with the hourglass; full
    // screen has none.
    if (!platformRegisterClass(WINDOW_CLASS_NAME, windowProc, !settings.fullscreen))
        fatalExit("Can not register window class.");
    windowClassRegistered = true;
    mainWindow =
        platformCreateWindow(WINDOW_CLASS_NAME, settings.title, settings.width, settings.height, settings.fullscreen);
    if (mainWindow == nullptr)
        fatalExit("Can not create window.");
    platformShowWindow(mainWindow);
    dglInit(mainWindow, settings.width, settings.height, settings.fullscreen);
}

void startShow(const DisplaySettings& settings)
{
    if (settings.fullscreen)
        platformHideCursor();
    tapLog = createFile("spaceTimes.log");
    const char* header = formatMessage("spacebarsmackertiminigsystemlog (hoho!)\r\n");
    writeToFile(tapLog, header, static_cast<DWORD>(std::strlen(header)));
    showStartOffsetMs = static_cast<int>(settings.startOffset * 1000.0f);
    // A later start plays the music from there too, or picture and sound
    // would be apart by the whole offset. The seek comes before the start
    // instant so the two clocks begin together.
    seekMusicToShowTime(showStartOffsetMs);
    showStartInstant = timeGetTime();
}

void seekMusicToShowTime(int timeMs)
{
    DWORD rate = 0;
    if (timeMs <= 0 || musicStream == 0 || !platformAudioGetRate(musicStream, &rate))
        return;
    DWORD bytesPerSecond = musicBytesPerSecond(rate, platformAudioGetFlags(musicStream));
    // Whole frames only: 4 bytes per stereo 16-bit frame at most.
    std::uint64_t bytes = static_cast<std::uint64_t>(bytesPerSecond) * static_cast<std::uint64_t>(timeMs) / 1000u;
    bytes -= bytes % 4u;
    platformAudioSetPosition(musicStream, static_cast<DWORD>(bytes));
}

void drainMessages(HWND window)
{
    MSG message;
    while (platformPeekMessage(&message, window, 0, 0, PM_REMOVE))
        platformDispatchMessage(&message);
}

void runMainLoopTurn()
{
    drainMessages(mainWindow);
    // Unsigned 32-bit difference: survives the clock's wrap.
    int timeMs = static_cast<int>(static_cast<DWORD>(showStartOffsetMs) + (timeGetTime() - showStartInstant));
    float timeSeconds = static_cast<float>(timeMs * 0.001);
    Timeline(timeMs, timeSeconds);
    lastFrameTime = timeMs;
    dglSwapBuffers();
}

int WinMain() { return runShow(getDisplaySettings()); }

int runShow(const DisplaySettings& settings)
{
    createShellWindow(settings);
    loadAndPrecalc(mainWindow);
    startShow(settings);
    for (;;)
        runMainLoopTurn();
}
