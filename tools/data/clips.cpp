// Data set: the video clips. A small software rasterizer renders each frame
// (flights over a procedural city, turning torus knots, a moving pattern),
// libjpeg compresses it and our own RIFF writer stores the frames as Motion
// JPEG in an AVI file: one video stream, every frame a key frame, an index.
// The bytes depend only on the code, so every run writes the same files.
// Depends on dataset.h, image.h, painters.h, libjpeg (through image.h).
#include "tools/data/dataset.h"
#include "tools/data/image.h"
#include "tools/data/painters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace {

constexpr float PI = 3.14159265f;

struct V3 {
    float x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, float k) { return {a.x * k, a.y * k, a.z * k}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 unit(V3 a)
{
    const float l = std::sqrt(dot(a, a));
    return l > 0.0f ? a * (1.0f / l) : a;
}

// ------------------------------------------------------------ rasterizer

struct View {
    V3 eye, right, up, forward;
    float focal; // pixels per unit at distance 1
    int width, height;
    float nearPlane;
};

View makeView(V3 eye, V3 target, float roll, float fovY, int width, int height)
{
    View view;
    view.eye = eye;
    view.forward = unit(target - eye);
    V3 worldUp{std::sin(roll), std::cos(roll), 0.0f};
    view.right = unit(cross(worldUp, view.forward));
    view.up = cross(view.forward, view.right);
    view.focal = 0.5f * height / std::tan(fovY * 0.5f);
    view.width = width;
    view.height = height;
    view.nearPlane = 0.05f;
    return view;
}

V3 rayDirection(const View& view, float px, float py)
{
    const float x = (px - view.width * 0.5f) / view.focal;
    const float y = (view.height * 0.5f - py) / view.focal;
    return unit(view.forward + view.right * x + view.up * y);
}

struct Vertex {
    V3 position; // world
    V3 normal;
};

struct Raster {
    int width, height;
    std::vector<float> depth; // view-space z, smaller is nearer
    Image colour;
};

Raster makeRaster(int width, int height)
{
    return {width, height, std::vector<float>(static_cast<std::size_t>(width) * height, 1e30f), Image(width, height)};
}

using Shader = std::function<Rgb(V3 position, V3 normal, int material, float distance)>;

struct CamVertex {
    V3 c; // camera space: x right, y up, z forward
    Vertex v;
};

CamVertex toCamera(const View& view, const Vertex& v)
{
    const V3 d = v.position - view.eye;
    return {{dot(d, view.right), dot(d, view.up), dot(d, view.forward)}, v};
}

CamVertex lerpVertex(const CamVertex& a, const CamVertex& b, float t)
{
    return {a.c + (b.c - a.c) * t,
            {a.v.position + (b.v.position - a.v.position) * t, a.v.normal + (b.v.normal - a.v.normal) * t}};
}

void rasterTriangle(Raster& raster, const View& view, const CamVertex* tri, int material, const Shader& shade)
{
    float sx[3], sy[3], invZ[3];
    for (int i = 0; i < 3; ++i) {
        invZ[i] = 1.0f / tri[i].c.z;
        sx[i] = view.width * 0.5f + tri[i].c.x * view.focal * invZ[i];
        sy[i] = view.height * 0.5f - tri[i].c.y * view.focal * invZ[i];
    }
    const float area = (sx[1] - sx[0]) * (sy[2] - sy[0]) - (sx[2] - sx[0]) * (sy[1] - sy[0]);
    if (std::fabs(area) < 1e-8f) {
        return;
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min({sx[0], sx[1], sx[2]}))));
    const int x1 = std::min(raster.width - 1, static_cast<int>(std::ceil(std::max({sx[0], sx[1], sx[2]}))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min({sy[0], sy[1], sy[2]}))));
    const int y1 = std::min(raster.height - 1, static_cast<int>(std::ceil(std::max({sy[0], sy[1], sy[2]}))));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            float w[3];
            w[0] = ((sx[1] - px) * (sy[2] - py) - (sx[2] - px) * (sy[1] - py)) / area;
            w[1] = ((sx[2] - px) * (sy[0] - py) - (sx[0] - px) * (sy[2] - py)) / area;
            w[2] = 1.0f - w[0] - w[1];
            if (w[0] < 0.0f || w[1] < 0.0f || w[2] < 0.0f) {
                continue;
            }
            const float iz = w[0] * invZ[0] + w[1] * invZ[1] + w[2] * invZ[2];
            const float z = 1.0f / iz;
            float& depth = raster.depth[static_cast<std::size_t>(y) * raster.width + x];
            if (z >= depth) {
                continue;
            }
            depth = z;
            // perspective-correct weights
            const float p0 = w[0] * invZ[0] * z, p1 = w[1] * invZ[1] * z, p2 = w[2] * invZ[2] * z;
            const V3 position = tri[0].v.position * p0 + tri[1].v.position * p1 + tri[2].v.position * p2;
            const V3 normal = unit(tri[0].v.normal * p0 + tri[1].v.normal * p1 + tri[2].v.normal * p2);
            raster.colour.set(x, y, shade(position, normal, material, z), 1.0f);
        }
    }
}

