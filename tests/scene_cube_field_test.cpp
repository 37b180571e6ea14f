// Scene 5 (cube field and photo ring): the beat counters, column heights and
// light colours by parity, the photo ring's projection, the beat pulse and
// the dip with the orange columns, on the recording device; and rendered
// frames on the OpenGL device.
#include "tests/late_scene_fixture.h"

#include <cmath>

using namespace late_scene;

namespace {

constexpr int START = 101778;

float secondsAt(int r) { return static_cast<float>(START + r) * 0.001f; }
void frameAt(int r) { renderCubeField(START + r, secondsAt(r)); }

class CubeField : public ::testing::Test {
protected:
    static void SetUpTestSuite() { saved = startRecorded(precalcCubeField); }
    static void TearDownTestSuite() { stopRecorded(saved); }
    void SetUp() override
    {
        resetCubeFieldState();
        resetRandom();
        recordingClearLog();
    }
    static Direct3DCreate8Function saved;
};
Direct3DCreate8Function CubeField::saved = nullptr;

} // namespace

TEST_F(CubeField, PictureCounterAndDirectionFollowTheBeatOneStepPerFrame)
{
    frameAt(0);
    CubeFieldView view = cubeFieldView();
    EXPECT_EQ(view.pictureCounter, 0);
    EXPECT_EQ(view.direction, 0);
    EXPECT_EQ(view.beatMark, 0);

    const int expectedCounters[] = {1, 2, 3, 4, 0, 1};
    for (int beat = 1; beat <= 6; ++beat) {
        frameAt(beat * 429);
        view = cubeFieldView();
        EXPECT_EQ(view.pictureCounter, expectedCounters[beat - 1]) << "beat " << beat;
        EXPECT_EQ(view.direction, beat % 2) << "beat " << beat;
    }
    // A late frame catches up one beat only.
    frameAt(10000);
    EXPECT_EQ(cubeFieldView().beatMark, 7 * 429);
    frameAt(10001);
    EXPECT_EQ(cubeFieldView().beatMark, 8 * 429);
}

TEST_F(CubeField, ColumnsTakeTheirHeightAndLightFromTheParityOfTheirColumn)
{
    const int r = 1234;
    frameAt(0);
    recordingClearLog();
    frameAt(r);
    const std::vector<DrawCall> draws = indexedDraws();
    ASSERT_EQ(draws.size(), 676u);
    for (int i = 0; i < 26; ++i) {
        for (int j = 0; j < 26; ++j) {
            const DrawCall& call = draws[static_cast<std::size_t>(i * 26 + j)];
            const float angleTerm = static_cast<float>(i * j);
            const float h = (j % 2 == 1) ? std::fabs(std::sin(0.0009f * r + angleTerm)) * 7.0f + 1.0f
                                         : std::fabs(std::cos(0.0019f * r + angleTerm)) * 6.0f + 1.0f;
            SCOPED_TRACE(testing::Message() << "column " << i << ", " << j);
            EXPECT_EQ(lightDiffuse(call.light0), j % 2 == 1 ? "(1 1 1 1)" : "(0.686275 0.980392 1 1)");
            EXPECT_NEAR(call.world[10], h, 1e-4);
            EXPECT_GE(call.world[10], 1.0f);
            EXPECT_NEAR(call.world[12], j - 12.5f, 1e-5);
            EXPECT_NEAR(call.world[13], i - 13.0f, 1e-5);
            EXPECT_NEAR(call.world[14], 3.0f - 0.5f * h, 1e-4);
        }
    }
}

TEST_F(CubeField, DipToBlackTurnsTheColumnsOrangeForGood)
{
    frameAt(0);
    frameAt(18300);
    EXPECT_FALSE(cubeFieldView().orange);
    // First half of the dip: darkening, still the usual lights.
    recordingClearLog();
    frameAt(18566);
    EXPECT_FALSE(cubeFieldView().orange);
    const float s = secondsAt(18566) - 101.778f;
    EXPECT_EQ(lastQuadColor(), static_cast<D3DCOLOR>(static_cast<int>((s - 18.316f) * 510.0f)) << 24);
    // Second half: orange from here on, also after the dip.
    frameAt(18900);
    EXPECT_TRUE(cubeFieldView().orange);
    for (int r : {19400, 20000}) {
        recordingClearLog();
        frameAt(r);
        const std::vector<DrawCall> draws = indexedDraws();
        ASSERT_EQ(draws.size(), 676u);
        EXPECT_EQ(lightDiffuse(draws[0].light0), "(0.921569 0.454902 0.266667 1)");
        EXPECT_EQ(lightDiffuse(draws[675].light0), "(0.921569 0.454902 0.266667 1)");
    }
}

