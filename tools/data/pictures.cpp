// Data set: every picture of the show (JPEG, PNG and TGA). Photographs and
// environment maps come from the procedural painters; captions, scrollers,
// banners and the progress picture carry real text drawn with FreeType;
// pictures that the show blends by their alpha carry an alpha channel.
// Depends on dataset.h, image.h, painters.h.
#include "tools/data/dataset.h"
#include "tools/data/image.h"
#include "tools/data/painters.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

namespace {

constexpr float PI = 3.14159265f;

std::string pathOf(const std::string& folder, const char* name) { return folder + "/" + name; }

// Scales a finished picture's alpha so its densest pixel reaches maxAlpha
// (0..255). For pictures drawn faint: the show's texture stage takes alpha
// from the picture alone, so how faint they blend is set here.
Image faint(Image image, int maxAlpha)
{
    float densest = 0.0f;
    for (std::size_t i = 3; i < image.pixels.size(); i += 4) {
        densest = std::max(densest, image.pixels[i]);
    }
    if (densest > 0.0f) {
        const float factor = static_cast<float>(maxAlpha) / 255.0f / densest;
        for (std::size_t i = 3; i < image.pixels.size(); i += 4) {
            image.pixels[i] *= factor;
        }
    }
    return image;
}

void frameBorder(Image& image, Rgb colour, int thickness)
{
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (x < thickness || y < thickness || x >= image.width - thickness || y >= image.height - thickness) {
                image.set(x, y, colour, 1.0f);
            }
        }
    }
}

// ------------------------------------------------------------ photographs

LandscapeStyle alpineDay()
{
    return {rgb(0x2E5FA8), rgb(0xBFD6EA), rgb(0xFFE9B0), rgb(0xA9BFD6), rgb(0x6B7A8C), rgb(0x2F3B2A), rgb(0x1F3F5A),
            0.72f, 0.2f, true, true};
}

LandscapeStyle duskPurple()
{
    return {rgb(0x1A1240), rgb(0xE07A5F), rgb(0xFFB36B), rgb(0x8A5A7A), rgb(0x4A3552), rgb(0x1C1424), rgb(0x2A1A3A),
            0.35f, 0.5f, true, false};
}

LandscapeStyle coldCoast()
{
    return {rgb(0x0E2A47), rgb(0x9FC3D6), rgb(0xE8F4FF), rgb(0x8FA9BC), rgb(0x50606E), rgb(0x1E2A30), rgb(0x10283A),
            0.25f, 0.35f, true, true};
}

LandscapeStyle highlands()
{
    return {rgb(0x3A6EA5), rgb(0xF2D7A6), rgb(0xFFD38A), rgb(0xC9B79C), rgb(0x7A6A4F), rgb(0x2E3A1F), rgb(0x2A3A40),
            0.55f, 0.55f, false, false};
}

CityStyle cityNight()
{
    return {rgb(0x050818), rgb(0x2A2350), rgb(0x0B0D16), rgb(0xFFD27A), rgb(0xBFE3FF), true, true};
}

CityStyle cityDusk()
{
    return {rgb(0x2B2F6B), rgb(0xF08A4B), rgb(0x1A1420), rgb(0xFFE1A0), rgb(0xFFFFFF), false, false};
}

CityStyle cityDawn()
{
    return {rgb(0x6A9BD1), rgb(0xFFD9B8), rgb(0x3A4150), rgb(0xFFF2C0), rgb(0xDDEEFF), false, false};
}

