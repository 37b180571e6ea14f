// OpenGL device resources, the same for both devices: textures (lockable
// memory copy uploaded on unlock; render-target textures with their
// framebuffer object), surfaces, depth renderbuffers, vertex and index
// buffer objects.
// Depends on: platform/gl_common/gl_common.h (OpenGL).
#include "platform/gl_common/gl_common.h"

#include <algorithm>
#include <cstring>
#include <new>

bool glTextureFormat(D3DFORMAT format, GlProfile profile, bool bgraTextures, bool renderTarget, GlTextureFormat* out)
{
    // OpenGL ES without the BGRA8888 extension takes no B, G, R, A bytes:
    // they go up as R, G, B, A and the texture swaps red and blue when
    // sampled. A render target is drawn by GL itself, so its channels are
    // in place.
    bool bgra = profile == GlProfile::compatibility;
    switch (format) {
    case D3DFMT_A8R8G8B8: // B, G, R, A bytes in memory
        if (bgraTextures && !renderTarget) {
            // Stored as B, G, R, A (unsized RGBA on desktop GL, the
            // BGRA8888 extension on OpenGL ES): the bytes go up as they
            // are, where an R, G, B, A texture has the driver swap every
            // texel of every upload (a tenth of a millisecond a frame for
            // each video or noise texture).
            *out = GlTextureFormat{profile == GlProfile::es ? GL_BGRA_EXT : GL_RGBA, GL_BGRA_EXT, GL_UNSIGNED_BYTE, 4,
                                   false, false};
            return true;
        }
        *out = GlTextureFormat{GL_RGBA8, bgra ? GLenum(GL_BGRA) : GLenum(GL_RGBA), GL_UNSIGNED_BYTE, 4,
                               !bgra && !renderTarget, false};
        return true;
    case D3DFMT_X8R8G8B8: // the fourth byte is ignored: alpha reads as one
        if (bgra)
            *out = GlTextureFormat{GL_RGB8, GL_BGRA, GL_UNSIGNED_BYTE, 4, false, false};
        else if (renderTarget)
            *out = GlTextureFormat{GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE, 4, false, false};
        else
            *out = GlTextureFormat{GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4, true, true};
        return true;
    case D3DFMT_R5G6B5: // 16-bit words, red in the top bits
        *out = GlTextureFormat{GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, false, false};
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------- surfaces

namespace {

// WebGL 2 has no texture swizzle: there the bytes go up already swapped
// (red and blue) and with alpha one where the format ignores alpha.
// Elsewhere they go up as they are and the texture swizzles when sampled.
#ifdef __EMSCRIPTEN__
constexpr bool SWIZZLE_ON_UPLOAD = true;
#else
constexpr bool SWIZZLE_ON_UPLOAD = false;
#endif

// The converted copy of the last upload; written only by uploadBytes.
std::vector<std::uint8_t> swizzledBytes;

const std::uint8_t* uploadBytes(const GlTextureFormat& format, const std::uint8_t* bytes, std::size_t count)
{
    if (!SWIZZLE_ON_UPLOAD || (!format.swapRedBlue && !format.alphaOne))
        return bytes;
    swizzledBytes.assign(bytes, bytes + count);
    for (std::size_t i = 0; i + 3 < count; i += 4) {
        if (format.swapRedBlue)
            std::swap(swizzledBytes[i], swizzledBytes[i + 2]);
        if (format.alphaOne)
            swizzledBytes[i + 3] = 255;
    }
    return swizzledBytes.data();
}

// The current colour target is going away (the caller released its last
// reference): drawing returns to the back buffer and its default depth.
void returnToBackBuffer(GlDevice& device)
{
    device.colorTarget = &device.backBuffer;
    device.depthTarget = device.hasDefaultDepth ? &device.defaultDepth : nullptr;
    device.dirtyTarget = true;
    device.dirtyRenderStates = true;
}

} // namespace

ULONG GlSurface::AddRef()
{
    if (container != nullptr)
        return container->AddRef();
    return ++refs;
}

namespace {

// The last reference deletes the object and, while its device lives, its GL
// objects (with the device's context current).
template <typename Resource> ULONG releaseResource(Resource* resource)
{
    ULONG left = --resource->refs;
    if (left == 0) {
        if (resource->owner != nullptr) {
            GlDevice* device = resource->owner;
            device->makeCurrent();
            device->removeResource(resource);
            resource->destroyGl();
        }
        delete resource;
    }
    return left;
}

} // namespace

ULONG GlSurface::Release()
{
    if (container != nullptr)
        return container->Release();
    return releaseResource(this);
}

HRESULT GlSurface::GetDesc(D3DSURFACE_DESC* out)
{
    if (out == nullptr)
        return D3DERR_INVALIDCALL;
    *out = desc;
    return S_OK;
}

void GlSurface::destroyGl()
{
    if (framebuffer != 0) {
        glCacheForgetFramebuffer(framebuffer);
        glDeleteFramebuffers(1, &framebuffer);
        framebuffer = 0;
    }
    if (renderbuffer != 0) {
        glDeleteRenderbuffers(1, &renderbuffer);
        renderbuffer = 0;
    }
}

void GlSurface::forgetBindings()
{
    GlDevice* device = owner;
    if (device == nullptr)
        return;
    if (isDepth) {
        if (device->depthTarget == this)
            device->depthTarget = nullptr;
        // Colour targets that had this depth attached must attach again:
        // the renderbuffer's name can come back for another surface.
        if (device->backBuffer.attachedDepth == renderbuffer)
            device->backBuffer.attachedDepth = ~0u;
        for (GlResource* resource : device->resources) {
            GlTexture* texture = dynamic_cast<GlTexture*>(resource);
            if (texture != nullptr && texture->level.attachedDepth == renderbuffer)
                texture->level.attachedDepth = ~0u;
        }
    } else if (device->colorTarget == this) {
        returnToBackBuffer(*device);
    }
}

// ---------------------------------------------------------------- textures

ULONG GlTexture::AddRef() { return ++refs; }

ULONG GlTexture::Release() { return releaseResource(this); }

HRESULT GlTexture::GetLevelDesc(UINT levelIndex, D3DSURFACE_DESC* desc)
{
    if (levelIndex != 0 || desc == nullptr)
        return D3DERR_INVALIDCALL;
    *desc = level.desc;
    return S_OK;
}

HRESULT GlTexture::GetSurfaceLevel(UINT levelIndex, IDirect3DSurface8** surface)
{
    if (surface == nullptr)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (levelIndex != 0)
        return D3DERR_INVALIDCALL;
    *surface = &level;
    AddRef();
    return S_OK;
}

HRESULT GlTexture::LockRect(UINT levelIndex, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags)
{
    // Render targets live in GL only (the default pool): not lockable.
    if (levelIndex != 0 || lockedRect == nullptr || locked || (usage & D3DUSAGE_RENDERTARGET) != 0)
        return D3DERR_INVALIDCALL;
    RECT area{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0 || rect->right > area.right || rect->bottom > area.bottom ||
            rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        area = *rect;
    }
    int pitch = static_cast<int>(width) * bytesPerPixel;
    lockedRect->Pitch = pitch;
    lockedRect->pBits = pixels.data() + static_cast<size_t>(area.top) * pitch + area.left * bytesPerPixel;
    locked = true;
    lockReadOnly = (flags & D3DLOCK_READONLY) != 0;
    lockRect = area;
    return S_OK;
}

HRESULT GlTexture::UnlockRect(UINT levelIndex)
{
    if (levelIndex != 0 || !locked)
        return D3DERR_INVALIDCALL;
    locked = false;
    if (lockReadOnly || owner == nullptr)
        return S_OK;
    GlTextureFormat glFormat;
    if (!glTextureFormat(format, owner->profile, owner->bgraTextures, false, &glFormat))
        return D3DERR_INVALIDCALL;
    owner->makeCurrent();
    // Whole rows from the top of the locked area to its bottom.
    int pitch = static_cast<int>(width) * bytesPerPixel;
    int rows = lockRect.bottom - lockRect.top;
    glCacheBindTexture(glCache.activeUnit, name);
    owner->dirtyStages = true; // the unit's binding moved: the next draw binds the stage's texture again
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, lockRect.top, static_cast<GLsizei>(width), rows, glFormat.pixelFormat, glFormat.pixelType,
                    uploadBytes(glFormat, pixels.data() + static_cast<size_t>(lockRect.top) * pitch,
                                static_cast<size_t>(rows) * pitch));
    glCounters.textureUploads++;
    glCounters.uploadedBytes += static_cast<std::uint32_t>(rows * pitch);
    return S_OK;
}

void GlTexture::destroyGl()
{
    level.destroyGl();
    level.owner = nullptr;
    if (name != 0) {
        glCacheForgetTexture(name);
        glDeleteTextures(1, &name);
        name = 0;
    }
}

void GlTexture::forgetBindings()
{
    GlDevice* device = owner;
    if (device == nullptr)
        return;
    for (GlTexture*& bound : device->textures)
        if (bound == this) {
            bound = nullptr;
            device->dirtyStages = true;
        }
    if (device->colorTarget == &level)
        returnToBackBuffer(*device);
}

HRESULT GlDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                IDirect3DTexture8** texture)
{
    if (texture == nullptr)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    GlTextureFormat glFormat;
    bool renderTarget = (usage & D3DUSAGE_RENDERTARGET) != 0;
    if (width == 0 || height == 0 || width > GL_DEVICE_MAX_TEXTURE_SIZE || height > GL_DEVICE_MAX_TEXTURE_SIZE ||
        levels > 1 || !glTextureFormat(format, profile, bgraTextures, renderTarget, &glFormat) ||
        (renderTarget && pool != D3DPOOL_DEFAULT))
        return D3DERR_INVALIDCALL;
    int bytesPerPixel = glFormat.bytesPerPixel;
    makeCurrent();
    GlTexture* created = new (std::nothrow) GlTexture();
    if (created == nullptr)
        return D3DERR_OUTOFVIDEOMEMORY;
    created->format = format;
    created->usage = usage;
    created->pool = pool;
    created->width = width;
    created->height = height;
    created->bytesPerPixel = bytesPerPixel;
    GlSurface& level = created->level;
    level.container = created;
    level.renderTarget = renderTarget;
    level.desc = D3DSURFACE_DESC{format,
                                 D3DRTYPE_SURFACE,
                                 usage,
                                 pool,
                                 width * height * static_cast<UINT>(bytesPerPixel),
                                 D3DMULTISAMPLE_NONE,
                                 width,
                                 height};
    // Render targets are drawn at the render scale; lockable textures keep
    // their size (their pixels come from the program).
    int factor = renderTarget ? scale : 1;
    level.glWidth = static_cast<int>(width) * factor;
    level.glHeight = static_cast<int>(height) * factor;
    if (!renderTarget)
        created->pixels.assign(static_cast<size_t>(width) * height * bytesPerPixel, 0);

    glGenTextures(1, &created->name);
    glCacheBindTexture(glCache.activeUnit, created->name);
    dirtyStages = true; // the unit's binding moved: the next draw binds the stage's texture again
    glTexImage2D(GL_TEXTURE_2D, 0, glFormat.internalFormat, level.glWidth, level.glHeight, 0, glFormat.pixelFormat,
                 glFormat.pixelType,
                 renderTarget ? nullptr : uploadBytes(glFormat, created->pixels.data(), created->pixels.size()));
    if (glFormat.swapRedBlue && !SWIZZLE_ON_UPLOAD) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_RED);
    }
    if (glFormat.alphaOne && !SWIZZLE_ON_UPLOAD)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    // One level: without these the texture would be incomplete.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    created->sampler = GlSamplerParams{GL_NEAREST, GL_NEAREST, GL_REPEAT, GL_REPEAT};
    level.colorTexture = created->name;
    addResource(created);
    level.owner = this;

    if (renderTarget) {
        glGenFramebuffers(1, &level.framebuffer);
        glCacheDrawFramebuffer(level.framebuffer);
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, created->name, 0);
        dirtyTarget = true; // the draw framebuffer binding moved
    }
    *texture = created;
    return S_OK;
}

