// The shader device's programs: the state key that picks one, the GLSL it
// is generated into, and building it. The text is GLSL ES 3.00; for an
// OpenGL 3.3 core context only the #version line differs and the precision
// lines go.
//
// What a program does, per vertex: position through world x view and the
// projection (row 0 at the top, clip z 0..1 as the original API), the
// fixed pipeline's lighting in view space (Gouraud), texture coordinates
// from the vertex or generated from the view-space normal through the
// stage's texture matrix, the eye distance for fog. Per pixel: the texture
// stages' colour and alpha operations, specular added after them, fog, the
// alpha test by discard.
//
// Uniform blocks by how often they change: GlesDraw (binding 0: position and
// normal matrices), GlesLighting (binding 1: material, ambient, lights),
// GlesPixel (binding 2: fog, alpha reference), GlesTextures (binding 3: the
// stages' texture matrices). Vertex inputs at fixed locations: 0 position,
// 1 normal, 2 colour (B, G, R, A bytes), 3 + stage its coordinates.
//
// Depends on: platform/gl_common/gl_common.h (OpenGL).
#pragma once

#include "platform/gl_common/gl_common.h"

#include <cstdint>
#include <string>

constexpr int GLES_BLOCK_DRAW = 0;
constexpr int GLES_BLOCK_LIGHTING = 1;
constexpr int GLES_BLOCK_PIXEL = 2;
constexpr int GLES_BLOCK_TEXTURES = 3;
constexpr int GLES_ATTRIBUTE_POSITION = 0;
constexpr int GLES_ATTRIBUTE_NORMAL = 1;
constexpr int GLES_ATTRIBUTE_COLOR = 2;
constexpr int GLES_ATTRIBUTE_COORDINATES = 3; // + stage

// Where a stage's texture coordinates come from.
enum GlesCoordinates : std::uint8_t {
    GLES_COORD_VERTEX = 0,     // the vertex's set (or zero when it has none)
    GLES_COORD_NORMAL = 1,     // view-space normal
    GLES_COORD_REFLECTION = 2, // view-space reflection vector
};

// A texture stage that draws (it has a texture and the chain reaches it).
struct GlesStageKey {
    std::uint8_t unit; // texture unit = stage number
    std::uint8_t colorOp, colorArg1, colorArg2;
    std::uint8_t alphaOp, alphaArg1, alphaArg2;
    std::uint8_t coordinates; // GlesCoordinates
    std::uint8_t transform;   // 0 none, 1 texture matrix, 2 texture matrix with the divide
};

// Everything that changes the program's text. Zero-filled before use so that
// keys compare and hash byte for byte.
struct GlesProgramKey {
    std::uint8_t stageCount;
    std::uint8_t lighting;
    std::uint8_t lightCount;
    std::uint8_t lightTypes[GL_DEVICE_LIGHTS]; // D3DLIGHTTYPE of each enabled light, in index order
    std::uint8_t specular;      // separate specular colour added after the stages
    std::uint8_t normalize;
    std::uint8_t localViewer;
    std::uint8_t colorMaterial; // diffuse (and alpha) from the vertex colour
    std::uint8_t fog;           // D3DFOG_* or 0
    std::uint8_t rangeFog;      // distance from the eye; else depth in view space
    std::uint8_t alphaFunc;     // D3DCMP_* or 0 without the test
    std::uint8_t flat;
    GlesStageKey stages[GL_DEVICE_STAGES];
};

bool glesSameKey(const GlesProgramKey& a, const GlesProgramKey& b);

std::string glesVertexShaderText(const GlesProgramKey& key, GlProfile profile);
std::string glesFragmentShaderText(const GlesProgramKey& key, GlProfile profile);

// Compiles and links two stages; 0 on failure, with the compiler's or the
// linker's log in *log (which stage failed first, then its message).
GLuint glesLinkProgram(const std::string& vertexText, const std::string& fragmentText, std::string* log);
// Compiles and links the key's program, binds its blocks and samplers.
// 0 on failure, with the compiler's or linker's log in *log.
GLuint glesBuildProgram(const GlesProgramKey& key, GlProfile profile, std::string* log);

// The key as one line of C++ initialiser, for the table of keys the show
// reaches (platform/gles/gles_show_keys.cpp).
std::string glesKeyListing(const GlesProgramKey& key);