bool writePhotographs(const std::string& folder, std::string& error)
{
    struct Photo {
        const char* name;
        int width, height;
        std::function<Rgb(float, float, float)> paint; // u, v, aspect
    };
    const Photo photos[] = {
        {"werdup.jpg", 512, 512, [](float u, float v, float a) { return landscapeAt(u, v, a, alpineDay(), 11); }},
        {"quon.jpg", 512, 512,
         [](float u, float v, float a) { return nebulaAt(u, v, a, rgb(0xD04080), rgb(0x30A0FF), 21); }},
        {"linux.jpg", 512, 512, [](float u, float v, float a) { return cityAt(u, v, a, cityDusk(), 31); }},
        {"vuzpat.jpg", 512, 512, [](float u, float v, float a) { return ringsAt(u, v, a, 0.7f, 41); }},
        {"elite.jpg", 512, 512,
         [](float u, float v, float a) { return dunesAt(u, v, a, rgb(0x5A3A7A), rgb(0xE8A060), 51); }},
        {"zor.jpg", 512, 512,
         [](float u, float v, float a) { return planetAt(u, v, a, rgb(0xC07040), rgb(0x60B0FF), 61); }},
        // the photo ring
        {"21.jpg", 256, 128, [](float u, float v, float a) { return landscapeAt(u, v, a, alpineDay(), 121); }},
        {"22.jpg", 256, 128, [](float u, float v, float a) { return cityAt(u, v, a, cityNight(), 122); }},
        {"23.jpg", 256, 128,
         [](float u, float v, float a) { return nebulaAt(u, v, a, rgb(0x40FF90), rgb(0xA040FF), 123); }},
        {"24.jpg", 256, 128,
         [](float u, float v, float a) { return dunesAt(u, v, a, rgb(0x3060A0), rgb(0xF0C080), 124); }},
        {"25.jpg", 256, 128, [](float u, float v, float a) { return landscapeAt(u, v, a, duskPurple(), 125); }},
        {"26.jpg", 256, 128, [](float u, float v, float a) { return cityAt(u, v, a, cityDawn(), 126); }},
        {"27.jpg", 256, 128, [](float u, float v, float a) { return ringsAt(u, v, a, 2.1f, 127); }},
        {"28.jpg", 256, 128, [](float u, float v, float a) { return landscapeAt(u, v, a, coldCoast(), 128); }},
        {"29.jpg", 256, 128,
         [](float u, float v, float a) { return planetAt(u, v, a, rgb(0x5080C0), rgb(0xFF9060), 129); }},
        {"29a.jpg", 256, 128, [](float u, float v, float a) { return landscapeAt(u, v, a, highlands(), 130); }},
    };
    for (const Photo& photo : photos) {
        const float aspect = static_cast<float>(photo.width) / photo.height;
        Image image = renderPicture(photo.width, photo.height, 2, [&](float x, float y) {
            return photo.paint(x / photo.width, y / photo.height, aspect);
        });
        if (photo.width == 256) {
            frameBorder(image, {0.92f, 0.92f, 0.9f}, 2);
        }
        if (!writeJpeg(pathOf(folder, photo.name), image, 90, error)) {
            return false;
        }
    }
    return true;
}

bool writeEnvironmentMaps(const std::string& folder, std::string& error)
{
    return writeJpeg(pathOf(folder, "env1.jpg"), environmentMap(256, Environment::Cold), 92, error) &&
           writeJpeg(pathOf(folder, "env2.jpg"), environmentMap(256, Environment::Sunset), 92, error) &&
           writeJpeg(pathOf(folder, "env3.jpg"), environmentMap(256, Environment::Studio), 92, error) &&
           writeJpeg(pathOf(folder, "glimenv.jpg"), environmentMap(256, Environment::Gold), 92, error) &&
           writeJpeg(pathOf(folder, "stripes.jpg"), environmentMap(512, Environment::Stripes), 92, error);
}

// The wire texture: tiles seamlessly (the sheet repeats it four times), neon
// bands that give the wireframe lines their colours.
bool writeWireTexture(const std::string& folder, std::string& error)
{
    Image image = renderPicture(256, 256, 1, [](float x, float y) {
        const float u = x / 256.0f * 2.0f * PI, v = y / 256.0f * 2.0f * PI;
        const float p = std::sin(u) + std::sin(v * 2.0f) + std::sin(u + v) * 0.5f;
        const Rgb c = {0.5f + 0.5f * std::sin(p * 1.8f), 0.5f + 0.5f * std::sin(p * 1.8f + 2.2f),
                       0.6f + 0.4f * std::sin(p * 1.8f + 4.0f)};
        const float glow = 0.7f + 0.3f * std::sin(v * 8.0f);
        return Rgb{clamp01(c.r * glow + 0.15f), clamp01(c.g * glow + 0.15f), clamp01(c.b * glow + 0.2f)};
    });
    return writeJpeg(pathOf(folder, "wirenv.jpg"), image, 92, error);
}

// ------------------------------------------------------------ text on black (added to the frame)

// Bright text with a glow on black: the show adds these to the picture.
Image glowText(int width, int height, const std::function<void(Mask&)>& drawText, Rgb top, Rgb bottom, Rgb glow)
{
    Mask text(width, height);
    drawText(text);
    Image image(width, height);
    image.fill({0, 0, 0});
    addMask(image, blurMask(dilateMask(text, 1), 6), glow, 0.9f);
    paintMaskWith(image, text, 1.0f, [&](int, int y) { return mix(top, bottom, static_cast<float>(y) / height); });
    return image;
}

