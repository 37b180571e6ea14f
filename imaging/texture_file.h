// Texture files: decodes JPEG, PNG and TGA pictures, scales them to exactly
// the requested size with a triangle (tent) filter and converts them to
// A8R8G8B8 or R5G6B5 in a new texture of the device. Stands in for the 3D
// API helper library's texture-file loader with the same arguments.
//
// Decoding scratch buffers come from allocateMemory (resources/memory.h);
// callers bracket loads with markScratchMemory / freeScratchMemory.
// Every bad input (missing, truncated, corrupt, absurd dimensions) returns a
// failed HRESULT and creates nothing.
//
// Depends on: platform/d3d8.h, platform/paths.h (case-insensitive paths),
// resources/memory.h, libjpeg, libpng.
#pragma once

#include "platform/d3d8.h"

#include <cstddef>

// mipLevels, usage, filter, mipFilter, colorKey, sourceInfo and palette are
// accepted for the caller's sake; one level, the triangle filter and no colour
// key are always used. width/height above the largest texture size are
// clamped to it.
HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8* device, const char* path, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, void* sourceInfo, void* palette,
                                     IDirect3DTexture8** texture);

// The largest texture the device takes; the renderer sets it from the
// device capabilities at start. Default 2048 x 2048.
void textureFileSetMaxSize(UINT width, UINT height);

// A decoded picture: width x height pixels of A8R8G8B8, top row first, in a
// block from allocateMemory.
struct DecodedImage {
    int width;
    int height;
    DWORD* pixels;
};

// Decodes a JPEG, PNG or TGA file (chosen by its contents). false on any
// failure; nothing is left half-written in image. wantWidth x wantHeight is
// the size the picture will be scaled to (0: the largest texture): a JPEG or
// PNG of more than 32 Mi pixels comes out reduced toward it, so image may be
// smaller than the file's own size.
bool decodeImageFile(const char* path, DecodedImage* image, int wantWidth = 0, int wantHeight = 0);
bool decodeImageMemory(const BYTE* data, std::size_t size, DecodedImage* image, int wantWidth = 0,
                       int wantHeight = 0);

// Scales source to width x height with a tent filter (separable, support
// widened when shrinking). destination holds width x height pixels.
void scaleImageTent(const DecodedImage& source, int width, int height, DWORD* destination);
