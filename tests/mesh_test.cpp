// Mesh record and grid builder against the recording device: smoothed
// normals, buffer contents, centring, the byte helpers and grid layouts.
#include "geometry/grid.h"
#include "geometry/mesh.h"
#include "resources/memory.h"
#include "tests/dgl_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class MeshTest : public DglTest {
protected:
    void SetUp() override
    {
        DglTest::SetUp();
        init();
    }
    void TearDown() override
    {
        DglTest::TearDown();
        freeAllMemory();
    }

    // A mesh over the given positions and faces, arrays from the memory manager.
    Mesh makeMesh(const std::vector<Vector3>& positions, const std::vector<MeshFace>& faces)
    {
        Mesh mesh{};
        mesh.vertexCount = static_cast<int>(positions.size());
        mesh.faceCount = static_cast<int>(faces.size());
        mesh.vertices = static_cast<MeshVertex*>(allocateMemory(static_cast<std::uint32_t>(positions.size() * 36)));
        mesh.faces = static_cast<MeshFace*>(allocateMemory(static_cast<std::uint32_t>(faces.size() * 6 + 6)));
        for (std::size_t v = 0; v < positions.size(); ++v) {
            mesh.vertices[v].position = positions[v];
            mesh.vertices[v].diffuse = 0xFF102030u;
            mesh.vertices[v].u = static_cast<float>(v);
        }
        for (std::size_t f = 0; f < faces.size(); ++f) {
            mesh.faces[f] = faces[f];
        }
        return mesh;
    }
};

void expectVector(const Vector3& actual, float x, float y, float z, float tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, x, tolerance);
    EXPECT_NEAR(actual.y, y, tolerance);
    EXPECT_NEAR(actual.z, z, tolerance);
}

TEST_F(MeshTest, NormalsAverageUnitFaceNormalsWhateverTheirArea)
{
    // A small face in z = 0 facing -z and a large one in y = 0 facing -y share
    // the edge from vertex 0 to vertex 1; vertex 4 is used by no face, and
    // the last face is degenerate.
    Mesh mesh = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 10}, {5, 5, 5}, {2, 2, 2}},
                         {{2, 1, 0}, {0, 1, 3}, {5, 5, 5}});
    computeVertexNormals(mesh);
    expectVector(mesh.vertices[2].normal, 0, 0, -1);
    expectVector(mesh.vertices[3].normal, 0, -1, 0);
    const float half = std::sqrt(0.5f);
    expectVector(mesh.vertices[0].normal, 0, -half, -half);
    expectVector(mesh.vertices[1].normal, 0, -half, -half);
    for (int v : {4, 5}) {
        const Vector3& n = mesh.vertices[v].normal;
        EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << v;
    }
}

TEST_F(MeshTest, BuffersHoldTheArraysByteForByte)
{
    Mesh mesh = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{2, 1, 0}, {3, 1, 2}});
    computeVertexNormals(mesh);
    createMeshBuffers(mesh);
    UINT length = 0;
    const BYTE* vertices = recordingBufferMemory(mesh.vertexBuffer, &length);
    ASSERT_NE(vertices, nullptr);
    ASSERT_EQ(length, 4u * 36u);
    EXPECT_EQ(std::memcmp(vertices, mesh.vertices, length), 0);
    const BYTE* indices = recordingBufferMemory(mesh.indexBuffer, &length);
    ASSERT_NE(indices, nullptr);
    ASSERT_EQ(length, 2u * 6u);
    EXPECT_EQ(std::memcmp(indices, mesh.faces, length), 0);
    EXPECT_EQ(recordingLogLines("CreateVertexBuffer(").size(), 1u);
    EXPECT_NE(recordingLogLines("CreateVertexBuffer(144, 0x200, 0x152, 0)").size(), 0u) << recordingLogText();

    // A change of the arrays reaches the buffers only through uploadMesh.
    mesh.vertices[3].position.z = 7.0f;
    uploadMesh(mesh);
    vertices = recordingBufferMemory(mesh.vertexBuffer, &length);
    EXPECT_EQ(std::memcmp(vertices, mesh.vertices, length), 0);
}

TEST_F(MeshTest, CenterMeshMovesTheMeanToTheOriginAndUploads)
{
    Mesh mesh = makeMesh({{1, 2, 3}, {3, 2, 3}, {1, 6, 3}, {3, 6, 9}}, {{2, 1, 0}, {3, 1, 2}});
    computeVertexNormals(mesh);
    createMeshBuffers(mesh);
    const Vector3 normalBefore = mesh.vertices[0].normal;
    centerMesh(mesh);
    expectVector(mesh.vertices[0].position, -1, -2, -1.5f);
    expectVector(mesh.vertices[3].position, 1, 2, 4.5f);
    expectVector(mesh.vertices[0].normal, normalBefore.x, normalBefore.y, normalBefore.z, 0.0f);
    EXPECT_FLOAT_EQ(mesh.vertices[1].u, 1.0f);
    UINT length = 0;
    const BYTE* vertices = recordingBufferMemory(mesh.vertexBuffer, &length);
    EXPECT_EQ(std::memcmp(vertices, mesh.vertices, length), 0);

    // Already centred: unchanged up to rounding.
    centerMesh(mesh);
    expectVector(mesh.vertices[3].position, 1, 2, 4.5f);
}

