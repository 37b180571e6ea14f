// The recording device: logs every call of the 3D API with its arguments,
// keeps what was set so tests can ask for it, hands out real memory for
// locks and fails chosen calls on request. Draws nothing.
// Depends on: platform/d3d8.h only.
#include "platform/recording/recording_device.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// ---------------------------------------------------------------- calls, log, failures

enum Method : int {
    M_AddRef, M_Release,
    M_GetAdapterModeCount, M_EnumAdapterModes, M_GetAdapterDisplayMode, M_GetDeviceCaps, M_CreateDevice,
    M_CheckDepthStencilMatch,
    M_TestCooperativeLevel, M_BeginScene, M_EndScene, M_Present, M_Clear,
    M_GetRenderTarget, M_GetDepthStencilSurface, M_SetRenderTarget,
    M_SetRenderState, M_SetTextureStageState, M_SetTexture, M_SetTransform, M_SetMaterial, M_SetLight,
    M_LightEnable,
    M_CreateTexture, M_CreateVertexBuffer, M_CreateIndexBuffer, M_CreateDepthStencilSurface,
    M_SetVertexShader, M_SetStreamSource, M_SetIndices, M_DrawIndexedPrimitive, M_DrawPrimitiveUP,
    M_GetDesc, M_GetLevelDesc, M_GetSurfaceLevel, M_LockRect, M_UnlockRect, M_Lock, M_Unlock,
    METHOD_COUNT
};

const char* const methodNames[METHOD_COUNT] = {
    "AddRef", "Release",
    "GetAdapterModeCount", "EnumAdapterModes", "GetAdapterDisplayMode", "GetDeviceCaps", "CreateDevice",
    "CheckDepthStencilMatch",
    "TestCooperativeLevel", "BeginScene", "EndScene", "Present", "Clear",
    "GetRenderTarget", "GetDepthStencilSurface", "SetRenderTarget",
    "SetRenderState", "SetTextureStageState", "SetTexture", "SetTransform", "SetMaterial", "SetLight",
    "LightEnable",
    "CreateTexture", "CreateVertexBuffer", "CreateIndexBuffer", "CreateDepthStencilSurface",
    "SetVertexShader", "SetStreamSource", "SetIndices", "DrawIndexedPrimitive", "DrawPrimitiveUP",
    "GetDesc", "GetLevelDesc", "GetSurfaceLevel", "LockRect", "UnlockRect", "Lock", "Unlock",
};

struct Failure {
    Method method;
    HRESULT result;
    int occurrence; // 0: always
    int seen;
};

RecordingConfig config;
bool loggingOn = true;
std::vector<std::string> logLines;
int callCounts[METHOD_COUNT];
std::vector<Failure> failures;
HRESULT cooperativeLevel = S_OK;
RecordingUserDraw lastUserDraw{};
int drawCount = 0;
long long primitiveCount = 0;

// Counts the call and tells whether it must fail (S_OK: go on).
HRESULT enter(Method method)
{
    ++callCounts[method];
    HRESULT result = S_OK;
    for (Failure& failure : failures) {
        if (failure.method != method)
            continue;
        ++failure.seen;
        if (failure.occurrence == 0 || failure.seen == failure.occurrence)
            result = failure.result;
    }
    return result;
}

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logLine(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    logLines.emplace_back(text);
}

// Appends " -> E 0x..." when a call was made to fail.
std::string outcome(HRESULT result)
{
    if (SUCCEEDED(result))
        return {};
    char text[32];
    std::snprintf(text, sizeof text, " -> failed 0x%08x", static_cast<unsigned>(result));
    return text;
}

// ---------------------------------------------------------------- objects

struct ObjectRecord {
    std::string label;
    const void* self; // the interface pointer handed out
    ULONG references;
    void (*destroy)(ObjectRecord*);
    void* owner; // the object itself, for destroy
};

// Every object since the last reset; shells stay until the next reset so
// stale pointers in a test never reach freed memory.
std::vector<ObjectRecord*> objects;
int labelCounters[8];
enum LabelKind { L_TEXTURE, L_VERTEX, L_INDEX, L_DEPTH };

std::string nextLabel(LabelKind kind)
{
    static const char* const prefixes[] = {"texture", "vertexbuffer", "indexbuffer", "depth"};
    return prefixes[kind] + std::to_string(++labelCounters[kind]);
}

const char* labelOf(const void* pointer)
{
    if (pointer == nullptr)
        return "NULL";
    for (ObjectRecord* record : objects)
        if (record->self == pointer)
            return record->label.c_str();
    return "?";
}

// Reference counting shared by every recording object. The object's own
// memory (lock storage) is dropped when the count reaches 0.
template <class Interface>
class Recorded : public Interface {
public:
    ObjectRecord record{};

    void registerAs(std::string label)
    {
        record.label = std::move(label);
        record.self = static_cast<Interface*>(this);
        record.references = 1;
        record.owner = this;
        record.destroy = [](ObjectRecord* r) { delete static_cast<Recorded<Interface>*>(r->owner); };
        objects.push_back(&record);
    }

