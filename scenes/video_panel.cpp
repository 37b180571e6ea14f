// Scene 7: a clip swinging forwards and backwards on the beat on a panel
// drawn eight times over itself (a glowing zoom echo), over dim static, with
// a banner on top, three credit captions that cross-fade at the bottom and
// two spinning stars; fades in from black and out to black.
// Depends on: dgl, effects (camera, screen quads, noise), geometry (grid),
// resources (AVI streams, scratch memory).
#include "scenes/scenes.h"
#include "scenes/scene_views.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/grid.h"
#include "geometry/mesh.h"
#include "resources/avi.h"
#include "resources/memory.h"

namespace {

constexpr int SCENE_START_MS = 139570;
constexpr float SCENE_START_S = 139.57f;
constexpr int PANEL_PASSES = 8;

// Made by the precalculation, kept for the whole run.
Mesh panel;
IDirect3DTexture8* videoTexture;
AviStream clip;
int clipFrameCount;
float clipSwingFactor;
IDirect3DTexture8* starTexture;
IDirect3DTexture8* bannerTexture;
IDirect3DTexture8* codeTexture;
IDirect3DTexture8* gfxTexture;
IDirect3DTexture8* praltTexture;

// Per-run state, written only by the render step (and its reset).
BeatSwing swing;
bool statePrepared = false;

void quad512(float width, float height, float left, float top, float angle, D3DCOLOR color)
{
    drawScreenQuad(512.0f, 512.0f, width, height, left, top, angle, color);
}

// Alpha and grey both a: the caption fades in brightness and opacity together.
D3DCOLOR fadeColor(float a)
{
    const int value = static_cast<int>(a);
    return dglMakeColor(value, value);
}

} // namespace

VideoPanelCaption videoPanelCaption(int r)
{
    if (r < 5160) {
        return {VIDEO_PANEL_CODE, 85, 0xFFFFFFFF};
    }
    if (r < 5660) {
        return {VIDEO_PANEL_CODE, 85, fadeColor(255.0f - static_cast<float>(r - 5160) * 0.002f * 255.0f)};
    }
    if (r < 6160) {
        return {VIDEO_PANEL_GFX, 85, fadeColor(static_cast<float>(r - 5660) * 0.002f * 255.0f)};
    }
    if (r < 10320) {
        return {VIDEO_PANEL_GFX, 85, 0xFFFFFFFF};
    }
    if (r < 10820) {
        return {VIDEO_PANEL_GFX, 85, fadeColor(255.0f - static_cast<float>(r - 10320) * 0.002f * 255.0f)};
    }
    if (r < 11320) {
        return {VIDEO_PANEL_PRALT, 114, fadeColor(static_cast<float>(r - 10820) * 0.002f * 255.0f)};
    }
    return {VIDEO_PANEL_PRALT, 114, 0xFFFFFFFF};
}

void precalcVideoPanel()
{
    buildGridMesh(panel, 3.9f, 2.0f, 1, 1.0f, 0.9f, dglMakeColor(200, 30));
    videoTexture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    clip.open("data/pats.avi");
    clipFrameCount = static_cast<int>(clip.frameCount);
    clipSwingFactor = aviSwingFactor(clip.frameCount);

    markScratchMemory();
    starTexture = dglCreateTextureFromFile("data/star03.tga", 128, 128, D3DFMT_A8R8G8B8, false);
    bannerTexture = dglCreateTextureFromFile("data/ov2.tga", 512, 128, D3DFMT_A8R8G8B8, false);
    codeTexture = dglCreateTextureFromFile("data/code.tga", 256, 128, D3DFMT_A8R8G8B8, false);
    gfxTexture = dglCreateTextureFromFile("data/gfx.tga", 256, 128, D3DFMT_A8R8G8B8, false);
    praltTexture = dglCreateTextureFromFile("data/pralt.tga", 256, 128, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();
}

void renderVideoPanel(int t, float seconds)
{
    // Drawn with whatever blend state the previous frame left (blending off).
    dglBindTexture(0, updateNoiseTexture());
    const D3DCOLOR backgroundColor = dglMakeColor(255, 80);
    quad512(256.0f, 256.0f, 0.0f, 0.0f, 0.0f, backgroundColor);
    quad512(256.0f, 256.0f, 256.0f, 0.0f, 0.0f, backgroundColor);
    quad512(256.0f, 256.0f, 0.0f, 256.0f, 0.0f, backgroundColor);
    quad512(256.0f, 256.0f, 256.0f, 256.0f, 0.0f, backgroundColor);

    dglClearDepthBuffer(1.0f);
    const int r = t - SCENE_START_MS;
    const float s = seconds - SCENE_START_S;
    if (!statePrepared) {
        dglResetState();
        dglSetVertexFormat(DGL_VERTEX_PNCT);
        statePrepared = true;
    }

    beatSwingAdvance(swing, r, s);
    const int frame = beatSwingFrame(swing, s, static_cast<std::uint32_t>(clipFrameCount), clipSwingFactor);
    const DglTextureLock lock = dglLockTexture(videoTexture);
    clip.copyFrame(frame, lock.texels, lock.pitch);
    dglUnlockTexture(videoTexture);

    dglBindTexture(0, videoTexture);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, panel.vertexBuffer);
    dglBindIndexBuffer(panel.indexBuffer, 0);

    // Blend factors are ONE, ONE (left by the previous frame or the reset):
    // the passes add up, each a little larger than the one before.
    Camera camera;
    dglEnable(DGL_BLEND);
    for (int i = 0; i < PANEL_PASSES; ++i) {
        camera.eye.z = static_cast<float>(i) * 0.015f - 4.0f;
        camera.applyProjection();
        camera.applyView();
        dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, panel.faceCount, 0, panel.vertexCount, 0);
    }

    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    dglBindTexture(0, bannerTexture);
    quad512(512.0f, 90.0f, 0.0f, 0.0f, 0.0f, 0xFFFFFFFF);

    dglSetDestinationBlend(D3DBLEND_ONE);
    const VideoPanelCaption caption = videoPanelCaption(r);
    IDirect3DTexture8* const captionTextures[3] = {codeTexture, gfxTexture, praltTexture};
    dglBindTexture(0, captionTextures[caption.picture]);
    quad512(356.0f, 128.0f, static_cast<float>(caption.left), 398.0f, 0.0f, caption.color);

    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    dglBindTexture(0, starTexture);
    const float starAngle = static_cast<float>(r) * 0.0005f;
    quad512(42.0f, 42.0f, 3.0f, 440.0f, starAngle, 0xFFFFFFFF);
    quad512(42.0f, 42.0f, 467.0f, 440.0f, -starAngle, 0xFFFFFFFF);

    dglSetSourceBlend(D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ONE);
    dglDisable(DGL_BLEND);

    if (s < 7.0f) {
        drawScreenFade(255 - static_cast<int>(s * 36.42857f), 0);
    }
    if (r > 15480) {
        drawScreenFade(static_cast<int>((s - 15.48f) * 127.5f), 0);
    }
}

void resetVideoPanelState()
{
    swing = BeatSwing();
    statePrepared = false;
}
