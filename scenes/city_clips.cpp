// Scene 4: city clips on the beat, and the line picture scene 6 reuses.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

IDirect3DTexture8* cityLineTexture = nullptr;

void precalcCityClips() {}
void renderCityClips(int, float) {}
void resetCityClipsState() {}