    ULONG AddRef() override
    {
        enter(M_AddRef);
        if (loggingOn)
            logLine("%s.AddRef()", record.label.c_str());
        return ++record.references;
    }

    ULONG Release() override
    {
        enter(M_Release);
        if (record.references == 0) {
            if (loggingOn)
                logLine("%s.Release() -> over-release", record.label.c_str());
            return 0;
        }
        if (loggingOn)
            logLine("%s.Release()", record.label.c_str());
        if (--record.references == 0)
            released();
        return record.references;
    }

    virtual void released() {}
    virtual ~Recorded() = default;
};

class RecSurface final : public Recorded<IDirect3DSurface8> {
public:
    D3DSURFACE_DESC desc{};

    HRESULT GetDesc(D3DSURFACE_DESC* out) override
    {
        HRESULT result = enter(M_GetDesc);
        if (loggingOn)
            logLine("%s.GetDesc()%s", record.label.c_str(), outcome(result).c_str());
        if (FAILED(result))
            return result;
        *out = desc;
        return S_OK;
    }
};

int bytesPerPixel(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_D16:
        return 2;
    case D3DFMT_A8:
        return 1;
    case D3DFMT_R8G8B8:
        return 3;
    default:
        return 4;
    }
}

class RecTexture final : public Recorded<IDirect3DTexture8> {
public:
    D3DSURFACE_DESC desc{};
    int pitch = 0;
    std::vector<BYTE> texels;
    bool locked = false;
    RecSurface* level = nullptr;

    HRESULT GetLevelDesc(UINT levelIndex, D3DSURFACE_DESC* out) override
    {
        HRESULT result = enter(M_GetLevelDesc);
        if (loggingOn)
            logLine("%s.GetLevelDesc(%u)%s", record.label.c_str(), levelIndex, outcome(result).c_str());
        if (FAILED(result))
            return result;
        if (levelIndex != 0)
            return D3DERR_INVALIDCALL;
        *out = desc;
        return S_OK;
    }

    HRESULT GetSurfaceLevel(UINT levelIndex, IDirect3DSurface8** surface) override
    {
        HRESULT result = enter(M_GetSurfaceLevel);
        *surface = nullptr;
        if (SUCCEEDED(result) && levelIndex != 0)
            result = D3DERR_INVALIDCALL;
        if (SUCCEEDED(result)) {
            if (level == nullptr) {
                level = new RecSurface();
                level->registerAs(record.label + ".surface");
                level->desc = desc;
                level->desc.Type = D3DRTYPE_SURFACE;
            } else {
                ++level->record.references;
            }
            *surface = level;
        }
        if (loggingOn)
            logLine("%s.GetSurfaceLevel(%u)%s", record.label.c_str(), levelIndex, outcome(result).c_str());
        return result;
    }

    HRESULT LockRect(UINT levelIndex, D3DLOCKED_RECT* out, const RECT* rect, DWORD flags) override
    {
        HRESULT result = enter(M_LockRect);
        if (SUCCEEDED(result) && (levelIndex != 0 || locked || texels.empty()))
            result = D3DERR_INVALIDCALL;
        if (loggingOn)
            logLine("%s.LockRect(%u, %s, %u)%s", record.label.c_str(), levelIndex, rect == nullptr ? "NULL" : "rect",
                    flags, outcome(result).c_str());
        if (FAILED(result)) {
            out->pBits = nullptr;
            out->Pitch = 0;
            return result;
        }
        locked = true;
        out->pBits = texels.data();
        out->Pitch = pitch;
        return S_OK;
    }

    HRESULT UnlockRect(UINT levelIndex) override
    {
        HRESULT result = enter(M_UnlockRect);
        if (SUCCEEDED(result) && (levelIndex != 0 || !locked))
            result = D3DERR_INVALIDCALL;
        if (loggingOn)
            logLine("%s.UnlockRect(%u)%s", record.label.c_str(), levelIndex, outcome(result).c_str());
        if (SUCCEEDED(result))
            locked = false;
        return result;
    }

    void released() override
    {
        texels.clear();
        texels.shrink_to_fit();
    }
};

template <class Interface>
class RecBuffer final : public Recorded<Interface> {
public:
    std::vector<BYTE> memory;
    bool locked = false;

    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override
    {
        HRESULT result = enter(M_Lock);
        if (SUCCEEDED(result) && (locked || offset > memory.size() || memory.empty()))
            result = D3DERR_INVALIDCALL;
        if (loggingOn)
            logLine("%s.Lock(%u, %u, %u)%s", this->record.label.c_str(), offset, size, flags, outcome(result).c_str());
        if (FAILED(result)) {
            *data = nullptr;
            return result;
        }
        locked = true;
        *data = memory.data() + offset;
        return S_OK;
    }

