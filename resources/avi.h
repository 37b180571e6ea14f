// AVI clips used as moving textures: one AviStream per clip, a registry of
// every opened stream released at exit, the copy of a frame into a locked
// 32-bit ARGB texture, and the beat swing that picks a frame from show time.
// Depends on: platform/video (decoding), kernel/messages (fatalExit).
#pragma once

#include "platform/video.h"

#include <cstdint>

constexpr int AVI_STREAM_TABLE_SIZE = 11;
constexpr int AVI_STREAM_LIMIT = 9;
// The scenes copy frames into a texture of this size; larger clips are refused.
constexpr int AVI_TEXTURE_SIZE = 256;

// One clip. Objects are static in the scenes that use them: zero until open.
class AviStream {
public:
    // Opens the first video stream of path (kept, not copied), reads the
    // frame size from frame 0 and decodes the clip once. Every failure ends
    // the program: with the open message, or the render message for a frame
    // other than frame 0 that can not be decoded.
    void open(const char* path);

    // Writes frame frameIndex upright as 0xFFRRGGBB texels into the top-left
    // width x height texels of a locked texture (destination, pitch in bytes).
    void copyFrame(std::int32_t frameIndex, void* destination, std::int32_t pitch);

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerPixel = 0;
    std::uint32_t framesPerSecond = 0;
    std::uint32_t frameCount = 0;
    VideoStream* stream = nullptr;
    AVISTREAMINFOA info = {};
    VideoFrameReader* frameReader = nullptr;
    const char* path = nullptr;
};

// Releases every registered stream, in order of registration (fatalExit).
void releaseAviStreams();

// Number of registered streams (tests).
int aviStreamCount();

// ------------------------------------------------------------- beat swing

constexpr std::int32_t AVI_BEAT_MS = 430;
// One beat of 430 ms runs through the whole clip: 1 / 0.43.
constexpr float AVI_SWING_RATE = 2.3255813f;

// Per-scene swing state shared by all the scene's clips.
struct BeatSwing {
    std::int32_t mark = -AVI_BEAT_MS; // start of the current beat, ms
    std::int32_t direction = 1;       // 1 = backwards, 0 = forwards
    float start = 0.0f;               // relative seconds when the beat began
};

// The per-clip factor the scenes store at precalculation.
float aviSwingFactor(std::uint32_t frameCount);

// Advances at most one beat for relative time r (ms) and s (seconds).
// Returns true when a beat began on this frame (the scene's per-beat actions).
bool beatSwingAdvance(BeatSwing& swing, std::int32_t relativeMs, float relativeSeconds);

// Frame index for relative time s with the clip's frameCount and factor.
std::int32_t beatSwingFrame(const BeatSwing& swing, float relativeSeconds, std::uint32_t frameCount,
                            float factor);
