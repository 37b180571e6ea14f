// Inside the OpenGL devices (platform/gl_common, platform/gl, platform/gles
// only): the object classes, the record of what the 3D API was told
// (GlDevice's state), the record of what GL holds (GlCache) with its cached
// setters, and the pipeline table through which a device reaches the
// fixed-function pipeline (platform/gl) or generated shaders (platform/gles).
//
// Both devices share everything but the way a draw's vertices and pixels are
// processed: the context, resources, the back buffer, render targets, clears,
// present, the draw calls and the pixel-operation state (depth, blending,
// culling). GlPipeline says what a pipeline adds.
//
// Two records, two writers:
// - GlDevice's API state (render states, stage states, matrices, lights,
//   bindings) is written only by the device's interface methods; they store
//   and mark a group dirty, nothing reaches GL there.
// - GlCache mirrors GL and is written only by the cached setters of
//   gl_cache.cpp (compare, store, call, count). glCacheReset sets GL and the
//   cache together at device start. Every GL state call of the device goes
//   through them, so a setting equal to what GL holds costs nothing.
// Before a draw the pipeline's flush derives GL state from the API state
// through the cached setters.
//
// Depends on: OpenGL headers (prototypes), SDL2, platform/d3d8.h,
// platform/gl_common/gl_device.h.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL2/SDL.h>

#include "platform/d3d8.h"
#include "platform/gl_common/gl_device.h"

#include <cstdint>
#include <cstring>
#include <vector>

constexpr int GL_DEVICE_STAGES = 8;
constexpr int GL_DEVICE_LIGHTS = 8;
constexpr int GL_DEVICE_RENDER_STATES = 256;
constexpr int GL_DEVICE_STAGE_STATES = 32;
constexpr UINT GL_DEVICE_MAX_TEXTURE_SIZE = 4096;
constexpr int GL_DEVICE_ATTRIBUTES = 3 + GL_DEVICE_STAGES; // position, normal, colour, a coordinate per stage

class GlDevice;
class GlTexture;

// The context a device asks for. Compatibility serves the fixed-function
// device; core (3.3) and es (3.0) serve the shader device.
enum class GlProfile { compatibility, core, es };

// What a pipeline does for its device. reset sets its GL state and cache
// together (device start, context switch); flushForDraw derives GL state
// from the API state before a draw (the target is bound and the shared
// pixel state set); bindArrays points the vertex inputs at a buffer, the
// first vertex at base bytes; release deletes its GL objects (context
// current) and its record.
struct GlPipelineState;
struct GlPipeline {
    bool (*start)(GlDevice& device);
    void (*reset)(GlDevice& device);
    void (*flushForDraw)(GlDevice& device);
    void (*bindArrays)(GlDevice& device, GLuint buffer, std::uintptr_t base, GLsizei stride);
    void (*release)(GlDevice& device);
};

// Counts of the running frame; gl_device.cpp owns it.
extern GlDeviceCounters glCounters;

// ---------------------------------------------------------------- objects

// Objects whose GL names die with them or, when the device goes first, with
// the device (which then orphans them: their later Release frees memory only).
class GlResource {
public:
    GlDevice* owner = nullptr;
    virtual void destroyGl() = 0; // deletes the GL objects; the context is current
    virtual void forgetBindings() = 0; // clears the device's API bindings to this object

protected:
    ~GlResource() = default;
};

// Colour surfaces (back buffer, level 0 of a texture) own a framebuffer
// object; depth surfaces own a renderbuffer. The back buffer and the default
// depth surface forward their references to the device, a texture's level to
// its texture; created depth surfaces count their own.
class GlSurface final : public IDirect3DSurface8, public GlResource {
public:
    IUnknown8* container = nullptr;
    ULONG refs = 1;
    bool isDepth = false;
    bool renderTarget = false; // can be a colour target
    D3DSURFACE_DESC desc{};
    int glWidth = 0, glHeight = 0;
    GLuint colorTexture = 0;
    GLuint framebuffer = 0;
    GLuint attachedDepth = 0;  // renderbuffer attached to framebuffer
    bool alphaOne = false;     // stored with an alpha channel its format lacks: blending reads one
    GLuint renderbuffer = 0;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDesc(D3DSURFACE_DESC* out) override;
    void destroyGl() override;
    void forgetBindings() override;

    ~GlSurface() override = default;
};

struct GlSamplerParams {
    GLint minFilter, magFilter, wrapS, wrapT;
};

