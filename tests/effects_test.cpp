// Shared effect helpers against the recording device: camera transforms,
// screen quads and fades with their save and restore, and the noise frame.
#include "effects/camera.h"
#include "effects/noise.h"
#include "effects/screen_quad.h"
#include "kernel/random.h"
#include "tests/dgl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr float PI = 3.14159265f;

// p x M with w, divided by w.
Vector3 project(const Matrix4& m, const Vector3& p)
{
    const float w = p.x * m(0, 3) + p.y * m(1, 3) + p.z * m(2, 3) + m(3, 3);
    const Vector3 q = m.transform(p);
    return Vector3(q.x / w, q.y / w, q.z / w);
}

DglState currentState()
{
    DglState state;
    dglGetState(&state);
    return state;
}

bool sameMatrix(const Matrix4& a, const Matrix4& b) { return std::memcmp(a.m, b.m, sizeof(a.m)) == 0; }

// The last matrix set for the transform type before the last user-pointer draw.
Matrix4 matrixAtDraw(int type)
{
    const std::vector<std::string>& log = recordingLog();
    Matrix4 result;
    const std::string prefix = "SetTransform(" + std::to_string(type) + ", ";
    for (const std::string& line : log) {
        if (line.rfind("DrawPrimitiveUP(", 0) == 0) {
            break;
        }
        if (line.rfind(prefix, 0) == 0) {
            std::string numbers = line.substr(line.find('[') + 1);
            std::istringstream in(numbers);
            for (float& value : result.m) {
                in >> value;
            }
        }
    }
    return result;
}

using Effects = DglTest;

TEST_F(Effects, DefaultCameraLooksAlongZFromFourUnitsBack)
{
    init();
    Camera camera;
    EXPECT_FLOAT_EQ(camera.eye.z, -4.0f);
    std::uint32_t fovBits = 0;
    std::uint32_t aspectBits = 0;
    std::memcpy(&fovBits, &camera.fov, 4);
    std::memcpy(&aspectBits, &camera.aspect, 4);
    EXPECT_EQ(fovBits, 0x3F490FDBu);
    EXPECT_EQ(aspectBits, 0x3FA66666u);

    camera.applyView();
    camera.applyProjection();
    const DglState state = currentState();
    Matrix4 expectedView;
    expectedView(3, 2) = 4.0f;
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(state.view.m[i], expectedView.m[i], 1e-6f) << i;
    }
    EXPECT_NEAR(state.projection(0, 0), 2.4142135f, 1e-5f);
    EXPECT_NEAR(state.projection(1, 1), 3.2091f, 1e-3f);
    EXPECT_FLOAT_EQ(state.projection(2, 2), 100.0f / 99.0f);
    EXPECT_FLOAT_EQ(state.projection(3, 2), -100.0f / 99.0f);
    EXPECT_EQ(state.projection(2, 3), 1.0f);
    EXPECT_EQ(state.projection(3, 3), 0.0f);
    EXPECT_EQ(recordingLogLines("SetTransform(2, ").size(), 1u);
    EXPECT_EQ(recordingLogLines("SetTransform(3, ").size(), 1u);

    const Vector3 centre = project(state.view * state.projection, Vector3());
    EXPECT_NEAR(centre.x, 0.0f, 1e-6f);
    EXPECT_NEAR(centre.y, 0.0f, 1e-6f);
    EXPECT_NEAR(centre.z, (4.0f * 100.0f / 99.0f - 100.0f / 99.0f) / 4.0f, 1e-6f);
}

TEST_F(Effects, RollTurnsTheUpDirectionAndAspectOnlyTheVerticalScale)
{
    init();
    Camera camera;
    camera.roll = PI / 2.0f;
    camera.applyView();
    camera.applyProjection();
    DglState state = currentState();
    const Vector3 onScreen = project(state.view * state.projection, Vector3(1.0f, 0.0f, 0.0f));
    EXPECT_NEAR(onScreen.x, 0.0f, 1e-5f);
    EXPECT_GT(onScreen.y, 0.5f);

    const Matrix4 before = state.projection;
    camera.aspect = 2.0f;
    camera.applyProjection();
    state = currentState();
    for (int i = 0; i < 16; ++i) {
        if (i != 5) {
            EXPECT_EQ(state.projection.m[i], before.m[i]) << i;
        }
    }
    EXPECT_NEAR(state.projection(1, 1), 1.0f / std::tan(PI / 4.0f / 2.0f / 2.0f), 1e-4f);
}

