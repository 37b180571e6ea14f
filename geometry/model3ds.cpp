// 3DS loader: walks the chunk sequence of the file from its start, entering
// the container chunks that lead to triangle meshes and skipping everything
// else whole, and reads the vertex, face and mapping lists of the requested
// triangle-mesh object straight from the file.
//
// Every length and count is checked against the file and its chunk before it
// is used, so a damaged file ends the program with "Corrupt 3DS file: %s"
// instead of reading outside a buffer or walking backwards.
// Depends on: resources/files.h, resources/memory.h, kernel/messages.h, geometry/mesh.h.
#include "geometry/model3ds.h"

#include "kernel/messages.h"
#include "resources/files.h"
#include "resources/memory.h"

namespace {

constexpr WORD CHUNK_MAIN = 0x4D4D;
constexpr WORD CHUNK_EDITOR = 0x3D3D;
constexpr WORD CHUNK_OBJECT = 0x4000;
constexpr WORD CHUNK_TRIANGLE_MESH = 0x4100;
constexpr WORD CHUNK_VERTEX_LIST = 0x4110;
constexpr WORD CHUNK_FACE_LIST = 0x4120;
constexpr WORD CHUNK_MAPPING_LIST = 0x4140;

constexpr DWORD CHUNK_HEADER_SIZE = 6;
constexpr DWORD VERTEX_RECORD_SIZE = 12; // x, y, z
constexpr DWORD FACE_RECORD_SIZE = 8;    // a, b, c, flags
constexpr DWORD MAPPING_RECORD_SIZE = 8; // u, v

struct Walk3ds {
    const char* path;
    FileHandle file;
    int listCount; // vertex and mapping lists share the vertex array
};

[[noreturn]] void corruptFile(const char* path) { fatalExit(formatMessage("Corrupt 3DS file: %s", path)); }

// Reads the count that opens a list chunk of rest bytes and checks that its
// records fit inside the chunk. Counts are unsigned 16-bit: an exporter
// fills an object up to 65535 vertices and faces, and every one of those
// vertices is reachable by a 16-bit index.
int readListCount(const Walk3ds& walk, DWORD rest, DWORD recordSize)
{
    if (rest < 2) {
        corruptFile(walk.path);
    }
    WORD count = 0;
    readFromFile(walk.file, &count, 2);
    if (static_cast<DWORD>(count) * recordSize > rest - 2) {
        corruptFile(walk.path);
    }
    return count;
}

// The vertex and mapping lists fill one array: the first of them allocates
// it, the second must have the same count.
static_assert(MESH_MAX_VERTICES >= 0xFFFF, "a mesh must hold every vertex a 3DS list can count");

void takeVertexArray(Mesh& mesh, Walk3ds& walk, int count, bool allocated)
{
    if (allocated) {
        if (count != walk.listCount) {
            corruptFile(walk.path);
        }
        return;
    }
    walk.listCount = count;
    mesh.vertexCount = count;
    mesh.vertices =
        static_cast<MeshVertex*>(allocateMemory(static_cast<std::uint32_t>(count) * sizeof(MeshVertex)));
}

} // namespace

void loadMesh3ds(Mesh& mesh, const char* path, int objectIndex, float scale, D3DCOLOR colour)
{
    mesh = Mesh{};
    Walk3ds walk{path, openFile(path), 0};
    const DWORD fileSize = getFileSize(walk.file);
    DWORD position = 0;
    int meshesSeen = 0;
    bool selected = false;
    bool haveVertices = false;
    bool haveFaces = false;
    bool haveMapping = false;

    while (position < fileSize) {
        WORD id = 0;
        DWORD length = 0;
        readFromFile(walk.file, &id, 2);
        readFromFile(walk.file, &length, 4);
        // Every chunk moves the walk forward and ends inside the file.
        if (length < CHUNK_HEADER_SIZE || length > fileSize - position) {
            corruptFile(path);
        }
        const DWORD chunkEnd = position + length;
        const DWORD rest = length - CHUNK_HEADER_SIZE;
        position += CHUNK_HEADER_SIZE;

        if (id == CHUNK_MAIN || id == CHUNK_EDITOR) {
            continue;
        }
        if (id == CHUNK_OBJECT) {
            // The object name, terminator included, must end inside its chunk.
            char character = 1;
            while (character != 0) {
                if (position >= chunkEnd) {
                    corruptFile(path);
                }
                readFromFile(walk.file, &character, 1);
                position += 1;
            }
            continue;
        }
        if (id == CHUNK_TRIANGLE_MESH) {
            selected = meshesSeen == objectIndex;
            meshesSeen += 1;
            continue;
        }

        if (selected && id == CHUNK_VERTEX_LIST) {
            if (haveVertices) {
                fatalExit("Corrupt 3DS file.");
            }
            const int count = readListCount(walk, rest, VERTEX_RECORD_SIZE);
            takeVertexArray(mesh, walk, count, haveMapping);
            for (int v = 0; v < count; ++v) {
                MeshVertex& vertex = mesh.vertices[v];
                readFromFile(walk.file, &vertex.position, VERTEX_RECORD_SIZE);
                vertex.position *= scale;
                vertex.diffuse = colour;
            }
            haveVertices = true;
        } else if (selected && id == CHUNK_MAPPING_LIST) {
            if (haveMapping) {
                fatalExit("Corrupt 3DS file.");
            }
            const int count = readListCount(walk, rest, MAPPING_RECORD_SIZE);
            takeVertexArray(mesh, walk, count, haveVertices);
            for (int v = 0; v < count; ++v) {
                float uv[2];
                readFromFile(walk.file, uv, MAPPING_RECORD_SIZE);
                mesh.vertices[v].u = uv[0];
                mesh.vertices[v].v = -uv[1];
            }
            haveMapping = true;
        } else if (selected && id == CHUNK_FACE_LIST) {
            if (haveFaces) {
                fatalExit("Corrupt 3DS file.");
            }
            const int count = readListCount(walk, rest, FACE_RECORD_SIZE);
            mesh.faceCount = count;
            mesh.faces =
                static_cast<MeshFace*>(allocateMemory(static_cast<std::uint32_t>(count) * sizeof(MeshFace)));
            for (int f = 0; f < count; ++f) {
                WORD record[4];
                readFromFile(walk.file, record, FACE_RECORD_SIZE);
                mesh.faces[f] = MeshFace{record[0], record[1], record[2]};
            }
            haveFaces = true;
        }
        // Skip the chunk, or what is left of a list after its records.
        seekFile(walk.file, FILE_BEGIN, static_cast<LONG>(chunkEnd));
        position = chunkEnd;
    }

    if (meshesSeen <= objectIndex) {
        fatalExit(formatMessage("Object %d not present in 3DS file: %s.", objectIndex, path));
    }
    if (!haveVertices || !haveFaces) {
        corruptFile(path);
    }
    // The faces may come before the vertices in the file: check them only now.
    for (int f = 0; f < mesh.faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        if (face.a >= mesh.vertexCount || face.b >= mesh.vertexCount || face.c >= mesh.vertexCount) {
            corruptFile(path);
        }
    }

    computeVertexNormals(mesh);
    createMeshBuffers(mesh);
}