bool writeTextOnBlack(const std::string& folder, std::string& error)
{
    const Image title = glowText(
        512, 256,
        [](Mask& m) {
            maskTextCentred(m, Font::SansBold, 104, "gfxcore", 256, 146);
            maskTextCentred(m, Font::Sans, 22, "eight scenes on one beat", 256, 200);
            maskRect(m, 96, 214, 416, 216);
        },
        {1.0f, 1.0f, 1.0f}, {0.55f, 0.75f, 1.0f}, {0.2f, 0.45f, 1.0f});
    const Image scroll1 = glowText(
        512, 128,
        [](Mask& m) {
            maskText(m, Font::SansBold, 40, "gfxcore presents", 14, 52);
            maskText(m, Font::Sans, 26, "a realtime show in eight scenes", 16, 100);
        },
        {1.0f, 0.95f, 0.8f}, {1.0f, 0.6f, 0.3f}, {1.0f, 0.35f, 0.1f});
    const Image scroll2 = glowText(
        512, 128,
        [](Mask& m) {
            maskText(m, Font::MonoBold, 28, "metaballs * echoes * waves", 12, 48);
            maskText(m, Font::MonoBold, 28, "cities * cubes * knots", 12, 98);
        },
        {0.8f, 1.0f, 0.9f}, {0.3f, 0.9f, 1.0f}, {0.1f, 0.6f, 0.5f});
    const Image logo = glowText(
        256, 128,
        [](Mask& m) {
            maskTextCentred(m, Font::SansBold, 56, "gfxcore", 128, 70);
            maskTextCentred(m, Font::Mono, 15, "cube field / photo ring", 128, 100);
        },
        {1.0f, 1.0f, 1.0f}, {0.4f, 1.0f, 0.8f}, {0.0f, 0.7f, 0.6f});
    const Image glim = glowText(
        256, 128,
        [](Mask& m) {
            maskTextCentred(m, Font::SerifBold, 44, "gfxcore", 128, 58);
            maskTextCentred(m, Font::Sans, 17, "thanks for watching", 128, 92);
            maskRect(m, 48, 104, 208, 105);
        },
        {1.0f, 0.85f, 1.0f}, {0.9f, 0.5f, 0.9f}, {0.7f, 0.2f, 0.6f});
    return writeJpeg(pathOf(folder, "title.jpg"), title, 92, error) &&
           writeJpeg(pathOf(folder, "scroll1.jpg"), scroll1, 92, error) &&
           writeJpeg(pathOf(folder, "scroll2.jpg"), scroll2, 92, error) &&
           writeJpeg(pathOf(folder, "1.jpg"), logo, 92, error) && writeJpeg(pathOf(folder, "glim.jpg"), glim, 92, error);
}

// A small glowing coin for the rising sprites. Hundreds of them overlap and
// are added to the frame, so the coin is small in its square and modest.
bool writeSprite(const std::string& folder, std::string& error)
{
    Image image = renderPicture(32, 32, 4, [](float x, float y) {
        const float d = std::hypot(x - 16.0f, y - 16.0f) / 16.0f;
        const float core = smoothstep(0.36f, 0.3f, d);
        const float ring = smoothstep(0.07f, 0.0f, std::fabs(d - 0.4f));
        const float glow = std::exp(-d * 7.0f) * 0.25f;
        const float shine = clamp01(1.0f - std::hypot(x - 13.5f, y - 13.5f) / 3.5f);
        Rgb c = scale({0.9f, 0.7f, 0.3f}, core * 0.45f + ring * 0.6f + glow);
        c = add(c, scale({0.9f, 0.9f, 0.8f}, shine * core * 0.6f));
        return Rgb{clamp01(c.r), clamp01(c.g), clamp01(c.b)};
    });
    return writeJpeg(pathOf(folder, "money.jpg"), image, 95, error);
}

// ------------------------------------------------------------ pictures with alpha

// Captions of the model-echo scene: a big word, outlined, over a soft shadow.
Image bigCaption(const std::string& word, Rgb top, Rgb bottom)
{
    constexpr int width = 512, height = 256;
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.set(x, y, {0, 0, 0}, 0.0f);
        }
    }
    int size = 150;
    while (size > 40 && textWidth(Font::SansBold, size, word) > 470) {
        size -= 4;
    }
    Mask text(width, height);
    maskTextCentred(text, Font::SansBold, size, word, 256, 128 + size * 36 / 100);
    const Mask outline = dilateMask(text, 4);
    const Mask shadow = blurMask(dilateMask(text, 3), 8);
    paintMask(image, shadow, {0, 0, 0}, 0.6f, 6, 8);
    paintMask(image, outline, {0.05f, 0.02f, 0.1f}, 0.9f);
    paintMaskWith(image, text, 1.0f, [&](int x, int y) {
        const float t = static_cast<float>(y - 40) / 160.0f;
        const float streak = 0.08f * std::sin(x * 0.05f + y * 0.2f);
        const Rgb c = mix(top, bottom, clamp01(t));
        return Rgb{clamp01(c.r + streak), clamp01(c.g + streak), clamp01(c.b + streak)};
    });
    return image;
}