TEST_F(Effects, ScreenQuadDrawsSixClockwiseVerticesOverTheCanvas)
{
    init();
    drawScreenQuad(640.0f, 480.0f, 512.0f, 256.0f, 64.0f, 112.0f, 0.0f, 0x80FF0000u);
    const RecordingUserDraw& draw = recordingLastUserDraw();
    EXPECT_EQ(draw.type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(draw.primitiveCount, 2u);
    EXPECT_EQ(draw.stride, 24u);
    ASSERT_EQ(draw.vertices.size(), 6u * 24u);
    ScreenVertex v[6];
    std::memcpy(v, draw.vertices.data(), sizeof(v));
    // (x, y, u, v) by vertex: x0 = -256, x1 = 256, y0 = -128, y1 = 128.
    const float expected[6][4] = {{256, 128, 1.0f, 0.01f},  {-256, -128, 0.01f, 1.0f}, {-256, 128, 0.01f, 0.01f},
                                  {256, -128, 1.0f, 1.0f},  {-256, -128, 0.01f, 1.0f}, {256, 128, 1.0f, 0.01f}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(v[i].x, expected[i][0]) << i;
        EXPECT_FLOAT_EQ(v[i].y, expected[i][1]) << i;
        EXPECT_EQ(v[i].z, 0.0f);
        EXPECT_EQ(v[i].color, 0x80FF0000u);
        EXPECT_FLOAT_EQ(v[i].u, expected[i][2]) << i;
        EXPECT_FLOAT_EQ(v[i].v, expected[i][3]) << i;
    }
    EXPECT_EQ(recordingLogLines("SetVertexShader(0x142)").size(), 1u);

    // The whole canvas reaches the viewport edges (y overfills by 0.5 %).
    const Matrix4 projection = matrixAtDraw(D3DTS_PROJECTION);
    EXPECT_NEAR(projection.transform(Vector3(320.0f, 240.0f, 0.0f)).x, 1.0f, 1e-5f);
    EXPECT_NEAR(projection.transform(Vector3(320.0f, 240.0f, 0.0f)).y, 1.005f, 1e-5f);
    EXPECT_NEAR(projection.transform(Vector3(-320.0f, -240.0f, 0.0f)).x, -1.0f, 1e-5f);
}

TEST_F(Effects, RotatedQuadTurnsAboutItsOwnCentre)
{
    init();
    drawScreenQuad(640.0f, 480.0f, 200.0f, 100.0f, 400.0f, 50.0f, PI / 2.0f, 0xFFFFFFFFu);
    const Matrix4 world = matrixAtDraw(D3DTS_WORLD);
    // x0 = 80, y0 = 240 - 50 - 100 = 90: centre (180, 140).
    const Vector3 centre = world.transform(Vector3(180.0f, 140.0f, 0.0f));
    EXPECT_NEAR(centre.x, 180.0f, 1e-3f);
    EXPECT_NEAR(centre.y, 140.0f, 1e-3f);
    // The right edge's midpoint turns counter-clockwise to above the centre.
    const Vector3 right = world.transform(Vector3(280.0f, 140.0f, 0.0f));
    EXPECT_NEAR(right.x, 180.0f, 1e-3f);
    EXPECT_NEAR(right.y, 240.0f, 1e-3f);
}

TEST_F(Effects, ScreenQuadLeavesTheRendererStateAsItFoundIt)
{
    init();
    IDirect3DVertexBuffer8* vertexBuffer = dglCreateVertexBuffer(DGL_VERTEX_PNC, 10);
    IDirect3DIndexBuffer8* indexBuffer = dglCreateIndexBuffer(10);
    dglSetCullMode(D3DCULL_NONE);
    dglEnable(DGL_FOG);
    dglEnable(DGL_LIGHTING);
    dglEnable(DGL_BLEND);
    dglSetTextureOperation(1, D3DTOP_MODULATE);
    dglSetTextureOperation(3, 7);
    dglSetTransform(D3DTS_WORLD, dglMatrixRotateX(0.3f));
    dglSetTransform(D3DTS_VIEW, dglMatrixTranslate(1.0f, 2.0f, 3.0f));
    dglSetTransform(D3DTS_PROJECTION, dglMatrixPerspective(0.5f, 1.3f, 1.0f, 100.0f));
    dglSetVertexFormat(DGL_VERTEX_PNC);
    dglBindVertexBuffer(DGL_VERTEX_PNC, vertexBuffer);
    dglBindIndexBuffer(indexBuffer, 5);
    const DglState before = currentState();
    recordingClearLog();

    drawScreenQuad(640.0f, 480.0f, 640.0f, 480.0f, 0.0f, 0.0f, 0.3f, 0xFFFFFFFFu);

    // While drawing: no depth write, depth test always passes, no fog, no
    // lighting, later stages off; blending stays as the caller set it.
    std::vector<std::string> beforeDraw;
    for (const std::string& line : recordingLog()) {
        if (line.rfind("DrawPrimitiveUP(", 0) == 0) {
            break;
        }
        beforeDraw.push_back(line);
    }
    const std::vector<std::string> expectedSetup = {
        "SetRenderState(22, 3)",        "SetRenderState(14, 0)",        "SetRenderState(23, 8)",
        "SetRenderState(28, 0)",        "SetRenderState(137, 0)",
    };
    ASSERT_GE(beforeDraw.size(), expectedSetup.size());
    EXPECT_EQ(std::vector<std::string>(beforeDraw.begin(), beforeDraw.begin() + 5), expectedSetup);
    EXPECT_EQ(std::count(beforeDraw.begin(), beforeDraw.end(), "SetTextureStageState(1, 1, 1)"), 1);
    EXPECT_EQ(std::count(beforeDraw.begin(), beforeDraw.end(), "SetTextureStageState(3, 1, 1)"), 1);
    EXPECT_EQ(std::count(beforeDraw.begin(), beforeDraw.end(), "SetTextureStageState(2, 1, 1)"), 0);
    EXPECT_EQ(recordingLogLines("SetRenderState(27, ").size(), 0u);

    const DglState after = currentState();
    EXPECT_EQ(after.cullMode, before.cullMode);
    EXPECT_EQ(std::memcmp(after.capabilities, before.capabilities, sizeof(before.capabilities)), 0);
    EXPECT_TRUE(sameMatrix(after.world, before.world));
    EXPECT_TRUE(sameMatrix(after.view, before.view));
    EXPECT_TRUE(sameMatrix(after.projection, before.projection));
    EXPECT_EQ(std::memcmp(after.textureOperations, before.textureOperations, sizeof(before.textureOperations)), 0);
    EXPECT_EQ(after.vertexFormat, DGL_VERTEX_PNC);
    EXPECT_EQ(after.vertexBuffer, vertexBuffer);
    EXPECT_EQ(after.vertexBufferType, DGL_VERTEX_PNC);
    EXPECT_EQ(after.indexBuffer, indexBuffer);
    EXPECT_EQ(after.baseVertexIndex, 5);
    // And the device holds the same.
    EXPECT_EQ(recordingRenderState(D3DRS_FOGENABLE), 1u);
    EXPECT_EQ(recordingRenderState(D3DRS_ZFUNC), 4u);
    EXPECT_EQ(recordingRenderState(D3DRS_CULLMODE), 1u);
    EXPECT_EQ(recordingTextureStageState(3, D3DTSS_COLOROP), 7u);
    UINT stride = 0;
    EXPECT_EQ(recordingStreamSource(&stride), vertexBuffer);
    EXPECT_EQ(stride, 28u);
}

TEST_F(Effects, QuadWithNothingToSwitchOffOnlySetsCullModeAndLeavesBuffersUnbound)
{
    init();
    dglDisable(DGL_DEPTH_WRITE);
    dglDisable(DGL_DEPTH_TEST);
    recordingClearLog();
    drawScreenQuad(256.0f, 256.0f, 10.0f, 10.0f, 0.0f, 0.0f, 0.0f, 0u);
    EXPECT_EQ(recordingLogLines("SetRenderState(").size(), 2u); // cull mode set and restored
    EXPECT_EQ(recordingLogLines("SetTextureStageState(").size(), 0u);
    EXPECT_EQ(currentState().vertexBuffer, nullptr);
    EXPECT_EQ(currentState().indexBuffer, nullptr);
}

TEST_F(Effects, FadeBlendsAFlatColourAndRestoresBlendingAndTexture)
{
    init();
    IDirect3DTexture8* texture = dglCreateTexture(16, 16, false, D3DFMT_A8R8G8B8);
    dglBindTexture(0, texture);
    dglSetSourceBlend(D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ZERO);
    recordingClearLog();

    drawScreenFade(300, 255);
    ScreenVertex v[6];
    ASSERT_EQ(recordingLastUserDraw().vertices.size(), sizeof(v));
    std::memcpy(v, recordingLastUserDraw().vertices.data(), sizeof(v));
    EXPECT_EQ(v[0].color, 0x2CFFFFFFu);
    EXPECT_FLOAT_EQ(v[0].x, 128.0f);
    EXPECT_FLOAT_EQ(v[1].y, -128.0f);

    const std::vector<std::string> expected = {
        "SetRenderState(27, 1)", "SetRenderState(19, 5)", "SetRenderState(20, 6)", "SetTexture(0, NULL)"};
    const std::vector<std::string>& log = recordingLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4), expected);
    const std::vector<std::string> expectedEnd = {"SetRenderState(27, 0)", "SetRenderState(19, 2)",
                                                  "SetRenderState(20, 1)", "SetTexture(0, texture1)"};
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()), expectedEnd);

    const DglState after = currentState();
    EXPECT_FALSE(after.capabilities[DGL_BLEND]);
    EXPECT_EQ(after.sourceBlend, D3DBLEND_ONE);
    EXPECT_EQ(after.destinationBlend, D3DBLEND_ZERO);
    EXPECT_EQ(after.textures[0], texture);

    // Blending already on and no texture: neither is touched afterwards.
    dglEnable(DGL_BLEND);
    dglUnbindTexture(0);
    recordingClearLog();
    drawScreenFade(255, 0);
    std::memcpy(v, recordingLastUserDraw().vertices.data(), sizeof(v));
    EXPECT_EQ(v[0].color, 0xFF000000u);
    EXPECT_EQ(recordingLogLines("SetRenderState(27, ").size(), 0u);
    EXPECT_EQ(recordingLogLines("SetTexture(").size(), 0u);
    EXPECT_TRUE(currentState().capabilities[DGL_BLEND]);
}

