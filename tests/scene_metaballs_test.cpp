// Scene 1 (metaballs on the beat): beat timing and catch-up, the closing,
// flash and fade alphas and the close-up lens against the recording device;
// rendered frames through the OpenGL device.
#include "scenes/scenes.h"
#include "tests/scene_harness.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace scene_harness;

namespace {

// Texture order of the precalculation, after the shared noise texture.
constexpr int TITLE = 3;
constexpr int LINUX_PHOTO = 6;

// The blob's vertex buffer is the first one made; a beat rebuilds it.
constexpr const char* BLOB_LOCK = "vertexbuffer1.Lock(";

int beatTimeOf(int k) { return 2200 + 429 * k; }

float projectionScale()
{
    return recordingTransform(D3DTS_PROJECTION).m[0][0];
}

bool sameView(const D3DMATRIX& a, const D3DMATRIX& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool clearedBlack() { return logHas("Clear(0, NULL, 1, 0x00000000"); }
bool clearedWhite() { return logHas("Clear(0, NULL, 1, 0xffffffff"); }

class MetaballsScene : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session.startRecording();
        precalcMetaballs();
    }
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        resetMetaballsState();
        resetRandom();
    }

    static void frame(int t)
    {
        recordingClearLog();
        renderMetaballs(t, static_cast<float>(t) * 0.001f);
    }

    // One frame on every beat from the first up to beat k (inclusive).
    static void playBeatsTo(int k)
    {
        for (int i = 0; i <= k; ++i) frame(beatTimeOf(i));
    }

    static Session session;
};

Session MetaballsScene::session;

TEST_F(MetaballsScene, FirstBeatComesAt2200AndTheBlobOnlyAfterIt)
{
    frame(2199);
    EXPECT_EQ(countLines(BLOB_LOCK), 0);
    EXPECT_EQ(recordingCallCount("DrawIndexedPrimitive"), 0);
    EXPECT_TRUE(clearedWhite());
    EXPECT_TRUE(logHas("SetTexture(0, " + session.textureLabel(LINUX_PHOTO) + ")"));

    frame(2200);
    EXPECT_EQ(countLines(BLOB_LOCK), 1);
    EXPECT_EQ(recordingCallCount("DrawIndexedPrimitive"), 0);

    frame(2201);
    EXPECT_EQ(countLines(BLOB_LOCK), 0);
    ASSERT_EQ(recordingCallCount("DrawIndexedPrimitive"), 1);
    const std::string draw = linesWith("DrawIndexedPrimitive(")[0];
    EXPECT_EQ(draw.rfind("DrawIndexedPrimitive(4, 0, ", 0), 0u) << draw;
    EXPECT_EQ(draw.find(", 0)"), std::string::npos) << "the blob has triangles: " << draw;
}

TEST_F(MetaballsScene, ASlowFrameCatchesUpOneBeatPerFrame)
{
    frame(2100);
    EXPECT_EQ(countLines(BLOB_LOCK), 0);
    frame(2700); // the 2200 mark
    EXPECT_EQ(countLines(BLOB_LOCK), 1);
    frame(2701); // the 2629 mark, already due
    EXPECT_EQ(countLines(BLOB_LOCK), 1);
    frame(2702);
    EXPECT_EQ(countLines(BLOB_LOCK), 0);
    frame(3058); // the 3058 mark
    EXPECT_EQ(countLines(BLOB_LOCK), 1);
}

TEST_F(MetaballsScene, ClosingShowsBlackBlobStaticAndTitleWithoutFlash)
{
    playBeatsTo(119);
    frame(53680); // beat 120 starts the closing and keeps the last surface
    EXPECT_EQ(countLines(BLOB_LOCK), 0);

    for (int t : {53681, 54000, 55555, 57111}) {
        frame(t);
        SCOPED_TRACE(t);
        EXPECT_TRUE(clearedBlack());
        EXPECT_EQ(countLines(BLOB_LOCK), 0);
        EXPECT_EQ(recordingCallCount("DrawIndexedPrimitive"), 1);
        // Four quads of static and the title; no overlays, no flash.
        EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 5);
        const std::vector<std::string> textures = linesWith("SetTexture(0, texture");
        ASSERT_FALSE(textures.empty());
        EXPECT_EQ(textures.back(), "SetTexture(0, " + session.textureLabel(TITLE) + ")");
        EXPECT_EQ(lastQuadColour(), 0xFFFFFFFFu);
        EXPECT_NEAR(projectionScale(), 1.0f / std::tan(0.483322f / 2.0f), 1e-3f);
    }
}

TEST_F(MetaballsScene, FadeInFromBlackOverFifteenSeconds)
{
    frame(0);
    EXPECT_EQ(lastQuadColour(), 0xFF000000u);
    frame(5000);
    EXPECT_EQ(lastQuadColour(), 0xAA000000u); // 255 - 17 * 5
}

TEST_F(MetaballsScene, BeatFlashRunsFrom250To37Over214ms)
{
    playBeatsTo(40); // 19360 ms: past the fade-in
    const D3DCOLOR grey = clearedBlack() ? 0x00FFFFFFu : 0x00000000u;
    EXPECT_EQ(lastQuadColour(), 0xFA000000u | grey);

    const int beat = beatTimeOf(40);
    frame(beat + 213);
    EXPECT_EQ(lastQuadColour(), 0x25000000u | grey);
    const int drawsWithFlash = recordingCallCount("DrawPrimitiveUP");
    frame(beat + 214);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), drawsWithFlash - 1);
}

