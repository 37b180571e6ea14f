// Procedural painters of the data-set generator: photographs (landscapes,
// cities, dunes, space, patterns) and environment maps that read as
// reflections. Used by pictures.cpp and by the clips. Depends on image.h.
#pragma once

#include "tools/data/image.h"

#include <cstdint>

// Renders width x height by calling colourAt(x, y) (pixel coordinates,
// continuous) at samples x samples points per pixel and averaging.
template <typename ColourAt>
Image renderPicture(int width, int height, int samples, ColourAt colourAt)
{
    Image image(width, height);
    const float step = 1.0f / static_cast<float>(samples);
    const float weight = 1.0f / static_cast<float>(samples * samples);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb sum{0, 0, 0};
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    sum = add(sum, colourAt(x + (sx + 0.5f) * step, y + (sy + 0.5f) * step));
                }
            }
            image.set(x, y, scale(sum, weight), 1.0f);
        }
    }
    return image;
}

struct LandscapeStyle {
    Rgb zenith, horizon, sun, haze, rock, near, water;
    float sunX, sunY; // 0..1 of the picture
    bool lake;
    bool snow;
};

struct CityStyle {
    Rgb zenith, horizon, buildings, windowLight, windowCool;
    bool stars;
    bool moon;
};

// Each returns a colour for (u, v) in 0..1 (v downwards) on a picture of the
// given aspect (width / height).
Rgb landscapeAt(float u, float v, float aspect, const LandscapeStyle& style, std::uint32_t seed);
Rgb cityAt(float u, float v, float aspect, const CityStyle& style, std::uint32_t seed);
Rgb dunesAt(float u, float v, float aspect, Rgb sky, Rgb sand, std::uint32_t seed);
Rgb nebulaAt(float u, float v, float aspect, Rgb first, Rgb second, std::uint32_t seed);
Rgb planetAt(float u, float v, float aspect, Rgb surface, Rgb atmosphere, std::uint32_t seed);
Rgb ringsAt(float u, float v, float aspect, float time, std::uint32_t seed);
Rgb plasmaAt(float u, float v, float aspect, float time, std::uint32_t seed);

// Environment: colour seen along direction (x, y, z), y up.
enum class Environment { Cold, Sunset, Studio, Gold, Stripes };
Rgb environmentAt(float x, float y, float z, Environment environment);
// A reflection map: texture (u, v) is the camera-space normal (2u - 1,
// 1 - 2v) of a mirror ball, showing the environment reflected towards the
// viewer (sky up, ground down, horizon in the middle band).
Image environmentMap(int size, Environment environment);

// Pseudo-random star field: brightness at a pixel.
float starsAt(float x, float y, float density, std::uint32_t seed);
