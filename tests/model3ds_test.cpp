// 3DS loader on files written by the test: the chunk walk (entered, skipped
// and selected chunks), list contents, and every way a damaged file ends.
#include "geometry/model3ds.h"
#include "imaging/png_writer.h"
#include "platform/gl/gl_device.h"
#include "platform/window.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "tests/dgl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void putFloat(Bytes& out, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    put32(out, bits);
}

// A chunk with its header; length = 6 + body unless given.
Bytes chunk(std::uint16_t id, const Bytes& body, long length = -1)
{
    Bytes out;
    put16(out, id);
    put32(out, length < 0 ? static_cast<std::uint32_t>(6 + body.size()) : static_cast<std::uint32_t>(length));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes vertexList(const std::vector<Vector3>& positions, int count = -1)
{
    Bytes body;
    put16(body, count < 0 ? static_cast<std::uint32_t>(positions.size()) : static_cast<std::uint32_t>(count));
    for (const Vector3& p : positions) {
        putFloat(body, p.x);
        putFloat(body, p.y);
        putFloat(body, p.z);
    }
    return chunk(0x4110, body);
}

// Faces with flags and a trailing smoothing-group sub-chunk that must be skipped.
Bytes faceList(const std::vector<std::array<int, 3>>& faces, int count = -1)
{
    Bytes body;
    put16(body, count < 0 ? static_cast<std::uint32_t>(faces.size()) : static_cast<std::uint32_t>(count));
    for (const auto& f : faces) {
        put16(body, static_cast<std::uint32_t>(f[0]));
        put16(body, static_cast<std::uint32_t>(f[1]));
        put16(body, static_cast<std::uint32_t>(f[2]));
        put16(body, 7);
    }
    Bytes smoothing;
    for (std::size_t f = 0; f < faces.size(); ++f) {
        put32(smoothing, 1);
    }
    Bytes sub = chunk(0x4150, smoothing);
    body.insert(body.end(), sub.begin(), sub.end());
    return chunk(0x4120, body);
}

Bytes mappingList(const std::vector<std::pair<float, float>>& uv)
{
    Bytes body;
    put16(body, static_cast<std::uint32_t>(uv.size()));
    for (const auto& [u, v] : uv) {
        putFloat(body, u);
        putFloat(body, v);
    }
    return chunk(0x4140, body);
}

Bytes named(const std::string& name, const Bytes& contents)
{
    Bytes body(name.begin(), name.end());
    body.push_back(0);
    body.insert(body.end(), contents.begin(), contents.end());
    return chunk(0x4000, body);
}

Bytes mainChunk(const Bytes& editorContents, const Bytes& after = {})
{
    Bytes version = chunk(0x0002, {3, 0, 0, 0});
    Bytes keyframer = chunk(0xB000, chunk(0xB002, Bytes(20, 0xAB)));
    return chunk(0x4D4D, join({version, chunk(0x3D3D, editorContents), keyframer, after}));
}

const std::vector<Vector3> TRIANGLE = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};

