// The browser build leaves the fixed-function device out (WebGL 2 has no
// fixed pipeline): these stand in for the two names of it that the shared
// code refers to. The 3D API library's default factory makes no device, so
// a driver that forgot to choose the shader device gets the show's own
// message for it; the shared buffer cache has no fixed-function bindings
// to forget.
// Depends on: platform/gl_common/gl_common.h. Browser builds only.
#include "platform/gl_common/gl_common.h"

IDirect3D8* glDirect3DCreate8(UINT) { return nullptr; }

void glFixedCacheForgetBuffer(GLuint) {}
