// Timeline and music clock: which scene draws at the window edges, the music
// fade, the end of the show, the music offset arithmetic and startMusic with
// its failures.
#include "kernel/messages.h"
#include "kernel/timeline.h"
#include "platform/audio.h"
#include "resources/files.h"
#include "tests/support/fatal.h"
#include "tests/support/mp3.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the recording render steps saw.
struct Drawn {
    int scene = 0; // 1..8, 0 = none
    int calls = 0;
    int t = 0;
    float s = 0.0f;
    int volumeDuringRender = -1;
};
Drawn drawn;

template <int Scene> void recordScene(int t, float s)
{
    drawn.scene = Scene;
    drawn.calls++;
    drawn.t = t;
    drawn.s = s;
    drawn.volumeDuringRender = platformAudioGetStreamVolume();
}

constexpr int UNTOUCHED = 55; // a volume the Timeline never sets by itself before 155050

class TimelineFrames : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < TIMELINE_SCENE_COUNT; i++)
            saved[i] = timelineScenes[i].render;
        void (*recorders[TIMELINE_SCENE_COUNT])(int, float) = {recordScene<1>, recordScene<2>, recordScene<3>,
                                                                recordScene<4>, recordScene<5>, recordScene<6>,
                                                                recordScene<7>, recordScene<8>};
        for (int i = 0; i < TIMELINE_SCENE_COUNT; i++)
            timelineScenes[i].render = recorders[i];
        musicOffset = 0.0f;
        platformAudioSetStreamVolume(UNTOUCHED);
        drawn = Drawn{};
    }
    void TearDown() override
    {
        for (int i = 0; i < TIMELINE_SCENE_COUNT; i++)
            timelineScenes[i].render = saved[i];
        musicOffset = 0.0f;
        platformAudioSetStreamVolume(100);
    }
    // The scene drawn for corrected time t (musicOffset 0).
    static int sceneAt(int t)
    {
        drawn = Drawn{};
        Timeline(t, static_cast<float>(t * 0.001));
        EXPECT_LE(drawn.calls, 1);
        return drawn.scene;
    }
    static int volumeAfter(int t)
    {
        platformAudioSetStreamVolume(UNTOUCHED);
        Timeline(t, static_cast<float>(t * 0.001));
        return platformAudioGetStreamVolume();
    }
    void (*saved[TIMELINE_SCENE_COUNT])(int, float);
};

TEST_F(TimelineFrames, ExactlyOneSceneOnEachSideOfEveryCut)
{
    EXPECT_EQ(sceneAt(0), 1);
    EXPECT_EQ(sceneAt(57111), 1);
    EXPECT_EQ(sceneAt(57112), 2);
    EXPECT_EQ(sceneAt(74313), 2);
    EXPECT_EQ(sceneAt(74314), 3);
    EXPECT_EQ(sceneAt(88009), 3);
    EXPECT_EQ(sceneAt(88010), 4);
    EXPECT_EQ(sceneAt(101777), 4);
    EXPECT_EQ(sceneAt(101778), 5);
    EXPECT_EQ(sceneAt(122369), 5);
    EXPECT_EQ(sceneAt(122370), 6);
    EXPECT_EQ(sceneAt(139569), 6);
    EXPECT_EQ(sceneAt(139570), 7);
    EXPECT_EQ(sceneAt(157049), 7);
    EXPECT_EQ(sceneAt(157050), 8);
    EXPECT_EQ(sceneAt(164999), 8);
    EXPECT_EQ(drawn.t, 164999);
    EXPECT_FLOAT_EQ(drawn.s, 164.999f);
}

TEST_F(TimelineFrames, ShowEndsAt165000WithoutDrawingOrBox)
{
    try {
        Timeline(165000, 165.0f);
        FAIL() << "the show did not end";
    } catch (const FatalExitError& end) {
        EXPECT_EQ(end.code, 46259u);
        EXPECT_FALSE(end.hasMessage);
    }
    EXPECT_EQ(drawn.calls, 0);
    EXPECT_EQ(FATAL_MESSAGE(Timeline(200000, 200.0f)), "");
}

TEST_F(TimelineFrames, MusicFadesFrom155050ToSilenceAtScene8)
{
    EXPECT_EQ(volumeAfter(155050), UNTOUCHED); // no volume call yet
    EXPECT_EQ(volumeAfter(155051), 100);
    EXPECT_EQ(volumeAfter(155069), 100);
    EXPECT_EQ(volumeAfter(155070), 99);
    EXPECT_EQ(volumeAfter(156049), 51);
    EXPECT_EQ(volumeAfter(157049), 1);
    EXPECT_EQ(volumeAfter(157050), 0);
    EXPECT_EQ(volumeAfter(164999), 0);
    EXPECT_EQ(musicFadeVolume(200000), 0);
}

