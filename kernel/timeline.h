// The timeline that hands each frame to one scene, and the music that the
// show is locked to: started at the end of loading, its clock offset measured
// once and added to the show time of every frame.
// Depends on: scenes (render steps), platform/audio, kernel/messages.
#pragma once

#include "platform/audio.h"
#include "platform/win_types.h"

// Written by startMusic only (tests may set musicOffset directly).
extern AudioStream musicStream;
extern float musicOffset;

constexpr int TIMELINE_SCENE_COUNT = 8;
constexpr int MUSIC_FADE_START_MS = 155050;
constexpr int SHOW_END_MS = 165000;

// One scene's half-open window [start, end) of corrected show time, in ms.
struct TimelineScene {
    int start;
    int end;
    void (*render)(int t, float s);
};

// The scene table in show order. Fixed for the show; tests and tools may
// swap a render step to watch which scene is called.
extern TimelineScene timelineScenes[TIMELINE_SCENE_COUNT];

void startMusic(HWND window);
void Timeline(int timeMs, float timeSeconds);

// Stream volume for corrected time t > MUSIC_FADE_START_MS: 100 falling by one
// every 20 ms, never below 0.
int musicFadeVolume(int t);
// Bytes of output per second for a stream's rate and AUDIO_SAMPLE_* flags.
DWORD musicBytesPerSecond(DWORD rate, DWORD flags);
