// Scene 4 (city clips on the beat): clip, caption and arrow angle chosen by
// the beat's random k, the ping-pong swing through the clip, the rising
// arrow, the pulse and fade alphas against the recording device (clip frames
// compared with frames decoded separately); rendered frames through OpenGL.
#include "resources/avi.h"
#include "scenes/scenes.h"
#include "tests/scene_harness.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

using namespace scene_harness;

namespace {

constexpr int SCENE_START = 88010;
constexpr const char* CLIP_PATHS[3] = {"data/city.avi", "data/city2.avi", "data/city3.avi"};

// Texture order of the precalculation, after the shared noise texture.
constexpr int FIRST_CAPTION = 3; // levend10, levend11, levend20, ...

// The k that the next beat draws: the beat's draw is the frame's first.
int nextChoice()
{
    const std::uint32_t saved = randomState();
    const int k = rand15() % 6;
    resetRandom(saved);
    return k;
}

class CityClipsScene : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session.startRecording();
        precalcCityClips();
        for (int i = 0; i < 3; ++i) reference[i].open(CLIP_PATHS[i]);
    }
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        resetCityClipsState();
        resetRandom();
    }

    static void frame(int r)
    {
        recordingClearLog();
        const int t = SCENE_START + r;
        renderCityClips(t, static_cast<float>(t) * 0.001f);
    }

    // Whether the video texture holds frame n of the clip.
    static bool showsFrame(int clip, int n)
    {
        static DWORD expected[256 * 256];
        std::memset(expected, 0, sizeof expected);
        reference[clip].copyFrame(n, expected, 256 * 4);
        RecordingTextureInfo info{};
        if (!recordingTextureInfo(cityClipsVideoTexture(), &info)) return false;
        for (int y = 0; y < reference[clip].height; ++y)
            if (std::memcmp(info.texels + y * info.pitch, expected + y * 256, reference[clip].width * 4) != 0)
                return false;
        return true;
    }

    // Any frame within one of n (float clocks may land either side of a frame boundary).
    static bool showsFrameNear(int clip, int n)
    {
        const int last = static_cast<int>(reference[clip].frameCount) - 1;
        for (int m = std::max(0, n - 1); m <= std::min(last, n + 1); ++m)
            if (showsFrame(clip, m)) return true;
        return false;
    }

    static Session session;
    static AviStream reference[3];
};

Session CityClipsScene::session;
AviStream CityClipsScene::reference[3];

TEST_F(CityClipsScene, ClipCaptionAndArrowFollowTheBeatsChoice)
{
    std::set<int> clipsSeen;
    for (int beat = 0; beat < 16; ++beat) {
        SCOPED_TRACE(beat);
        const int k = nextChoice();
        const int clip = k / 2;
        const bool backwards = beat % 2 == 1;
        clipsSeen.insert(clip);
        frame(beat * 430);
        const int caption = FIRST_CAPTION + 2 * clip + (backwards ? 1 : 0);
        EXPECT_TRUE(logHas("SetTexture(0, " + session.textureLabel(caption) + ")"));
        const int last = static_cast<int>(reference[clip].frameCount) - 1;
        EXPECT_TRUE(showsFrame(clip, backwards ? last : 0));

        if (beat * 430 < 3000) continue; // the fade from white is drawn last until 3 s
        frame(beat * 430 + 300);
        EXPECT_EQ(lastQuadColour(), 0x0FFFFFFFu);
        // The arrow has risen 30 units: its upper edge at 256 - 305 in centred canvas units.
        float x = 0.0f;
        float y = 0.0f;
        lastQuadVertex(0, &x, &y);
        EXPECT_FLOAT_EQ(y, 256.0f - 305.0f);
        const std::vector<std::string> worlds = linesWith("SetTransform(256, ");
        ASSERT_GE(worlds.size(), 2u);
        float m[16];
        ASSERT_TRUE(parseTransform(worlds[worlds.size() - 2], m));
        const float angle = clip == 0 ? -0.62831855f : (clip == 1 ? 0.0f : -0.78539819f);
        EXPECT_NEAR(m[0], std::cos(angle), 1e-4f);
        EXPECT_NEAR(m[1], std::sin(angle), 1e-4f);
    }
    EXPECT_EQ(clipsSeen.size(), 3u);
}

TEST_F(CityClipsScene, ClipSwingsForwardsThenBackwardsOneLengthPerBeat)
{
    const int k = nextChoice();
    const int clip = k / 2;
    const int count = static_cast<int>(reference[clip].frameCount);
    ASSERT_GT(count, 4);
    frame(0);
    EXPECT_TRUE(showsFrame(clip, 0));
    frame(215); // half way through the clip
    EXPECT_TRUE(showsFrameNear(clip, static_cast<int>(0.215 * count / 0.43)));
    frame(429);
    EXPECT_TRUE(showsFrameNear(clip, count - 1));

    const int nextClip = nextChoice() / 2;
    const int nextCount = static_cast<int>(reference[nextClip].frameCount);
    frame(430); // backwards from the last frame
    EXPECT_TRUE(showsFrame(nextClip, nextCount - 1));
    frame(645);
    EXPECT_TRUE(showsFrameNear(nextClip, nextCount - 1 - static_cast<int>(0.215 * nextCount / 0.43)));
    frame(859);
    EXPECT_TRUE(showsFrameNear(nextClip, 0));
}

