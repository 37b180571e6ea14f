// Small AVI clips for the video tests, encoded with libavcodec. Every frame
// tells its own number: the picture is grey at testClipGrey(index), with a
// red band along the top and a blue band along the bottom (16 rows each) so
// that row order and colour order can be checked.
// Depends on FFmpeg (libavformat, libavcodec, libswscale).
#pragma once

#include <cstdint>
#include <string>

enum class TestCodec { Mjpeg, Mpeg4, Mpeg4BFrames };

struct TestClip {
    TestCodec codec = TestCodec::Mjpeg;
    int width = 64;
    int height = 48;
    int frames = 12;
    int keyInterval = 1; // MPEG-4: a key frame every keyInterval frames
    int rate = 25;       // frames per second
};

// Writes the clip to path; false with a reason in error on failure.
bool writeTestClip(const std::string& path, const TestClip& clip, std::string& error);

// Fills the data of an AVI file's video chunk number chunk (counting the
// chunks that hold data, in file order) with bytes no decoder takes as a
// picture. False when the file has no such chunk.
bool breakTestClipChunk(const std::string& path, int chunk);

// Grey level of frame index (up to 38 frames keep distinct levels).
int testClipGrey(int index);

// Frame number from a decoded grey level (nearest level).
int testClipIndexOfGrey(int grey);

// A fresh path in the system's temporary folder.
std::string testClipPath(const std::string& name);
