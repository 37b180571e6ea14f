// What both OpenGL devices are made of: the factory (adapter modes,
// capabilities, device creation), the device's life (context of the
// profile its pipeline needs, back buffer, scenes, present, clear, render
// targets), its state setters, and the driver hooks of gl_device.h.
// Depends on: platform/gl_common/gl_common.h (OpenGL, SDL2), platform/sdl/window_sdl.h.
#include "platform/gl_common/gl_common.h"
#include "platform/sdl/window_sdl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>

GlDeviceCounters glCounters{};

namespace {

GlPresentHook presentHook = nullptr;
void* presentHookUser = nullptr;
int renderScale = 1;
GlDeviceCounters lastFrameCounters{};
GlDevice* currentDevice = nullptr; // whose context is current

// The software rasteriser allocates and frees scratch of hundreds of
// kilobytes every frame (transformed vertices, binned line and triangle
// data). glibc's default moves its mmap threshold up to the largest block
// freed so far (the load frees megabyte pictures), after which such scratch
// comes from the heap, and the heap only ever grows to the highest point a
// frame reached while long-lived blocks sit above the freed ones. Resident
// memory then climbs in steps through the show. A fixed threshold keeps
// blocks of 256 KB and more in their own mappings, returned when freed, and
// a fixed trim threshold gives back the top of the heap above 3 MB. Below
// that the top stays: a frame's binned batches (two in flight, about 1.5 MB
// each) reuse the same pages every frame, where a lower threshold had them
// given back and faulted in again (about 190 page faults a frame in the
// model echoes, some 3% of its frame time).
void keepScratchMemoryOffTheHeap()
{
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 3 * 1024 * 1024);
}

// ---------------------------------------------------------------- factory

struct ClassicMode {
    UINT width, height;
};
const ClassicMode CLASSIC_MODES[] = {{640, 480},   {800, 600},   {1024, 768},  {1152, 864},  {1280, 720},
                                     {1280, 960},  {1280, 1024}, {1366, 768},  {1600, 900},  {1600, 1200},
                                     {1920, 1080}, {1920, 1200}, {2560, 1440}, {3840, 2160}};
constexpr int CLASSIC_MODE_COUNT = sizeof(CLASSIC_MODES) / sizeof(CLASSIC_MODES[0]);
const D3DFORMAT MODE_FORMATS[2] = {D3DFMT_R5G6B5, D3DFMT_X8R8G8B8};
const float OPAQUE_BLACK[4] = {0.0f, 0.0f, 0.0f, 1.0f}; // the back buffer at start, the window bars

bool videoReady()
{
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0)
        return true;
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

D3DDISPLAYMODE desktopMode()
{
    D3DDISPLAYMODE mode{640, 480, 60, D3DFMT_X8R8G8B8};
    SDL_DisplayMode sdl{};
    if (videoReady() && SDL_GetDesktopDisplayMode(0, &sdl) == 0 && sdl.w > 0 && sdl.h > 0) {
        mode.Width = static_cast<UINT>(sdl.w);
        mode.Height = static_cast<UINT>(sdl.h);
        mode.RefreshRate = sdl.refresh_rate > 0 ? static_cast<UINT>(sdl.refresh_rate) : 60;
    }
    return mode;
}

// The classic sizes that fit the desktop; 640x480 always (full screen is a
// scaled borderless window, so no mode switch is needed).
int modeSizes(const D3DDISPLAYMODE& desktop, ClassicMode* sizes)
{
    int count = 0;
    for (const ClassicMode& mode : CLASSIC_MODES)
        if (count == 0 || (mode.width <= desktop.Width && mode.height <= desktop.Height))
            sizes[count++] = mode;
    return count;
}

class GlDirect3D final : public IDirect3D8 {
public:
    ULONG refs = 1;
    GlProfile profile = GlProfile::compatibility;
    const GlPipeline* pipeline = nullptr;
    // Tried when the device above can not start (no such context on this
    // driver); none when null.
    GlProfile fallbackProfile = GlProfile::compatibility;
    const GlPipeline* fallbackPipeline = nullptr;

    ULONG AddRef() override { return ++refs; }
    ULONG Release() override
    {
        ULONG left = --refs;
        if (left == 0)
            delete this;
        return left;
    }

    UINT GetAdapterModeCount(UINT adapter) override
    {
        if (adapter != D3DADAPTER_DEFAULT)
            return 0;
        ClassicMode sizes[CLASSIC_MODE_COUNT];
        return static_cast<UINT>(modeSizes(desktopMode(), sizes) * 2);
    }

