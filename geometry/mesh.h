// The mesh record every scene draws: vertex and face arrays in system memory
// (blocks of the memory manager) and a renderer vertex and index buffer that
// hold a copy of them. Also the two byte-range helpers used across the program.
// Depends on: dgl/dgl.h (Vector3, buffers), resources/memory.h.
#pragma once

#include "dgl/dgl.h"

#include <cstdint>

// Byte for byte the layout of DGL_VERTEX_PNCT (36 bytes).
struct MeshVertex {
    Vector3 position;
    Vector3 normal;
    D3DCOLOR diffuse;
    float u;
    float v;
};
static_assert(sizeof(MeshVertex) == 36, "MeshVertex must match DGL_VERTEX_PNCT");

// Three 16-bit vertex indices, byte for byte an index-buffer triangle.
struct MeshFace {
    WORD a;
    WORD b;
    WORD c;
};
static_assert(sizeof(MeshFace) == 6, "MeshFace must match three 16-bit indices");

// A mesh holds at most this many vertices: indices are unsigned 16-bit
// numbers, and 0..65534 is what a 3DS count of 65535 needs.
constexpr int MESH_MAX_VERTICES = 65535;

// Filled once by a builder (loadMesh3ds, buildGridMesh); the arrays live
// until exit, so a scene may change vertices and upload them again.
struct Mesh {
    int vertexCount;
    int faceCount;
    MeshVertex* vertices;
    MeshFace* faces;
    IDirect3DVertexBuffer8* vertexBuffer;
    IDirect3DIndexBuffer8* indexBuffer;
};

// Every vertex normal becomes the normalised sum of the unit normals of the
// faces that use it. The normals must be zero on entry. A vertex no face uses
// (or whose faces are all degenerate) gets the normal (0, 0, 0).
void computeVertexNormals(Mesh& mesh);
// Creates the DGL_VERTEX_PNCT vertex buffer and the index buffer, then uploads.
void createMeshBuffers(Mesh& mesh);
// Copies the vertex and face arrays into the two buffers.
void uploadMesh(Mesh& mesh);
// Moves the positions so that their mean is the origin, then uploads.
void centerMesh(Mesh& mesh);

// Writes the low byte of value count times.
void fillBytes(void* destination, std::uint32_t count, int value);
// Copies count bytes; the ranges must not overlap.
void copyBytes(void* destination, const void* source, std::uint32_t count);
