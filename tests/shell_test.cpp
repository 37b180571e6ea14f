// The shell: the window procedure (Escape, close, Alt+F4, space-bar taps),
// SDL input reaching it through the message queue, the tap log, and one turn
// of the main loop on a virtual clock.
#include "dgl/dgl.h"
#include "kernel/messages.h"
#include "kernel/shell.h"
#include "kernel/timeline.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "platform/sdl/window_sdl.h"
#include "resources/files.h"
#include "tests/support/fatal.h"
#include "tests/support/mp3.h"
#include "tools/show/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string readAll(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void pushKey(SDL_Keycode key, Uint16 modifiers, bool repeat)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = SDL_GetWindowID(platformSdlWindow(mainWindow));
    event.key.state = SDL_PRESSED;
    event.key.repeat = repeat ? 1 : 0;
    event.key.keysym.sym = key;
    event.key.keysym.mod = modifiers;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
}

// A shell window of class gfxCore (without the renderer) in a scratch folder.
class ShellWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/gfxcore-shell-XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        ASSERT_TRUE(platformRegisterClass(WINDOW_CLASS_NAME, windowProc, false));
        windowClassRegistered = true;
        mainWindow = platformCreateWindow(WINDOW_CLASS_NAME, "test", 640, 480, false);
        ASSERT_NE(mainWindow, nullptr);
        lastFrameTime = 0;
    }
    void TearDown() override
    {
        // What fatalExit has not released yet.
        if (mainWindow != nullptr)
            platformDestroyWindow(mainWindow);
        mainWindow = nullptr;
        if (windowClassRegistered)
            platformUnregisterClass(WINDOW_CLASS_NAME);
        windowClassRegistered = false;
        closeAllFiles();
        tapLog = 0;
        lastFrameTime = 0;
        EXPECT_EQ(chdir(previous), 0);
        std::string command = "rm -rf " + folder;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // Asserts that draining the queue ended the show normally and released the window.
    static void expectNormalEnd()
    {
        try {
            drainMessages(mainWindow);
            ADD_FAILURE() << "the show did not end";
        } catch (const FatalExitError& end) {
            EXPECT_EQ(end.code, 46259u);
            EXPECT_FALSE(end.hasMessage);
        }
        EXPECT_EQ(mainWindow, nullptr);
        EXPECT_FALSE(windowClassRegistered);
    }
    std::string folder;
    char previous[4096];
};

TEST_F(ShellWindow, SpaceBarTapsLogTheLastFrameTime)
{
    DisplaySettings windowed = getDisplaySettings();
    windowed.fullscreen = false;
    startShow(windowed);
    ASSERT_NE(tapLog, 0u);
    // A tap before the first frame.
    platformPostMessage(mainWindow, WM_KEYDOWN, VK_SPACE, 1);
    drainMessages(mainWindow);
    // Two taps handled in the same turn log the same frame; a held key repeats.
    lastFrameTime = 57112;
    pushKey(SDLK_SPACE, 0, false);
    pushKey(SDLK_SPACE, 0, true);
    pushKey(SDLK_a, 0, false);
    drainMessages(mainWindow);
    EXPECT_EQ(readAll("spaceTimes.log"),
              "spacebarsmackertiminigsystemlog (hoho!)\r\nSmacked: 0.\r\nSmacked: 57112.\r\nSmacked: 57112.\r\n");
    // The space bar goes on to the default procedure.
    EXPECT_EQ(windowProc(mainWindow, WM_KEYDOWN, VK_SPACE, 1), 0);
}

TEST_F(ShellWindow, TapsDuringLoadingAreIgnored)
{
    lastFrameTime = 99;
    platformPostMessage(mainWindow, WM_KEYDOWN, VK_SPACE, 1);
    drainMessages(mainWindow);
    EXPECT_EQ(openFileCount(), 0);
    DisplaySettings windowed = getDisplaySettings();
    windowed.fullscreen = false;
    startShow(windowed);
    EXPECT_EQ(readAll("spaceTimes.log"), "spacebarsmackertiminigsystemlog (hoho!)\r\n");
}

TEST_F(ShellWindow, EscapeEndsTheShowNormally)
{
    pushKey(SDLK_ESCAPE, 0, false);
    expectNormalEnd();
    // The class is gone with the window: it can be registered again.
    EXPECT_TRUE(platformRegisterClass(WINDOW_CLASS_NAME, windowProc, false));
    platformUnregisterClass(WINDOW_CLASS_NAME);
}

TEST_F(ShellWindow, AltF4EndsTheShow)
{
    pushKey(SDLK_F4, KMOD_LALT, false);
    expectNormalEnd();
}

TEST_F(ShellWindow, QuitRequestEndsTheShow)
{
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    expectNormalEnd();
}

