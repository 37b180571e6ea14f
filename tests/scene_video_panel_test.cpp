// Scene 7 (video panel with credit captions): the caption table at its
// boundaries, the eight echo passes, the star angles, the fade-in and
// fade-out alphas; and rendered frames with the credits at the bottom.
#include "tests/late_scene_fixture.h"

#include <cmath>

using namespace late_scene;

namespace {

constexpr int START = 139570;

float secondsAt(int r) { return static_cast<float>(START + r) * 0.001f; }
void frameAt(int r) { renderVideoPanel(START + r, secondsAt(r)); }

class VideoPanel : public ::testing::Test {
protected:
    static void SetUpTestSuite() { saved = startRecorded(precalcVideoPanel); }
    static void TearDownTestSuite() { stopRecorded(saved); }
    void SetUp() override
    {
        resetVideoPanelState();
        resetRandom();
        recordingClearLog();
    }
    static Direct3DCreate8Function saved;
};
Direct3DCreate8Function VideoPanel::saved = nullptr;

std::vector<DrawCall> userDraws()
{
    std::vector<DrawCall> result;
    for (const DrawCall& call : drawCalls())
        if (!call.indexed)
            result.push_back(call);
    return result;
}

} // namespace

TEST(VideoPanelCaptions, TableHoldsAtItsBoundaries)
{
    struct Row {
        int r;
        int picture;
        int left;
        D3DCOLOR color;
    };
    const Row rows[] = {
        {0, VIDEO_PANEL_CODE, 85, 0xFFFFFFFF},      {5159, VIDEO_PANEL_CODE, 85, 0xFFFFFFFF},
        {5160, VIDEO_PANEL_CODE, 85, 0xFFFFFFFF},   {5410, VIDEO_PANEL_CODE, 85, 0x7F7F7F7F},
        {5659, VIDEO_PANEL_CODE, 85, 0x00000000},   {5660, VIDEO_PANEL_GFX, 85, 0x00000000},
        {6159, VIDEO_PANEL_GFX, 85, 0xFEFEFEFE},    {6160, VIDEO_PANEL_GFX, 85, 0xFFFFFFFF},
        {10319, VIDEO_PANEL_GFX, 85, 0xFFFFFFFF},   {10320, VIDEO_PANEL_GFX, 85, 0xFFFFFFFF},
        {10819, VIDEO_PANEL_GFX, 85, 0x00000000},   {10820, VIDEO_PANEL_PRALT, 114, 0x00000000},
        {11319, VIDEO_PANEL_PRALT, 114, 0xFEFEFEFE}, {11320, VIDEO_PANEL_PRALT, 114, 0xFFFFFFFF},
        {17479, VIDEO_PANEL_PRALT, 114, 0xFFFFFFFF},
    };
    for (const Row& row : rows) {
        const VideoPanelCaption caption = videoPanelCaption(row.r);
        EXPECT_EQ(caption.picture, row.picture) << "r = " << row.r;
        EXPECT_EQ(caption.left, row.left) << "r = " << row.r;
        EXPECT_EQ(caption.color, row.color) << "r = " << row.r;
    }
}

TEST_F(VideoPanel, EightAdditivePassesStepTheEyeForward)
{
    frameAt(8000);
    const std::vector<DrawCall> draws = indexedDraws();
    ASSERT_EQ(draws.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(draws[i].line, "DrawIndexedPrimitive(4, 0, 4, 0, 2)");
        // The look-at along +z puts -eye.z into the view's translation.
        EXPECT_NEAR(draws[i].view[14], 4.0f - 0.015f * i, 1e-5) << "pass " << i;
    }
    EXPECT_EQ(recordingLogLines("SetRenderState(19, ").back(), "SetRenderState(19, 2)");
    EXPECT_EQ(recordingLogLines("SetRenderState(20, ").back(), "SetRenderState(20, 2)");
    DglState state;
    dglGetState(&state);
    EXPECT_FALSE(state.capabilities[DGL_BLEND]);
}

TEST_F(VideoPanel, StarsTurnInOppositeDirections)
{
    frameAt(0);
    recordingClearLog();
    frameAt(8000);
    const std::vector<DrawCall> quads = userDraws();
    // Four background tiles, banner, caption, two stars; no fades.
    ASSERT_EQ(quads.size(), 8u);
    const float angle = 8000 * 0.0005f;
    EXPECT_NEAR(quads[6].world[0], std::cos(angle), 1e-5);
    EXPECT_NEAR(quads[6].world[1], std::sin(angle), 1e-5);
    EXPECT_NEAR(quads[7].world[0], std::cos(-angle), 1e-5);
    EXPECT_NEAR(quads[7].world[1], std::sin(-angle), 1e-5);
    EXPECT_EQ(lastQuadColor(), 0xFFFFFFFFu);
}

TEST_F(VideoPanel, FadesInFromBlackAndOutToBlack)
{
    frameAt(0);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 9);
    EXPECT_EQ(lastQuadColor(), 0xFF000000u);

    recordingClearLog();
    frameAt(3500);
    const float s = secondsAt(3500) - 139.57f;
    EXPECT_EQ(lastQuadColor(), static_cast<D3DCOLOR>(255 - static_cast<int>(s * 36.42857f)) << 24);

    recordingClearLog();
    frameAt(7100);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 8);

    recordingClearLog();
    frameAt(15480);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 8);
    recordingClearLog();
    frameAt(15481);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 9);
    EXPECT_EQ(lastQuadColor() >> 24, 0u);
    recordingClearLog();
    frameAt(17479);
    const float end = secondsAt(17479) - 139.57f;
    EXPECT_EQ(lastQuadColor(), static_cast<D3DCOLOR>(static_cast<int>((end - 15.48f) * 127.5f)) << 24);
    EXPECT_GE(lastQuadColor() >> 24, 250u);
}

class VideoPanelFrames : public ::testing::TestWithParam<Renderer> {};
INSTANTIATE_TEST_SUITE_P(Renderers, VideoPanelFrames, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

TEST_P(VideoPanelFrames, CreditsShowAtTheBottomBetweenTheFades)
{
    RenderedFrames frames;
    ASSERT_TRUE(frames.start(precalcVideoPanel, GetParam()));
    resetVideoPanelState();
    frames.render(renderVideoPanel, START);
    frames.save("video_panel_first");
    EXPECT_LT(frames.brightness(0, 0, 640, 480), 1.0);

    const int times[] = {3000, 7500, 9000, 12000};
    for (int r : times) {
        frames.render(renderVideoPanel, START + r);
        frames.save("video_panel_" + std::to_string(r));
    }
    // Credits region: a caption 356x128 at (85 or 114, 398) on the 512 canvas.
    EXPECT_GT(frames.brightness(160, 380, 320, 60), frames.brightness(160, 300, 320, 40) * 0.5);
    EXPECT_GT(frames.brightness(160, 380, 320, 60), 15.0);
    // The panel in the middle glows over the dim background.
    EXPECT_GT(frames.brightness(200, 180, 240, 120), frames.brightness(0, 130, 40, 40));

    frames.render(renderVideoPanel, START + 17470);
    frames.save("video_panel_end");
    EXPECT_LT(frames.brightness(0, 0, 640, 480), 4.0);
    frames.stop();
}

TEST_F(VideoPanel, MissingClipEndsTheProgramWithTheClipMessage)
{
    EXPECT_EQ(precalcMessageWithoutData(precalcVideoPanel),
              "Can not open or use the specified AVI file: data/pats.avi. Are you lacking proper decoders? ;)");
}
