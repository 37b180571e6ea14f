// Scene 2 (model echoes with beat captions): the beat toggle, captions that
// never repeat, late-frame catch-up, the zoom punch, the finale and its fades
// against the recording device; rendered frames through the OpenGL device.
#include "scenes/scenes.h"
#include "tests/scene_harness.h"

#include <cmath>
#include <set>

using namespace scene_harness;

namespace {

constexpr int SCENE_START = 57112;
constexpr float PI = 3.14159265f;

// Texture order of the precalculation, after the shared noise texture.
constexpr int PORTRAIT_A = 0;
constexpr int PORTRAIT_B = 1;
constexpr int FINAL_CAPTION = 3;
// Caption number -> texture order (bonsang, zutalors, pipe, rvb).
constexpr int CAPTION_TEXTURE[4] = {5, 4, 6, 7};

class ModelEchoesScene : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session.startRecording();
        precalcModelEchoes();
    }
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        resetModelEchoesState();
        resetRandom();
    }

    static void frame(int r)
    {
        recordingClearLog();
        const int t = SCENE_START + r;
        renderModelEchoes(t, static_cast<float>(t) * 0.001f);
    }

    static bool bound(int texture) { return logHas("SetTexture(0, " + session.textureLabel(texture) + ")"); }

    // The caption number bound in the last frame, or -1.
    static int captionShown()
    {
        for (int c = 0; c < 4; ++c)
            if (bound(CAPTION_TEXTURE[c])) return c;
        return -1;
    }

    static float projectionScale() { return recordingTransform(D3DTS_PROJECTION).m[0][0]; }

    static Session session;
};

Session ModelEchoesScene::session;

TEST_F(ModelEchoesScene, FirstFrameIsADarkBeatWithPortraitAAndNoCaption)
{
    frame(0);
    EXPECT_TRUE(bound(PORTRAIT_A));
    EXPECT_FALSE(bound(PORTRAIT_B));
    EXPECT_EQ(captionShown(), -1);
    EXPECT_EQ(lastQuadColour(), 0xE6141414u); // alpha 230, grey 20
    EXPECT_NEAR(projectionScale(), 1.0f / std::tan(PI / 4.0f / 2.0f), 1e-4f);
    // Ten echoes into the target, six panel copies.
    EXPECT_EQ(recordingCallCount("DrawIndexedPrimitive"), 16);
}

TEST_F(ModelEchoesScene, SecondBeatShowsACaptionPortraitBAndAZoomPunch)
{
    frame(0);
    frame(428);
    EXPECT_TRUE(bound(PORTRAIT_B));
    const int caption = captionShown();
    EXPECT_GE(caption, 0);
    EXPECT_NE(caption, 3) << "the caption differs from the start value";
    EXPECT_EQ(lastQuadColour(), 0xE6CDCDCDu); // light flash
    EXPECT_NEAR(projectionScale(), 1.0f / std::tan(PI / 12.56f / 2.0f), 1e-3f);

    frame(528);
    EXPECT_NEAR(projectionScale(), 1.0f / std::tan(PI / 8.56f / 2.0f), 1e-3f);
    EXPECT_EQ(lastQuadColour(), 0x82CDCDCDu); // 230 - 100
    frame(642); // the punch relaxes with the flash
    EXPECT_NEAR(projectionScale(), 1.0f / std::tan(PI / 4.0f / 2.0f), 1e-4f);
}

TEST_F(ModelEchoesScene, CaptionsNeverRepeatOnConsecutiveCaptionBeats)
{
    int previous = 3;
    std::set<int> seen;
    for (int beat = 0; beat < 32; ++beat) {
        frame(beat * 428);
        SCOPED_TRACE(beat);
        const int caption = captionShown();
        if (beat % 2 == 0) {
            EXPECT_EQ(caption, -1);
            continue;
        }
        ASSERT_GE(caption, 0);
        EXPECT_NE(caption, previous);
        previous = caption;
        seen.insert(caption);
    }
    EXPECT_GE(seen.size(), 3u);
}

TEST_F(ModelEchoesScene, ALateFrameAdvancesOneBeatAndTheNextFramesCatchUp)
{
    frame(0);
    frame(1000); // the 428 mark: a caption beat
    EXPECT_TRUE(bound(PORTRAIT_B));
    EXPECT_EQ(lastQuadColour(), 0xE6CDCDCDu);
    frame(1001); // the 856 mark, already due
    EXPECT_TRUE(bound(PORTRAIT_A));
    EXPECT_EQ(lastQuadColour(), 0xE6141414u);
    frame(1002); // up to date: the flash of 1001 runs on
    EXPECT_EQ(lastQuadColour(), 0xE5141414u);
}

