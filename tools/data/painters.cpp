// Procedural painters of the data-set generator; see painters.h.
#include "tools/data/painters.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float PI = 3.14159265f;

float fract(float x) { return x - std::floor(x); }

Rgb clampRgb(Rgb c) { return {clamp01(c.r), clamp01(c.g), clamp01(c.b)}; }

// Sky: gradient, sun disc and glow, soft clouds.
Rgb skyAt(float u, float v, float aspect, float horizonV, const LandscapeStyle& s, std::uint32_t seed)
{
    const float t = clamp01(v / horizonV);
    Rgb sky = mix(s.zenith, s.horizon, std::pow(t, 1.6f));
    const float dx = (u - s.sunX) * aspect;
    const float dy = v - s.sunY;
    const float d = std::sqrt(dx * dx + dy * dy);
    sky = add(sky, scale(s.sun, 0.55f * std::exp(-d * 7.0f) + 0.25f * std::exp(-d * 2.0f)));
    if (d < 0.045f) {
        sky = mix(sky, {1.0f, 0.98f, 0.9f}, smoothstep(0.045f, 0.04f, d));
    }
    const float cloud = fbm(u * aspect * 2.5f, v * 9.0f, 5, seed + 7);
    const float amount = smoothstep(0.52f, 0.78f, cloud) * (1.0f - t * 0.6f);
    const Rgb cloudColour = mix(add(s.horizon, {0.15f, 0.15f, 0.15f}), s.sun, 0.25f);
    return mix(sky, cloudColour, amount * 0.8f);
}

float ridgeLine(float u, float aspect, int layer, float horizonV, std::uint32_t seed)
{
    const float freq = 1.5f + layer * 1.3f;
    const float n = fbm(u * aspect * freq, layer * 13.7f, 6, seed + 31u * layer);
    const float height = (0.33f - layer * 0.065f) * std::pow(n, 1.4f) * 1.8f;
    return horizonV - height - 0.01f;
}

} // namespace

float starsAt(float x, float y, float density, std::uint32_t seed)
{
    const int cx = static_cast<int>(std::floor(x));
    const int cy = static_cast<int>(std::floor(y));
    const float h = hash01(cx, cy, seed);
    if (h > density) {
        return 0.0f;
    }
    return 0.3f + 0.7f * hash01(cx, cy, seed + 1);
}

Rgb landscapeAt(float u, float v, float aspect, const LandscapeStyle& s, std::uint32_t seed)
{
    const float horizonV = s.lake ? 0.64f : 0.86f;
    auto above = [&](float uu, float vv) {
        Rgb colour = skyAt(uu, vv, aspect, horizonV, s, seed);
        for (int layer = 0; layer < 4; ++layer) {
            const float ridge = ridgeLine(uu, aspect, layer, horizonV, seed);
            if (vv >= ridge) {
                const float depth = static_cast<float>(layer) / 3.0f;
                const float detail = fbm(uu * aspect * 14.0f, vv * 22.0f, 4, seed + 100 + layer);
                // lit side: the ridge falling to the right faces the sun on the left
                const float slope = (ridgeLine(uu + 0.015f, aspect, layer, horizonV, seed) -
                                     ridgeLine(uu - 0.015f, aspect, layer, horizonV, seed)) *
                                    12.0f * (1.0f - clamp01((vv - ridge) * 4.0f));
                Rgb rock = mix(s.rock, s.near, depth);
                rock = scale(rock, 0.75f + 0.45f * detail + 0.25f * std::clamp(slope, -1.0f, 1.0f));
                if (s.snow && layer <= 1 && vv - ridge < 0.05f * (0.6f + detail) && ridge < horizonV - 0.12f) {
                    rock = mix(rock, {0.92f, 0.94f, 1.0f}, 0.85f);
                }
                // atmospheric perspective: far layers melt into the haze
                const float haze = (1.0f - depth) * 0.65f + 0.25f * (1.0f - clamp01((vv - ridge) * 6.0f)) * (1 - depth);
                colour = mix(rock, s.haze, clamp01(haze));
            }
        }
        return colour;
    };
    if (!s.lake || v < horizonV) {
        return clampRgb(above(u, v));
    }
    const float below = v - horizonV;
    const float ripple = 0.004f * std::sin(v * 420.0f / (0.3f + below * 4.0f)) +
                         0.003f * (fbm(u * aspect * 40.0f, v * 160.0f, 2, seed + 5) - 0.5f);
    const Rgb mirrored = above(u + ripple, horizonV - below * 0.9f - 0.002f);
    Rgb water = mix(mirrored, s.water, 0.3f + below * 0.9f);
    const float sparkle = hash01(static_cast<int>(u * 600), static_cast<int>(v * 900), seed + 9);
    if (sparkle > 0.985f && std::fabs(u - s.sunX) < 0.12f) {
        water = add(water, scale(s.sun, 0.6f));
    }
    return clampRgb(water);
}