// ---------------------------------------------------------------- depth surfaces

HRESULT GlDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                            D3DMULTISAMPLE_TYPE multiSample, IDirect3DSurface8** surface)
{
    if (surface == nullptr)
        return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (width == 0 || height == 0 || width > GL_DEVICE_MAX_TEXTURE_SIZE || height > GL_DEVICE_MAX_TEXTURE_SIZE ||
        format != D3DFMT_D16 || multiSample != D3DMULTISAMPLE_NONE)
        return D3DERR_INVALIDCALL;
    makeCurrent();
    GlSurface* created = new (std::nothrow) GlSurface();
    if (created == nullptr)
        return D3DERR_OUTOFVIDEOMEMORY;
    created->isDepth = true;
    created->desc = D3DSURFACE_DESC{D3DFMT_D16,          D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT,
                                    width * height * 2, D3DMULTISAMPLE_NONE, width, height};
    created->glWidth = static_cast<int>(width) * scale;
    created->glHeight = static_cast<int>(height) * scale;
    glGenRenderbuffers(1, &created->renderbuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, created->renderbuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, created->glWidth, created->glHeight);
    addResource(created);
    *surface = created;
    return S_OK;
}

// ---------------------------------------------------------------- buffers

HRESULT GlBuffer::lock(UINT offset, UINT size, BYTE** data, DWORD flags)
{
    if (data == nullptr)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    UINT length = static_cast<UINT>(bytes.size());
    if (locked || offset > length || (size != 0 && size > length - offset))
        return D3DERR_INVALIDCALL;
    locked = true;
    lockReadOnly = (flags & D3DLOCK_READONLY) != 0;
    lockOffset = offset;
    lockSize = size == 0 ? length - offset : size;
    *data = bytes.data() + offset;
    return S_OK;
}