class GlTexture final : public IDirect3DTexture8, public GlResource {
public:
    ULONG refs = 1;
    GLuint name = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    DWORD usage = 0;
    D3DPOOL pool = D3DPOOL_MANAGED;
    UINT width = 0, height = 0;
    int bytesPerPixel = 4;
    std::vector<std::uint8_t> pixels; // the lockable copy, top row first
    bool locked = false;
    bool lockReadOnly = false;
    RECT lockRect{};
    GlSamplerParams sampler{}; // what GL holds for this texture object
    GlSurface level;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    void destroyGl() override;
    void forgetBindings() override;

    ~GlTexture() override = default;
};

// Vertex and index buffers: a memory copy handed out by Lock and uploaded to
// the GL buffer object on Unlock.
class GlBuffer : public GlResource {
public:
    ULONG refs = 1;
    GLuint name = 0;
    GLenum target = GL_ARRAY_BUFFER;
    std::vector<std::uint8_t> bytes;
    bool locked = false;
    bool lockReadOnly = false;
    UINT lockOffset = 0, lockSize = 0;
    DWORD fvf = 0;              // vertex buffers
    D3DFORMAT format = D3DFMT_UNKNOWN; // index buffers
    // Vertex buffers: whether every vertex has the same diffuse colour, for
    // the stride and colour offset it was worked out with, at this version
    // of the contents (unlocks count up).
    std::uint32_t version = 0;
    std::uint32_t oneColourVersion = ~0u;
    UINT oneColourStride = 0;
    int oneColourOffset = -1;
    bool oneColour = false;

    HRESULT lock(UINT offset, UINT size, BYTE** data, DWORD flags);
    HRESULT unlock();
    void destroyGl() override;

protected:
    ~GlBuffer() = default;
};

class GlVertexBuffer final : public IDirect3DVertexBuffer8, public GlBuffer {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override { return lock(offset, size, data, flags); }
    HRESULT Unlock() override { return unlock(); }
    void forgetBindings() override;
    ~GlVertexBuffer() override = default;
};

class GlIndexBuffer final : public IDirect3DIndexBuffer8, public GlBuffer {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override { return lock(offset, size, data, flags); }
    HRESULT Unlock() override { return unlock(); }
    void forgetBindings() override;
    ~GlIndexBuffer() override = default;
};

// ---------------------------------------------------------------- GL cache

struct GlCachedLight {
    bool enabled;
    float position[4], spotDirection[3];
    float ambient[4], diffuse[4], specular[4];
    float attenuation[3];
    float spotCutoff, spotExponent;
};

struct GlCachedUnit {
    bool texture2D;
    GLuint texture;
    bool texgen;     // S, T, R generation on
    GLint texgenMode;
    // GL_COMBINE settings: rgb then alpha
    GLint combineRgb, combineAlpha;
    GLint sourceRgb[3], operandRgb[3], sourceAlpha[3], operandAlpha[3];
    GLfloat scaleRgb, scaleAlpha;
    float matrix[16];
    // vertex array of this unit
    bool coordArray;
    GLuint coordBuffer;
    std::uintptr_t coordOffset;
    GLsizei coordStride;
};

// A generic vertex input of the shader pipeline: an array in a buffer or,
// switched off, a constant value.
struct GlCachedAttribute {
    bool array;
    GLuint buffer;
    std::uintptr_t offset;
    GLsizei stride;
    GLint size;
    GLenum type;
    float constant[4];
};

struct GlCachedMaterial {
    float ambient[4], diffuse[4], specular[4], emission[4];
    float shininess;
};

struct GlCache {
    bool depthTest, blend, alphaTest, fog, lighting, cullFace, normalize, colorMaterial, dither, scissor;
    GLenum depthFunc;
    bool depthMask;
    GLenum blendSource, blendDestination, blendEquation;
    GLenum alphaFunction;
    float alphaReference;
    GLenum cullFaceMode;
    GLenum shadeModel;
    GLenum polygonMode;
    float fogColor[4];
    float fogStart, fogEnd, fogDensity;
    GLenum fogMode, fogDistance;
    float ambient[4];
    bool localViewer;
    bool separateSpecular; // specular added after texturing (GL_SEPARATE_SPECULAR_COLOR)
    float clearColor[4];
    float clearDepth;
    int scissorBox[4];
    int viewport[4];
    float lineWidth;
    GLuint drawFramebuffer, readFramebuffer;
    GLuint arrayBuffer, elementBuffer;
    GLenum matrixMode;
    int activeUnit, clientUnit;
    float modelview[16], projection[16];
    GlCachedMaterial material;
    GlCachedLight lights[GL_DEVICE_LIGHTS];
    GlCachedUnit units[GL_DEVICE_STAGES];
    bool vertexArray, normalArray, colorArray;
    GLuint vertexBuffer, normalBuffer, colorBuffer;
    std::uintptr_t vertexOffset, normalOffset, colorOffset;
    GLsizei vertexStride, normalStride, colorStride;
    bool hasFogDistance;
    // Shader pipeline: program, uniform-block ranges, generic vertex inputs.
    GLuint program;
    GLuint uniformBuffer[4];
    std::uintptr_t uniformOffset[4];
    GlCachedAttribute attributes[GL_DEVICE_ATTRIBUTES];
};

