// Scene 8 (closing branch sculpture): two draws per copy for 109 copies, the
// arms lying on the axes when the bending is zero, the core inside its
// additive shell, the light and the overlays; and a rendered frame with the
// sculpture in the lower left.
#include "tests/late_scene_fixture.h"

#include <cmath>

using namespace late_scene;

namespace {

// The scene counts from 74314: t = 74314 gives r = 0, where both bending
// sines and the whole turn are zero.
constexpr int CLOCK_ORIGIN = 74314;

class BranchSculpture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { saved = startRecorded(precalcBranchSculpture); }
    static void TearDownTestSuite() { stopRecorded(saved); }
    void SetUp() override
    {
        resetBranchSculptureState();
        resetRandom();
        recordingClearLog();
    }
    static Direct3DCreate8Function saved;
};
Direct3DCreate8Function BranchSculpture::saved = nullptr;

bool blendOnBefore(const std::vector<std::string>& log, std::size_t drawIndex)
{
    // The last ALPHABLENDENABLE (27) before the draw.
    std::size_t seen = 0;
    bool on = false;
    for (const std::string& line : log) {
        if (startsWith(line, "SetRenderState(27, "))
            on = line == "SetRenderState(27, 1)";
        else if (startsWith(line, "DrawIndexedPrimitive(") && seen++ == drawIndex)
            return on;
    }
    return on;
}

} // namespace

TEST_F(BranchSculpture, EveryFrameDrawsTheBlock218TimesAndTwoOverlays)
{
    renderBranchSculpture(157050, 157.05f);
    EXPECT_EQ(recordingCallCount("DrawIndexedPrimitive"), 218);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 2);
    recordingClearLog();
    renderBranchSculpture(164999, 164.999f);
    EXPECT_EQ(recordingCallCount("DrawIndexedPrimitive"), 218);
    DglState state;
    dglGetState(&state);
    EXPECT_FALSE(state.capabilities[DGL_BLEND]);
    EXPECT_TRUE(state.capabilities[DGL_LIGHTING]);
    EXPECT_TRUE(state.lightEnabled[0]);
    EXPECT_EQ(state.sourceBlend, D3DBLEND_ONE);
    EXPECT_EQ(state.destinationBlend, D3DBLEND_ONE);
    EXPECT_EQ(state.textures[0], nullptr);
    EXPECT_NEAR(state.lights[0].Diffuse.r, 210.0f / 255.0f, 1e-6);
    EXPECT_NEAR(state.lights[0].Diffuse.g, 135.0f / 255.0f, 1e-6);
    EXPECT_NEAR(state.lights[0].Diffuse.b, 197.0f / 255.0f, 1e-6);
}

TEST_F(BranchSculpture, StraightArmsLieOnTheAxesAndShrinkByNineTenths)
{
    renderBranchSculpture(CLOCK_ORIGIN, 74.314f);
    const std::vector<DrawCall> draws = indexedDraws();
    ASSERT_EQ(draws.size(), 218u);
    const std::vector<std::string> log = recordingLog();

    // Centre copy: core at 0.79, shell at full size, both at the origin.
    EXPECT_NEAR(draws[0].world[0], 0.79f, 1e-6);
    EXPECT_NEAR(draws[1].world[0], 1.0f, 1e-6);
    EXPECT_FALSE(blendOnBefore(log, 0));
    EXPECT_TRUE(blendOnBefore(log, 1));

    const int axisOf[6] = {0, 0, 1, 1, 2, 2};
    const float signOf[6] = {1, -1, 1, -1, 1, -1};
    for (int arm = 0; arm < 6; ++arm) {
        float expectedScale = 1.0f;
        float expectedDistance = 0.0f;
        for (int k = 1; k <= 18; ++k) {
            SCOPED_TRACE(testing::Message() << "arm " << arm + 1 << ", copy " << k);
            expectedDistance += 2.125f * expectedScale;
            expectedScale *= 0.9f;
            const std::size_t shellIndex = 2 + static_cast<std::size_t>(arm * 18 + (k - 1)) * 2 + 1;
            const Matrix& shell = draws[shellIndex].world;
            const Matrix& core = draws[shellIndex - 1].world;
            for (int row = 0; row < 3; ++row)
                for (int column = 0; column < 3; ++column) {
                    const float expected = row == column ? expectedScale : 0.0f;
                    EXPECT_NEAR(shell[row * 4 + column], expected, 1e-5);
                    EXPECT_NEAR(core[row * 4 + column], expected * 0.79f, 1e-5);
                }
            for (int axis = 0; axis < 3; ++axis) {
                const float expected = axis == axisOf[arm] ? signOf[arm] * expectedDistance : 0.0f;
                EXPECT_NEAR(shell[12 + axis], expected, 1e-4);
                EXPECT_NEAR(core[12 + axis], expected, 1e-4);
            }
            EXPECT_TRUE(blendOnBefore(log, shellIndex));
            EXPECT_FALSE(blendOnBefore(log, shellIndex - 1));
        }
    }
}

TEST_F(BranchSculpture, SculptureIsTheSameWheneverTheSceneIsEntered)
{
    renderBranchSculpture(160000, 160.0f);
    const std::vector<DrawCall> first = indexedDraws();
    resetBranchSculptureState();
    recordingClearLog();
    renderBranchSculpture(157050, 157.05f);
    recordingClearLog();
    renderBranchSculpture(160000, 160.0f);
    const std::vector<DrawCall> second = indexedDraws();
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(first[i].world, second[i].world) << "draw " << i;
}

class BranchSculptureFrames : public ::testing::TestWithParam<Renderer> {};
INSTANTIATE_TEST_SUITE_P(Renderers, BranchSculptureFrames,
                         ::testing::Values(Renderer::gl, Renderer::es, Renderer::core), rendererTestName);

TEST_P(BranchSculptureFrames, SculptureStandsInTheLowerLeft)
{
    RenderedFrames frames;
    ASSERT_TRUE(frames.start(precalcBranchSculpture, GetParam()));
    resetBranchSculptureState();
    frames.render(renderBranchSculpture, 157050);
    frames.save("branch_sculpture_first");
    frames.render(renderBranchSculpture, 161000);
    frames.save("branch_sculpture_161000");
    // Lower-left quarter holds the sculpture; the upper right is empty sky.
    EXPECT_GT(frames.brightness(0, 240, 320, 240), 8.0);
    EXPECT_LT(frames.brightness(400, 0, 240, 200), 2.0);
    // The picture at the lower right: canvas (306, 343) to (512, 441).
    EXPECT_GT(frames.brightness(400, 340, 150, 60), 8.0);
    frames.stop();
}

TEST_F(BranchSculpture, MissingModelEndsTheProgramWithTheFileMessage)
{
    EXPECT_EQ(precalcMessageWithoutData(precalcBranchSculpture),
              "Can not open file: Data/ChamferLOW.3ds, with full access rights. Maybe it's protected.");
}
