// Metaball polygonizer: surface-following marching cubes with per-point field
// and per-edge vertex caches, writing straight into locked renderer buffers.
//
// Working storage is module-level and sized for the largest grid, so a
// polygonization allocates nothing. The walk over the surface cells uses an
// explicit stack that reproduces the depth-first order of a recursive walk;
// its depth can reach the number of surface cells, far beyond what the
// machine stack would take.
//
// Grid point positions come from one table per polygonization (coordinate of
// index n = -halfSize + n * cellSize), so a point and an edge get the same
// position and field value whichever cell reaches them first; the walk and
// the full sweep therefore produce bit-identical vertices.
// Depends on: dgl/dgl.h (buffers), platform/window.h (message box).
#include "geometry/metaballs.h"

#include "platform/window.h"

#include <cmath>
#include <cstdint>
#include <cstring>

const char* const METABALL_CAPACITY_TEXT = "The metaball surface needs more triangles than its buffers hold.";

namespace {

constexpr int MAX_POINTS = METABALL_MAX_GRID * METABALL_MAX_GRID * METABALL_MAX_GRID;
constexpr int MAX_CELLS = (METABALL_MAX_GRID - 1) * (METABALL_MAX_GRID - 1) * (METABALL_MAX_GRID - 1);
// 16-bit indices; 0xFFFF marks an edge without vertex.
constexpr int MAX_VERTICES = 65535;

struct MetaballVertex {
    Vector3 position;
    Vector3 normal;
    D3DCOLOR diffuse;
};
static_assert(sizeof(MetaballVertex) == 28, "MetaballVertex must match DGL_VERTEX_PNC");

// Corner n of a cell: its grid step on each axis.
constexpr int CORNER_STEP[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1},
                                   {0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}};

// Edge e: its corners A and B, and the base corner (its lower end) and
// direction slot (0 along x, 1 along z, 2 along y) that name it in the
// vertex cache.
constexpr int EDGE_CORNER_A[12] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3};
constexpr int EDGE_CORNER_B[12] = {1, 2, 3, 0, 5, 6, 7, 4, 4, 5, 6, 7};
constexpr int EDGE_BASE[12] = {0, 1, 3, 0, 4, 5, 7, 4, 0, 1, 2, 3};
constexpr int EDGE_SLOT[12] = {0, 1, 0, 1, 0, 1, 0, 1, 2, 2, 2, 2};

// Neighbour walk, in visiting order: the face's edges, and the step.
enum { STEP_PLUS_X, STEP_MINUS_X, STEP_PLUS_Y, STEP_MINUS_Y, STEP_PLUS_Z, STEP_MINUS_Z, STEP_COUNT };
constexpr int NEIGHBOUR_EDGES[STEP_COUNT] = {
    (1 << 1) | (1 << 5) | (1 << 9) | (1 << 10), (1 << 3) | (1 << 7) | (1 << 8) | (1 << 11),
    (1 << 4) | (1 << 5) | (1 << 6) | (1 << 7),  (1 << 0) | (1 << 1) | (1 << 2) | (1 << 3),
    (1 << 2) | (1 << 6) | (1 << 10) | (1 << 11), (1 << 0) | (1 << 4) | (1 << 8) | (1 << 9),
};
constexpr int NEIGHBOUR_STEP[STEP_COUNT][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0},
                                               {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};

struct WalkFrame {
    std::int32_t t;
    std::uint8_t i, j, k;
    std::uint8_t nextStep;
    std::uint16_t mask;
};

// ---- working storage, shared by all polygonizations

// Everything a polygonization keeps per grid point, in one record so that a
// cell's corners, its visited mark and its edge vertices share cache lines:
// the field value, the vertex of each of the three edges that start at the
// point (slot 0 along x, 1 along z, 2 along y), and the number of the
// polygonization that last set each part. A part stamped with an older
// number reads as unset (field unknown, cell not visited, no edge vertices),
// so nothing needs clearing between polygonizations.
struct GridPoint {
    float field;
    WORD fieldStamp;
    WORD visitStamp;
    WORD edgeStamp;
    WORD edgeVertex[3];
};
static_assert(sizeof(GridPoint) == 16, "GridPoint must stay 16 bytes");

GridPoint gridPoints[MAX_POINTS];
WORD currentStamp = 0;
constexpr WORD NO_VERTEX = 0xFFFF;

float cornerValue[8];
WalkFrame walkStack[MAX_CELLS];
float gridCoordinate[METABALL_MAX_GRID];

// ---- state of the polygonization in progress

