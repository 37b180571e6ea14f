// Resource pools and render targets: fixed tables of textures, vertex, index
// and depth buffers that hold their objects until dglShutdown, their locks,
// and the switch between the back buffer and a texture as render target.
// Depends on: platform/d3d8.h, kernel/messages.h, imaging/texture_file.h.
#include "dgl/dgl_internal.h"

#include "imaging/texture_file.h"
#include "kernel/messages.h"

#include <cstdint>

DglTextureEntry dglTextures[DGL_MAX_TEXTURES];
int dglTextureTotal = 0;
IDirect3DVertexBuffer8* dglVertexBuffers[DGL_MAX_VERTEX_BUFFERS];
int dglVertexBufferTotal = 0;
IDirect3DIndexBuffer8* dglIndexBuffers[DGL_MAX_INDEX_BUFFERS];
int dglIndexBufferTotal = 0;
IDirect3DSurface8* dglDepthBuffers[DGL_MAX_DEPTH_BUFFERS];
int dglDepthBufferTotal = 0;

namespace {

// A pointer in lower-case hexadecimal without leading zeros, for the
// messages that show a handle: the whole value, also on 64-bit builds.
const char* pointerHex(const void* pointer)
{
    static char text[2 * sizeof(std::uintptr_t) + 1];
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(pointer);
    char digits[2 * sizeof(std::uintptr_t)];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    for (int i = 0; i < count; ++i)
        text[i] = digits[count - 1 - i];
    text[count] = '\0';
    return text;
}

// The name the messages give a texture format.
const char* formatName(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
        return "32-bit ARGB";
    case D3DFMT_X8R8G8B8:
        return "32-bit RGB";
    case D3DFMT_R5G6B5:
        return "16-bit RGB";
    case D3DFMT_X1R5G5B5:
        return "16-bit XRGB";
    case D3DFMT_A1R5G5B5:
        return "16-bit 1-bit-alpha ARGB";
    case D3DFMT_A4R4G4B4:
        return "16-bit 4-bit-alpha ARGB";
    case D3DFMT_A8:
        return "8-bit alpha";
    default:
        return nullptr;
    }
}

[[noreturn]] void failTextureCreation(int width, int height, D3DFORMAT format, const char* path)
{
    const char* name = formatName(format);
    if (path == nullptr) {
        if (name != nullptr)
            fatalExit(formatMessage("Can not create a %d*%d %s texture.", width, height, name));
        fatalExit(formatMessage("Can not create a %d*%d texture of format %d.", width, height, static_cast<int>(format)));
    }
    if (name != nullptr)
        fatalExit(formatMessage("Can not create a %d*%d %s texture from file: %s.", width, height, name, path));
    fatalExit(formatMessage("Can not create a %d*%d texture of format %d from file: %s.", width, height,
                            static_cast<int>(format), path));
}

} // namespace

IDirect3DTexture8* dglCreateTexture(int width, int height, bool renderTarget, D3DFORMAT format)
{
    if (dglTextureTotal >= DGL_MAX_TEXTURES)
        fatalExit("Can not create more than 100 textures.");
    IDirect3DTexture8* texture = nullptr;
    HRESULT result = dglDeviceObject->CreateTexture(static_cast<UINT>(width), static_cast<UINT>(height), 1,
                                                    renderTarget ? D3DUSAGE_RENDERTARGET : 0, format,
                                                    renderTarget ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED, &texture);
    if (FAILED(result) || texture == nullptr)
        failTextureCreation(width, height, format, nullptr);
    IDirect3DSurface8* surface = nullptr;
    if (renderTarget && FAILED(texture->GetSurfaceLevel(0, &surface))) {
        // Pooled first, so the exit path releases it.
        dglTextures[dglTextureTotal++] = DglTextureEntry{texture, nullptr};
        fatalExit("Can not retrieve the surface of a texture.");
    }
    dglTextures[dglTextureTotal++] = DglTextureEntry{texture, renderTarget ? surface : nullptr};
    return texture;
}

IDirect3DTexture8* dglCreateTextureFromFile(const char* path, int width, int height, D3DFORMAT format,
                                            bool defaultPool)
{
    if (dglTextureTotal >= DGL_MAX_TEXTURES)
        fatalExit("Can not create more than 100 textures.");
    IDirect3DTexture8* texture = nullptr;
    HRESULT result = D3DXCreateTextureFromFileExA(dglDeviceObject, path, static_cast<UINT>(width),
                                                  static_cast<UINT>(height), 1, 0, format,
                                                  defaultPool ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED,
                                                  D3DX_FILTER_TRIANGLE, 0, 0, nullptr, nullptr, &texture);
    if (FAILED(result) || texture == nullptr)
        failTextureCreation(width, height, format, path);
    dglTextures[dglTextureTotal++] = DglTextureEntry{texture, nullptr};
    return texture;
}

DglTextureLock dglLockTexture(IDirect3DTexture8* texture)
{
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)))
        fatalExit(formatMessage("Can not lock texture (0x%s).", pointerHex(texture)));
    return DglTextureLock{static_cast<DWORD*>(locked.pBits), locked.Pitch};
}

void dglUnlockTexture(IDirect3DTexture8* texture)
{
    if (FAILED(texture->UnlockRect(0)))
        fatalExit(formatMessage("Can not unlock texture (0x%s).", pointerHex(texture)));
}