    HRESULT Unlock() override
    {
        HRESULT result = enter(M_Unlock);
        if (SUCCEEDED(result) && !locked)
            result = D3DERR_INVALIDCALL;
        if (loggingOn)
            logLine("%s.Unlock()%s", this->record.label.c_str(), outcome(result).c_str());
        if (SUCCEEDED(result))
            locked = false;
        return result;
    }

    void released() override
    {
        memory.clear();
        memory.shrink_to_fit();
    }
};

using RecVertexBuffer = RecBuffer<IDirect3DVertexBuffer8>;
using RecIndexBuffer = RecBuffer<IDirect3DIndexBuffer8>;

std::string matrixText(const D3DMATRIX& matrix)
{
    std::string text = "[";
    char number[32];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(number, sizeof number, i == 0 ? "%g" : " %g", static_cast<double>(matrix.m[i / 4][i % 4]));
        text += number;
    }
    return text + "]";
}

std::string colorText(const D3DCOLORVALUE& c)
{
    char text[96];
    std::snprintf(text, sizeof text, "(%g %g %g %g)", static_cast<double>(c.r), static_cast<double>(c.g),
                  static_cast<double>(c.b), static_cast<double>(c.a));
    return text;
}

UINT verticesOf(D3DPRIMITIVETYPE type, UINT primitives)
{
    switch (type) {
    case D3DPT_POINTLIST:
        return primitives;
    case D3DPT_LINELIST:
        return primitives * 2;
    case D3DPT_LINESTRIP:
        return primitives + 1;
    case D3DPT_TRIANGLELIST:
        return primitives * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        return primitives + 2;
    }
    return 0;
}

// ---------------------------------------------------------------- device

constexpr int RENDER_STATES = 256;
constexpr int STAGES = 8;
constexpr int STAGE_STATES = 32;
constexpr int TRANSFORMS = 260;
constexpr int LIGHTS = 16;

class RecDevice final : public Recorded<IDirect3DDevice8> {
public:
    D3DPRESENT_PARAMETERS parameters{};
    RecSurface* backBuffer = nullptr;
    RecSurface* defaultDepth = nullptr;

    DWORD renderStates[RENDER_STATES];
    DWORD stageStates[STAGES][STAGE_STATES];
    D3DMATRIX transforms[TRANSFORMS];
    IDirect3DTexture8* textures[STAGES] = {};
    D3DLIGHT8 lights[LIGHTS] = {};
    bool lightOn[LIGHTS] = {};
    D3DMATERIAL8 material{};
    DWORD vertexShader = 0;
    IDirect3DVertexBuffer8* stream = nullptr;
    UINT streamStride = 0;
    IDirect3DIndexBuffer8* indices = nullptr;
    UINT baseVertex = 0;
    IDirect3DSurface8* colorTarget = nullptr;
    IDirect3DSurface8* depthTarget = nullptr;