// Written only by gl_cache.cpp's setters.
extern GlCache glCache;

// Shared setters (gl_common/gl_cache.cpp). glCacheReset sets the state
// every pipeline uses, in GL and in the record; the pipeline's reset does
// the rest.
void glCacheReset(int units);
void glCacheEnable(bool& cached, GLenum capability, bool on);
void glCacheDepthFunc(GLenum function);
void glCacheDepthMask(bool on);
void glCacheBlendFunc(GLenum source, GLenum destination);
void glCacheBlendEquation(GLenum equation);
void glCacheCullFace(GLenum mode);
void glCacheClearColor(const float color[4]);
void glCacheClearDepth(float depth);
void glCacheScissor(int x, int y, int width, int height);
void glCacheViewport(int x, int y, int width, int height);
void glCacheLineWidth(float width);
void glCacheDrawFramebuffer(GLuint framebuffer);
void glCacheReadFramebuffer(GLuint framebuffer);
void glCacheArrayBuffer(GLuint buffer);
void glCacheElementBuffer(GLuint buffer);
void glCacheActiveUnit(int unit);
void glCacheBindTexture(int unit, GLuint texture);
void glCacheSampler(GlTexture& texture, int unit, const GlSamplerParams& params);
// A texture or buffer name is deleted: forget it wherever the cache holds it.
void glCacheForgetTexture(GLuint texture);
void glCacheForgetBuffer(GLuint buffer);
void glCacheForgetFramebuffer(GLuint framebuffer);

// Fixed-function setters (gl/gl_fixed_cache.cpp).
void glFixedCacheReset(int units, bool fogDistance);
void glCacheAlphaFunc(GLenum function, float reference);
void glCacheShadeModel(GLenum mode);
void glCachePolygonMode(GLenum mode);
void glCacheFogColor(const float color[4]);
void glCacheFogRange(float start, float end, float density);
void glCacheFogMode(GLenum mode);
void glCacheFogDistance(GLenum mode);
void glCacheAmbient(const float color[4]);
void glCacheLocalViewer(bool on);
void glCacheSeparateSpecular(bool on);
void glCacheTexture2D(int unit, bool on);
void glCacheTexgen(int unit, bool on, GLint mode);
void glCacheCombine(int unit, GLint combineRgb, const GLint sourceRgb[3], const GLint operandRgb[3], GLfloat scaleRgb,
                    GLint combineAlpha, const GLint sourceAlpha[3], const GLint operandAlpha[3], GLfloat scaleAlpha);
void glCacheModelview(const float matrix[16]);
void glCacheProjection(const float matrix[16]);
void glCacheTextureMatrix(int unit, const float matrix[16]);
void glCacheMaterial(const GlCachedMaterial& material);
void glCacheForgetMaterialDiffuse(); // colour material overwrote it
void glCacheLight(int index, const GlCachedLight& light); // eye-space values; loads identity modelview if needed
// Vertex arrays (buffer 0 never happens: every draw reads a buffer object).
void glCacheVertexArray(GLuint buffer, std::uintptr_t offset, GLsizei stride);
void glCacheNormalArray(bool on, GLuint buffer, std::uintptr_t offset, GLsizei stride);
void glCacheColorArray(bool on, GLuint buffer, std::uintptr_t offset, GLsizei stride);
void glCacheCoordArray(int unit, bool on, GLuint buffer, std::uintptr_t offset, GLsizei stride);
void glFixedCacheForgetBuffer(GLuint buffer);

