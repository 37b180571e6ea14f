// AVI streams: opening and its messages (refused frames included), the
// registry limit and release, clips cut short, the upright ARGB frame copy
// into a locked texture's memory, and the beat swing that picks the frame
// from scene time, played within the decoded-frame cache.
#include "resources/avi.h"
#include "tests/dgl_fixture.h"
#include "tests/support/fatal.h"
#include "tests/support/test_clips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Stream objects live as long as the registry may point at them, as the
// scenes' static objects do.
AviStream streams[AVI_STREAM_TABLE_SIZE];

constexpr std::uint32_t UNTOUCHED = 0x12345678u;

std::string openMessage(const std::string& path)
{
    return "Can not open or use the specified AVI file: " + path + ". Are you lacking proper decoders? ;)";
}

std::string renderMessage(const std::string& path)
{
    return "Can not render a frame of the specified AVI file: " + path + ". Are you lacking proper decoders? ;)";
}

class AviStreams : public ::testing::Test {
protected:
    void SetUp() override { releaseAviStreams(); }
    void TearDown() override
    {
        releaseAviStreams();
        for (AviStream& stream : streams) {
            stream = AviStream();
        }
    }

    static const std::string& clipPath()
    {
        static const std::string path = [] {
            const std::string clipFile = testClipPath("clip.avi");
            TestClip clip;
            clip.codec = TestCodec::Mpeg4;
            clip.keyInterval = 4;
            clip.width = 78; // not a multiple of four: the copy's tail pixels
            clip.height = 64;
            clip.frames = 20;
            clip.rate = 20;
            std::string error;
            EXPECT_TRUE(writeTestClip(clipFile, clip, error)) << error;
            return clipFile;
        }();
        return path;
    }

