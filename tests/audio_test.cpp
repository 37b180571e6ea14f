// The audio layer on a real (disk) output device and real MP3 decoding: byte
// position and exact seeking, playing once, the stream volume, the silent
// stand-in of the capture tool, and a missing device. Files written by other
// programs (made here with the installed lame and ffmpeg): every MPEG audio
// rate in mono and stereo at the right pitch and speed, files that are not
// MPEG audio refused, files cut short played as far as they go, and not a
// line from the decoder on stderr.
#include "platform/audio.h"
#include "tests/support/mp3.h"

#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ostream>
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


// --- Files written by other programs --------------------------------------

// Runs a shell command with its output thrown away; true when it succeeded.
bool runQuietly(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) == 0;
}

// Everything written to stderr while it lives goes to a file instead.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& path) : path_(path)
    {
        std::fflush(stderr);
        saved_ = dup(2);
        int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, 2);
        close(file);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string text()
    {
        restore();
        std::ifstream file(path_, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

// The stretch of device output that is not silent: [first, last) in samples.
struct Sounding {
    std::size_t first;
    std::size_t last;
};

Sounding soundingStretch(const std::vector<short>& samples, int threshold)
{
    std::size_t first = 0;
    while (first < samples.size() && std::abs(samples[first]) < threshold)
        first++;
    std::size_t last = samples.size();
    while (last > first && std::abs(samples[last - 1]) < threshold)
        last--;
    return {first, last};
}

// Pitch of a tone in interleaved stereo at 44100 Hz, from the left
// channel's rising crossings (with a dead band against noise near zero).
double pitchOf(const std::vector<short>& samples, Sounding stretch)
{
    const int band = 500;
    int crossings = 0;
    bool low = false;
    std::size_t firstCrossing = 0;
    std::size_t lastCrossing = 0;
    for (std::size_t i = stretch.first - stretch.first % 2; i < stretch.last; i += 2) {
        if (samples[i] < -band)
            low = true;
        else if (samples[i] > band && low) {
            low = false;
            if (crossings == 0)
                firstCrossing = i;
            lastCrossing = i;
            crossings++;
        }
    }
    if (crossings < 2)
        return 0.0;
    double seconds = static_cast<double>(lastCrossing - firstCrossing) / 2.0 / 44100.0;
    return (crossings - 1) / seconds;
}

constexpr double TONE_HZ = 440.0;

// A second of 440 Hz at `rate` Hz with `channels` channels, encoded by
// `encoder`: "lame <options>" or "ffmpeg <options>".
struct ToolFile {
    const char* name;
    int rate;
    int channels;
    const char* encoder;
};

const ToolFile TOOL_FILES[] = {
    {"Mpeg25Mono8k", 8000, 1, "lame -b 32 -m m"},
    {"Mpeg25Stereo11k", 11025, 2, "ffmpeg -b:a 32k"},
    {"Mpeg2Stereo22k", 22050, 2, "ffmpeg -b:a 64k"},
    {"Mpeg2MonoVbr24k", 24000, 1, "lame -V 5 -m m"},
    {"Mpeg1Stereo32k", 32000, 2, "ffmpeg -b:a 96k"},
    {"Mpeg1MonoVbr48k", 48000, 1, "lame -V 4 -m m"},
    {"FreeFormat44k", 44100, 2, "lame --freeformat -b 400"}, // no bit rate in the headers
};

void PrintTo(const ToolFile& file, std::ostream* out) { *out << file.name << " (" << file.encoder << ")"; }

bool toolsInstalled()
{
    static const bool installed = runQuietly("command -v lame") && runQuietly("command -v ffmpeg");
    return installed;
}

// Makes a tone with ffmpeg as a WAV file at the rate and channels asked for.
bool makeToneWav(const std::string& path, int rate, int channels, double seconds)
{
    return runQuietly("ffmpeg -nostdin -y -f lavfi -i sine=frequency=" + std::to_string(static_cast<int>(TONE_HZ)) +
                      ":duration=" + std::to_string(seconds) + ":sample_rate=" + std::to_string(rate) + " -ac " +
                      std::to_string(channels) + " '" + path + "'");
}

bool encodeMp3(const std::string& wav, const std::string& mp3, const std::string& encoder)
{
    if (encoder.starts_with("lame "))
        return runQuietly("lame --quiet " + encoder.substr(5) + " '" + wav + "' '" + mp3 + "'");
    return runQuietly("ffmpeg -nostdin -y -i '" + wav + "' -c:a libmp3lame " + encoder.substr(7) + " '" + mp3 + "'");
}

bool truncateFile(const std::string& path, double share)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty())
        return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(static_cast<double>(bytes.size()) * share));
    return static_cast<bool>(out);
}

