// Picture toolkit of the data-set generator: a floating-point RGBA canvas,
// procedural noise, shapes, text rendered with FreeType and the DejaVu fonts,
// and writers for JPEG (libjpeg), PNG (libpng) and TGA (our own, with alpha).
// Everything is deterministic: no clock, no C library rand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    float r, g, b;
};

inline Rgb rgb(int hex)
{
    return {((hex >> 16) & 255) / 255.0f, ((hex >> 8) & 255) / 255.0f, (hex & 255) / 255.0f};
}
inline Rgb mix(Rgb a, Rgb b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
inline Rgb scale(Rgb a, float k) { return {a.r * k, a.g * k, a.b * k}; }
inline Rgb add(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }

float clamp01(float value);
float smoothstep(float edge0, float edge1, float x);

// A small seeded generator for the generator's own random choices.
struct Rng {
    std::uint32_t state;
    std::uint32_t next();
    float uniform();                      // 0..1
    float range(float low, float high);   // low..high
    int below(int count);                 // 0..count-1
};

// Hash-based noise: hash01 in 0..1 for an integer lattice point; valueNoise
// smooth in 0..1; fbm a sum of octaves, roughly 0..1.
float hash01(int x, int y, std::uint32_t seed);
float valueNoise(float x, float y, std::uint32_t seed);
float fbm(float x, float y, int octaves, std::uint32_t seed);

// RGBA canvas, straight (not premultiplied) alpha, top row first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> pixels; // 4 floats a pixel

    Image() = default;
    Image(int w, int h);
    float* at(int x, int y) { return &pixels[(static_cast<std::size_t>(y) * width + x) * 4]; }
    const float* at(int x, int y) const { return &pixels[(static_cast<std::size_t>(y) * width + x) * 4]; }
    void set(int x, int y, Rgb colour, float alpha = 1.0f);
    void fill(Rgb colour, float alpha = 1.0f);
    // Source-over blend of colour with coverage * alpha at one pixel.
    void blend(int x, int y, Rgb colour, float coverage);
    // Adds colour * amount (clamped at write time).
    void addLight(int x, int y, Rgb colour, float amount);
};

// Coverage mask (0..1), used for text, shapes and glows.
struct Mask {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    Mask() = default;
    Mask(int w, int h) : width(w), height(h), values(static_cast<std::size_t>(w) * h, 0.0f) {}
    float get(int x, int y) const
    {
        return (x < 0 || y < 0 || x >= width || y >= height) ? 0.0f
                                                             : values[static_cast<std::size_t>(y) * width + x];
    }
    float& ref(int x, int y) { return values[static_cast<std::size_t>(y) * width + x]; }
};

// Box blur repeated three times (close to a Gaussian of the given radius).
Mask blurMask(const Mask& mask, int radius);
// max(a, b) pixel by pixel; a grows by radius pixels (dilation by a square).
Mask dilateMask(const Mask& mask, int radius);

// Paints colour through mask onto image (source-over); alpha scales it.
void paintMask(Image& image, const Mask& mask, Rgb colour, float alpha, int offsetX = 0, int offsetY = 0);
// Paints with a per-pixel colour.
template <typename ColourAt>
void paintMaskWith(Image& image, const Mask& mask, float alpha, ColourAt colourAt)
{
    for (int y = 0; y < image.height && y < mask.height; ++y) {
        for (int x = 0; x < image.width && x < mask.width; ++x) {
            const float coverage = mask.get(x, y) * alpha;
            if (coverage > 0.0f) {
                image.blend(x, y, colourAt(x, y), coverage);
            }
        }
    }
}
// Adds colour * mask to the image (a glow on a dark picture).
void addMask(Image& image, const Mask& mask, Rgb colour, float amount);

// Shapes into a mask (anti-aliased by 4x4 supersampling).
void maskCircle(Mask& mask, float cx, float cy, float radius, float value = 1.0f);
void maskPolygon(Mask& mask, const float* xy, int pointCount, float value = 1.0f);
void maskRect(Mask& mask, float left, float top, float right, float bottom, float value = 1.0f);

// Text. Fonts: the DejaVu family of the system.
enum class Font { Sans, SansBold, Mono, MonoBold, Serif, SerifBold };

bool textAvailable(std::string& error);
// Width in pixels of text at pixelSize.
int textWidth(Font font, int pixelSize, const std::string& text);
// Draws text into mask with its baseline at y, starting at x (max of coverage).
void maskText(Mask& mask, Font font, int pixelSize, const std::string& text, int x, int baseline);
// As maskText, centred horizontally on cx.
void maskTextCentred(Mask& mask, Font font, int pixelSize, const std::string& text, int cx, int baseline);

// Resamples an image to another size with a box/tent filter.
Image resizeImage(const Image& source, int width, int height);

// Writers; false (with error) when the file cannot be written.
bool writeJpeg(const std::string& path, const Image& image, int quality, std::string& error);
bool writePng(const std::string& path, const Image& image, bool alpha, std::string& error);
bool writeTga(const std::string& path, const Image& image, std::string& error);

// Encodes an image as a baseline JPEG in memory (for the clips).
bool encodeJpeg(const Image& image, int quality, std::vector<std::uint8_t>& bytes, std::string& error);

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);