    static std::string writeFile(const std::string& name, const std::vector<char>& bytes)
    {
        const std::string path = testClipPath(name);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // A locked 256 x 256 texture's memory, every texel marked.
    std::vector<std::uint32_t> texture = std::vector<std::uint32_t>(256 * 256, UNTOUCHED);
    void copy(AviStream& stream, std::int32_t frame) { stream.copyFrame(frame, texture.data(), 256 * 4); }
    std::uint32_t texel(int x, int y) const { return texture[static_cast<std::size_t>(y) * 256 + x]; }
};

int frameInTexture(std::uint32_t texel) { return testClipIndexOfGrey(static_cast<int>((texel >> 8) & 0xFF)); }

TEST_F(AviStreams, OpenReadsTheClipAndCopiesFramesUpright)
{
    AviStream& stream = streams[0];
    const std::string& path = clipPath();
    stream.open(path.c_str());
    EXPECT_EQ(stream.width, 78);
    EXPECT_EQ(stream.height, 64);
    EXPECT_EQ(stream.bitsPerPixel, 24);
    EXPECT_EQ(stream.framesPerSecond, 20u);
    EXPECT_EQ(stream.frameCount, 20u);
    EXPECT_EQ(stream.info.dwLength, 20u);
    EXPECT_EQ(stream.path, path.c_str()); // kept, not copied
    EXPECT_EQ(aviStreamCount(), 1);

    copy(stream, 13);
    // Top row: the red band, opaque; bottom row: the blue band; grey between.
    for (int x : {0, 40, 76, 77}) {
        const std::uint32_t top = texel(x, 0);
        EXPECT_EQ(top >> 24, 0xFFu);
        EXPECT_GT((top >> 16) & 0xFF, 200u);
        EXPECT_LT(top & 0xFF, 60u);
        const std::uint32_t bottom = texel(x, 63);
        EXPECT_LT((bottom >> 16) & 0xFF, 60u);
        EXPECT_GT(bottom & 0xFF, 200u);
        EXPECT_EQ(frameInTexture(texel(x, 32)), 13);
    }
    // Only the clip's top-left 78 x 64 texels are written.
    EXPECT_EQ(texel(78, 0), UNTOUCHED);
    EXPECT_EQ(texel(0, 64), UNTOUCHED);
    EXPECT_EQ(texel(255, 255), UNTOUCHED);

    for (std::int32_t frame : {0, 19, 7, 6, 5, 18}) {
        copy(stream, frame);
        EXPECT_EQ(frameInTexture(texel(10, 30)), frame);
    }
}

TEST_F(AviStreams, FramesTheClipCanNotDeliverEndTheProgram)
{
    AviStream& stream = streams[0];
    const std::string& path = clipPath();
    stream.open(path.c_str());
    EXPECT_FATAL(copy(stream, 20), renderMessage(path));

    stream.open(path.c_str());
    EXPECT_FATAL(copy(stream, -1), renderMessage(path));

    // A decoder that delivered another bit depth is refused at the first copy.
    stream.open(path.c_str());
    stream.bitsPerPixel = 32;
    EXPECT_FATAL(copy(stream, 0), renderMessage(path));

    // After the exit path released it, the stream can no longer be read.
    stream.bitsPerPixel = 24;
    EXPECT_EQ(stream.frameReader, nullptr);
    EXPECT_FATAL(copy(stream, 0), renderMessage(path));
    EXPECT_EQ(texel(0, 0), UNTOUCHED);
}

TEST_F(AviStreams, BadFilesEndTheProgramWithTheOpenMessage)
{
    const std::string missing = testClipPath("missing.avi");
    EXPECT_FATAL(streams[0].open(missing.c_str()), openMessage(missing));

    const std::string garbage = writeFile("garbage.avi", std::vector<char>(5000, '\x5a'));
    EXPECT_FATAL(streams[0].open(garbage.c_str()), openMessage(garbage));

    const std::string empty = writeFile("empty.avi", {});
    EXPECT_FATAL(streams[0].open(empty.c_str()), openMessage(empty));

    std::ifstream in(clipPath(), std::ios::binary);
    std::vector<char> whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string truncated = writeFile("truncated.avi", std::vector<char>(whole.begin(), whole.begin() + 200));
    EXPECT_FATAL(streams[0].open(truncated.c_str()), openMessage(truncated));

    // Larger than the scenes' 256 x 256 texture: refused rather than written
    // past the texture's end.
    TestClip wide;
    wide.width = 320;
    wide.height = 64;
    wide.frames = 2;
    const std::string widePath = testClipPath("wide.avi");
    std::string error;
    ASSERT_TRUE(writeTestClip(widePath, wide, error)) << error;
    EXPECT_FATAL(streams[0].open(widePath.c_str()), openMessage(widePath));
    // The stream was registered before the check failed, and released on the way out.
    EXPECT_EQ(aviStreamCount(), 0);
    EXPECT_EQ(streams[0].stream, nullptr);
}

TEST_F(AviStreams, NineStreamsOpenTheTenthEndsTheProgram)
{
    for (int i = 0; i < AVI_STREAM_LIMIT; ++i) {
        streams[i].open(clipPath().c_str());
    }
    EXPECT_EQ(aviStreamCount(), 9);
    EXPECT_FATAL(streams[9].open(clipPath().c_str()),
                 "Tried to create too many AVI file streams (at most 9): " + clipPath() + ".");
    // The exit path released all nine.
    EXPECT_EQ(aviStreamCount(), 0);
    for (int i = 0; i < AVI_STREAM_LIMIT; ++i) {
        EXPECT_EQ(streams[i].stream, nullptr);
        EXPECT_EQ(streams[i].frameReader, nullptr);
    }
    releaseAviStreams(); // a second release frees nothing twice
    EXPECT_EQ(aviStreamCount(), 0);
}

// The scenes' use: lock the video texture, copy, unlock; what the copy wrote
// is what the texture holds.
class AviTexture : public DglTest {
protected:
    void TearDown() override
    {
        releaseAviStreams();
        streams[0] = AviStream();
        DglTest::TearDown();
    }
};

TEST_F(AviTexture, CopyFillsTheLockedVideoTexture)
{
    TestClip settings;
    settings.width = 96;
    settings.height = 80;
    settings.frames = 5;
    const std::string path = testClipPath("texture.avi");
    std::string error;
    ASSERT_TRUE(writeTestClip(path, settings, error)) << error;
    init();
    IDirect3DTexture8* texture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    streams[0].open(path.c_str());

    DglTextureLock lock = dglLockTexture(texture);
    streams[0].copyFrame(4, lock.texels, lock.pitch);
    dglUnlockTexture(texture);

    lock = dglLockTexture(texture);
    const auto at = [&](int x, int y) {
        return reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const BYTE*>(lock.texels) + y * lock.pitch)[x];
    };
    EXPECT_GT((at(95, 0) >> 16) & 0xFF, 200u);           // red band on top
    EXPECT_GT(at(95, 79) & 0xFF, 200u);                  // blue band at the bottom
    EXPECT_EQ(frameInTexture(at(50, 40)), 4);
    EXPECT_EQ(at(50, 40) >> 24, 0xFFu);
    dglUnlockTexture(texture);
    EXPECT_EQ(recordingLogLines("texture1.LockRect").size(), 2u);
}