class AudioFromTools : public Audio {
protected:
    void SetUp() override
    {
        Audio::SetUp();
        if (IsSkipped())
            return;
        if (!toolsInstalled())
            GTEST_SKIP() << "lame and ffmpeg are needed to write the test files";
    }
};

class AudioAtEveryRate : public AudioFromTools, public ::testing::WithParamInterface<ToolFile> {};

// Rate and channels are the file's own, so the clock's bytes per second hold
// for it; seeking a quarter second in by bytes leaves three quarters, which
// the device plays at 440 Hz for three quarters of a second.
TEST_P(AudioAtEveryRate, PlaysAtThePitchAndSpeedOfTheFile)
{
    const ToolFile& kind = GetParam();
    const std::string wav = folder + "/" + kind.name + ".wav";
    const std::string mp3 = folder + "/" + kind.name + ".mp3";
    ASSERT_TRUE(makeToneWav(wav, kind.rate, kind.channels, 1.0));
    ASSERT_TRUE(encodeMp3(wav, mp3, kind.encoder));

    ASSERT_TRUE(platformAudioInit(44100)); // the disk device announces itself on stderr
    StderrCapture errors(folder + "/stderr.txt");
    AudioStream stream = platformAudioStreamCreateFile(mp3.c_str(), AUDIO_MP3_SETPOS);
    ASSERT_NE(stream, 0u);
    DWORD rate = 0;
    ASSERT_TRUE(platformAudioGetRate(stream, &rate));
    EXPECT_EQ(rate, static_cast<DWORD>(kind.rate));
    EXPECT_EQ(platformAudioGetFlags(stream), kind.channels == 1 ? AUDIO_SAMPLE_MONO : 0u);
    const DWORD frameBytes = static_cast<DWORD>(kind.channels * 2);
    const DWORD bytesPerSecond = static_cast<DWORD>(kind.rate) * frameBytes;
    // A quarter second at 11025 Hz is no whole frame: the seek lands on the
    // frame that holds the byte.
    const DWORD quarter = bytesPerSecond / 4 / frameBytes * frameBytes;

    ASSERT_TRUE(platformAudioSetPosition(stream, bytesPerSecond / 4));
    ASSERT_TRUE(platformAudioStreamPlay(stream, false));
    ASSERT_TRUE(platformAudioStart());
    ASSERT_TRUE(waitForEnd(stream));
    // The whole rest of the stream was handed over, counted in its own bytes.
    EXPECT_EQ(platformAudioGetPosition(stream), bytesPerSecond - quarter);
    platformAudioFree();
    EXPECT_EQ(errors.text(), "");

    std::vector<short> samples = readOutput();
    Sounding tone = soundingStretch(samples, 200);
    ASSERT_LT(tone.first, tone.last);
    const double seconds = static_cast<double>(tone.last - tone.first) / 2.0 / 44100.0;
    EXPECT_NEAR(seconds, 0.75, 0.01);
    EXPECT_NEAR(pitchOf(samples, tone), TONE_HZ, TONE_HZ * 0.01);
}

INSTANTIATE_TEST_SUITE_P(LameAndFfmpeg, AudioAtEveryRate, ::testing::ValuesIn(TOOL_FILES),
                         [](const ::testing::TestParamInfo<ToolFile>& info) { return std::string(info.param.name); });