class Model3ds : public DglTest {
protected:
    void SetUp() override
    {
        DglTest::SetUp();
        init();
        char pattern[] = "/tmp/gfxcore-3ds-XXXXXX";
        folder = mkdtemp(pattern);
    }
    void TearDown() override
    {
        DglTest::TearDown();
        closeAllFiles();
        freeAllMemory();
        const std::string command = "rm -rf " + folder;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    // Writes the file; the returned path lives as long as the test.
    const char* write(const Bytes& bytes)
    {
        paths.push_back(folder + "/model" + std::to_string(paths.size()) + ".3ds");
        std::ofstream file(paths.back(), std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return paths.back().c_str();
    }

    std::string corrupt(const char* path) { return std::string("Corrupt 3DS file: ") + path; }

    std::string folder;
    std::vector<std::string> paths{std::vector<std::string>()};
    Mesh mesh{};
};

TEST_F(Model3ds, LoadsTheSelectedObjectAndSkipsEverythingElse)
{
    const Bytes material = chunk(0xAFFF, chunk(0xA000, {'m', 'a', 't', 0}));
    const Bytes first = named("first", chunk(0x4100, join({vertexList({{9, 9, 9}, {8, 8, 8}, {7, 7, 7}}),
                                                              faceList({{0, 1, 2}}), chunk(0x4160, Bytes(48, 1))})));
    const Bytes second =
        named("a much longer object name than usual", chunk(0x4100, join({chunk(0x4160, Bytes(48, 2)),
                                                                          vertexList({{1, 2, 3}, {4, 5, 6}, {-1, 0, 2}}),
                                                                          mappingList({{0.25f, 0.5f}, {1, 1}, {0, 0.75f}}),
                                                                          faceList({{0, 1, 2}})})));
    const Bytes light = named("lamp", chunk(0x4600, Bytes(12, 0)));
    const char* path = write(mainChunk(join({material, first, light, second})));

    loadMesh3ds(mesh, path, 1, 0.5f, 0xFF336699u);
    ASSERT_EQ(mesh.vertexCount, 3);
    ASSERT_EQ(mesh.faceCount, 1);
    EXPECT_FLOAT_EQ(mesh.vertices[0].position.x, 0.5f);
    EXPECT_FLOAT_EQ(mesh.vertices[1].position.y, 2.5f);
    EXPECT_FLOAT_EQ(mesh.vertices[2].position.z, 1.0f);
    EXPECT_FLOAT_EQ(mesh.vertices[0].u, 0.25f);
    EXPECT_FLOAT_EQ(mesh.vertices[0].v, -0.5f);
    EXPECT_FLOAT_EQ(mesh.vertices[2].v, -0.75f);
    for (int v = 0; v < 3; ++v) {
        EXPECT_EQ(mesh.vertices[v].diffuse, 0xFF336699u);
        EXPECT_NEAR(mesh.vertices[v].normal.length(), 1.0f, 1e-5f);
    }
    EXPECT_EQ(mesh.faces[0].a, 0);
    EXPECT_EQ(mesh.faces[0].b, 1);
    EXPECT_EQ(mesh.faces[0].c, 2);
    UINT length = 0;
    const BYTE* buffer = recordingBufferMemory(mesh.vertexBuffer, &length);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(length, 3u * 36u);
    EXPECT_EQ(std::memcmp(buffer, mesh.vertices, length), 0);
    ASSERT_NE(recordingBufferMemory(mesh.indexBuffer, &length), nullptr);
    EXPECT_EQ(length, 6u);
    // The file stays open until exit: one more slot of the file table.
    EXPECT_EQ(openFileCount(), 1);
}

TEST_F(Model3ds, MappingIsOptionalAndMayComeBeforeTheVertices)
{
    const char* plain = write(mainChunk(named("o", chunk(0x4100, join({vertexList(TRIANGLE), faceList({{2, 1, 0}})})))));
    loadMesh3ds(mesh, plain, 0, 1.0f, 0xFFFFFFFFu);
    ASSERT_EQ(mesh.vertexCount, 3);
    for (int v = 0; v < 3; ++v) {
        EXPECT_EQ(mesh.vertices[v].u, 0.0f);
        EXPECT_EQ(mesh.vertices[v].v, 0.0f);
    }
    // (Pa - Pb) x (Pb - Pc) of face (2, 1, 0) here is +z.
    EXPECT_NEAR(mesh.vertices[0].normal.z, 1.0f, 1e-6f);

    const char* mappedFirst = write(mainChunk(named(
        "o", chunk(0x4100, join({faceList({{0, 1, 2}}), mappingList({{0.5f, 0.25f}, {1, 1}, {0, 0}}),
                                 vertexList(TRIANGLE)})))));
    Mesh second{};
    loadMesh3ds(second, mappedFirst, 0, 2.0f, 0);
    ASSERT_EQ(second.vertexCount, 3);
    EXPECT_FLOAT_EQ(second.vertices[0].u, 0.5f);
    EXPECT_FLOAT_EQ(second.vertices[0].v, -0.25f);
    EXPECT_FLOAT_EQ(second.vertices[1].position.y, 2.0f);
}

TEST_F(Model3ds, MissingObjectsAndListsEndWithTheirMessages)
{
    const Bytes object = named("o", chunk(0x4100, join({vertexList(TRIANGLE), faceList({{0, 1, 2}})})));
    const char* two = write(mainChunk(join({object, object})));
    EXPECT_FATAL(loadMesh3ds(mesh, two, 2, 1.0f, 0), std::string("Object 2 not present in 3DS file: ") + two + ".");

    init();
    const char* noFaces = write(mainChunk(named("o", chunk(0x4100, vertexList(TRIANGLE)))));
    EXPECT_FATAL(loadMesh3ds(mesh, noFaces, 0, 1.0f, 0), corrupt(noFaces));

    init();
    const char* twice =
        write(mainChunk(named("o", chunk(0x4100, join({vertexList(TRIANGLE), vertexList(TRIANGLE)})))));
    EXPECT_FATAL(loadMesh3ds(mesh, twice, 0, 1.0f, 0), "Corrupt 3DS file.");

    init();
    const std::string missing = folder + "/none.3ds";
    EXPECT_FATAL(loadMesh3ds(mesh, missing.c_str(), 0, 1.0f, 0),
                 "Can not open file: " + missing + ", with full access rights. Maybe it's protected.");
}

TEST_F(Model3ds, DamagedChunkLengthsEndAsCorruptWithoutLooping)
{
    const Bytes good = named("o", chunk(0x4100, join({vertexList(TRIANGLE), faceList({{0, 1, 2}})})));
    // A zero length would make the walk stand still; a short one step back.
    for (long length : {0L, 5L}) {
        const char* path = write(mainChunk(join({chunk(0x1234, Bytes(10, 0), length), good})));
        EXPECT_FATAL(loadMesh3ds(mesh, path, 0, 1.0f, 0), corrupt(path));
        init();
    }
    // A chunk that runs past the end of the file.
    const char* past = write(mainChunk(join({good, chunk(0xAFFF, Bytes(4, 0), 4000)})));
    EXPECT_FATAL(loadMesh3ds(mesh, past, 0, 1.0f, 0), corrupt(past));

    // A truncated file: its main chunk claims more than is there.
    init();
    Bytes whole = mainChunk(good);
    whole.resize(whole.size() - 5);
    const char* truncated = write(whole);
    EXPECT_FATAL(loadMesh3ds(mesh, truncated, 0, 1.0f, 0), corrupt(truncated));

    // A header cut short inside a consistent main chunk: the file manager's read message.
    init();
    Bytes cutHeader = mainChunk(good, {0x10, 0x20, 0x30});
    const char* header = write(cutHeader);
    EXPECT_FATAL(loadMesh3ds(mesh, header, 0, 1.0f, 0), std::string("Can not read 4 bytes from file: ") + header + ".");

    // An object name without terminator inside its chunk.
    init();
    Bytes unterminated = chunk(0x4000, {'a', 'b', 'c'});
    const char* name = write(mainChunk(join({unterminated, good})));
    EXPECT_FATAL(loadMesh3ds(mesh, name, 0, 1.0f, 0), corrupt(name));
}

TEST_F(Model3ds, ListsThatDoNotFitTheirChunkOrTheMeshAreCorrupt)
{
    auto object = [](const Bytes& lists) { return mainChunk(named("o", chunk(0x4100, lists))); };
    struct Case {
        const char* what;
        Bytes file;
    };
    const std::vector<Case> cases = {
        {"vertex count beyond the chunk", object(join({vertexList(TRIANGLE, 4), faceList({{0, 1, 2}})}))},
        {"face count beyond the chunk", object(join({vertexList(TRIANGLE), faceList({{0, 1, 2}}, 50)}))},
        {"face index beyond the vertices", object(join({vertexList(TRIANGLE), faceList({{0, 1, 3}})}))},
        {"face index before the vertices", object(join({faceList({{0, 9, 2}}), vertexList(TRIANGLE)}))},
        {"mapping count differs", object(join({vertexList(TRIANGLE), mappingList({{0, 0}, {1, 1}}),
                                               faceList({{0, 1, 2}})}))},
        {"vertex count differs", object(join({mappingList({{0, 0}, {1, 1}}), vertexList(TRIANGLE),
                                              faceList({{0, 1, 2}})}))},
        {"list chunk too short for its count", object(join({chunk(0x4110, {1}), faceList({{0, 0, 0}})}))},
        // 0xFFFF is 65535 records, not -1: it must be checked against the chunk.
        {"full 16-bit count beyond the chunk", object(join({vertexList(TRIANGLE, 0xFFFF), faceList({{0, 1, 2}})}))},
        {"full 16-bit face count beyond the chunk",
         object(join({vertexList(TRIANGLE), faceList({{0, 1, 2}}, 0xFFFF)}))},
    };
    for (const Case& c : cases) {
        const char* path = write(c.file);
        EXPECT_FATAL(loadMesh3ds(mesh, path, 0, 1.0f, 0), corrupt(path)) << c.what;
        init();
    }
}

// Counts are unsigned 16-bit: 65535 vertices and faces fill one object, and
// the last vertex is reachable by a 16-bit index.
TEST_F(Model3ds, CountsUpTo65535AreValid)
{
    std::vector<Vector3> positions;
    for (int v = 0; v < 0xFFFF; ++v) {
        positions.push_back(Vector3(static_cast<float>(v % 256), static_cast<float>(v / 256), 0.0f));
    }
    std::vector<std::array<int, 3>> faces;
    for (int f = 0; f < 0xFFFF; ++f) {
        faces.push_back({f, (f + 1) % 0xFFFF, (f + 256) % 0xFFFF});
    }
    const char* path = write(mainChunk(named("big", chunk(0x4100, join({vertexList(positions), faceList(faces)})))));
    loadMesh3ds(mesh, path, 0, 1.0f, 0xFFFFFFFFu);
    ASSERT_EQ(mesh.vertexCount, 65535);
    ASSERT_EQ(mesh.faceCount, 65535);
    EXPECT_EQ(mesh.faces[65534].a, 65534);
    EXPECT_FLOAT_EQ(mesh.vertices[65534].position.x, 254.0f);
    EXPECT_FLOAT_EQ(mesh.vertices[65534].position.y, 255.0f);
    EXPECT_NEAR(mesh.vertices[40000].normal.length(), 1.0f, 1e-5f);
    UINT length = 0;
    ASSERT_NE(recordingBufferMemory(mesh.vertexBuffer, &length), nullptr);
    EXPECT_EQ(length, 65535u * 36u);
    ASSERT_NE(recordingBufferMemory(mesh.indexBuffer, &length), nullptr);
    EXPECT_EQ(length, 65535u * 6u);

    // One index past the last vertex is a damaged file.
    init();
    faces.back() = {0, 1, 0xFFFF};
    const char* past = write(mainChunk(named("big", chunk(0x4100, join({vertexList(positions), faceList(faces)})))));
    EXPECT_FATAL(loadMesh3ds(mesh, past, 0, 1.0f, 0), corrupt(past));
}

// The show's own models, as the data set writes them and the scenes load them.
TEST_F(Model3ds, TheShowsModelsLoad)
{
    struct ShowModel {
        const char* name;
        float scale;
    };
    for (const ShowModel& model : {ShowModel{"vorn02.3ds", 0.02f}, ShowModel{"cube.3ds", 0.9f},
                                   ShowModel{"ChamferLOW.3ds", 0.01f}}) {
        paths.push_back(std::string(GFXCORE_SHOW_DIR) + "/data/" + model.name);
        if (access(paths.back().c_str(), R_OK) != 0) {
            GTEST_SKIP() << "data set not generated: " << paths.back();
        }
        Mesh loaded{};
        loadMesh3ds(loaded, paths.back().c_str(), 0, model.scale, 0xFFFFFFFFu);
        EXPECT_GT(loaded.vertexCount, 0) << model.name;
        EXPECT_GT(loaded.faceCount, 0) << model.name;
        centerMesh(loaded);
        Vector3 mean;
        for (int v = 0; v < loaded.vertexCount; ++v) {
            mean += loaded.vertices[v].position;
            const Vector3& n = loaded.vertices[v].normal;
            ASSERT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << model.name;
        }
        EXPECT_NEAR(mean.x / static_cast<float>(loaded.vertexCount), 0.0f, 1e-3f) << model.name;
    }
}

// A model written by a real exporter: a 65535-vertex grid as an OBJ file,
// turned into 3DS by the Open Asset Import tool, which fills its objects to
// the 16-bit limit. The first object is loaded and drawn on the OpenGL
// device; the upper half of it is made only of vertices past index 32767.
class Model3dsExported : public ::testing::Test {
protected:
    void TearDown() override
    {
        dglShutdown();
        dglForgetAll();
        glDeviceSetPresentHook(nullptr, nullptr);
        if (window != nullptr) {
            platformDestroyWindow(window);
        }
        if (savedImplementation != nullptr) {
            d3dSetImplementation(savedImplementation);
        }
        closeAllFiles();
        freeAllMemory();
        if (!folder.empty()) {
            EXPECT_EQ(std::system(("rm -rf " + folder).c_str()), 0);
        }
    }

    static void keepFrame(const std::uint8_t* rgb, int width, int height, void* user)
    {
        Model3dsExported* test = static_cast<Model3dsExported*>(user);
        test->frame.assign(rgb, rgb + static_cast<std::size_t>(width) * height * 3);
        test->frameWidth = width;
    }
    const std::uint8_t* pixel(int x, int y) const
    {
        return &frame[(static_cast<std::size_t>(y) * frameWidth + x) * 3];
    }

    std::string folder;
    HWND window = nullptr;
    Direct3DCreate8Function savedImplementation = nullptr;
    std::vector<std::uint8_t> frame;
    int frameWidth = 0;
};

constexpr int GRID_COLUMNS = 255;
constexpr int GRID_ROWS = 257; // 255 x 257 = 65535 vertices
constexpr float GRID_STEP = 0.1f;

TEST_F(Model3dsExported, AFullObjectFromAnExporterLoadsAndDraws)
{
    if (std::system("command -v assimp > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "assimp (package assimp-utils) is not installed: no exporter to write the 3DS file";
    }
    char pattern[] = "/tmp/gfxcore-3ds-XXXXXX";
    folder = mkdtemp(pattern);
    {
        std::ofstream obj(folder + "/grid.obj");
        for (int y = 0; y < GRID_ROWS; ++y) {
            for (int x = 0; x < GRID_COLUMNS; ++x) {
                obj << "v " << x * GRID_STEP << " " << y * GRID_STEP << " " << ((x * 7 + y * 3) % 11) * 0.01f << "\n";
            }
        }
        for (int y = 0; y + 1 < GRID_ROWS; ++y) {
            for (int x = 0; x + 1 < GRID_COLUMNS; ++x) {
                const int a = y * GRID_COLUMNS + x + 1;
                obj << "f " << a << " " << a + 1 << " " << a + GRID_COLUMNS + 1 << "\n";
                obj << "f " << a << " " << a + GRID_COLUMNS + 1 << " " << a + GRID_COLUMNS << "\n";
            }
        }
    }
    const int exported = std::system(("cd " + folder + " && assimp export grid.obj grid.3ds > export.log 2>&1").c_str());
    if (exported != 0) {
        EXPECT_EQ(std::system(("cat " + folder + "/export.log").c_str()), 0);
    }
    ASSERT_EQ(exported, 0);
    const std::string path = folder + "/grid.3ds";

    savedImplementation = d3dImplementation();
    window = platformCreateRenderWindow(640, 480);
    if (window == nullptr) {
        GTEST_SKIP() << "no OpenGL window";
    }
    d3dSetImplementation(glDirect3DCreate8);
    glDeviceSetPresentHook(keepFrame, this);
    dglInit(window, 640, 480, false);

    Mesh mesh{};
    loadMesh3ds(mesh, path.c_str(), 0, 1.0f, 0xFFFF0000u);
    ASSERT_EQ(mesh.vertexCount, 65535);
    int highest = 0;
    for (int f = 0; f < mesh.faceCount; ++f) {
        highest = std::max({highest, static_cast<int>(mesh.faces[f].a), static_cast<int>(mesh.faces[f].b),
                            static_cast<int>(mesh.faces[f].c)});
    }
    EXPECT_EQ(highest, 65534);
    // Every vertex is a point of the grid, as the OBJ file has it.
    std::set<std::pair<int, int>> points;
    for (int v = 0; v < mesh.vertexCount; ++v) {
        const Vector3& p = mesh.vertices[v].position;
        const float gx = p.x / GRID_STEP;
        const float gy = p.y / GRID_STEP;
        ASSERT_NEAR(gx, std::round(gx), 1e-3f) << v;
        ASSERT_NEAR(gy, std::round(gy), 1e-3f) << v;
        points.insert({static_cast<int>(std::round(gx)), static_cast<int>(std::round(gy))});
    }
    EXPECT_GT(points.size(), 11000u);

    // Straight on, without lighting: the grid's rows 0..44 (y 0 to 4.4)
    // are one red band across the window.
    dglDisable(DGL_LIGHTING);
    dglSetCullMode(D3DCULL_NONE);
    dglSetTransform(D3DTS_PROJECTION, dglMatrixOrtho(26.0f, 19.5f, 0.0f, 10.0f));
    dglSetTransform(D3DTS_VIEW, dglMatrixIdentity());
    dglSetTransform(D3DTS_WORLD, dglMatrixTranslate(-12.7f, -2.2f, -1.0f));
    dglClearColorBuffer(0xFF000000u);
    dglSetVertexFormat(DGL_VERTEX_PNCT);
    dglBindVertexBuffer(DGL_VERTEX_PNCT, mesh.vertexBuffer);
    dglBindIndexBuffer(mesh.indexBuffer, 0);
    dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, mesh.faceCount, 0, mesh.vertexCount, 0);
    dglSwapBuffers();
    ASSERT_EQ(frameWidth, 640);
    const char* keep = std::getenv("GFXCORE_TEST_PNG_DIR");
    if (keep != nullptr && keep[0] != 0) {
        writePngRgb(std::string(keep) + "/model3ds-exported.png", frame.data(), 640, 480);
    }
    // Rows of the window: grid y 1.1 (vertices below 32768), y 3.3 (above),
    // y 6 (outside the object).
    auto row = [](float gridY) { return static_cast<int>(240.0f - (gridY - 2.2f) * 2.01f / 19.5f * 240.0f); };
    for (int x = 190; x < 450; x += 4) {
        for (float gridY : {1.1f, 3.3f}) {
            const std::uint8_t* p = pixel(x, row(gridY));
            ASSERT_TRUE(p[0] == 255 && p[1] == 0 && p[2] == 0) << "x " << x << ", grid y " << gridY;
        }
        const std::uint8_t* outside = pixel(x, row(6.0f));
        ASSERT_TRUE(outside[0] == 0 && outside[1] == 0 && outside[2] == 0) << "x " << x;
    }
}

} // namespace