// Clips against the near plane, then rasterizes (no back-face culling).
void drawTriangle(Raster& raster, const View& view, const Vertex& a, const Vertex& b, const Vertex& c, int material,
                  const Shader& shade)
{
    CamVertex in[3] = {toCamera(view, a), toCamera(view, b), toCamera(view, c)};
    CamVertex out[4];
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        const CamVertex& p = in[i];
        const CamVertex& q = in[(i + 1) % 3];
        const bool pIn = p.c.z >= view.nearPlane, qIn = q.c.z >= view.nearPlane;
        if (pIn) {
            out[count++] = p;
        }
        if (pIn != qIn) {
            out[count++] = lerpVertex(p, q, (view.nearPlane - p.c.z) / (q.c.z - p.c.z));
        }
    }
    if (count >= 3) {
        rasterTriangle(raster, view, out, material, shade);
    }
    if (count == 4) {
        const CamVertex second[3] = {out[0], out[2], out[3]};
        rasterTriangle(raster, view, second, material, shade);
    }
}

void drawQuad(Raster& raster, const View& view, V3 a, V3 b, V3 c, V3 d, V3 normal, int material, const Shader& shade)
{
    const Vertex va{a, normal}, vb{b, normal}, vc{c, normal}, vd{d, normal};
    drawTriangle(raster, view, va, vb, vc, material, shade);
    drawTriangle(raster, view, va, vc, vd, material, shade);
}

// Background for every pixel the geometry did not cover.
template <typename Background>
void fillBackground(Raster& raster, const View& view, Background background)
{
    for (int y = 0; y < raster.height; ++y) {
        for (int x = 0; x < raster.width; ++x) {
            if (raster.depth[static_cast<std::size_t>(y) * raster.width + x] >= 1e29f) {
                raster.colour.set(x, y, background(rayDirection(view, x + 0.5f, y + 0.5f)), 1.0f);
            }
        }
    }
}

// ------------------------------------------------------------ the city

struct CityLook {
    Rgb skyTop, skyHorizon, fog, facade, lit, litCool, street;
    float fogDistance;
    std::uint32_t seed;
};

constexpr float CELL = 1.0f;
constexpr float STREET = 0.28f;

float buildingHeight(int cx, int cz, std::uint32_t seed)
{
    const float h = hash01(cx, cz, seed);
    const float district = valueNoise(cx * 0.15f, cz * 0.15f, seed + 1); // taller towards the centre of districts
    return 0.3f + h * h * (1.0f + 3.5f * district) + (h > 0.93f ? 2.0f : 0.0f);
}

