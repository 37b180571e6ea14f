// Scene 5: a field of lit cube columns under a ring of photographs.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

void precalcCubeField() {}
void renderCubeField(int, float) {}
void resetCubeFieldState() {}
