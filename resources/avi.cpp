// AVI clips as moving textures (see avi.h).
// The registry is written only by AviStream::open (register) and
// releaseAviStreams (release); one thread.
#include "resources/avi.h"

#include "kernel/messages.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the frame copy reads pixels as little-endian words");

namespace {

const char* const OPEN_MESSAGE = "Can not open or use the specified AVI file: %s. Are you lacking proper decoders? ;)";
const char* const RENDER_MESSAGE =
    "Can not render a frame of the specified AVI file: %s. Are you lacking proper decoders? ;)";

// Each registered stream with the object that owns it, so that release can
// clear the object's handles: a stream used after release then fails with its
// message instead of reading freed memory.
struct AviRegistryEntry {
    VideoStream* stream;
    AviStream* owner;
};

AviRegistryEntry aviRegistry[AVI_STREAM_TABLE_SIZE];
int aviRegistryCount = 0;

[[noreturn]] void failOpen(const char* path) { fatalExit(formatMessage(OPEN_MESSAGE, path)); }
[[noreturn]] void failRender(const char* path) { fatalExit(formatMessage(RENDER_MESSAGE, path != nullptr ? path : "")); }

} // namespace

void AviStream::open(const char* streamPath)
{
    if (aviRegistryCount >= AVI_STREAM_LIMIT) {
        fatalExit(formatMessage("Tried to create too many AVI file streams (at most 9): %s.", streamPath));
    }
    path = streamPath;
    stream = videoOpenStream(streamPath);
    if (stream == nullptr) {
        failOpen(streamPath);
    }
    aviRegistry[aviRegistryCount] = {stream, this};
    ++aviRegistryCount;

    // A clip larger than the scenes' texture is refused before the reader
    // decodes all of it.
    if (videoStreamInfo(stream, &info, sizeof(info)) != S_OK || info.rcFrame.right > AVI_TEXTURE_SIZE ||
        info.rcFrame.bottom > AVI_TEXTURE_SIZE) {
        failOpen(streamPath);
    }
    frameReader = videoFrameReaderOpen(stream);
    if (frameReader == nullptr) {
        failOpen(streamPath);
    }
    const BYTE* first = videoGetFrame(frameReader, 0);
    if (first == nullptr) {
        failOpen(streamPath);
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, first, sizeof(header));
    width = header.biWidth;
    height = header.biHeight;
    bitsPerPixel = header.biBitCount;
    // A frame larger than the scenes' texture would be written past its end;
    // a zero scale would divide by zero.
    if (width <= 0 || height <= 0 || width > AVI_TEXTURE_SIZE || height > AVI_TEXTURE_SIZE || info.dwScale == 0) {
        failOpen(streamPath);
    }
    framesPerSecond = info.dwRate / info.dwScale;
    frameCount = info.dwLength;
    // The reader decoded every frame at open, behind the loading bar: a frame
    // the decoder refused ends the program now, with the message its copy
    // would have given, rather than in the middle of the show.
    if (videoFirstFailedFrame(frameReader) >= 0) {
        failRender(streamPath);
    }
}

void AviStream::copyFrame(std::int32_t frameIndex, void* destination, std::int32_t pitch)
{
    const BYTE* bitmap = frameReader != nullptr ? videoGetFrame(frameReader, frameIndex) : nullptr;
    if (bitmap == nullptr || bitsPerPixel != 24) {
        failRender(path);
    }
    const std::size_t sourceStride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
    const BYTE* sourceTop = bitmap + sizeof(BITMAPINFOHEADER) + sourceStride * static_cast<std::size_t>(height - 1);
    BYTE* destinationRow = static_cast<BYTE*>(destination);
    for (std::int32_t y = 0; y < height; ++y) {
        const BYTE* source = sourceTop - sourceStride * static_cast<std::size_t>(y);
        std::uint32_t* texel = reinterpret_cast<std::uint32_t*>(destinationRow);
        // Four pixels (twelve bytes, three little-endian words) at a time.
        std::int32_t x = 0;
        for (; x + 4 <= width; x += 4) {
            std::uint32_t a;
            std::uint32_t b;
            std::uint32_t c;
            std::memcpy(&a, source, 4);
            std::memcpy(&b, source + 4, 4);
            std::memcpy(&c, source + 8, 4);
            texel[x] = 0xFF000000u | (a & 0xFFFFFFu);
            texel[x + 1] = 0xFF000000u | (a >> 24) | ((b & 0xFFFFu) << 8);
            texel[x + 2] = 0xFF000000u | (b >> 16) | ((c & 0xFFu) << 16);
            texel[x + 3] = 0xFF000000u | (c >> 8);
            source += 12;
        }
        for (; x < width; ++x) {
            texel[x] = 0xFF000000u | static_cast<std::uint32_t>(source[2]) << 16 |
                       static_cast<std::uint32_t>(source[1]) << 8 | source[0];
            source += 3;
        }
        destinationRow += pitch;
    }
}

void releaseAviStreams()
{
    for (int i = 0; i < aviRegistryCount; ++i) {
        videoReleaseStream(aviRegistry[i].stream);
        AviStream* owner = aviRegistry[i].owner;
        if (owner->stream == aviRegistry[i].stream) {
            owner->stream = nullptr;
            owner->frameReader = nullptr;
        }
        aviRegistry[i] = {};
    }
    // Emptied so that a second release (tests unwind from fatalExit and go
    // on) never frees a stream twice.
    aviRegistryCount = 0;
}

int aviStreamCount() { return aviRegistryCount; }

float aviSwingFactor(std::uint32_t frameCount) { return static_cast<float>(frameCount) * AVI_SWING_RATE; }

bool beatSwingAdvance(BeatSwing& swing, std::int32_t relativeMs, float relativeSeconds)
{
    if (relativeMs < swing.mark + AVI_BEAT_MS) {
        return false;
    }
    swing.mark += AVI_BEAT_MS;
    swing.direction = swing.direction == 1 ? 0 : 1;
    swing.start = relativeSeconds;
    return true;
}

std::int32_t beatSwingFrame(const BeatSwing& swing, float relativeSeconds, std::uint32_t frameCount, float factor)
{
    if (frameCount == 0) {
        return 0;
    }
    const float last = static_cast<float>(frameCount - 1);
    float x = (relativeSeconds - swing.start) * factor;
    if (swing.direction == 1) {
        x = last - x;
    }
    // Truncation toward zero; float rounding of the two clocks could reach
    // one past either end, so the result is held inside the clip.
    x = !(x >= 0.0f) ? 0.0f : (x > last ? last : x);
    return static_cast<std::int32_t>(x);
}