// Portraits: a stylised head and shoulders in halftone shading with a rim
// light; transparent around the figure.
Image portrait(bool second)
{
    constexpr int width = 256, height = 512;
    const Rgb ink = second ? rgb(0x2A0A3A) : rgb(0x0A1A2A);
    const Rgb paper = second ? rgb(0xFF7AC8) : rgb(0x7AE0FF);
    const Rgb rim = second ? rgb(0xFFE070) : rgb(0xFFFFFF);
    Image image(width, height);
    const int samples = 3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float coverage = 0.0f;
            Rgb sum{0, 0, 0};
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const float px = x + (sx + 0.5f) / samples, py = y + (sy + 0.5f) / samples;
                    // head (tilted a little in the second picture), neck, shoulders
                    const float tilt = second ? 0.12f : 0.0f;
                    const float hx = (px - 132.0f), hy = (py - 175.0f);
                    const float rx = hx * std::cos(tilt) + hy * std::sin(tilt);
                    const float ry = -hx * std::sin(tilt) + hy * std::cos(tilt);
                    const float head = (rx * rx) / (66.0f * 66.0f) + (ry * ry) / (86.0f * 86.0f);
                    const bool neck = std::fabs(px - 128.0f) < 34.0f && py > 230.0f && py < 360.0f;
                    const float sx2 = (px - 128.0f) / 150.0f, sy2 = (py - 520.0f) / 170.0f;
                    const float shoulders = sx2 * sx2 + sy2 * sy2;
                    bool inside = head < 1.0f || neck || shoulders < 1.0f;
                    // headphones in the second picture
                    if (second) {
                        const float band = std::hypot(rx, ry + 10.0f);
                        if (std::fabs(band - 84.0f) < 6.0f && ry < -20.0f) {
                            inside = true;
                        }
                        if ((std::hypot(rx + 68.0f, ry + 5.0f) < 22.0f) || (std::hypot(rx - 68.0f, ry + 5.0f) < 22.0f)) {
                            inside = true;
                        }
                    }
                    if (!inside) {
                        continue;
                    }
                    coverage += 1.0f;
                    // shading: a sphere-like light from the upper left
                    float nx, ny;
                    if (head < 1.0f) {
                        nx = rx / 66.0f;
                        ny = ry / 86.0f;
                    } else if (shoulders < 1.0f) {
                        nx = sx2;
                        ny = sy2;
                    } else {
                        nx = (px - 128.0f) / 34.0f * 0.8f;
                        ny = -0.2f;
                    }
                    const float nz = std::sqrt(std::max(0.0f, 1.0f - nx * nx - ny * ny));
                    float light = clamp01(-0.55f * nx - 0.45f * ny + 0.7f * nz);
                    // eyes: a visor band across the face
                    const bool visor = head < 1.0f && std::fabs(ry + 8.0f) < 9.0f && std::fabs(rx) < 52.0f;
                    // halftone: dots on a 7-pixel grid whose size follows the shade
                    const float gx = std::fmod(px + py, 7.0f) - 3.5f, gy = std::fmod(px - py + 700.0f, 7.0f) - 3.5f;
                    const float dot = std::hypot(gx, gy) / 4.95f;
                    const bool inkDot = dot < (1.0f - light) * 0.9f;
                    Rgb colour = inkDot ? ink : paper;
                    if (visor) {
                        colour = second ? rgb(0xFFFFFF) : rgb(0xFF4060);
                    }
                    // rim light along the right edge
                    if (nx > 0.8f) {
                        colour = mix(colour, rim, (nx - 0.8f) * 5.0f);
                    }
                    sum = add(sum, colour);
                }
            }
            if (coverage > 0.0f) {
                image.set(x, y, scale(sum, 1.0f / coverage), coverage / (samples * samples));
            } else {
                image.set(x, y, paper, 0.0f);
            }
        }
    }
    return image;
}

// A banner: translucent dark strip with a title and thin lines. strength
// scales the strip's alpha, ink the alpha of the lines and letters.
Image banner(int width, int height, const std::string& left, const std::string& right, Rgb accent, float strength,
             float ink)
{
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        const float t = static_cast<float>(y) / height;
        for (int x = 0; x < width; ++x) {
            const float scan = (y % 3 == 0) ? 0.85f : 1.0f;
            image.set(x, y, scale({0.02f, 0.03f, 0.06f}, scan), strength * (0.55f + 0.3f * (1.0f - t)));
        }
    }
    Mask lines(width, height);
    maskRect(lines, 0, 4, static_cast<float>(width), 6);
    maskRect(lines, 0, static_cast<float>(height - 8), static_cast<float>(width), static_cast<float>(height - 6));
    paintMask(image, lines, accent, ink);
    const int size = height * 40 / 100;
    Mask text(width, height);
    maskText(text, Font::SansBold, size, left, 14, height / 2 + size * 36 / 100);
    const Mask glow = blurMask(dilateMask(text, 1), 4);
    paintMask(image, glow, accent, 0.7f * ink);
    paintMask(image, text, {1, 1, 1}, ink);
    Mask small(width, height);
    const int smallSize = height * 20 / 100;
    maskText(small, Font::Mono, smallSize, right, width - 14 - textWidth(Font::Mono, smallSize, right),
             height / 2 + smallSize * 36 / 100);
    paintMask(image, small, mix(accent, {1, 1, 1}, 0.5f), ink);
    return image;
}