TEST(ByteHelpers, FillAndCopyWordsOrBytesAndNothingAtZero)
{
    for (std::uint32_t count : {0u, 3u, 64u, 7u}) {
        std::vector<std::uint8_t> buffer(72, 0xEE);
        fillBytes(buffer.data() + 4, count, 0x1A5);
        for (std::uint32_t i = 0; i < buffer.size(); ++i) {
            const bool inside = i >= 4 && i < 4 + count;
            EXPECT_EQ(buffer[i], inside ? 0xA5 : 0xEE) << "count " << count << " byte " << i;
        }
        std::vector<std::uint8_t> source(72);
        for (std::size_t i = 0; i < source.size(); ++i) {
            source[i] = static_cast<std::uint8_t>(i * 7 + 1);
        }
        std::vector<std::uint8_t> target(72, 0);
        copyBytes(target.data() + 1, source.data() + 2, count);
        for (std::uint32_t i = 0; i < target.size(); ++i) {
            const bool inside = i >= 1 && i < 1 + count;
            EXPECT_EQ(target[i], inside ? source[i + 1] : 0) << "count " << count << " byte " << i;
        }
    }
}

TEST_F(MeshTest, OneDivisionGridHasItsFourCornersAndTwoFaces)
{
    Mesh mesh{};
    buildGridMesh(mesh, 2.8f, 2.5f, 1, 1.0f, 0.9f, 0x3F3F3F3Fu);
    ASSERT_EQ(mesh.vertexCount, 4);
    ASSERT_EQ(mesh.faceCount, 2);
    expectVector(mesh.vertices[0].position, -1.4f, -1.25f, 0);
    expectVector(mesh.vertices[1].position, 1.4f, -1.25f, 0);
    expectVector(mesh.vertices[2].position, -1.4f, 1.25f, 0);
    expectVector(mesh.vertices[3].position, 1.4f, 1.25f, 0);
    const float uv[4][2] = {{0, 0}, {1.0f, 0}, {0, -0.9f}, {1.0f, -0.9f}};
    for (int v = 0; v < 4; ++v) {
        EXPECT_FLOAT_EQ(mesh.vertices[v].u, uv[v][0]);
        EXPECT_FLOAT_EQ(mesh.vertices[v].v, uv[v][1]);
        EXPECT_EQ(mesh.vertices[v].diffuse, 0x3F3F3F3Fu);
        expectVector(mesh.vertices[v].normal, 0, 0, -1);
    }
    EXPECT_EQ(mesh.faces[0].a, 2);
    EXPECT_EQ(mesh.faces[0].b, 1);
    EXPECT_EQ(mesh.faces[0].c, 0);
    EXPECT_EQ(mesh.faces[1].a, 3);
    EXPECT_EQ(mesh.faces[1].b, 1);
    EXPECT_EQ(mesh.faces[1].c, 2);
    UINT length = 0;
    ASSERT_NE(recordingBufferMemory(mesh.indexBuffer, &length), nullptr);
    EXPECT_EQ(std::memcmp(recordingBufferMemory(mesh.indexBuffer, &length), mesh.faces, 12), 0);
}

TEST_F(MeshTest, FineGridsFaceTheCameraAndStayWithinSixteenBitIndices)
{
    Mesh mesh{};
    buildGridMesh(mesh, 5.0f, 3.0f, 50, 4.0f, 4.0f, 0x8F8F8F8Fu);
    ASSERT_EQ(mesh.vertexCount, 2601);
    ASSERT_EQ(mesh.faceCount, 5000);
    for (int v = 0; v < mesh.vertexCount; ++v) {
        ASSERT_NEAR(mesh.vertices[v].normal.z, -1.0f, 1e-5f) << v;
    }
    expectVector(mesh.vertices[2600].position, 2.5f, 1.5f, 0, 1e-5f);
    EXPECT_FLOAT_EQ(mesh.vertices[2600].u, 4.0f);
    EXPECT_FLOAT_EQ(mesh.vertices[2600].v, -4.0f);
    // Last cell: top-left, bottom-right, bottom-left, then top-right, bottom-right, top-left.
    const MeshFace& last = mesh.faces[4999];
    EXPECT_EQ(last.a, 2600);
    EXPECT_EQ(last.b, 2549);
    EXPECT_EQ(last.c, 2599);

    Mesh largest{};
    buildGridMesh(largest, 1.0f, 1.0f, 180, 1.0f, 1.0f, 0);
    EXPECT_EQ(largest.vertexCount, 181 * 181);
    EXPECT_EQ(largest.faceCount, 64800);
    EXPECT_EQ(largest.faces[64799].a, 181 * 181 - 1);
}

TEST_F(MeshTest, GridDivisionsOutsideOneTo180EndTheProgram)
{
    Mesh mesh{};
    EXPECT_FATAL(buildGridMesh(mesh, 1.0f, 1.0f, 0, 1.0f, 1.0f, 0),
                 "Invalid number of divisions supplied with buildGridMesh(): 0.");
    init();
    EXPECT_FATAL(buildGridMesh(mesh, 1.0f, 1.0f, 181, 1.0f, 1.0f, 0),
                 "Invalid number of divisions supplied with buildGridMesh(): 181.");
}

} // namespace