// ------------------------------------------------------------- beat swing

TEST(BeatSwing, FirstFrameStartsForwardsAtMarkZeroEvenWhenLate)
{
    BeatSwing swing;
    EXPECT_TRUE(beatSwingAdvance(swing, 0, 0.0f));
    EXPECT_EQ(swing.mark, 0);
    EXPECT_EQ(swing.direction, 0);
    EXPECT_FALSE(beatSwingAdvance(swing, 429, 0.429f));
    EXPECT_TRUE(beatSwingAdvance(swing, 430, 0.43f));
    EXPECT_EQ(swing.mark, 430);
    EXPECT_EQ(swing.direction, 1);
    EXPECT_FLOAT_EQ(swing.start, 0.43f);

    // A late first frame and a stall: one beat per rendered frame.
    BeatSwing late;
    EXPECT_TRUE(beatSwingAdvance(late, 2000, 2.0f));
    EXPECT_EQ(late.mark, 0);
    EXPECT_EQ(late.direction, 0);
    EXPECT_TRUE(beatSwingAdvance(late, 2001, 2.001f));
    EXPECT_EQ(late.mark, 430);
    EXPECT_TRUE(beatSwingAdvance(late, 2002, 2.002f));
    EXPECT_EQ(late.mark, 860);
    EXPECT_EQ(late.direction, 0);
}

TEST(BeatSwing, FrameIndexRunsThroughTheClipOncePerBeat)
{
    const std::uint32_t count = 12;
    const float factor = aviSwingFactor(count);
    EXPECT_FLOAT_EQ(factor, 12.0f * 2.3255813f);

    BeatSwing swing;
    beatSwingAdvance(swing, 0, 0.0f); // forwards from s = 0
    EXPECT_EQ(beatSwingFrame(swing, 0.0f, count, factor), 0);
    EXPECT_EQ(beatSwingFrame(swing, 0.2f, count, factor), 5);   // 5.58
    EXPECT_EQ(beatSwingFrame(swing, 0.429f, count, factor), 11); // 11.97

    beatSwingAdvance(swing, 430, 0.43f); // backwards from s = 0.43
    EXPECT_EQ(beatSwingFrame(swing, 0.43f, count, factor), 11);
    EXPECT_EQ(beatSwingFrame(swing, 0.63f, count, factor), 5);  // 11 - 5.58
    EXPECT_EQ(beatSwingFrame(swing, 0.859f, count, factor), 0); // -0.97 truncates to 0

    // Clock rounding past either end stays inside the clip.
    EXPECT_EQ(beatSwingFrame(swing, 0.95f, count, factor), 0);
    BeatSwing forwardsSwing;
    beatSwingAdvance(forwardsSwing, 0, 0.0f);
    EXPECT_EQ(beatSwingFrame(forwardsSwing, 0.44f, count, factor), 11);

    // A one-frame clip always shows frame 0.
    for (float s : {0.0f, 0.2f, 0.429f}) {
        EXPECT_EQ(beatSwingFrame(forwardsSwing, s, 1, aviSwingFactor(1)), 0);
        EXPECT_EQ(beatSwingFrame(swing, s + 0.43f, 1, aviSwingFactor(1)), 0);
    }
}

