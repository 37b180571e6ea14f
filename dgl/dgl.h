// The dgl renderer: a thin immediate-mode interface in the manner of a
// fixed-function GL over the 3D API of platform/d3d8.h. One device, one
// cached state record (DglState), fixed pools of textures, vertex, index and
// depth buffers, matrices and vertex formats.
//
// The 3D API's numeric codes (blend factors, comparison functions, texture
// operations and filters, transform and primitive types, pixel formats) pass
// through this interface unchanged. Every failed check ends the program
// through fatalExit (kernel/messages.h) with the operation's message.
//
// Depends on: platform/d3d8.h (device interface and codes), kernel/messages.h
// (fatalExit, formatMessage), imaging/ (texture files, matrix inverse).
#pragma once

#include "platform/d3d8.h"

#include <cstdint>

// ---------------------------------------------------------------- vectors and matrices

// Three floats in the layout of D3DVECTOR. Default: (0, 0, 0).
struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vector3() = default;
    Vector3(float xValue, float yValue, float zValue) : x(xValue), y(yValue), z(zValue) {}

    float length() const;
    Vector3 normalized() const;

    Vector3 operator+(const Vector3& v) const { return Vector3(x + v.x, y + v.y, z + v.z); }
    Vector3 operator-(const Vector3& v) const { return Vector3(x - v.x, y - v.y, z - v.z); }
    Vector3 operator+=(const Vector3& v);
    Vector3 operator-=(const Vector3& v);
    Vector3 operator*(float s) const { return Vector3(x * s, y * s, z * s); }
    Vector3 operator*=(float s);
    // Each component divided (not multiplied by a reciprocal).
    Vector3 operator/(float s) const { return Vector3(x / s, y / s, z / s); }
    Vector3 operator/=(float s);
    Vector3 cross(const Vector3& v) const;
    float dot(const Vector3& v) const { return x * v.x + y * v.y + z * v.z; }
};

// Sixteen floats row by row, element (r, c) at m[4 * r + c] (the layout of
// D3DMATRIX). Row vectors: p' = p x M, translation in m[12], m[13], m[14].
// Default: identity.
struct Matrix4 {
    float m[16];

    Matrix4() { setIdentity(); }
    void setIdentity();

    float& operator()(int row, int column) { return m[4 * row + column]; }
    float operator()(int row, int column) const { return m[4 * row + column]; }

    // this x b: under row vectors this is applied first, then b.
    Matrix4 operator*(const Matrix4& b) const;
    Matrix4 operator*=(const Matrix4& b);
    // The identity when the matrix is singular.
    Matrix4 inverse() const;
    // p x M with w = 1 and no division by w.
    Vector3 transform(const Vector3& p) const;

    D3DMATRIX toD3D() const;
};

// ---------------------------------------------------------------- material and light

// The layout of D3DMATERIAL8. Default: white diffuse and ambient, no
// specular or emissive, power 0.
struct Material {
    D3DCOLORVALUE Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    D3DCOLORVALUE Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    D3DCOLORVALUE Specular = {0.0f, 0.0f, 0.0f, 0.0f};
    D3DCOLORVALUE Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    float Power = 0.0f;

    D3DMATERIAL8 toD3D() const;
};

// The layout of D3DLIGHT8 with Vector3 for the two vectors. Construction
// calls reset: a white directional light along +z.
struct Light {
    D3DLIGHTTYPE Type;
    D3DCOLORVALUE Diffuse;
    D3DCOLORVALUE Specular;
    D3DCOLORVALUE Ambient;
    Vector3 Position;
    Vector3 Direction;
    float Range;
    float Falloff;
    float Attenuation0;
    float Attenuation1;
    float Attenuation2;
    float Theta;
    float Phi;

    Light() { reset(); }
    void reset();

    D3DLIGHT8 toD3D() const;
};

// ---------------------------------------------------------------- constants

// Capabilities of dglEnable / dglDisable.
constexpr int DGL_DEPTH_WRITE = 0;
constexpr int DGL_DEPTH_TEST = 1;
constexpr int DGL_BLEND = 2;
constexpr int DGL_FOG = 3;
constexpr int DGL_ALPHA_TEST = 4;
constexpr int DGL_LIGHTING = 5;
constexpr int DGL_SPECULAR = 6;
constexpr int DGL_NORMALIZE = 7;
constexpr int DGL_COLOR_MATERIAL = 8;
constexpr int DGL_CAPABILITY_COUNT = 9;