// Other sound files named like an MP3: the decoder would resync through them
// and play noise or silence for the whole show; they are refused, quietly.
TEST_F(AudioFromTools, FilesThatAreNotMpegAudioAreRefused)
{
    // Noise: in PCM it holds bytes that pass for a frame header here and there.
    const std::string wav = folder + "/source.wav";
    ASSERT_TRUE(runQuietly("ffmpeg -nostdin -y -f lavfi -i anoisesrc=d=2:c=pink:r=44100:a=0.5:seed=6 -ac 2 '" + wav + "'"));
    struct Other {
        const char* name;
        const char* options;
        const char* fallback; // when the first encoder is not built in
    };
    const Other others[] = {
        {"aac-in-mp4", "-c:a aac -f mp4", nullptr},
        {"aac-adts", "-c:a aac -f adts", nullptr},
        {"pcm-wav", "-c:a pcm_s16le -f wav", nullptr},
        {"ogg", "-c:a libvorbis -f ogg", "-c:a flac -f ogg"},
        {"flac", "-c:a flac -f flac", nullptr},
    };
    ASSERT_TRUE(platformAudioInit(44100));
    for (const Other& other : others) {
        const std::string path = folder + "/" + other.name + ".mp3";
        const std::string command = "ffmpeg -nostdin -y -i '" + wav + "' ";
        ASSERT_TRUE(runQuietly(command + other.options + " '" + path + "'") ||
                    (other.fallback != nullptr && runQuietly(command + other.fallback + " '" + path + "'")))
            << other.name;
        StderrCapture errors(folder + "/stderr.txt");
        EXPECT_EQ(platformAudioStreamCreateFile(path.c_str(), AUDIO_MP3_SETPOS), 0u) << other.name;
        EXPECT_EQ(errors.text(), "") << other.name;
    }
    // Frame headers that do not follow each other: the first frame of a
    // real file, then the rest of a WAV.
    std::ifstream real(folder + "/Tone.mp3", std::ios::binary);
    std::string head(4096, '\0');
    real.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::size_t frame = head.find("\xFF\xFB");
    ASSERT_NE(frame, std::string::npos);
    std::ifstream pcm(wav, std::ios::binary);
    std::string body((std::istreambuf_iterator<char>(pcm)), std::istreambuf_iterator<char>());
    std::ofstream((folder + "/one-frame.mp3").c_str(), std::ios::binary) << head.substr(0, frame + 4) << body;
    EXPECT_EQ(platformAudioStreamCreateFile((folder + "/one-frame.mp3").c_str(), AUDIO_MP3_SETPOS), 0u);
}

// A file cut short, with or without an encoder tag that promises more
// frames, plays what it holds and then ends; nothing on stderr.
TEST_F(AudioFromTools, FilesCutShortPlayWhatTheyHold)
{
    const std::string wav = folder + "/long.wav";
    ASSERT_TRUE(makeToneWav(wav, 44100, 2, 2.0));
    for (const char* encoder : {"lame -b 128", "lame -V 2", "ffmpeg -b:a 128k"}) {
        SCOPED_TRACE(encoder);
        const std::string mp3 = folder + "/cut.mp3";
        ASSERT_TRUE(encodeMp3(wav, mp3, encoder));
        ASSERT_TRUE(truncateFile(mp3, 0.5));
        ASSERT_TRUE(platformAudioInit(44100));
        StderrCapture errors(folder + "/stderr.txt");
        AudioStream stream = platformAudioStreamCreateFile(mp3.c_str(), AUDIO_MP3_SETPOS);
        ASSERT_NE(stream, 0u);
        ASSERT_TRUE(platformAudioStreamPlay(stream, true));
        ASSERT_TRUE(platformAudioStart());
        ASSERT_TRUE(waitForEnd(stream));
        const double played = platformAudioGetPosition(stream) / (44100.0 * 4);
        platformAudioFree();
        EXPECT_EQ(errors.text(), "");
        // About the half that is left (VBR spends its bits unevenly).
        EXPECT_GT(played, 0.6);
        EXPECT_LT(played, 1.5);
        std::vector<short> samples = readOutput();
        Sounding tone = soundingStretch(samples, 200);
        ASSERT_LT(tone.first, tone.last);
        EXPECT_NEAR(static_cast<double>(tone.last - tone.first) / 2.0 / 44100.0, played, 0.03);
        EXPECT_NEAR(pitchOf(samples, tone), TONE_HZ, TONE_HZ * 0.01);
    }
}

} // namespace