    HRESULT EnumAdapterModes(UINT adapter, UINT index, D3DDISPLAYMODE* mode) override
    {
        if (adapter != D3DADAPTER_DEFAULT || mode == nullptr)
            return D3DERR_INVALIDCALL;
        D3DDISPLAYMODE desktop = desktopMode();
        ClassicMode sizes[CLASSIC_MODE_COUNT];
        UINT count = static_cast<UINT>(modeSizes(desktop, sizes));
        if (index >= count * 2)
            return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{sizes[index / 2].width, sizes[index / 2].height, desktop.RefreshRate,
                               MODE_FORMATS[index % 2]};
        return S_OK;
    }

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override
    {
        if (adapter != D3DADAPTER_DEFAULT || mode == nullptr)
            return D3DERR_INVALIDCALL;
        *mode = desktopMode();
        return S_OK;
    }

    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override
    {
        if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL || caps == nullptr)
            return D3DERR_INVALIDCALL;
        *caps = D3DCAPS8{};
        caps->DeviceType = D3DDEVTYPE_HAL;
        caps->AdapterOrdinal = adapter;
        caps->DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE;
        caps->MaxTextureWidth = GL_DEVICE_MAX_TEXTURE_SIZE;
        caps->MaxTextureHeight = GL_DEVICE_MAX_TEXTURE_SIZE;
        caps->MaxActiveLights = GL_DEVICE_LIGHTS;
        caps->MaxTextureBlendStages = GL_DEVICE_STAGES;
        caps->MaxSimultaneousTextures = GL_DEVICE_STAGES;
        caps->MaxPrimitiveCount = 0xFFFFF;
        caps->MaxVertexIndex = 0xFFFFF;
        return S_OK;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD, D3DPRESENT_PARAMETERS* parameters,
                         IDirect3DDevice8** device) override
    {
        if (device == nullptr)
            return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL || parameters == nullptr)
            return D3DERR_INVALIDCALL;
        const D3DPRESENT_PARAMETERS& p = *parameters;
        if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferWidth > GL_DEVICE_MAX_TEXTURE_SIZE ||
            p.BackBufferHeight > GL_DEVICE_MAX_TEXTURE_SIZE)
            return D3DERR_INVALIDCALL;
        if (p.EnableAutoDepthStencil && p.AutoDepthStencilFormat != D3DFMT_D16)
            return D3DERR_NOTAVAILABLE;
        if (p.BackBufferFormat != D3DFMT_X8R8G8B8 && p.BackBufferFormat != D3DFMT_R5G6B5 &&
            p.BackBufferFormat != D3DFMT_A8R8G8B8)
            return D3DERR_NOTAVAILABLE;
        if (!p.Windowed) {
            // Full screen takes only the listed sizes.
            bool listed = false;
            UINT count = GetAdapterModeCount(adapter);
            for (UINT index = 0; index < count && !listed; index++) {
                D3DDISPLAYMODE mode{};
                EnumAdapterModes(adapter, index, &mode);
                listed = mode.Width == p.BackBufferWidth && mode.Height == p.BackBufferHeight;
            }
            if (!listed)
                return D3DERR_INVALIDCALL;
        }
        HWND target = p.hDeviceWindow != nullptr ? p.hDeviceWindow : window;
        GlDevice* created = startDevice(profile, pipeline, target, p);
        if (created == nullptr && fallbackPipeline != nullptr) {
            std::fprintf(stderr, "OpenGL device: drawing with the fixed-function device instead\n");
            created = startDevice(fallbackProfile, fallbackPipeline, target, p);
        }
        if (created == nullptr)
            return D3DERR_NOTAVAILABLE;
        *device = created;
        return S_OK;
    }

    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthFormat) override
    {
        if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL)
            return D3DERR_INVALIDCALL;
        bool adapterOk = adapterFormat == D3DFMT_X8R8G8B8 || adapterFormat == D3DFMT_R5G6B5;
        bool targetOk = renderTargetFormat == D3DFMT_A8R8G8B8 || renderTargetFormat == D3DFMT_X8R8G8B8 ||
                        renderTargetFormat == D3DFMT_R5G6B5;
        if (!adapterOk || !targetOk || depthFormat != D3DFMT_D16)
            return D3DERR_NOTAVAILABLE;
        return S_OK;
    }

private:
    ~GlDirect3D() override = default;

    static GlDevice* startDevice(GlProfile profile, const GlPipeline* pipeline, HWND target,
                                 const D3DPRESENT_PARAMETERS& p)
    {
        GlDevice* created = new GlDevice();
        created->profile = profile;
        created->pipeline = pipeline;
        if (created->start(target, p))
            return created;
        created->Release();
        return nullptr;
    }
};

