// The renderer choice: a name table and the factory each one hands out.
#include "platform/renderer.h"

#include "platform/d3d8.h"
#include "platform/gl/gl_device.h"

#include <cstring>

namespace {

struct RendererEntry {
    Renderer renderer;
    const char* name;
};

constexpr RendererEntry kRenderers[] = {
    {Renderer::gl, "gl"},
    {Renderer::es, "es"},
    {Renderer::core, "core"},
};

Renderer chosenRenderer = Renderer::gl;

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
    return "gl";
}

void selectRenderer(Renderer renderer)
{
    chosenRenderer = renderer;
    // Until the shader device exists every name draws with the OpenGL device.
    d3dSetImplementation(glDirect3DCreate8);
}

Renderer selectedRenderer() { return chosenRenderer; }