HRESULT GlBuffer::unlock()
{
    if (!locked)
        return D3DERR_INVALIDCALL;
    locked = false;
    if (lockReadOnly || owner == nullptr || lockSize == 0)
        return S_OK;
    ++version;
    owner->makeCurrent();
    if (target == GL_ARRAY_BUFFER)
        glCacheArrayBuffer(name);
    else
        glCacheElementBuffer(name);
    glBufferSubData(target, lockOffset, lockSize, bytes.data() + lockOffset);
    glCounters.bufferUploads++;
    glCounters.uploadedBytes += lockSize;
    return S_OK;
}

void GlBuffer::destroyGl()
{
    if (name == 0)
        return;
    glCacheForgetBuffer(name);
    glDeleteBuffers(1, &name);
    name = 0;
}

namespace {

bool makeBuffer(GlDevice& device, GlBuffer& buffer, GLenum target, UINT length)
{
    buffer.target = target;
    buffer.bytes.assign(length, 0);
    device.makeCurrent();
    glGenBuffers(1, &buffer.name);
    if (target == GL_ARRAY_BUFFER)
        glCacheArrayBuffer(buffer.name);
    else
        glCacheElementBuffer(buffer.name);
    glBufferData(target, length, buffer.bytes.data(), GL_DYNAMIC_DRAW);
    device.addResource(&buffer);
    return true;
}

} // namespace

