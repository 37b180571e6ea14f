// Video clips as frames by index: the first video stream of a file, its
// stream information, and any frame decoded to a 24-bit bottom-up BGR bitmap
// behind a 40-byte bitmap header (a packed device-independent bitmap).
// Depends on FFmpeg: libavformat (demux), libavcodec (decode, any codec it
// knows), libswscale (conversion to BGR24).
//
// Contract:
// - videoOpenStream reads every packet of the stream; a short clip (the
//   show's are a few dozen frames) keeps them in memory, a long one only
//   where they lie in its file, kept open. It fails (null) for a
//   missing or unreadable file, a file without a video stream or without a
//   single packet, a frame size outside 1..VIDEO_MAX_DIMENSION or more data
//   than the limits below.
// - Frames are numbered 0..dwLength-1, dwLength being the length the file's
//   header gives. An AVI index entry without data (a dropped or repeated
//   frame) and the entries past the last packet of a clip cut short show the
//   picture before them; entries before the first packet show the first.
// - videoFrameReaderOpen decodes the whole clip once (null when no decoder
//   exists or not one picture comes out). videoGetFrame fails (null) for an
//   index outside the clip and for a frame the decoder refused or marked
//   damaged.
// - Decoded bitmaps are kept up to the cache limit per reader (the first ones
//   after opening); a frame outside the cache is decoded again from the
//   nearest earlier key frame, and the frames nearest the one asked for stay.
//   A clip longer than its cache with key frames more than 8 frames apart is
//   encoded again at open, each frame on its own (high-quality JPEG, in a
//   temporary file), so that a frame costs one decode at play time.
// - FFmpeg's own log lines are silenced once a stream is opened: failures
//   are reported by results only.
// - videoReleaseStream frees the stream and its frame reader.
#pragma once

#include "platform/win_types.h"

#include <cstdint>

constexpr int VIDEO_MAX_DIMENSION = 4096;
constexpr std::uint32_t VIDEO_MAX_PACKETS = 65536;
constexpr std::uint64_t VIDEO_MAX_PACKET_BYTES = 256ull << 20;
// A clip whose packets hold more than this reads them again from its file
// when it decodes at play time instead of keeping them in memory.
constexpr std::uint64_t VIDEO_RESIDENT_PACKET_BYTES = 4ull << 20;
// Frame numbers beyond this are refused (a header claiming more is not believed).
constexpr std::int64_t VIDEO_MAX_FRAMES = 1 << 20;
// Decoded bitmaps kept per reader: 128 frames of 256 x 256. Seven long clips
// then take about 170 MB of decoded frames, the show's own clips stay whole.
constexpr std::uint64_t VIDEO_CACHE_BYTES = 24ull << 20;

// The stream information record of the original clip library, 140 bytes.
struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    struct {
        LONG left, top, right, bottom;
    } rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

// The header in front of every frame's pixels, 40 bytes.
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight; // positive: rows bottom-up
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

constexpr DWORD VIDEO_STREAM_TYPE_VIDS = 0x73646976u; // "vids"

struct VideoStream;
struct VideoFrameReader;

// Null on any failure (see the contract above). path is resolved with
// platformResolvePath.
VideoStream* videoOpenStream(const char* path);

// Fills the whole record (fccType "vids", dwRate/dwScale the frame rate,
// dwLength the frame count). Returns 0, or nonzero on failure.
HRESULT videoStreamInfo(VideoStream* stream, AVISTREAMINFOA* info, LONG size);

// Opens the decoder and decodes the clip once (once per stream; a second call
// returns the same reader). Null when no decoder exists for the codec or the
// clip gives no picture.
VideoFrameReader* videoFrameReaderOpen(VideoStream* stream);

// The packed bitmap of frame index: a BITMAPINFOHEADER followed by bottom-up
// BGR rows padded to 4 bytes. Null when the index is outside the clip or the
// frame can not be decoded. Valid until the next call on the same reader.
const BYTE* videoGetFrame(VideoFrameReader* reader, LONG index);

// The first frame number videoGetFrame can not deliver because the decoder
// refused or damaged its picture, or -1 when every frame is sound (known
// from the decode at open). 0 for a null reader.
LONG videoFirstFailedFrame(const VideoFrameReader* reader);

// Frames the decoder has produced so far (tests, benchmarks).
std::uint64_t videoDecodedFrameCount(const VideoFrameReader* reader);

// Bytes of decoded bitmaps the reader holds now (tests, benchmarks).
std::uint64_t videoCachedBytes(const VideoFrameReader* reader);

// The cache limit of readers opened from now on (tests, benchmarks).
void videoSetCacheLimit(std::uint64_t bytes);

// The resident packet limit of streams opened from now on (tests).
void videoSetResidentPacketLimit(std::uint64_t bytes);

// True when the stream reads packets again from its file (tests).
bool videoPacketsInFile(const VideoStream* stream);

// True when the reader plays from frames encoded again at open, each on its
// own, because the clip is longer than its cache and its key frames lie far
// apart (tests).
bool videoPlaysFromIntraStore(const VideoFrameReader* reader);

// Frees the stream, its reader and every cached frame. Null is ignored.
void videoReleaseStream(VideoStream* stream);
