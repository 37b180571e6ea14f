// Scene 3: wireframe wave whirl.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

void precalcWaveWhirl() {}
void renderWaveWhirl(int, float) {}
void resetWaveWhirlState() {}
