// Scene 8: the closing sculpture of 109 chamfered blocks.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

void precalcBranchSculpture() {}
void renderBranchSculpture(int, float) {}
void resetBranchSculptureState() {}