void renderCity(Raster& raster, const View& view, const CityLook& look, int cellX0, int cellX1, int cellZ0, int cellZ1)
{
    const Shader shade = [&](V3 p, V3 n, int material, float distance) {
        Rgb c;
        if (material == 0) { // street level
            const float fx = p.x / CELL - std::floor(p.x / CELL), fz = p.z / CELL - std::floor(p.z / CELL);
            const bool street = fx > 1.0f - STREET || fz > 1.0f - STREET;
            c = street ? look.street : scale(look.facade, 0.5f);
            const float lane = std::min(std::fabs(fx - (1.0f - STREET * 0.5f)), std::fabs(fz - (1.0f - STREET * 0.5f)));
            if (street && lane < 0.012f) {
                c = add(c, scale(look.lit, 0.8f));
            }
        } else if (material == 1) { // roofs
            c = scale(look.facade, 0.7f + 0.2f * hash01(static_cast<int>(p.x * 8), static_cast<int>(p.z * 8), 5));
        } else { // facades with windows
            const float along = std::fabs(n.x) > 0.5f ? p.z : p.x;
            const float wx = along * 9.0f, wy = p.y * 11.0f;
            const float fx = wx - std::floor(wx), fy = wy - std::floor(wy);
            const float shadeSide = 0.6f + 0.4f * std::fabs(n.x);
            c = scale(look.facade, shadeSide);
            if (fx > 0.25f && fx < 0.8f && fy > 0.3f && fy < 0.8f) {
                const float on = hash01(static_cast<int>(std::floor(wx)), static_cast<int>(std::floor(wy)) + material * 7,
                                        look.seed + 9);
                if (on > 0.5f) {
                    c = on > 0.85f ? look.litCool : look.lit;
                } else {
                    c = scale(c, 0.6f);
                }
            }
        }
        const float fog = clamp01(distance / look.fogDistance);
        return mix(c, look.fog, fog * fog);
    };
    // ground tiles
    for (int cz = cellZ0; cz < cellZ1; ++cz) {
        for (int cx = cellX0; cx < cellX1; ++cx) {
            const float x0 = cx * CELL, z0 = cz * CELL, x1 = x0 + CELL, z1 = z0 + CELL;
            drawQuad(raster, view, {x0, 0, z0}, {x0, 0, z1}, {x1, 0, z1}, {x1, 0, z0}, {0, 1, 0}, 0, shade);
        }
    }
    for (int cz = cellZ0; cz < cellZ1; ++cz) {
        for (int cx = cellX0; cx < cellX1; ++cx) {
            const float h = buildingHeight(cx, cz, look.seed);
            const float x0 = cx * CELL, z0 = cz * CELL, x1 = x0 + CELL - STREET, z1 = z0 + CELL - STREET;
            const int facade = 2 + ((cx * 7 + cz * 13) & 7);
            drawQuad(raster, view, {x0, h, z0}, {x0, h, z1}, {x1, h, z1}, {x1, h, z0}, {0, 1, 0}, 1, shade);
            drawQuad(raster, view, {x0, 0, z0}, {x0, h, z0}, {x1, h, z0}, {x1, 0, z0}, {0, 0, -1}, facade, shade);
            drawQuad(raster, view, {x0, 0, z1}, {x0, h, z1}, {x1, h, z1}, {x1, 0, z1}, {0, 0, 1}, facade, shade);
            drawQuad(raster, view, {x0, 0, z0}, {x0, h, z0}, {x0, h, z1}, {x0, 0, z1}, {-1, 0, 0}, facade, shade);
            drawQuad(raster, view, {x1, 0, z0}, {x1, h, z0}, {x1, h, z1}, {x1, 0, z1}, {1, 0, 0}, facade, shade);
        }
    }
    fillBackground(raster, view, [&](V3 d) {
        const float t = clamp01(d.y * 2.5f);
        Rgb sky = mix(look.skyHorizon, look.skyTop, std::sqrt(t));
        const float star = starsAt(d.x * 400.0f / (d.z + 1.5f), d.y * 400.0f, 0.01f, look.seed + 3);
        sky = add(sky, scale({1, 1, 1}, star * t * 0.8f));
        return Rgb{clamp01(sky.r), clamp01(sky.g), clamp01(sky.b)};
    });
}

