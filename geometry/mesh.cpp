// Mesh record operations: normal smoothing, buffer creation and upload,
// centring; and the byte-range helpers.
// Depends on: dgl/dgl.h (buffers, Vector3).
#include "geometry/mesh.h"

#include <cmath>
#include <cstring>

namespace {

// A zero vector normalises to NaN; degenerate faces and unused vertices get
// a zero normal instead, so every normal stays finite.
Vector3 normalizedOrZero(const Vector3& v)
{
    Vector3 n = v.normalized();
    if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z)) {
        return Vector3();
    }
    return n;
}

} // namespace

void computeVertexNormals(Mesh& mesh)
{
    MeshVertex* vertices = mesh.vertices;
    for (int f = 0; f < mesh.faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        const Vector3& pa = vertices[face.a].position;
        const Vector3& pb = vertices[face.b].position;
        const Vector3& pc = vertices[face.c].position;
        Vector3 n = normalizedOrZero((pa - pb).cross(pb - pc));
        vertices[face.a].normal += n;
        vertices[face.b].normal += n;
        vertices[face.c].normal += n;
    }
    for (int v = 0; v < mesh.vertexCount; ++v) {
        vertices[v].normal = normalizedOrZero(vertices[v].normal);
    }
}

void createMeshBuffers(Mesh& mesh)
{
    mesh.vertexBuffer = dglCreateVertexBuffer(DGL_VERTEX_PNCT, mesh.vertexCount);
    mesh.indexBuffer = dglCreateIndexBuffer(mesh.faceCount);
    uploadMesh(mesh);
}

void uploadMesh(Mesh& mesh)
{
    void* vertexData = dglLockVertexBuffer(mesh.vertexBuffer);
    copyBytes(vertexData, mesh.vertices, static_cast<std::uint32_t>(mesh.vertexCount) * sizeof(MeshVertex));
    dglUnlockVertexBuffer(mesh.vertexBuffer);
    WORD* indexData = dglLockIndexBuffer(mesh.indexBuffer);
    copyBytes(indexData, mesh.faces, static_cast<std::uint32_t>(mesh.faceCount) * sizeof(MeshFace));
    dglUnlockIndexBuffer(mesh.indexBuffer);
}

void centerMesh(Mesh& mesh)
{
    Vector3 centroid;
    for (int v = 0; v < mesh.vertexCount; ++v) {
        centroid += mesh.vertices[v].position;
    }
    centroid /= static_cast<float>(mesh.vertexCount);
    for (int v = 0; v < mesh.vertexCount; ++v) {
        mesh.vertices[v].position -= centroid;
    }
    uploadMesh(mesh);
}

void fillBytes(void* destination, std::uint32_t count, int value)
{
    const std::uint8_t byte = static_cast<std::uint8_t>(value);
    if (count % 4 == 0) {
        const std::uint32_t word = byte * 0x01010101u;
        std::uint8_t* out = static_cast<std::uint8_t*>(destination);
        for (std::uint32_t i = 0; i < count; i += 4) {
            std::memcpy(out + i, &word, 4);
        }
        return;
    }
    std::uint8_t* out = static_cast<std::uint8_t*>(destination);
    for (std::uint32_t i = 0; i < count; ++i) {
        out[i] = byte;
    }
}

void copyBytes(void* destination, const void* source, std::uint32_t count)
{
    if (count == 0) {
        return;
    }
    // memcpy moves whole words where it can; the ranges never overlap.
    std::memcpy(destination, source, count);
}
