// The renderer choice: a name table and the factory each one hands out.
#include "platform/renderer.h"

#include "platform/d3d8.h"
#include "platform/gl_common/gl_device.h"

#include <cstring>

namespace {

struct RendererEntry {
    Renderer renderer;
    const char* name;
    Direct3DCreate8Function create;
};

// A browser offers WebGL 2, which is OpenGL ES 3.0: the shader device on
// its es context is the only one built there.
#ifdef __EMSCRIPTEN__
constexpr RendererEntry kRenderers[] = {
    {Renderer::es, "es", glesDirect3DCreate8},
};

Renderer chosenRenderer = Renderer::es;
#else
constexpr RendererEntry kRenderers[] = {
    {Renderer::gl, "gl", glDirect3DCreate8},
    {Renderer::es, "es", glesDirect3DCreate8},
    {Renderer::core, "core", glCoreDirect3DCreate8},
};

Renderer chosenRenderer = Renderer::gl;
#endif

} // namespace

bool rendererFromName(const char* name, Renderer* renderer)
{
    if (name == nullptr)
        return false;
    for (const RendererEntry& entry : kRenderers) {
        if (std::strcmp(entry.name, name) == 0) {
            *renderer = entry.renderer;
            return true;
        }
    }
    return false;
}

const char* rendererName(Renderer renderer)
{
    for (const RendererEntry& entry : kRenderers) {
        if (entry.renderer == renderer)
            return entry.name;
    }
    return kRenderers[0].name;
}

void selectRenderer(Renderer renderer)
{
    chosenRenderer = renderer;
    for (const RendererEntry& entry : kRenderers)
        if (entry.renderer == renderer)
            d3dSetImplementation(entry.create);
}

void selectDefaultRenderer()
{
    selectRenderer(Renderer::es);
#ifndef __EMSCRIPTEN__
    d3dSetImplementation(glesOrGlDirect3DCreate8);
#endif
}

Renderer selectedRenderer() { return chosenRenderer; }