bool hasExtension(const char* name)
{
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; i++) {
        const char* extension = reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
        if (extension != nullptr && std::strcmp(extension, name) == 0)
            return true;
    }
    return false;
}

const D3DMATRIX IDENTITY_MATRIX = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

} // namespace

// ---------------------------------------------------------------- hooks

IDirect3D8* glCreateFactory(GlProfile profile, const GlPipeline* pipeline, GlProfile fallbackProfile,
                            const GlPipeline* fallbackPipeline)
{
    GlDirect3D* factory = new GlDirect3D();
    factory->profile = profile;
    factory->pipeline = pipeline;
    factory->fallbackProfile = fallbackProfile;
    factory->fallbackPipeline = fallbackPipeline;
    return factory;
}

void glDeviceSetPresentHook(GlPresentHook hook, void* user)
{
    presentHook = hook;
    presentHookUser = user;
}

void glDeviceSetRenderScale(int scale) { renderScale = std::clamp(scale, 1, 8); }

int glDeviceRenderScale() { return renderScale; }

GlDeviceCounters glDeviceCounters() { return glCounters; }

GlDeviceCounters glDeviceLastFrameCounters() { return lastFrameCounters; }

// ---------------------------------------------------------------- device life

namespace {

bool versionAtLeast(int major, int minor)
{
    GLint haveMajor = 0, haveMinor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &haveMajor);
    glGetIntegerv(GL_MINOR_VERSION, &haveMinor);
    return haveMajor > major || (haveMajor == major && haveMinor >= minor);
}

struct ContextRequest {
    GlProfile profile;
    int mask, major, minor;
    const char* name;
};

const ContextRequest CONTEXT_REQUESTS[] = {
    {GlProfile::compatibility, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY, 2, 1, "OpenGL (compatibility profile)"},
    {GlProfile::core, SDL_GL_CONTEXT_PROFILE_CORE, 3, 3, "OpenGL 3.3 (core profile)"},
    {GlProfile::es, SDL_GL_CONTEXT_PROFILE_ES, 3, 0, "OpenGL ES 3.0"},
};

} // namespace

// A context of the device's profile on its window, checked for what the
// device needs; the fixed-function device's limits are read here too.
bool GlDevice::createContext()
{
    const ContextRequest* request = &CONTEXT_REQUESTS[0];
    for (const ContextRequest& entry : CONTEXT_REQUESTS)
        if (entry.profile == profile)
            request = &entry;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, request->mask);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, request->major);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, request->minor);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    context = SDL_GL_CreateContext(window);
    if (context == nullptr) {
        std::fprintf(stderr, "OpenGL device: no %s context: %s\n", request->name, SDL_GetError());
        return false;
    }
    auto refuse = [&](const char* message) {
        std::fprintf(stderr, "OpenGL device: %s\n", message);
        if (SDL_GL_GetCurrentContext() == context)
            SDL_GL_MakeCurrent(window, nullptr);
        SDL_GL_DeleteContext(context);
        context = nullptr;
        return false;
    };
    if (profile != GlProfile::compatibility) {
        // The shader device asks for nothing beyond its version.
        if (!versionAtLeast(request->major, request->minor))
            return refuse("the shader device needs OpenGL ES 3.0 or OpenGL 3.3 or later");
        glUnits = GL_DEVICE_STAGES;
        return true;
    }
    // Framebuffer objects, blits and base-vertex draws are core from 3.2;
    // the clip origin needs 4.5 or its extension.
    if (!versionAtLeast(3, 2))
        return refuse("OpenGL 3.2 or later (compatibility profile) is needed");
    if (!versionAtLeast(4, 5) && !hasExtension("GL_ARB_clip_control"))
        return refuse("GL_ARB_clip_control is needed");
    fogDistance = hasExtension("GL_NV_fog_distance");
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS, &units);
    glUnits = std::clamp(static_cast<int>(units), 1, GL_DEVICE_STAGES);
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    return true;
}

