// Timeline and music clock; see timeline.h.
// Depends on: scenes/scenes.h (render steps), platform/audio,
// kernel/messages (fatalExit, loading log), resources/files.
#include "kernel/timeline.h"

#include "kernel/messages.h"
#include "resources/files.h"
#include "scenes/scenes.h"

#include <climits>
#include <cstring>

AudioStream musicStream = 0;
float musicOffset = 0.0f;

TimelineScene timelineScenes[TIMELINE_SCENE_COUNT] = {
    {INT_MIN, 57112, renderMetaballs},
    {57112, 74314, renderModelEchoes},
    {74314, 88010, renderWaveWhirl},
    {88010, 101778, renderCityClips},
    {101778, 122370, renderCubeField},
    {122370, 139570, renderKnotSprites},
    {139570, 157050, renderVideoPanel},
    {157050, SHOW_END_MS, renderBranchSculpture},
};

namespace {
void writeLog(const char* text) { writeToFile(loadingLog, text, static_cast<DWORD>(std::strlen(text))); }
}

int musicFadeVolume(int t)
{
    int volume = 100 - (t - MUSIC_FADE_START_MS) / 20;
    return volume < 0 ? 0 : (volume > 100 ? 100 : volume);
}

DWORD musicBytesPerSecond(DWORD rate, DWORD flags)
{
    DWORD channels = (flags & AUDIO_SAMPLE_MONO) != 0 ? 1 : 2;
    DWORD bytesPerSample = (flags & AUDIO_SAMPLE_8BITS) != 0 ? 1 : 2;
    return rate * channels * bytesPerSample;
}

void startMusic(HWND)
{
    writeLog("ok let's init bass\r\n");
    if (!platformAudioInit(44100) || !platformAudioStart())
        fatalExit("Can not initialize Bass sound system. The default sound device might not be available.");
    musicStream = platformAudioStreamCreateFile("Data/Music.mp3", AUDIO_MP3_SETPOS);
    if (musicStream == 0)
        fatalExit("Can not load MP3: Data/Music.mp3.");
    platformAudioStreamPlay(musicStream, true);
    writeLog("mp3 loaded\r\n");
    DWORD rate = 0;
    platformAudioGetRate(musicStream, &rate);
    DWORD bytesPerSecond = musicBytesPerSecond(rate, platformAudioGetFlags(musicStream));
    platformAudioSetPosition(musicStream, 0);
    DWORD position = platformAudioGetPosition(musicStream);
    // A stream without a rate would divide by zero: it has no clock to offset.
    musicOffset = bytesPerSecond != 0 ? static_cast<float>(position) / static_cast<float>(bytesPerSecond) : 0.0f;
    writeLog("mp3 calibrated ;)\r\n");
    writeLog("we survived or so it seems. let the show begin!\r\n");
}

void Timeline(int timeMs, float timeSeconds)
{
    if (musicOffset + timeSeconds < 0.0f)
        return;
    // Wrapping 32-bit sum: the clock is unsigned underneath.
    int t = static_cast<int>(static_cast<unsigned>(timeMs) +
                             static_cast<unsigned>(static_cast<int>(musicOffset * 1000.0f)));
    float s = timeSeconds + musicOffset;
    for (const TimelineScene& scene : timelineScenes) {
        if (t >= scene.start && t < scene.end) {
            scene.render(t, s);
            break;
        }
    }
    if (t > MUSIC_FADE_START_MS)
        platformAudioSetStreamVolume(musicFadeVolume(t));
    if (t >= SHOW_END_MS)
        fatalExit(nullptr);
}
