// Scene 6: three knot clips take turns on a panel drawn four (or six) times
// over itself, under two faint line pictures at random heights and a bar
// picture, with 900 sprites rising from the bottom in one batched draw; two
// bright stretches with a growing white glow.
// Depends on: dgl, effects (camera, screen quads, noise), geometry (grid,
// mesh), resources (AVI streams, scratch memory), kernel (random generator),
// scene 4's line picture.
#include "scenes/scenes.h"
#include "scenes/scene_views.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/grid.h"
#include "geometry/mesh.h"
#include "kernel/random.h"
#include "resources/avi.h"
#include "resources/memory.h"

#include <cmath>

namespace {

constexpr int SCENE_START_MS = 122370;
constexpr float SCENE_START_S = 122.37f;
constexpr int CLIP_COUNT = 3;

const char* const clipPaths[CLIP_COUNT] = {"data/knot.avi", "data/knot2.avi", "data/knot3.avi"};

// Made by the precalculation, kept for the whole run.
Mesh panel;
Mesh sprite;
IDirect3DTexture8* videoTexture;
AviStream clips[CLIP_COUNT];
int clipFrameCounts[CLIP_COUNT];
float clipSwingFactors[CLIP_COUNT];
IDirect3DTexture8* barTexture;
IDirect3DTexture8* spriteTexture;
// All sprites in one vertex buffer, rewritten every frame, and one index
// buffer built once: copy b uses vertices b * sprite.vertexCount onwards.
IDirect3DVertexBuffer8* batchVertices;
IDirect3DIndexBuffer8* batchIndices;

// Per-run state, written only by the render step (and its reset).
KnotSprite sprites[KNOT_SPRITE_COUNT];
BeatSwing swing;
int clipCounter = 0;
bool bright = false;
bool statePrepared = false;

bool inBrightStretch(int r)
{
    return (3440 <= r && r < 6880) || (13760 <= r && r < 17200);
}

void prepareState()
{
    dglResetState();
    dglSetVertexFormat(DGL_VERTEX_PNCT);
    // No draw of this scene reads depth: the panel passes come nearer one
    // after the other over a cleared buffer (each fragment would pass), the
    // sprites and overlays do not test, and every frame clears it before
    // the panels. Without test and writes the rasteriser skips the depth work.
    dglDisable(DGL_DEPTH_TEST);
    dglDisable(DGL_DEPTH_WRITE);
    for (KnotSprite& p : sprites) {
        p.start = rand15() % 5000;
        p.duration = rand15() % 2000 + 2000;
        p.x = static_cast<float>(rand15() % 1250);
        p.speed = static_cast<float>(4.0 / p.duration);
    }
    statePrepared = true;
}

void updateSprites(int r)
{
    MeshVertex* batch = static_cast<MeshVertex*>(dglLockVertexBuffer(batchVertices));
    const float rf = static_cast<float>(r);
    for (int index = 0; index < KNOT_SPRITE_COUNT; ++index) {
        KnotSprite& p = sprites[index];
        float y;
        if (r < p.start + p.duration) {
            // Below the bottom while its start lies ahead; 2.0 at its end.
            y = static_cast<float>(r - p.start) * p.speed - 2.0f;
        } else {
            p.start = r;
            p.duration = rand15() % 2000 + 2000;
            p.x = static_cast<float>(rand15() % 1250);
            p.speed = static_cast<float>(4.0 / p.duration);
            y = -2.0f;
        }
        float sway = 0.0f;
        if (swing.direction == 0) {
            sway = 0.6f * std::sin(rf * y * 0.0006f + static_cast<float>(p.duration));
        }
        const Matrix4 move = dglMatrixTranslate(p.x * 0.001f - 2.0f + sway, y, 0.0f);
        MeshVertex* out = batch + index * sprite.vertexCount;
        for (int v = 0; v < sprite.vertexCount; ++v) {
            const MeshVertex& in = sprite.vertices[v];
            // The normal is left as it is: the sprites are drawn unlit.
            out[v].position = move.transform(in.position);
            out[v].diffuse = in.diffuse;
            out[v].u = in.u;
            out[v].v = in.v;
        }
    }
    dglUnlockVertexBuffer(batchVertices);
}

void quad(float canvasWidth, float canvasHeight, float width, float height, float left, float top, D3DCOLOR color)
{
    drawScreenQuad(canvasWidth, canvasHeight, width, height, left, top, 0.0f, color);
}

} // namespace

