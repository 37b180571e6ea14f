// Texture files: reading, format detection, tent scaling, pixel conversion
// and the texture-creating entry point. The decoders are in jpeg.cpp,
// png.cpp and tga.cpp.
// Depends on: platform/d3d8.h, platform/paths.h, resources/memory.h.
#include "imaging/texture_file.h"

#include "imaging/decoders.h"
#include "platform/paths.h"
#include "resources/memory.h"

#include <cmath>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
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

// One A8R8G8B8 pixel in a 16-bit format.
template <D3DFORMAT FORMAT>
WORD packPixel(DWORD p)
{
    DWORD a = p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    switch (FORMAT) {
    case D3DFMT_R5G6B5:
        return static_cast<WORD>(channelBits(r, 5) << 11 | channelBits(g, 6) << 5 | channelBits(b, 5));
    case D3DFMT_X1R5G5B5:
        return static_cast<WORD>(0x8000 | channelBits(r, 5) << 10 | channelBits(g, 5) << 5 | channelBits(b, 5));
    case D3DFMT_A1R5G5B5:
        return static_cast<WORD>((a >= 128 ? 0x8000 : 0) | channelBits(r, 5) << 10 | channelBits(g, 5) << 5 |
                                 channelBits(b, 5));
    case D3DFMT_A4R4G4B4:
        return static_cast<WORD>(channelBits(a, 4) << 12 | channelBits(r, 4) << 8 | channelBits(g, 4) << 4 |
                                 channelBits(b, 4));
    default:
        return 0;
    }
}

template <D3DFORMAT FORMAT>
void packRows(const DWORD* source, int width, int height, BYTE* destination, int pitch)
{
    for (int y = 0; y < height; ++y) {
        const DWORD* in = source + static_cast<std::size_t>(y) * width;
        WORD* out = reinterpret_cast<WORD*>(destination + static_cast<std::ptrdiff_t>(y) * pitch);
        for (int x = 0; x < width; ++x)
            out[x] = packPixel<FORMAT>(in[x]);
    }
}

// Writes width x height A8R8G8B8 pixels into a locked level of the format.
void convertPixels(const DWORD* source, int width, int height, D3DFORMAT format, BYTE* destination, int pitch)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
        for (int y = 0; y < height; ++y)
            std::memcpy(destination + static_cast<std::ptrdiff_t>(y) * pitch, source + static_cast<std::size_t>(y) * width,
                        static_cast<std::size_t>(width) * 4);
        return;
    case D3DFMT_X8R8G8B8:
        for (int y = 0; y < height; ++y) {
            const DWORD* in = source + static_cast<std::size_t>(y) * width;
            DWORD* out = reinterpret_cast<DWORD*>(destination + static_cast<std::ptrdiff_t>(y) * pitch);
            for (int x = 0; x < width; ++x)
                out[x] = in[x] | 0xFF000000u;
        }
        return;
    case D3DFMT_R5G6B5:
        packRows<D3DFMT_R5G6B5>(source, width, height, destination, pitch);
        return;
    case D3DFMT_X1R5G5B5:
        packRows<D3DFMT_X1R5G5B5>(source, width, height, destination, pitch);
        return;
    case D3DFMT_A1R5G5B5:
        packRows<D3DFMT_A1R5G5B5>(source, width, height, destination, pitch);
        return;
    case D3DFMT_A4R4G4B4:
        packRows<D3DFMT_A4R4G4B4>(source, width, height, destination, pitch);
        return;
    default:
        return;
    }
}

// Four channels (blue, green, red, alpha) in float lanes: each lane gets the
// same multiplications and additions, in the same order, as a scalar sum.
typedef float Float4 __attribute__((vector_size(16)));
typedef int Int4 __attribute__((vector_size(16)));