TEST_F(CityClipsScene, PulseAndFadeAlphas)
{
    frame(0);
    EXPECT_EQ(lastQuadColour(), 0xFFFFFFFFu); // opaque white at the start
    frame(1500);
    EXPECT_EQ(lastQuadColour(), 0x80FFFFFFu); // 255 - trunc(1.5 * 85)
    for (int r = 1600; r <= 3000; r += 100) frame(r); // the beat mark catches up
    frame(3010); // a beat after the fade: the dark pulse is last
    EXPECT_EQ(lastQuadColour(), 0xD6000000u);
    frame(3110);
    EXPECT_EQ(lastQuadColour(), 0x72000000u); // 214 - 100
    frame(3224);
    EXPECT_EQ(lastQuadColour(), 0x00000000u); // the pulse's last millisecond, alpha 0
    frame(3225);
    EXPECT_EQ(lastQuadColour(), 0x0FFFFFFFu); // only the arrow
}

TEST_F(CityClipsScene, EveryFrameSetsItsStateAndDrawsThePanelOnce)
{
    frame(0);
    frame(300);
    EXPECT_EQ(recordingCallCount("DrawIndexedPrimitive"), 1);
    EXPECT_TRUE(logHas("DrawIndexedPrimitive(4, 0, 4, 0, 2)"));
    EXPECT_EQ(recordingRenderState(D3DRS_SHADEMODE), static_cast<DWORD>(D3DSHADE_FLAT));
    EXPECT_EQ(recordingRenderState(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_ALWAYS));
    EXPECT_EQ(recordingRenderState(D3DRS_ZWRITEENABLE), 0u);
    // Four noise quads, two line quads, caption, arrow and the white tint.
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 9);
    EXPECT_EQ(recordingCallCount("LockRect"), 2); // noise and the clip frame
}

// ---------------------------------------------------------------- rendered frames

// Once per renderer: the session moves to the test's renderer (and the
// scene is precalculated again) when it changes.
class CityClipsFrames : public ::testing::TestWithParam<Renderer> {
protected:
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        if (!session.useOpenGl(GetParam(), precalcCityClips)) GTEST_SKIP() << "no OpenGL window";
        resetCityClipsState();
        resetRandom();
    }

    static void frame(int r)
    {
        const int t = SCENE_START + r;
        renderCityClips(t, static_cast<float>(t) * 0.001f);
        dglSwapBuffers();
    }

    static Session session;
};

Session CityClipsFrames::session;
INSTANTIATE_TEST_SUITE_P(Renderers, CityClipsFrames, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

TEST_P(CityClipsFrames, StartsWhiteThenShowsTheClipOnThePanel)
{
    frame(0);
    saveFrame("city-0000");
    EXPECT_GT(lastFrame().meanGrey(0, 0, 640, 480), 245.0);

    for (int beat = 1; beat <= 8; ++beat) frame(beat * 430);
    frame(8 * 430 + 250); // forwards, pulse over
    saveFrame("city-forward");
    // The panel (3.6 x 2.0 at the default camera) adds the clip over the
    // grey background: the middle is brighter than the top edge strip.
    const double panel = lastFrame().meanGrey(120, 160, 520, 320);
    const double margin = lastFrame().meanGrey(0, 0, 640, 40);
    EXPECT_GT(panel, margin + 10.0) << panel << " " << margin;

    frame(9 * 430);
    frame(9 * 430 + 250); // backwards
    saveFrame("city-backward");
    EXPECT_GT(lastFrame().meanGrey(120, 160, 520, 320), margin + 10.0);
}

// The top strip holds only the sliding lines over the background; with the
// random table zeroed the noise is black, so the strip shows the lines alone.
TEST_P(CityClipsFrames, SlidingLinesWrapEveryOneAndAHalfSeconds)
{
    std::vector<BYTE> savedTable(randomTable, randomTable + RANDOM_TABLE_SIZE);
    std::fill(randomTable, randomTable + RANDOM_TABLE_SIZE, BYTE{0});
    std::vector<std::uint8_t> strips[3];
    const int times[3] = {3300, 4150, 6300}; // all past their beat's pulse
    int next = 0;
    for (int r = 0; r <= 6300 && next < 3; r += 50) {
        frame(r);
        if (r != times[next]) continue;
        const Frame& picture = lastFrame();
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 640; x += 2) strips[next].push_back(static_cast<std::uint8_t>(picture.grey(x, y)));
        ++next;
    }
    std::copy(savedTable.begin(), savedTable.end(), randomTable);
    ASSERT_EQ(next, 3);

    int sameWrapped = 0;
    int differentSlid = 0;
    for (std::size_t i = 0; i < strips[0].size(); ++i) {
        sameWrapped = std::max(sameWrapped, std::abs(strips[0][i] - strips[2][i]));
        differentSlid = std::max(differentSlid, std::abs(strips[0][i] - strips[1][i]));
    }
    EXPECT_LE(sameWrapped, 2) << "3.3 s and 6.3 s put the lines at the same place";
    EXPECT_GT(differentSlid, 20) << "0.85 s later the lines have moved";
}

} // namespace
