// The OpenGL devices' driver contract lives with the code both devices
// share; this name stays for the drivers that include it.
#pragma once

#include "platform/gl_common/gl_device.h"
