// Real and replaceable millisecond clock; see clock.h.
// Depends on: SDL2 (timer).
#include "platform/clock.h"

#include <SDL2/SDL.h>

namespace {
PlatformClock virtualClock = nullptr; // set only by platformSetClock
}

void platformSetClock(PlatformClock clock) { virtualClock = clock; }

DWORD timeGetTime()
{
    if (virtualClock != nullptr)
        return virtualClock();
    if (SDL_WasInit(SDL_INIT_TIMER) == 0)
        SDL_InitSubSystem(SDL_INIT_TIMER);
    return static_cast<DWORD>(SDL_GetTicks());
}
