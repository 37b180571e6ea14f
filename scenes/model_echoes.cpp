// Scene 2: a spinning model drawn ten times, environment-mapped, into a
// square render target, laid six times additively on a panel over a noise
// background; a 428 ms beat flips a portrait, shows a caption word on every
// second beat with a zoom punch, and flashes. The finale from 13696 ms fixes
// the caption, brightens the background and fades towards white.
// Depends on: dgl (state, pools, render targets, drawing), geometry (mesh,
// 3DS loader, grid), effects (camera, screen quads, noise),
// resources/memory (scratch bracket), kernel/random (the one generator).
#include "scenes/scenes.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/grid.h"
#include "geometry/mesh.h"
#include "geometry/model3ds.h"
#include "kernel/random.h"
#include "resources/memory.h"

#include <cmath>

namespace {

constexpr int SCENE_START = 57112;
constexpr float SCENE_START_SECONDS = 57.112f;
constexpr int BEAT_LENGTH = 428;
constexpr int FINALE_START = 13696;
constexpr int SCENE_LENGTH = 17202;
constexpr int FLASH_LENGTH = 214;
constexpr float PI = 3.14159265f;

// Made once by the precalculation (kept across state resets).
IDirect3DTexture8* portraitA = nullptr;
IDirect3DTexture8* portraitB = nullptr;
IDirect3DTexture8* environmentMap = nullptr;
IDirect3DTexture8* finalCaption = nullptr;
IDirect3DTexture8* captions[4] = {};
IDirect3DTexture8* banner = nullptr;
IDirect3DTexture8* echoTarget = nullptr;
IDirect3DSurface8* echoDepth = nullptr;
Mesh model;
Mesh panel;

// Beat state: written only by renderModelEchoes, put back by resetModelEchoesState.
int lastBeat = -BEAT_LENGTH;
bool toggle = true;
int flashStart = 0;
int flashEnd = 0;
int caption = 3;
bool finale = false;
bool initialised = false;

void drawMesh(const Mesh& mesh) {
    dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, mesh.faceCount, 0, mesh.vertexCount, 0);
}

void advanceBeat(int r) {
    if (r < lastBeat + BEAT_LENGTH) return;
    lastBeat += BEAT_LENGTH;
    if (r >= FINALE_START && r < SCENE_LENGTH) {
        finale = true;
        return;
    }
    flashStart = r;
    flashEnd = r + FLASH_LENGTH;
    toggle = !toggle;
    if (toggle) {
        // A caption never shows on two caption beats in a row.
        const int previous = caption;
        do {
            caption = rand15() % 4;
        } while (caption == previous);
    }
}

// The model ten times, nested, each with its own spin phase.
void drawEchoes(int r) {
    dglSetRenderTarget(echoTarget, echoDepth);
    dglClearColorBuffer(0x00000000);
    dglClearDepthBuffer(1.0f);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, model.vertexBuffer);
    dglBindIndexBuffer(model.indexBuffer, 0);
    dglBindTexture(0, environmentMap);
    dglEnableEnvMapping(0);
    const float time = static_cast<float>(r);
    const float spin = toggle ? -time : time;
    for (int i = 0; i < 10; ++i) {
        const float k = 0.2f * static_cast<float>(i + 2);
        Camera camera;
        camera.eye.z = -30.0f * k;
        camera.applyView();
        camera.applyProjection();
        dglSetTransform(D3DTS_WORLD, dglMatrixRotateX(spin * k * 0.003f) *
                                         dglMatrixRotateY(time * 0.00015f + k) *
                                         dglMatrixRotateZ(time * 0.0001f + k));
        drawMesh(model);
    }
    dglDisableEnvMapping(0);
    dglSetRenderTarget(nullptr, nullptr);
    dglClearDepthBuffer(1.0f);
}

void drawBackground() {
    dglBindTexture(0, updateNoiseTexture());
    const D3DCOLOR colour = dglMakeColor(192, finale ? 160 : 60);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 256.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 256.0f, 0.0f, colour);
}

// Six additive copies of the echo texture, each nearer and turned further.
void drawPanelCopies(int r) {
    Camera camera;
    camera.target = Vector3(0.35f, 0.0f, 0.0f);
    float h = 4.0f;
    if (toggle && r >= flashStart && r < flashEnd) {
        h = 8.56f - static_cast<float>(r - flashStart) * 0.04f + 4.0f;
    }
    camera.fov = PI / h;

    dglDisable(DGL_LIGHTING);
    dglEnable(DGL_BLEND);
    // The depth buffer was cleared after the echoes and each copy lies
    // nearer than the one before, so every fragment would pass the test;
    // nothing reads what they would write (overlays follow, the next frame
    // clears first). Without both the rasteriser skips the depth work.
    dglDisable(DGL_DEPTH_TEST);
    dglDisable(DGL_DEPTH_WRITE);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, panel.vertexBuffer);
    dglBindIndexBuffer(panel.indexBuffer, 0);
    dglBindTexture(0, echoTarget);
    for (int j = 0; j < 6; ++j) {
        camera.eye.z = 0.1f * static_cast<float>(j) - 3.4f;
        camera.applyView();
        camera.applyProjection();
        dglSetTransform(D3DTS_WORLD, dglMatrixRotateZ(static_cast<float>(j) * 0.000001f * static_cast<float>(r)));
        drawMesh(panel);
    }
    dglEnable(DGL_DEPTH_TEST);
    dglEnable(DGL_DEPTH_WRITE);
    dglEnable(DGL_LIGHTING);
}

