// Globals shared by the renderer's source files. Only dgl/*.cpp include this.
#pragma once

#include "dgl/dgl.h"

// The device and the surfaces made by dglInit (device.cpp writes them).
extern HMODULE dglLibraryModule;
extern IDirect3D8* dglDirect3D;
extern IDirect3DDevice8* dglDeviceObject;
extern IDirect3DSurface8* dglBackBuffer;
extern IDirect3DSurface8* dglDefaultDepth;

// The cached state record: written only by the dgl setters.
extern DglState dglState;

// The pools (pools.cpp writes them). Entries are never removed.
struct DglTextureEntry {
    IDirect3DTexture8* texture;
    IDirect3DSurface8* surface; // level 0 of a render-target texture, else NULL
};
extern DglTextureEntry dglTextures[DGL_MAX_TEXTURES];
extern int dglTextureTotal;
extern IDirect3DVertexBuffer8* dglVertexBuffers[DGL_MAX_VERTEX_BUFFERS];
extern int dglVertexBufferTotal;
extern IDirect3DIndexBuffer8* dglIndexBuffers[DGL_MAX_INDEX_BUFFERS];
extern int dglIndexBufferTotal;
extern IDirect3DSurface8* dglDepthBuffers[DGL_MAX_DEPTH_BUFFERS];
extern int dglDepthBufferTotal;

// Releases every pooled object in creation order and empties the pools.
void dglReleasePools();