TEST_F(ShellWindow, OtherKeysAndMessagesDoNothing)
{
    pushKey(SDLK_F4, 0, false);
    pushKey(SDLK_RETURN, 0, false);
    platformPostMessage(mainWindow, 0x0200, 0, 0);
    drainMessages(mainWindow);
    EXPECT_NE(mainWindow, nullptr);
    MSG left;
    EXPECT_FALSE(platformPeekMessage(&left, mainWindow, 0, 0, PM_REMOVE));
}

TEST(DisplaySettings, ShowConstants)
{
    DisplaySettings settings = getDisplaySettings();
    EXPECT_EQ(settings.width, 640);
    EXPECT_EQ(settings.height, 480);
    EXPECT_TRUE(settings.fullscreen);
    EXPECT_EQ(settings.startOffset, 0.0f);
    EXPECT_NE(settings.title, nullptr);
}

// The main loop on the real renderer, with a virtual clock and recording scenes.
DWORD virtualNow = 0;
DWORD virtualClock() { return virtualNow; }
int seenT = -1;
void recordFrame(int t, float) { seenT = t; }

class MainLoop : public ShellWindow {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/gfxcore-loop-XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        for (int i = 0; i < TIMELINE_SCENE_COUNT; i++) {
            saved[i] = timelineScenes[i].render;
            timelineScenes[i].render = recordFrame;
        }
        platformSetClock(virtualClock);
        DisplaySettings windowed = getDisplaySettings();
        windowed.fullscreen = false;
        createShellWindow(windowed);
        seenT = -1;
    }
    void TearDown() override
    {
        platformSetClock(nullptr);
        for (int i = 0; i < TIMELINE_SCENE_COUNT; i++)
            timelineScenes[i].render = saved[i];
        musicOffset = 0.0f;
        dglShutdown();
        ShellWindow::TearDown();
    }
    void (*saved[TIMELINE_SCENE_COUNT])(int, float);
};

TEST_F(MainLoop, ShowTimeFromTheStartInstantSurvivesTheClockWrap)
{
    DisplaySettings settings = getDisplaySettings();
    settings.fullscreen = false;
    settings.startOffset = 12.5f;
    virtualNow = 0xFFFFFF00u;
    startShow(settings);
    virtualNow = 0x100u; // wrapped: 512 ms later
    runMainLoopTurn();
    EXPECT_EQ(seenT, 13012);
    EXPECT_EQ(lastFrameTime, 13012);
    // A tap handled in the next turn logs that frame's time.
    platformPostMessage(mainWindow, WM_KEYDOWN, VK_SPACE, 1);
    virtualNow = 0x200u;
    runMainLoopTurn();
    EXPECT_EQ(lastFrameTime, 13268);
    EXPECT_EQ(readAll("spaceTimes.log"), "spacebarsmackertiminigsystemlog (hoho!)\r\nSmacked: 13012.\r\n");
}

TEST_F(MainLoop, TheLastTurnEndsTheShow)
{
    startShow(getDisplaySettings());
    virtualNow += 165000;
    EXPECT_EQ(FATAL_MESSAGE(runMainLoopTurn()), "");
    EXPECT_EQ(mainWindow, nullptr);
    EXPECT_EQ(lastFrameTime, 0); // the frame never finished
}

// The show's command line over the build's defaults.
ShowCommand parse(std::vector<const char*> arguments, ShowOptions* options, std::string* error = nullptr)
{
    arguments.insert(arguments.begin(), "gfxcore");
    char text[SHOW_OPTION_ERROR_SIZE];
    ShowCommand command = parseShowOptions(static_cast<int>(arguments.size()), arguments.data(), options, text);
    if (error != nullptr)
        *error = text;
    return command;
}

TEST(ShowOptions, OverrideTheBuildDefaults)
{
    ShowOptions options;
    ASSERT_EQ(parse({}, &options), ShowCommand::run);
    EXPECT_EQ(options.display.fullscreen, getDisplaySettings().fullscreen);
    EXPECT_EQ(options.display.startOffset, getDisplaySettings().startOffset);
    EXPECT_EQ(options.display.width, 640);
    EXPECT_EQ(options.renderer, Renderer::es);
    EXPECT_FALSE(options.rendererGiven);

    ASSERT_EQ(parse({"--window", "--start", "57.112", "--renderer", "es"}, &options), ShowCommand::run);
    EXPECT_FALSE(options.display.fullscreen);
    EXPECT_FLOAT_EQ(options.display.startOffset, 57.112f);
    EXPECT_EQ(options.renderer, Renderer::es);
    EXPECT_TRUE(options.rendererGiven);
    // The last of two display modes counts; values may follow '='.
    ASSERT_EQ(parse({"--window", "--fullscreen", "--start=164.999", "--renderer=core"}, &options), ShowCommand::run);
    EXPECT_TRUE(options.display.fullscreen);
    EXPECT_FLOAT_EQ(options.display.startOffset, 164.999f);
    EXPECT_EQ(options.renderer, Renderer::core);
    ASSERT_EQ(parse({"--start", "0"}, &options), ShowCommand::run);
    EXPECT_EQ(options.display.startOffset, 0.0f);

    // Help wins over the version, whatever their order.
    EXPECT_EQ(parse({"--version", "--help"}, &options), ShowCommand::help);
    EXPECT_EQ(parse({"-h", "--version"}, &options), ShowCommand::help);
    EXPECT_EQ(parse({"--version"}, &options), ShowCommand::version);
}