TEST_F(CubeField, BeatPulseFadesFromLightGreyAndStopsAfterHalfABeat)
{
    frameAt(0);
    // 4 noise quads, picture, logo, 10 photographs, the pulse.
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 17);
    EXPECT_EQ(lastQuadColor(), 0xD6D7D7D7u);
    recordingClearLog();
    frameAt(213);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 17);
    EXPECT_EQ(lastQuadColor(), 0x01D7D7D7u);
    recordingClearLog();
    frameAt(214);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 16);
}

TEST_F(CubeField, PhotoRingUsesTheRadianPerspectiveAndRestoresTheState)
{
    frameAt(0);
    std::vector<std::string> projections = recordingLogLines("SetTransform(3, ");
    bool ringProjectionSeen = false;
    for (const std::string& line : projections) {
        const Matrix m = parseMatrix(line);
        if (std::fabs(m[0] - 1.0f / std::tan(45.0f)) < 1e-3f && std::fabs(m[5] - m[0]) < 1e-6f)
            ringProjectionSeen = true;
    }
    EXPECT_TRUE(ringProjectionSeen);
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.cullMode, D3DCULL_CCW);
    EXPECT_FALSE(state.capabilities[DGL_BLEND]);
    EXPECT_TRUE(state.capabilities[DGL_DEPTH_TEST]);
    EXPECT_EQ(state.vertexFormat, DGL_VERTEX_PNCT);
    EXPECT_EQ(state.sourceBlend, D3DBLEND_ONE);
    EXPECT_EQ(state.destinationBlend, D3DBLEND_ONE);
}

TEST_F(CubeField, RandomDrawsComeInTheirOrder)
{
    // First frame: the beat's time offset and ring angle, then the noise
    // (five draws), then the logo's y and x.
    frameAt(0);
    resetRandom();
    rand15();
    rand15();
    for (int i = 0; i < 5; ++i)
        rand15();
    rand15();
    rand15();
    const std::uint32_t expected = randomState();
    resetRandom();
    resetCubeFieldState();
    frameAt(0);
    EXPECT_EQ(randomState(), expected);
}

// Renders the beats up to r one frame each (the beat catches up one step per
// frame), then the frame at r.
void renderAt(RenderedFrames& frames, int r)
{
    for (int beat = cubeFieldView().beatMark + 429; beat <= r; beat += 429)
        frames.render(renderCubeField, START + beat);
    frames.render(renderCubeField, START + r);
}

class CubeFieldFrames : public ::testing::TestWithParam<Renderer> {};
INSTANTIATE_TEST_SUITE_P(Renderers, CubeFieldFrames, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

TEST_P(CubeFieldFrames, DipIsBlackAndTheColumnsTurnOrange)
{
    RenderedFrames frames;
    ASSERT_TRUE(frames.start(precalcCubeField, GetParam()));
    resetCubeFieldState();
    frames.render(renderCubeField, START);
    frames.save("cube_field_0000");
    // The beat pulse: light grey over everything.
    EXPECT_GT(frames.brightness(0, 0, 640, 480), 150.0);
    renderAt(frames, 5000);
    frames.save("cube_field_5000");
    const double fieldRed = frames.mean(0, 0, 240, 640, 240);
    const double fieldBlue = frames.mean(2, 0, 240, 640, 240);
    renderAt(frames, 18817);
    frames.save("cube_field_dip");
    EXPECT_LT(frames.brightness(0, 0, 640, 480), 3.0);
    renderAt(frames, 19700);
    frames.save("cube_field_orange");
    // Orange columns: red up and blue down against the white and pink light.
    const double orangeRed = frames.mean(0, 0, 240, 640, 240);
    const double orangeBlue = frames.mean(2, 0, 240, 640, 240);
    EXPECT_GT(orangeRed - orangeBlue, fieldRed - fieldBlue + 20.0);
    frames.stop();
}

TEST_F(CubeField, MissingModelEndsTheProgramWithTheFileMessage)
{
    EXPECT_EQ(precalcMessageWithoutData(precalcCubeField),
              "Can not open file: data/cube.3ds, with full access rights. Maybe it's protected.");
}
