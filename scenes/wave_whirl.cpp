// Scene 3: a finely divided sheet bent into a rolling wave every frame,
// drawn as a textured wireframe into a render target, then smeared into a
// whirl by seven additive, slightly turned copies on a panel; noise behind,
// a shaking overlay in front, a 428 ms beat pulse (white after 10.3 s) and a
// fade from white.
// Depends on: dgl (state, pools, render targets, drawing), geometry (mesh,
// grid), effects (camera, screen quads, noise), resources/memory (rest copy,
// scratch bracket), kernel/random (the one generator).
#include "scenes/scenes.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/grid.h"
#include "geometry/mesh.h"
#include "kernel/random.h"
#include "resources/memory.h"

#include <cmath>

namespace {

constexpr int SCENE_START = 74314;
constexpr float SCENE_START_SECONDS = 74.314f;
constexpr int BEAT_LENGTH = 428;
constexpr int WHITE_FROM = 10272;
constexpr int SCENE_LENGTH = 13696;
constexpr int PULSE_LENGTH = 214;

// Made once by the precalculation (kept across state resets).
Mesh panel;
Mesh sheet;
MeshVertex* restVertices = nullptr;
IDirect3DTexture8* renderTexture = nullptr;
IDirect3DSurface8* renderDepth = nullptr;
IDirect3DTexture8* wireTexture = nullptr;
IDirect3DTexture8* overlayTexture = nullptr;

// Beat state: written only by renderWaveWhirl, put back by resetWaveWhirlState.
int beatMark = -BEAT_LENGTH;
int pulseStart = 0;
int pulseEnd = 0;
bool whitePulse = false;
float jitterX = 0.0f;
float jitterY = 0.0f;
bool statePrepared = false;

float randomJitter() {
    return static_cast<float>(rand15() % 2000 - 1000) * 0.0001f;
}

// Bends the sheet from its rest copy and uploads it with the frame's grey.
void deformSheet(int r, float s) {
    const int grey = static_cast<int>(s * 0.05263158f * 100.0f + 25.0f) & 0xFF;
    const D3DCOLOR colour = dglMakeColor(255, grey);
    const float time = static_cast<float>(r);
    const float cosTurn = std::cos(0.0011f * time);
    const float sinTurn = std::sin(0.0014f * time);
    for (int i = 0; i < sheet.vertexCount; ++i) {
        const Vector3 rest = restVertices[i].position;
        const float a = std::sin(static_cast<float>(i) + 0.0026f * time + rest.y + rest.x);
        const float length = std::sqrt(rest.z * rest.z + rest.y * rest.y + rest.x * rest.x);
        const float b = std::sin(4.0f * rest.z + 8.0f * rest.y + 10.0f * rest.x + 0.0008f * time);
        const float h = (length * a + b + 1.3f) * 0.11f;
        const float phi = cosTurn * h + sinTurn * rest.x + 0.0005f * time;
        const float cosPhi = std::cos(phi);
        const float sinPhi = std::sin(phi);
        MeshVertex& vertex = sheet.vertices[i];
        vertex.position = Vector3(rest.x, cosPhi * h + sinPhi * rest.y, sinPhi * h - cosPhi * rest.y);
        vertex.diffuse = colour;
    }
    uploadMesh(sheet);
}

// The triangle index list read as pairs: 1.5 lines per face.
void drawWireframe() {
    dglSetRenderTarget(renderTexture, renderDepth);
    dglClearColorBuffer(0x00000000);
    Camera camera;
    camera.fov = 1.0471976f;
    camera.applyView();
    camera.applyProjection();
    dglBindTexture(0, wireTexture);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, sheet.vertexBuffer);
    dglBindIndexBuffer(sheet.indexBuffer, 0);
    dglDrawIndexedPrimitives(D3DPT_LINELIST, static_cast<int>(static_cast<float>(sheet.faceCount) * 1.5f), 0,
                             sheet.vertexCount, 0);
    dglSetRenderTarget(nullptr, nullptr);
}

void drawBackground() {
    dglSetTextureFilter(0, D3DTEXF_NONE);
    dglBindTexture(0, updateNoiseTexture());
    const D3DCOLOR colour = dglMakeColor(192, whitePulse ? 100 : 40);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 0.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 256.0f, 0.0f, colour);
    drawScreenQuad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 256.0f, 0.0f, colour);
    dglSetTextureFilter(0, D3DTEXF_LINEAR);
}

