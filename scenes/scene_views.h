// Read-only views of the per-run state of scenes 5 to 8, and scene 7's
// caption table, for tests and tools. The scenes themselves do not use them.
// Depends on: dgl/dgl.h (colour type).
#pragma once

#include "dgl/dgl.h"

struct CubeFieldView {
    int beatMark;
    int direction;      // 1: narrow view, small ring; 0: wide view, large ring
    int pictureCounter; // beat picture 0..4, -1 before the first beat
    bool orange;        // columns lit orange from the middle of the dip on
};
CubeFieldView cubeFieldView();

struct KnotSpritesView {
    int beatMark;
    int direction;   // of the beat swing: 1 backwards, 0 forwards
    int clipCounter; // 0..5: clip 1 for 0-1, clip 2 for 2-3, clip 3 for 4-5
    bool bright;
};
KnotSpritesView knotSpritesView();

struct KnotSprite {
    int start;    // ms of scene time
    int duration; // ms
    float x;
    float speed;
};
constexpr int KNOT_SPRITE_COUNT = 900;
const KnotSprite* knotSprites();

// Scene 7's credit caption at scene time r (ms).
constexpr int VIDEO_PANEL_CODE = 0;
constexpr int VIDEO_PANEL_GFX = 1;
constexpr int VIDEO_PANEL_PRALT = 2;
struct VideoPanelCaption {
    int picture; // VIDEO_PANEL_CODE, _GFX or _PRALT
    int left;    // x on the 512x512 canvas
    D3DCOLOR color;
};
VideoPanelCaption videoPanelCaption(int r);