    RecDevice()
    {
        for (DWORD& state : renderStates)
            state = 0;
        // The defaults the renderer relies on and never sets.
        renderStates[D3DRS_ZENABLE] = TRUE;
        renderStates[D3DRS_FILLMODE] = D3DFILL_SOLID;
        renderStates[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
        renderStates[D3DRS_ZWRITEENABLE] = TRUE;
        renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
        renderStates[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
        renderStates[D3DRS_CULLMODE] = D3DCULL_CCW;
        renderStates[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
        renderStates[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
        renderStates[D3DRS_FOGEND] = 0x3F800000; // 1.0f
        renderStates[D3DRS_CLIPPING] = TRUE;
        renderStates[D3DRS_LIGHTING] = TRUE;
        renderStates[D3DRS_COLORVERTEX] = TRUE;
        renderStates[D3DRS_LOCALVIEWER] = TRUE;
        renderStates[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
        renderStates[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
        for (int stage = 0; stage < STAGES; ++stage) {
            for (DWORD& state : stageStates[stage])
                state = 0;
            stageStates[stage][D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
            stageStates[stage][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
            stageStates[stage][D3DTSS_COLORARG2] = D3DTA_CURRENT;
            stageStates[stage][D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
            stageStates[stage][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
            stageStates[stage][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
            stageStates[stage][D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(stage);
            stageStates[stage][D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
            stageStates[stage][D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
            stageStates[stage][D3DTSS_MAGFILTER] = D3DTEXF_POINT;
            stageStates[stage][D3DTSS_MINFILTER] = D3DTEXF_POINT;
            stageStates[stage][D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        }
        for (D3DMATRIX& matrix : transforms) {
            std::memset(&matrix, 0, sizeof matrix);
            matrix.m[0][0] = matrix.m[1][1] = matrix.m[2][2] = matrix.m[3][3] = 1.0f;
        }
    }

    void released() override
    {
        // The device holds one reference on its own surfaces.
        if (backBuffer != nullptr && backBuffer->record.references > 0 && --backBuffer->record.references == 0)
            backBuffer->released();
        if (defaultDepth != nullptr && defaultDepth->record.references > 0 &&
            --defaultDepth->record.references == 0)
            defaultDepth->released();
    }

    HRESULT TestCooperativeLevel() override
    {
        HRESULT result = enter(M_TestCooperativeLevel);
        if (SUCCEEDED(result))
            result = cooperativeLevel;
        if (loggingOn)
            logLine("TestCooperativeLevel()%s", outcome(result).c_str());
        return result;
    }

    HRESULT BeginScene() override { return simple(M_BeginScene); }
    HRESULT EndScene() override { return simple(M_EndScene); }

    HRESULT Present(const RECT* source, const RECT* dest, HWND window, const void* dirty) override
    {
        HRESULT result = enter(M_Present);
        if (SUCCEEDED(result) && cooperativeLevel == D3DERR_DEVICELOST)
            result = D3DERR_DEVICELOST;
        if (loggingOn)
            logLine("Present(%s, %s, %s, %s)%s", source ? "rect" : "NULL", dest ? "rect" : "NULL",
                    window ? "window" : "NULL", dirty ? "region" : "NULL", outcome(result).c_str());
        return result;
    }

    HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override
    {
        HRESULT result = enter(M_Clear);
        if (loggingOn)
            logLine("Clear(%u, %s, %u, 0x%08x, %g, %u)%s", count, rects ? "rects" : "NULL", flags, color,
                    static_cast<double>(z), stencil, outcome(result).c_str());
        return result;
    }

    HRESULT GetRenderTarget(IDirect3DSurface8** surface) override
    {
        return getSurface(M_GetRenderTarget, backBuffer, surface);
    }

    HRESULT GetDepthStencilSurface(IDirect3DSurface8** surface) override
    {
        return getSurface(M_GetDepthStencilSurface, defaultDepth, surface);
    }

    HRESULT SetRenderTarget(IDirect3DSurface8* color, IDirect3DSurface8* depth) override
    {
        HRESULT result = enter(M_SetRenderTarget);
        if (loggingOn)
            logLine("SetRenderTarget(%s, %s)%s", labelOf(color), labelOf(depth), outcome(result).c_str());
        if (SUCCEEDED(result)) {
            if (color != nullptr)
                colorTarget = color;
            depthTarget = depth;
        }
        return result;
    }

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override
    {
        HRESULT result = enter(M_SetRenderState);
        if (loggingOn)
            logLine("SetRenderState(%d, %u)%s", static_cast<int>(state), value, outcome(result).c_str());
        if (SUCCEEDED(result) && state >= 0 && state < RENDER_STATES)
            renderStates[state] = value;
        return result;
    }

    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override
    {
        HRESULT result = enter(M_SetTextureStageState);
        if (loggingOn)
            logLine("SetTextureStageState(%u, %d, %u)%s", stage, static_cast<int>(type), value,
                    outcome(result).c_str());
        if (SUCCEEDED(result) && stage < STAGES && type >= 0 && type < STAGE_STATES)
            stageStates[stage][type] = value;
        return result;
    }

    HRESULT SetTexture(DWORD stage, IDirect3DTexture8* texture) override
    {
        HRESULT result = enter(M_SetTexture);
        if (loggingOn)
            logLine("SetTexture(%u, %s)%s", stage, labelOf(texture), outcome(result).c_str());
        if (SUCCEEDED(result) && stage < STAGES)
            textures[stage] = texture;
        return result;
    }

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix) override
    {
        HRESULT result = enter(M_SetTransform);
        if (loggingOn)
            logLine("SetTransform(%d, %s)%s", static_cast<int>(type), matrixText(*matrix).c_str(),
                    outcome(result).c_str());
        if (SUCCEEDED(result) && type >= 0 && type < TRANSFORMS)
            transforms[type] = *matrix;
        return result;
    }

    HRESULT SetMaterial(const D3DMATERIAL8* value) override
    {
        HRESULT result = enter(M_SetMaterial);
        if (loggingOn)
            logLine("SetMaterial({%s, %s, %s, %s, %g})%s", colorText(value->Diffuse).c_str(),
                    colorText(value->Ambient).c_str(), colorText(value->Specular).c_str(),
                    colorText(value->Emissive).c_str(), static_cast<double>(value->Power), outcome(result).c_str());
        if (SUCCEEDED(result))
            material = *value;
        return result;
    }

    HRESULT SetLight(DWORD index, const D3DLIGHT8* light) override
    {
        HRESULT result = enter(M_SetLight);
        if (loggingOn)
            logLine("SetLight(%u, {%d, %s, %s, %s, (%g %g %g), (%g %g %g), %g, %g, %g, %g, %g, %g, %g})%s", index,
                    static_cast<int>(light->Type), colorText(light->Diffuse).c_str(),
                    colorText(light->Specular).c_str(), colorText(light->Ambient).c_str(),
                    static_cast<double>(light->Position.x), static_cast<double>(light->Position.y),
                    static_cast<double>(light->Position.z), static_cast<double>(light->Direction.x),
                    static_cast<double>(light->Direction.y), static_cast<double>(light->Direction.z),
                    static_cast<double>(light->Range), static_cast<double>(light->Falloff),
                    static_cast<double>(light->Attenuation0), static_cast<double>(light->Attenuation1),
                    static_cast<double>(light->Attenuation2), static_cast<double>(light->Theta),
                    static_cast<double>(light->Phi), outcome(result).c_str());
        if (SUCCEEDED(result) && index < LIGHTS)
            lights[index] = *light;
        return result;
    }

    HRESULT LightEnable(DWORD index, BOOL enable) override
    {
        HRESULT result = enter(M_LightEnable);
        if (loggingOn)
            logLine("LightEnable(%u, %d)%s", index, enable, outcome(result).c_str());
        if (SUCCEEDED(result) && index < LIGHTS)
            lightOn[index] = enable != FALSE;
        return result;
    }

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture8** texture) override
    {
        HRESULT result = enter(M_CreateTexture);
        *texture = nullptr;
        if (SUCCEEDED(result) && (width == 0 || height == 0 || width > config.maxTextureWidth ||
                                  height > config.maxTextureHeight))
            result = D3DERR_INVALIDCALL;
        RecTexture* created = nullptr;
        if (SUCCEEDED(result)) {
            created = new RecTexture();
            created->registerAs(nextLabel(L_TEXTURE));
            created->desc = D3DSURFACE_DESC{format, D3DRTYPE_TEXTURE, usage, pool, 0, D3DMULTISAMPLE_NONE,
                                            width, height};
            created->pitch = static_cast<int>(width) * bytesPerPixel(format);
            created->texels.assign(static_cast<std::size_t>(created->pitch) * height, 0);
            created->desc.Size = static_cast<UINT>(created->texels.size());
            *texture = created;
        }
        if (loggingOn)
            logLine("CreateTexture(%u, %u, %u, %u, %d, %d) -> %s%s", width, height, levels, usage,
                    static_cast<int>(format), static_cast<int>(pool), created ? created->record.label.c_str() : "NULL",
                    outcome(result).c_str());
        return result;
    }

    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer8** buffer) override
    {
        HRESULT result = enter(M_CreateVertexBuffer);
        *buffer = nullptr;
        if (SUCCEEDED(result) && length == 0)
            result = D3DERR_INVALIDCALL;
        RecVertexBuffer* created = nullptr;
        if (SUCCEEDED(result)) {
            created = new RecVertexBuffer();
            created->registerAs(nextLabel(L_VERTEX));
            created->memory.assign(length, 0);
            *buffer = created;
        }
        if (loggingOn)
            logLine("CreateVertexBuffer(%u, 0x%x, 0x%03x, %d) -> %s%s", length, usage, fvf, static_cast<int>(pool),
                    created ? created->record.label.c_str() : "NULL", outcome(result).c_str());
        return result;
    }

    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer8** buffer) override
    {
        HRESULT result = enter(M_CreateIndexBuffer);
        *buffer = nullptr;
        if (SUCCEEDED(result) && length == 0)
            result = D3DERR_INVALIDCALL;
        RecIndexBuffer* created = nullptr;
        if (SUCCEEDED(result)) {
            created = new RecIndexBuffer();
            created->registerAs(nextLabel(L_INDEX));
            created->memory.assign(length, 0);
            *buffer = created;
        }
        if (loggingOn)
            logLine("CreateIndexBuffer(%u, 0x%x, %d, %d) -> %s%s", length, usage, static_cast<int>(format),
                    static_cast<int>(pool), created ? created->record.label.c_str() : "NULL",
                    outcome(result).c_str());
        return result;
    }

    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      IDirect3DSurface8** surface) override
    {
        HRESULT result = enter(M_CreateDepthStencilSurface);
        *surface = nullptr;
        if (SUCCEEDED(result) && (width == 0 || height == 0))
            result = D3DERR_INVALIDCALL;
        RecSurface* created = nullptr;
        if (SUCCEEDED(result)) {
            created = new RecSurface();
            created->registerAs(nextLabel(L_DEPTH));
            created->desc = D3DSURFACE_DESC{format, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT,
                                            width * height * 2, multiSample, width, height};
            *surface = created;
        }
        if (loggingOn)
            logLine("CreateDepthStencilSurface(%u, %u, %d, %d) -> %s%s", width, height, static_cast<int>(format),
                    static_cast<int>(multiSample), created ? created->record.label.c_str() : "NULL",
                    outcome(result).c_str());
        return result;
    }

    HRESULT SetVertexShader(DWORD fvf) override
    {
        HRESULT result = enter(M_SetVertexShader);
        if (loggingOn)
            logLine("SetVertexShader(0x%03x)%s", fvf, outcome(result).c_str());
        if (SUCCEEDED(result))
            vertexShader = fvf;
        return result;
    }

    HRESULT SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer8* buffer, UINT stride) override
    {
        HRESULT result = enter(M_SetStreamSource);
        if (loggingOn)
            logLine("SetStreamSource(%u, %s, %u)%s", streamNumber, labelOf(buffer), stride, outcome(result).c_str());
        if (SUCCEEDED(result) && streamNumber == 0) {
            stream = buffer;
            streamStride = stride;
        }
        return result;
    }

    HRESULT SetIndices(IDirect3DIndexBuffer8* buffer, UINT base) override
    {
        HRESULT result = enter(M_SetIndices);
        if (loggingOn)
            logLine("SetIndices(%s, %u)%s", labelOf(buffer), base, outcome(result).c_str());
        if (SUCCEEDED(result)) {
            indices = buffer;
            baseVertex = base;
        }
        return result;
    }

    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount, UINT startIndex,
                                 UINT primitives) override
    {
        HRESULT result = enter(M_DrawIndexedPrimitive);
        if (loggingOn)
            logLine("DrawIndexedPrimitive(%d, %u, %u, %u, %u)%s", static_cast<int>(type), minIndex, vertexCount,
                    startIndex, primitives, outcome(result).c_str());
        if (SUCCEEDED(result)) {
            ++drawCount;
            primitiveCount += primitives;
        }
        return result;
    }

    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitives, const void* vertices, UINT stride) override
    {
        HRESULT result = enter(M_DrawPrimitiveUP);
        if (loggingOn)
            logLine("DrawPrimitiveUP(%d, %u, %s, %u)%s", static_cast<int>(type), primitives,
                    vertices ? "vertices" : "NULL", stride, outcome(result).c_str());
        if (SUCCEEDED(result)) {
            ++drawCount;
            primitiveCount += primitives;
            lastUserDraw.type = type;
            lastUserDraw.primitiveCount = primitives;
            lastUserDraw.stride = stride;
            std::size_t bytes = static_cast<std::size_t>(verticesOf(type, primitives)) * stride;
            const BYTE* begin = static_cast<const BYTE*>(vertices);
            if (begin != nullptr)
                lastUserDraw.vertices.assign(begin, begin + bytes);
            else
                lastUserDraw.vertices.clear();
        }
        return result;
    }

private:
    HRESULT simple(Method method)
    {
        HRESULT result = enter(method);
        if (loggingOn)
            logLine("%s()%s", methodNames[method], outcome(result).c_str());
        return result;
    }

    HRESULT getSurface(Method method, RecSurface* own, IDirect3DSurface8** surface)
    {
        HRESULT result = enter(method);
        *surface = nullptr;
        if (SUCCEEDED(result)) {
            ++own->record.references;
            *surface = own;
        }
        if (loggingOn)
            logLine("%s() -> %s%s", methodNames[method], SUCCEEDED(result) ? own->record.label.c_str() : "NULL",
                    outcome(result).c_str());
        return result;
    }
};

RecDevice* currentDevice = nullptr;

class RecDirect3D final : public Recorded<IDirect3D8> {
public:
    UINT GetAdapterModeCount(UINT adapter) override
    {
        HRESULT result = enter(M_GetAdapterModeCount);
        UINT count = FAILED(result) ? 0 : static_cast<UINT>(config.modes.size());
        if (loggingOn)
            logLine("GetAdapterModeCount(%u) -> %u", adapter, count);
        return count;
    }

    HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* displayMode) override
    {
        HRESULT result = enter(M_EnumAdapterModes);
        if (SUCCEEDED(result) && mode >= config.modes.size())
            result = D3DERR_INVALIDCALL;
        if (loggingOn)
            logLine("EnumAdapterModes(%u, %u)%s", adapter, mode, outcome(result).c_str());
        if (SUCCEEDED(result))
            *displayMode = config.modes[mode];
        return result;
    }

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) override
    {
        HRESULT result = enter(M_GetAdapterDisplayMode);
        if (loggingOn)
            logLine("GetAdapterDisplayMode(%u)%s", adapter, outcome(result).c_str());
        if (SUCCEEDED(result))
            *displayMode = config.desktop;
        return result;
    }

    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override
    {
        HRESULT result = enter(M_GetDeviceCaps);
        if (loggingOn)
            logLine("GetDeviceCaps(%u, %d)%s", adapter, static_cast<int>(type), outcome(result).c_str());
        if (SUCCEEDED(result)) {
            *caps = D3DCAPS8{};
            caps->DeviceType = type;
            caps->AdapterOrdinal = adapter;
            caps->DevCaps = config.devCaps;
            caps->MaxTextureWidth = config.maxTextureWidth;
            caps->MaxTextureHeight = config.maxTextureHeight;
            caps->MaxActiveLights = 8;
            caps->MaxTextureBlendStages = 8;
            caps->MaxSimultaneousTextures = 8;
            caps->MaxPrimitiveCount = 0xFFFFF;
            caps->MaxVertexIndex = 0xFFFFF;
        }
        return result;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD flags, D3DPRESENT_PARAMETERS* p,
                         IDirect3DDevice8** device) override
    {
        HRESULT result = enter(M_CreateDevice);
        *device = nullptr;
        RecDevice* created = nullptr;
        if (SUCCEEDED(result)) {
            created = new RecDevice();
            created->registerAs("device");
            created->parameters = *p;
            D3DFORMAT format = config.backBufferFormat != D3DFMT_UNKNOWN ? config.backBufferFormat
                                                                          : p->BackBufferFormat;
            created->backBuffer = new RecSurface();
            created->backBuffer->registerAs("backbuffer");
            created->backBuffer->desc = D3DSURFACE_DESC{format, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET,
                                                        D3DPOOL_DEFAULT, 0, D3DMULTISAMPLE_NONE,
                                                        p->BackBufferWidth, p->BackBufferHeight};
            created->defaultDepth = new RecSurface();
            created->defaultDepth->registerAs("defaultdepth");
            created->defaultDepth->desc = D3DSURFACE_DESC{p->AutoDepthStencilFormat, D3DRTYPE_SURFACE,
                                                          D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, 0,
                                                          D3DMULTISAMPLE_NONE, p->BackBufferWidth,
                                                          p->BackBufferHeight};
            created->colorTarget = created->backBuffer;
            created->depthTarget = created->defaultDepth;
            currentDevice = created;
            *device = created;
        }
        if (loggingOn)
            logLine("CreateDevice(%u, %d, %s, 0x%x, {%u, %u, %d, %u, %d, %d, %s, %d, %d, %d, %u, %u, %u}) -> %s%s",
                    adapter, static_cast<int>(type), window ? "window" : "NULL", flags, p->BackBufferWidth,
                    p->BackBufferHeight, static_cast<int>(p->BackBufferFormat), p->BackBufferCount,
                    static_cast<int>(p->MultiSampleType), static_cast<int>(p->SwapEffect),
                    p->hDeviceWindow ? "window" : "NULL", p->Windowed, p->EnableAutoDepthStencil,
                    static_cast<int>(p->AutoDepthStencilFormat), p->Flags, p->FullScreen_RefreshRateInHz,
                    p->FullScreen_PresentationInterval, created ? "device" : "NULL", outcome(result).c_str());
        return result;
    }

    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthFormat) override
    {
        HRESULT result = enter(M_CheckDepthStencilMatch);
        if (loggingOn)
            logLine("CheckDepthStencilMatch(%u, %d, %d, %d, %d)%s", adapter, static_cast<int>(type),
                    static_cast<int>(adapterFormat), static_cast<int>(renderTargetFormat),
                    static_cast<int>(depthFormat), outcome(result).c_str());
        return result;
    }
};

void defaultConfig()
{
    config.modes.clear();
    const UINT sizes[][2] = {{640, 480}, {800, 600}};
    for (const auto& size : sizes)
        for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5})
            config.modes.push_back(D3DDISPLAYMODE{size[0], size[1], 60, format});
    config.desktop = D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8};
    config.devCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE;
    config.maxTextureWidth = 2048;
    config.maxTextureHeight = 2048;
    config.backBufferFormat = D3DFMT_UNKNOWN;
}

template <class Interface>
Recorded<Interface>* findRecord(const void* pointer)
{
    for (ObjectRecord* record : objects)
        if (record->self == pointer && pointer != nullptr)
            return static_cast<Recorded<Interface>*>(record->owner);
    return nullptr;
}

} // namespace

