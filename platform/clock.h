// The millisecond clock of the show. Real: SDL's 32-bit tick count, so
// differences are taken in unsigned 32-bit arithmetic and survive the wrap.
// A driver (capture, bench, tests) may replace it with a virtual clock that it
// advances itself.
// Depends on: SDL2 (timer).
#pragma once

#include "platform/win_types.h"

using PlatformClock = DWORD (*)();

DWORD timeGetTime();

// Replaces the clock; null restores the real one.
void platformSetClock(PlatformClock clock);
