// Scene 3 (wireframe wave whirl): the wave on a few vertices and the sheet's
// grey, the line-list draw into the render target, the seven whirl copies,
// the white pulses after 10272 ms with the jitter kept, and the fade from
// white against the recording device; rendered frames through OpenGL.
#include "geometry/mesh.h"
#include "scenes/scenes.h"
#include "tests/scene_harness.h"

#include <cmath>
#include <set>

using namespace scene_harness;

namespace {

constexpr int SCENE_START = 74314;

// Rest position of vertex i of the 50 x 50 cell sheet, 5.0 x 3.0.
void restPosition(int i, double* x, double* y)
{
    *x = (i % 51) * 0.1 - 2.5;
    *y = (i / 51) * 0.06 - 1.5;
}

// The view matrices of the last frame that are not a plain step back along z
// (the quads' identity and the default camera's view are left out).
std::set<std::string> turnedViews()
{
    std::set<std::string> views;
    for (const std::string& line : linesWith("SetTransform(2, ")) {
        float m[16];
        if (!parseTransform(line, m)) continue;
        const bool plain = m[0] == 1.0f && m[5] == 1.0f && m[10] == 1.0f && m[12] == 0.0f && m[13] == 0.0f;
        if (!plain) views.insert(line);
    }
    return views;
}

bool shareAView(const std::set<std::string>& a, const std::set<std::string>& b)
{
    for (const std::string& view : a)
        if (b.count(view) != 0) return true;
    return false;
}

class WaveWhirlScene : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session.startRecording();
        precalcWaveWhirl();
    }
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        resetWaveWhirlState();
        resetRandom();
    }

    static void frame(int r)
    {
        recordingClearLog();
        const int t = SCENE_START + r;
        renderWaveWhirl(t, static_cast<float>(t) * 0.001f);
    }

    static Session session;
};

Session WaveWhirlScene::session;

TEST_F(WaveWhirlScene, SheetIsBentByTheWaveFromItsRestPositions)
{
    const Mesh& sheet = waveWhirlSheet();
    ASSERT_EQ(sheet.vertexCount, 2601);
    for (int r : {1234, 5000}) {
        frame(r);
        UINT length = 0;
        const BYTE* memory = recordingBufferMemory(sheet.vertexBuffer, &length);
        ASSERT_NE(memory, nullptr);
        ASSERT_EQ(length, 2601u * 36u);
        for (int i : {0, 50, 777, 1300, 2600}) {
            SCOPED_TRACE(i);
            double x = 0.0;
            double y = 0.0;
            restPosition(i, &x, &y);
            const double a = std::sin(i + 0.0026 * r + y + x);
            const double length = std::sqrt(y * y + x * x);
            const double b = std::sin(8.0 * y + 10.0 * x + 0.0008 * r);
            const double h = (length * a + b + 1.3) * 0.11;
            const double phi = std::cos(0.0011 * r) * h + std::sin(0.0014 * r) * x + 0.0005 * r;
            MeshVertex vertex;
            std::memcpy(&vertex, memory + i * 36, sizeof vertex);
            EXPECT_NEAR(vertex.position.x, x, 1e-5);
            EXPECT_NEAR(vertex.position.y, std::cos(phi) * h + std::sin(phi) * y, 2e-3);
            EXPECT_NEAR(vertex.position.z, std::sin(phi) * h - std::cos(phi) * y, 2e-3);
            EXPECT_FLOAT_EQ(vertex.normal.z, -1.0f);
        }
    }
    // Sheet grey: trunc(5 s * 5.263158 + 25) = 51 at 5.0 s.
    UINT length = 0;
    MeshVertex first;
    std::memcpy(&first, recordingBufferMemory(sheet.vertexBuffer, &length), sizeof first);
    EXPECT_EQ(first.diffuse, 0xFF333333u);
}