void recordingReset()
{
    for (ObjectRecord* record : objects)
        record->destroy(record);
    objects.clear();
    currentDevice = nullptr;
    for (int& counter : labelCounters)
        counter = 0;
    defaultConfig();
    loggingOn = true;
    failures.clear();
    cooperativeLevel = S_OK;
    recordingClearLog();
}

void recordingInstall()
{
    recordingReset();
    d3dSetImplementation(recordingDirect3DCreate8);
}

IDirect3D8* recordingDirect3DCreate8(UINT sdkVersion)
{
    if (loggingOn)
        logLine("Direct3DCreate8(%u) -> d3d", sdkVersion);
    auto* created = new RecDirect3D();
    created->registerAs("d3d");
    return created;
}

RecordingConfig& recordingConfig() { return config; }

void recordingSetLogging(bool on) { loggingOn = on; }

const std::vector<std::string>& recordingLog() { return logLines; }

void recordingClearLog()
{
    logLines.clear();
    for (int& count : callCounts)
        count = 0;
    drawCount = 0;
    primitiveCount = 0;
}

std::vector<std::string> recordingLogLines(const char* prefix)
{
    std::vector<std::string> lines;
    std::size_t length = std::strlen(prefix);
    for (const std::string& line : logLines)
        if (line.compare(0, length, prefix) == 0)
            lines.push_back(line);
    return lines;
}

