// Scene 1: metaballs pulsing on the beat.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

void precalcMetaballs() {}
void renderMetaballs(int, float) {}
void resetMetaballsState() {}