TEST(ShowOptions, BadCommandLinesSayWhatIsWrong)
{
    struct Case {
        std::vector<const char*> arguments;
        ShowCommand command;
        const char* error;
    };
    const Case cases[] = {
        {{"--bogus"}, ShowCommand::badOption, "unknown option \"--bogus\""},
        {{"--window", "now"}, ShowCommand::badOption, "unknown option \"now\""},
        {{"--help", "--win"}, ShowCommand::badOption, "unknown option \"--win\""},
        {{"--start", "-1"}, ShowCommand::badValue, "--start takes seconds from 0 to below 165, not \"-1\""},
        {{"--start", "165"}, ShowCommand::badValue, "--start takes seconds from 0 to below 165, not \"165\""},
        {{"--start", "1e9"}, ShowCommand::badValue, "--start takes seconds"},
        {{"--start", "inf"}, ShowCommand::badValue, "--start takes seconds"},
        {{"--start", "nan"}, ShowCommand::badValue, "--start takes seconds"},
        {{"--start", " 5"}, ShowCommand::badValue, "--start takes seconds"},
        {{"--start", "12s"}, ShowCommand::badValue, "--start takes seconds"},
        {{"--start="}, ShowCommand::badValue, "--start takes seconds"},
        {{"--start"}, ShowCommand::badValue, "--start needs a value"},
        {{"--window=yes"}, ShowCommand::badValue, "--window takes no value"},
        {{"--renderer", "vulkan"}, ShowCommand::badValue, "--renderer takes gl|es|core, not \"vulkan\""},
    };
    for (const Case& test : cases) {
        ShowOptions options;
        std::string error;
        EXPECT_EQ(parse(test.arguments, &options, &error), test.command) << test.arguments[0];
        EXPECT_TRUE(error.starts_with(test.error)) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    // A value too long for the message is cut, not overrun.
    std::string longValue(1000, '9');
    ShowOptions options;
    std::string error;
    EXPECT_EQ(parse({"--start", longValue.c_str()}, &options, &error), ShowCommand::badValue);
    EXPECT_LT(error.size(), SHOW_OPTION_ERROR_SIZE);
}

// A later start moves the music with the show clock: what the device plays
// first is the music at that time, not its beginning.
TEST(LaterStart, MusicPlaysFromTheStartOffset)
{
    char pattern[] = "/tmp/gfxcore-later-XXXXXX";
    std::string folder = mkdtemp(pattern);
    char previous[4096];
    ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    ASSERT_EQ(mkdir("data", 0755), 0);
    // Two seconds of silence, then a tone.
    if (!writeTestMp3("data/Music.mp3", 3.0, 2.0)) {
        EXPECT_EQ(chdir(previous), 0);
        GTEST_SKIP() << "LAME is not available to make a test MP3";
    }
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (folder + "/out.raw").c_str(), 1);
    unsetenv("SDL_DISKAUDIODELAY"); // real time: the device takes little before the seek
    loadingLog = createFile("pimplog");
    startMusic(nullptr);
    DisplaySettings settings = getDisplaySettings();
    settings.fullscreen = false;
    settings.startOffset = 2.1f;
    startShow(settings);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    platformAudioFree();
    closeAllFiles();
    loadingLog = 0;
    tapLog = 0;
    musicStream = 0;
    musicOffset = 0.0f;
    showStartOffsetMs = 0;

    std::string sound = readAll("out.raw");
    std::size_t firstLoud = std::string::npos;
    for (std::size_t at = 0; at + 1 < sound.size(); at += 2) {
        int sample = static_cast<std::int16_t>(static_cast<unsigned char>(sound[at]) |
                                               (static_cast<unsigned char>(sound[at + 1]) << 8));
        if (sample > 4000 || sample < -4000) {
            firstLoud = at;
            break;
        }
    }
    EXPECT_EQ(chdir(previous), 0);
    std::string command = "rm -rf " + folder;
    EXPECT_EQ(std::system(command.c_str()), 0);
    // Without the seek the tone starts 2 s (352800 bytes) in.
    ASSERT_NE(firstLoud, std::string::npos) << sound.size() << " bytes, all quiet";
    EXPECT_LT(firstLoud, 176400u);
}

} // namespace
