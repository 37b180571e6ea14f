// Video clip layer on FFmpeg: stream information, the bitmap layout, frame
// exact access in any order, the decoded-frame cache and its limit, clips
// written by the ffmpeg program (empty index entries, B-frames, sound),
// refused frames, bad files, and FFmpeg kept off standard error.
#include "platform/video.h"
#include "tests/support/test_clips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string makeClip(const std::string& name, const TestClip& clip)
{
    const std::string path = testClipPath(name);
    std::string error;
    EXPECT_TRUE(writeTestClip(path, clip, error)) << error;
    return path;
}

std::vector<char> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

BITMAPINFOHEADER headerOf(const BYTE* bitmap)
{
    BITMAPINFOHEADER header;
    std::memcpy(&header, bitmap, sizeof(header));
    return header;
}

// The frame number a bitmap shows, read from the grey middle row.
int frameShown(const BYTE* bitmap)
{
    const BITMAPINFOHEADER header = headerOf(bitmap);
    const int stride = (header.biWidth * 3 + 3) & ~3;
    const BYTE* middle = bitmap + sizeof(header) + (header.biHeight / 2) * stride + (header.biWidth / 2) * 3;
    return testClipIndexOfGrey(middle[1]);
}

struct OpenClip {
    VideoStream* stream = nullptr;
    VideoFrameReader* reader = nullptr;
    AVISTREAMINFOA info = {};
};

OpenClip openClip(const std::string& path)
{
    OpenClip clip;
    clip.stream = videoOpenStream(path.c_str());
    EXPECT_NE(clip.stream, nullptr) << path;
    if (clip.stream != nullptr) {
        EXPECT_EQ(videoStreamInfo(clip.stream, &clip.info, sizeof(clip.info)), S_OK);
        clip.reader = videoFrameReaderOpen(clip.stream);
        EXPECT_NE(clip.reader, nullptr);
    }
    return clip;
}

// Requests the frames in order and checks each one shows its own number.
void expectFramesInOrder(const OpenClip& clip, const std::vector<int>& order, const char* what)
{
    for (int index : order) {
        const BYTE* bitmap = videoGetFrame(clip.reader, index);
        ASSERT_NE(bitmap, nullptr) << what << " frame " << index;
        EXPECT_EQ(frameShown(bitmap), index) << what;
    }
}

std::vector<int> forwards(int count)
{
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i) {
        order[i] = i;
    }
    return order;
}

std::vector<int> backwards(int count)
{
    std::vector<int> order = forwards(count);
    std::reverse(order.begin(), order.end());
    return order;
}

std::vector<int> shuffled(int count, unsigned seed)
{
    std::vector<int> order = forwards(count);
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    return order;
}

TEST(VideoClip, StreamInformationAndBitmapLayout)
{
    TestClip settings;
    settings.width = 50; // 150 bytes a row, padded to 152
    settings.height = 48;
    settings.frames = 7;
    settings.rate = 15;
    const OpenClip clip = openClip(makeClip("layout.avi", settings));
    ASSERT_NE(clip.reader, nullptr);

    EXPECT_EQ(clip.info.fccType, VIDEO_STREAM_TYPE_VIDS);
    EXPECT_EQ(clip.info.dwRate / clip.info.dwScale, 15u);
    EXPECT_EQ(clip.info.dwLength, 7u);
    EXPECT_EQ(clip.info.rcFrame.right, 50);
    EXPECT_EQ(clip.info.rcFrame.bottom, 48);

    const BYTE* bitmap = videoGetFrame(clip.reader, 3);
    ASSERT_NE(bitmap, nullptr);
    const BITMAPINFOHEADER header = headerOf(bitmap);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 50);
    EXPECT_EQ(header.biHeight, 48);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, 0u);
    EXPECT_EQ(header.biSizeImage, 152u * 48u);

    // Bottom-up rows of blue, green, red bytes: the first row in memory is
    // the picture's bottom (blue band), the last its top (red band).
    const BYTE* pixels = bitmap + 40;
    const BYTE* bottomRow = pixels;
    const BYTE* topRow = pixels + 47 * 152;
    for (int x : {0, 25, 49}) {
        EXPECT_GT(bottomRow[x * 3 + 0], 200) << x;
        EXPECT_LT(bottomRow[x * 3 + 2], 60) << x;
        EXPECT_LT(topRow[x * 3 + 0], 60) << x;
        EXPECT_GT(topRow[x * 3 + 2], 200) << x;
    }
    EXPECT_EQ(frameShown(bitmap), 3);

    EXPECT_EQ(videoGetFrame(clip.reader, -1), nullptr);
    EXPECT_EQ(videoGetFrame(clip.reader, 7), nullptr);
    EXPECT_EQ(videoStreamInfo(nullptr, nullptr, 140), E_FAIL);
    videoReleaseStream(clip.stream);
}

