// Metaball isosurface: the level surface of the field sum(1 / |p - centre|^2)
// over the balls, polygonized by marching cubes over a cubic grid. Only the
// cells the surface passes through are visited: from each ball a march along
// +x finds the surface, and a walk over face-neighbours follows it. Field
// values and edge vertices are cached per grid point and per grid edge, so
// the result is one connected indexed mesh written straight into a renderer
// vertex buffer (DGL_VERTEX_PNC) and index buffer.
// Depends on: dgl/dgl.h (buffers), platform/window.h (the capacity warning box).
#pragma once

#include "dgl/dgl.h"

constexpr int METABALL_MAX_BALLS = 64;
constexpr int METABALL_MAX_GRID = 64;

// The caption of the box shown when a surface needed more than maxFaces triangles.
constexpr const char* METABALL_CAPACITY_CAPTION = "erreur";
extern const char* const METABALL_CAPACITY_TEXT;

struct MetaballSurface {
    int ballCount;
    Vector3* balls; // owned and moved by the caller
    int gridSize;   // grid points per axis, b
    int gridArea;   // b * b
    float cubeSize;
    float halfSize;
    float cellSize;
    float threshold;
    int maxFaces;
    int vertexCount; // of the last polygonization
    int faceCount;   // of the last polygonization
    IDirect3DVertexBuffer8* vertexBuffer;
    IDirect3DIndexBuffer8* indexBuffer;
    int cornerIndexOffset[8];
    Vector3 cornerOffset[8];
};

// ballCount and gridSize are clamped to 64. The vertex buffer holds
// 3 * maxFaces vertices; 16-bit indices address at most 65535 of them.
void initMetaballSurface(MetaballSurface& surface, int ballCount, Vector3* balls, int gridSize, float cubeSize,
                         float threshold, int maxFaces);
// Rebuilds the surface into the buffers: faceCount triangles over vertexCount
// vertices. More than maxFaces triangles are not stored; the warning box is
// shown then and the call returns normally.
void polygonizeMetaballs(MetaballSurface& surface);

// The case tables: edges cut by each corner case (bit n of the case: corner n
// below the threshold), and up to five triangles of edge numbers ended by -1.
extern const int (&METABALL_EDGE_MASKS)[256];
extern const signed char METABALL_TRIANGLES[256][16];

// Reference for tests and benchmarks: the same surface by visiting every cell
// of the grid (same tables, same caches, same output format). Shows no box.
void polygonizeMetaballsFullSweep(MetaballSurface& surface);

// Whether the last polygonization of either kind ran out of capacity.
bool metaballCapacityExceeded();
