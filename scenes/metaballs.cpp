// Scene 1: a chrome blob of eight merging balls, cut to a 429 ms beat that
// starts at 2200 ms. Each beat moves the balls, rebuilds the surface, re-aims
// the camera and picks a shot (a photograph on white, or black with
// additive scrollers and photographs); the closing from 53680 ms shows the
// last blob under bright static with the title.
// Depends on: dgl (state, textures, drawing), geometry/metaballs (surface),
// effects (camera, screen quads, noise), resources/memory (scratch bracket),
// kernel/random (the one generator: the order of draws is part of the picture).
#include "scenes/scenes.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/metaballs.h"
#include "kernel/random.h"
#include "resources/memory.h"

#include <cmath>

namespace {

constexpr int BEAT_LENGTH = 429;
constexpr int FIRST_BEAT = 2200;
constexpr int CLOSING_START = 53680;
constexpr int SCENE_END = 57112;
constexpr int FLASH_LENGTH = 214;

constexpr float FOV_WIDE = 0.392699f;    // pi / 8
constexpr float FOV_NARROW = 0.349066f;  // pi / 9
constexpr float FOV_CLOSE_UP = 0.0897598f; // pi / 35
constexpr float FOV_CLOSING = 0.483322f; // pi / 6.5

// Textures, loaded once by the precalculation (kept across state resets).
IDirect3DTexture8* env1Texture = nullptr;
IDirect3DTexture8* env2Texture = nullptr;
IDirect3DTexture8* env3Texture = nullptr;
IDirect3DTexture8* titleTexture = nullptr;
IDirect3DTexture8* werdupTexture = nullptr;
IDirect3DTexture8* quonTexture = nullptr;
IDirect3DTexture8* linuxTexture = nullptr;
IDirect3DTexture8* vuzpatTexture = nullptr;
IDirect3DTexture8* stripesTexture = nullptr;
IDirect3DTexture8* scroll1Texture = nullptr;
IDirect3DTexture8* scroll2Texture = nullptr;
IDirect3DTexture8* eliteTexture = nullptr;
IDirect3DTexture8* zorTexture = nullptr;
IDirect3DTexture8* hiveTexture = nullptr;

Vector3 ballCentres[10];
MetaballSurface blob;

// Per-run state: written only by renderMetaballs, put back by resetMetaballsState.
bool sceneStarted = false;
int nextBeat = 1771;
int beatTime = 0;
int flashEnd = 0;
int shot = 2;
int flipMode = 0;
bool closeUp = false;
bool showNoise = false;
int hiveChance = 0;
bool swayOnY = false;
int pictureOffset = 64;
float scrollX = 0.0f;
float scrollY = 0.0f;
float scrollAngle = 0.0f;
int lastScrollX = 0;
float baseTargetX = 0.0f;
float baseTargetY = 0.0f;
int jitterX = 0;
int jitterY = 0;

// Until the first beat the camera is all zeros; the blob is not drawn then.
Camera zeroCamera() {
    Camera camera;
    camera.eye = Vector3();
    camera.target = Vector3();
    camera.roll = 0.0f;
    camera.fov = 0.0f;
    camera.aspect = 0.0f;
    return camera;
}

Camera sceneCamera = zeroCamera();

// trunc(37.5 - n): 37 down to 0, then 0 down to -36.
int centredOffset75() {
    return static_cast<int>(37.5f - static_cast<float>(rand15() % 75));
}

// Moves the shared jitter towards the raw offsets with the inertia k.
void shake(float inertia, int dx, int dy) {
    jitterX = static_cast<int>((1.0f - inertia) * static_cast<float>(dx) + inertia * static_cast<float>(jitterX));
    jitterY = static_cast<int>((1.0f - inertia) * static_cast<float>(dy) + inertia * static_cast<float>(jitterY));
}

// Raw offsets are passed in already drawn (dx before dy).
void drawPhotograph(IDirect3DTexture8* photograph, float inertia, int dx, int dy) {
    shake(inertia, dx, dy);
    dglBindTexture(0, photograph);
    drawScreenQuad(640.0f, 480.0f, 512.0f, 512.0f, static_cast<float>(jitterX + pictureOffset),
                   static_cast<float>(jitterY), 0.0f, 0xFFFFFFFF);
}

void drawScroller(IDirect3DTexture8* scroller, float inertia, int t, float ax, float ay, float angle) {
    const float time = static_cast<float>(t);
    const int rawX = static_cast<int>(ax * std::sin(0.0015f * time) + scrollX);
    const int rawY = static_cast<int>(ay * std::cos(0.00095f * time) + scrollY);
    shake(inertia, rawX, rawY);
    dglBindTexture(0, scroller);
    drawScreenQuad(512.0f, 512.0f, 512.0f, 128.0f, static_cast<float>(jitterX), static_cast<float>(jitterY),
                   angle, 0x9F9F9F9F);
}

bool inClosing(int t) { return t >= CLOSING_START && t < SCENE_END; }

void moveBalls(int t) {
    const float time = static_cast<float>(t);
    for (int i = 0; i < 8; ++i) {
        const float fi = static_cast<float>(i);
        Vector3& centre = ballCentres[i];
        if (flipMode == 1) {
            centre.x = 0.6f * std::sin(0.0029f * time + fi);
            centre.y = 0.6f * std::sin(static_cast<float>(i ^ 7) + 0.00175f * time);
            centre.z = 0.6f * std::cos(static_cast<float>(i ^ 5) + 0.00125f * time);
        } else {
            centre.x = 0.7f * std::sin(0.0029f * time + fi);
            centre.y = 0.6f * std::sin(static_cast<float>(i ^ 8) + 0.00275f * time);
            centre.z = 0.6f * std::cos(static_cast<float>(i ^ 5) + 0.00125f * time);
        }
    }
}

// Everything a beat outside the closing decides, in the generator's order.
void startBeat(int t, float zoom) {
    rand15(); // advances the generator only
    const float previous = 0.0005f * static_cast<float>(lastScrollX);
    scrollX = previous + 0.9995f * static_cast<float>(rand15() % 312 - 118);
    scrollY = previous + 0.9995f * static_cast<float>(rand15() % 412 - 64);
    scrollAngle = previous + 0.9995f * (rand15() == 1 ? 1.0f : 0.0f);
    lastScrollX = static_cast<int>(scrollX);

    showNoise = rand15() % 2 != 0;
    shot = rand15() % 6;
    pictureOffset = rand15() % 148 - 10;

    moveBalls(t);
    polygonizeMetaballs(blob);

    beatTime = t;
    flashEnd = t + FLASH_LENGTH;

    sceneCamera = Camera();
    sceneCamera.eye.z = -4.9f - zoom - 1.85f * std::fabs(std::sin(static_cast<float>(rand15())));
    sceneCamera.target.x = 0.37f * std::sin(static_cast<float>(rand15()));
    sceneCamera.target.y = 0.4f * std::cos(static_cast<float>(rand15()));
    baseTargetX = sceneCamera.target.x;
    baseTargetY = sceneCamera.target.y;

    swayOnY = rand15() % 2 != 0;

    sceneCamera.fov = flipMode == 1 ? FOV_NARROW : FOV_WIDE;
    const int closeUpDraw = rand15() % 8;
    if (closeUpDraw >= 5 && (shot == 1 || shot == 3 || shot == 5)) {
        closeUp = true;
        sceneCamera.fov = FOV_CLOSE_UP;
    } else {
        closeUp = false;
    }

    flipMode = 1 - flipMode;
    hiveChance = rand15() % 10;
}

void drawBackground(float inertia) {
    switch (shot) {
    case 0: {
        dglClearColorBuffer(0xFFFFFFFF);
        const int dx = 30 - rand15() % 60;
        const int dy = centredOffset75();
        drawPhotograph(werdupTexture, inertia, dx, dy);
        break;
    }
    case 2: {
        dglClearColorBuffer(0xFFFFFFFF);
        const int dx = 25 - rand15() % 55;
        const int dy = centredOffset75();
        drawPhotograph(linuxTexture, inertia, dx, dy);
        break;
    }
    case 4: {
        dglClearColorBuffer(0xFFFFFFFF);
        const int dx = 60 - rand15() % 55;
        const int dy = centredOffset75();
        drawPhotograph(eliteTexture, inertia, dx, dy);
        break;
    }
    case 5: {
        dglClearColorBuffer(0);
        if (closeUp) break;
        const int dx = 10 - rand15() % 40;
        const int dy = 20 - rand15() % 60;
        drawPhotograph(zorTexture, inertia, dx, dy);
        if (hiveChance >= 5) {
            dglEnable(DGL_BLEND);
            dglSetSourceBlend(D3DBLEND_SRCALPHA);
            dglBindTexture(0, hiveTexture);
            const int top = rand15() % 10 - 5;
            const int left = rand15() % 10 - 5;
            drawScreenQuad(512.0f, 512.0f, 522.0f, 522.0f, static_cast<float>(left), static_cast<float>(top),
                           0.0f, dglMakeColor(40, 85));
            dglSetSourceBlend(D3DBLEND_ONE);
            dglSetDestinationBlend(D3DBLEND_ONE);
            dglDisable(DGL_BLEND);
        }
        break;
    }
    default: // 1, 3 and the closing's -1
        dglClearColorBuffer(0);
        break;
    }
}

IDirect3DTexture8* blobEnvironment() {
    if (shot == 5) return closeUp ? stripesTexture : env3Texture;
    if (closeUp) return stripesTexture;
    if (flipMode == 0) return env2Texture;
    if (shot == 0 || shot == 2 || shot == 4) return env3Texture;
    return env1Texture;
}

void drawBlob(int t) {
    const float time = static_cast<float>(t);
    dglSetVertexFormat(DGL_VERTEX_PNC);
    dglBindVertexBuffer(DGL_VERTEX_PNC, blob.vertexBuffer);
    dglBindIndexBuffer(blob.indexBuffer, 0);
    dglSetTransform(D3DTS_WORLD, dglMatrixRotateX(0.0011f * time) * dglMatrixRotateY(0.00175f * time) *
                                     dglMatrixRotateZ(0.00075f * time));
    dglEnableEnvMapping(0);
    dglBindTexture(0, blobEnvironment());
    if (t > FIRST_BEAT) {
        dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, blob.faceCount, 0, blob.vertexCount, 0);
    }
    dglDisableEnvMapping(0);
}