struct CodecCase {
    const char* name;
    TestCodec codec;
    int keyInterval;
};

void PrintTo(const CodecCase& codec, std::ostream* out) { *out << codec.name; }

class VideoCodecs : public ::testing::TestWithParam<CodecCase> {};

TEST_P(VideoCodecs, FrameExactForwardsBackwardsAndRandom)
{
    TestClip settings;
    settings.codec = GetParam().codec;
    settings.keyInterval = GetParam().keyInterval;
    settings.frames = 30;
    const std::string path = makeClip(std::string(GetParam().name) + ".avi", settings);

    OpenClip clip = openClip(path);
    ASSERT_NE(clip.reader, nullptr);
    ASSERT_EQ(clip.info.dwLength, 30u);
    expectFramesInOrder(clip, forwards(30), "forwards");
    videoReleaseStream(clip.stream);

    clip = openClip(path);
    ASSERT_NE(clip.reader, nullptr);
    expectFramesInOrder(clip, backwards(30), "backwards");
    videoReleaseStream(clip.stream);

    clip = openClip(path);
    ASSERT_NE(clip.reader, nullptr);
    expectFramesInOrder(clip, shuffled(30, 7), "random");
    if (GetParam().keyInterval == 1) {
        // Every frame is a key frame: each request decodes just its frame.
        EXPECT_EQ(videoDecodedFrameCount(clip.reader), 30u);
    }
    expectFramesInOrder(clip, shuffled(30, 8), "random, cached");
    videoReleaseStream(clip.stream);
}

// The show plays a clip forwards, then backwards, over and over. A clip that
// fits the cache is decoded once, at open; a longer one keeps to the cache
// limit and decodes a missing frame from its key frame, no further back.
TEST_P(VideoCodecs, PingPongWithinAndBeyondTheCache)
{
    TestClip settings;
    settings.codec = GetParam().codec;
    settings.keyInterval = GetParam().keyInterval;
    settings.frames = 24;
    const std::string path = makeClip(std::string(GetParam().name) + "-pingpong.avi", settings);
    const std::uint64_t bitmapBytes = 40 + 64 * 3 * 48;

    for (bool startBackwards : {false, true}) {
        OpenClip clip = openClip(path);
        ASSERT_NE(clip.reader, nullptr);
        EXPECT_EQ(videoDecodedFrameCount(clip.reader), 24u);
        EXPECT_EQ(videoCachedBytes(clip.reader), 24 * bitmapBytes);
        for (int swing = 0; swing < 4; ++swing) {
            const bool reverse = (swing % 2 == 1) != startBackwards;
            expectFramesInOrder(clip, reverse ? backwards(24) : forwards(24), "ping-pong");
        }
        EXPECT_EQ(videoDecodedFrameCount(clip.reader), 24u) << "starting backwards: " << startBackwards;
        videoReleaseStream(clip.stream);
    }

    videoSetCacheLimit(5 * bitmapBytes);
    OpenClip clip = openClip(path);
    videoSetCacheLimit(VIDEO_CACHE_BYTES);
    ASSERT_NE(clip.reader, nullptr);
    EXPECT_FALSE(videoPacketsInFile(clip.stream)); // a short clip keeps them
    EXPECT_EQ(videoCachedBytes(clip.reader), 5 * bitmapBytes);
    // A key frame every keyInterval frames, B-frames up to two behind.
    const std::uint64_t mostPerFrame = static_cast<std::uint64_t>(GetParam().keyInterval) + 2;
    for (int swing = 0; swing < 4; ++swing) {
        for (int index : swing % 2 == 1 ? backwards(24) : forwards(24)) {
            const std::uint64_t before = videoDecodedFrameCount(clip.reader);
            const BYTE* bitmap = videoGetFrame(clip.reader, index);
            ASSERT_NE(bitmap, nullptr) << index;
            EXPECT_EQ(frameShown(bitmap), index);
            EXPECT_LE(videoDecodedFrameCount(clip.reader) - before, mostPerFrame) << index;
            EXPECT_LE(videoCachedBytes(clip.reader), 5 * bitmapBytes);
            // The frame asked for stays while the ones near it are decoded.
            EXPECT_EQ(videoGetFrame(clip.reader, index), bitmap);
        }
    }
    expectFramesInOrder(clip, shuffled(24, 5), "random, small cache");
    videoReleaseStream(clip.stream);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoCodecs,
                         ::testing::Values(CodecCase{"mjpeg", TestCodec::Mjpeg, 1},
                                           CodecCase{"mpeg4", TestCodec::Mpeg4, 5},
                                           CodecCase{"mpeg4_bframes", TestCodec::Mpeg4BFrames, 6}),
                         [](const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; });