int recordingCallCount(const char* method)
{
    for (int i = 0; i < METHOD_COUNT; ++i)
        if (std::strcmp(methodNames[i], method) == 0)
            return callCounts[i];
    return 0;
}

std::string recordingLogText()
{
    std::string text;
    for (const std::string& line : logLines)
        text += line + "\n";
    return text;
}

void recordingFailCall(const char* method, HRESULT result, int occurrence)
{
    for (int i = 0; i < METHOD_COUNT; ++i)
        if (std::strcmp(methodNames[i], method) == 0)
            failures.push_back(Failure{static_cast<Method>(i), result, occurrence, 0});
}

void recordingClearFailures() { failures.clear(); }

void recordingSetCooperativeLevel(HRESULT result) { cooperativeLevel = result; }

int recordingLiveObjects()
{
    int live = 0;
    for (ObjectRecord* record : objects)
        if (record->references > 0)
            ++live;
    return live;
}

std::string recordingLabel(const void* object) { return labelOf(object); }

DWORD recordingRenderState(D3DRENDERSTATETYPE state)
{
    return currentDevice != nullptr && state >= 0 && state < RENDER_STATES ? currentDevice->renderStates[state] : 0;
}

DWORD recordingTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type)
{
    return currentDevice != nullptr && stage < STAGES && type >= 0 && type < STAGE_STATES
               ? currentDevice->stageStates[stage][type]
               : 0;
}