TEST_F(Effects, NoiseFrameReadsTheTableWithBlankRows)
{
    init();
    for (int i = 0; i < RANDOM_TABLE_SIZE; ++i) {
        randomTable[i] = static_cast<BYTE>(i % 225);
    }
    noiseTexture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    // From the start state the generator gives 41, 18467, 6334, 26500, 19169:
    // k = 41, blank rows 41, 42, 43 and (43 + 18467) % 225 = 60.
    resetRandom(1);
    ASSERT_EQ(updateNoiseTexture(), noiseTexture);
    resetRandom(1);
    for (int call = 0; call < 5; ++call) {
        rand15();
    }
    const std::uint32_t stateAfterFive = randomState();

    RecordingTextureInfo info{};
    ASSERT_TRUE(recordingTextureInfo(noiseTexture, &info));
    auto texel = [&](int x, int y) {
        DWORD value = 0;
        std::memcpy(&value, info.texels + y * info.pitch + x * 4, 4);
        return value;
    };
    auto grey = [](std::uint32_t index) { return static_cast<DWORD>(index % 65536 % 225) * 0x010101u; };

    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const DWORD value = texel(x, y);
            ASSERT_EQ(value >> 24, 0u);
            ASSERT_EQ(value & 0xFF, (value >> 8) & 0xFF);
            ASSERT_EQ(value & 0xFF, (value >> 16) & 0xFF);
            ASSERT_LE(value & 0xFF, 224u);
        }
    }
    for (int y : {41, 42, 43, 60}) {
        for (int x = 0; x < 256; ++x) {
            ASSERT_EQ(texel(x, y), 0u) << "row " << y;
        }
    }
    EXPECT_EQ(texel(0, 0), grey(44));
    EXPECT_EQ(texel(255, 0), grey(44 + 255));
    // A blank row reads nothing: row 44 goes on where row 41 would have read.
    EXPECT_EQ(texel(0, 44), grey(44 + 41 * 256));
    EXPECT_EQ(texel(0, 61), grey(44 + 57 * 256));
    // After row 64 the read position jumps by the third random value.
    EXPECT_EQ(texel(0, 64), grey(44 + 60 * 256));
    EXPECT_EQ(texel(0, 65), grey(44 + 61 * 256 + 6334));
    // Every texel: rows go on from the last read one, the three jumps come
    // after rows 64, 128 and 196, and one row runs over the table's end and
    // goes on at its start.
    std::uint32_t position = 44;
    const std::uint32_t jumps[3] = {6334, 26500, 19169};
    int jump = 0;
    bool wrappedInRow = false;
    for (int y = 0; y < 256; ++y) {
        if (y != 41 && y != 42 && y != 43 && y != 60) {
            wrappedInRow = wrappedInRow || (position % 65536 > 65536 - 256);
            for (int x = 0; x < 256; ++x) {
                ASSERT_EQ(texel(x, y), grey(position + static_cast<std::uint32_t>(x))) << x << ", " << y;
            }
            position += 256;
        }
        if (y == 64 || y == 128 || y == 196) {
            position += jumps[jump++];
        }
    }
    EXPECT_TRUE(wrappedInRow);
    EXPECT_EQ(randomState(), stateAfterFive);
    EXPECT_EQ(recordingLogLines("texture1.LockRect(").size(), 1u);
    EXPECT_EQ(recordingLogLines("texture1.UnlockRect(").size(), 1u);
    noiseTexture = nullptr;
}

} // namespace
