// The recording device: an implementation of the 3D API (platform/d3d8.h)
// that draws nothing and logs every call with its arguments, so the renderer
// and the code above it can be checked call by call. Locks hand out real
// memory (kept per object, so what was written can be read back); adapter
// modes, capabilities and the desktop format are configurable; any call can
// be told to fail with a chosen HRESULT.
//
// Use: recordingInstall(); dglInit(...); read recordingLog(); recordingClearLog().
// Log lines: device and factory calls by name, e.g. "SetRenderState(27, 1)",
// "CreateTexture(256, 256, 1, 0, 21, 1) -> texture1"; calls on a resource
// prefixed with its label, e.g. "texture1.LockRect(0)", "vertexbuffer2.Release()".
// Labels: d3d, device, backbuffer, defaultdepth, textureN, textureN.surface,
// vertexbufferN, indexbufferN, depthN (N counts from 1 per kind since
// recordingInstall / recordingReset). Pointer arguments print as labels or NULL;
// floats print with %g; matrices as 16 numbers in brackets, row by row;
// colours (Clear) as 0xaarrggbb, FVF codes and usages as hex; every other
// number in decimal (render-state values as unsigned). A call made to fail
// ends its line with " -> failed 0x........".
//
// Depends on: platform/d3d8.h only.
#pragma once

#include "platform/d3d8.h"

#include <string>
#include <vector>

// The adapter and device the recording factory reports.
struct RecordingConfig {
    std::vector<D3DDISPLAYMODE> modes;    // GetAdapterModeCount / EnumAdapterModes
    D3DDISPLAYMODE desktop;               // GetAdapterDisplayMode
    DWORD devCaps;                        // D3DCAPS8::DevCaps
    DWORD maxTextureWidth;                // D3DCAPS8::MaxTextureWidth
    DWORD maxTextureHeight;               // D3DCAPS8::MaxTextureHeight
    D3DFORMAT backBufferFormat;           // GetDesc of the back buffer (0: the present parameters' format)
};

// Chooses the recording device as the 3D API implementation (d3dSetImplementation)
// and resets log, configuration, failures and labels.
void recordingInstall();
// Resets log, configuration, failures and labels without changing the implementation.
void recordingReset();
// The factory function itself (for d3dSetImplementation).
IDirect3D8* recordingDirect3DCreate8(UINT sdkVersion);

// Default: 640x480 and 800x600 in X8R8G8B8 and R5G6B5, desktop 1024x768
// X8R8G8B8, hardware T&L and pure device, textures up to 2048x2048.
RecordingConfig& recordingConfig();

// Logging costs a formatted string per call; switch it off to time the code
// above the device. The call counters keep counting either way.
void recordingSetLogging(bool on);
const std::vector<std::string>& recordingLog();
void recordingClearLog();
// Log lines that begin with prefix, in order (e.g. "SetRenderState(", "texture1.").
std::vector<std::string> recordingLogLines(const char* prefix);
// Calls of the method name (e.g. "SetTexture", "Release") since the last
// recordingClearLog, counted also with logging off.
int recordingCallCount(const char* method);
// The whole log as one string, one call per line (for failure output).
std::string recordingLogText();

// Makes the method name fail with result: occurrence 0 fails every call from
// now on, n fails only the n-th call counted from now (1 = the next one).
// Failed creations hand out NULL; failed locks hand out no memory.
void recordingFailCall(const char* method, HRESULT result, int occurrence = 0);
void recordingClearFailures();
// What TestCooperativeLevel returns (default S_OK).
void recordingSetCooperativeLevel(HRESULT result);

// Objects created and not yet released to a reference count of 0 (factory,
// device, surfaces, textures, buffers).
int recordingLiveObjects();
// The label of an object handed out by the recording device, "NULL" for
// nullptr, "?" for anything else.
std::string recordingLabel(const void* object);

// What the device holds now (last value set; defaults of the 3D API otherwise).
DWORD recordingRenderState(D3DRENDERSTATETYPE state);
DWORD recordingTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type);
D3DMATRIX recordingTransform(D3DTRANSFORMSTATETYPE type);
IDirect3DTexture8* recordingBoundTexture(DWORD stage);
D3DLIGHT8 recordingLight(DWORD index);
bool recordingLightEnabled(DWORD index);
D3DMATERIAL8 recordingMaterial();
DWORD recordingVertexShader();
IDirect3DVertexBuffer8* recordingStreamSource(UINT* stride);
IDirect3DIndexBuffer8* recordingIndices(UINT* baseVertexIndex);
IDirect3DSurface8* recordingColorTarget();
IDirect3DSurface8* recordingDepthTarget();

// Sizes and memory of created objects (for reading back what was written).
struct RecordingTextureInfo {
    UINT width;
    UINT height;
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
    int pitch;
    BYTE* texels; // level 0, top row first
};
bool recordingTextureInfo(IDirect3DTexture8* texture, RecordingTextureInfo* info);
// Length in bytes and memory of a vertex or index buffer; NULL for an unknown pointer.
BYTE* recordingBufferMemory(const void* buffer, UINT* length);

// The vertices of the last DrawPrimitiveUP (count x stride bytes copied) and
// its primitive count, type and stride.
struct RecordingUserDraw {
    D3DPRIMITIVETYPE type;
    UINT primitiveCount;
    UINT stride;
    std::vector<BYTE> vertices;
};
const RecordingUserDraw& recordingLastUserDraw();
// Draw calls of both kinds and the primitives they drew since the last
// recordingClearLog.
int recordingDrawCount();
long long recordingPrimitiveCount();