// Shader setters (gles/gles_cache.cpp).
void glesCacheReset();
void glesCacheProgram(GLuint program);
// The range of a uniform buffer bound to a block binding point.
void glesCacheUniformRange(int binding, GLuint buffer, std::uintptr_t offset, GLsizeiptr size);
// Generic vertex input index from a buffer (size components of type at
// offset) or, with buffer 0, the constant value.
void glesCacheAttribute(int index, GLuint buffer, GLint size, GLenum type, std::uintptr_t offset, GLsizei stride);
void glesCacheAttributeConstant(int index, const float value[4]);
void glesCacheForgetBuffer(GLuint buffer);

inline bool glSameFloats(const float* a, const float* b, int count)
{
    return std::memcmp(a, b, sizeof(float) * static_cast<size_t>(count)) == 0;
}
inline void glStoreFloats(float* to, const float* from, int count)
{
    std::memcpy(to, from, sizeof(float) * static_cast<size_t>(count));
}

inline void glCountState() { glCounters.stateChanges++; }
// A change of what the pixels of a draw go through (tests, blending,
// texturing, fog, shading, target) rather than of vertex processing.
inline void glCountPixelState()
{
    glCounters.stateChanges++;
    glCounters.pixelStateChanges++;
}

// ---------------------------------------------------------------- device

struct GlVertexLayout {
    DWORD fvf;
    UINT stride; // from the format: position, normal, diffuse, specular, texture sets
    int normalOffset, diffuseOffset; // -1 when absent
    int textureSets;
    int textureOffset[8];
};

GlVertexLayout glVertexLayout(DWORD fvf);

class GlDevice final : public IDirect3DDevice8 {
public:
    ULONG refs = 1;
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    GlProfile profile = GlProfile::compatibility;
    const GlPipeline* pipeline = nullptr;
    GlPipelineState* pipelineState = nullptr; // the pipeline's own record
    int scale = 1;
    int glUnits = 8;
    bool fogDistance = false; // GL_NV_fog_distance is there
    bool bgraTextures = false; // textures can be stored as B, G, R, A (see glTextureFormat)
    D3DPRESENT_PARAMETERS parameters{};
    GlSurface backBuffer;
    GlSurface defaultDepth;
    bool hasDefaultDepth = false;
    bool windowAlpha = false; // the window has alpha bits that the back buffer's alpha must not reach
    std::vector<GlResource*> resources;
    bool inScene = false;

    // API state, written by the interface methods only.
    DWORD renderStates[GL_DEVICE_RENDER_STATES];
    DWORD stageStates[GL_DEVICE_STAGES][GL_DEVICE_STAGE_STATES];
    D3DMATRIX world{}, view{}, projection{};
    D3DMATRIX textureMatrices[GL_DEVICE_STAGES];
    D3DMATERIAL8 material{};
    D3DLIGHT8 lights[GL_DEVICE_LIGHTS];
    bool lightEnabled[GL_DEVICE_LIGHTS]{};
    GlTexture* textures[GL_DEVICE_STAGES]{};
    DWORD fvf = 0;
    GlVertexLayout layout{};
    GlVertexBuffer* stream = nullptr;
    UINT streamStride = 0;
    GlIndexBuffer* indices = nullptr;
    UINT baseVertexIndex = 0;
    GlSurface* colorTarget = nullptr;
    GlSurface* depthTarget = nullptr;

    // Set by the draw calls before the flush: every vertex of the draw has
    // the same diffuse colour (or none).
    bool drawOneColour = false;

    // Derived by the flush: world x view, and per GL unit the vertex texture
    // set it reads (-1: none, generated or not textured).
    float worldView[16]{};
    int unitCoordSet[GL_DEVICE_STAGES]{};

    // Groups changed since the last flush.
    bool dirtyRenderStates = true, dirtyStages = true, dirtyTransforms = true, dirtyLights = true;
    bool dirtyMaterial = true, dirtyTarget = true;

    // Streaming buffer of the user-pointer draws.
    GLuint streamBuffer = 0;
    UINT streamBufferSize = 0;
    UINT streamBufferUsed = 0;
    // Streaming index buffer: triangles turned for the provoking vertex on
    // OpenGL ES, which has no switch for it.
    GLuint indexStreamBuffer = 0;
    UINT indexStreamSize = 0;
    UINT indexStreamUsed = 0;
    std::vector<std::uint32_t> turnedIndices;
    std::vector<std::uint8_t> flatLineVertices; // flat lines on OpenGL ES, see drawFlatLines

