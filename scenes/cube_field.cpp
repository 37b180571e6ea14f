// Scene 5: a field of 26x26 lit cube columns pulsing in height, under a
// faint noise layer, a beat picture that changes on every beat, a jittering
// logo and a ring of ten photographs turning around the viewer. A grey pulse
// on each beat; a dip to black two thirds in, after which the columns glow
// orange.
// Depends on: dgl, effects (camera, screen quads, noise), geometry (3DS
// loader, mesh), resources (scratch memory), kernel (random generator).
#include "scenes/scenes.h"
#include "scenes/scene_views.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/mesh.h"
#include "geometry/model3ds.h"
#include "kernel/random.h"
#include "resources/memory.h"

#include <cmath>

namespace {

constexpr int SCENE_START_MS = 101778;
constexpr float SCENE_START_S = 101.778f;
constexpr int BEAT_MS = 429;
constexpr int FIELD_SIZE = 26;
constexpr int BEAT_PICTURE_COUNT = 5;
constexpr int PHOTO_COUNT = 10;

constexpr float PI = 3.14159265f;

const char* const beatPicturePaths[BEAT_PICTURE_COUNT] = {
    "data/onzin1.png", "data/onzin2.png", "data/onzin3.png", "data/onzin4.png", "data/onzin5.png",
};
// The first two live in the default pool, the others in the managed pool.
const bool beatPictureDefaultPool[BEAT_PICTURE_COUNT] = {true, true, false, false, false};
const char* const photoPaths[PHOTO_COUNT] = {
    "data/21.jpg", "data/22.jpg", "data/23.jpg", "data/24.jpg", "data/25.jpg",
    "data/26.jpg", "data/27.jpg", "data/28.jpg", "data/29.jpg", "data/29a.jpg",
};

// Made by the precalculation, kept for the whole run.
Mesh cube;
IDirect3DTexture8* beatPictures[BEAT_PICTURE_COUNT];
IDirect3DTexture8* logo;
IDirect3DTexture8* photos[PHOTO_COUNT];

// Per-run state, written only by the render step (and its reset).
Light light;
bool statePrepared = false;
int beatMark = -BEAT_MS;
int direction = 1;
int beatStart = 0;
int beatEnd = 0;
int timeOffset = 0;
int pictureCounter = -1;
float ringBaseAngle = 0.0f;
bool orange = false;

void prepareState()
{
    statePrepared = true;
    dglResetState();
    light.reset();
    dglEnableLight(0);
    dglEnable(DGL_NORMALIZE);
    dglSetVertexFormat(DGL_VERTEX_PNCT);
}

void quad512(float width, float height, float left, float top, D3DCOLOR color)
{
    drawScreenQuad(512.0f, 512.0f, width, height, left, top, 0.0f, color);
}

void drawCubeField(int r)
{
    const D3DCOLORVALUE white = dglMakeColorValue(0xFFFFFFFF);
    const D3DCOLORVALUE pink = dglMakeColorValue(0xFFAFFAFF);
    const D3DCOLORVALUE orangeLight = dglMakeColorValue(0xFFEB7444);
    const float rf = static_cast<float>(r);
    for (int i = 0; i < FIELD_SIZE; ++i) {
        for (int j = 0; j < FIELD_SIZE; ++j) {
            const float product = static_cast<float>(i * j);
            float height;
            if ((j & 1) != 0) {
                light.Diffuse = white;
                height = std::fabs(std::sin(0.0009f * rf + product)) * 7.0f + 1.0f;
            } else {
                light.Diffuse = pink;
                height = std::fabs(std::cos(0.0019f * rf + product)) * 6.0f + 1.0f;
            }
            if (orange) {
                light.Diffuse = orangeLight;
            }
            dglSetLight(0, light);
            const Matrix4 world =
                dglMatrixScale(1.0f, 1.0f, height) *
                dglMatrixTranslate(static_cast<float>(j) - 12.5f, static_cast<float>(i) - 13.0f, 3.0f - 0.5f * height);
            dglSetTransform(D3DTS_WORLD, world);
            dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, cube.faceCount, 0, cube.vertexCount, 0);
        }
    }
}

// One photograph of the ring: a square drawn from memory with its own view
// and projection, the renderer state saved around it like a screen quad.
void drawRingPhoto(IDirect3DTexture8* photo, float z, float angle)
{
    dglBindTexture(0, photo);
    const ScreenVertex vertices[6] = {
        {-0.8f, -0.8f, z, 0xFFFFFFFF, 0.0f, 1.0f}, {0.8f, -0.8f, z, 0xFFFFFFFF, 1.0f, 1.0f},
        {-0.8f, 0.8f, z, 0xFFFFFFFF, 0.0f, 0.0f},  {0.8f, 0.8f, z, 0xFFFFFFFF, 1.0f, 0.0f},
        {0.8f, -0.8f, z, 0xFFFFFFFF, 1.0f, 1.0f},  {-0.8f, 0.8f, z, 0xFFFFFFFF, 0.0f, 0.0f},
    };

    DglState saved;
    beginOverlay(saved, D3DCULL_NONE);
    dglSetTransform(D3DTS_VIEW, dglMatrixTranslate(0.0f, -1.2f, 4.0f) * dglMatrixRotateY(angle));
    // The builder takes radians: 90 here is 90 rad, which gives the ring its
    // horizontal scale of 1 / tan(45 rad), about 0.62, on purpose.
    dglSetTransform(D3DTS_PROJECTION, dglMatrixPerspective(90.0f, 1.0f, 0.1f, 10.0f));
    drawOverlayAndRestore(saved, vertices);
    dglSetCullMode(D3DCULL_CCW);
}

} // namespace

