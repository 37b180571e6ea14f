// Scene 6 (knot clips and rising sprites): the clip counter and direction,
// the bright stretches with their extra passes and glow, the sprite seeding
// order, respawn and rise, the 600/900 batch draw and the batch index
// buffer; and rendered frames with the glow.
#include "geometry/mesh.h"
#include "tests/late_scene_fixture.h"

#include <cmath>
#include <cstring>

using namespace late_scene;

namespace {

constexpr int START = 122370;

float secondsAt(int r) { return static_cast<float>(START + r) * 0.001f; }
void frameAt(int r) { renderKnotSprites(START + r, secondsAt(r)); }

class KnotSprites : public ::testing::Test {
protected:
    static void SetUpTestSuite() { saved = startRecorded(precalcKnotSprites); }
    static void TearDownTestSuite() { stopRecorded(saved); }
    void SetUp() override
    {
        resetKnotSpritesState();
        resetRandom();
        recordingClearLog();
    }
    static Direct3DCreate8Function saved;
};
Direct3DCreate8Function KnotSprites::saved = nullptr;

// Panel passes: the indexed draws of one two-triangle panel.
int panelPasses()
{
    int passes = 0;
    for (const DrawCall& call : indexedDraws())
        if (call.line == "DrawIndexedPrimitive(4, 0, 4, 0, 2)")
            ++passes;
    return passes;
}

std::string spriteDraw() { return indexedDraws().back().line; }

// The batch vertex buffer as bound at the end of a frame.
const MeshVertex* batchVertices(UINT* count)
{
    UINT stride = 0;
    IDirect3DVertexBuffer8* buffer = recordingStreamSource(&stride);
    UINT length = 0;
    BYTE* memory = recordingBufferMemory(buffer, &length);
    *count = length / sizeof(MeshVertex);
    return reinterpret_cast<const MeshVertex*>(memory);
}

} // namespace

TEST_F(KnotSprites, ClipCounterAndDirectionAdvanceOnEveryBeat)
{
    frameAt(0);
    EXPECT_EQ(knotSpritesView().clipCounter, 1);
    EXPECT_EQ(knotSpritesView().direction, 0);
    const int counters[] = {2, 3, 4, 5, 0, 1, 2};
    for (int beat = 1; beat <= 7; ++beat) {
        frameAt(beat * 430);
        EXPECT_EQ(knotSpritesView().clipCounter, counters[beat - 1]) << "beat " << beat;
        EXPECT_EQ(knotSpritesView().direction, beat % 2) << "beat " << beat;
    }
    // Catching up after a stall: one beat per frame.
    frameAt(9000);
    EXPECT_EQ(knotSpritesView().beatMark, 8 * 430);
}

TEST_F(KnotSprites, BrightStretchesAddTwoPassesAndAGrowingGlow)
{
    for (int beat = 0; beat < 8; ++beat)
        frameAt(beat * 430);
    EXPECT_FALSE(knotSpritesView().bright);
    recordingClearLog();
    frameAt(3439);
    EXPECT_EQ(panelPasses(), 4);

    recordingClearLog();
    frameAt(3440);
    EXPECT_TRUE(knotSpritesView().bright);
    EXPECT_EQ(panelPasses(), 6);
    EXPECT_EQ(lastQuadColor(), 0x00FFFFFFu);

    recordingClearLog();
    frameAt(3800);
    const float s = secondsAt(3800) - 122.37f;
    EXPECT_EQ(lastQuadColor(), (static_cast<D3DCOLOR>(static_cast<int>((s - 3.44f) * 51.0f)) << 24) | 0xFFFFFFu);

    for (int beat = 9; beat <= 16; ++beat)
        frameAt(beat * 430);
    EXPECT_FALSE(knotSpritesView().bright);
    recordingClearLog();
    frameAt(6900);
    EXPECT_EQ(panelPasses(), 4);
    // Glow over: background tiles, two lines, bar; no fade.
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 7);
}

TEST_F(KnotSprites, BackwardBeatsDrawTheFirst600SpritesOfTheBatch)
{
    frameAt(0);
    EXPECT_EQ(spriteDraw(), "DrawIndexedPrimitive(4, 0, 3600, 0, 1800)");
    recordingClearLog();
    frameAt(430);
    EXPECT_EQ(spriteDraw(), "DrawIndexedPrimitive(4, 0, 2400, 0, 1200)");
    EXPECT_EQ(recordingLogLines("SetRenderState(19, ").back(), "SetRenderState(19, 2)");
}