// Seven additive copies of the wireframe picture, each turned a little further.
void drawWhirl(int r) {
    const float time = static_cast<float>(r);
    dglEnable(DGL_BLEND);
    dglBindTexture(0, renderTexture);
    Camera camera;
    camera.applyView();
    camera.applyProjection();
    dglBindVertexBuffer(DGL_VERTEX_PNCT, panel.vertexBuffer);
    dglBindIndexBuffer(panel.indexBuffer, 0);
    for (int i = 0; i < 7; ++i) {
        const float pass = static_cast<float>(i);
        dglSetTransform(D3DTS_WORLD, dglMatrixRotateZ(pass * 0.0001f * time));
        camera.target.x = std::sin(pass * 3.5e-6f * time) * 0.11f + jitterX - 0.4f;
        camera.target.y = std::cos(pass * 2.5e-6f * time) * 0.11f + jitterY;
        camera.eye.z = pass * 0.01f - 4.0f;
        camera.applyView();
        camera.applyProjection();
        dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, panel.faceCount, 0, panel.vertexCount, 0);
    }
}

} // namespace

void precalcWaveWhirl() {
    buildGridMesh(panel, 3.8f, 3.0f, 1, 1.0f, 1.0f, 0xFFFFFFFF);
    renderTexture = dglCreateTexture(512, 512, true, D3DFMT_A8R8G8B8);
    renderDepth = dglCreateDepthBuffer(512, 512, D3DFMT_A8R8G8B8);
    buildGridMesh(sheet, 5.0f, 3.0f, 50, 4.0f, 4.0f, 0x8F8F8F8F);

    restVertices = static_cast<MeshVertex*>(
        allocateMemory(static_cast<std::uint32_t>(sheet.vertexCount) * sizeof(MeshVertex)));
    for (int i = 0; i < sheet.vertexCount; ++i) restVertices[i] = sheet.vertices[i];

    markScratchMemory();
    wireTexture = dglCreateTextureFromFile("data/wirenv.jpg", 256, 256, D3DFMT_R5G6B5, false);
    overlayTexture = dglCreateTextureFromFile("data/merde.tga", 512, 512, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();
}

void renderWaveWhirl(int t, float ts) {
    dglSetTransform(D3DTS_WORLD, dglMatrixIdentity());
    const int r = t - SCENE_START;
    const float s = ts - SCENE_START_SECONDS;
    if (!statePrepared) {
        dglResetState();
        dglSetVertexFormat(DGL_VERTEX_PNCT);
        dglDisable(DGL_DEPTH_TEST);
        dglDisable(DGL_DEPTH_WRITE);
        dglSetShadeMode(D3DSHADE_FLAT);
        statePrepared = true;
    }

    // One beat per frame at most; the jitter keeps its value through the white beats.
    if (r >= beatMark + BEAT_LENGTH) {
        beatMark += BEAT_LENGTH;
        pulseStart = r;
        pulseEnd = r + PULSE_LENGTH;
        if (r > WHITE_FROM && r < SCENE_LENGTH) {
            whitePulse = true;
        } else {
            whitePulse = false;
            jitterX = randomJitter();
            jitterY = randomJitter();
        }
    }

    deformSheet(r, s);
    drawWireframe();
    drawBackground();
    drawWhirl(r);

    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    dglSetTransform(D3DTS_WORLD, dglMatrixIdentity());
    dglBindTexture(0, overlayTexture);
    drawScreenQuad(640.0f, 480.0f, 643.0f, 480.0f, static_cast<float>(-(rand15() % 3)), 0.0f, 0.0f,
                   dglMakeColor(200, 255));
    dglSetSourceBlend(D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ONE);
    dglDisable(DGL_BLEND);

    if (r >= pulseStart && r < pulseEnd) {
        drawScreenFade(214 - (r - pulseStart), whitePulse ? 255 : 0);
    }
    if (s < 2.0f) {
        drawScreenFade(255 - static_cast<int>(s * 127.5f), 255);
    }
}

void resetWaveWhirlState() {
    beatMark = -BEAT_LENGTH;
    pulseStart = 0;
    pulseEnd = 0;
    whitePulse = false;
    jitterX = 0.0f;
    jitterY = 0.0f;
    statePrepared = false;
}

const Mesh& waveWhirlSheet() { return sheet; }