inline Float4 channels(DWORD p)
{
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero);
    return reinterpret_cast<Float4>(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
#else
    Int4 v = {static_cast<int>(p & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>((p >> 16) & 0xFF),
              static_cast<int>(p >> 24)};
    return __builtin_convertvector(v, Float4);
#endif
}

// toByte on the four lanes: round half up by truncation, held in 0..255.
inline DWORD packChannels(Float4 sum)
{
    const Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Float4 top = {255.0f, 255.0f, 255.0f, 255.0f};
    Float4 rounded = sum + 0.5f;
    rounded = rounded > zero ? rounded : zero;
    rounded = rounded < top ? rounded : top;
    const Int4 bytes = __builtin_convertvector(rounded, Int4);
#ifdef __SSE2__
    const __m128i words = _mm_packs_epi32(reinterpret_cast<__m128i>(bytes), reinterpret_cast<__m128i>(bytes));
    return static_cast<DWORD>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
#else
    return static_cast<DWORD>(bytes[3]) << 24 | static_cast<DWORD>(bytes[2]) << 16 |
           static_cast<DWORD>(bytes[1]) << 8 | static_cast<DWORD>(bytes[0]);
#endif
}

// The tent scaler writing rows pitch bytes apart. Separable: each source row
// the vertical taps need is scaled horizontally once into a float row (kept
// in a ring of as many rows as the vertical tent is wide, so the middle
// picture is never held whole), then the vertical taps of an output row are
// summed from the ring. The sums are taken in the same order as a full
// horizontal pass followed by a full vertical pass, so the result is the same
// to the bit.
void scaleImageTentRows(const DecodedImage& source, int width, int height, DWORD* destination, int pitch)
{
    const int sw = source.width;
    const int sh = source.height;
    const int roomX = 2 * static_cast<int>(std::ceil(static_cast<double>(sw) / width)) + 3;
    const int roomY = 2 * static_cast<int>(std::ceil(static_cast<double>(sh) / height)) + 3;

    // Horizontal taps of every output column, worked out once: the source
    // columns (clamped to the picture) and their weights.
    const std::size_t tapSlots = static_cast<std::size_t>(width) * roomX;
    int* countX = static_cast<int*>(allocateMemory(static_cast<std::uint32_t>(width * sizeof(int))));
    int* columnsX = static_cast<int*>(allocateMemory(static_cast<std::uint32_t>(tapSlots * sizeof(int))));
    float* weightsX = static_cast<float*>(allocateMemory(static_cast<std::uint32_t>(tapSlots * sizeof(float))));
    for (int x = 0; x < width; ++x) {
        Taps taps = tentTaps(x, width, sw, weightsX + static_cast<std::size_t>(x) * roomX, roomX);
        countX[x] = taps.count;
        for (int k = 0; k < taps.count; ++k)
            columnsX[static_cast<std::size_t>(x) * roomX + k] = clampIndex(taps.first + k, sw);
    }
    float* weightsY = static_cast<float*>(allocateMemory(static_cast<std::uint32_t>(roomY * sizeof(float))));

    // Ring of horizontally scaled rows; ringRow[slot] is the source row it holds.
    Float4* ring = static_cast<Float4*>(allocateMemory(
        static_cast<std::uint32_t>(static_cast<std::size_t>(roomY) * width * sizeof(Float4) + sizeof(Float4))));
    // calloc gives 16-byte alignment on this platform; kept explicit.
    ring = reinterpret_cast<Float4*>((reinterpret_cast<std::uintptr_t>(ring) + 15) & ~static_cast<std::uintptr_t>(15));
    int* ringRow = static_cast<int*>(allocateMemory(static_cast<std::uint32_t>(roomY * sizeof(int))));
    for (int slot = 0; slot < roomY; ++slot)
        ringRow[slot] = -1;
    const Float4* rows[64];
    const Float4** tapRows = roomY <= 64 ? rows
                                         : static_cast<const Float4**>(allocateMemory(
                                               static_cast<std::uint32_t>(roomY * sizeof(const Float4*))));

    for (int y = 0; y < height; ++y) {
        Taps taps = tentTaps(y, height, sh, weightsY, roomY);
        for (int t = 0; t < taps.count; ++t) {
            const int sy = clampIndex(taps.first + t, sh);
            const int slot = sy % roomY;
            Float4* middle = ring + static_cast<std::size_t>(slot) * width;
            if (ringRow[slot] != sy) {
                const DWORD* row = source.pixels + static_cast<std::size_t>(sy) * sw;
                for (int x = 0; x < width; ++x) {
                    const float* w = weightsX + static_cast<std::size_t>(x) * roomX;
                    const int* column = columnsX + static_cast<std::size_t>(x) * roomX;
                    Float4 sum = {0.0f, 0.0f, 0.0f, 0.0f};
                    for (int k = 0; k < countX[x]; ++k)
                        sum += w[k] * channels(row[column[k]]);
                    middle[x] = sum;
                }
                ringRow[slot] = sy;
            }
            tapRows[t] = middle;
        }
        DWORD* out = reinterpret_cast<DWORD*>(reinterpret_cast<BYTE*>(destination) + static_cast<std::ptrdiff_t>(y) * pitch);
        for (int x = 0; x < width; ++x) {
            Float4 sum = {0.0f, 0.0f, 0.0f, 0.0f};
            for (int t = 0; t < taps.count; ++t)
                sum += weightsY[t] * tapRows[t][x];
            out[x] = packChannels(sum);
        }
    }
}

} // namespace