// Credits captions: a role and a team name, white with a coloured glow.
Image creditCaption(const std::string& role, const std::string& who, Rgb accent)
{
    Image image(256, 128);
    image.fill(accent, 0.0f);
    Mask text(256, 128);
    maskText(text, Font::SansBold, 40, role, 12, 56);
    maskText(text, Font::Sans, 17, who, 14, 88);
    Mask line(256, 128);
    maskRect(line, 12, 100, 200, 102);
    paintMask(image, blurMask(dilateMask(text, 2), 5), accent, 0.8f);
    paintMask(image, line, accent, 0.9f);
    paintMask(image, text, {1, 1, 1}, 1.0f);
    return image;
}

// The small caption strips of the city clips.
Image captionStrip(const std::string& text, Rgb colour, bool arrowRight)
{
    Image image(256, 16);
    image.fill(colour, 0.0f);
    Mask back(256, 16);
    maskRect(back, 20, 1, 236, 15, 0.55f);
    paintMask(image, back, {0.0f, 0.0f, 0.0f}, 1.0f);
    Mask mask(256, 16);
    maskText(mask, Font::MonoBold, 11, text, 40, 12);
    const float ax = arrowRight ? 214.0f : 26.0f, dir = arrowRight ? 1.0f : -1.0f;
    const float arrow[] = {ax - 5 * dir, 3, ax + 5 * dir, 8, ax - 5 * dir, 13};
    maskPolygon(mask, arrow, 3);
    paintMask(image, mask, colour, 1.0f);
    return image;
}

// The rising arrow: a bold upward arrow with a soft edge glow.
Image arrowPicture()
{
    Image image(256, 256);
    image.fill({1, 1, 1}, 0.0f);
    Mask shape(256, 256);
    const float arrow[] = {128, 16, 230, 128, 168, 128, 168, 240, 88, 240, 88, 128, 26, 128};
    maskPolygon(shape, arrow, 7);
    paintMask(image, blurMask(shape, 6), {0.7f, 0.9f, 1.0f}, 0.5f);
    paintMaskWith(image, shape, 1.0f,
                  [](int, int y) { return mix(Rgb{1, 1, 1}, Rgb{0.6f, 0.85f, 1.0f}, y / 256.0f); });
    return image;
}

// Sliding lines: thin horizontal lines of varying weight on transparent.
Image linePicture()
{
    Image image(512, 512);
    image.fill({1, 1, 1}, 0.0f);
    Rng rng{0x51ED2701u};
    Mask lines(512, 512);
    float y = 6.0f;
    while (y < 506.0f) {
        const float thickness = rng.range(1.0f, 6.0f);
        maskRect(lines, 0, y, 512, y + thickness, rng.range(0.5f, 1.0f));
        y += thickness + rng.range(8.0f, 48.0f);
    }
    paintMask(image, blurMask(lines, 2), {0.8f, 0.9f, 1.0f}, 0.6f);
    paintMask(image, lines, {1, 1, 1}, 1.0f);
    return image;
}

// Honeycomb overlay: amber hexagon edges, faint cells.
Image hivePicture()
{
    Image image(512, 512);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            // distance to the nearest hexagon edge on a grid of radius 32
            const float size = 32.0f;
            const float qx = x / (size * 1.7320508f), qy = y / (size * 1.5f);
            float best = 1e9f, second = 1e9f;
            const int row0 = static_cast<int>(std::floor(qy));
            for (int row = row0 - 1; row <= row0 + 1; ++row) {
                const float offset = (row & 1) ? 0.5f : 0.0f;
                const int col0 = static_cast<int>(std::floor(qx - offset));
                for (int col = col0 - 1; col <= col0 + 1; ++col) {
                    const float cx = (col + offset) * size * 1.7320508f, cy = row * size * 1.5f;
                    const float d = std::hypot(x - cx, y - cy);
                    if (d < best) {
                        second = best;
                        best = d;
                    } else if (d < second) {
                        second = d;
                    }
                }
            }
            const float edge = (second - best) * 0.5f; // distance to the cell border
            const float line = smoothstep(3.0f, 1.0f, edge);
            const float fill = 0.12f * smoothstep(30.0f, 8.0f, edge);
            const float pulse = 0.5f + 0.5f * std::sin(x * 0.013f + y * 0.021f);
            // a translucent overlay: at most about half covering
            image.set(x, y, mix(rgb(0xFFB030), rgb(0xFFF0B0), line),
                      0.55f * clamp01(line * (0.6f + 0.4f * pulse) + fill));
        }
    }
    return image;
}

