// The state keys the show reaches, recorded by running it with
// GFXCORE_SHADER_KEYS set in the environment (the shader device prints each
// key the first time it builds its program). The device builds these
// programs when it starts, so that no frame of the show waits for the
// compiler. Bytes in the order of GlesProgramKey; the rest of a row is zero.
// Depends on: platform/gles/gles_program.h.
#include "platform/gles/gles_program.h"

extern const std::uint8_t GLES_SHOW_KEYS[][sizeof(GlesProgramKey)];
extern const int GLES_SHOW_KEY_COUNT;

const std::uint8_t GLES_SHOW_KEYS[][sizeof(GlesProgramKey)] = {
    {},
    {1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,4,2,1,2,2,1},
    {1,1,1,3,0,0,0,0,0,0,0,0,0,0,1,0,0,0,0,0,4,2,1,2,2,1,1,1},
    {1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0,4,2,1,2,2,1},
    {0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1},
    {0,1,1,3,0,0,0,0,0,0,0,0,1,0,1},
    {0,1,1,3,0,0,0,0,0,0,0,0,0,0,1},
};
const int GLES_SHOW_KEY_COUNT = static_cast<int>(sizeof(GLES_SHOW_KEYS) / sizeof(GLES_SHOW_KEYS[0]));
