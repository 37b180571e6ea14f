// The load sequence and its progress screen: a white bar growing by step,
// seen through the windows (alpha 1) of the progress picture.
// Depends on: resources (files, memory), dgl, effects/screen_quad.h,
// scenes/scenes.h, kernel/timeline.h, kernel/messages.h, kernel/random.h,
// platform/window.h.
#include "kernel/loader.h"

#include "effects/screen_quad.h"
#include "kernel/messages.h"
#include "kernel/random.h"
#include "kernel/timeline.h"
#include "platform/window.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "scenes/scenes.h"

#include <cstring>

BYTE randomTable[RANDOM_TABLE_SIZE];
IDirect3DTexture8* noiseTexture = nullptr;
IDirect3DTexture8* progressTexture = nullptr;

const PrecalcStep SCENE_PRECALC_STEPS[LOAD_STEP_COUNT] = {
    precalcMetaballs, precalcModelEchoes, precalcWaveWhirl,   precalcCityClips,
    precalcCubeField, precalcKnotSprites, precalcVideoPanel, precalcBranchSculpture,
};

namespace {

// The window whose queue the progress screen drains.
HWND progressWindow = nullptr;

void writeLogLine(const char* text)
{
    const char* line = formatMessage(text);
    writeToFile(loadingLog, line, static_cast<DWORD>(std::strlen(line)));
}

} // namespace

int progressBarWidth(int step) { return 28 * step + 185; }

void showProgress(int step)
{
    writeLogLine("->updating progress stuff\r\n");
    dglClearColorBuffer(0);

    drawScreenQuad(640.0f, 480.0f, static_cast<float>(progressBarWidth(step)), 256.0f, 64.0f, 112.0f, 0.0f,
                   0xFFFFFFFFu);

    // Picture x (1 - picture alpha) + frame x picture alpha: the bar shows
    // through where the picture's alpha is 1.
    dglEnable(DGL_BLEND);
    dglSetSourceBlend(D3DBLEND_INVSRCALPHA);
    dglSetDestinationBlend(D3DBLEND_SRCALPHA);
    dglBindTexture(0, progressTexture);
    drawScreenQuad(640.0f, 480.0f, 512.0f, 256.0f, 64.0f, 112.0f, 0.0f, 0xFFFFFFFFu);
    dglUnbindTexture(0);
    dglDisable(DGL_BLEND);

    MSG message;
    while (platformPeekMessage(&message, progressWindow, 0, 0, PM_REMOVE)) {
        platformDispatchMessage(&message);
    }

    dglSwapBuffers();
}

void beginLoadSequence(HWND window)
{
    loadingLog = createFile("pimplog");
    writeLogLine("kernel->direct3d8 device + dgl renderer + random resource managers ready\r\n");
    writeLogLine("kernel->spaceTimes.log assigned for the famous tap-the-space timing 'system' ;)\r\n");
    writeLogLine("initialize->warming up the pixel oven, please hold the line\r\n");

    progressWindow = window;

    noiseTexture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    for (int i = 0; i < RANDOM_TABLE_SIZE; ++i) {
        randomTable[i] = static_cast<BYTE>(rand15() % 225);
    }

    markScratchMemory();
    progressTexture = dglCreateTextureFromFile("data/houjebek.tga", 512, 256, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();

    writeLogLine("initialized progress stuff\r\nloading datafiles/precalcing..\r\n");

    showProgress(0);
}

void runLoadStep(const PrecalcStep steps[LOAD_STEP_COUNT], int step)
{
    steps[step]();
    showProgress(step + 1);
}

void finishLoadSequence(HWND window, MusicStart musicStart) { musicStart(window); }

void runLoadSequence(HWND window, const PrecalcStep steps[LOAD_STEP_COUNT], MusicStart musicStart)
{
    beginLoadSequence(window);
    for (int step = 0; step < LOAD_STEP_COUNT; ++step)
        runLoadStep(steps, step);
    finishLoadSequence(window, musicStart);
}

void loadAndPrecalc(HWND window) { runLoadSequence(window, SCENE_PRECALC_STEPS, startMusic); }
