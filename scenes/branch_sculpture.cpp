// Scene 8, the last of the show: one chamfered block repeated 109 times into
// a slowly turning sculpture (a centre copy and six curling arms of 18),
// each copy a solid core inside an additive shell, under a pink-violet
// light; a small picture at the lower right and a strip of faint noise.
// Depends on: dgl, effects (camera, screen quads, noise), geometry (3DS
// loader, mesh), resources (scratch memory).
#include "scenes/scenes.h"

#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "geometry/mesh.h"
#include "geometry/model3ds.h"
#include "resources/memory.h"

#include <cmath>

namespace {

// The scene's clock runs from the start of scene 3, not its own start:
// r is 82736 at its first frame.
constexpr int CLOCK_ORIGIN_MS = 74314;
constexpr int ARM_COUNT = 6;
constexpr int ARM_LENGTH = 18;

struct Arm {
    float x, y, z;       // offset from the previous copy, in its frame
    double yFactor;      // Y angle = yFactor * s1
    double xFactor;      // X angle = xFactor * 0.9 * s2
};

const Arm arms[ARM_COUNT] = {
    {2.125f, 0.0f, 0.0f, 0.24, 0.24},   {-2.125f, 0.0f, 0.0f, 0.25, 0.25},
    {0.0f, 2.125f, 0.0f, 0.24, 0.264},  {0.0f, -2.125f, 0.0f, 0.25, 0.25},
    {0.0f, 0.0f, 2.125f, 0.312, 0.24},  {0.0f, 0.0f, -2.125f, 0.286, 0.3},
};

// Made by the precalculation, kept for the whole run.
Mesh block;
IDirect3DTexture8* picture;

// Per-run state, written only by the render step (and its reset).
Camera camera;
Light light;
bool initialised = false;

void setUpState()
{
    dglResetState();
    light.reset();
    light.Diffuse = dglMakeColorValue(0xFFD287C5);
    dglSetLight(0, light);
    dglEnableLight(0);
    dglEnable(DGL_LIGHTING);
    initialised = true;
}

void drawBlock()
{
    dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, block.faceCount, 0, block.vertexCount, 0);
}

// A solid core at 0.79 of the size, then the full-size copy added over it.
void drawCopy(const Matrix4& world)
{
    dglSetTransform(D3DTS_WORLD, dglMatrixScale(0.79f, 0.79f, 0.79f) * world);
    drawBlock();
    dglEnable(DGL_BLEND);
    dglSetTransform(D3DTS_WORLD, world);
    drawBlock();
    dglDisable(DGL_BLEND);
}

void drawSculpture(float r)
{
    const Matrix4 turn = dglMatrixRotateX(static_cast<float>(0.0002433 * r)) *
                         dglMatrixRotateY(static_cast<float>(0.00023 * r)) *
                         dglMatrixRotateZ(static_cast<float>(0.0001525 * r));
    const Matrix4 shrink = dglMatrixScale(0.9f, 0.9f, 0.9f);
    Matrix4 current = dglMatrixIdentity();
    drawCopy(current * turn);
    current = current * shrink;
    const Matrix4 centre = current;

    const float s1 = static_cast<float>(std::sin(static_cast<float>(0.000565 * r)));
    const float s2 = static_cast<float>(std::sin(static_cast<float>(0.000465 * r)));
    for (const Arm& arm : arms) {
        const Matrix4 step = dglMatrixTranslate(arm.x, arm.y, arm.z) *
                             dglMatrixRotateY(static_cast<float>(arm.yFactor * s1)) *
                             dglMatrixRotateX(static_cast<float>(arm.xFactor * 0.9 * s2));
        for (int k = 0; k < ARM_LENGTH; ++k) {
            current = current * step;
            drawCopy(current * turn);
            current = current * shrink;
        }
        current = centre;
    }
}

} // namespace

void precalcBranchSculpture()
{
    loadMesh3ds(block, "Data/ChamferLOW.3ds", 0, 0.01f, dglMakeColor(115, 115));
    centerMesh(block);

    markScratchMemory();
    picture = dglCreateTextureFromFile("data/glim.jpg", 256, 128, D3DFMT_A8R8G8B8, false);
    freeScratchMemory();
}

void renderBranchSculpture(int t, float)
{
    const float r = static_cast<float>(t - CLOCK_ORIGIN_MS);
    if (!initialised) {
        setUpState();
    }
    dglClearColorBuffer(0x00000000);
    dglClearDepthBuffer(1.0f);

    // A very wide view looking past the sculpture to the upper right puts
    // it in the lower left of the picture.
    camera = Camera();
    camera.fov = 1.848f;
    camera.eye.z = -87.5f;
    camera.target = Vector3(84.2f, 59.0f, 0.0f);
    camera.applyView();
    camera.applyProjection();

    dglSetVertexFormat(DGL_VERTEX_PNCT);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, block.vertexBuffer);
    dglBindIndexBuffer(block.indexBuffer, 0);
    drawSculpture(r);

    // Blend factors are ONE, ONE from the reset; the overlays are added.
    dglEnable(DGL_BLEND);
    dglBindTexture(0, picture);
    drawScreenQuad(512.0f, 512.0f, 206.0f, 98.0f, 306.0f, 343.0f, 0.0f, 0xFFFFFFFF);
    dglBindTexture(0, updateNoiseTexture());
    drawScreenQuad(512.0f, 512.0f, 512.0f, 80.0f, 0.0f, 360.0f, 0.0f, 0x0F0F0F0F);
    dglUnbindTexture(0);
    dglDisable(DGL_BLEND);
}

void resetBranchSculptureState()
{
    initialised = false;
    camera = Camera();
    light.reset();
}
