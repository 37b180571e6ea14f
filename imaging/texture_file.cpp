// Texture files: reading, format detection, tent scaling, pixel conversion
// and the texture-creating entry point. The decoders are in jpeg.cpp,
// png.cpp and tga.cpp.
// Depends on: platform/d3d8.h, platform/paths.h, resources/memory.h.
#include "imaging/texture_file.h"

#include "imaging/decoders.h"
#include "platform/paths.h"
#include "resources/memory.h"

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

UINT maxTextureWidth = 2048;
UINT maxTextureHeight = 2048;

// Files larger than this are not pictures the show uses.
constexpr off_t MAX_FILE_SIZE = 256L * 1024 * 1024;

constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);

// The whole file in a scratch block; false when it cannot be read entirely.
bool readWholeFile(const char* path, BYTE** data, std::size_t* size)
{
    std::string resolved = platformResolvePath(path);
    int file = open(resolved.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    struct stat info;
    if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 || info.st_size > MAX_FILE_SIZE) {
        close(file);
        return false;
    }
    std::size_t length = static_cast<std::size_t>(info.st_size);
    BYTE* buffer = static_cast<BYTE*>(allocateMemory(static_cast<std::uint32_t>(length)));
    std::size_t done = 0;
    while (done < length) {
        ssize_t got = read(file, buffer + done, length - done);
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    close(file);
    if (done != length)
        return false;
    *data = buffer;
    *size = length;
    return true;
}

// One output sample of the tent filter: the first source index and the
// normalised weights of the source samples from there.
struct Taps {
    int first;
    int count;
};

// Weights for output index i of outSize from inSize samples, written to
// weights (room for tapRoom). The tent is one source sample wide when
// enlarging and one output sample wide when shrinking, so every source
// sample contributes. Indices outside the picture are clamped to its edge.
Taps tentTaps(int i, int outSize, int inSize, float* weights, int tapRoom)
{
    const double scale = static_cast<double>(inSize) / outSize;
    const double radius = scale > 1.0 ? scale : 1.0;
    const double centre = (i + 0.5) * scale - 0.5;
    int first = static_cast<int>(std::floor(centre - radius)) + 1;
    int last = static_cast<int>(std::ceil(centre + radius)) - 1;
    if (last - first + 1 > tapRoom)
        last = first + tapRoom - 1;
    double total = 0.0;
    for (int s = first; s <= last; ++s) {
        double w = 1.0 - std::fabs(s - centre) / radius;
        weights[s - first] = static_cast<float>(w > 0.0 ? w : 0.0);
        total += weights[s - first];
    }
    if (total <= 0.0) {
        // Cannot happen for a tent around a sample centre; kept for safety.
        first = static_cast<int>(std::lround(centre));
        weights[0] = 1.0f;
        return Taps{first, 1};
    }
    for (int s = first; s <= last; ++s)
        weights[s - first] = static_cast<float>(weights[s - first] / total);
    return Taps{first, last - first + 1};
}

int clampIndex(int index, int size) { return index < 0 ? 0 : (index >= size ? size - 1 : index); }

BYTE toByte(float value)
{
    float rounded = value + 0.5f;
    return static_cast<BYTE>(rounded <= 0.0f ? 0 : (rounded >= 255.0f ? 255 : static_cast<int>(rounded)));
}

bool supportedFormat(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
        return true;
    default:
        return false;
    }
}

DWORD channelBits(DWORD value, int bits) { return (value * ((1u << bits) - 1) + 127) / 255; }

// Writes width x height A8R8G8B8 pixels into a locked level of the format.
void convertPixels(const DWORD* source, int width, int height, D3DFORMAT format, BYTE* destination, int pitch)
{
    for (int y = 0; y < height; ++y) {
        const DWORD* in = source + static_cast<std::size_t>(y) * width;
        BYTE* row = destination + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x) {
            DWORD p = in[x];
            DWORD a = p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            WORD packed = 0;
            switch (format) {
            case D3DFMT_A8R8G8B8:
                reinterpret_cast<DWORD*>(row)[x] = p;
                continue;
            case D3DFMT_X8R8G8B8:
                reinterpret_cast<DWORD*>(row)[x] = p | 0xFF000000u;
                continue;
            case D3DFMT_R5G6B5:
                packed = static_cast<WORD>(channelBits(r, 5) << 11 | channelBits(g, 6) << 5 | channelBits(b, 5));
                break;
            case D3DFMT_X1R5G5B5:
                packed = static_cast<WORD>(0x8000 | channelBits(r, 5) << 10 | channelBits(g, 5) << 5 | channelBits(b, 5));
                break;
            case D3DFMT_A1R5G5B5:
                packed = static_cast<WORD>((a >= 128 ? 0x8000 : 0) | channelBits(r, 5) << 10 | channelBits(g, 5) << 5 |
                                           channelBits(b, 5));
                break;
            case D3DFMT_A4R4G4B4:
                packed = static_cast<WORD>(channelBits(a, 4) << 12 | channelBits(r, 4) << 8 | channelBits(g, 4) << 4 |
                                           channelBits(b, 4));
                break;
            default:
                break;
            }
            reinterpret_cast<WORD*>(row)[x] = packed;
        }
    }
}

} // namespace

void textureFileSetMaxSize(UINT width, UINT height)
{
    maxTextureWidth = width;
    maxTextureHeight = height;
}

