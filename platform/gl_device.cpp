// OpenGL device: factory entry and driver hooks (placeholder bodies while
// the device is being written).
// Depends on: platform/gl_device.h.
#include "platform/gl_device.h"

namespace {
GlPresentHook presentHook = nullptr;
void* presentHookUser = nullptr;
int renderScale = 1;
GlDeviceCounters currentCounters{};
GlDeviceCounters frameCounters{};
}

IDirect3D8* glDirect3DCreate8(UINT) { return nullptr; }

void glDeviceSetPresentHook(GlPresentHook hook, void* user)
{
    presentHook = hook;
    presentHookUser = user;
}

void glDeviceSetRenderScale(int scale) { renderScale = scale < 1 ? 1 : (scale > 8 ? 8 : scale); }

int glDeviceRenderScale() { return renderScale; }

GlDeviceCounters glDeviceCounters() { return currentCounters; }

GlDeviceCounters glDeviceLastFrameCounters() { return frameCounters; }