Rgb cityAt(float u, float v, float aspect, const CityStyle& s, std::uint32_t seed)
{
    const float groundV = 0.84f;
    const float x = u * aspect;
    auto skyline = [&](float xx, float vv, Rgb& colour) {
        bool hit = false;
        for (int row = 0; row < 3; ++row) {
            const float slot = 0.075f - row * 0.012f;
            const float k = std::floor(xx / slot + row * 0.37f);
            const float local = fract(xx / slot + row * 0.37f);
            const std::uint32_t rowSeed = seed + 977u * row;
            const float h1 = hash01(static_cast<int>(k), row, rowSeed);
            const float gap = 0.08f + 0.12f * hash01(static_cast<int>(k), row + 7, rowSeed);
            if (local < gap || local > 1.0f - gap * 0.5f) {
                continue;
            }
            const float height = (0.16f + 0.05f * row) + h1 * h1 * (0.42f - 0.08f * row);
            const float top = groundV - height;
            float spireTop = top;
            if (h1 > 0.8f && std::fabs(local - 0.5f) < 0.02f) {
                spireTop = top - 0.08f;
            }
            if (vv < spireTop) {
                continue;
            }
            hit = true;
            const float depth = static_cast<float>(row) / 2.0f; // 1 = nearest
            Rgb wall = scale(s.buildings, 0.55f + 0.45f * depth);
            if (vv >= top) {
                // windows: a grid on the facade
                const float wx = (local - gap) / (1.0f - 1.5f * gap);
                const float columns = 6.0f + 2.0f * row;
                const float rowsPer = 70.0f + row * 25.0f;
                const float cx = wx * columns;
                const float cy = (vv - top) * rowsPer;
                const bool inWindow = fract(cx) > 0.3f && fract(cx) < 0.8f && fract(cy) > 0.35f && fract(cy) < 0.85f;
                if (inWindow) {
                    const float lit = hash01(static_cast<int>(cx) + static_cast<int>(k) * 31, static_cast<int>(cy),
                                             rowSeed + 3);
                    if (lit > 0.55f) {
                        const Rgb light = lit > 0.85f ? s.windowCool : s.windowLight;
                        wall = mix(wall, light, 0.5f + 0.5f * depth);
                    }
                }
                if (vv - top < 0.004f) {
                    wall = add(wall, {0.08f, 0.08f, 0.1f}); // roof edge
                }
            } else if (vv - spireTop < 0.006f) {
                wall = {1.0f, 0.15f, 0.1f}; // beacon
            }
            // haze over the far rows
            colour = mix(wall, s.horizon, (1.0f - depth) * 0.45f);
        }
        return hit;
    };
    if (v < groundV) {
        Rgb colour = mix(s.zenith, s.horizon, std::pow(clamp01(v / groundV), 2.2f));
        if (s.stars) {
            const float star = starsAt(u * 900.0f, v * 700.0f, 0.004f, seed + 11);
            colour = add(colour, scale({1, 1, 1}, star * (1.0f - v / groundV)));
        }
        if (s.moon) {
            const float dx = (u - 0.78f) * aspect, dy = v - 0.18f;
            const float d = std::sqrt(dx * dx + dy * dy);
            colour = add(colour, scale({0.9f, 0.9f, 0.8f}, 0.25f * std::exp(-d * 12.0f)));
            if (d < 0.05f) {
                const float crater = fbm(u * 80.0f, v * 80.0f, 3, seed + 4);
                colour = mix(colour, scale({0.95f, 0.93f, 0.85f}, 0.8f + 0.2f * crater), smoothstep(0.05f, 0.046f, d));
            }
        }
        skyline(x, v, colour);
        return clampRgb(colour);
    }
    // water with stretched reflections of the lights
    const float below = v - groundV;
    Rgb colour = scale(s.horizon, 0.25f);
    Rgb reflected = colour;
    const float wobble = 0.004f * std::sin(v * 500.0f + u * 30.0f);
    if (skyline(x + wobble, groundV - below * 1.2f - 0.003f, reflected)) {
        colour = mix(colour, reflected, 0.45f);
    } else {
        colour = mix(colour, reflected, 0.3f);
    }
    return clampRgb(colour);
}