ULONG GlVertexBuffer::AddRef() { return ++refs; }
ULONG GlVertexBuffer::Release() { return releaseResource(this); }

void GlVertexBuffer::forgetBindings()
{
    if (owner != nullptr && owner->stream == this)
        owner->stream = nullptr;
}

ULONG GlIndexBuffer::AddRef() { return ++refs; }
ULONG GlIndexBuffer::Release() { return releaseResource(this); }

void GlIndexBuffer::forgetBindings()
{
    if (owner != nullptr && owner->indices == this)
        owner->indices = nullptr;
}

HRESULT GlDevice::CreateVertexBuffer(UINT length, DWORD, DWORD bufferFvf, D3DPOOL, IDirect3DVertexBuffer8** buffer)
{
    if (buffer == nullptr)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (1u << 28))
        return D3DERR_INVALIDCALL;
    GlVertexBuffer* created = new (std::nothrow) GlVertexBuffer();
    if (created == nullptr)
        return D3DERR_OUTOFVIDEOMEMORY;
    created->fvf = bufferFvf;
    makeBuffer(*this, *created, GL_ARRAY_BUFFER, length);
    *buffer = created;
    return S_OK;
}

HRESULT GlDevice::CreateIndexBuffer(UINT length, DWORD, D3DFORMAT format, D3DPOOL, IDirect3DIndexBuffer8** buffer)
{
    if (buffer == nullptr)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (1u << 28) || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    GlIndexBuffer* created = new (std::nothrow) GlIndexBuffer();
    if (created == nullptr)
        return D3DERR_OUTOFVIDEOMEMORY;
    created->format = format;
    makeBuffer(*this, *created, GL_ELEMENT_ARRAY_BUFFER, length);
    *buffer = created;
    return S_OK;
}
