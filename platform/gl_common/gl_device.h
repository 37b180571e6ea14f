// The OpenGL implementations of the 3D API subset (platform/d3d8.h) and the
// hooks that drivers (show, capture tool, benchmarks, tests) use on them.
//
// Two devices share this contract: glDirect3DCreate8 draws with
// fixed-function OpenGL (compatibility profile, the reference);
// glesDirect3DCreate8 and glCoreDirect3DCreate8 draw with generated shaders
// on an OpenGL ES 3.0 or OpenGL 3.3 core context. Each draws on the SDL
// window passed to CreateDevice. Every target is a framebuffer object:
// the back buffer is an internal colour texture with its own 16-bit depth
// renderbuffer; Present draws it into the window (aspect kept, black bars)
// and swaps. Clip control is upper-left / zero-to-one, so row 0 of every
// target is its top row, like a locked texture.
//
// Present returns when the frame is drawn, and a frame that queues much
// work (many triangles, many changes of pixel state) is handed to the driver
// in batches, each waiting for the one before: Mesa's software rasteriser
// holds the memory of all it has queued, so unbounded queues would grow the
// process through the show.
//
// Contract for drivers:
// - glDeviceSetRenderScale before CreateDevice: the back buffer becomes
//   640N x 480N (the present parameters' size times N), render-target
//   textures and depth surfaces N times their size, lines N pixels wide.
//   Coordinates seen by the renderer do not change.
// - glDeviceSetPresentHook: called after each Present with the finished back
//   buffer as RGB bytes, top row first, tightly packed (width * 3 per row).
// - Counters count what reached GL since the last Present (current) and
//   during the frame that the last Present finished (lastFrame).
//
// - One device draws at a time per context; two devices may exist (each on
//   its own window) and take turns, at the cost of a full GL state reset on
//   each switch.
// - A depth surface smaller than the colour target is refused by
//   SetRenderTarget, as the original API does.
//
// Depends on: SDL2 (context, swap). Fixed-function device: OpenGL 3.2
// compatibility profile with GL_ARB_clip_control (4.5 core),
// GL_NV_fog_distance (range fog; eye-plane fog without it). Shader device:
// OpenGL ES 3.0 or OpenGL 3.3 core, no extension.
#pragma once

#include "platform/d3d8.h"

#include <cstdint>

IDirect3D8* glDirect3DCreate8(UINT sdkVersion);
IDirect3D8* glesDirect3DCreate8(UINT sdkVersion);
IDirect3D8* glCoreDirect3DCreate8(UINT sdkVersion);
// The shader device on OpenGL ES 3.0, or the fixed-function device where
// the driver offers no such context (a line on stderr says so).
IDirect3D8* glesOrGlDirect3DCreate8(UINT sdkVersion);

using GlPresentHook = void (*)(const std::uint8_t* rgb, int width, int height, void* user);

// Null switches the read-back off (the default: no read-back cost).
void glDeviceSetPresentHook(GlPresentHook hook, void* user);

// 1 to 8; values outside are clamped. Takes effect at the next CreateDevice.
void glDeviceSetRenderScale(int scale);
int glDeviceRenderScale();

struct GlDeviceCounters {
    std::uint32_t draws;          // draw calls that reached GL (a large list may go in pieces)
    std::uint32_t primitives;     // primitives drawn
    std::uint32_t stateChanges;   // GL state calls (enables, functions, binds, matrices, lights, ...)
    std::uint32_t pixelStateChanges; // those of them that change what pixels go through
    std::uint32_t waits;          // batches handed over (each waits for the one before)
    std::uint32_t textureUploads; // glTexSubImage2D calls
    std::uint32_t bufferUploads;  // vertex/index buffer and streaming buffer uploads
    std::uint32_t uploadedBytes;  // bytes handed to GL by the uploads above
    std::uint32_t clears;
    std::uint32_t frames;         // Presents since the device was created
    std::uint32_t programsCompiled;  // shader device: programs built for a new state key
    std::uint32_t programCacheHits;  // shader device: draws whose state key found its program built
};

// The shader device's programs built since the process started (the
// fixed-function device builds none).
std::uint32_t glDeviceProgramsCompiled();

GlDeviceCounters glDeviceCounters();          // since the last Present
GlDeviceCounters glDeviceLastFrameCounters(); // the frame the last Present finished