Rgb dunesAt(float u, float v, float aspect, Rgb sky, Rgb sand, std::uint32_t seed)
{
    const float x = u * aspect;
    Rgb colour = mix(add(sky, {0.25f, 0.12f, 0.0f}), sky, clamp01(1.0f - v * 1.6f));
    const float sunDx = (u - 0.3f) * aspect, sunDy = v - 0.36f;
    const float d = std::sqrt(sunDx * sunDx + sunDy * sunDy);
    colour = add(colour, scale({1.0f, 0.6f, 0.25f}, 0.6f * std::exp(-d * 6.0f)));
    if (d < 0.07f) {
        colour = mix(colour, {1.0f, 0.92f, 0.7f}, smoothstep(0.07f, 0.065f, d));
    }
    for (int layer = 0; layer < 5; ++layer) {
        const float base = 0.44f + layer * 0.115f;
        const float freq = 1.6f + layer * 0.9f;
        const float amp = 0.04f + 0.025f * layer;
        const float phase = hash01(layer, 1, seed) * 6.28f;
        auto height = [&](float xx) {
            const float w = xx * freq + phase + 1.5f * fbm(xx * 0.7f, layer * 3.1f, 3, seed + layer);
            const float s = 0.5f + 0.5f * std::sin(w);
            return base - amp * s * s;
        };
        const float ridge = height(x);
        if (v >= ridge) {
            // the shadow edge runs down and to the right from each crest
            const float below = v - ridge;
            const float probe = x - below * 1.8f;
            const float slope = (height(probe + 0.01f) - height(probe - 0.01f)) / 0.02f;
            const float lit = smoothstep(-0.05f, 0.05f, slope);
            const float depth = layer / 4.0f;
            Rgb surface = mix(mix(scale(sand, 0.4f), {0.35f, 0.12f, 0.15f}, 0.3f), sand, lit);
            surface = add(surface, scale({0.3f, 0.15f, 0.05f}, std::exp(-below * 60.0f) * lit));
            const float ripples =
                0.5f + 0.5f * std::sin(below * 700.0f + x * 50.0f + 8.0f * fbm(x * 4, v * 9, 2, seed));
            surface = scale(surface, 0.92f + 0.1f * ripples);
            colour = mix(surface, colour, (1.0f - depth) * 0.35f);
        }
    }
    return clampRgb(colour);
}