// Vertex types (fields in memory order; p = x, y, z; n = nx, ny, nz;
// c = diffuse ARGB; t = tu, tv).
constexpr int DGL_VERTEX_PC = 0;    // 16 bytes
constexpr int DGL_VERTEX_PNC = 1;   // 28 bytes
constexpr int DGL_VERTEX_PNCT = 2;  // 36 bytes
constexpr int DGL_VERTEX_PNCT2 = 3; // 44 bytes
constexpr int DGL_VERTEX_PCT = 4;   // 24 bytes
constexpr int DGL_VERTEX_PCT2 = 5;  // 32 bytes
constexpr int DGL_VERTEX_TYPE_COUNT = 6;

constexpr int DGL_TEXTURE_STAGES = 8;
constexpr int DGL_LIGHTS = 8;

// Pool capacities: the 100th creation succeeds, the 101st ends the program.
constexpr int DGL_MAX_TEXTURES = 100;
constexpr int DGL_MAX_VERTEX_BUFFERS = 100;
constexpr int DGL_MAX_INDEX_BUFFERS = 100;
constexpr int DGL_MAX_DEPTH_BUFFERS = 100;

// ---------------------------------------------------------------- state record

// Mirror of every setting the renderer has handed to the device. Written only
// by the dgl setters (store first, then call the device); callers read it
// with dglGetState and restore from their copy.
struct DglState {
    int cullMode = 0;
    int shadeMode = 0;
    bool capabilities[DGL_CAPABILITY_COUNT] = {};
    int blendOperation = 0;
    int sourceBlend = 0;
    int destinationBlend = 0;
    D3DCOLOR fogColor = 0;
    float fogStart = 0.0f;
    float fogEnd = 0.0f;
    std::uint8_t alphaReference = 0;
    int alphaFunction = 0;
    Material material;
    D3DCOLOR ambient = 0;
    Light lights[DGL_LIGHTS];
    bool lightEnabled[DGL_LIGHTS] = {};
    Matrix4 world;
    Matrix4 view;
    Matrix4 projection;
    IDirect3DTexture8* textures[DGL_TEXTURE_STAGES] = {};
    int textureOperations[DGL_TEXTURE_STAGES] = {};
    int textureFilters[DGL_TEXTURE_STAGES] = {};
    bool envMapping[DGL_TEXTURE_STAGES] = {};
    int vertexFormat = 0;
    IDirect3DIndexBuffer8* indexBuffer = nullptr;
    int baseVertexIndex = 0;
    int vertexBufferType = 0;
    IDirect3DVertexBuffer8* vertexBuffer = nullptr;
    IDirect3DTexture8* renderTarget = nullptr;
    IDirect3DSurface8* renderDepth = nullptr;
};

// ---------------------------------------------------------------- device and frame

// Loads the 3D API, creates the device (16-bit depth) on the window, applies
// the default state and begins the first scene.
void dglInit(HWND window, int width, int height, bool fullscreen);
// Releases every renderer object that exists; safe after a partial dglInit
// and a second time (nothing is released twice).
void dglShutdown();
// Ends the scene, checks for a lost device, presents, begins the next scene.
void dglSwapBuffers();
void dglClearColorBuffer(D3DCOLOR color);
void dglClearDepthBuffer(float depth);

// ---------------------------------------------------------------- render state

void dglGetState(DglState* state);
void dglResetState();

void dglSetCullMode(int mode);
void dglSetShadeMode(int mode);
void dglSetBlendOperation(int operation);
void dglSetSourceBlend(int blend);
void dglSetDestinationBlend(int blend);
void dglSetFogColor(D3DCOLOR color);
void dglSetFogRange(float start, float end);
void dglSetAlphaReference(int reference);
void dglSetAlphaFunction(int function);
void dglSetMaterial(Material material);
void dglSetAmbient(D3DCOLOR color);
void dglEnable(int capability);
void dglDisable(int capability);

void dglSetLight(int index, Light light);
void dglEnableLight(int index);
void dglDisableLight(int index);

// (alpha & 0xFF) << 24 | grey in red, green and blue (grey & 0xFF).
D3DCOLOR dglMakeColor(int alpha, int grey);
D3DCOLORVALUE dglMakeColorValue(D3DCOLOR color);