// A scene's use: every rendered frame advances the swing and copies the
// chosen frame. The clip goes forwards, backwards, forwards..., showing the
// right frame each time. A clip that fits the cache (the show's do) is never
// decoded again after open; a longer one stays within the cache limit and
// decodes a missing frame from its key frame only.
TEST_F(AviStreams, PingPongPlaybackShowsTheSwingFrameWithinTheCache)
{
    const auto play = [this](AviStream& stream, std::uint64_t mostDecodesPerFrame, std::uint64_t cacheLimit) {
        const float factor = aviSwingFactor(stream.frameCount);
        BeatSwing swing;
        int shownForwards = 0;
        int shownBackwards = 0;
        for (std::int32_t r = 0; r < 4 * 430; r += 7) {
            const float s = static_cast<float>(r) * 0.001f;
            beatSwingAdvance(swing, r, s);
            const std::int32_t frame = beatSwingFrame(swing, s, stream.frameCount, factor);
            const std::uint64_t before = videoDecodedFrameCount(stream.frameReader);
            copy(stream, frame);
            ASSERT_EQ(frameInTexture(texel(40, 32)), frame) << "r = " << r;
            EXPECT_LE(videoDecodedFrameCount(stream.frameReader) - before, mostDecodesPerFrame) << "r = " << r;
            EXPECT_LE(videoCachedBytes(stream.frameReader), cacheLimit);
            (swing.direction == 0 ? shownForwards : shownBackwards) += 1;
        }
        EXPECT_GT(shownForwards, 100);
        EXPECT_GT(shownBackwards, 100);
    };

    AviStream& stream = streams[0];
    stream.open(clipPath().c_str());
    EXPECT_EQ(videoDecodedFrameCount(stream.frameReader), stream.frameCount);
    play(stream, 0, VIDEO_CACHE_BYTES);

    // Room for four of the twenty frames, a key frame every four.
    const std::uint64_t bitmapBytes = 40 + 236 * 64;
    // Treated as a long clip: its packets are read again from the file.
    videoSetCacheLimit(4 * bitmapBytes);
    videoSetResidentPacketLimit(0);
    streams[1].open(clipPath().c_str());
    videoSetCacheLimit(VIDEO_CACHE_BYTES);
    videoSetResidentPacketLimit(VIDEO_RESIDENT_PACKET_BYTES);
    EXPECT_TRUE(videoPacketsInFile(streams[1].stream));
    EXPECT_EQ(videoCachedBytes(streams[1].frameReader), 4 * bitmapBytes);
    play(streams[1], 4, 4 * bitmapBytes);
}

// Frames the decoder refuses end the program at open: with the open message
// for frame 0, which opening reads, and with the render message for any
// other, the message its copy would give.
TEST_F(AviStreams, RefusedFramesEndTheProgramAtOpenWithTheirMessage)
{
    TestClip settings;
    settings.frames = 8;
    const std::string middle = testClipPath("refused-middle.avi");
    std::string error;
    ASSERT_TRUE(writeTestClip(middle, settings, error)) << error;
    ASSERT_TRUE(breakTestClipChunk(middle, 5));
    EXPECT_FATAL(streams[0].open(middle.c_str()), renderMessage(middle));
    EXPECT_EQ(aviStreamCount(), 0);

    const std::string first = testClipPath("refused-first.avi");
    ASSERT_TRUE(writeTestClip(first, settings, error)) << error;
    ASSERT_TRUE(breakTestClipChunk(first, 0));
    EXPECT_FATAL(streams[0].open(first.c_str()), openMessage(first));
}

// A clip cut short keeps the length its header gives and plays what it
// holds: the frames past the cut repeat the last picture there is.
TEST_F(AviStreams, ClipCutShortPlaysWhatItHolds)
{
    TestClip settings;
    settings.frames = 20;
    const std::string whole = testClipPath("whole.avi");
    std::string error;
    ASSERT_TRUE(writeTestClip(whole, settings, error)) << error;
    std::ifstream in(whole, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Cut half way through the frames' data.
    const std::string movi = "movi";
    const std::size_t data = static_cast<std::size_t>(std::search(bytes.begin(), bytes.end(), movi.begin(), movi.end()) -
                                                      bytes.begin());
    ASSERT_LT(data, bytes.size());
    const std::size_t cutAt = data + (bytes.size() - data) / 2;
    const std::string cut = writeFile("cut.avi", std::vector<char>(bytes.begin(), bytes.begin() + cutAt));

    AviStream& stream = streams[0];
    stream.open(cut.c_str());
    EXPECT_EQ(stream.frameCount, 20u);
    copy(stream, 3);
    EXPECT_EQ(frameInTexture(texel(30, 24)), 3);
    copy(stream, 19);
    const int last = frameInTexture(texel(30, 24));
    EXPECT_GE(last, 6);
    EXPECT_LT(last, 12);
    for (std::int32_t frame = last; frame < 20; ++frame) {
        copy(stream, frame);
        EXPECT_EQ(frameInTexture(texel(30, 24)), last) << frame;
    }
}

} // namespace
