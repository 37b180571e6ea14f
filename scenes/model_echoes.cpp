// Scene 2: model echoes with beat captions.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

void precalcModelEchoes() {}
void renderModelEchoes(int, float) {}
void resetModelEchoesState() {}