// ------------------------------------------------------------ knots

struct KnotMesh {
    std::vector<Vertex> vertices;
    std::vector<std::array<int, 3>> faces;
};

KnotMesh buildKnot(int p, int q, float tube)
{
    constexpr int along = 200, around = 14;
    auto curve = [&](float t) {
        const float r = 1.0f + 0.42f * std::cos(q * t);
        return V3{r * std::cos(p * t), r * std::sin(p * t), -0.42f * std::sin(q * t)};
    };
    KnotMesh mesh;
    for (int i = 0; i < along; ++i) {
        const float t = 2.0f * PI * i / along;
        const V3 c = curve(t);
        const V3 tangent = unit(curve(t + 0.001f) - curve(t - 0.001f));
        const V3 second = curve(t + 0.001f) + curve(t - 0.001f) - c * 2.0f;
        const V3 binormal = unit(cross(tangent, second));
        const V3 normal = cross(binormal, tangent);
        for (int j = 0; j < around; ++j) {
            const float a = 2.0f * PI * j / around;
            const V3 n = normal * std::cos(a) + binormal * std::sin(a);
            mesh.vertices.push_back({c + n * tube, n});
        }
    }
    for (int i = 0; i < along; ++i) {
        for (int j = 0; j < around; ++j) {
            const int a = i * around + j, b = ((i + 1) % along) * around + j;
            const int c = ((i + 1) % along) * around + (j + 1) % around, d = i * around + (j + 1) % around;
            mesh.faces.push_back({a, b, c});
            mesh.faces.push_back({a, c, d});
        }
    }
    return mesh;
}

V3 rotateXYZ(V3 v, float ax, float ay, float az)
{
    V3 r = {v.x, v.y * std::cos(ax) - v.z * std::sin(ax), v.y * std::sin(ax) + v.z * std::cos(ax)};
    r = {r.x * std::cos(ay) + r.z * std::sin(ay), r.y, -r.x * std::sin(ay) + r.z * std::cos(ay)};
    return {r.x * std::cos(az) - r.y * std::sin(az), r.x * std::sin(az) + r.y * std::cos(az), r.z};
}

struct KnotLook {
    int p, q;
    float tube;
    Environment environment;
    Rgb tint, backTop, backBottom;
};

void renderKnot(Raster& raster, const View& view, const KnotMesh& mesh, const KnotLook& look, float phase)
{
    std::vector<Vertex> turned(mesh.vertices.size());
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        turned[i] = {rotateXYZ(mesh.vertices[i].position, phase * 0.7f, phase, phase * 0.35f),
                     rotateXYZ(mesh.vertices[i].normal, phase * 0.7f, phase, phase * 0.35f)};
    }
    const Shader shade = [&](V3 p, V3 n, int, float) {
        const V3 in = unit(p - view.eye);
        const V3 r = in - n * (2.0f * dot(in, n));
        const Rgb env = environmentAt(r.x, r.y, r.z, look.environment);
        const float diffuse = std::max(0.0f, dot(n, unit(V3{-0.4f, 0.7f, -0.6f})));
        const float fresnel = std::pow(1.0f - std::fabs(dot(in, n)), 3.0f);
        Rgb c = mix(scale(look.tint, 0.15f + 0.6f * diffuse), env, 0.55f + 0.4f * fresnel);
        c = {c.r * (0.6f + 0.4f * look.tint.r), c.g * (0.6f + 0.4f * look.tint.g), c.b * (0.6f + 0.4f * look.tint.b)};
        return Rgb{clamp01(c.r), clamp01(c.g), clamp01(c.b)};
    };
    for (const auto& f : mesh.faces) {
        drawTriangle(raster, view, turned[f[0]], turned[f[1]], turned[f[2]], 0, shade);
    }
    fillBackground(raster, view, [&](V3 d) {
        const float t = clamp01(0.5f + d.y * 1.5f);
        Rgb c = mix(look.backBottom, look.backTop, t);
        const float grid = std::fabs(std::sin(d.x * 40.0f + phase)) < 0.05f || std::fabs(std::sin(d.y * 40.0f)) < 0.05f
                               ? 0.06f
                               : 0.0f;
        return add(c, {grid, grid, grid});
    });
}