TEST(VideoClip, BadFilesFailCleanly)
{
    EXPECT_EQ(videoOpenStream(nullptr), nullptr);
    EXPECT_EQ(videoOpenStream(testClipPath("missing.avi").c_str()), nullptr);
    EXPECT_EQ(videoFrameReaderOpen(nullptr), nullptr);
    EXPECT_EQ(videoGetFrame(nullptr, 0), nullptr);
    videoReleaseStream(nullptr);

    const std::string empty = testClipPath("empty.avi");
    writeBytes(empty, {});
    EXPECT_EQ(videoOpenStream(empty.c_str()), nullptr);

    std::mt19937 random(3);
    std::vector<char> garbage(20000);
    for (char& byte : garbage) {
        byte = static_cast<char>(random());
    }
    const std::string garbagePath = testClipPath("garbage.avi");
    writeBytes(garbagePath, garbage);
    EXPECT_EQ(videoOpenStream(garbagePath.c_str()), nullptr);

    // A sound file has no video stream.
    std::vector<char> wave = {'R', 'I', 'F', 'F', 36 + 8, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0,
                              0, 1, 0, 1, 0, 0x44, (char)0xAC, 0, 0, (char)0x88, 0x58, 1, 0, 2, 0, 16, 0, 'd', 'a',
                              't', 'a', 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::string wavePath = testClipPath("sound.avi");
    writeBytes(wavePath, wave);
    EXPECT_EQ(videoOpenStream(wavePath.c_str()), nullptr);
}

// A damaged clip may open with what it still holds, but every frame request
// either delivers a whole bitmap or fails; nothing is read out of bounds.
TEST(VideoClip, DamagedClipsNeverDeliverBrokenFrames)
{
    TestClip settings;
    settings.codec = TestCodec::Mpeg4;
    settings.keyInterval = 4;
    settings.frames = 16;
    const std::vector<char> whole = readBytes(makeClip("whole.avi", settings));
    ASSERT_GT(whole.size(), 2000u);

    std::vector<std::vector<char>> damaged;
    for (std::size_t length : {whole.size() / 2, whole.size() - 7, std::size_t{300}, std::size_t{12}}) {
        damaged.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    }
    std::mt19937 random(11);
    for (int variant = 0; variant < 6; ++variant) {
        std::vector<char> corrupt = whole;
        for (int hit = 0; hit < 40; ++hit) {
            corrupt[random() % corrupt.size()] = static_cast<char>(random());
        }
        damaged.push_back(corrupt);
    }
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        const std::string path = testClipPath("damaged.avi");
        writeBytes(path, damaged[i]);
        VideoStream* stream = videoOpenStream(path.c_str());
        if (stream == nullptr) {
            continue;
        }
        AVISTREAMINFOA info = {};
        ASSERT_EQ(videoStreamInfo(stream, &info, sizeof(info)), S_OK);
        EXPECT_LE(info.dwLength, 16u) << i;
        VideoFrameReader* reader = videoFrameReaderOpen(stream);
        for (int index = -1; reader != nullptr && index <= static_cast<int>(info.dwLength); ++index) {
            const BYTE* bitmap = videoGetFrame(reader, index);
            if (bitmap != nullptr) {
                const BITMAPINFOHEADER header = headerOf(bitmap);
                EXPECT_EQ(header.biWidth, 64);
                EXPECT_EQ(header.biHeight, 48);
                EXPECT_EQ(header.biBitCount, 24);
            }
        }
        videoReleaseStream(stream);
    }
}