TEST_F(ModelEchoesScene, FinaleFixesTheCaptionAndFadesTowardsWhite)
{
    for (int beat = 0; beat < 32; ++beat) frame(beat * 428);
    frame(13696); // the finale's beat: no flash, toggle stays true
    EXPECT_TRUE(bound(PORTRAIT_B));
    EXPECT_TRUE(bound(FINAL_CAPTION));
    EXPECT_EQ(captionShown(), -1);
    const int drawsInFinale = recordingCallCount("DrawPrimitiveUP");

    frame(13700);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), drawsInFinale);
    EXPECT_EQ(lastQuadColour(), 0x00FFFFFFu); // whitening starts from alpha 0
    frame(16500);
    EXPECT_EQ(lastQuadColour(), 0x8FFFFFFFu); // trunc(2.804 * 51) = 143
    EXPECT_TRUE(bound(FINAL_CAPTION)); // the later beats keep the finale
}

TEST_F(ModelEchoesScene, PictureDarkensAfterEightSeconds)
{
    frame(0);
    frame(7900);
    EXPECT_NE(lastQuadColour() & 0x00FFFFFFu, 0u) << "no darkening before 8 s (last quad is not a black fade)";
    frame(10000);
    EXPECT_EQ(lastQuadColour(), 0x28000000u); // trunc(2 * 20.4) = 40
}

// The panel copies go without depth test and writes; the echoes of the next
// frame must get both back, or the ten models draw through each other.
TEST_F(ModelEchoesScene, EchoesDrawWithDepthEveryFramePanelCopiesWithout)
{
    recordingClearLog();
    for (int r : {0, 17, 34, 450}) {
        const int t = SCENE_START + r;
        renderModelEchoes(t, static_cast<float>(t) * 0.001f);
    }
    const std::string zFunc = "SetRenderState(" + std::to_string(static_cast<int>(D3DRS_ZFUNC)) + ", ";
    const std::string zWrite = "SetRenderState(" + std::to_string(static_cast<int>(D3DRS_ZWRITEENABLE)) + ", ";
    unsigned comparison = 0;
    unsigned writes = 0;
    int echoes = 0;
    int copies = 0;
    for (const std::string& line : recordingLog()) {
        if (line.rfind(zFunc, 0) == 0) comparison = static_cast<unsigned>(std::stoul(line.substr(zFunc.size())));
        if (line.rfind(zWrite, 0) == 0) writes = static_cast<unsigned>(std::stoul(line.substr(zWrite.size())));
        if (line.rfind("DrawIndexedPrimitive(", 0) != 0) continue;
        // The panel is one quad (two triangles); the model has thousands.
        const bool copy = line.find(", 2)") != std::string::npos;
        (copy ? copies : echoes) += 1;
        EXPECT_EQ(comparison, copy ? D3DCMP_ALWAYS : D3DCMP_LESSEQUAL) << line;
        EXPECT_EQ(writes, copy ? 0u : 1u) << line;
    }
    EXPECT_EQ(echoes, 40);
    EXPECT_EQ(copies, 24);
}

// ---------------------------------------------------------------- rendered frames

// Once per renderer: the session moves to the test's renderer (and the
// scene is precalculated again) when it changes.
class ModelEchoesFrames : public ::testing::TestWithParam<Renderer> {
protected:
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        if (!session.useOpenGl(GetParam(), precalcModelEchoes)) GTEST_SKIP() << "no OpenGL window";
        resetModelEchoesState();
        resetRandom();
    }

    static void frame(int r)
    {
        const int t = SCENE_START + r;
        renderModelEchoes(t, static_cast<float>(t) * 0.001f);
        dglSwapBuffers();
    }

    static Session session;
};

Session ModelEchoesFrames::session;
INSTANTIATE_TEST_SUITE_P(Renderers, ModelEchoesFrames, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

TEST_P(ModelEchoesFrames, CaptionRegionLightsUpOnCaptionBeats)
{
    frame(0);
    frame(250); // after the dark flash, no caption
    saveFrame("echoes-0250");
    const double without = lastFrame().meanGrey(0, 0, 360, 170);
    frame(428);
    frame(678); // caption beat, flash over
    saveFrame("echoes-0678");
    const double with = lastFrame().meanGrey(0, 0, 360, 170);
    EXPECT_GT(with, without + 5.0) << with << " " << without;
    // The portrait stands at the right edge either way.
    EXPECT_GT(lastFrame().meanGrey(400, 100, 640, 480), 20.0);
}

TEST_P(ModelEchoesFrames, EchoesShowOnThePanel)
{
    frame(0);
    frame(300);
    saveFrame("echoes-0300");
    // The panel (2.8 x 2.5 around x = -0.35 from the target) sits left of the
    // portrait; the echoes add light above the dim noise background there.
    const double panel = lastFrame().meanGrey(120, 140, 300, 340);
    EXPECT_GT(panel, 25.0);
}

TEST_P(ModelEchoesFrames, FinaleTurnsTowardsWhite)
{
    for (int beat = 0; beat < 32; ++beat) frame(beat * 428);
    frame(13696);
    frame(17000);
    saveFrame("echoes-17000");
    EXPECT_GT(lastFrame().meanGrey(0, 0, 640, 480), 150.0);
}

} // namespace
