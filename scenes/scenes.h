// The eight scenes of the show, in show order. Each has a precalculation run
// once by the load sequence and a render step run by the Timeline for every
// frame inside its window, with the corrected show time in milliseconds (t)
// and seconds (s).
#pragma once

#include "dgl/dgl.h"

void precalcMetaballs();
void renderMetaballs(int t, float s);

void precalcModelEchoes();
void renderModelEchoes(int t, float s);

void precalcWaveWhirl();
void renderWaveWhirl(int t, float s);

void precalcCityClips();
void renderCityClips(int t, float s);

void precalcCubeField();
void renderCubeField(int t, float s);

void precalcKnotSprites();
void renderKnotSprites(int t, float s);

void precalcVideoPanel();
void renderVideoPanel(int t, float s);

void precalcBranchSculpture();
void renderBranchSculpture(int t, float s);

// Scene 4's line picture, also drawn by scene 6.
extern IDirect3DTexture8* cityLineTexture;

// Each scene's per-run state (first-frame flag, beat marks, counters) back
// to its start values, so tests and tools can replay a scene. Resources made
// by the precalculation are not touched.
void resetMetaballsState();
void resetModelEchoesState();
void resetWaveWhirlState();
void resetCityClipsState();
void resetCubeFieldState();
void resetKnotSpritesState();
void resetVideoPanelState();
void resetBranchSculptureState();

// Scene 3's wave sheet as the last render step bent it (tests, tools).
struct Mesh;
const Mesh& waveWhirlSheet();
// Scene 4's video texture, holding the clip frame of the last render step (tests, tools).
IDirect3DTexture8* cityClipsVideoTexture();