// A header that claims an absurd frame size never gets anything allocated
// for it.
TEST(VideoClip, AbsurdFrameSizeIsRefused)
{
    std::vector<char> bytes = readBytes(makeClip("absurd.avi", TestClip{}));
    const std::string marker = "strf";
    auto found = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
    ASSERT_NE(found, bytes.end());
    // strf chunk: id, size, then the bitmap header (biSize, biWidth, biHeight).
    const std::size_t widthAt = static_cast<std::size_t>(found - bytes.begin()) + 12;
    const std::int32_t absurd = 1 << 20;
    std::memcpy(&bytes[widthAt], &absurd, 4);
    std::memcpy(&bytes[widthAt + 4], &absurd, 4);
    const std::string path = testClipPath("absurd.avi");
    writeBytes(path, bytes);
    VideoStream* stream = videoOpenStream(path.c_str());
    if (stream != nullptr) {
        // The stream analysis may recover the true size from the frames.
        AVISTREAMINFOA info = {};
        videoStreamInfo(stream, &info, sizeof(info));
        EXPECT_EQ(info.rcFrame.right, 64);
        EXPECT_EQ(info.rcFrame.bottom, 48);
        videoReleaseStream(stream);
    }
}

// Key frames far apart in a clip longer than its cache: the clip is encoded
// again at open, frame by frame, so any frame costs one decode at play time,
// and what it shows is the picture the clip's own decoder gives, within a
// few levels (the JPEG's rounding).
TEST(VideoClip, FarKeyFramesPlayFromFramesEncodedAtOpen)
{
    TestClip settings;
    settings.codec = TestCodec::Mpeg4BFrames;
    settings.keyInterval = 40;
    settings.frames = 36;
    const std::string path = makeClip("far-keys.avi", settings);
    const std::size_t bitmapBytes = 40 + 64 * 3 * 48;

    OpenClip whole = openClip(path);
    ASSERT_NE(whole.reader, nullptr);
    EXPECT_FALSE(videoPlaysFromIntraStore(whole.reader)); // it fits its cache

    videoSetCacheLimit(3 * bitmapBytes);
    OpenClip clip = openClip(path);
    videoSetCacheLimit(VIDEO_CACHE_BYTES);
    ASSERT_NE(clip.reader, nullptr);
    EXPECT_TRUE(videoPlaysFromIntraStore(clip.reader));
    EXPECT_EQ(clip.info.dwLength, 36u);
    std::vector<int> order = backwards(36);
    const std::vector<int> random = shuffled(36, 9);
    order.insert(order.end(), random.begin(), random.end());
    for (int index : order) {
        const std::uint64_t before = videoDecodedFrameCount(clip.reader);
        const BYTE* bitmap = videoGetFrame(clip.reader, index);
        ASSERT_NE(bitmap, nullptr) << index;
        EXPECT_LE(videoDecodedFrameCount(clip.reader) - before, 1u) << index;
        const std::vector<BYTE> stored(bitmap, bitmap + bitmapBytes);
        const BYTE* original = videoGetFrame(whole.reader, index);
        ASSERT_NE(original, nullptr);
        EXPECT_EQ(std::memcmp(stored.data(), original, 40), 0) << "the same header";
        int largest = 0;
        for (std::size_t i = 40; i < bitmapBytes; ++i) {
            largest = std::max(largest, std::abs(static_cast<int>(stored[i]) - static_cast<int>(original[i])));
        }
        EXPECT_LE(largest, 8) << index;
        EXPECT_EQ(frameShown(stored.data()), index);
    }
    videoReleaseStream(clip.stream);
    videoReleaseStream(whole.stream);
}

// ------------------------------------------------- clips written by ffmpeg

bool runQuietly(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) == 0;
}