    // Work queued in GL since the last batch was handed over, the
    // pixel-state count at the last draw, and the fence of the batch handed
    // over last that nothing has waited for yet (see limitQueuedWork).
    std::uint32_t queuedWork = 0;
    std::uint32_t pixelStateAtLastDraw = 0;
    GLsync batchFence = nullptr;
    std::uint32_t drawFillWork = 0; // the fill the draw being issued adds

    std::vector<std::uint8_t> readback;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT TestCooperativeLevel() override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND overrideWindow, const void* dirtyRegion) override;
    HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT GetRenderTarget(IDirect3DSurface8** surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface8** surface) override;
    HRESULT SetRenderTarget(IDirect3DSurface8* color, IDirect3DSurface8* depth) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DTexture8* texture) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix) override;
    HRESULT SetMaterial(const D3DMATERIAL8* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT8* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture8** texture) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer8** buffer) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      IDirect3DSurface8** surface) override;
    HRESULT SetVertexShader(DWORD fvf) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer8* buffer, UINT baseVertexIndex) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount, UINT startIndex,
                                 UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) override;

    // Internal.
    bool start(HWND hwnd, const D3DPRESENT_PARAMETERS& present);
    bool createContext();
    // Makes the device's context current; coming from another device's
    // context, the GL cache starts over (it mirrors one context).
    void makeCurrent();
    void setDefaultState();
    void addResource(GlResource* resource);
    void removeResource(GlResource* resource);
    void destroy();
    // The current colour target's framebuffer, with the current depth surface
    // attached when withDepth (draws that neither test nor write depth go
    // without: the rasteriser then takes faster paths).
    bool bindTarget(bool withDepth = true);

    ~GlDevice() override = default;
};

// The state both pipelines set before a draw (gl_common/gl_draw.cpp): the
// target, depth, blending, culling, dither, line width.
void glFlushCommonForDraw(GlDevice& device);
// Waits for the batch handed over last, if any, and lets its fence go
// (gl_common/gl_draw.cpp).
void glWaitForBatch(GlDevice& device);
// The projection with the shift that puts pixel centres where the original
// API has them, as GL loads it (16 floats, column-major = the row-major D3D matrix).
void glShiftedProjection(const GlDevice& device, float out[16]);
// Row-major product a x b (row vectors: a is applied first).
void glMultiplyMatrices(const D3DMATRIX& a, const D3DMATRIX& b, float out[16]);
// p x M for a point (w = 1) or a direction (w = 0).
void glTransformVector(const D3DVECTOR& p, float w, const D3DMATRIX& m, float out[3]);
void glColorFloats(D3DCOLOR color, float out[4]);
void glColorValue(const D3DCOLORVALUE& color, float out[4]);
float glFloatBits(DWORD bits);
// Light index as GL's fixed lighting takes it: eye space, GL attenuation
// and spot terms (off: enabled false).
void glEyeLight(const GlDevice& device, int index, GlCachedLight* out);
// The stage's texture matrix as GL applies it to (s, t, 0, 1) or, with
// generated coordinates, to (x, y, z, 1); false for none.
bool glTextureMatrix(const GlDevice& device, int stage, bool generated, float out[16]);
// The stage's filters and addressing as GL texture parameters.
GlSamplerParams glSamplerFor(const DWORD* stageStates);
GLenum glCompareFunction(DWORD value);
// Factory of the 3D API on OpenGL: the profile the device's context has and
// the pipeline it draws with; a fallback pipeline, when given, is tried on
// its profile where the first can not start.
IDirect3D8* glCreateFactory(GlProfile profile, const GlPipeline* pipeline,
                            GlProfile fallbackProfile = GlProfile::compatibility,
                            const GlPipeline* fallbackPipeline = nullptr);
extern const GlPipeline glFixedPipeline; // platform/gl
extern const GlPipeline glesPipeline;    // platform/gles
// Whether count vertices of stride bytes all hold the same colour at
// colourOffset (true without a colour).
bool glVerticesOneColour(const std::uint8_t* vertices, UINT count, UINT stride, int colourOffset);
// What a texture format needs in GL for a context of the profile.
struct GlTextureFormat {
    GLint internalFormat;
    GLenum pixelFormat, pixelType;
    int bytesPerPixel;
    bool swapRedBlue; // sampling swaps red and blue (bytes uploaded as they are)
    bool alphaOne;    // sampling reads alpha as one
};
// False for formats the device does not serve.
bool glTextureFormat(D3DFORMAT format, GlProfile profile, bool bgraTextures, bool renderTarget, GlTextureFormat* out);