void precalcCubeField()
{
    loadMesh3ds(cube, "data/cube.3ds", 0, 0.9f, dglMakeColor(100, 110));
    centerMesh(cube);

    markScratchMemory();
    for (int i = 0; i < BEAT_PICTURE_COUNT; ++i) {
        // Requested 5152 wide; the loader clamps to what the device allows.
        beatPictures[i] = dglCreateTextureFromFile(beatPicturePaths[i], 5152, 512, D3DFMT_A8R8G8B8,
                                                   beatPictureDefaultPool[i]);
    }
    logo = dglCreateTextureFromFile("data/1.jpg", 256, 128, D3DFMT_R5G6B5, true);
    for (int i = 0; i < PHOTO_COUNT; ++i) {
        photos[i] = dglCreateTextureFromFile(photoPaths[i], 256, 128, D3DFMT_R5G6B5, true);
    }
    freeScratchMemory();
}

void renderCubeField(int t, float seconds)
{
    const int r = t - SCENE_START_MS;
    const float s = seconds - SCENE_START_S;

    if (r >= beatMark + BEAT_MS) {
        beatMark += BEAT_MS;
        direction = direction == 1 ? 0 : 1;
        beatStart = r;
        beatEnd = r + 214;
        timeOffset = rand15();
        pictureCounter += 1;
        if (pictureCounter > BEAT_PICTURE_COUNT - 1) {
            pictureCounter = 0;
        }
        ringBaseAngle = static_cast<float>(rand15());
    }
    if (!statePrepared) {
        prepareState();
    }

    dglClearColorBuffer(0x00000000);
    dglClearDepthBuffer(1.0f);
    dglEnable(DGL_LIGHTING);
    // The blend factors are the ONE, ONE the previous frame left: what this
    // scene draws with blending on adds up until the beat picture.
    dglEnable(DGL_BLEND);

    Camera camera;
    const float swayTime = static_cast<float>(r + timeOffset);
    camera.eye = Vector3(6.0f * std::sin(0.0005f * swayTime), 6.0f * std::sin(0.001f * swayTime), -22.0f);
    camera.roll = 3.0f * std::sin(0.0002f * swayTime);
    camera.fov = direction == 1 ? PI / 5.25f : PI / 3.75f;
    camera.applyView();
    camera.applyProjection();

    dglBindVertexBuffer(DGL_VERTEX_PNCT, cube.vertexBuffer);
    dglBindIndexBuffer(cube.indexBuffer, 0);
    drawCubeField(r);

    dglBindTexture(0, updateNoiseTexture());
    const D3DCOLOR noiseColor = dglMakeColor(192, 40);
    quad512(256.0f, 256.0f, 0.0f, 0.0f, noiseColor);
    quad512(256.0f, 256.0f, 256.0f, 0.0f, noiseColor);
    quad512(256.0f, 256.0f, 0.0f, 256.0f, noiseColor);
    quad512(256.0f, 256.0f, 256.0f, 256.0f, noiseColor);

    dglDisable(DGL_LIGHTING);
    // The destination factor stays ONE: the picture is added, weighted by its alpha.
    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    // Only a frame before the scene's first beat could see the counter at -1.
    dglBindTexture(0, beatPictures[pictureCounter < 0 ? 0 : pictureCounter]);
    quad512(512.0f, 512.0f, 0.0f, 0.0f, dglMakeColor(155, 155));

    dglSetSourceBlend(D3DBLEND_ONE);
    dglBindTexture(0, logo);
    const int logoTop = 10 + rand15() % 5;
    const int logoLeft = 10 + rand15() % 5;
    quad512(256.0f, 128.0f, static_cast<float>(logoLeft), static_cast<float>(logoTop), 0xFFFFFFFF);

    dglSetTransform(D3DTS_WORLD, dglMatrixIdentity());
    const float ringAngle = direction == 0 ? ringBaseAngle + s / 3.0f : ringBaseAngle - s / 2.0f;
    const float ringDepth = direction == 1 ? -1.25f : -2.0f;
    for (int k = 0; k < PHOTO_COUNT; ++k) {
        drawRingPhoto(photos[k], ringDepth, static_cast<float>(k) * 0.62831855f + ringAngle);
    }

    dglUnbindTexture(0);
    dglDisable(DGL_BLEND);

    if (beatStart <= r && r < beatEnd) {
        drawScreenFade(214 - (r - beatStart), 215);
    }
    if (18.316f < s && s < 18.816f) {
        drawScreenFade(static_cast<int>((s - 18.316f) * 510.0f), 0);
    }
    if (18.816f < s && s < 19.316f) {
        orange = true;
        drawScreenFade(255 - static_cast<int>((s - 18.816f) * 510.0f), 0);
    }
}

void resetCubeFieldState()
{
    light.reset();
    statePrepared = false;
    beatMark = -BEAT_MS;
    direction = 1;
    beatStart = 0;
    beatEnd = 0;
    timeOffset = 0;
    pictureCounter = -1;
    ringBaseAngle = 0.0f;
    orange = false;
}

CubeFieldView cubeFieldView()
{
    return {beatMark, direction, pictureCounter, orange};
}
