// Which 3D API implementation the renderer's "library" resolves to.
#include "platform/d3d8.h"

#include <cstring>

IDirect3D8* glDirect3DCreate8(UINT sdkVersion); // platform/gl/gl_fixed.cpp

struct D3DLibraryModule {
    Direct3DCreate8Function create;
};

namespace {
Direct3DCreate8Function chosenImplementation = glDirect3DCreate8;
D3DLibraryModule loadedModule{};
}

void d3dSetImplementation(Direct3DCreate8Function create) { chosenImplementation = create; }

Direct3DCreate8Function d3dImplementation() { return chosenImplementation; }

HMODULE d3dLoadLibrary(const char* name)
{
    if (chosenImplementation == nullptr || name == nullptr || std::strcmp(name, "D3D8.dll") != 0)
        return nullptr;
    loadedModule.create = chosenImplementation;
    return &loadedModule;
}

Direct3DCreate8Function d3dGetProcAddress(HMODULE module, const char* name)
{
    if (module == nullptr || name == nullptr || std::strcmp(name, "Direct3DCreate8") != 0)
        return nullptr;
    return module->create;
}

void d3dFreeLibrary(HMODULE module)
{
    if (module != nullptr)
        module->create = nullptr;
}