TEST_F(WaveWhirlScene, WireframeIsDrawnAsALineListIntoTheTargetThenWhirledSevenTimes)
{
    frame(100);
    const std::vector<std::string> draws = linesWith("DrawIndexedPrimitive(");
    ASSERT_EQ(draws.size(), 8u);
    EXPECT_EQ(draws[0], "DrawIndexedPrimitive(2, 0, 2601, 0, 7500)");
    for (std::size_t i = 1; i < draws.size(); ++i) EXPECT_EQ(draws[i], "DrawIndexedPrimitive(4, 0, 4, 0, 2)");

    // The line list goes to the render target, the whirl to the back buffer.
    const std::string log = recordingLogText();
    const std::size_t target = log.find("SetRenderTarget(" + session.textureLabel(0) + ".surface");
    const std::size_t lines = log.find("DrawIndexedPrimitive(2,");
    const std::size_t back = log.find("SetRenderTarget(backbuffer", lines == std::string::npos ? 0 : lines);
    ASSERT_NE(target, std::string::npos) << log;
    EXPECT_LT(target, lines);
    EXPECT_NE(back, std::string::npos);
}

TEST_F(WaveWhirlScene, PulsesTurnWhiteAfter10272AndKeepTheJitter)
{
    for (int beat = 0; beat < 24; ++beat) frame(beat * 428);
    frame(10272); // exactly on the boundary: still a dark pulse
    EXPECT_EQ(lastQuadColour(), 0xD6000000u);
    const std::set<std::string> darkViews = turnedViews();

    frame(10700);
    EXPECT_EQ(lastQuadColour(), 0xD6FFFFFFu);
    const std::set<std::string> whiteViews = turnedViews();
    frame(10813); // 113 ms into the beat
    EXPECT_EQ(lastQuadColour(), 0x65FFFFFFu);
    frame(11128);
    EXPECT_EQ(lastQuadColour(), 0xD6FFFFFFu);
    // Pass 0 of the whirl depends on the jitter alone, which the white beats keep.
    EXPECT_TRUE(shareAView(whiteViews, turnedViews()));
    EXPECT_TRUE(shareAView(darkViews, whiteViews));
}

TEST_F(WaveWhirlScene, DarkBeatsDrawANewJitter)
{
    frame(0);
    const std::set<std::string> first = turnedViews();
    frame(428);
    EXPECT_EQ(lastQuadColour(), 0xC9FFFFFFu); // the white tint, 255 - trunc(0.428 * 127.5)
    EXPECT_FALSE(shareAView(first, turnedViews()));
}

TEST_F(WaveWhirlScene, ABeatFirstSeenAfter10272IsWhite)
{
    for (int beat = 0; beat < 24; ++beat) frame(beat * 428);
    frame(10273);
    EXPECT_EQ(lastQuadColour(), 0xD6FFFFFFu);
}

TEST_F(WaveWhirlScene, FadesInFromWhiteOverTwoSeconds)
{
    frame(0);
    EXPECT_EQ(lastQuadColour(), 0xFFFFFFFFu);
    frame(1000);
    EXPECT_EQ(lastQuadColour(), 0x80FFFFFFu);
    frame(2100); // no tint: the last quad is the beat pulse
    EXPECT_EQ(lastQuadColour(), 0xD6000000u);
}

// ---------------------------------------------------------------- rendered frames

// Once per renderer: the session moves to the test's renderer (and the
// scene is precalculated again) when it changes.
class WaveWhirlFrames : public ::testing::TestWithParam<Renderer> {
protected:
    static void TearDownTestSuite() { session.stop(); }

    void SetUp() override
    {
        if (!session.useOpenGl(GetParam(), precalcWaveWhirl)) GTEST_SKIP() << "no OpenGL window";
        resetWaveWhirlState();
        resetRandom();
    }

    static void frame(int r)
    {
        const int t = SCENE_START + r;
        renderWaveWhirl(t, static_cast<float>(t) * 0.001f);
        dglSwapBuffers();
    }

    static Session session;
};

Session WaveWhirlFrames::session;
INSTANTIATE_TEST_SUITE_P(Renderers, WaveWhirlFrames, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

TEST_P(WaveWhirlFrames, WhirlBetweenBeatsAndWhitePulseLater)
{
    frame(0);
    frame(3000);
    frame(3300); // between beats, no pulse, no tint
    saveFrame("wave-3300");
    const double between = lastFrame().meanGrey(0, 0, 640, 480);
    // The whirl brightens the middle over the dim background.
    EXPECT_GT(lastFrame().meanGrey(200, 140, 440, 340), lastFrame().meanGrey(0, 0, 60, 60));

    for (int beat = 8; beat < 26; ++beat) frame(beat * 428);
    frame(10700);
    frame(10720); // a white pulse of alpha 194
    saveFrame("wave-10720");
    EXPECT_GT(lastFrame().meanGrey(0, 0, 640, 480), between + 100.0);
}

} // namespace
