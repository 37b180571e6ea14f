// Metaball polygonizer against the recording device: closed, outward-facing
// surfaces, the walk finds exactly the triangles of a full-grid sweep, the
// capacity rule, and degenerate ball placements.
#include "geometry/metaballs.h"
#include "tests/dgl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>
#include <set>
#include <tuple>
#include <vector>

namespace {

struct PncVertex {
    Vector3 position;
    Vector3 normal;
    DWORD diffuse;
};

struct Surface {
    std::vector<PncVertex> vertices;
    std::vector<std::array<int, 3>> faces;
};

// What the buffers hold after the last polygonization.
Surface readSurface(const MetaballSurface& surface)
{
    UINT vertexBytes = 0;
    UINT indexBytes = 0;
    const BYTE* vertexMemory = recordingBufferMemory(surface.vertexBuffer, &vertexBytes);
    const BYTE* indexMemory = recordingBufferMemory(surface.indexBuffer, &indexBytes);
    Surface result;
    if (vertexMemory == nullptr || indexMemory == nullptr) {
        ADD_FAILURE() << "buffers not found";
        return result;
    }
    EXPECT_LE(static_cast<UINT>(surface.vertexCount) * 28, vertexBytes);
    EXPECT_LE(static_cast<UINT>(surface.faceCount) * 6, indexBytes);
    result.vertices.resize(static_cast<std::size_t>(surface.vertexCount));
    std::memcpy(result.vertices.data(), vertexMemory, result.vertices.size() * sizeof(PncVertex));
    const WORD* indices = reinterpret_cast<const WORD*>(indexMemory);
    for (int f = 0; f < surface.faceCount; ++f) {
        result.faces.push_back({indices[3 * f], indices[3 * f + 1], indices[3 * f + 2]});
    }
    return result;
}

using Point = std::tuple<float, float, float>;
using Triangle = std::array<Point, 3>;

Point pointOf(const Vector3& v) { return {v.x, v.y, v.z}; }

// Triangles by their corner positions, each rotated to start at its smallest
// corner (orientation kept), so two runs can be compared whatever the vertex
// numbering.
std::multiset<Triangle> triangleSet(const Surface& s)
{
    std::multiset<Triangle> result;
    for (const auto& f : s.faces) {
        Triangle t = {pointOf(s.vertices[f[0]].position), pointOf(s.vertices[f[1]].position),
                      pointOf(s.vertices[f[2]].position)};
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        result.insert(t);
    }
    return result;
}

// Every directed edge of a closed, consistently oriented surface appears once,
// and its reverse once; returns the number of edges that break that.
int openOrMisorientedEdges(const Surface& s)
{
    std::map<std::pair<int, int>, int> directed;
    for (const auto& f : s.faces) {
        for (int q = 0; q < 3; ++q) {
            directed[{f[q], f[(q + 1) % 3]}] += 1;
        }
    }
    int bad = 0;
    for (const auto& [edge, count] : directed) {
        auto reverse = directed.find({edge.second, edge.first});
        if (count != 1 || reverse == directed.end() || reverse->second != 1) {
            ++bad;
        }
    }
    return bad;
}

int connectedPieces(const Surface& s)
{
    std::vector<int> parent(s.vertices.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](int v) {
        while (parent[v] != v) {
            v = parent[v] = parent[parent[v]];
        }
        return v;
    };
    for (const auto& f : s.faces) {
        parent[find(f[1])] = find(f[0]);
        parent[find(f[2])] = find(f[0]);
    }
    std::set<int> roots;
    for (std::size_t v = 0; v < s.vertices.size(); ++v) {
        roots.insert(find(static_cast<int>(v)));
    }
    return static_cast<int>(roots.size());
}

Vector3 faceNormal(const Surface& s, const std::array<int, 3>& f)
{
    const Vector3& a = s.vertices[f[0]].position;
    const Vector3& b = s.vertices[f[1]].position;
    const Vector3& c = s.vertices[f[2]].position;
    return (a - b).cross(b - c);
}

class Metaballs : public DglTest {
protected:
    void SetUp() override
    {
        DglTest::SetUp();
        init();
    }

    void make(int ballCount, int gridSize = 46, float threshold = 17.25f, int maxFaces = 16000)
    {
        initMetaballSurface(surface, ballCount, balls, gridSize, 3.0f, threshold, maxFaces);
    }

    // The first scene's ball placement at show time T.
    void placeSceneBalls(float T, int flipMode)
    {
        for (int i = 0; i < 8; ++i) {
            if (flipMode == 1) {
                balls[i] = Vector3(0.6f * std::sin(0.0029f * T + i), 0.6f * std::sin((i ^ 7) + 0.00175f * T),
                                   0.6f * std::cos((i ^ 5) + 0.00125f * T));
            } else {
                balls[i] = Vector3(0.7f * std::sin(0.0029f * T + i), 0.6f * std::sin((i ^ 8) + 0.00275f * T),
                                   0.6f * std::cos((i ^ 5) + 0.00125f * T));
            }
        }
    }

