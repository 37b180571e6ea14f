// Data set: the three 3DS models (a torus knot, a cube, a chamfered block).
// Written with the chunk layout the show's loader reads (main, editor, named
// object, triangle mesh, vertex, face and mapping lists) plus chunks it must
// pass over (version, material, local axes, smoothing and material groups,
// key-frame data). Faces wind so that (b - a) x (c - a) points out of the
// solid: clockwise seen from outside in the show's left-handed view.
// Depends on dataset.h, image.h (writeBytes).
#include "tools/data/dataset.h"
#include "tools/data/image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Vec {
    float x, y, z;
};

Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(Vec a, float k) { return {a.x * k, a.y * k, a.z * k}; }
float dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec normalized(Vec a)
{
    const float length = std::sqrt(dot(a, a));
    return length > 0.0f ? a * (1.0f / length) : a;
}

struct Model {
    std::vector<Vec> positions;
    std::vector<std::array<float, 2>> uvs;
    std::vector<std::array<std::uint16_t, 3>> faces;
};

// Adds a triangle wound so that its normal points along outward.
void addFace(Model& model, int a, int b, int c, Vec outward)
{
    const Vec& pa = model.positions[a];
    const Vec normal = cross(model.positions[b] - pa, model.positions[c] - pa);
    if (dot(normal, outward) < 0.0f) {
        std::swap(b, c);
    }
    model.faces.push_back({static_cast<std::uint16_t>(a), static_cast<std::uint16_t>(b), static_cast<std::uint16_t>(c)});
}

// ------------------------------------------------------------ chunk writer

