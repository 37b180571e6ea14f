// The load sequence between opening the window and the first frame: the
// loading log, the shared random table and noise texture, the progress
// picture, the eight scene precalculations with a progress frame after each,
// and the start of the music.
// Depends on: resources (files, memory), dgl, effects/screen_quad.h,
// scenes/scenes.h, kernel/timeline.h, kernel/messages.h, kernel/random.h,
// platform/window.h (message queue).
#pragma once

#include "dgl/dgl.h"
#include "platform/win_types.h"

constexpr int RANDOM_TABLE_SIZE = 65536;

// 65536 values 0..224 (rand15() % 225 in index order), filled by the load sequence.
extern BYTE randomTable[RANDOM_TABLE_SIZE];
// 256x256 A8R8G8B8, lockable; rewritten by updateNoiseTexture.
extern IDirect3DTexture8* noiseTexture;
// The progress picture, 512x256 A8R8G8B8 from data/houjebek.tga.
extern IDirect3DTexture8* progressTexture;

// Called once after dglInit. Ends with startMusic(window).
void loadAndPrecalc(HWND window);
// Draws and presents one progress frame, step 0..8, and drains the window's
// message queue.
void showProgress(int step);

// The sequence with its precalculation steps and music start given by the
// caller: loadAndPrecalc passes the eight scenes' steps and startMusic; tests
// pass their own to check the order of frames, steps and log lines.
using PrecalcStep = void (*)();
using MusicStart = void (*)(HWND window);
constexpr int LOAD_STEP_COUNT = 8;
void runLoadSequence(HWND window, const PrecalcStep steps[LOAD_STEP_COUNT], MusicStart musicStart);

// The eight scenes' precalculations in load order.
extern const PrecalcStep SCENE_PRECALC_STEPS[LOAD_STEP_COUNT];

// The same sequence in pieces, for a driver that must return to its caller
// between them (a browser draws the page only between its frame callbacks):
// beginLoadSequence up to and including progress frame 0, runLoadStep for
// step 0..7 (the step, then its progress frame), finishLoadSequence starts the
// music. runLoadSequence is exactly these calls in order.
void beginLoadSequence(HWND window);
void runLoadStep(const PrecalcStep steps[LOAD_STEP_COUNT], int step);
void finishLoadSequence(HWND window, MusicStart musicStart);

// The bar width of a progress step: 185 at step 0, 28 more per step.
int progressBarWidth(int step);
