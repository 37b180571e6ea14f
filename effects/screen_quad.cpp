// Screen-space quads and fades. The renderer state is saved with dglGetState
// and restored setting by setting from that copy, so the caller's 3D state
// (transforms, depth, lighting, stages, bindings) is as it was afterwards.
// Depends on: dgl/dgl.h.
#include "effects/screen_quad.h"

namespace {

// The capabilities a flat overlay must not be affected by.
constexpr int OVERLAY_OFF_CAPABILITIES[] = {DGL_DEPTH_WRITE, DGL_DEPTH_TEST, DGL_FOG, DGL_LIGHTING};

} // namespace

void beginOverlay(DglState& saved, int cullMode)
{
    dglGetState(&saved);
    dglSetCullMode(cullMode);
    for (int capability : OVERLAY_OFF_CAPABILITIES) {
        if (saved.capabilities[capability]) {
            dglDisable(capability);
        }
    }
}

void drawOverlayAndRestore(const DglState& saved, const ScreenVertex vertices[6])
{
    for (int stage = 1; stage < DGL_TEXTURE_STAGES; ++stage) {
        if (saved.textureOperations[stage] != D3DTOP_DISABLE) {
            dglSetTextureOperation(stage, D3DTOP_DISABLE);
        }
    }
    dglSetVertexFormat(DGL_VERTEX_PCT);
    dglDrawUserPrimitives(D3DPT_TRIANGLELIST, 2, DGL_VERTEX_PCT, vertices);

    dglSetCullMode(saved.cullMode);
    for (int capability : OVERLAY_OFF_CAPABILITIES) {
        if (saved.capabilities[capability]) {
            dglEnable(capability);
        }
    }
    dglSetTransform(D3DTS_WORLD, saved.world);
    dglSetTransform(D3DTS_VIEW, saved.view);
    dglSetTransform(D3DTS_PROJECTION, saved.projection);
    for (int stage = 1; stage < DGL_TEXTURE_STAGES; ++stage) {
        if (saved.textureOperations[stage] != D3DTOP_DISABLE) {
            dglSetTextureOperation(stage, saved.textureOperations[stage]);
        }
    }
    dglSetVertexFormat(saved.vertexFormat);
    if (saved.vertexBuffer != nullptr) {
        dglBindVertexBuffer(saved.vertexBufferType, saved.vertexBuffer);
    }
    if (saved.indexBuffer != nullptr) {
        dglBindIndexBuffer(saved.indexBuffer, saved.baseVertexIndex);
    }
}

void drawScreenQuad(float screenWidth, float screenHeight, float width, float height, float left, float top,
                    float angle, D3DCOLOR color)
{
    const float x0 = left - screenWidth / 2.0f;
    const float x1 = x0 + width;
    const float y0 = screenHeight / 2.0f - top - height;
    const float y1 = y0 + height;
    // The texture runs from 0.01 at the left and top edges to 1.0 at the
    // right and bottom edges; both triangles wind clockwise on screen.
    const ScreenVertex vertices[6] = {
        {x1, y1, 0.0f, color, 1.0f, 0.01f}, {x0, y0, 0.0f, color, 0.01f, 1.0f},
        {x0, y1, 0.0f, color, 0.01f, 0.01f}, {x1, y0, 0.0f, color, 1.0f, 1.0f},
        {x0, y0, 0.0f, color, 0.01f, 1.0f}, {x1, y1, 0.0f, color, 1.0f, 0.01f},
    };

    DglState saved;
    beginOverlay(saved, D3DCULL_CCW);
    const float cx = x0 + width / 2.0f;
    const float cy = y0 + height / 2.0f;
    const Matrix4 toCentre = dglMatrixTranslate(-cx, -cy, 0.0f);
    dglSetTransform(D3DTS_WORLD, toCentre * dglMatrixRotateZ(angle) * toCentre.inverse());
    dglSetTransform(D3DTS_VIEW, dglMatrixIdentity());
    dglSetTransform(D3DTS_PROJECTION, dglMatrixOrtho(screenWidth, screenHeight, -1.0f, 1.0f));
    drawOverlayAndRestore(saved, vertices);
}

void drawScreenFade(int alpha, int grey)
{
    DglState saved;
    dglGetState(&saved);

    if (!saved.capabilities[DGL_BLEND]) {
        dglEnable(DGL_BLEND);
    }
    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    if (saved.textures[0] != nullptr) {
        dglUnbindTexture(0);
    }

    drawScreenQuad(256.0f, 256.0f, 256.0f, 256.0f, 0.0f, 0.0f, 0.0f, dglMakeColor(alpha, grey));

    if (!saved.capabilities[DGL_BLEND]) {
        dglDisable(DGL_BLEND);
    }
    dglSetSourceBlend(saved.sourceBlend);
    dglSetDestinationBlend(saved.destinationBlend);
    if (saved.textures[0] != nullptr) {
        dglBindTexture(0, saved.textures[0]);
    }
}