Rgb nebulaAt(float u, float v, float aspect, Rgb first, Rgb second, std::uint32_t seed)
{
    const float x = u * aspect * 2.5f;
    const float y = v * 2.5f;
    const float warpX = fbm(x, y, 4, seed + 1);
    const float warpY = fbm(x + 5.2f, y + 1.3f, 4, seed + 2);
    const float a = fbm(x + 2.0f * warpX, y + 2.0f * warpY, 6, seed + 3);
    const float b = fbm(x * 1.7f - warpY, y * 1.7f + warpX, 6, seed + 4);
    Rgb colour = scale(first, std::pow(smoothstep(0.35f, 0.85f, a), 1.5f) * 1.3f);
    colour = add(colour, scale(second, std::pow(smoothstep(0.45f, 0.9f, b), 2.0f) * 1.2f));
    const float dust = smoothstep(0.55f, 0.75f, fbm(x * 3.0f, y * 3.0f, 4, seed + 5));
    colour = scale(colour, 1.0f - 0.6f * dust);
    colour = add(colour, scale({1, 1, 1}, starsAt(u * 700.0f, v * 700.0f / aspect, 0.006f, seed + 6)));
    // a few bright stars with cross flares
    for (int i = 0; i < 6; ++i) {
        const float sx = hash01(i, 0, seed + 8), sy = hash01(i, 1, seed + 8);
        const float dx = (u - sx) * aspect, dy = v - sy;
        const float glow = 0.002f / (dx * dx + dy * dy + 0.0004f);
        const float flare = 0.0006f / (std::fabs(dx) * std::fabs(dy) * 400.0f + 0.0025f) *
                            std::exp(-(std::fabs(dx) + std::fabs(dy)) * 25.0f);
        colour = add(colour, scale({0.9f, 0.95f, 1.0f}, std::min(1.5f, glow * 0.12f + flare)));
    }
    return clampRgb(colour);
}

Rgb planetAt(float u, float v, float aspect, Rgb surface, Rgb atmosphere, std::uint32_t seed)
{
    Rgb colour = {0.0f, 0.0f, 0.02f};
    colour = add(colour, scale({1, 1, 1}, starsAt(u * 800.0f, v * 800.0f / aspect, 0.005f, seed)));
    colour = add(colour, scale(mix(atmosphere, {0.2f, 0.0f, 0.3f}, 0.5f),
                               0.25f * smoothstep(0.45f, 0.8f, fbm(u * 4.0f, v * 4.0f, 5, seed + 1))));
    // the planet: a big sphere rising from the bottom, lit from the upper right
    const float cx = 0.45f * aspect, cy = 1.45f, radius = 0.95f;
    const float dx = u * aspect - cx, dy = v - cy;
    const float d = std::sqrt(dx * dx + dy * dy);
    if (d < radius) {
        const float nx = dx / radius, ny = dy / radius;
        const float nz = std::sqrt(std::max(0.0f, 1.0f - nx * nx - ny * ny));
        const float light = clamp01(nx * 0.5f - ny * 0.6f + nz * 0.62f);
        const float lat = std::asin(std::clamp(ny, -1.0f, 1.0f));
        const float bands = fbm(lat * 9.0f, nx * 2.0f / (nz + 0.2f), 5, seed + 2);
        Rgb ground = mix(surface, scale(surface, 0.4f), bands);
        ground = mix(ground, {0.95f, 0.9f, 0.85f}, smoothstep(0.62f, 0.75f, fbm(nx * 6, ny * 14, 4, seed + 3)) * 0.6f);
        colour = scale(ground, 0.05f + light);
        colour = add(colour, scale(atmosphere, std::pow(1.0f - nz, 3.0f) * (0.3f + light)));
    } else {
        colour = add(colour, scale(atmosphere, 0.9f * std::exp(-(d - radius) * 28.0f)));
    }
    // a small moon
    const float mx = (u - 0.8f) * aspect, my = v - 0.22f;
    const float md = std::sqrt(mx * mx + my * my);
    if (md < 0.06f) {
        const float light = clamp01(mx / 0.06f * 0.7f - my / 0.06f * 0.5f + 0.4f);
        colour = scale({0.8f, 0.75f, 0.7f}, 0.1f + light * (0.7f + 0.3f * fbm(u * 90, v * 90, 3, seed + 5)));
    }
    return clampRgb(colour);
}

