// Comparing the frames two runs of the show saved: their file names and the
// PSNR of one against the other.
#pragma once

#include "imaging/texture_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

// Reported for frames equal to the byte.
constexpr double IDENTICAL_PSNR = 99.0;

// The capture tool's name for the frame at a show time: "frame-<ms, six digits>.png".
inline std::string frameName(int timeMs)
{
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.png", timeMs);
    return name;
}

// PSNR over the red, green and blue of two decoded frames of one size.
inline double psnr(const DecodedImage& a, const DecodedImage& b)
{
    double squares = 0.0;
    const long long pixels = static_cast<long long>(a.width) * a.height;
    for (long long i = 0; i < pixels; i++)
        for (int shift = 0; shift < 24; shift += 8) {
            const int difference =
                static_cast<int>((a.pixels[i] >> shift) & 255) - static_cast<int>((b.pixels[i] >> shift) & 255);
            squares += static_cast<double>(difference * difference);
        }
    if (squares == 0.0)
        return IDENTICAL_PSNR;
    const double meanSquare = squares / (static_cast<double>(pixels) * 3.0);
    return std::min(IDENTICAL_PSNR, 10.0 * std::log10(255.0 * 255.0 / meanSquare));
}