void precalcKnotSprites()
{
    buildGridMesh(panel, 3.6f, 2.0f, 1, 1.0f, 0.9f, dglMakeColor(255, 40));
    buildGridMesh(sprite, 0.4f, 0.4f, 1, 1.0f, 1.0f, dglMakeColor(55, 155));

    videoTexture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    for (int i = 0; i < CLIP_COUNT; ++i) {
        clips[i].open(clipPaths[i]);
        clipFrameCounts[i] = static_cast<int>(clips[i].frameCount);
        clipSwingFactors[i] = aviSwingFactor(clips[i].frameCount);
    }

    markScratchMemory();
    barTexture = dglCreateTextureFromFile("data/balk.tga", 512, 512, D3DFMT_A8R8G8B8, false);
    spriteTexture = dglCreateTextureFromFile("data/money.jpg", 32, 32, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();

    batchVertices = dglCreateVertexBuffer(DGL_VERTEX_PNCT, KNOT_SPRITE_COUNT * sprite.vertexCount);
    batchIndices = dglCreateIndexBuffer(KNOT_SPRITE_COUNT * sprite.faceCount);
    WORD* indices = dglLockIndexBuffer(batchIndices);
    for (int b = 0; b < KNOT_SPRITE_COUNT; ++b) {
        const WORD base = static_cast<WORD>(b * sprite.vertexCount);
        for (int f = 0; f < sprite.faceCount; ++f) {
            const MeshFace& face = sprite.faces[f];
            WORD* out = indices + 3 * (b * sprite.faceCount + f);
            out[0] = static_cast<WORD>(face.a + base);
            out[1] = static_cast<WORD>(face.b + base);
            out[2] = static_cast<WORD>(face.c + base);
        }
    }
    dglUnlockIndexBuffer(batchIndices);
}

void renderKnotSprites(int t, float seconds)
{
    dglBindTexture(0, updateNoiseTexture());
    const D3DCOLOR backgroundColor = bright ? dglMakeColor(255, 40) : dglMakeColor(255, 15);
    quad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 0.0f, backgroundColor);
    quad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 0.0f, backgroundColor);
    quad(512.0f, 512.0f, 256.0f, 256.0f, 0.0f, 256.0f, backgroundColor);
    quad(512.0f, 512.0f, 256.0f, 256.0f, 256.0f, 256.0f, backgroundColor);

    dglClearDepthBuffer(1.0f);
    const int r = t - SCENE_START_MS;
    const float s = seconds - SCENE_START_S;
    if (!statePrepared) {
        prepareState();
    }

    if (r >= swing.mark + AVI_BEAT_MS) {
        bright = inBrightStretch(r);
        beatSwingAdvance(swing, r, s);
        clipCounter += 1;
        if (clipCounter > 5) {
            clipCounter = 0;
        }
    }

    const int clip = clipCounter / 2;
    const int frame = beatSwingFrame(swing, s, static_cast<std::uint32_t>(clipFrameCounts[clip]),
                                     clipSwingFactors[clip]);
    const DglTextureLock lock = dglLockTexture(videoTexture);
    clips[clip].copyFrame(frame, lock.texels, lock.pitch);
    dglUnlockTexture(videoTexture);

    dglBindTexture(0, videoTexture);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, panel.vertexBuffer);
    dglBindIndexBuffer(panel.indexBuffer, 0);
    Camera camera;
    // Blend factors are ONE, ONE (left by the previous frame or the reset).
    dglEnable(DGL_BLEND);

    const int passes = bright ? 6 : 4;
    for (int i = 0; i < passes; ++i) {
        camera.eye.z = static_cast<float>(i) * 0.01f - 4.0f;
        camera.applyProjection();
        camera.applyView();
        dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, panel.faceCount, 0, panel.vertexCount, 0);
    }

    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    const float lineOffset = static_cast<float>(rand15() % 212);
    dglBindTexture(0, cityLineTexture);
    quad(512.0f, 512.0f, 512.0f, 512.0f, 0.0f, lineOffset, 0x1F1F1F1F);
    quad(512.0f, 512.0f, 512.0f, 512.0f, 0.0f, -lineOffset, 0x1F1F1F1F);

    dglSetSourceBlend(D3DBLEND_INVSRCALPHA);
    dglSetDestinationBlend(D3DBLEND_SRCALPHA);
    dglBindTexture(0, barTexture);
    quad(640.0f, 480.0f, 640.0f, 480.0f, -100.0f, 0.0f, 0xFFFFFFFF);

    dglSetSourceBlend(swing.direction == 1 ? D3DBLEND_DESTCOLOR : D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ONE);
    dglUnbindTexture(0);

    updateSprites(r);

    dglDisable(DGL_DEPTH_TEST);
    dglBindTexture(0, spriteTexture);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, batchVertices);
    dglBindIndexBuffer(batchIndices, 0);
    Camera spriteCamera;
    spriteCamera.applyView();
    spriteCamera.applyProjection();
    dglSetTransform(D3DTS_WORLD, dglMatrixIdentity());
    // Backward beats thin the crowd: only the first 600 records are drawn.
    const int drawn = swing.direction == 1 ? 600 : KNOT_SPRITE_COUNT;
    dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, sprite.faceCount * drawn, 0, sprite.vertexCount * drawn, 0);

    dglDisable(DGL_BLEND);

    if (3440 <= r && r < 6880) {
        drawScreenFade(static_cast<int>((s - 3.44f) * 51.0f), 255);
    }
    if (13760 <= r && r < 17200) {
        drawScreenFade(static_cast<int>((s - 13.76f) * 51.0f), 255);
    }

    dglSetSourceBlend(D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ONE);
}

void resetKnotSpritesState()
{
    for (KnotSprite& p : sprites) {
        p = KnotSprite();
    }
    swing = BeatSwing();
    clipCounter = 0;
    bright = false;
    statePrepared = false;
}

KnotSpritesView knotSpritesView()
{
    return {swing.mark, swing.direction, clipCounter, bright};
}

const KnotSprite* knotSprites()
{
    return sprites;
}
