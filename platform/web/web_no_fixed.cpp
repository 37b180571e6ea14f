// The browser build leaves the fixed-function device out (WebGL 2 has no
// fixed pipeline): these stand in for the names of it, and of the desktop
// profiles' GL calls, that the shared code refers to. WebGL 2 offers only
// the OpenGL ES 3.0 path, so none of them is reached there: the GL calls
// sit behind the compatibility or core profile. The 3D API library's
// default factory makes no device, so a driver that forgot to choose the
// shader device gets the show's own message for it.
// Depends on: platform/gl_common/gl_common.h. Browser builds only.
#include "platform/gl_common/gl_common.h"

IDirect3D8* glDirect3DCreate8(UINT) { return nullptr; }

void glFixedCacheForgetBuffer(GLuint) {}

void glClipControl(GLenum, GLenum) {}

void glProvokingVertex(GLenum) {}

void glDrawElementsBaseVertex(GLenum, GLsizei, GLenum, const void*, GLint) {}
