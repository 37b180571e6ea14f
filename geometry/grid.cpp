// Flat grid panels: (n + 1)^2 vertices row by row from the bottom, two
// clockwise triangles per cell as seen from -z.
// Depends on: geometry/mesh.h, resources/memory.h, kernel/messages.h.
#include "geometry/grid.h"

#include "kernel/messages.h"
#include "resources/memory.h"

namespace {
// (n + 1)^2 vertices must fit 16-bit signed indices.
constexpr int GRID_MAX_DIVISIONS = 180;
}

void buildGridMesh(Mesh& mesh, float width, float height, int divisions, float uRepeat, float vRepeat,
                   D3DCOLOR colour)
{
    // Zero cells would divide by zero; more than 180 would wrap the 16-bit indices.
    if (divisions < 1 || divisions > GRID_MAX_DIVISIONS) {
        fatalExit(formatMessage("Invalid number of divisions supplied with buildGridMesh(): %d.", divisions));
    }
    const int n = divisions;
    const int rowLength = n + 1;
    mesh.vertexCount = rowLength * rowLength;
    mesh.faceCount = 2 * n * n;
    mesh.vertices = static_cast<MeshVertex*>(
        allocateMemory(static_cast<std::uint32_t>(mesh.vertexCount) * sizeof(MeshVertex)));
    mesh.faces =
        static_cast<MeshFace*>(allocateMemory(static_cast<std::uint32_t>(mesh.faceCount) * sizeof(MeshFace)));
    mesh.vertexBuffer = nullptr;
    mesh.indexBuffer = nullptr;

    const float cells = static_cast<float>(n);
    const float x0 = -(width * 0.5f);
    const float dx = width / cells;
    const float y0 = -(height * 0.5f);
    const float dy = height / cells;
    const float du = uRepeat / cells;
    const float dv = vRepeat / cells;

    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j) {
            MeshVertex& vertex = mesh.vertices[i * rowLength + j];
            vertex.position = Vector3(static_cast<float>(j) * dx + x0, static_cast<float>(i) * dy + y0, 0.0f);
            vertex.diffuse = colour;
            vertex.u = static_cast<float>(j) * du;
            vertex.v = -(static_cast<float>(i) * dv);
        }
    }

    MeshFace* face = mesh.faces;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const int bottomLeft = rowLength * i + j;
            const int bottomRight = bottomLeft + 1;
            const int topLeft = rowLength * (i + 1) + j;
            const int topRight = topLeft + 1;
            *face++ = MeshFace{static_cast<WORD>(topLeft), static_cast<WORD>(bottomRight),
                               static_cast<WORD>(bottomLeft)};
            *face++ = MeshFace{static_cast<WORD>(topRight), static_cast<WORD>(bottomRight),
                               static_cast<WORD>(topLeft)};
        }
    }

    computeVertexNormals(mesh);
    createMeshBuffers(mesh);
}
