// Screen-space rectangles: a quad on a flat 2D canvas laid over the whole
// viewport (origin top-left, y downward), optionally rotated about its centre,
// drawn with whatever texture and blending the caller set up; and the
// full-screen translucent fade built on it. Both leave the renderer state as
// they found it.
// Depends on: dgl/dgl.h (state, matrices, drawing).
#pragma once

#include "dgl/dgl.h"

// The six quad vertices (DGL_VERTEX_PCT, 24 bytes).
struct ScreenVertex {
    float x;
    float y;
    float z;
    D3DCOLOR color;
    float u;
    float v;
};
static_assert(sizeof(ScreenVertex) == 24, "ScreenVertex must match DGL_VERTEX_PCT");

// Canvas size, quad size and top-left corner in canvas units; angle in radians
// (counter-clockwise on screen); color on all six vertices.
// The save-and-restore bracket of every overlay drawn from memory. beginOverlay
// copies the renderer state into saved, sets the cull mode and switches depth
// writing, depth testing, fog and lighting off where they are on; the caller
// then sets the transforms it needs. drawOverlayAndRestore disables stages
// 1-7, draws six DGL_VERTEX_PCT vertices as two triangles and puts back the
// cull mode, the capabilities, the three transforms, the stage operations,
// the vertex format and the buffer bindings from saved.
void beginOverlay(DglState& saved, int cullMode);
void drawOverlayAndRestore(const DglState& saved, const ScreenVertex vertices[6]);

void drawScreenQuad(float screenWidth, float screenHeight, float width, float height, float left, float top,
                    float angle, D3DCOLOR color);
// The whole screen in grey (modulo 256) with opacity alpha (modulo 256).
void drawScreenFade(int alpha, int grey);
