// Scene 4: on every 430 ms beat one of three city clips, chosen at random,
// plays on a flat panel, forwards on one beat and backwards on the next.
// Behind: grey noise crossed by two copies of a line picture sliding in
// opposite directions; in front: a caption strip per clip and direction, a
// faint rising arrow tilted by the clip, a dark pulse per beat and a fade
// from white. Also owns the line picture that scene 6 draws.
// Depends on: dgl (state, pools, drawing), geometry (mesh, grid), effects
// (camera, screen quads, noise), resources (AVI streams, scratch bracket),
// kernel/random (the one generator).
#include "scenes/scenes.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/grid.h"
#include "geometry/mesh.h"
#include "kernel/random.h"
#include "resources/avi.h"
#include "resources/memory.h"

#include <cmath>

IDirect3DTexture8* cityLineTexture = nullptr;

namespace {

constexpr int SCENE_START = 88010;
constexpr float SCENE_START_SECONDS = 88.01f;
constexpr int BEAT_LENGTH = AVI_BEAT_MS;
constexpr int PULSE_LENGTH = 215;

// Made once by the precalculation (kept across state resets).
AviStream clips[3];
float clipSwingFactors[3] = {};
IDirect3DTexture8* videoTexture = nullptr;
Mesh panel;
IDirect3DTexture8* arrowTexture = nullptr;
// [clip][direction]: 0 forward beats, 1 backward beats.
IDirect3DTexture8* captionTextures[3][2] = {};

// Beat state: written only by renderCityClips, put back by resetCityClipsState.
BeatSwing swing;
int beatStart = 0;
int choice = -1;
float arrowAngle = 0.0f;
bool statePrepared = false;

void drawBackground(D3DCOLOR colour) {
    dglBindTexture(0, updateNoiseTexture());
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 256.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 256.0f, 0.0f, colour);
}

void copyClipFrame(int clip, float s) {
    const DglTextureLock lock = dglLockTexture(videoTexture);
    const std::int32_t frame = beatSwingFrame(swing, s, clips[clip].frameCount, clipSwingFactors[clip]);
    clips[clip].copyFrame(frame, lock.texels, lock.pitch);
    dglUnlockTexture(videoTexture);
}

} // namespace

void precalcCityClips() {
    clips[0].open("data/city.avi");
    clips[1].open("data/city2.avi");
    clips[2].open("data/city3.avi");

    videoTexture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    for (int i = 0; i < 3; ++i) {
        clipSwingFactors[i] = aviSwingFactor(clips[i].frameCount);
    }

    buildGridMesh(panel, 3.6f, 2.0f, 1, 1.0f, 0.9f, 0xFFFFFFFF);

    markScratchMemory();
    arrowTexture = dglCreateTextureFromFile("data/pijl-1.png", 256, 256, D3DFMT_A8R8G8B8, true);
    cityLineTexture = dglCreateTextureFromFile("data/line.png", 512, 512, D3DFMT_A8R8G8B8, true);
    captionTextures[0][0] = dglCreateTextureFromFile("data/levend10.png", 256, 16, D3DFMT_A8R8G8B8, false);
    captionTextures[0][1] = dglCreateTextureFromFile("data/levend11.png", 256, 16, D3DFMT_A8R8G8B8, false);
    captionTextures[1][0] = dglCreateTextureFromFile("data/levend20.png", 256, 16, D3DFMT_A8R8G8B8, false);
    captionTextures[1][1] = dglCreateTextureFromFile("data/levend21.png", 256, 16, D3DFMT_A8R8G8B8, false);
    captionTextures[2][0] = dglCreateTextureFromFile("data/levend30.png", 256, 16, D3DFMT_A8R8G8B8, false);
    captionTextures[2][1] = dglCreateTextureFromFile("data/levend31.png", 256, 16, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();
}

void renderCityClips(int t, float ts) {
    const int r = t - SCENE_START;
    const float s = ts - SCENE_START_SECONDS;
    if (!statePrepared) {
        dglResetState();
        dglClearDepthBuffer(1.0f);
        statePrepared = true;
    }

    dglSetTransform(D3DTS_WORLD, dglMatrixIdentity());
    dglSetVertexFormat(DGL_VERTEX_PNCT);
    dglDisable(DGL_DEPTH_TEST);
    dglDisable(DGL_DEPTH_WRITE);
    dglSetShadeMode(D3DSHADE_FLAT);

    // One beat per frame at most: flip the swing and pick the next clip.
    if (beatSwingAdvance(swing, r, s)) {
        beatStart = r;
        choice = rand15() % 6;
        if (choice < 2) {
            arrowAngle = -0.62831855f;
        } else if (choice < 4) {
            arrowAngle = 0.0f;
        } else {
            arrowAngle = -0.78539819f;
        }
    }
    // k below 2 is clip 1, 2 and 3 clip 2, 4 and 5 clip 3.
    const int clip = choice < 2 ? 0 : (choice < 4 ? 1 : 2);

    const D3DCOLOR grey = dglMakeColor(255, 65);
    drawBackground(grey);

    dglEnable(DGL_BLEND);
    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);

    const int slide = static_cast<int>(std::fmod(s * 0.6666667f, 1.0f) * 512.0f);
    dglBindTexture(0, cityLineTexture);
    drawScreenQuad(512.0f, 512.0f, 512.0f, 512.0f, 0.0f, static_cast<float>(slide), 0.0f, grey);
    drawScreenQuad(512.0f, 512.0f, 512.0f, 512.0f, 0.0f, static_cast<float>(-slide), 0.0f, grey);

    dglSetSourceBlend(D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ONE);

    copyClipFrame(clip, s);
    dglBindTexture(0, videoTexture);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, panel.vertexBuffer);
    dglBindIndexBuffer(panel.indexBuffer, 0);

    Camera camera;
    camera.target.x = static_cast<float>(20 - rand15() % 40) * 0.0015f;
    camera.target.y = static_cast<float>(20 - rand15() % 40) * 0.0015f;
    camera.applyProjection();
    camera.applyView();
    dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, panel.faceCount, 0, panel.vertexCount, 0);

    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    dglBindTexture(0, captionTextures[clip][swing.direction]);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 16.0f, -20.0f, 40.0f, 0.0f, 0xFFFFFFFF);

    const int rise = (r >= beatStart && r < beatStart + BEAT_LENGTH) ? (r - beatStart) / 10 : 0;
    dglSetDestinationBlend(D3DBLEND_ONE);
    dglBindTexture(0, arrowTexture);
    drawScreenQuad(512.0f, 512.0f, 128.0f, 128.0f, 382.0f, static_cast<float>(335 - rise), arrowAngle, 0x0FFFFFFF);

    dglDisable(DGL_BLEND);

    if (r >= beatStart && r < beatStart + PULSE_LENGTH) {
        drawScreenFade(214 - (r - beatStart), 0);
    }
    if (s < 3.0f) {
        drawScreenFade(255 - static_cast<int>(s * 85.0f), 255);
    }
}

void resetCityClipsState() {
    swing = BeatSwing();
    beatStart = 0;
    choice = -1;
    arrowAngle = 0.0f;
    statePrepared = false;
}

IDirect3DTexture8* cityClipsVideoTexture() { return videoTexture; }