D3DMATRIX recordingTransform(D3DTRANSFORMSTATETYPE type)
{
    if (currentDevice != nullptr && type >= 0 && type < TRANSFORMS)
        return currentDevice->transforms[type];
    return D3DMATRIX{};
}

IDirect3DTexture8* recordingBoundTexture(DWORD stage)
{
    return currentDevice != nullptr && stage < STAGES ? currentDevice->textures[stage] : nullptr;
}

D3DLIGHT8 recordingLight(DWORD index)
{
    return currentDevice != nullptr && index < LIGHTS ? currentDevice->lights[index] : D3DLIGHT8{};
}

bool recordingLightEnabled(DWORD index)
{
    return currentDevice != nullptr && index < LIGHTS && currentDevice->lightOn[index];
}

D3DMATERIAL8 recordingMaterial() { return currentDevice != nullptr ? currentDevice->material : D3DMATERIAL8{}; }

DWORD recordingVertexShader() { return currentDevice != nullptr ? currentDevice->vertexShader : 0; }

IDirect3DVertexBuffer8* recordingStreamSource(UINT* stride)
{
    if (stride != nullptr)
        *stride = currentDevice != nullptr ? currentDevice->streamStride : 0;
    return currentDevice != nullptr ? currentDevice->stream : nullptr;
}