TEST_F(MetaballsScene, CloseUpsUseANarrowLensAndDoNotSway)
{
    const float closeUpScale = 1.0f / std::tan(0.0897598f / 2.0f);
    const float narrowScale = 1.0f / std::tan(0.349066f / 2.0f);
    const float wideScale = 1.0f / std::tan(0.392699f / 2.0f);
    int closeUps = 0;
    for (int k = 0; k < 120; ++k) {
        frame(beatTimeOf(k));
        SCOPED_TRACE(k);
        const float scale = projectionScale();
        const bool black = clearedBlack();
        const D3DMATRIX viewAtBeat = recordingTransform(D3DTS_VIEW);
        frame(beatTimeOf(k) + 100);
        const D3DMATRIX viewLater = recordingTransform(D3DTS_VIEW);
        if (std::fabs(scale - closeUpScale) < 1e-2f) {
            ++closeUps;
            EXPECT_TRUE(black) << "close-ups come only in the black shots";
            EXPECT_TRUE(sameView(viewAtBeat, viewLater));
        } else {
            EXPECT_TRUE(std::fabs(scale - narrowScale) < 1e-3f || std::fabs(scale - wideScale) < 1e-3f) << scale;
            EXPECT_FALSE(sameView(viewAtBeat, viewLater));
        }
    }
    EXPECT_GT(closeUps, 0);
}

// ---------------------------------------------------------------- rendered frames

// Once per renderer: the session moves to the test's renderer (and the
// scene is precalculated again) when it changes.
class MetaballsFrames : public ::testing::TestWithParam<Renderer> {
protected:
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        if (!session.useOpenGl(GetParam(), precalcMetaballs)) GTEST_SKIP() << "no OpenGL window";
        resetMetaballsState();
        resetRandom();
    }

    static void frame(int t)
    {
        renderMetaballs(t, static_cast<float>(t) * 0.001f);
        dglSwapBuffers();
    }

    static Session session;
};

Session MetaballsFrames::session;
INSTANTIATE_TEST_SUITE_P(Renderers, MetaballsFrames, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

TEST_P(MetaballsFrames, WhiteShotUnderTheFadeBeforeTheFirstBeat)
{
    frame(2199);
    saveFrame("metaballs-2199");
    const Frame& picture = lastFrame();
    // White under a black fade of alpha 217: about 38 beside the photograph.
    EXPECT_NEAR(picture.meanGrey(0, 0, 40, 480), 38.0, 8.0);
}

// Pixels that differ between a run and the same run with the blob's light
// switched off: the quads are unlit, so only the blob can differ.
struct BlobMask {
    int pixels = 0;
    int left = 640, top = 480, right = 0, bottom = 0;
};

BlobMask blobMask(const Frame& lit, const Frame& dark, int threshold = 24)
{
    BlobMask mask;
    for (int y = 0; y < 480; y += 2)
        for (int x = 0; x < 640; x += 2) {
            if (std::abs(lit.grey(x, y) - dark.grey(x, y)) <= threshold) continue;
            mask.pixels += 4;
            mask.left = std::min(mask.left, x);
            mask.top = std::min(mask.top, y);
            mask.right = std::max(mask.right, x);
            mask.bottom = std::max(mask.bottom, y);
        }
    return mask;
}

TEST_P(MetaballsFrames, BlobIsLitInTheMiddleOnlyAfterTheFirstBeat)
{
    auto run = [](const std::vector<int>& times, bool darkLight) {
        resetMetaballsState();
        resetRandom();
        for (std::size_t i = 0; i < times.size(); ++i) {
            frame(times[i]);
            if (i == 0 && darkLight) {
                Light light;
                light.Diffuse = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
                dglSetLight(0, light);
            }
        }
        return lastFrame();
    };
    std::vector<int> beats;
    for (int k = 0; k <= 40; ++k) beats.push_back(beatTimeOf(k));
    beats.push_back(beatTimeOf(40) + 300);

    const Frame lit = run(beats, false);
    saveFrame("metaballs-beat40");
    const Frame dark = run(beats, true);
    saveFrame("metaballs-beat40-dark");
    const BlobMask mask = blobMask(lit, dark);
    EXPECT_GT(mask.pixels, 640 * 480 / 50);
    EXPECT_LT(mask.pixels, 640 * 480 * 9 / 10);
    const int centreX = (mask.left + mask.right) / 2;
    const int centreY = (mask.top + mask.bottom) / 2;
    EXPECT_GT(centreX, 160);
    EXPECT_LT(centreX, 480);
    EXPECT_GT(centreY, 120);
    EXPECT_LT(centreY, 360);

    // On the first beat's own frame the blob is not drawn yet; a millisecond
    // later it shows faintly through the fade-in.
    EXPECT_EQ(blobMask(run({1000, 2200}, false), run({1000, 2200}, true), 2).pixels, 0);
    EXPECT_GT(blobMask(run({1000, 2200, 2201}, false), run({1000, 2200, 2201}, true), 0).pixels, 500);
}

TEST_P(MetaballsFrames, ClosingIsBrightStaticOverBlack)
{
    for (int k = 0; k <= 120; ++k) frame(beatTimeOf(k));
    frame(54500);
    frame(55000);
    saveFrame("metaballs-closing");
    const Frame& picture = lastFrame();
    // Static at grey 220 added over black: bright, speckled, in the top corners.
    const double corner = picture.meanGrey(0, 0, 120, 120);
    EXPECT_GT(corner, 60.0);
    EXPECT_LT(picture.share(0, 0, 120, 120, 250, 255), 0.9);
}

} // namespace