// Grey static over everything (and the title in the closing), added to the frame.
void drawStaticFilm(int t, float inertia) {
    const bool closing = t > CLOSING_START && t < SCENE_END;
    int grey = 0;
    if (showNoise) {
        grey = flipMode == 1 ? 80 : 140;
    } else if (closing) {
        grey = 220;
    } else {
        return;
    }
    dglEnable(DGL_BLEND);
    dglBindTexture(0, updateNoiseTexture());
    const D3DCOLOR colour = dglMakeColor(255, grey);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 256.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 256.0f, 0.0f, colour);
    if (closing && !showNoise) {
        const int dx = 40 - rand15() % 58;
        const int dy = rand15() % 68 + 198;
        shake(inertia, dx, dy);
        dglBindTexture(0, titleTexture);
        drawScreenQuad(512.0f, 512.0f, 512.0f, 256.0f, static_cast<float>(jitterX), static_cast<float>(jitterY),
                       0.0f, 0xFFFFFFFF);
    }
    dglDisable(DGL_BLEND);
}

void drawBlackShotOverlays(int t, float inertia) {
    if (shot != 1 && shot != 3 && shot != 5) return;
    dglEnable(DGL_BLEND);
    if (shot == 1) {
        if (flipMode == 0) drawScroller(scroll2Texture, inertia, t, 40.0f, 65.0f, scrollAngle);
        const int dx = 20 - rand15() % 30;
        const int dy = centredOffset75();
        drawPhotograph(quonTexture, inertia, dx, dy);
    } else if (shot == 3) {
        if (flipMode == 1) drawScroller(scroll1Texture, inertia, t, 50.0f, 85.0f, 0.0f);
        const int dx = 30 - rand15() % 50;
        const int dy = centredOffset75();
        drawPhotograph(vuzpatTexture, inertia, dx, dy);
    } else {
        drawScroller(flipMode == 0 ? scroll2Texture : scroll1Texture, inertia, t, 50.0f, 55.0f, 0.0f);
        if (closeUp) {
            const int dx = 10 - rand15() % 40;
            const int dy = 20 - rand15() % 60;
            drawPhotograph(zorTexture, inertia, dx, dy);
        }
    }
    dglDisable(DGL_BLEND);
}

} // namespace