void drawPortrait() {
    dglBindTexture(0, toggle ? portraitB : portraitA);
    int left = 0;
    int top = 0;
    if (finale) {
        left = 384 + rand15() % 10;
        top = 0;
    } else if (toggle) {
        top = rand15() % 7 - 7;
        left = 384 + rand15() % 4;
    } else {
        top = rand15() % 4 - 4;
        left = 384 + rand15() % 2;
    }
    drawScreenQuad(640.0f, 480.0f, 256.0f, 512.0f, static_cast<float>(left), static_cast<float>(top), 0.0f,
                   0xFFFFFFFF);
}

void drawCaption() {
    if (!toggle) return;
    int top = 0;
    int left = 0;
    if (finale) {
        dglBindTexture(0, finalCaption);
        top = rand15() % 10 - 20;
        left = rand15() % 10 - 30;
    } else {
        dglBindTexture(0, captions[caption]);
        if (rand15() % 4 >= 2) {
            top = rand15() % 20 - 50;
            left = rand15() % 30 - 60;
        } else {
            top = rand15() % 10 - 20;
            left = rand15() % 10 - 30;
        }
    }
    drawScreenQuad(640.0f, 480.0f, 512.0f, 256.0f, static_cast<float>(left), static_cast<float>(top), 0.0f,
                   0xFFFFFFFF);
}

} // namespace

void precalcModelEchoes() {
    markScratchMemory();
    portraitA = dglCreateTextureFromFile("data/brisko.tga", 256, 512, D3DFMT_A8R8G8B8, false);
    portraitB = dglCreateTextureFromFile("data/brisko2.tga", 256, 512, D3DFMT_A8R8G8B8, false);
    environmentMap = dglCreateTextureFromFile("data/glimenv.jpg", 256, 256, D3DFMT_A8R8G8B8, false);
    finalCaption = dglCreateTextureFromFile("data/allez.tga", 512, 256, D3DFMT_A8R8G8B8, false);
    captions[1] = dglCreateTextureFromFile("data/zutalors.tga", 512, 256, D3DFMT_A8R8G8B8, false);
    captions[0] = dglCreateTextureFromFile("data/bonsang.tga", 512, 256, D3DFMT_A8R8G8B8, false);
    captions[2] = dglCreateTextureFromFile("data/pipe.tga", 512, 256, D3DFMT_A8R8G8B8, false);
    captions[3] = dglCreateTextureFromFile("data/rvb.tga", 512, 256, D3DFMT_A8R8G8B8, false);
    banner = dglCreateTextureFromFile("data/overlay-zoveel.png", 512, 128, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();

    echoTarget = dglCreateTexture(512, 512, true, D3DFMT_A8R8G8B8);
    echoDepth = dglCreateDepthBuffer(512, 512, D3DFMT_A8R8G8B8);

    loadMesh3ds(model, "data/vorn02.3ds", 0, 0.02f, 0xFFFFFFFF);
    centerMesh(model);
    buildGridMesh(panel, 2.8f, 2.5f, 1, 1.0f, 1.0f, 0x3F3F3F3F);
}

void renderModelEchoes(int t, float ts) {
    const int r = t - SCENE_START;
    const float s = ts - SCENE_START_SECONDS;

    if (!initialised) {
        dglResetState();
        dglClearDepthBuffer(1.0f);
        dglEnable(DGL_LIGHTING);
        dglEnableLight(0);
        dglSetVertexFormat(DGL_VERTEX_PNCT);
        initialised = true;
    }

    advanceBeat(r);
    drawEchoes(r);
    drawBackground();
    drawPanelCopies(r);

    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    drawPortrait();
    drawCaption();
    dglBindTexture(0, banner);
    drawScreenQuad(512.0f, 512.0f, 512.0f, 128.0f, 0.0f, 404.0f, 0.0f, dglMakeColor(50, 255));
    dglSetSourceBlend(D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ONE);
    dglDisable(DGL_BLEND);

    if (r >= flashStart && r < flashEnd) {
        drawScreenFade(230 - (r - flashStart), toggle ? 205 : 20);
    }
    if (s > 8.0f && s < 13.696f) {
        drawScreenFade(static_cast<int>((s - 8.0f) * 20.4f), 0);
    } else if (s >= 13.696f) {
        drawScreenFade(static_cast<int>((s - 13.696f) * 51.0f), 255);
    }
}

void resetModelEchoesState() {
    lastBeat = -BEAT_LENGTH;
    toggle = true;
    flashStart = 0;
    flashEnd = 0;
    caption = 3;
    finale = false;
    initialised = false;
}