// What ffprobe counts: the header's frames and the packets that hold data.
std::pair<int, int> probeFramesAndPackets(const std::string& path)
{
    const std::string out = path + ".probe";
    const std::string command = "ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                                "stream=nb_frames,nb_read_packets -of csv=p=0 '" + path + "' >'" + out +
                                "' 2>/dev/null </dev/null";
    if (std::system(command.c_str()) != 0) {
        return {0, 0};
    }
    std::ifstream in(out);
    int frames = 0;
    int packets = 0;
    char comma = 0;
    in >> frames >> comma >> packets;
    return {frames, packets};
}

struct ToolClipCase {
    const char* name;
    const char* options; // ffmpeg options between the inputs and the output
    bool withAudio;
    bool latePicture;       // the picture starts 0.2 s after the sound
    bool emptyEntries;      // the file's index has entries without data
    std::vector<int> shown; // the source frame each frame number shows
};

void PrintTo(const ToolClipCase& clip, std::ostream* out) { *out << clip.name; }

std::vector<int> sourceFrames(std::vector<int> before, int from, int to)
{
    for (int i = from; i <= to; ++i) {
        before.push_back(i);
    }
    return before;
}

class ToolClips : public ::testing::TestWithParam<ToolClipCase> {};

// Thirty frames of 64 x 48, each grey at testClipGrey(its source number),
// written by the ffmpeg program the way other tools' files come: frames
// dropped from a capture (empty index entries), B-frames, a sound track, and
// a picture that starts later than the sound (leading empty entries). Every
// frame number shows the picture the index puts there, in any order, and so
// it does when the clip is treated as a long one.
TEST_P(ToolClips, EveryFrameNumberShowsItsPicture)
{
    if (!runQuietly("command -v ffmpeg") || !runQuietly("command -v ffprobe")) {
        GTEST_SKIP() << "ffmpeg and ffprobe write and check the files";
    }
    const ToolClipCase& kind = GetParam();
    const std::string path = testClipPath(std::string(kind.name) + ".avi");
    const std::string picture = "color=c=gray:s=64x48:r=25:d=1.2,format=rgb24,"
                                "geq=r='20+6*N':g='20+6*N':b='20+6*N'";
    std::string command = std::string("ffmpeg -nostdin -y") + (kind.latePicture ? " -itsoffset 0.2" : "") +
                          " -f lavfi -i \"" + picture + "\"";
    if (kind.withAudio) {
        command += " -f lavfi -i sine=d=1.6 -c:a libmp3lame";
    }
    ASSERT_TRUE(runQuietly(command + " " + kind.options + " '" + path + "'")) << command;
    const auto [headerFrames, packets] = probeFramesAndPackets(path);
    ASSERT_EQ(headerFrames, static_cast<int>(kind.shown.size()));
    EXPECT_EQ(packets < headerFrames, kind.emptyEntries) << packets << " packets";

    const int length = static_cast<int>(kind.shown.size());
    const auto expectShown = [&](const OpenClip& clip, const std::vector<int>& order, const char* what) {
        for (int index : order) {
            const BYTE* bitmap = videoGetFrame(clip.reader, index);
            ASSERT_NE(bitmap, nullptr) << what << " frame " << index;
            EXPECT_EQ(frameShown(bitmap), kind.shown[index]) << what << " frame " << index;
        }
    };
    OpenClip clip = openClip(path);
    ASSERT_NE(clip.reader, nullptr);
    EXPECT_EQ(clip.info.dwLength, static_cast<DWORD>(length));
    EXPECT_EQ(videoFirstFailedFrame(clip.reader), -1);
    expectShown(clip, forwards(length), "forwards");
    expectShown(clip, backwards(length), "backwards");
    videoReleaseStream(clip.stream);

    // As a long clip: packets read again from the file, few frames kept.
    videoSetCacheLimit(3 * (40 + 64 * 3 * 48));
    videoSetResidentPacketLimit(0);
    clip = openClip(path);
    videoSetCacheLimit(VIDEO_CACHE_BYTES);
    videoSetResidentPacketLimit(VIDEO_RESIDENT_PACKET_BYTES);
    ASSERT_NE(clip.reader, nullptr);
    EXPECT_TRUE(videoPacketsInFile(clip.stream));
    expectShown(clip, backwards(length), "backwards, small cache");
    expectShown(clip, shuffled(length, 3), "random, small cache");
    expectShown(clip, forwards(length), "forwards, small cache");
    videoReleaseStream(clip.stream);
}

