// The show without its devices, run as the real program: no sound output
// (an audio driver that does not exist, or one that cannot open its output)
// ends the show with the sound system's message before its first frame; no
// window (a video driver that does not exist) ends it with the window's
// message before anything is loaded. Both end through the one exit path:
// status 1, the message on standard error, no crash. A driver without the
// shader device's context makes the default fall back to the fixed-function
// device.
// Depends on: the show (gfxcore) and its data set in GFXCORE_SHOW_DIR,
// tests/show_process.h.
#include "tests/show_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path showDir = GFXCORE_SHOW_DIR;

const char* const NO_SOUND = "Can not initialize Bass sound system. The default sound device might not be available.";

class LostDevicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = showMakeDataFolder("gfxcore-lost-devices");
        ASSERT_FALSE(folder.empty());
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    ShowRunResult run(std::vector<std::pair<std::string, std::string>> changes,
                      std::vector<std::string> arguments = {})
    {
        ShowRunOptions options;
        options.program = (showDir / "gfxcore").string();
        options.arguments = std::move(arguments);
        options.folder = folder.string();
        options.environment = showHeadlessEnvironment(folder);
        for (const auto& change : changes)
            options.environment.push_back(change);
        options.timeLimitSeconds = 60.0;
        return runShowProgram(options);
    }

    void expectNoSoundEnd(const ShowRunResult& result)
    {
        ASSERT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.errorText;
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(showErrorMessage(result.errorText), NO_SOUND) << result.errorText;
        // Everything was loaded; the sound system failed first thing in
        // starting the music, and the show never began.
        EXPECT_TRUE(result.log.ends_with("->updating progress stuff\r\nok let's init bass\r\n"
                                         "free->kicking out bass..\r\nfree->dumping avi live -xxx- streams..\r\n"))
            << result.log;
        EXPECT_FALSE(fs::exists(folder / "spaceTimes.log")) << "the show's tap log exists: the show began";
    }

    fs::path folder;
};

TEST_F(LostDevicesTest, NoSuchAudioDriverEndsBeforeTheShow)
{
    expectNoSoundEnd(run({{"SDL_AUDIODRIVER", "no-such-driver"}}));
}

TEST_F(LostDevicesTest, AudioOutputThatCannotOpenEndsBeforeTheShow)
{
    // The disk driver opens its output file when the device opens.
    expectNoSoundEnd(run({{"SDL_DISKAUDIOFILE", (folder / "no-such-folder" / "audio.raw").string()}}));
}

TEST_F(LostDevicesTest, NoWindowEndsBeforeAnythingIsLoaded)
{
    const ShowRunResult result = run({{"SDL_VIDEODRIVER", "no-such-driver"}});
    ASSERT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.errorText;
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(showErrorMessage(result.errorText), "Can not create window.") << result.errorText;
    // The loading log is opened only by the load sequence, after the window.
    EXPECT_FALSE(fs::exists(folder / "pimplog"));
}

// A driver that offers no OpenGL ES 3.0 context (Mesa told to offer 2.0
// at most): the show's default falls back to the fixed-function device and
// plays; the shader device asked for by name ends with the device message.
TEST_F(LostDevicesTest, WithoutOpenGlEs3TheDefaultDrawsWithTheFixedFunctionDevice)
{
    const std::pair<std::string, std::string> noEs3 = {"MESA_GLES_VERSION_OVERRIDE", "2.0"};
    const ShowRunResult fallback = run({noEs3}, {"--start", "164.5"});
    ASSERT_TRUE(fallback.exited) << "signal " << fallback.signal << "\n" << fallback.errorText;
    EXPECT_EQ(fallback.status, 0) << fallback.errorText;
    EXPECT_NE(fallback.errorText.find("OpenGL device: drawing with the fixed-function device instead"),
              std::string::npos)
        << fallback.errorText;
    EXPECT_TRUE(fs::exists(folder / "spaceTimes.log"));

    const ShowRunResult chosen = run({noEs3}, {"--start", "164.5", "--renderer", "es"});
    ASSERT_TRUE(chosen.exited) << "signal " << chosen.signal << "\n" << chosen.errorText;
    EXPECT_EQ(chosen.status, 1);
    EXPECT_TRUE(showErrorMessage(chosen.errorText).starts_with("Can not create a Direct3D HAL device"))
        << chosen.errorText;
    EXPECT_EQ(chosen.errorText.find("fixed-function device instead"), std::string::npos);
}

} // namespace