TEST_F(KnotSprites, BatchIndexBufferRepeatsTheSpriteFacesPerCopy)
{
    frameAt(0);
    UINT base = 0;
    IDirect3DIndexBuffer8* indices = recordingIndices(&base);
    UINT length = 0;
    const WORD* memory = reinterpret_cast<const WORD*>(recordingBufferMemory(indices, &length));
    ASSERT_NE(memory, nullptr);
    ASSERT_EQ(length, 900u * 2 * 6);
    for (int b = 0; b < 900; ++b) {
        const WORD* face = memory + b * 6;
        const WORD o = static_cast<WORD>(4 * b);
        ASSERT_EQ(face[0], o + 2) << "copy " << b;
        ASSERT_EQ(face[1], o + 1) << "copy " << b;
        ASSERT_EQ(face[2], o + 0) << "copy " << b;
        ASSERT_EQ(face[3], o + 3) << "copy " << b;
        ASSERT_EQ(face[4], o + 1) << "copy " << b;
        ASSERT_EQ(face[5], o + 2) << "copy " << b;
    }
}

TEST_F(KnotSprites, SpritesAreSeededAfterTheNoiseAndRiseFromBelow)
{
    frameAt(0);
    // The background's noise draws come first, then three per sprite.
    resetRandom();
    for (int i = 0; i < 5; ++i)
        rand15();
    const KnotSprite* sprites = knotSprites();
    for (int i = 0; i < 900; ++i) {
        const int start = rand15() % 5000;
        const int duration = rand15() % 2000 + 2000;
        const float x = static_cast<float>(rand15() % 1250);
        ASSERT_EQ(sprites[i].start, start) << "sprite " << i;
        ASSERT_EQ(sprites[i].duration, duration) << "sprite " << i;
        ASSERT_EQ(sprites[i].x, x) << "sprite " << i;
        ASSERT_FLOAT_EQ(sprites[i].speed, 4.0f / static_cast<float>(duration)) << "sprite " << i;
    }

    UINT count = 0;
    const MeshVertex* vertices = batchVertices(&count);
    ASSERT_EQ(count, 3600u);
    for (int i = 0; i < 900; ++i) {
        // Sprite corners are +-0.2 about the sprite's centre.
        const float centreY = (vertices[4 * i].position.y + vertices[4 * i + 3].position.y) * 0.5f;
        const float expectedY = static_cast<float>(0 - sprites[i].start) * sprites[i].speed - 2.0f;
        ASSERT_NEAR(centreY, expectedY, 1e-4) << "sprite " << i;
        if (sprites[i].start > 0) {
            ASSERT_LT(centreY, -2.0f);
        }
        ASSERT_EQ(vertices[4 * i].diffuse, 0x379B9B9Bu);
    }
}

TEST_F(KnotSprites, ExpiredSpritesRespawnAtTheBottom)
{
    frameAt(0);
    // Every sprite ends by 4999 + 3999 ms.
    frameAt(9000);
    const KnotSprite* sprites = knotSprites();
    UINT count = 0;
    const MeshVertex* vertices = batchVertices(&count);
    ASSERT_EQ(count, 3600u);
    for (int i = 0; i < 900; ++i) {
        ASSERT_EQ(sprites[i].start, 9000) << "sprite " << i;
        ASSERT_GE(sprites[i].duration, 2000);
        ASSERT_LT(sprites[i].duration, 4000);
        const float centreY = (vertices[4 * i].position.y + vertices[4 * i + 3].position.y) * 0.5f;
        ASSERT_NEAR(centreY, -2.0f, 1e-5) << "sprite " << i;
    }
    // They rise again: at the end of its duration a sprite is at the top.
    frameAt(9000 + sprites[0].duration - 1);
    vertices = batchVertices(&count);
    EXPECT_GT((vertices[0].position.y + vertices[3].position.y) * 0.5f, 1.99f);
}

class KnotSpritesFrames : public ::testing::TestWithParam<Renderer> {};
INSTANTIATE_TEST_SUITE_P(Renderers, KnotSpritesFrames, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

TEST_P(KnotSpritesFrames, GlowStretchIsBrighterAndSpritesRise)
{
    RenderedFrames frames;
    ASSERT_TRUE(frames.start(precalcKnotSprites, GetParam()));
    resetKnotSpritesState();
    for (int beat = 0; beat <= 6; ++beat)
        frames.render(renderKnotSprites, START + beat * 430);
    frames.render(renderKnotSprites, START + 2900);
    frames.save("knot_sprites_2900");
    const double plain = frames.brightness(0, 0, 640, 480);
    for (int beat = 7; beat <= 15; ++beat)
        frames.render(renderKnotSprites, START + beat * 430);
    frames.render(renderKnotSprites, START + 6700);
    frames.save("knot_sprites_glow");
    const double glow = frames.brightness(0, 0, 640, 480);
    EXPECT_GT(glow, plain + 60.0);
    EXPECT_GT(frames.mean(0, 0, 0, 640, 480), 150.0);
    frames.render(renderKnotSprites, START + 7000);
    frames.save("knot_sprites_after_glow");
    EXPECT_LT(frames.brightness(0, 0, 640, 480), glow - 60.0);
    frames.stop();
}

TEST_F(KnotSprites, MissingClipEndsTheProgramWithTheClipMessage)
{
    EXPECT_EQ(precalcMessageWithoutData(precalcKnotSprites),
              "Can not open or use the specified AVI file: data/knot.avi. Are you lacking proper decoders? ;)");
}