// Full-screen overlay of the wave scene: clear centre, dark vignette, corner
// brackets, a thin frame and small labels.
Image framePicture()
{
    Image image(512, 512);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            const float dx = (x - 256.0f) / 256.0f, dy = (y - 256.0f) / 256.0f;
            const float vignette = smoothstep(0.75f, 1.45f, std::sqrt(dx * dx + dy * dy));
            const float scan = (y % 4 == 0) ? 0.12f : 0.0f;
            image.set(x, y, {0.0f, 0.02f, 0.04f}, clamp01(vignette * 0.85f + scan));
        }
    }
    Mask marks(512, 512);
    const float corners[4][2] = {{24, 24}, {488, 24}, {24, 488}, {488, 488}};
    for (const auto& c : corners) {
        const float sx = c[0] < 256 ? 1.0f : -1.0f, sy = c[1] < 256 ? 1.0f : -1.0f;
        maskRect(marks, std::min(c[0], c[0] + sx * 60), std::min(c[1], c[1] + sy * 4), std::max(c[0], c[0] + sx * 60),
                 std::max(c[1], c[1] + sy * 4));
        maskRect(marks, std::min(c[0], c[0] + sx * 4), std::min(c[1], c[1] + sy * 60), std::max(c[0], c[0] + sx * 4),
                 std::max(c[1], c[1] + sy * 60));
    }
    maskRect(marks, 250, 246, 262, 248);
    maskRect(marks, 255, 241, 257, 253);
    maskText(marks, Font::MonoBold, 16, "wave/whirl 03", 40, 60);
    maskText(marks, Font::Mono, 13, "gfxcore signal", 372, 470);
    for (int i = 0; i < 12; ++i) {
        maskRect(marks, 40.0f + i * 8.0f, 470, 44.0f + i * 8.0f, 470.0f - 4.0f - (i * 7 % 13), 1.0f);
    }
    paintMask(image, blurMask(marks, 3), {0.3f, 1.0f, 0.8f}, 0.6f);
    paintMask(image, marks, {0.85f, 1.0f, 0.95f}, 1.0f);
    return image;
}

// The bar picture of the knot scene, blended with inverted alpha: alpha 1 is
// where the frame shows through. Letterbox bars and a side bar, scanlines in
// the open window.
Image barPicture()
{
    Image image(512, 512);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            const bool topBar = y < 64, bottomBar = y >= 448, sideBar = x < 72;
            Rgb colour = {0.02f, 0.02f, 0.03f};
            float seeThrough = (y % 3 == 0) ? 0.7f : 1.0f;
            if (topBar || bottomBar) {
                const float t = topBar ? y / 64.0f : (511 - y) / 64.0f;
                colour = mix({0.0f, 0.0f, 0.0f}, {0.12f, 0.1f, 0.18f}, t);
                seeThrough = 0.0f;
            } else if (sideBar) {
                colour = {0.05f, 0.02f, 0.08f};
                seeThrough = 0.35f + 0.3f * (x / 72.0f);
            }
            image.set(x, y, colour, seeThrough);
        }
    }
    // edge lines and a vertical label in the side bar (opaque, alpha 0)
    Mask marks(512, 512);
    maskRect(marks, 0, 62, 512, 64);
    maskRect(marks, 0, 448, 512, 450);
    maskRect(marks, 70, 64, 72, 448);
    maskText(marks, Font::MonoBold, 22, "KNOT//CLIP", 100, 42);
    maskText(marks, Font::Mono, 18, "gfxcore 06", 330, 486);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            const float m = marks.get(x, y);
            if (m > 0.0f) {
                float* p = image.at(x, y);
                p[0] = p[0] + (0.85f - p[0]) * m;
                p[1] = p[1] + (0.6f - p[1]) * m;
                p[2] = p[2] + (1.0f - p[2]) * m;
                p[3] = p[3] * (1.0f - m);
            }
        }
    }
    return image;
}

// A five-pointed star with a glow.
Image starPicture()
{
    Image image(128, 128);
    image.fill({1.0f, 0.9f, 0.5f}, 0.0f);
    float points[20];
    for (int i = 0; i < 10; ++i) {
        const float angle = -PI / 2.0f + i * PI / 5.0f;
        const float radius = (i % 2 == 0) ? 58.0f : 24.0f;
        points[2 * i] = 64.0f + radius * std::cos(angle);
        points[2 * i + 1] = 66.0f + radius * std::sin(angle);
    }
    Mask star(128, 128);
    maskPolygon(star, points, 10);
    paintMask(image, blurMask(star, 5), {1.0f, 0.75f, 0.3f}, 0.8f);
    paintMaskWith(image, star, 1.0f, [](int x, int y) {
        return mix(Rgb{1.0f, 1.0f, 0.85f}, Rgb{1.0f, 0.7f, 0.2f}, clamp01(std::hypot(x - 64.0f, y - 66.0f) / 58.0f));
    });
    return image;
}

