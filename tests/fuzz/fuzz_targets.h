// Fuzz targets of the loaders that read the show's data files: the 3DS model
// loader, the texture-file decoder (JPEG, PNG, TGA with scaling and pixel
// conversion, into a texture of the recording device), the video clip opener
// and frame reader, and the MP3 stream opener (silent audio stand-in).
//
// Each target takes one input as the bytes of a file, runs the loader on it
// and ends every run the way the show ends: through fatalExit, which releases
// files, memory blocks, renderer objects and clips, so that the fixed tables
// start empty for the next input. fatalExit must unwind (the driver installs
// an exit handler that throws FatalExitError, tests/support/fatal.h).
//
// Used by the libFuzzer executables (fuzz_main.cpp) and by the regression
// test that replays tests/fuzz/regressions/<target>/*.
// Depends on: geometry/model3ds.h, imaging/texture_file.h, platform/video.h,
// platform/audio.h, dgl, the recording device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using FuzzTarget = int (*)(const std::uint8_t* data, std::size_t size);

int fuzzModel3ds(const std::uint8_t* data, std::size_t size);
// The first two bytes choose the requested size and pixel format; the rest
// is the picture file.
int fuzzTextureFile(const std::uint8_t* data, std::size_t size);
int fuzzVideoClip(const std::uint8_t* data, std::size_t size);
int fuzzMp3Stream(const std::uint8_t* data, std::size_t size);

// The target of a name ("model3ds", "texture_file", "video_clip",
// "mp3_stream"), or null.
FuzzTarget fuzzTargetNamed(const std::string& name);

// Where the targets write their input files (a folder of this process under
// the system's temporary folder, made on first use).
std::string fuzzScratchPath(const char* fileName);