// ------------------------------------------------------------ AVI writer

struct RiffWriter {
    std::vector<std::uint8_t> bytes;

    void u16(std::uint16_t v)
    {
        bytes.push_back(static_cast<std::uint8_t>(v & 255));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v)
    {
        u16(static_cast<std::uint16_t>(v & 0xFFFF));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void fourcc(const char* code) { bytes.insert(bytes.end(), code, code + 4); }
    // Starts a chunk or list; returns the position of its size field.
    std::size_t begin(const char* code)
    {
        fourcc(code);
        const std::size_t at = bytes.size();
        u32(0);
        return at;
    }
    void end(std::size_t sizeAt)
    {
        const std::uint32_t size = static_cast<std::uint32_t>(bytes.size() - sizeAt - 4);
        for (int i = 0; i < 4; ++i) {
            bytes[sizeAt + i] = static_cast<std::uint8_t>(size >> (8 * i));
        }
        if (bytes.size() & 1) {
            bytes.push_back(0);
        }
    }
};

constexpr int FRAMES_PER_SECOND = 25;

std::vector<std::uint8_t> encodeAvi(const std::vector<std::vector<std::uint8_t>>& frames, int width, int height)
{
    std::uint32_t largest = 0;
    for (const auto& frame : frames) {
        largest = std::max(largest, static_cast<std::uint32_t>(frame.size()));
    }
    RiffWriter w;
    const std::size_t riff = w.begin("RIFF");
    w.fourcc("AVI ");
    const std::size_t hdrl = w.begin("LIST");
    w.fourcc("hdrl");
    const std::size_t avih = w.begin("avih");
    w.u32(1000000 / FRAMES_PER_SECOND);
    w.u32(largest * FRAMES_PER_SECOND);
    w.u32(0);
    w.u32(0x10); // has an index
    w.u32(static_cast<std::uint32_t>(frames.size()));
    w.u32(0);
    w.u32(1);
    w.u32(largest);
    w.u32(static_cast<std::uint32_t>(width));
    w.u32(static_cast<std::uint32_t>(height));
    for (int i = 0; i < 4; ++i) {
        w.u32(0);
    }
    w.end(avih);
    const std::size_t strl = w.begin("LIST");
    w.fourcc("strl");
    const std::size_t strh = w.begin("strh");
    w.fourcc("vids");
    w.fourcc("MJPG");
    w.u32(0);
    w.u16(0);
    w.u16(0);
    w.u32(0);
    w.u32(1);
    w.u32(FRAMES_PER_SECOND);
    w.u32(0);
    w.u32(static_cast<std::uint32_t>(frames.size()));
    w.u32(largest);
    w.u32(0xFFFFFFFFu);
    w.u32(0);
    w.u16(0);
    w.u16(0);
    w.u16(static_cast<std::uint16_t>(width));
    w.u16(static_cast<std::uint16_t>(height));
    w.end(strh);
    const std::size_t strf = w.begin("strf");
    w.u32(40);
    w.u32(static_cast<std::uint32_t>(width));
    w.u32(static_cast<std::uint32_t>(height));
    w.u16(1);
    w.u16(24);
    w.fourcc("MJPG");
    w.u32(static_cast<std::uint32_t>(width * height * 3));
    w.u32(0);
    w.u32(0);
    w.u32(0);
    w.u32(0);
    w.end(strf);
    w.end(strl);
    w.end(hdrl);
    const std::size_t movi = w.begin("LIST");
    const std::size_t moviStart = w.bytes.size();
    w.fourcc("movi");
    std::vector<std::uint32_t> offsets;
    for (const auto& frame : frames) {
        offsets.push_back(static_cast<std::uint32_t>(w.bytes.size() - moviStart));
        const std::size_t chunk = w.begin("00dc");
        w.bytes.insert(w.bytes.end(), frame.begin(), frame.end());
        w.end(chunk);
    }
    w.end(movi);
    const std::size_t idx1 = w.begin("idx1");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        w.fourcc("00dc");
        w.u32(0x10); // key frame
        w.u32(offsets[i]);
        w.u32(static_cast<std::uint32_t>(frames[i].size()));
    }
    w.end(idx1);
    w.end(riff);
    return w.bytes;
}