IDirect3DIndexBuffer8* recordingIndices(UINT* baseVertexIndex)
{
    if (baseVertexIndex != nullptr)
        *baseVertexIndex = currentDevice != nullptr ? currentDevice->baseVertex : 0;
    return currentDevice != nullptr ? currentDevice->indices : nullptr;
}

IDirect3DSurface8* recordingColorTarget() { return currentDevice != nullptr ? currentDevice->colorTarget : nullptr; }

IDirect3DSurface8* recordingDepthTarget() { return currentDevice != nullptr ? currentDevice->depthTarget : nullptr; }

bool recordingTextureInfo(IDirect3DTexture8* texture, RecordingTextureInfo* info)
{
    auto* record = findRecord<IDirect3DTexture8>(texture);
    if (record == nullptr)
        return false;
    auto* recorded = static_cast<RecTexture*>(record);
    *info = RecordingTextureInfo{recorded->desc.Width, recorded->desc.Height, recorded->desc.Usage,
                                 recorded->desc.Format, recorded->desc.Pool, recorded->pitch,
                                 recorded->texels.empty() ? nullptr : recorded->texels.data()};
    return true;
}

BYTE* recordingBufferMemory(const void* buffer, UINT* length)
{
    for (ObjectRecord* record : objects) {
        if (record->self != buffer || buffer == nullptr)
            continue;
        std::vector<BYTE>* memory = nullptr;
        if (record->label.rfind("vertexbuffer", 0) == 0)
            memory = &static_cast<RecVertexBuffer*>(static_cast<Recorded<IDirect3DVertexBuffer8>*>(record->owner))->memory;
        else if (record->label.rfind("indexbuffer", 0) == 0)
            memory = &static_cast<RecIndexBuffer*>(static_cast<Recorded<IDirect3DIndexBuffer8>*>(record->owner))->memory;
        if (memory == nullptr)
            return nullptr;
        if (length != nullptr)
            *length = static_cast<UINT>(memory->size());
        return memory->empty() ? nullptr : memory->data();
    }
    return nullptr;
}

const RecordingUserDraw& recordingLastUserDraw() { return lastUserDraw; }

int recordingDrawCount() { return drawCount; }

long long recordingPrimitiveCount() { return primitiveCount; }