void textureFileSetMaxSize(UINT width, UINT height)
{
    maxTextureWidth = width;
    maxTextureHeight = height;
}

bool decodeImageMemory(const BYTE* data, std::size_t size, DecodedImage* image, int wantWidth, int wantHeight)
{
    if (data == nullptr || image == nullptr)
        return false;
    if (wantWidth <= 0)
        wantWidth = static_cast<int>(maxTextureWidth);
    if (wantHeight <= 0)
        wantHeight = static_cast<int>(maxTextureHeight);
    DecodedImage decoded{};
    bool ok;
    if (isJpeg(data, size))
        ok = decodeJpeg(data, size, wantWidth, wantHeight, &decoded);
    else if (isPng(data, size))
        ok = decodePng(data, size, wantWidth, wantHeight, &decoded);
    else
        ok = decodeTga(data, size, wantWidth, wantHeight, &decoded);
    if (ok)
        *image = decoded;
    return ok;
}

bool decodeImageFile(const char* path, DecodedImage* image, int wantWidth, int wantHeight)
{
    BYTE* data = nullptr;
    std::size_t size = 0;
    if (path == nullptr || !readWholeFile(path, &data, &size))
        return false;
    return decodeImageMemory(data, size, image, wantWidth, wantHeight);
}

void scaleImageTent(const DecodedImage& source, int width, int height, DWORD* destination)
{
    scaleImageTentRows(source, width, height, destination, width * 4);
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

    // The size the texture will have, as far as it is known before decoding:
    // a very large picture is decoded reduced toward it.
    const UINT wantWidth = width == 0 || width > maxTextureWidth ? maxTextureWidth : width;
    const UINT wantHeight = height == 0 || height > maxTextureHeight ? maxTextureHeight : height;
    DecodedImage image{};
    if (!decodeImageFile(path, &image, static_cast<int>(wantWidth), static_cast<int>(wantHeight)))
        return D3DXERR_INVALIDDATA;

    // 0 takes the picture's size as decoded; above the device's limit is clamped.
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

    const bool scaled = static_cast<UINT>(image.width) != width || static_cast<UINT>(image.height) != height;

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
    if (scaled && format == D3DFMT_A8R8G8B8) {
        // Scaled straight into the texture: no picture-sized copy in between.
        scaleImageTentRows(image, static_cast<int>(width), static_cast<int>(height),
                           static_cast<DWORD*>(locked.pBits), locked.Pitch);
    } else {
        const DWORD* pixels = image.pixels;
        if (scaled) {
            DWORD* scaledPixels = static_cast<DWORD*>(allocateMemory(width * height * 4));
            scaleImageTent(image, static_cast<int>(width), static_cast<int>(height), scaledPixels);
            pixels = scaledPixels;
        }
        convertPixels(pixels, static_cast<int>(width), static_cast<int>(height), format,
                      static_cast<BYTE*>(locked.pBits), locked.Pitch);
    }
    result = created->UnlockRect(0);
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *texture = created;
    return S_OK;
}
