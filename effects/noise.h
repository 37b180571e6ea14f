// Grey static over the picture: rewrites the shared 256x256 noiseTexture from
// randomTable at a random start, with up to four rows blanked to black.
// Depends on: kernel/loader.h (noiseTexture, randomTable), kernel/random.h, dgl/dgl.h.
#pragma once

#include "kernel/loader.h"

// Returns noiseTexture, rewritten and ready to bind. Calls rand15() 5 times.
IDirect3DTexture8* updateNoiseTexture();