bool decodeImageMemory(const BYTE* data, std::size_t size, DecodedImage* image)
{
    if (data == nullptr || image == nullptr)
        return false;
    DecodedImage decoded{};
    bool ok;
    if (isJpeg(data, size))
        ok = decodeJpeg(data, size, &decoded);
    else if (isPng(data, size))
        ok = decodePng(data, size, &decoded);
    else
        ok = decodeTga(data, size, &decoded);
    if (ok)
        *image = decoded;
    return ok;
}

bool decodeImageFile(const char* path, DecodedImage* image)
{
    BYTE* data = nullptr;
    std::size_t size = 0;
    if (path == nullptr || !readWholeFile(path, &data, &size))
        return false;
    return decodeImageMemory(data, size, image);
}

void scaleImageTent(const DecodedImage& source, int width, int height, DWORD* destination)
{
    const int sw = source.width;
    const int sh = source.height;
    // Horizontal pass into floats (width x sh x 4), then vertical into bytes.
    float* middle = static_cast<float*>(
        allocateMemory(static_cast<std::uint32_t>(static_cast<std::size_t>(width) * sh * 4 * sizeof(float))));
    const int roomX = 2 * static_cast<int>(std::ceil(static_cast<double>(sw) / width)) + 3;
    const int roomY = 2 * static_cast<int>(std::ceil(static_cast<double>(sh) / height)) + 3;
    float* weights = static_cast<float*>(
        allocateMemory(static_cast<std::uint32_t>((roomX > roomY ? roomX : roomY) * sizeof(float))));

    for (int x = 0; x < width; ++x) {
        Taps taps = tentTaps(x, width, sw, weights, roomX);
        for (int y = 0; y < sh; ++y) {
            const DWORD* row = source.pixels + static_cast<std::size_t>(y) * sw;
            float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            for (int t = 0; t < taps.count; ++t) {
                DWORD p = row[clampIndex(taps.first + t, sw)];
                float w = weights[t];
                sum[0] += w * static_cast<float>(p & 0xFF);
                sum[1] += w * static_cast<float>((p >> 8) & 0xFF);
                sum[2] += w * static_cast<float>((p >> 16) & 0xFF);
                sum[3] += w * static_cast<float>(p >> 24);
            }
            float* out = middle + (static_cast<std::size_t>(y) * width + x) * 4;
            for (int c = 0; c < 4; ++c)
                out[c] = sum[c];
        }
    }
    for (int y = 0; y < height; ++y) {
        Taps taps = tentTaps(y, height, sh, weights, roomY);
        for (int x = 0; x < width; ++x) {
            float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            for (int t = 0; t < taps.count; ++t) {
                const float* in = middle + (static_cast<std::size_t>(clampIndex(taps.first + t, sh)) * width + x) * 4;
                float w = weights[t];
                for (int c = 0; c < 4; ++c)
                    sum[c] += w * in[c];
            }
            destination[static_cast<std::size_t>(y) * width + x] =
                static_cast<DWORD>(toByte(sum[3])) << 24 | static_cast<DWORD>(toByte(sum[2])) << 16 |
                static_cast<DWORD>(toByte(sum[1])) << 8 | toByte(sum[0]);
        }
    }
}

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8* device, const char* path, UINT width, UINT height,
                                     UINT /*mipLevels*/, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                     DWORD /*filter*/, DWORD /*mipFilter*/, D3DCOLOR /*colorKey*/,
                                     void* /*sourceInfo*/, void* /*palette*/, IDirect3DTexture8** texture)
{
    if (texture == nullptr)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr || path == nullptr || !supportedFormat(format))
        return D3DERR_INVALIDCALL;

    DecodedImage image{};
    if (!decodeImageFile(path, &image))
        return D3DXERR_INVALIDDATA;

    // 0 takes the picture's own size; above the device's limit is clamped.
    if (width == 0)
        width = static_cast<UINT>(image.width);
    if (height == 0)
        height = static_cast<UINT>(image.height);
    if (width > maxTextureWidth)
        width = maxTextureWidth;
    if (height > maxTextureHeight)
        height = maxTextureHeight;
    if (!imageSizeAcceptable(width, height))
        return D3DERR_INVALIDCALL;

    const DWORD* pixels = image.pixels;
    if (static_cast<UINT>(image.width) != width || static_cast<UINT>(image.height) != height) {
        DWORD* scaled = static_cast<DWORD*>(allocateMemory(width * height * 4));
        scaleImageTent(image, static_cast<int>(width), static_cast<int>(height), scaled);
        pixels = scaled;
    }

    IDirect3DTexture8* created = nullptr;
    HRESULT result = device->CreateTexture(width, height, 1, usage, format, pool, &created);
    if (FAILED(result) || created == nullptr)
        return FAILED(result) ? result : E_FAIL;
    D3DLOCKED_RECT locked{};
    result = created->LockRect(0, &locked, nullptr, 0);
    if (FAILED(result) || locked.pBits == nullptr) {
        created->Release();
        return FAILED(result) ? result : E_FAIL;
    }
    convertPixels(pixels, static_cast<int>(width), static_cast<int>(height), format, static_cast<BYTE*>(locked.pBits),
                  locked.Pitch);
    result = created->UnlockRect(0);
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *texture = created;
    return S_OK;
}