TEST_F(TimelineFrames, FadeFollowsTheRenderStep)
{
    platformAudioSetStreamVolume(UNTOUCHED);
    Timeline(156000, 156.0f);
    EXPECT_EQ(drawn.scene, 7);
    EXPECT_EQ(drawn.volumeDuringRender, UNTOUCHED);
    EXPECT_EQ(platformAudioGetStreamVolume(), 53);
}

TEST_F(TimelineFrames, MusicOffsetIsAddedToBothTimes)
{
    musicOffset = 0.0125f;
    Timeline(1000, 1.0f);
    EXPECT_EQ(drawn.t, 1012); // 12.5 ms truncated
    EXPECT_FLOAT_EQ(drawn.s, 1.0125f);
    // The offset moves the cuts: 57100 ms on the clock is already scene 2.
    EXPECT_EQ(sceneAt(57100), 2);
}

TEST_F(TimelineFrames, NegativeCorrectedTimeDrawsNothing)
{
    musicOffset = -0.5f;
    Timeline(400, 0.4f);
    EXPECT_EQ(drawn.calls, 0);
    Timeline(600, 0.6f);
    EXPECT_EQ(drawn.scene, 1);
    EXPECT_EQ(drawn.t, 100);
}

TEST(MusicClock, BytesPerSecondAndOffset)
{
    EXPECT_EQ(musicBytesPerSecond(44100, 0), 176400u);
    EXPECT_EQ(musicBytesPerSecond(44100, AUDIO_SAMPLE_MONO), 88200u);
    EXPECT_EQ(musicBytesPerSecond(22050, AUDIO_SAMPLE_MONO | AUDIO_SAMPLE_8BITS), 22050u);
    EXPECT_NEAR(4608.0f / static_cast<float>(musicBytesPerSecond(44100, 0)), 0.026f, 0.0005f);
}

// startMusic in a scratch show folder with its loading log open.
class StartMusic : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/gfxcore-music-XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        ASSERT_EQ(mkdir("data", 0755), 0);
        loadingLog = createFile("pimplog");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (folder + "/out.raw").c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
        musicOffset = 0.0f;
    }
    void TearDown() override
    {
        platformAudioFree();
        platformSetAudioSilent(false);
        closeAllFiles();
        loadingLog = 0;
        musicStream = 0;
        musicOffset = 0.0f;
        EXPECT_EQ(chdir(previous), 0);
        std::string command = "rm -rf " + folder;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    static std::string readAll(const char* path)
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::string folder;
    char previous[4096];
};

const char* const STARTED_LOG = "ok let's init bass\r\nmp3 loaded\r\nmp3 calibrated ;)\r\n"
                                "we survived or so it seems. let the show begin!\r\n";

TEST_F(StartMusic, PlaysDataMusicAndMeasuresTheOffset)
{
    // On disk in lower case, asked for as Data/Music.mp3.
    if (!writeTestMp3("data/music.mp3", 2.0, 0.0))
        GTEST_SKIP() << "LAME is not available to make a test MP3";
    startMusic(nullptr);
    EXPECT_NE(musicStream, 0u);
    // Whatever the device took between the rewind and the reading: far below a second.
    EXPECT_GE(musicOffset, 0.0f);
    EXPECT_LT(musicOffset, 1.0f);
    closeAllFiles();
    EXPECT_EQ(readAll("pimplog"), STARTED_LOG);
}

TEST_F(StartMusic, SilentStandInGivesOffsetZero)
{
    if (!writeTestMp3("data/Music.mp3", 0.5, 0.0))
        GTEST_SKIP() << "LAME is not available to make a test MP3";
    platformSetAudioSilent(true);
    musicOffset = 3.0f;
    startMusic(nullptr);
    EXPECT_EQ(musicOffset, 0.0f);
    closeAllFiles();
    EXPECT_EQ(readAll("pimplog"), STARTED_LOG);
}

TEST_F(StartMusic, MissingMp3EndsTheProgram)
{
    EXPECT_FATAL(startMusic(nullptr), "Can not load MP3: Data/Music.mp3.");
    // fatalExit wrote its last lines after the init line.
    EXPECT_EQ(readAll("pimplog"), "ok let's init bass\r\nfree->kicking out bass..\r\n"
                                  "free->dumping avi live -xxx- streams..\r\n");
}

TEST_F(StartMusic, NoSoundDeviceEndsTheProgram)
{
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FATAL(startMusic(nullptr),
                 "Can not initialize Bass sound system. The default sound device might not be available.");
}

} // namespace