MetaballSurface* active = nullptr;
MetaballVertex* lockedVertices = nullptr;
WORD* lockedIndices = nullptr;
int vertexLimit = 0;
bool capacityExceeded = false;
int triangleCount[256];

void prepareTriangleCounts()
{
    for (int c = 0; c < 256; ++c) {
        int n = 0;
        while (n < 16 && METABALL_TRIANGLES[c][n] >= 0) {
            ++n;
        }
        triangleCount[c] = n / 3;
    }
}

Vector3 pointPosition(int i, int j, int k)
{
    return Vector3(gridCoordinate[i], gridCoordinate[j], gridCoordinate[k]);
}

// Per polygonization: squared distance from every grid coordinate to every
// ball centre on each axis, coordinate-major so that the balls of one
// coordinate lie side by side. A point's field then costs one add pair and
// one reciprocal per ball; the reciprocals are taken four at a time and
// summed in ball order, so the value is exactly the in-order sum of
// 1 / (dx^2 + dy^2 + dz^2).
using Float4 = float __attribute__((vector_size(16)));
constexpr int BALL_LANES = METABALL_MAX_BALLS;
alignas(16) float axisDistance2[3][METABALL_MAX_GRID][BALL_LANES];
int ballGroups = 0; // ballCount rounded up to whole groups of four
// The centres side by side per axis; unused lanes far away but finite.
alignas(16) float ballX[BALL_LANES];
alignas(16) float ballY[BALL_LANES];
alignas(16) float ballZ[BALL_LANES];

void prepareAxisDistances(const MetaballSurface& s)
{
    ballGroups = (s.ballCount + 3) / 4;
    for (int b = 0; b < ballGroups * 4; ++b) {
        const bool used = b < s.ballCount;
        ballX[b] = used ? s.balls[b].x : 1e6f;
        ballY[b] = used ? s.balls[b].y : 1e6f;
        ballZ[b] = used ? s.balls[b].z : 1e6f;
    }
    for (int n = 0; n < s.gridSize; ++n) {
        const float c = gridCoordinate[n];
        for (int b = 0; b < ballGroups * 4; ++b) {
            // Unused lanes stay finite; they are never summed.
            const Vector3 centre = b < s.ballCount ? s.balls[b] : Vector3(c + 1.0f, c + 1.0f, c + 1.0f);
            const float dx = c - centre.x;
            const float dy = c - centre.y;
            const float dz = c - centre.z;
            axisDistance2[0][n][b] = dx * dx;
            axisDistance2[1][n][b] = dy * dy;
            axisDistance2[2][n][b] = dz * dz;
        }
    }
}

float fieldAt(int index, int i, int j, int k)
{
    alignas(16) float reciprocal[BALL_LANES];
    const float* dx2 = axisDistance2[0][i];
    const float* dy2 = axisDistance2[1][j];
    const float* dz2 = axisDistance2[2][k];
    const Float4 one = {1.0f, 1.0f, 1.0f, 1.0f};
    for (int g = 0; g < ballGroups; ++g) {
        Float4 x;
        Float4 y;
        Float4 z;
        std::memcpy(&x, dx2 + 4 * g, sizeof(x));
        std::memcpy(&y, dy2 + 4 * g, sizeof(y));
        std::memcpy(&z, dz2 + 4 * g, sizeof(z));
        const Float4 r = one / (x + y + z);
        std::memcpy(reciprocal + 4 * g, &r, sizeof(r));
    }
    float sum = 0.0f;
    const int count = active->ballCount;
    for (int b = 0; b < count; ++b) {
        sum += reciprocal[b];
    }
    GridPoint& point = gridPoints[index];
    point.field = sum;
    point.fieldStamp = currentStamp;
    return sum;
}

// Fills cornerValue for cell (i, j, k) at grid index t; returns the case.
int cellCase(int t, int i, int j, int k)
{
    const MetaballSurface& s = *active;
    int corners = 0;
    for (int n = 0; n < 8; ++n) {
        const int index = t + s.cornerIndexOffset[n];
        const GridPoint& point = gridPoints[index];
        const float value = point.fieldStamp == currentStamp
                                ? point.field
                                : fieldAt(index, i + CORNER_STEP[n][0], j + CORNER_STEP[n][1], k + CORNER_STEP[n][2]);
        cornerValue[n] = value;
        if (value < s.threshold) {
            corners |= 1 << n;
        }
    }
    return corners;
}

Vector3 unitOrZero(const Vector3& v)
{
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(length > 0.0f) || !std::isfinite(length)) {
        return Vector3();
    }
    return v * (1.0f / length);
}

