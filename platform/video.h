// Video clips as frames by index: the first video stream of a file, its
// stream information, and any frame decoded to a 24-bit bottom-up BGR bitmap
// behind a 40-byte bitmap header (a packed device-independent bitmap).
// Depends on FFmpeg: libavformat (demux), libavcodec (decode, any codec it
// knows), libswscale (conversion to BGR24).
//
// Contract:
// - videoOpenStream reads every packet of the stream into memory, so a clip
//   must be short (the show's are a few dozen frames); it fails (null) for a
//   missing or unreadable file, a file without a video stream, a frame size
//   outside 1..VIDEO_MAX_DIMENSION or more data than the limits below.
// - Frames are numbered 0..dwLength-1 in display order. videoGetFrame seeks
//   to the nearest earlier key frame and decodes forward; every frame decoded
//   on the way is kept (up to VIDEO_CACHE_BYTES per reader), so a clip played
//   forwards and backwards decodes each frame once.
// - videoReleaseStream frees the stream and its frame reader.
#pragma once

#include "platform/win_types.h"

#include <cstdint>

constexpr int VIDEO_MAX_DIMENSION = 4096;
constexpr std::uint32_t VIDEO_MAX_PACKETS = 65536;
constexpr std::uint64_t VIDEO_MAX_PACKET_BYTES = 256ull << 20;
constexpr std::uint64_t VIDEO_CACHE_BYTES = 128ull << 20;

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

// Opens the decoder (once per stream; a second call returns the same reader).
// Null when no decoder exists for the codec.
VideoFrameReader* videoFrameReaderOpen(VideoStream* stream);

// The packed bitmap of frame index: a BITMAPINFOHEADER followed by bottom-up
// BGR rows padded to 4 bytes. Null when the index is outside the clip or the
// frame can not be decoded. Valid until the next call on the same reader.
const BYTE* videoGetFrame(VideoFrameReader* reader, LONG index);

// Frames the decoder has produced so far (tests, benchmarks).
std::uint64_t videoDecodedFrameCount(const VideoFrameReader* reader);

// Frees the stream, its reader and every cached frame. Null is ignored.
void videoReleaseStream(VideoStream* stream);