    // Walk and full sweep give the same triangles; returns the walk's surface.
    Surface expectWalkMatchesSweep()
    {
        polygonizeMetaballsFullSweep(surface);
        const Surface sweep = readSurface(surface);
        polygonizeMetaballs(surface);
        const Surface walk = readSurface(surface);
        EXPECT_EQ(walk.faces.size(), sweep.faces.size());
        EXPECT_EQ(walk.vertices.size(), sweep.vertices.size());
        EXPECT_TRUE(triangleSet(walk) == triangleSet(sweep));
        return walk;
    }

    Vector3 balls[METABALL_MAX_BALLS];
    MetaballSurface surface{};
};

TEST(MetaballTables, EveryTriangleRowUsesExactlyTheEdgesOfItsMask)
{
    EXPECT_EQ(METABALL_EDGE_MASKS[0], 0x0);
    EXPECT_EQ(METABALL_EDGE_MASKS[1], 0x109);
    EXPECT_EQ(METABALL_EDGE_MASKS[4], 0x406);
    EXPECT_EQ(METABALL_EDGE_MASKS[255], 0x0);
    for (int c = 0; c < 256; ++c) {
        int used = 0;
        int n = 0;
        while (n < 16 && METABALL_TRIANGLES[c][n] >= 0) {
            used |= 1 << METABALL_TRIANGLES[c][n];
            ++n;
        }
        EXPECT_EQ(n % 3, 0) << "case " << c;
        EXPECT_LE(n, 15) << "case " << c;
        EXPECT_EQ(used, METABALL_EDGE_MASKS[c]) << "case " << c;
    }
    const signed char row3[] = {1, 8, 3, 9, 8, 1, -1};
    EXPECT_EQ(std::memcmp(METABALL_TRIANGLES[3], row3, sizeof(row3)), 0);
}

TEST_F(Metaballs, SingleBallIsAClosedOutwardSphere)
{
    balls[0] = Vector3(0.01f, -0.02f, 0.03f);
    make(1);
    polygonizeMetaballs(surface);
    const Surface s = readSurface(surface);
    ASSERT_GT(s.faces.size(), 100u);
    EXPECT_EQ(openOrMisorientedEdges(s), 0);
    EXPECT_EQ(connectedPieces(s), 1);
    const float radius = 1.0f / std::sqrt(17.25f);
    for (const PncVertex& v : s.vertices) {
        const Vector3 d = v.position - balls[0];
        EXPECT_NEAR(d.length(), radius, 0.01f);
        EXPECT_GT(v.normal.dot(d.normalized()), 0.99f);
        EXPECT_NEAR(v.normal.length(), 1.0f, 1e-4f);
        EXPECT_EQ(v.diffuse, 0xFFFFFFFFu);
    }
    for (const auto& f : s.faces) {
        const Vector3 centre = (s.vertices[f[0]].position + s.vertices[f[1]].position + s.vertices[f[2]].position) *
                               (1.0f / 3.0f);
        EXPECT_GT(faceNormal(s, f).dot(centre - balls[0]), 0.0f);
    }
}

TEST_F(Metaballs, WalkFindsTheTrianglesOfAFullSweepForSceneBalls)
{
    make(8);
    const float times[] = {2200.0f, 2629.0f, 15000.0f, 33333.0f, 53680.0f};
    for (float T : times) {
        for (int flip = 0; flip < 2; ++flip) {
            placeSceneBalls(T, flip);
            const Surface s = expectWalkMatchesSweep();
            EXPECT_GT(s.faces.size(), 500u);
            EXPECT_LE(s.faces.size(), 16000u);
            EXPECT_EQ(openOrMisorientedEdges(s), 0) << "T " << T << " flip " << flip;
            EXPECT_FALSE(metaballCapacityExceeded());
        }
    }
}

TEST_F(Metaballs, MergedBallsMakeOnePieceAndDistantBallsTheirOwn)
{
    balls[0] = Vector3(-0.1f, 0.0f, 0.0f);
    balls[1] = Vector3(0.15f, 0.05f, 0.0f);
    make(2);
    Surface s = expectWalkMatchesSweep();
    EXPECT_EQ(connectedPieces(s), 1);
    EXPECT_EQ(openOrMisorientedEdges(s), 0);

    balls[1] = Vector3(0.9f, 0.0f, 0.1f);
    balls[2] = Vector3(0.0f, -0.9f, -0.8f);
    make(3);
    s = expectWalkMatchesSweep();
    EXPECT_EQ(connectedPieces(s), 3);
    EXPECT_EQ(openOrMisorientedEdges(s), 0);
}

TEST_F(Metaballs, RepeatedPolygonizationGivesTheSameBuffers)
{
    placeSceneBalls(9000.0f, 1);
    make(8);
    polygonizeMetaballs(surface);
    const Surface first = readSurface(surface);
    polygonizeMetaballs(surface);
    const Surface second = readSurface(surface);
    ASSERT_EQ(first.vertices.size(), second.vertices.size());
    ASSERT_EQ(first.faces, second.faces);
    EXPECT_EQ(std::memcmp(first.vertices.data(), second.vertices.data(), first.vertices.size() * sizeof(PncVertex)),
              0);
}

TEST_F(Metaballs, BallsOutsideTheGridAddToTheFieldButStartNoWalk)
{
    balls[0] = Vector3(5.0f, 0.0f, 0.0f);
    make(1);
    polygonizeMetaballs(surface);
    EXPECT_EQ(surface.faceCount, 0);
    EXPECT_EQ(surface.vertexCount, 0);

    // A huge or non-finite centre must not hang the start search either.
    balls[0] = Vector3(1e30f, -1e30f, std::nanf(""));
    polygonizeMetaballs(surface);
    EXPECT_EQ(surface.faceCount, 0);

    // A ball beyond the grid whose own surface lies wholly outside it pulls
    // the surface of the inside ball towards it.
    auto largestX = [](const Surface& s) {
        float maxX = -10.0f;
        for (const PncVertex& v : s.vertices) {
            maxX = std::max(maxX, v.position.x);
        }
        return maxX;
    };
    balls[0] = Vector3(0.0f, 0.0f, 0.0f);
    make(1);
    const float alone = largestX(expectWalkMatchesSweep());
    balls[1] = Vector3(1.9f, 0.0f, 0.0f);
    make(2);
    const Surface s = expectWalkMatchesSweep();
    EXPECT_EQ(openOrMisorientedEdges(s), 0);
    EXPECT_GT(largestX(s), alone);
}

TEST_F(Metaballs, BallOnAGridPointGivesFiniteVertices)
{
    make(1);
    balls[0] = Vector3(-surface.halfSize + 23 * surface.cellSize, -surface.halfSize + 23 * surface.cellSize,
                       -surface.halfSize + 23 * surface.cellSize);
    const Surface s = expectWalkMatchesSweep();
    ASSERT_GT(s.faces.size(), 0u);
    for (const PncVertex& v : s.vertices) {
        EXPECT_TRUE(std::isfinite(v.position.x) && std::isfinite(v.position.y) && std::isfinite(v.position.z));
        EXPECT_TRUE(std::isfinite(v.normal.x) && std::isfinite(v.normal.y) && std::isfinite(v.normal.z));
    }
    EXPECT_EQ(openOrMisorientedEdges(s), 0);
}

TEST_F(Metaballs, CapacityKeepsTheBuffersAndShowsTheBoxOnce)
{
    placeSceneBalls(2200.0f, 0);
    make(8, 46, 17.25f, 100);
    testing::internal::CaptureStderr();
    polygonizeMetaballs(surface);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(metaballCapacityExceeded());
    EXPECT_EQ(printed, std::string("erreur: ") + METABALL_CAPACITY_TEXT + "\n");
    EXPECT_LE(surface.faceCount, 100);
    EXPECT_GE(surface.faceCount, 98);
    EXPECT_LE(surface.vertexCount, 300);
    const Surface s = readSurface(surface);
    std::vector<bool> used(s.vertices.size(), false);
    for (const auto& f : s.faces) {
        for (int v : f) {
            ASSERT_LT(v, surface.vertexCount);
            used[static_cast<std::size_t>(v)] = true;
        }
    }
    // Vertices that only dropped triangles would use are not made.
    EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
    // The buffers stay usable: unlocked after the call.
    EXPECT_EQ(recordingCallCount("Lock"), recordingCallCount("Unlock"));

    // Enough room again: no box.
    make(8);
    testing::internal::CaptureStderr();
    polygonizeMetaballs(surface);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(metaballCapacityExceeded());
}

TEST_F(Metaballs, LargeSurfaceOnTheFinestGridWalksWithoutRecursionLimits)
{
    // One ball with a low threshold: a sphere of radius 1.1 on a 64-point
    // grid, several thousand surface cells in one walk.
    balls[0] = Vector3(0.02f, 0.01f, -0.03f);
    make(1, 64, 1.0f / (1.1f * 1.1f), 21845);
    const Surface s = expectWalkMatchesSweep();
    EXPECT_GT(s.faces.size(), 10000u);
    EXPECT_FALSE(metaballCapacityExceeded());
    EXPECT_EQ(openOrMisorientedEdges(s), 0);
    EXPECT_EQ(connectedPieces(s), 1);
}

} // namespace