int cachedEdgeVertex(int pointIndex, int slot)
{
    const GridPoint& point = gridPoints[pointIndex];
    return point.edgeStamp == currentStamp && point.edgeVertex[slot] != NO_VERTEX ? point.edgeVertex[slot] : -1;
}

int edgePoint(int t, int edge) { return t + active->cornerIndexOffset[EDGE_BASE[edge]]; }

// The vertex where the surface cuts edge e of cell (i, j, k), made once per
// grid edge.
int edgeVertex(int t, int i, int j, int k, int edge)
{
    const int pointIndex = edgePoint(t, edge);
    const int slot = EDGE_SLOT[edge];
    const int cached = cachedEdgeVertex(pointIndex, slot);
    if (cached >= 0) {
        return cached;
    }
    MetaballSurface& s = *active;
    // Interpolate from the edge's lower end, whichever of its cells makes
    // the vertex: the same point then gets the same rounding every time.
    const int a = EDGE_BASE[edge];
    const int b = EDGE_CORNER_A[edge] == a ? EDGE_CORNER_B[edge] : EDGE_CORNER_A[edge];
    const Vector3 pA = pointPosition(i + CORNER_STEP[a][0], j + CORNER_STEP[a][1], k + CORNER_STEP[a][2]);
    const Vector3 pB = pointPosition(i + CORNER_STEP[b][0], j + CORNER_STEP[b][1], k + CORNER_STEP[b][2]);
    const float vA = cornerValue[a];
    const float vB = cornerValue[b];
    float mu = (s.threshold - vA) / (vB - vA);
    // A grid point exactly at a ball centre has an infinite field: the
    // surface then lies at the other end of the edge, not at NaN.
    if (std::isinf(vA)) {
        mu = 1.0f;
    } else if (std::isinf(vB)) {
        mu = 0.0f;
    }
    const Vector3 p = (pB - pA) * mu + pA;

    // Normal: sum over the balls, in order, of (p - centre) / r^4, the
    // per-ball terms four balls at a time.
    alignas(16) float termX[BALL_LANES];
    alignas(16) float termY[BALL_LANES];
    alignas(16) float termZ[BALL_LANES];
    const Float4 px = {p.x, p.x, p.x, p.x};
    const Float4 py = {p.y, p.y, p.y, p.y};
    const Float4 pz = {p.z, p.z, p.z, p.z};
    const Float4 one = {1.0f, 1.0f, 1.0f, 1.0f};
    for (int g = 0; g < ballGroups; ++g) {
        Float4 cx;
        Float4 cy;
        Float4 cz;
        std::memcpy(&cx, ballX + 4 * g, sizeof(cx));
        std::memcpy(&cy, ballY + 4 * g, sizeof(cy));
        std::memcpy(&cz, ballZ + 4 * g, sizeof(cz));
        const Float4 dx = px - cx;
        const Float4 dy = py - cy;
        const Float4 dz = pz - cz;
        const Float4 r2 = dx * dx + dy * dy + dz * dz;
        const Float4 weight = one / (r2 * r2);
        const Float4 wx = dx * weight;
        const Float4 wy = dy * weight;
        const Float4 wz = dz * weight;
        std::memcpy(termX + 4 * g, &wx, sizeof(wx));
        std::memcpy(termY + 4 * g, &wy, sizeof(wy));
        std::memcpy(termZ + 4 * g, &wz, sizeof(wz));
    }
    float nx = 0.0f;
    float ny = 0.0f;
    float nz = 0.0f;
    for (int ball = 0; ball < s.ballCount; ++ball) {
        nx += termX[ball];
        ny += termY[ball];
        nz += termZ[ball];
    }
    const Vector3 normal(nx, ny, nz);

    const int v = s.vertexCount;
    MetaballVertex& out = lockedVertices[v];
    out.position = p;
    out.normal = unitOrZero(normal);
    out.diffuse = 0xFFFFFFFFu;
    GridPoint& point = gridPoints[pointIndex];
    if (point.edgeStamp != currentStamp) {
        point.edgeStamp = currentStamp;
        point.edgeVertex[0] = NO_VERTEX;
        point.edgeVertex[1] = NO_VERTEX;
        point.edgeVertex[2] = NO_VERTEX;
    }
    point.edgeVertex[slot] = static_cast<WORD>(v);
    s.vertexCount = v + 1;
    return v;
}

void appendFace(int v0, int v1, int v2)
{
    WORD* face = lockedIndices + 3 * active->faceCount;
    // The table's order reversed: front faces wind clockwise, outward.
    face[0] = static_cast<WORD>(v2);
    face[1] = static_cast<WORD>(v1);
    face[2] = static_cast<WORD>(v0);
    active->faceCount += 1;
}