IDirect3DVertexBuffer8* dglCreateVertexBuffer(int vertexType, int vertexCount)
{
    if (dglVertexBufferTotal >= DGL_MAX_VERTEX_BUFFERS)
        fatalExit("Can not create more than 100 vertex buffers.");
    IDirect3DVertexBuffer8* buffer = nullptr;
    UINT length = static_cast<UINT>(dglVertexTypeStride(vertexType)) * static_cast<UINT>(vertexCount);
    if (FAILED(dglDeviceObject->CreateVertexBuffer(length, D3DUSAGE_DYNAMIC, dglVertexTypeFormat(vertexType),
                                                   D3DPOOL_DEFAULT, &buffer)) ||
        buffer == nullptr)
        fatalExit(formatMessage("Can not create vertex buffer. Type %d, %d vertices.", vertexType, vertexCount));
    dglVertexBuffers[dglVertexBufferTotal++] = buffer;
    return buffer;
}

void* dglLockVertexBuffer(IDirect3DVertexBuffer8* buffer)
{
    BYTE* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)))
        fatalExit(formatMessage("Can not lock vertex buffer (0x%s).", pointerHex(buffer)));
    return data;
}

void dglUnlockVertexBuffer(IDirect3DVertexBuffer8* buffer)
{
    if (FAILED(buffer->Unlock()))
        fatalExit(formatMessage("Can not unlock vertex buffer (0x%s).", pointerHex(buffer)));
}

IDirect3DIndexBuffer8* dglCreateIndexBuffer(int faceCount)
{
    if (dglIndexBufferTotal >= DGL_MAX_INDEX_BUFFERS)
        fatalExit("Can not create more than 100 index buffers.");
    IDirect3DIndexBuffer8* buffer = nullptr;
    UINT length = static_cast<UINT>(faceCount) * 3 * 2;
    if (FAILED(dglDeviceObject->CreateIndexBuffer(length, D3DUSAGE_DYNAMIC, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                                  &buffer)) ||
        buffer == nullptr)
        fatalExit(formatMessage("Can not create index buffer for %d faces.", faceCount));
    dglIndexBuffers[dglIndexBufferTotal++] = buffer;
    return buffer;
}

WORD* dglLockIndexBuffer(IDirect3DIndexBuffer8* buffer)
{
    BYTE* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)))
        fatalExit(formatMessage("Can not lock index buffer (0x%s).", pointerHex(buffer)));
    return reinterpret_cast<WORD*>(data);
}

void dglUnlockIndexBuffer(IDirect3DIndexBuffer8* buffer)
{
    if (FAILED(buffer->Unlock()))
        fatalExit(formatMessage("Can not unlock index buffer (0x%s).", pointerHex(buffer)));
}

IDirect3DSurface8* dglCreateDepthBuffer(int width, int height, D3DFORMAT renderTargetFormat)
{
    if (dglDepthBufferTotal >= DGL_MAX_DEPTH_BUFFERS)
        fatalExit("Can not create more than 100 depth buffers.");
    D3DSURFACE_DESC description{};
    if (FAILED(dglBackBuffer->GetDesc(&description)))
        fatalExit("Can not retrieve a description of the back buffer surface.");
    if (FAILED(dglDirect3D->CheckDepthStencilMatch(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, description.Format,
                                                   renderTargetFormat, D3DFMT_D16)))
        fatalExit("A 16-bit depth buffer can not operate with the pixel format of the render target in the current "
                  "display mode.");
    IDirect3DSurface8* surface = nullptr;
    if (FAILED(dglDeviceObject->CreateDepthStencilSurface(static_cast<UINT>(width), static_cast<UINT>(height),
                                                          D3DFMT_D16, D3DMULTISAMPLE_NONE, &surface)) ||
        surface == nullptr)
        fatalExit(formatMessage("Can not create a %d*%d depth buffer.", width, height));
    dglDepthBuffers[dglDepthBufferTotal++] = surface;
    return surface;
}

void dglSetRenderTarget(IDirect3DTexture8* texture, IDirect3DSurface8* depth)
{
    dglState.renderTarget = texture;
    dglState.renderDepth = depth;
    IDirect3DSurface8* color = dglBackBuffer;
    if (texture != nullptr) {
        int index = 0;
        while (index < dglTextureTotal && dglTextures[index].texture != texture)
            ++index;
        if (index == dglTextureTotal)
            fatalExit("Supplied render target is not a valid texture pointer.");
        if (dglTextures[index].surface == nullptr)
            fatalExit(formatMessage("Supplied texture (0x%s) can not be used as render target.", pointerHex(texture)));
        color = dglTextures[index].surface;
    }
    if (depth == nullptr)
        depth = dglDefaultDepth;
    if (FAILED(dglDeviceObject->SetRenderTarget(color, depth)))
        fatalExit("Can not adjust render target.");
}

void dglReleasePools()
{
    for (int i = 0; i < dglTextureTotal; ++i) {
        dglTextures[i].texture->Release();
        if (dglTextures[i].surface != nullptr)
            dglTextures[i].surface->Release();
        dglTextures[i] = DglTextureEntry{nullptr, nullptr};
    }
    dglTextureTotal = 0;
    for (int i = 0; i < dglVertexBufferTotal; ++i) {
        dglVertexBuffers[i]->Release();
        dglVertexBuffers[i] = nullptr;
    }
    dglVertexBufferTotal = 0;
    for (int i = 0; i < dglIndexBufferTotal; ++i) {
        dglIndexBuffers[i]->Release();
        dglIndexBuffers[i] = nullptr;
    }
    dglIndexBufferTotal = 0;
    for (int i = 0; i < dglDepthBufferTotal; ++i) {
        dglDepthBuffers[i]->Release();
        dglDepthBuffers[i] = nullptr;
    }
    dglDepthBufferTotal = 0;
}

int dglTextureCount() { return dglTextureTotal; }
int dglVertexBufferCount() { return dglVertexBufferTotal; }
int dglIndexBufferCount() { return dglIndexBufferTotal; }
int dglDepthBufferCount() { return dglDepthBufferTotal; }
