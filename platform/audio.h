// The audio library of the show: one default output device and MP3 streams
// played from their start once. SDL2 audio output (callback) fed by libmpg123.
// The device runs 16-bit stereo at the rate given to init; a stream decodes
// at its file's own rate and channels (any MPEG audio rate, 8 to 48 kHz, mono
// or stereo, 16-bit) and is converted to the device's format on the way out.
// Rate, flags and byte positions are those of the stream as decoded, so
// rate x channels x 2 bytes per sample is its bytes per second. A stream's
// byte position is how much of it has been handed to the device since the
// last seek. The stream volume (0..100, 0 silent) is applied in the mixer to
// every stream.
//
// Only MPEG audio opens: a file must start (after ID3v2 tags and a little
// junk) with a run of frames that follow each other exactly. A file cut
// short plays what it holds, then the stream ends. The decoder never writes
// to stderr.
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
// the audio is not initialised or the file cannot be opened or is not MPEG
// audio.
AudioStream platformAudioStreamCreateFile(const char* path, DWORD flags);
// Starts a stream; restart = from its first byte. Plays once, no looping.
bool platformAudioStreamPlay(AudioStream stream, bool restart);
// Sample rate (Hz) of the stream as decoded; false for an unknown stream.
bool platformAudioGetRate(AudioStream stream, DWORD* rate);
// AUDIO_SAMPLE_* bits of the stream as decoded: AUDIO_SAMPLE_MONO for a
// mono file, 0 for stereo; never 8-bit.
DWORD platformAudioGetFlags(AudioStream stream);
// Byte position in the stream as decoded (2 bytes per mono frame, 4 per
// stereo frame).
bool platformAudioSetPosition(AudioStream stream, DWORD bytePosition);
DWORD platformAudioGetPosition(AudioStream stream);
// The stream volume of every stream, 0..100 (clamped); initially 100.
void platformAudioSetStreamVolume(int volume);
int platformAudioGetStreamVolume();
// True while a stream still has sound to hand to the device.
bool platformAudioStreamPlaying(AudioStream stream);
// Stops and frees everything; safe when nothing was started.
void platformAudioFree();