// Renders frames at twice the size and shrinks them (anti-aliasing).
bool writeClip(const std::string& path, const std::function<Image(int frame)>& renderFrame, std::string& error)
{
    std::vector<std::vector<std::uint8_t>> frames;
    for (int i = 0; i < DATA_CLIP_FRAMES; ++i) {
        const Image big = renderFrame(i);
        const Image frame = resizeImage(big, DATA_CLIP_SIZE, DATA_CLIP_SIZE);
        std::vector<std::uint8_t> jpeg;
        if (!encodeJpeg(frame, 85, jpeg, error)) {
            return false;
        }
        frames.push_back(std::move(jpeg));
    }
    return writeBytes(path, encodeAvi(frames, DATA_CLIP_SIZE, DATA_CLIP_SIZE), error);
}

constexpr int RENDER_SIZE = DATA_CLIP_SIZE * 2;

Image cityFrame(int frame, const CityLook& look, int path)
{
    const float t = static_cast<float>(frame) / DATA_CLIP_FRAMES;
    V3 eye, target;
    float roll = 0.0f;
    switch (path) {
    case 0: // straight down an avenue, low
        eye = {10.0f - STREET * 0.5f, 1.6f, 2.0f + t * 6.0f};
        target = eye + V3{0.15f, -0.35f, 1.0f};
        break;
    case 1: // a banking turn over the roofs
        eye = {10.0f + 6.0f * std::sin(t * 1.2f), 5.0f, 4.0f + 6.0f * std::cos(t * 1.2f) * -1.0f + 8.0f * t};
        target = eye + V3{std::cos(t * 1.2f), -0.55f, std::sin(t * 1.2f) + 0.6f};
        roll = 0.25f * std::sin(t * PI);
        break;
    default: // rising up from the street
        eye = {8.0f + t * 2.0f, 0.8f + t * 6.0f, 1.0f + t * 5.0f};
        target = eye + V3{0.3f, -0.2f - 0.5f * t, 1.0f};
        break;
    }
    const View view = makeView(eye, target, roll, 1.1f, RENDER_SIZE, RENDER_SIZE);
    Raster raster = makeRaster(RENDER_SIZE, RENDER_SIZE);
    const int cx = static_cast<int>(std::floor(eye.x)), cz = static_cast<int>(std::floor(eye.z));
    renderCity(raster, view, look, cx - 14, cx + 15, cz - 4, cz + 26);
    return raster.colour;
}

Image knotFrame(int frame, const KnotMesh& mesh, const KnotLook& look)
{
    const float phase = 2.0f * PI * frame / DATA_CLIP_FRAMES / 3.0f;
    const View view = makeView({0.0f, 0.0f, -4.2f}, {0.0f, 0.0f, 0.0f}, 0.0f, 0.9f, RENDER_SIZE, RENDER_SIZE);
    Raster raster = makeRaster(RENDER_SIZE, RENDER_SIZE);
    renderKnot(raster, view, mesh, look, phase);
    return raster.colour;
}