// Progress picture: a dark panel whose windows (alpha 1) are the letters of
// the title and a slot underneath; the white loading bar shows through them.
Image progressPicture()
{
    constexpr int width = 512, height = 256;
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float n = fbm(x * 0.02f, y * 0.02f, 4, 77);
            const float t = static_cast<float>(y) / height;
            Rgb panel = mix(rgb(0x1B2233), rgb(0x07090F), t);
            panel = scale(panel, 0.8f + 0.4f * n);
            image.set(x, y, panel, 0.0f);
        }
    }
    // the windows stay left of x = 409, the bar's full width
    Mask windows(width, height);
    int size = 120;
    while (size > 40 && textWidth(Font::SansBold, size, "gfxcore") > 380) {
        size -= 2;
    }
    maskText(windows, Font::SansBold, size, "gfxcore", 16, 150);
    maskRect(windows, 16, 184, 409, 196);
    // a bevel around each window: light above, shadow below
    const Mask halo = blurMask(dilateMask(windows, 3), 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float* p = image.at(x, y);
            const float lift = halo.get(x, y + 2) - halo.get(x, y - 2);
            p[0] = clamp01(p[0] + lift * 0.35f + halo.get(x, y) * 0.1f);
            p[1] = clamp01(p[1] + lift * 0.4f + halo.get(x, y) * 0.15f);
            p[2] = clamp01(p[2] + lift * 0.5f + halo.get(x, y) * 0.25f);
            p[3] = windows.get(x, y);
        }
    }
    Mask label(width, height);
    maskText(label, Font::Mono, 15, "loading and precalculating", 18, 222);
    maskRect(label, 0, 0, width, 3);
    maskRect(label, 0, height - 3, width, height);
    // a ring on the right, beyond the bar's reach
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float d = std::hypot(x - 462.0f, y - 118.0f);
            if (std::fabs(d - 30.0f) < 2.0f) {
                label.ref(x, y) = 1.0f;
            }
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float m = label.get(x, y);
            if (m > 0.0f) {
                float* p = image.at(x, y);
                p[0] += (0.55f - p[0]) * m;
                p[1] += (0.7f - p[1]) * m;
                p[2] += (0.95f - p[2]) * m;
            }
        }
    }
    return image;
}

// The wide beat pictures: drawn at 512 x 512 and stretched ten times in width,
// because the show squeezes them onto a 512 x 512 quad.
Image beatPicture(int index)
{
    Image square(512, 512);
    static const char* const words[] = {"CUBES", "ON THE BEAT", "26 x 26", "ORANGE", "gfxcore"};
    static const Rgb colours[] = {rgb(0x40C0FF), rgb(0xFF4080), rgb(0x80FF60), rgb(0xFF9030), rgb(0xC080FF)};
    const Rgb colour = colours[index];
    square.fill(colour, 0.0f);
    Mask shapes(512, 512);
    switch (index) {
    case 0: // concentric squares
        for (int i = 0; i < 6; ++i) {
            const float r = 40.0f + i * 36.0f;
            maskRect(shapes, 256 - r, 256 - r, 256 + r, 256 - r + 6);
            maskRect(shapes, 256 - r, 256 + r - 6, 256 + r, 256 + r);
            maskRect(shapes, 256 - r, 256 - r, 256 - r + 6, 256 + r);
            maskRect(shapes, 256 + r - 6, 256 - r, 256 + r, 256 + r);
        }
        break;
    case 1: // a beat meter
        for (int i = 0; i < 16; ++i) {
            const float h = 40.0f + 200.0f * std::fabs(std::sin(i * 0.9f));
            maskRect(shapes, 24.0f + i * 30.0f, 470.0f - h, 44.0f + i * 30.0f, 470.0f, 0.8f);
        }
        break;
    case 2: // a grid of dots
        for (int y = 0; y < 13; ++y) {
            for (int x = 0; x < 13; ++x) {
                maskCircle(shapes, 40.0f + x * 36.0f, 40.0f + y * 36.0f, 5.0f + 4.0f * ((x + y) % 3), 0.7f);
            }
        }
        break;
    case 3: // diagonal stripes
        for (int y = 0; y < 512; ++y) {
            for (int x = 0; x < 512; ++x) {
                if (((x + y) / 32) % 2 == 0 && (x + y) % 32 < 10) {
                    shapes.ref(x, y) = 0.6f;
                }
            }
        }
        break;
    default: // circles
        for (int i = 0; i < 5; ++i) {
            for (int y = 0; y < 512; ++y) {
                for (int x = 0; x < 512; ++x) {
                    const float d = std::hypot(x - 256.0f, y - 256.0f);
                    if (std::fabs(d - (50.0f + i * 45.0f)) < 3.0f) {
                        shapes.ref(x, y) = 0.8f;
                    }
                }
            }
        }
        break;
    }
    paintMask(square, shapes, colour, 0.75f);
    Mask text(512, 512);
    int size = 110;
    while (size > 30 && textWidth(Font::SansBold, size, words[index]) > 480) {
        size -= 4;
    }
    maskTextCentred(text, Font::SansBold, size, words[index], 256, 256 + size * 36 / 100);
    paintMask(square, blurMask(dilateMask(text, 2), 6), colour, 0.8f);
    paintMask(square, text, {1, 1, 1}, 1.0f);
    // stretch: linear between columns keeps the edges soft when squeezed back
    Image wide(5152, 512);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 5152; ++x) {
            const float sx = (x + 0.5f) * 512.0f / 5152.0f - 0.5f;
            const int x0 = std::clamp(static_cast<int>(std::floor(sx)), 0, 511);
            const int x1 = std::min(511, x0 + 1);
            const float t = clamp01(sx - x0);
            const float* a = square.at(x0, y);
            const float* b = square.at(x1, y);
            float* out = wide.at(x, y);
            for (int c = 0; c < 4; ++c) {
                out[c] = a[c] + (b[c] - a[c]) * t;
            }
        }
    }
    return wide;
}