Rgb ringsAt(float u, float v, float aspect, float time, std::uint32_t seed)
{
    const float ax = 0.35f + 0.1f * std::sin(time * 2.0f) + 0.1f * hash01(0, 0, seed);
    const float ay = 0.45f + 0.1f * std::cos(time * 1.5f);
    const float bx = 0.65f - 0.1f * std::sin(time * 1.7f), by = 0.55f;
    const float d1 = std::hypot((u - ax) * aspect, v - ay);
    const float d2 = std::hypot((u - bx) * aspect, v - by);
    const float p = std::sin(d1 * 70.0f - time * 6.0f) * std::sin(d2 * 70.0f + time * 4.0f);
    const float line = smoothstep(0.0f, 0.25f, p);
    const float hue = std::atan2(v - 0.5f, u - 0.5f) + time;
    const Rgb tint = {0.55f + 0.45f * std::sin(hue), 0.55f + 0.45f * std::sin(hue + 2.1f),
                      0.55f + 0.45f * std::sin(hue + 4.2f)};
    const float fade = clamp01(1.3f - 1.6f * std::hypot(u - 0.5f, v - 0.5f));
    return clampRgb(scale(tint, line * fade));
}

Rgb plasmaAt(float u, float v, float aspect, float time, std::uint32_t seed)
{
    const float x = u * aspect * 6.0f, y = v * 6.0f;
    const float phase = hash01(1, 2, seed) * 6.0f;
    float p = std::sin(x + time * 2.0f + phase) + std::sin(y * 1.3f - time * 1.5f) +
              std::sin((x + y) * 0.7f + time) + std::sin(std::hypot(x - 3.0f * aspect, y - 3.0f) * 1.6f - time * 3.0f);
    p *= 0.25f;
    const Rgb c = {0.5f + 0.5f * std::sin(PI * p * 2.0f), 0.5f + 0.5f * std::sin(PI * p * 2.0f + 2.0f),
                   0.5f + 0.5f * std::sin(PI * p * 2.0f + 4.0f)};
    const float bands = 0.75f + 0.25f * std::sin(p * 40.0f);
    return clampRgb(scale(c, bands));
}

