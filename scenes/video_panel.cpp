// Scene 7: video panel echo with cross-fading credit captions.
// Depends on: dgl, effects, geometry, resources, kernel.
#include "scenes/scenes.h"

void precalcVideoPanel() {}
void renderVideoPanel(int, float) {}
void resetVideoPanelState() {}