// The credits panel's pattern: the show adds it eight times over itself, so
// it is kept dark with bright lines, leaving room for the captions.
Image patternFrame(int frame)
{
    const float time = 2.0f * PI * frame / DATA_CLIP_FRAMES;
    return renderPicture(RENDER_SIZE, RENDER_SIZE, 1, [&](float x, float y) {
        const float u = x / RENDER_SIZE, v = y / RENDER_SIZE;
        const Rgb plasma = plasmaAt(u, v, 1.0f, time, 7);
        const Rgb rings = ringsAt(u, v, 1.0f, time * 0.5f, 8);
        // a grid of thin tiles on top
        const float tx = std::fabs(std::sin((u - 0.5f) * 8.0f + time)), ty = std::fabs(std::cos((v - 0.5f) * 8.0f));
        const float tile = smoothstep(0.93f, 0.97f, std::max(tx, ty));
        const float vignette = clamp01(1.2f - 1.4f * std::hypot(u - 0.5f, v - 0.5f));
        Rgb c = add(scale(plasma, 0.22f), scale(rings, 0.45f));
        c = add(scale(c, vignette), scale({0.8f, 0.9f, 1.0f}, tile * 0.25f));
        return Rgb{clamp01(c.r), clamp01(c.g), clamp01(c.b)};
    });
}

} // namespace

bool generateClip(const std::string& folder, int index, std::string& error)
{
    const CityLook night{rgb(0x02040C), rgb(0x1C1A3A), rgb(0x1A1830), rgb(0x1A1C26), rgb(0xFFC860), rgb(0xA8DCFF),
                         rgb(0x0A0A10), 22.0f, 301};
    const CityLook dusk{rgb(0x2A3070), rgb(0xF09050), rgb(0xC07060), rgb(0x3A3040), rgb(0xFFE0A0), rgb(0xFFFFFF),
                        rgb(0x201820), 26.0f, 302};
    const CityLook neon{rgb(0x100018), rgb(0x501060), rgb(0x400A50), rgb(0x141020), rgb(0xFF40C0), rgb(0x40FFF0),
                        rgb(0x080010), 18.0f, 303};
    const KnotLook knots[3] = {
        {2, 3, 0.3f, Environment::Cold, rgb(0xC0D8FF), rgb(0x0A1A30), rgb(0x000000)},
        {3, 5, 0.18f, Environment::Gold, rgb(0xFFD070), rgb(0x301808), rgb(0x000000)},
        {2, 5, 0.22f, Environment::Sunset, rgb(0xFF90C0), rgb(0x280A30), rgb(0x000000)},
    };
    switch (index) {
    case 0:
        return writeClip(folder + "/city.avi", [&](int f) { return cityFrame(f, night, 0); }, error);
    case 1:
        return writeClip(folder + "/city2.avi", [&](int f) { return cityFrame(f, dusk, 1); }, error);
    case 2:
        return writeClip(folder + "/city3.avi", [&](int f) { return cityFrame(f, neon, 2); }, error);
    case 3:
    case 4:
    case 5: {
        static const char* const names[3] = {"/knot.avi", "/knot2.avi", "/knot3.avi"};
        const KnotLook& look = knots[index - 3];
        const KnotMesh mesh = buildKnot(look.p, look.q, look.tube);
        return writeClip(folder + names[index - 3], [&](int f) { return knotFrame(f, mesh, look); }, error);
    }
    case 6:
        return writeClip(folder + "/pats.avi", patternFrame, error);
    default:
        error = "no such clip";
        return false;
    }
}

bool generateClips(const std::string& folder, std::string& error)
{
    for (int i = 0; i < DATA_CLIP_COUNT; ++i) {
        if (!generateClip(folder, i, error)) {
            return false;
        }
    }
    return true;
}
