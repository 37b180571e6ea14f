// The audio library of the show: one default output device and MP3 streams
// played from their start once. SDL2 audio output (callback) fed by libmpg123,
// 16-bit stereo at 44100 Hz. A stream's byte position is what has been handed
// to the device since the last seek. The stream volume (0..100, 0 silent) is
// applied in the mixer to every stream.
//
// A driver may choose the silent stand-in before init (capture, bench):
// init succeeds without a device, streams open and decode nothing, positions
// report 0, nothing is played.
//
// With SDL_AUDIODRIVER=disk the sound goes to the file named by
// SDL_DISKAUDIOFILE. No output device: platformAudioInit fails.
// Depends on: SDL2 (audio), libmpg123.
#pragma once

#include "platform/win_types.h"

using AudioStream = DWORD; // 0 = no stream

constexpr DWORD AUDIO_SAMPLE_8BITS = 0x1;
constexpr DWORD AUDIO_SAMPLE_MONO = 0x2;
constexpr DWORD AUDIO_MP3_SETPOS = 0x20000; // exact seeking

void platformSetAudioSilent(bool silent);

// Opens the default output device at `frequency` Hz, paused. False when no
// device can be opened. A second init without platformAudioFree fails.
bool platformAudioInit(int frequency);
// Starts the device's output. False before a successful init.
bool platformAudioStart();
// Opens an MP3 file (path resolved case-insensitively) as a stream; 0 when
// the audio is not initialised or the file cannot be opened or decoded.
AudioStream platformAudioStreamCreateFile(const char* path, DWORD flags);
// Starts a stream; restart = from its first byte. Plays once, no looping.
bool platformAudioStreamPlay(AudioStream stream, bool restart);
// Sample rate (Hz) of the stream's output; false for an unknown stream.
bool platformAudioGetRate(AudioStream stream, DWORD* rate);
// AUDIO_SAMPLE_* bits of the stream's output (0 = 16-bit stereo).
DWORD platformAudioGetFlags(AudioStream stream);
// Byte position in the stream's output (4 bytes per stereo frame).
bool platformAudioSetPosition(AudioStream stream, DWORD bytePosition);
DWORD platformAudioGetPosition(AudioStream stream);
// The stream volume of every stream, 0..100 (clamped); initially 100.
void platformAudioSetStreamVolume(int volume);
int platformAudioGetStreamVolume();
// True while a stream still has sound to hand to the device.
bool platformAudioStreamPlaying(AudioStream stream);
// Stops and frees everything; safe when nothing was started.
void platformAudioFree();
