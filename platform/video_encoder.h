// Writes a capture as an MP4 file: H.264 video (libx264, yuv420p) from RGB
// frames, with the soundtrack's MP3 packets muxed alongside on the same clock.
// Used by the capture tool only. Depends on FFmpeg (libavformat, libavcodec,
// libswscale).
#pragma once

#include <cstdint>
#include <string>

struct VideoEncoder;

struct VideoEncoderSettings {
    const char* path;      // output file (.mp4)
    int width;             // frame size in pixels
    int height;
    int framesPerSecond;
    const char* musicPath; // MP3 to mux, or null for a silent video
    int musicFromMs;       // the video's time 0 is this music time
};

// Null on failure, with the reason in error.
VideoEncoder* videoEncoderOpen(const VideoEncoderSettings& settings, std::string& error);

// One frame, RGB bytes, top row first, width * 3 bytes a row.
bool videoEncoderAddFrame(VideoEncoder* encoder, const std::uint8_t* rgb, std::string& error);

// Flushes, writes the remaining sound up to the end of the video, closes the
// file and frees the encoder (also after a failure).
bool videoEncoderClose(VideoEncoder* encoder, std::string& error);

// What a media file holds, for checking captures.
struct MediaInfo {
    int width = 0;
    int height = 0;
    long long videoFrames = 0;   // frames counted by demuxing
    double videoSeconds = 0.0;
    bool hasAudio = false;
    double audioSeconds = 0.0;
    std::string videoCodec;
    std::string audioCodec;
};

bool probeMediaFile(const char* path, MediaInfo& info, std::string& error);
