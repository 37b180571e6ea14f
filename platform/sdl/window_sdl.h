// The SDL window behind a window handle, for the OpenGL device (its context
// is made on this window) and other code inside platform/ only.
// Depends on: SDL2, platform/window.h.
#pragma once

#include "platform/window.h"

#include <SDL2/SDL.h>

// Null for a null handle.
SDL_Window* platformSdlWindow(HWND window);