void precalcMetaballs() {
    initMetaballSurface(blob, 8, ballCentres, 46, 3.0f, 17.25f, 16000);

    markScratchMemory();
    env1Texture = dglCreateTextureFromFile("Data/env1.jpg", 256, 256, D3DFMT_A8R8G8B8, false);
    env2Texture = dglCreateTextureFromFile("Data/env2.jpg", 256, 256, D3DFMT_A8R8G8B8, false);
    env3Texture = dglCreateTextureFromFile("Data/env3.jpg", 256, 256, D3DFMT_R5G6B5, false);
    titleTexture = dglCreateTextureFromFile("Data/title.jpg", 512, 256, D3DFMT_R5G6B5, false);
    werdupTexture = dglCreateTextureFromFile("Data/werdup.jpg", 512, 512, D3DFMT_R5G6B5, false);
    quonTexture = dglCreateTextureFromFile("Data/quon.jpg", 512, 512, D3DFMT_R5G6B5, false);
    linuxTexture = dglCreateTextureFromFile("Data/linux.jpg", 512, 512, D3DFMT_R5G6B5, false);
    vuzpatTexture = dglCreateTextureFromFile("Data/vuzpat.jpg", 512, 512, D3DFMT_R5G6B5, false);
    stripesTexture = dglCreateTextureFromFile("Data/stripes.jpg", 512, 512, D3DFMT_R5G6B5, false);
    scroll1Texture = dglCreateTextureFromFile("Data/scroll1.jpg", 512, 128, D3DFMT_R5G6B5, false);
    scroll2Texture = dglCreateTextureFromFile("Data/scroll2.jpg", 512, 128, D3DFMT_R5G6B5, false);
    eliteTexture = dglCreateTextureFromFile("Data/elite.jpg", 512, 512, D3DFMT_R5G6B5, false);
    zorTexture = dglCreateTextureFromFile("Data/zor.jpg", 512, 512, D3DFMT_R5G6B5, false);
    hiveTexture = dglCreateTextureFromFile("data/hive.png", 512, 512, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();
}

void renderMetaballs(int t, float s) {
    if (!sceneStarted) {
        dglResetState();
        dglEnableLight(0);
        dglEnable(DGL_LIGHTING);
        sceneStarted = true;
    }

    const float zoom = s < 25.0f ? 6.25f - 0.25f * s : 0.0f;
    const float inertia = t <= CLOSING_START ? 0.92f - 0.0065f * s : 0.92f;

    // One beat per frame at most, so a slow frame catches up over the next ones.
    if (t >= nextBeat + BEAT_LENGTH) {
        nextBeat += BEAT_LENGTH;
        if (inClosing(t)) {
            sceneCamera.fov = FOV_CLOSING;
            shot = -1;
            showNoise = false;
            closeUp = false;
            hiveChance = 0;
        } else {
            startBeat(t, zoom);
        }
    }

    drawBackground(inertia);
    dglClearDepthBuffer(1.0f);

    if (!closeUp) {
        float sway = 0.0f;
        if (t >= beatTime && t < beatTime + 428) {
            sway = static_cast<float>(BEAT_LENGTH - (t - beatTime) / 4) * 0.002f;
        }
        if (flipMode == 1) sway = -sway;
        if (swayOnY) {
            sceneCamera.target.y = baseTargetY + sway;
        } else {
            sceneCamera.target.x = baseTargetX + sway;
        }
    }
    sceneCamera.applyView();
    sceneCamera.applyProjection();

    drawBlob(t);
    drawStaticFilm(t, inertia);

    if (t > CLOSING_START && t < SCENE_END) return;

    drawBlackShotOverlays(t, inertia);

    if (t >= beatTime && t < flashEnd) {
        const int grey = (shot == 1 || shot == 3 || shot == 5) ? 255 : 0;
        drawScreenFade((beatTime - t - 6) & 0xFF, grey);
    }
    if (s < 15.0f) {
        drawScreenFade(static_cast<int>(255.0f - 17.0f * s), 0);
    }
}

void resetMetaballsState() {
    sceneStarted = false;
    for (Vector3& centre : ballCentres) centre = Vector3();
    sceneCamera = zeroCamera();
    nextBeat = 1771;
    beatTime = 0;
    flashEnd = 0;
    shot = 2;
    flipMode = 0;
    closeUp = false;
    showNoise = false;
    hiveChance = 0;
    swayOnY = false;
    pictureOffset = 64;
    scrollX = 0.0f;
    scrollY = 0.0f;
    scrollAngle = 0.0f;
    lastScrollX = 0;
    baseTargetX = 0.0f;
    baseTargetY = 0.0f;
    jitterX = 0;
    jitterY = 0;
}
