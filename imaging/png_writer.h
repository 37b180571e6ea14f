// Writes 8-bit RGB pictures (top row first, tightly packed) as PNG files:
// capture frames and the pictures tests look at. Depends on libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool writePngRgb(const std::string& path, const std::uint8_t* rgb, int width, int height);

// Reads a PNG back as 8-bit RGB (alpha dropped); false when it can not be read.
bool readPngRgb(const std::string& path, std::vector<std::uint8_t>& rgb, int& width, int& height);