INSTANTIATE_TEST_SUITE_P(
    Written, ToolClips,
    ::testing::Values(
        // A capture that dropped frames 5 to 8: four entries repeat frame 4.
        ToolClipCase{"mjpeg_dropped", "-vf \"select='not(between(n,5,8))'\" -fps_mode passthrough -c:v mjpeg -q:v 2",
                     false, false, true, sourceFrames({0, 1, 2, 3, 4, 4, 4, 4, 4}, 9, 29)},
        ToolClipCase{"xvid_bframes", "-c:v mpeg4 -vtag xvid -bf 2 -g 6 -q:v 2", false, false, false,
                     sourceFrames({}, 0, 29)},
        ToolClipCase{"xvid_bframes_sound", "-c:v mpeg4 -vtag xvid -bf 2 -g 6 -q:v 2 -shortest", true, false, false,
                     sourceFrames({}, 0, 29)},
        // Five empty entries first.
        ToolClipCase{"xvid_late_picture", "-c:v mpeg4 -vtag xvid -bf 2 -g 6 -q:v 2", true, true, true,
                     sourceFrames({0, 0, 0, 0, 0}, 0, 29)}),
    [](const ::testing::TestParamInfo<ToolClipCase>& info) { return info.param.name; });

// A frame the decoder refuses fails alone, and the reader says which comes
// first; frames around it, and the entries repeating it, are as they were.
TEST(VideoClip, RefusedFramesFailAndAreNamedAtOpen)
{
    TestClip settings;
    settings.frames = 10;
    const std::string path = makeClip("refused.avi", settings);
    ASSERT_TRUE(breakTestClipChunk(path, 6));
    ASSERT_TRUE(breakTestClipChunk(path, 8));
    OpenClip clip = openClip(path);
    ASSERT_NE(clip.reader, nullptr);
    EXPECT_EQ(videoFirstFailedFrame(clip.reader), 6);
    for (int index : {9, 8, 7, 6, 5, 0}) {
        const BYTE* bitmap = videoGetFrame(clip.reader, index);
        if (index == 6 || index == 8) {
            EXPECT_EQ(bitmap, nullptr) << index;
        } else {
            ASSERT_NE(bitmap, nullptr) << index;
            EXPECT_EQ(frameShown(bitmap), index);
        }
    }
    videoReleaseStream(clip.stream);

    // The first frame refused: the clip opens, frame 0 can not be had.
    const std::string first = makeClip("refused-first.avi", settings);
    ASSERT_TRUE(breakTestClipChunk(first, 0));
    clip = openClip(first);
    ASSERT_NE(clip.reader, nullptr);
    EXPECT_EQ(videoFirstFailedFrame(clip.reader), 0);
    EXPECT_EQ(videoGetFrame(clip.reader, 0), nullptr);
    ASSERT_NE(videoGetFrame(clip.reader, 1), nullptr);
    EXPECT_EQ(frameShown(videoGetFrame(clip.reader, 1)), 1);
    videoReleaseStream(clip.stream);

    // Nothing decodable at all: no reader.
    const std::string none = makeClip("refused-all.avi", TestClip{.frames = 2});
    ASSERT_TRUE(breakTestClipChunk(none, 0));
    ASSERT_TRUE(breakTestClipChunk(none, 1));
    VideoStream* stream = videoOpenStream(none.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(videoFrameReaderOpen(stream), nullptr);
    videoReleaseStream(stream);
}

// The library's own complaints about damaged data never reach standard
// error: the show's one message must be the only line there.
TEST(VideoClip, LibraryLinesStayOffStandardError)
{
    TestClip settings;
    settings.frames = 4;
    const std::string path = makeClip("quiet.avi", settings);
    ASSERT_TRUE(breakTestClipChunk(path, 2));
    std::vector<char> garbage(3000, '\x5a');
    const std::string garbagePath = testClipPath("quiet-garbage.avi");
    writeBytes(garbagePath, garbage);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(videoOpenStream(garbagePath.c_str()), nullptr);
    OpenClip clip = openClip(path);
    EXPECT_EQ(videoFirstFailedFrame(clip.reader), 2);
    EXPECT_EQ(videoGetFrame(clip.reader, 2), nullptr);
    videoReleaseStream(clip.stream);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

} // namespace