Rgb environmentAt(float x, float y, float z, Environment environment)
{
    const float elevation = y; // -1 down .. 1 up
    const float azimuth = std::atan2(x, z);
    switch (environment) {
    case Environment::Cold: {
        Rgb colour;
        if (elevation >= 0.0f) {
            colour = mix({0.75f, 0.85f, 0.95f}, {0.12f, 0.3f, 0.65f}, std::pow(elevation, 0.6f));
            const float cloud = fbm(azimuth * 3.0f, elevation * 6.0f, 4, 17);
            colour = mix(colour, {0.95f, 0.97f, 1.0f}, smoothstep(0.55f, 0.8f, cloud) * (1.0f - elevation));
        } else {
            colour = mix({0.35f, 0.38f, 0.42f}, {0.06f, 0.07f, 0.1f}, std::pow(-elevation, 0.5f));
            // a tiled floor running to the horizon
            const float gx = x / (-elevation + 0.05f), gz = z / (-elevation + 0.05f);
            const float grid = (fract(gx * 1.5f) < 0.05f || fract(gz * 1.5f) < 0.05f) ? 0.15f : 0.0f;
            colour = add(colour, scale({0.5f, 0.6f, 0.7f}, grid * (1.0f + elevation)));
        }
        const float sun = std::max(0.0f, x * 0.4f + y * 0.75f - z * 0.53f);
        colour = add(colour, scale({1.0f, 1.0f, 0.95f}, std::pow(sun, 180.0f) * 3.0f + std::pow(sun, 12.0f) * 0.3f));
        return clampRgb(colour);
    }
    case Environment::Sunset: {
        Rgb colour;
        if (elevation >= 0.0f) {
            colour = mix({1.0f, 0.55f, 0.2f}, {0.25f, 0.1f, 0.35f}, std::pow(elevation, 0.45f));
            const float streak = fbm(azimuth * 2.0f, elevation * 25.0f, 3, 5);
            colour = mix(colour, {1.0f, 0.35f, 0.45f}, smoothstep(0.55f, 0.75f, streak) * 0.7f);
        } else {
            colour = mix({0.3f, 0.12f, 0.08f}, {0.04f, 0.02f, 0.02f}, std::pow(-elevation, 0.4f));
            // sea glitter towards the sun
            const float glitter = std::max(0.0f, -z * 0.9f - x * 0.1f);
            colour = add(colour, scale({1.0f, 0.6f, 0.3f}, std::pow(glitter, 20.0f) * 0.8f *
                                                               (0.5f + 0.5f * std::sin(elevation * 300.0f))));
        }
        const float sun = std::max(0.0f, -z * 0.98f + y * 0.15f);
        colour = add(colour, scale({1.0f, 0.85f, 0.55f}, std::pow(sun, 300.0f) * 4.0f + std::pow(sun, 8.0f) * 0.4f));
        return clampRgb(colour);
    }
    case Environment::Studio: {
        Rgb colour = mix({0.12f, 0.12f, 0.14f}, {0.02f, 0.02f, 0.03f}, std::fabs(elevation));
        if (elevation < 0.0f) {
            colour = mix({0.25f, 0.25f, 0.28f}, {0.05f, 0.05f, 0.06f}, std::pow(-elevation, 0.4f));
        }
        // soft boxes: bright panels above, left and right
        auto panel = [&](float px, float py, float pz, float size) {
            const float d = x * px + y * py + z * pz;
            return smoothstep(1.0f - size, 1.0f - size * 0.7f, d);
        };
        colour = add(colour, scale({1.0f, 1.0f, 1.0f}, panel(0.0f, 0.96f, 0.28f, 0.12f) * 1.2f));
        colour = add(colour, scale({0.7f, 0.85f, 1.0f}, panel(-0.9f, 0.2f, -0.38f, 0.08f)));
        colour = add(colour, scale({1.0f, 0.8f, 0.6f}, panel(0.85f, 0.1f, 0.5f, 0.06f)));
        colour = add(colour, scale({1.0f, 1.0f, 1.0f}, std::fabs(elevation) < 0.02f ? 0.35f : 0.0f));
        return clampRgb(colour);
    }
    case Environment::Gold: {
        Rgb colour = elevation >= 0.0f ? mix({1.0f, 0.85f, 0.45f}, {0.45f, 0.25f, 0.05f}, std::pow(elevation, 0.5f))
                                       : mix({0.35f, 0.2f, 0.05f}, {0.05f, 0.03f, 0.0f}, std::pow(-elevation, 0.4f));
        const float rays = 0.5f + 0.5f * std::sin(azimuth * 12.0f);
        colour = add(colour, scale({1.0f, 0.9f, 0.6f}, rays * 0.15f * std::max(0.0f, elevation)));
        const float sun = std::max(0.0f, x * -0.5f + y * 0.6f - z * 0.62f);
        colour = add(colour, scale({1.0f, 1.0f, 0.9f}, std::pow(sun, 150.0f) * 3.0f + std::pow(sun, 10.0f) * 0.35f));
        return clampRgb(colour);
    }
    case Environment::Stripes: {
        const float band = std::sin(elevation * 26.0f + std::sin(azimuth * 3.0f) * 0.8f);
        const float stripe = smoothstep(0.2f, 0.5f, band);
        Rgb colour = mix({0.02f, 0.02f, 0.05f}, {0.95f, 0.97f, 1.0f}, stripe);
        colour = mix(colour, {0.2f, 0.6f, 1.0f}, 0.25f * (1.0f - stripe) * (elevation > 0 ? 1.0f : 0.0f));
        colour = mix(colour, {1.0f, 0.4f, 0.2f}, 0.3f * (1.0f - stripe) * (elevation <= 0 ? 1.0f : 0.0f));
        return clampRgb(colour);
    }
    }
    return {0, 0, 0};
}

Image environmentMap(int size, Environment environment)
{
    return renderPicture(size, size, 2, [&](float px, float py) {
        float nx = 2.0f * px / size - 1.0f;
        float ny = 1.0f - 2.0f * py / size;
        float r2 = nx * nx + ny * ny;
        if (r2 > 0.999f) {
            const float k = std::sqrt(0.999f / r2);
            nx *= k;
            ny *= k;
            r2 = 0.999f;
        }
        const float nz = -std::sqrt(1.0f - r2); // facing the viewer, who looks along +z
        // reflect the view direction (0, 0, 1) about the normal
        const float d = nz;
        const float rx = -2.0f * d * nx, ry = -2.0f * d * ny, rz = 1.0f - 2.0f * d * nz;
        return environmentAt(rx, ry, rz, environment);
    });
}
