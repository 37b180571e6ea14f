// The state keys the show reaches, recorded by running it with
// GFXCORE_SHADER_KEYS set (each new key is printed as one line). The shader
// device builds these programs when it starts.
// Depends on: platform/gles/gles_program.h.
#include "platform/gles/gles_program.h"

extern const std::uint8_t GLES_SHOW_KEYS[][sizeof(GlesProgramKey)];
extern const int GLES_SHOW_KEY_COUNT;

const std::uint8_t GLES_SHOW_KEYS[][sizeof(GlesProgramKey)] = {
    {0},
};
const int GLES_SHOW_KEY_COUNT = 0;