bool GlDevice::start(HWND hwnd, const D3DPRESENT_PARAMETERS& present)
{
    parameters = present;
    window = platformSdlWindow(hwnd);
    if (window == nullptr || (SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL) == 0)
        return false;
    scale = renderScale;
    keepScratchMemoryOffTheHeap();
    if (!createContext())
        return false;
    // The compatibility profile takes B, G, R, A textures and targets as
    // they are; the others with this extension (textures on desktop core too).
    const bool bgraExtension =
        profile != GlProfile::compatibility && hasExtension("GL_EXT_texture_format_BGRA8888");
    bgraTextures = profile != GlProfile::es || bgraExtension;
    currentDevice = this;
    glCacheReset(glUnits);
    pipeline->reset(*this);

    bool fullscreen = !present.Windowed;
    int interval = fullscreen && present.FullScreen_PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE ? 1 : 0;
    SDL_GL_SetSwapInterval(interval); // may be refused (headless): then it stays as it is

    // Back buffer: a colour texture behind a framebuffer object.
    backBuffer.container = this;
    backBuffer.owner = this;
    backBuffer.renderTarget = true;
    backBuffer.desc = D3DSURFACE_DESC{present.BackBufferFormat, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET,
                                      D3DPOOL_DEFAULT, present.BackBufferWidth * present.BackBufferHeight * 4,
                                      D3DMULTISAMPLE_NONE, present.BackBufferWidth, present.BackBufferHeight};
    backBuffer.glWidth = static_cast<int>(present.BackBufferWidth) * scale;
    backBuffer.glHeight = static_cast<int>(present.BackBufferHeight) * scale;
    glGenTextures(1, &backBuffer.colorTexture);
    glCacheBindTexture(0, backBuffer.colorTexture);
    // Mesa's rasteriser takes its fast paths (screen-aligned rectangles
    // whole, simple fills without the shader) only into B, G, R, A colour
    // buffers. Desktop GL stores an unsized RGBA texture filled from B, G, R,
    // A bytes that way; OpenGL ES needs the BGRA8888 extension. A back buffer
    // without alpha in the original's formats then has an alpha channel all
    // the same: blending reads one for it instead (destination alpha reads
    // as one, as the original's did), and the present keeps it out of the
    // window.
    bool backBufferAlpha = present.BackBufferFormat == D3DFMT_A8R8G8B8;
    auto plainBackBuffer = [&]() {
        glTexImage2D(GL_TEXTURE_2D, 0, backBufferAlpha ? GL_RGBA8 : GL_RGB8, backBuffer.glWidth, backBuffer.glHeight, 0,
                     backBufferAlpha ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        backBuffer.alphaOne = false;
    };
    bool bgraTarget = profile == GlProfile::compatibility || bgraExtension;
    if (bgraTarget) {
        GLint internalFormat = profile == GlProfile::compatibility ? GL_RGBA : GL_BGRA_EXT;
        glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, backBuffer.glWidth, backBuffer.glHeight, 0, GL_BGRA_EXT,
                     GL_UNSIGNED_BYTE, nullptr);
        backBuffer.alphaOne = !backBufferAlpha;
    } else {
        plainBackBuffer();
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glGenFramebuffers(1, &backBuffer.framebuffer);
    glCacheDrawFramebuffer(backBuffer.framebuffer);
    glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, backBuffer.colorTexture, 0);
    if (bgraTarget && glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        plainBackBuffer(); // not a colour target on this context
    }
    glCacheClearColor(OPAQUE_BLACK);
    glClear(GL_COLOR_BUFFER_BIT);
    if (backBuffer.alphaOne) {
        // Only a window with alpha bits of its own needs them set to one.
        glCacheDrawFramebuffer(0);
        GLint alphaBits = 8;
        glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER,
                                              profile == GlProfile::compatibility ? GL_BACK_LEFT : GL_BACK,
                                              GL_FRAMEBUFFER_ATTACHMENT_ALPHA_SIZE, &alphaBits);
        while (glGetError() != GL_NO_ERROR) {
        }
        windowAlpha = alphaBits != 0;
        glCacheDrawFramebuffer(backBuffer.framebuffer);
    }

    if (present.EnableAutoDepthStencil) {
        hasDefaultDepth = true;
        defaultDepth.container = this;
        defaultDepth.owner = this;
        defaultDepth.isDepth = true;
        defaultDepth.desc = D3DSURFACE_DESC{D3DFMT_D16, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT,
                                            present.BackBufferWidth * present.BackBufferHeight * 2,
                                            D3DMULTISAMPLE_NONE, present.BackBufferWidth, present.BackBufferHeight};
        defaultDepth.glWidth = backBuffer.glWidth;
        defaultDepth.glHeight = backBuffer.glHeight;
        glGenRenderbuffers(1, &defaultDepth.renderbuffer);
        glBindRenderbuffer(GL_RENDERBUFFER, defaultDepth.renderbuffer);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, defaultDepth.glWidth, defaultDepth.glHeight);
        depthTarget = &defaultDepth;
    }
    colorTarget = &backBuffer;
    if (!bindTarget()) {
        std::fprintf(stderr, "OpenGL device: the back buffer framebuffer is incomplete\n");
        return false;
    }

    glGenBuffers(1, &streamBuffer);
    streamBufferSize = 1u << 20;
    glCacheArrayBuffer(streamBuffer);
    glBufferData(GL_ARRAY_BUFFER, streamBufferSize, nullptr, GL_STREAM_DRAW);
    glGenBuffers(1, &indexStreamBuffer);
    if (!pipeline->start(*this))
        return false;

    setDefaultState();
    glCounters = GlDeviceCounters{};
    lastFrameCounters = GlDeviceCounters{};
    return true;
}

