// Which implementation of the 3D API device the programs draw with: the
// fixed-function OpenGL device (gl, the reference) or the shader device on
// an OpenGL ES 3.0 (es) or OpenGL 3.3 core (core) context. The show, the
// capture tool, the benchmarks and the tests choose it at start-up, before
// the device is created; dgl and the scenes never know which one runs.
#pragma once

enum class Renderer { gl, es, core };

// The names the programs' --renderer option takes.
inline constexpr const char* kRendererNames = "gl|es|core";

// False (and *renderer untouched) for a name that is not one of the above.
bool rendererFromName(const char* name, Renderer* renderer);
const char* rendererName(Renderer renderer);

// Sets the factory the 3D API library stand-in hands out (d3dSetImplementation).
void selectRenderer(Renderer renderer);
// The show's choice when none is given: es, or gl where the driver has no
// OpenGL ES 3.0 context to give (selectedRenderer still says es then).
void selectDefaultRenderer();
Renderer selectedRenderer();