// Near the capacity: triangle by triangle, each stored only when it and the
// vertices it still needs fit; nothing else is made.
void polygonizeCellAtCapacity(int t, int i, int j, int k, int corners)
{
    MetaballSurface& s = *active;
    const signed char* row = METABALL_TRIANGLES[corners];
    for (int n = 0; row[n] >= 0; n += 3) {
        int missing = 0;
        for (int q = 0; q < 3; ++q) {
            if (cachedEdgeVertex(edgePoint(t, row[n + q]), EDGE_SLOT[row[n + q]]) < 0) {
                ++missing;
            }
        }
        if (s.faceCount >= s.maxFaces || s.vertexCount + missing > vertexLimit) {
            capacityExceeded = true;
            return;
        }
        const int v0 = edgeVertex(t, i, j, k, row[n]);
        const int v1 = edgeVertex(t, i, j, k, row[n + 1]);
        const int v2 = edgeVertex(t, i, j, k, row[n + 2]);
        appendFace(v0, v1, v2);
    }
}

void polygonizeCell(int t, int i, int j, int k, int corners, int mask)
{
    MetaballSurface& s = *active;
    if (s.faceCount + triangleCount[corners] > s.maxFaces || s.vertexCount + 12 > vertexLimit) {
        polygonizeCellAtCapacity(t, i, j, k, corners);
        return;
    }
    int v[12];
    for (int e = 0; e < 12; ++e) {
        if (mask & (1 << e)) {
            v[e] = edgeVertex(t, i, j, k, e);
        }
    }
    const signed char* row = METABALL_TRIANGLES[corners];
    for (int n = 0; row[n] >= 0; n += 3) {
        appendFace(v[row[n]], v[row[n + 1]], v[row[n + 2]]);
    }
}

bool cellInside(int i, int j, int k)
{
    const int last = active->gridSize - 2;
    return i >= 0 && j >= 0 && k >= 0 && i <= last && j <= last && k <= last;
}

// Marks and polygonizes one cell; returns its edge mask (0: not on the surface).
int visitCell(int t, int i, int j, int k)
{
    gridPoints[t].visitStamp = currentStamp;
    const int corners = cellCase(t, i, j, k);
    const int mask = METABALL_EDGE_MASKS[corners];
    if (mask != 0) {
        polygonizeCell(t, i, j, k, corners, mask);
    }
    return mask;
}

// Depth first over the face-neighbours whose shared face the surface crosses,
// in the order +x, -x, +y, -y, +z, -z.
void walkSurface(int t, int i, int j, int k)
{
    if (!cellInside(i, j, k) || gridPoints[t].visitStamp == currentStamp) {
        return;
    }
    const int mask = visitCell(t, i, j, k);
    if (mask == 0) {
        return;
    }
    const MetaballSurface& s = *active;
    const int indexStep[STEP_COUNT] = {1, -1, s.gridSize, -s.gridSize, s.gridArea, -s.gridArea};
    int depth = 0;
    walkStack[depth++] = WalkFrame{t, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j),
                                   static_cast<std::uint8_t>(k), 0, static_cast<std::uint16_t>(mask)};
    while (depth > 0) {
        WalkFrame& frame = walkStack[depth - 1];
        if (frame.nextStep == STEP_COUNT) {
            --depth;
            continue;
        }
        const int step = frame.nextStep++;
        if ((frame.mask & NEIGHBOUR_EDGES[step]) == 0) {
            continue;
        }
        const int ni = frame.i + NEIGHBOUR_STEP[step][0];
        const int nj = frame.j + NEIGHBOUR_STEP[step][1];
        const int nk = frame.k + NEIGHBOUR_STEP[step][2];
        const int nt = frame.t + indexStep[step];
        if (!cellInside(ni, nj, nk) || gridPoints[nt].visitStamp == currentStamp) {
            continue;
        }
        const int neighbourMask = visitCell(nt, ni, nj, nk);
        if (neighbourMask != 0) {
            walkStack[depth++] = WalkFrame{nt,
                                           static_cast<std::uint8_t>(ni),
                                           static_cast<std::uint8_t>(nj),
                                           static_cast<std::uint8_t>(nk),
                                           0,
                                           static_cast<std::uint16_t>(neighbourMask)};
        }
    }
}