bool writeAlphaPictures(const std::string& folder, std::string& error)
{
    if (!writeTga(pathOf(folder, "houjebek.tga"), progressPicture(), error) ||
        !writePng(pathOf(folder, "hive.png"), hivePicture(), true, error) ||
        !writeTga(pathOf(folder, "brisko.tga"), portrait(false), error) ||
        !writeTga(pathOf(folder, "brisko2.tga"), portrait(true), error) ||
        !writeTga(pathOf(folder, "allez.tga"), bigCaption("allez!", rgb(0xFFFFFF), rgb(0xFFD040)), error) ||
        !writeTga(pathOf(folder, "zutalors.tga"), bigCaption("zut alors", rgb(0xFFFFFF), rgb(0x40D0FF)), error) ||
        !writeTga(pathOf(folder, "bonsang.tga"), bigCaption("bon sang", rgb(0xFFFFFF), rgb(0xFF5080)), error) ||
        !writeTga(pathOf(folder, "pipe.tga"), bigCaption("pipe", rgb(0xFFFFFF), rgb(0x80FF70)), error) ||
        !writeTga(pathOf(folder, "rvb.tga"), bigCaption("r v b", rgb(0xFF4040), rgb(0x4060FF)), error) ||
        // Faint overlays: the banner lightens what it covers by at most 50
        // grey levels, the arrow (added to the frame) by at most 25.
        !writePng(pathOf(folder, "overlay-zoveel.png"),
                  faint(banner(512, 128, "gfxcore", "model echoes 02", rgb(0xFF60A0), 1.0f, 1.0f), 50), true, error) ||
        !writeTga(pathOf(folder, "merde.tga"), framePicture(), error) ||
        !writePng(pathOf(folder, "pijl-1.png"), faint(arrowPicture(), 25), true, error) ||
        !writePng(pathOf(folder, "line.png"), linePicture(), true, error) ||
        !writeTga(pathOf(folder, "balk.tga"), barPicture(), error) ||
        !writeTga(pathOf(folder, "star03.tga"), starPicture(), error) ||
        !writeTga(pathOf(folder, "ov2.tga"), banner(512, 128, "gfxcore", "the credits", rgb(0x60C0FF), 0.9f, 1.0f), error) ||
        !writeTga(pathOf(folder, "code.tga"), creditCaption("code", "the gfxcore engine room", rgb(0x40A0FF)), error) ||
        !writeTga(pathOf(folder, "gfx.tga"), creditCaption("graphics", "the gfxcore pixel shop", rgb(0xFF50B0)),
                  error) ||
        !writeTga(pathOf(folder, "pralt.tga"), creditCaption("music", "the gfxcore sound lab", rgb(0x60FF90)), error)) {
        return false;
    }
    static const char* const strips[6][2] = {
        {"levend10.png", "SECTOR 01  FORWARD"}, {"levend11.png", "SECTOR 01  REWIND"},
        {"levend20.png", "SECTOR 02  FORWARD"}, {"levend21.png", "SECTOR 02  REWIND"},
        {"levend30.png", "SECTOR 03  FORWARD"}, {"levend31.png", "SECTOR 03  REWIND"},
    };
    static const Rgb stripColours[3] = {rgb(0x60E0FF), rgb(0xFFC040), rgb(0xFF6090)};
    for (int i = 0; i < 6; ++i) {
        if (!writePng(pathOf(folder, strips[i][0]), captionStrip(strips[i][1], stripColours[i / 2], i % 2 == 0), true,
                      error)) {
            return false;
        }
    }
    static const char* const beats[5] = {"onzin1.png", "onzin2.png", "onzin3.png", "onzin4.png", "onzin5.png"};
    for (int i = 0; i < 5; ++i) {
        if (!writePng(pathOf(folder, beats[i]), beatPicture(i), true, error)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool generatePictures(const std::string& folder, std::string& error)
{
    if (!textAvailable(error)) {
        return false;
    }
    return writePhotographs(folder, error) && writeEnvironmentMaps(folder, error) && writeWireTexture(folder, error) &&
           writeTextOnBlack(folder, error) && writeSprite(folder, error) && writeAlphaPictures(folder, error);
}