// The original API's defaults for every state the device serves.
void GlDevice::setDefaultState()
{
    std::memset(renderStates, 0, sizeof(renderStates));
    renderStates[D3DRS_ZENABLE] = hasDefaultDepth ? TRUE : FALSE;
    renderStates[D3DRS_FILLMODE] = D3DFILL_SOLID;
    renderStates[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    renderStates[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates[D3DRS_LASTPIXEL] = TRUE;
    renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    renderStates[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    renderStates[D3DRS_FOGEND] = 0x3F800000; // 1.0f
    renderStates[D3DRS_FOGDENSITY] = 0x3F800000;
    renderStates[D3DRS_CLIPPING] = TRUE;
    renderStates[D3DRS_LIGHTING] = TRUE;
    renderStates[D3DRS_COLORVERTEX] = TRUE;
    renderStates[D3DRS_LOCALVIEWER] = TRUE;
    renderStates[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    renderStates[D3DRS_BLENDOP] = D3DBLENDOP_ADD;

    std::memset(stageStates, 0, sizeof(stageStates));
    for (int stage = 0; stage < GL_DEVICE_STAGES; stage++) {
        DWORD* s = stageStates[stage];
        s[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        s[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        s[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        s[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        s[D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(stage);
        s[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
        s[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
        s[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
        s[D3DTSS_MINFILTER] = D3DTEXF_POINT;
        s[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        s[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        textureMatrices[stage] = IDENTITY_MATRIX;
        textures[stage] = nullptr;
    }
    world = view = projection = IDENTITY_MATRIX;
    material = D3DMATERIAL8{};
    for (int index = 0; index < GL_DEVICE_LIGHTS; index++) {
        lights[index] = D3DLIGHT8{};
        lights[index].Type = D3DLIGHT_DIRECTIONAL;
        lights[index].Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
        lights[index].Direction = D3DVECTOR{0, 0, 1};
        lightEnabled[index] = false;
    }
    fvf = 0;
    layout = glVertexLayout(0);
    stream = nullptr;
    indices = nullptr;
    dirtyRenderStates = dirtyStages = dirtyTransforms = dirtyLights = dirtyMaterial = dirtyTarget = true;
}

void GlDevice::makeCurrent()
{
    if (currentDevice == this)
        return;
    SDL_GL_MakeCurrent(window, context);
    currentDevice = this;
    glCacheReset(glUnits);
    pipeline->reset(*this);
    // Framebuffer attachments are kept by the framebuffer objects themselves;
    // everything else is set again from the device's state at the next draw.
    dirtyRenderStates = dirtyStages = dirtyTransforms = dirtyLights = dirtyMaterial = dirtyTarget = true;
}

void GlDevice::addResource(GlResource* resource)
{
    resource->owner = this;
    resources.push_back(resource);
}

void GlDevice::removeResource(GlResource* resource)
{
    auto found = std::find(resources.begin(), resources.end(), resource);
    if (found != resources.end())
        resources.erase(found);
    resource->forgetBindings();
    resource->owner = nullptr;
}

ULONG GlDevice::AddRef() { return ++refs; }

ULONG GlDevice::Release()
{
    ULONG left = --refs;
    if (left == 0)
        destroy();
    return left;
}

// Deletes every GL object the device still knows, orphans the resources the
// caller still holds, and the context with them.
void GlDevice::destroy()
{
    if (context != nullptr) {
        makeCurrent();
        for (GlResource* resource : resources) {
            resource->destroyGl();
            resource->owner = nullptr;
        }
        resources.clear();
        pipeline->release(*this);
        if (streamBuffer != 0)
            glDeleteBuffers(1, &streamBuffer);
        if (indexStreamBuffer != 0)
            glDeleteBuffers(1, &indexStreamBuffer);
        if (backBuffer.framebuffer != 0)
            glDeleteFramebuffers(1, &backBuffer.framebuffer);
        if (backBuffer.colorTexture != 0)
            glDeleteTextures(1, &backBuffer.colorTexture);
        if (defaultDepth.renderbuffer != 0)
            glDeleteRenderbuffers(1, &defaultDepth.renderbuffer);
        glWaitForBatch(*this);
        SDL_GL_MakeCurrent(window, nullptr);
        SDL_GL_DeleteContext(context);
        context = nullptr;
    }
    if (currentDevice == this)
        currentDevice = nullptr;
    delete this;
}

// ---------------------------------------------------------------- frame

HRESULT GlDevice::TestCooperativeLevel() { return S_OK; }

HRESULT GlDevice::BeginScene()
{
    if (inScene)
        return D3DERR_INVALIDCALL;
    inScene = true;
    return S_OK;
}

HRESULT GlDevice::EndScene()
{
    if (!inScene)
        return D3DERR_INVALIDCALL;
    inScene = false;
    return S_OK;
}

HRESULT GlDevice::Present(const RECT*, const RECT*, HWND, const void*)
{
    makeCurrent();
    // Window: black bars around the back buffer scaled with its aspect kept.
    // The back buffer's row 0 is its top row; the window's is its bottom row.
    int windowWidth = 0, windowHeight = 0;
    SDL_GL_GetDrawableSize(window, &windowWidth, &windowHeight);
    glCacheEnable(glCache.scissor, GL_SCISSOR_TEST, false);
    glCacheDrawFramebuffer(0);
    int width = 0, height = 0;
    if (windowWidth > 0 && windowHeight > 0) {
        double fit = std::min(static_cast<double>(windowWidth) / backBuffer.glWidth,
                              static_cast<double>(windowHeight) / backBuffer.glHeight);
        width = static_cast<int>(std::lround(backBuffer.glWidth * fit));
        height = static_cast<int>(std::lround(backBuffer.glHeight * fit));
    }
    // The bars only: a picture covering the whole window needs no clear.
    if (width != windowWidth || height != windowHeight) {
        glCacheClearColor(OPAQUE_BLACK);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    if (width > 0 && height > 0) {
        int x = (windowWidth - width) / 2;
        int y = (windowHeight - height) / 2;
        glCacheReadFramebuffer(backBuffer.framebuffer);
        glBlitFramebuffer(0, 0, backBuffer.glWidth, backBuffer.glHeight, x, y + height, x + width, y,
                          GL_COLOR_BUFFER_BIT, width == backBuffer.glWidth ? GL_NEAREST : GL_LINEAR);
        if (windowAlpha) {
            // The back buffer's alpha is no picture's: the window's is one.
            glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
            glCacheClearColor(OPAQUE_BLACK);
            glClear(GL_COLOR_BUFFER_BIT);
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        }
    }
    SDL_GL_SwapWindow(window);
    dirtyTarget = true;
    // A headless swap does not wait for the rasteriser. Left to queue,
    // frames pile up in the driver, each holding its binned triangles
    // and state copies (resident memory that grows with every burst), a
    // read-back can get the previous frame, and a timed frame is one the
    // driver has only queued. One frame in flight, ended here.
    glFinish();
    glWaitForBatch(*this); // signalled by now: only its fence goes
    queuedWork = 0;
    pixelStateAtLastDraw = 0;

    if (presentHook != nullptr) {
        size_t pixels = static_cast<size_t>(backBuffer.glWidth) * backBuffer.glHeight;
        glCacheReadFramebuffer(backBuffer.framebuffer);
        if (profile == GlProfile::es) {
            // OpenGL ES reads RGBA bytes only: read those and pack them.
            readback.resize(pixels * 4);
            glReadPixels(0, 0, backBuffer.glWidth, backBuffer.glHeight, GL_RGBA, GL_UNSIGNED_BYTE, readback.data());
            for (size_t i = 0; i < pixels; i++) {
                readback[i * 3] = readback[i * 4];
                readback[i * 3 + 1] = readback[i * 4 + 1];
                readback[i * 3 + 2] = readback[i * 4 + 2];
            }
        } else {
            readback.resize(pixels * 3);
            glReadPixels(0, 0, backBuffer.glWidth, backBuffer.glHeight, GL_RGB, GL_UNSIGNED_BYTE, readback.data());
        }
        presentHook(readback.data(), backBuffer.glWidth, backBuffer.glHeight, presentHookUser);
    }
#ifndef NDEBUG
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError())
        std::fprintf(stderr, "OpenGL device: GL error 0x%x in the frame\n", error);
#endif
    std::uint32_t frames = glCounters.frames + 1;
    lastFrameCounters = glCounters;
    lastFrameCounters.frames = frames;
    glCounters = GlDeviceCounters{};
    glCounters.frames = frames;
    return S_OK;
}

bool GlDevice::bindTarget(bool withDepth)
{
    GlSurface& color = *colorTarget;
    glCacheDrawFramebuffer(color.framebuffer);
    GLuint depth = withDepth && depthTarget != nullptr ? depthTarget->renderbuffer : 0;
    if (color.attachedDepth != depth) {
        color.attachedDepth = depth;
        glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
        glCountState();
        if (glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            return false;
    }
    glCacheViewport(0, 0, color.glWidth, color.glHeight);
    return true;
}

HRESULT GlDevice::Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD)
{
    if ((flags & D3DCLEAR_ZBUFFER) != 0 && depthTarget == nullptr)
        return D3DERR_INVALIDCALL;
    if ((count > 0 && rects == nullptr) || (flags & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)) == 0)
        return (flags & D3DCLEAR_STENCIL) != 0 ? D3DERR_INVALIDCALL : S_OK;
    makeCurrent();
    bindTarget((flags & D3DCLEAR_ZBUFFER) != 0);
    GLbitfield mask = 0;
    if ((flags & D3DCLEAR_TARGET) != 0) {
        float rgba[4];
        glColorFloats(color, rgba);
        glCacheClearColor(rgba);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    bool restoreDepthMask = false;
    if ((flags & D3DCLEAR_ZBUFFER) != 0) {
        glCacheClearDepth(std::clamp(z, 0.0f, 1.0f));
        // A clear writes depth whatever ZWRITEENABLE says.
        restoreDepthMask = !glCache.depthMask;
        glCacheDepthMask(true);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (count == 0) {
        glCacheEnable(glCache.scissor, GL_SCISSOR_TEST, false);
        glClear(mask);
        glCounters.clears++;
    } else {
        glCacheEnable(glCache.scissor, GL_SCISSOR_TEST, true);
        for (DWORD i = 0; i < count; i++) {
            const RECT& r = rects[i];
            int left = std::max(0, static_cast<int>(r.left)) * scale;
            int top = std::max(0, static_cast<int>(r.top)) * scale;
            int right = std::min(colorTarget->glWidth, static_cast<int>(r.right) * scale);
            int bottom = std::min(colorTarget->glHeight, static_cast<int>(r.bottom) * scale);
            if (right <= left || bottom <= top)
                continue;
            // Scissor boxes are not affected by the clip origin: row 0 is the top row.
            glCacheScissor(left, top, right - left, bottom - top);
            glClear(mask);
            glCounters.clears++;
        }
        glCacheEnable(glCache.scissor, GL_SCISSOR_TEST, false);
    }
    if (restoreDepthMask)
        glCacheDepthMask(false);
    return S_OK;
}

// ---------------------------------------------------------------- render targets

HRESULT GlDevice::GetRenderTarget(IDirect3DSurface8** surface)
{
    if (surface == nullptr)
        return D3DERR_INVALIDCALL;
    *surface = colorTarget;
    colorTarget->AddRef();
    return S_OK;
}

HRESULT GlDevice::GetDepthStencilSurface(IDirect3DSurface8** surface)
{
    if (surface == nullptr)
        return D3DERR_INVALIDCALL;
    *surface = depthTarget;
    if (depthTarget == nullptr)
        return D3DERR_NOTAVAILABLE;
    depthTarget->AddRef();
    return S_OK;
}

HRESULT GlDevice::SetRenderTarget(IDirect3DSurface8* color, IDirect3DSurface8* depth)
{
    // Null colour keeps the current target; null depth renders without depth.
    GlSurface* newColor = color != nullptr ? static_cast<GlSurface*>(color) : colorTarget;
    GlSurface* newDepth = static_cast<GlSurface*>(depth);
    if (newColor->isDepth || !newColor->renderTarget || newColor->owner != this)
        return D3DERR_INVALIDCALL;
    if (newDepth != nullptr) {
        if (!newDepth->isDepth || newDepth->owner != this)
            return D3DERR_INVALIDCALL;
        // The depth surface must cover the whole colour target.
        if (newDepth->desc.Width < newColor->desc.Width || newDepth->desc.Height < newColor->desc.Height)
            return D3DERR_INVALIDCALL;
    }
    if (newColor == colorTarget && newDepth == depthTarget)
        return S_OK;
    GlSurface* oldColor = colorTarget;
    GlSurface* oldDepth = depthTarget;
    colorTarget = newColor;
    depthTarget = newDepth;
    makeCurrent();
    if (!bindTarget()) {
        colorTarget = oldColor;
        depthTarget = oldDepth;
        bindTarget();
        return E_FAIL;
    }
    dirtyTarget = true;
    dirtyRenderStates = true; // depth testing follows whether a depth buffer is there
    return S_OK;
}

// ---------------------------------------------------------------- settings

HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    if (state < 0 || state >= GL_DEVICE_RENDER_STATES)
        return D3DERR_INVALIDCALL;
    DWORD& slot = renderStates[state];
    if (slot == value)
        return S_OK;
    slot = value;
    dirtyRenderStates = true;
    if (state == D3DRS_AMBIENT || state == D3DRS_SPECULARENABLE || state == D3DRS_LIGHTING ||
        state == D3DRS_COLORVERTEX || state == D3DRS_DIFFUSEMATERIALSOURCE)
        dirtyMaterial = true;
    return S_OK;
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    if (stage >= GL_DEVICE_STAGES || type < 0 || type >= GL_DEVICE_STAGE_STATES)
        return D3DERR_INVALIDCALL;
    DWORD& slot = stageStates[stage][type];
    if (slot == value)
        return S_OK;
    slot = value;
    dirtyStages = true;
    return S_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DTexture8* texture)
{
    if (stage >= GL_DEVICE_STAGES)
        return D3DERR_INVALIDCALL;
    GlTexture* glTexture = static_cast<GlTexture*>(texture);
    if (glTexture != nullptr && glTexture->owner != this)
        return D3DERR_INVALIDCALL;
    if (textures[stage] == glTexture)
        return S_OK;
    textures[stage] = glTexture;
    dirtyStages = true;
    return S_OK;
}

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix)
{
    if (matrix == nullptr)
        return D3DERR_INVALIDCALL;
    D3DMATRIX* slot = nullptr;
    if (type == D3DTS_WORLD)
        slot = &world;
    else if (type == D3DTS_VIEW)
        slot = &view;
    else if (type == D3DTS_PROJECTION)
        slot = &projection;
    else if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7)
        slot = &textureMatrices[type - D3DTS_TEXTURE0];
    else
        return D3DERR_INVALIDCALL;
    if (std::memcmp(slot, matrix, sizeof(D3DMATRIX)) == 0)
        return S_OK;
    *slot = *matrix;
    if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7)
        dirtyStages = true;
    else
        dirtyTransforms = true;
    if (type == D3DTS_VIEW)
        dirtyLights = true; // lights live in world space; GL wants them in eye space
    return S_OK;
}

HRESULT GlDevice::SetMaterial(const D3DMATERIAL8* newMaterial)
{
    if (newMaterial == nullptr)
        return D3DERR_INVALIDCALL;
    if (std::memcmp(&material, newMaterial, sizeof(D3DMATERIAL8)) == 0)
        return S_OK;
    material = *newMaterial;
    dirtyMaterial = true;
    return S_OK;
}

HRESULT GlDevice::SetLight(DWORD index, const D3DLIGHT8* light)
{
    if (index >= GL_DEVICE_LIGHTS || light == nullptr)
        return D3DERR_INVALIDCALL;
    if (light->Type != D3DLIGHT_POINT && light->Type != D3DLIGHT_SPOT && light->Type != D3DLIGHT_DIRECTIONAL)
        return D3DERR_INVALIDCALL;
    if (std::memcmp(&lights[index], light, sizeof(D3DLIGHT8)) == 0)
        return S_OK;
    lights[index] = *light;
    dirtyLights = true;
    return S_OK;
}

HRESULT GlDevice::LightEnable(DWORD index, BOOL enable)
{
    if (index >= GL_DEVICE_LIGHTS)
        return D3DERR_INVALIDCALL;
    bool on = enable != FALSE;
    if (lightEnabled[index] == on)
        return S_OK;
    lightEnabled[index] = on;
    dirtyLights = true;
    return S_OK;
}

HRESULT GlDevice::SetVertexShader(DWORD newFvf)
{
    GlVertexLayout newLayout = glVertexLayout(newFvf);
    if (newLayout.stride == 0)
        return D3DERR_INVALIDCALL; // only fixed-function vertex formats with a position
    if (fvf == newFvf)
        return S_OK;
    fvf = newFvf;
    layout = newLayout;
    dirtyStages = true; // which texture sets exist
    dirtyRenderStates = true; // colour material needs a vertex colour
    return S_OK;
}

HRESULT GlDevice::SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer8* buffer, UINT stride)
{
    if (streamNumber != 0)
        return D3DERR_INVALIDCALL;
    GlVertexBuffer* vertexBuffer = static_cast<GlVertexBuffer*>(buffer);
    if (vertexBuffer != nullptr && (vertexBuffer->owner != this || stride == 0))
        return D3DERR_INVALIDCALL;
    stream = vertexBuffer;
    streamStride = vertexBuffer != nullptr ? stride : 0;
    return S_OK;
}

HRESULT GlDevice::SetIndices(IDirect3DIndexBuffer8* buffer, UINT baseVertex)
{
    GlIndexBuffer* indexBuffer = static_cast<GlIndexBuffer*>(buffer);
    if (indexBuffer != nullptr && indexBuffer->owner != this)
        return D3DERR_INVALIDCALL;
    indices = indexBuffer;
    baseVertexIndex = baseVertex;
    return S_OK;
}
