// The picture decoders behind texture_file.cpp. Each reads a whole file held
// in memory and writes A8R8G8B8 pixels, top row first, into a block from
// allocateMemory. Each returns false on any bad input without reading or
// writing out of bounds.
// Depends on: imaging/texture_file.h (DecodedImage).
#pragma once

#include "imaging/texture_file.h"

#include <cstdint>

// A decoded picture is never larger than this on either side, nor has more
// pixels than MAX_IMAGE_PIXELS; a file that would need more is refused before
// anything is allocated. A JPEG or non-interlaced PNG above that is decoded
// reduced instead, up to MAX_SOURCE_PIXELS (and MAX_SOURCE_SIDE) in the file;
// so is an uncompressed or run-length TGA.
constexpr int MAX_IMAGE_SIDE = 16384;
constexpr long long MAX_IMAGE_PIXELS = 32LL * 1024 * 1024;
constexpr long long MAX_SOURCE_PIXELS = 256LL * 1024 * 1024;
constexpr int MAX_SOURCE_SIDE = 65535;

inline bool imageSizeAcceptable(long long width, long long height)
{
    return width > 0 && height > 0 && width <= MAX_IMAGE_SIDE && height <= MAX_IMAGE_SIDE &&
           width * height <= MAX_IMAGE_PIXELS;
}

// Block means of a picture too large to hold, taken as its rows arrive
// (reduce.cpp). Every output pixel is the mean of a factor x factor block,
// smaller at the right and bottom edges.
struct RowReducer {
    int width;  // of the picture
    int height;
    long long factor;
    int reducedWidth;
    int reducedHeight;
    DWORD* pixels;        // reducedWidth x reducedHeight, top row first
    std::uint64_t* sums;  // four running sums per output column
    long long rowsInBlock; // rows summed since the last output row
};

// The largest whole factor that still covers the wanted size, made larger
// while the result is too large to hold.
long long reductionFactor(long long width, long long height, int wantWidth, int wantHeight);
// Takes the output and the sums from allocateMemory.
void startReduction(RowReducer* reducer, int width, int height, long long factor);
// Picture row y of width A8R8G8B8 pixels. Rows come one by one, from the top
// (y = 0, 1, ...) or, with bottomUp, from the bottom (y = height - 1, ...).
void addReducedRow(RowReducer* reducer, int y, const DWORD* row, bool bottomUp);

bool isJpeg(const BYTE* data, std::size_t size);
bool isPng(const BYTE* data, std::size_t size);

// wantWidth x wantHeight (both above 0) is the size the picture is wanted
// at: a JPEG too large to decode whole comes out reduced to the smallest of
// libjpeg's scales (n/8) that still covers it, where that fits the limits.
bool decodeJpeg(const BYTE* data, std::size_t size, int wantWidth, int wantHeight, DecodedImage* image);
// A PNG too large to hold comes out reduced by the largest whole factor that
// still covers the wanted size, where that fits the limits.
bool decodePng(const BYTE* data, std::size_t size, int wantWidth, int wantHeight, DecodedImage* image);
// A TGA too large to hold comes out reduced like a PNG.
bool decodeTga(const BYTE* data, std::size_t size, int wantWidth, int wantHeight, DecodedImage* image);