struct Chunk {
    std::vector<std::uint8_t> bytes;

    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint16_t v)
    {
        u8(static_cast<std::uint8_t>(v & 255));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v)
    {
        u16(static_cast<std::uint16_t>(v & 0xFFFF));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void f32(float v)
    {
        std::uint32_t bits;
        static_assert(sizeof bits == sizeof v);
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void text(const char* s)
    {
        for (; *s != 0; ++s) {
            u8(static_cast<std::uint8_t>(*s));
        }
        u8(0);
    }
    void child(std::uint16_t id, const Chunk& body)
    {
        u16(id);
        u32(static_cast<std::uint32_t>(body.bytes.size() + 6));
        bytes.insert(bytes.end(), body.bytes.begin(), body.bytes.end());
    }
};

std::vector<std::uint8_t> encode3ds(const Model& model, const char* objectName)
{
    Chunk vertices;
    vertices.u16(static_cast<std::uint16_t>(model.positions.size()));
    for (const Vec& p : model.positions) {
        vertices.f32(p.x);
        vertices.f32(p.y);
        vertices.f32(p.z);
    }
    Chunk mapping;
    mapping.u16(static_cast<std::uint16_t>(model.uvs.size()));
    for (const auto& uv : model.uvs) {
        mapping.f32(uv[0]);
        mapping.f32(uv[1]);
    }
    Chunk axes; // identity local axes and origin
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (float v : identity) {
        axes.f32(v);
    }
    Chunk materialGroup;
    materialGroup.text("gfxcore-metal");
    materialGroup.u16(static_cast<std::uint16_t>(model.faces.size()));
    for (std::size_t i = 0; i < model.faces.size(); ++i) {
        materialGroup.u16(static_cast<std::uint16_t>(i));
    }
    Chunk smoothing;
    for (std::size_t i = 0; i < model.faces.size(); ++i) {
        smoothing.u32(1);
    }
    Chunk faces;
    faces.u16(static_cast<std::uint16_t>(model.faces.size()));
    for (const auto& f : model.faces) {
        faces.u16(f[0]);
        faces.u16(f[1]);
        faces.u16(f[2]);
        faces.u16(7); // edge visibility flags
    }
    faces.child(0x4130, materialGroup);
    faces.child(0x4150, smoothing);

    Chunk mesh;
    mesh.child(0x4110, vertices);
    mesh.child(0x4140, mapping);
    mesh.child(0x4160, axes);
    mesh.child(0x4120, faces);

    Chunk object;
    object.text(objectName);
    object.child(0x4100, mesh);

    Chunk colour;
    colour.u8(200);
    colour.u8(200);
    colour.u8(210);
    Chunk diffuse;
    diffuse.child(0x0011, colour);
    Chunk materialName;
    materialName.text("gfxcore-metal");
    Chunk material;
    material.child(0xA000, materialName);
    material.child(0xA020, diffuse);

    Chunk meshVersion;
    meshVersion.u32(3);
    Chunk masterScale;
    masterScale.f32(1.0f);
    Chunk editor;
    editor.child(0x3D3E, meshVersion);
    editor.child(0xAFFF, material);
    editor.child(0x0100, masterScale);
    editor.child(0x4000, object);

    Chunk keyHeader;
    keyHeader.u16(5);
    keyHeader.text("gfxcore");
    keyHeader.u32(100);
    Chunk frames;
    frames.u32(0);
    frames.u32(100);
    Chunk nodeId;
    nodeId.u16(0);
    Chunk nodeHeader;
    nodeHeader.text(objectName);
    nodeHeader.u16(0);
    nodeHeader.u16(0);
    nodeHeader.u16(0xFFFF);
    Chunk node;
    node.child(0xB030, nodeId);
    node.child(0xB010, nodeHeader);
    Chunk keyframer;
    keyframer.child(0xB00A, keyHeader);
    keyframer.child(0xB008, frames);
    keyframer.child(0xB002, node);

    Chunk version;
    version.u32(3);
    Chunk main;
    main.child(0x0002, version);
    main.child(0x3D3D, editor);
    main.child(0xB000, keyframer);

    Chunk file;
    file.child(0x4D4D, main);
    return file.bytes;
}

// ------------------------------------------------------------ shapes

// A (2, 3) torus knot swept with a round tube: closed, no seams (the tube
// rings and the loop wrap around by index).
Model torusKnot()
{
    constexpr int along = 240;
    constexpr int around = 12;
    constexpr float unit = 120.0f; // model units; the show scales by 0.02
    auto curve = [](float t) {
        const float p = 2.0f, q = 3.0f;
        const float r = 1.0f + 0.45f * std::cos(q * t);
        return Vec{r * std::cos(p * t), r * std::sin(p * t), -0.45f * std::sin(q * t)};
    };
    Model model;
    std::vector<Vec> centres;
    const float twoPi = 6.2831853f;
    for (int i = 0; i < along; ++i) {
        const float t = twoPi * i / along;
        const float h = 0.001f;
        const Vec c = curve(t);
        const Vec tangent = normalized(curve(t + h) - curve(t - h));
        const Vec second = curve(t + h) + curve(t - h) - c * 2.0f;
        const Vec binormal = normalized(cross(tangent, second));
        const Vec normal = cross(binormal, tangent);
        centres.push_back(c * unit);
        for (int j = 0; j < around; ++j) {
            const float a = twoPi * j / around;
            const Vec offset = normal * (0.26f * std::cos(a)) + binormal * (0.26f * std::sin(a));
            model.positions.push_back((c + offset) * unit);
            model.uvs.push_back({4.0f * i / along, static_cast<float>(j) / around});
        }
    }
    for (int i = 0; i < along; ++i) {
        const int ni = (i + 1) % along;
        for (int j = 0; j < around; ++j) {
            const int nj = (j + 1) % around;
            const int v00 = i * around + j, v10 = ni * around + j, v11 = ni * around + nj, v01 = i * around + nj;
            const Vec mid = (centres[i] + centres[ni]) * 0.5f;
            const Vec quadCentre =
                (model.positions[v00] + model.positions[v10] + model.positions[v11] + model.positions[v01]) * 0.25f;
            const Vec outward = quadCentre - mid;
            addFace(model, v00, v10, v11, outward);
            addFace(model, v00, v11, v01, outward);
        }
    }
    return model;
}

// A convex polyhedron given by its vertices and its face normals: each face
// is the set of vertices furthest along its normal, fanned from its first
// corner after sorting them around the face centre. Every face gets its own
// vertices, so the show's smoothing keeps the faces flat.
Model convexSolid(const std::vector<Vec>& corners, const std::vector<Vec>& normals)
{
    Model model;
    for (const Vec& n : normals) {
        float best = -1e30f;
        for (const Vec& c : corners) {
            best = std::max(best, dot(c, n));
        }
        std::vector<Vec> face;
        for (const Vec& c : corners) {
            if (dot(c, n) > best - 1e-3f * std::fabs(best)) {
                face.push_back(c);
            }
        }
        Vec centre{0, 0, 0};
        for (const Vec& c : face) {
            centre = centre + c;
        }
        centre = centre * (1.0f / static_cast<float>(face.size()));
        // a basis in the face plane
        const Vec axisU = normalized(face[0] - centre);
        const Vec axisV = cross(n, axisU);
        std::sort(face.begin(), face.end(), [&](Vec a, Vec b) {
            return std::atan2(dot(a - centre, axisV), dot(a - centre, axisU)) <
                   std::atan2(dot(b - centre, axisV), dot(b - centre, axisU));
        });
        const int first = static_cast<int>(model.positions.size());
        for (const Vec& c : face) {
            model.positions.push_back(c);
            model.uvs.push_back({0.5f + 0.5f * dot(c - centre, axisU) / std::sqrt(dot(face[0] - centre, face[0] - centre)),
                                 0.5f + 0.5f * dot(c - centre, axisV) / std::sqrt(dot(face[0] - centre, face[0] - centre))});
        }
        for (int k = 1; k + 1 < static_cast<int>(face.size()); ++k) {
            addFace(model, first, first + k, first + k + 1, n);
        }
    }
    return model;
}

Model cube()
{
    std::vector<Vec> corners;
    for (int i = 0; i < 8; ++i) {
        corners.push_back({(i & 1) ? 0.5f : -0.5f, (i & 2) ? 0.5f : -0.5f, (i & 4) ? 0.5f : -0.5f});
    }
    const std::vector<Vec> normals = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    Model model = convexSolid(corners, normals);
    // plain 0..1 mapping on every side
    for (std::size_t i = 0; i < model.uvs.size(); ++i) {
        model.uvs[i] = {model.uvs[i][0] > 0.5f ? 1.0f : 0.0f, model.uvs[i][1] > 0.5f ? 1.0f : 0.0f};
    }
    return model;
}

// A block with bevelled edges and cut corners: 6 sides, 12 edge bevels and
// 8 corner triangles.
Model chamferedBlock()
{
    const float half[3] = {100.0f, 100.0f, 100.0f};
    const float chamfer = 28.0f;
    std::vector<Vec> corners;
    for (int s = 0; s < 8; ++s) {
        const float sign[3] = {(s & 1) ? 1.0f : -1.0f, (s & 2) ? 1.0f : -1.0f, (s & 4) ? 1.0f : -1.0f};
        for (int axis = 0; axis < 3; ++axis) {
            float c[3];
            for (int k = 0; k < 3; ++k) {
                c[k] = sign[k] * (k == axis ? half[k] : half[k] - chamfer);
            }
            corners.push_back({c[0], c[1], c[2]});
        }
    }
    std::vector<Vec> normals;
    for (int axis = 0; axis < 3; ++axis) {
        for (float sign : {1.0f, -1.0f}) {
            float n[3] = {0, 0, 0};
            n[axis] = sign;
            normals.push_back({n[0], n[1], n[2]});
        }
    }
    for (int a = 0; a < 3; ++a) {
        for (int b = a + 1; b < 3; ++b) {
            for (int s = 0; s < 4; ++s) {
                float n[3] = {0, 0, 0};
                n[a] = (s & 1) ? 1.0f : -1.0f;
                n[b] = (s & 2) ? 1.0f : -1.0f;
                normals.push_back(normalized({n[0], n[1], n[2]}));
            }
        }
    }
    for (int s = 0; s < 8; ++s) {
        normals.push_back(normalized({(s & 1) ? 1.0f : -1.0f, (s & 2) ? 1.0f : -1.0f, (s & 4) ? 1.0f : -1.0f}));
    }
    return convexSolid(corners, normals);
}

bool writeModel(const std::string& folder, const char* name, const Model& model, const char* objectName,
                std::string& error)
{
    return writeBytes(folder + "/" + name, encode3ds(model, objectName), error);
}

} // namespace

bool generateModels(const std::string& folder, std::string& error)
{
    return writeModel(folder, "vorn02.3ds", torusKnot(), "knot", error) &&
           writeModel(folder, "cube.3ds", cube(), "cube", error) &&
           writeModel(folder, "ChamferLOW.3ds", chamferedBlock(), "chamfer", error);
}