void beginPolygonization(MetaballSurface& surface)
{
    active = &surface;
    lockedVertices = static_cast<MetaballVertex*>(dglLockVertexBuffer(surface.vertexBuffer));
    lockedIndices = dglLockIndexBuffer(surface.indexBuffer);
    surface.vertexCount = 0;
    surface.faceCount = 0;
    capacityExceeded = false;
    const long long bufferVertices = 3LL * surface.maxFaces;
    vertexLimit = static_cast<int>(bufferVertices < MAX_VERTICES ? bufferVertices : MAX_VERTICES);
    if (vertexLimit < 0) {
        vertexLimit = 0;
    }

    // A new stamp makes every grid point unset; after 65535 polygonizations
    // the stamps start over from a cleared table.
    currentStamp = static_cast<WORD>(currentStamp + 1);
    if (currentStamp == 0) {
        std::memset(gridPoints, 0, sizeof(gridPoints));
        currentStamp = 1;
    }
    for (int n = 0; n < surface.gridSize; ++n) {
        gridCoordinate[n] = -surface.halfSize + static_cast<float>(n) * surface.cellSize;
    }
    prepareAxisDistances(surface);
}

void endPolygonization(MetaballSurface& surface)
{
    dglUnlockVertexBuffer(surface.vertexBuffer);
    dglUnlockIndexBuffer(surface.indexBuffer);
    lockedVertices = nullptr;
    lockedIndices = nullptr;
    active = nullptr;
}

// First grid coordinate at or beyond the centre on one axis; gridSize when
// the centre lies beyond the grid (then no cell there).
int startCoordinate(const MetaballSurface& surface, float centre)
{
    int n = 0;
    while (n < surface.gridSize && gridCoordinate[n] < centre) {
        ++n;
    }
    return n;
}

} // namespace

void initMetaballSurface(MetaballSurface& surface, int ballCount, Vector3* balls, int gridSize, float cubeSize,
                         float threshold, int maxFaces)
{
    // Fewer than two points per axis hold no cell; negative counts no balls.
    surface.ballCount = ballCount < 0 ? 0 : (ballCount > METABALL_MAX_BALLS ? METABALL_MAX_BALLS : ballCount);
    surface.balls = balls;
    surface.gridSize = gridSize < 2 ? 2 : (gridSize > METABALL_MAX_GRID ? METABALL_MAX_GRID : gridSize);
    const int b = surface.gridSize;
    surface.gridArea = b * b;
    surface.cubeSize = cubeSize;
    surface.halfSize = cubeSize * 0.5f;
    surface.cellSize = cubeSize / static_cast<float>(b);
    surface.threshold = threshold;
    surface.maxFaces = maxFaces;
    surface.vertexCount = 0;
    surface.faceCount = 0;
    surface.vertexBuffer = dglCreateVertexBuffer(DGL_VERTEX_PNC, 3 * maxFaces);
    surface.indexBuffer = dglCreateIndexBuffer(maxFaces);

    const float c = surface.cellSize;
    for (int n = 0; n < 8; ++n) {
        const int* step = CORNER_STEP[n];
        surface.cornerIndexOffset[n] = step[0] + step[1] * b + step[2] * surface.gridArea;
        surface.cornerOffset[n] = Vector3(step[0] * c, step[1] * c, step[2] * c);
    }
    prepareTriangleCounts();
}

void polygonizeMetaballs(MetaballSurface& surface)
{
    beginPolygonization(surface);
    const int b = surface.gridSize;
    for (int ball = 0; ball < surface.ballCount; ++ball) {
        const Vector3& centre = surface.balls[ball];
        int i = startCoordinate(surface, centre.x);
        const int j = startCoordinate(surface, centre.y);
        const int k = startCoordinate(surface, centre.z);
        int t = i + j * b + k * surface.gridArea;
        // March along +x out of the blob's interior (case 0) to its surface.
        while (cellInside(i, j, k) && gridPoints[t].visitStamp != currentStamp) {
            if (cellCase(t, i, j, k) != 0) {
                walkSurface(t, i, j, k);
                break;
            }
            t += 1;
            i += 1;
        }
    }
    endPolygonization(surface);
    if (capacityExceeded) {
        platformMessageBox(METABALL_CAPACITY_CAPTION, METABALL_CAPACITY_TEXT);
    }
}

void polygonizeMetaballsFullSweep(MetaballSurface& surface)
{
    beginPolygonization(surface);
    const int last = surface.gridSize - 2;
    for (int k = 0; k <= last; ++k) {
        for (int j = 0; j <= last; ++j) {
            for (int i = 0; i <= last; ++i) {
                visitCell(i + j * surface.gridSize + k * surface.gridArea, i, j, k);
            }
        }
    }
    endPolygonization(surface);
}

bool metaballCapacityExceeded() { return capacityExceeded; }