// ---------------------------------------------------------------- texture stages

void dglBindTexture(int stage, IDirect3DTexture8* texture);
void dglUnbindTexture(int stage);
void dglSetTextureOperation(int stage, int operation);
void dglSetTextureFilter(int stage, int filter);
void dglEnableEnvMapping(int stage);
void dglDisableEnvMapping(int stage);

// ---------------------------------------------------------------- matrices

Matrix4 dglMatrixIdentity();
Matrix4 dglMatrixRotateX(float angle);
Matrix4 dglMatrixRotateY(float angle);
Matrix4 dglMatrixRotateZ(float angle);
Matrix4 dglMatrixTranslate(float x, float y, float z);
Matrix4 dglMatrixScale(float x, float y, float z);
Matrix4 dglMatrixLookAt(Vector3 eye, Vector3 target, float roll);
Matrix4 dglMatrixPerspective(float fov, float aspect, float zNear, float zFar);
Matrix4 dglMatrixOrtho(float width, float height, float zNear, float zFar);
Matrix4 dglMatrixEnvMapping();

// type: D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION (cached in DglState) or
// D3DTS_TEXTURE0..7 (device only).
void dglSetTransform(int type, Matrix4 matrix);

// ---------------------------------------------------------------- pools and render targets

// A locked texture level 0: first texel (top row first) and row pitch in bytes.
struct DglTextureLock {
    DWORD* texels;
    int pitch;
};

IDirect3DTexture8* dglCreateTexture(int width, int height, bool renderTarget, D3DFORMAT format);
IDirect3DTexture8* dglCreateTextureFromFile(const char* path, int width, int height, D3DFORMAT format,
                                            bool defaultPool);
DglTextureLock dglLockTexture(IDirect3DTexture8* texture);
void dglUnlockTexture(IDirect3DTexture8* texture);

IDirect3DVertexBuffer8* dglCreateVertexBuffer(int vertexType, int vertexCount);
void* dglLockVertexBuffer(IDirect3DVertexBuffer8* buffer);
void dglUnlockVertexBuffer(IDirect3DVertexBuffer8* buffer);

// Three 16-bit indices per face.
IDirect3DIndexBuffer8* dglCreateIndexBuffer(int faceCount);
WORD* dglLockIndexBuffer(IDirect3DIndexBuffer8* buffer);
void dglUnlockIndexBuffer(IDirect3DIndexBuffer8* buffer);

IDirect3DSurface8* dglCreateDepthBuffer(int width, int height, D3DFORMAT renderTargetFormat);

// NULL texture: the back buffer; NULL depth: the default depth buffer.
void dglSetRenderTarget(IDirect3DTexture8* texture, IDirect3DSurface8* depth);

// ---------------------------------------------------------------- vertex formats and drawing

// Any value outside 0..5 is returned unchanged.
DWORD dglVertexTypeFormat(int vertexType);
int dglVertexTypeStride(int vertexType);

void dglSetVertexFormat(int vertexType);
void dglBindIndexBuffer(IDirect3DIndexBuffer8* buffer, int baseVertexIndex);
void dglUnbindIndexBuffer();
void dglBindVertexBuffer(int vertexType, IDirect3DVertexBuffer8* buffer);
void dglUnbindVertexBuffer();

// Note the order: the primitive count comes before the index range.
void dglDrawIndexedPrimitives(int primitiveType, int primitiveCount, int minIndex, int vertexCount,
                              int startIndex);
// vertexType gives only the stride; select the format with dglSetVertexFormat
// first. Afterwards no vertex buffer and no index buffer is bound.
void dglDrawUserPrimitives(int primitiveType, int primitiveCount, int vertexType, const void* vertices);

// ---------------------------------------------------------------- inspection (tools, tests)

// The device, or NULL before dglInit / after dglShutdown.
IDirect3DDevice8* dglDevice();
IDirect3DSurface8* dglBackBufferSurface();
IDirect3DSurface8* dglDefaultDepthSurface();
int dglTextureCount();
int dglVertexBufferCount();
int dglIndexBufferCount();
int dglDepthBufferCount();
// Brings the renderer back to "not loaded" after dglShutdown: counts 0,
// pointers NULL and the state record default-constructed, so a test or tool
// can call dglInit again. Releases nothing.
void dglForgetAll();
