// The audio layer on a real (disk) output device and real MP3 decoding: byte
// position and exact seeking, playing once, the stream volume, the silent
// stand-in of the capture tool, and a missing device.
#include "platform/audio.h"
#include "tests/support/mp3.h"

#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr double SECONDS = 1.0;
constexpr DWORD TOTAL_BYTES = 44100 * 4; // one second of 16-bit stereo

class Audio : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/gfxcore-audio-XXXXXX";
        folder = mkdtemp(pattern);
        mp3Ready = writeTestMp3(folder + "/Tone.mp3", SECONDS, 0.5);
    }
    static void TearDownTestSuite()
    {
        std::string command = "rm -rf " + folder;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    void SetUp() override
    {
        if (!mp3Ready)
            GTEST_SKIP() << "LAME is not available to make a test MP3";
        // Our own output file, written as fast as the mixer runs.
        output = folder + "/out.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
        platformSetAudioSilent(false);
    }
    void TearDown() override
    {
        platformAudioFree();
        platformSetAudioSilent(false);
    }
    // Waits (at most a few seconds) until the stream has handed everything to the device.
    static bool waitForEnd(AudioStream stream)
    {
        for (int i = 0; i < 5000 && platformAudioStreamPlaying(stream); i++)
            SDL_Delay(1);
        return !platformAudioStreamPlaying(stream);
    }
    std::vector<short> readOutput()
    {
        std::ifstream file(output, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<short> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
    static int peak(const std::vector<short>& samples, std::size_t from, std::size_t to)
    {
        int loudest = 0;
        for (std::size_t i = from; i < to && i < samples.size(); i++)
            loudest = std::max(loudest, std::abs(static_cast<int>(samples[i])));
        return loudest;
    }
    static std::string folder;
    static bool mp3Ready;
    std::string output;
};

std::string Audio::folder;
bool Audio::mp3Ready = false;

TEST_F(Audio, StreamReportsSixteenBitStereoAtTheDeviceRate)
{
    ASSERT_TRUE(platformAudioInit(44100));
    ASSERT_TRUE(platformAudioStart());
    // The path is resolved ignoring case, as every data path.
    AudioStream stream = platformAudioStreamCreateFile((folder + "/tone.MP3").c_str(), AUDIO_MP3_SETPOS);
    ASSERT_NE(stream, 0u);
    DWORD rate = 0;
    EXPECT_TRUE(platformAudioGetRate(stream, &rate));
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(platformAudioGetFlags(stream), 0u);
    EXPECT_EQ(platformAudioGetPosition(stream), 0u);
}

TEST_F(Audio, PlaysOnceAndCountsEveryByteHandedToTheDevice)
{
    ASSERT_TRUE(platformAudioInit(44100));
    ASSERT_TRUE(platformAudioStart());
    AudioStream stream = platformAudioStreamCreateFile((folder + "/Tone.mp3").c_str(), AUDIO_MP3_SETPOS);
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(platformAudioStreamPlay(stream, true));
    ASSERT_TRUE(waitForEnd(stream));
    // Gapless decoding gives back exactly the encoded second; no looping.
    EXPECT_EQ(platformAudioGetPosition(stream), TOTAL_BYTES);
    SDL_Delay(20);
    EXPECT_EQ(platformAudioGetPosition(stream), TOTAL_BYTES);
}

TEST_F(Audio, SeekingMovesToTheExactByteAndRestartsTheCount)
{
    ASSERT_TRUE(platformAudioInit(44100));
    AudioStream stream = platformAudioStreamCreateFile((folder + "/Tone.mp3").c_str(), AUDIO_MP3_SETPOS);
    ASSERT_NE(stream, 0u);
    // Device not started yet: nothing is consumed, so the output starts at the seek.
    ASSERT_TRUE(platformAudioSetPosition(stream, TOTAL_BYTES * 3 / 4));
    EXPECT_EQ(platformAudioGetPosition(stream), 0u);
    ASSERT_TRUE(platformAudioStreamPlay(stream, false));
    ASSERT_TRUE(platformAudioStart());
    ASSERT_TRUE(waitForEnd(stream));
    EXPECT_EQ(platformAudioGetPosition(stream), TOTAL_BYTES / 4);
    platformAudioFree();
    // The device played silence while paused; after it comes the quarter
    // second of tone from 0.75 s and nothing more (the stream has ended).
    std::vector<short> samples = readOutput();
    std::size_t first = 0;
    while (first < samples.size() && std::abs(samples[first]) < 100)
        first++;
    std::size_t last = samples.size();
    while (last > first && std::abs(samples[last - 1]) < 100)
        last--;
    ASSERT_LT(first, samples.size());
    std::size_t toneSamples = 44100 / 4 * 2;
    EXPECT_NEAR(static_cast<double>(last - first), static_cast<double>(toneSamples), 64.0);
    EXPECT_GT(peak(samples, first, last), 10000);
}

TEST_F(Audio, RestartPlaysFromTheFirstByte)
{
    ASSERT_TRUE(platformAudioInit(44100));
    AudioStream stream = platformAudioStreamCreateFile((folder + "/Tone.mp3").c_str(), AUDIO_MP3_SETPOS);
    ASSERT_NE(stream, 0u);
    ASSERT_TRUE(platformAudioSetPosition(stream, TOTAL_BYTES * 3 / 4));
    ASSERT_TRUE(platformAudioStreamPlay(stream, true));
    ASSERT_TRUE(platformAudioStart());
    ASSERT_TRUE(waitForEnd(stream));
    EXPECT_EQ(platformAudioGetPosition(stream), TOTAL_BYTES);
    platformAudioFree();
    // First the half second of silence, then the tone.
    std::vector<short> samples = readOutput();
    ASSERT_GE(samples.size(), std::size_t(TOTAL_BYTES / 2));
    EXPECT_LT(peak(samples, 0, 44100 / 2 * 2 - 4096), 200);
    EXPECT_GT(peak(samples, 44100 * 2 * 3 / 4, 44100 * 2), 10000);
}

TEST_F(Audio, VolumeZeroIsSilentAndVolumeIsClamped)
{
    platformAudioSetStreamVolume(150);
    EXPECT_EQ(platformAudioGetStreamVolume(), 100);
    platformAudioSetStreamVolume(-3);
    EXPECT_EQ(platformAudioGetStreamVolume(), 0);
    ASSERT_TRUE(platformAudioInit(44100));
    AudioStream stream = platformAudioStreamCreateFile((folder + "/Tone.mp3").c_str(), AUDIO_MP3_SETPOS);
    ASSERT_TRUE(platformAudioStreamPlay(stream, true));
    ASSERT_TRUE(platformAudioStart());
    ASSERT_TRUE(waitForEnd(stream));
    platformAudioFree();
    std::vector<short> samples = readOutput();
    ASSERT_GE(samples.size(), std::size_t(TOTAL_BYTES / 2));
    EXPECT_EQ(peak(samples, 0, samples.size()), 0);
    EXPECT_EQ(platformAudioGetStreamVolume(), 100); // freeing the audio restores full volume
}

TEST_F(Audio, FailuresGiveNoStream)
{
    EXPECT_EQ(platformAudioStreamCreateFile((folder + "/Tone.mp3").c_str(), 0), 0u); // not initialised
    EXPECT_FALSE(platformAudioStart());
    ASSERT_TRUE(platformAudioInit(44100));
    EXPECT_FALSE(platformAudioInit(44100)); // already initialised
    EXPECT_EQ(platformAudioStreamCreateFile((folder + "/Missing.mp3").c_str(), AUDIO_MP3_SETPOS), 0u);
    std::ofstream((folder + "/text.mp3").c_str()) << "not an mp3 at all";
    EXPECT_EQ(platformAudioStreamCreateFile((folder + "/text.mp3").c_str(), AUDIO_MP3_SETPOS), 0u);
    EXPECT_FALSE(platformAudioStreamPlay(0, true));
    EXPECT_FALSE(platformAudioStreamPlay(3, true));
    EXPECT_EQ(platformAudioGetPosition(77), 0u);
    EXPECT_FALSE(platformAudioSetPosition(0, 0));
}

TEST_F(Audio, NoOutputDeviceFailsInit)
{
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(platformAudioInit(44100));
    EXPECT_FALSE(platformAudioStart());
}

TEST_F(Audio, SilentStandInNeedsNoDeviceAndStaysAtZero)
{
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    platformSetAudioSilent(true);
    ASSERT_TRUE(platformAudioInit(44100));
    ASSERT_TRUE(platformAudioStart());
    AudioStream stream = platformAudioStreamCreateFile((folder + "/Tone.mp3").c_str(), AUDIO_MP3_SETPOS);
    ASSERT_NE(stream, 0u); // the file is still checked
    EXPECT_EQ(platformAudioStreamCreateFile((folder + "/Missing.mp3").c_str(), AUDIO_MP3_SETPOS), 0u);
    ASSERT_TRUE(platformAudioStreamPlay(stream, true));
    SDL_Delay(20);
    EXPECT_EQ(platformAudioGetPosition(stream), 0u);
    EXPECT_FALSE(platformAudioStreamPlaying(stream));
}

} // namespace
