// The load sequence with stand-in precalculation steps: log lines and their
// order, the random table, the shared textures, nine progress frames that
// drain the window's queue, the state left behind; and the progress screen
// as a viewer sees it on the OpenGL device (GFXCORE_TEST_PNG_DIR keeps the
// frames as PNG files).
#include "effects/screen_quad.h"
#include "imaging/png_writer.h"
#include "kernel/loader.h"
#include "kernel/messages.h"
#include "kernel/random.h"
#include "platform/gl/gl_device.h"
#include "platform/renderer.h"
#include "platform/window.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "tests/dgl_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// An uncompressed 32-bit TGA, top row first; pixel(x, y) gives ARGB.
void writeTga(const char* path, int width, int height, DWORD (*pixel)(int x, int y))
{
    std::vector<std::uint8_t> out(18, 0);
    out[2] = 2;
    out[12] = static_cast<std::uint8_t>(width);
    out[13] = static_cast<std::uint8_t>(width >> 8);
    out[14] = static_cast<std::uint8_t>(height);
    out[15] = static_cast<std::uint8_t>(height >> 8);
    out[16] = 32;
    out[17] = 0x28; // 8 alpha bits, top row first
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const DWORD argb = pixel(x, y);
            out.push_back(static_cast<std::uint8_t>(argb));
            out.push_back(static_cast<std::uint8_t>(argb >> 8));
            out.push_back(static_cast<std::uint8_t>(argb >> 16));
            out.push_back(static_cast<std::uint8_t>(argb >> 24));
        }
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

// Windows (alpha 1) over the left three quarters, opaque blue on the right.
DWORD progressPicture(int x, int) { return x < 6 ? 0xFFFFFFFFu : 0x000000FFu; }

std::string readAll(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// What the stand-in steps see and do.
struct StepRecord {
    std::vector<int> presentsAtStep;
    std::vector<int> keysAtStep;
    int keysSeen = 0;
    HWND musicWindow = nullptr;
    int musicCalls = 0;
};
StepRecord run;
HWND loaderWindow = nullptr;

LRESULT countKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN) {
        run.keysSeen += 1;
    }
    return platformDefWindowProc(window, message, wParam, lParam);
}

void logLine(const char* text) { writeToFile(loadingLog, text, static_cast<DWORD>(std::strlen(text))); }

template <int N>
void standInStep()
{
    run.presentsAtStep.push_back(recordingCallCount("Present"));
    run.keysAtStep.push_back(run.keysSeen);
    // A key pressed during this step waits for the next progress frame.
    platformPostMessage(loaderWindow, WM_KEYDOWN, 'A', 0);
    logLine(formatMessage("step %d\r\n", N));
}

void standInMusic(HWND window)
{
    run.musicWindow = window;
    run.musicCalls += 1;
    logLine("music\r\n");
}

constexpr PrecalcStep STAND_IN_STEPS[LOAD_STEP_COUNT] = {standInStep<1>, standInStep<2>, standInStep<3>,
                                                         standInStep<4>, standInStep<5>, standInStep<6>,
                                                         standInStep<7>, standInStep<8>};

// Runs in a folder of its own holding data/houjebek.tga; pimplog lands there.
class LoaderTest : public DglTest {
protected:
    void SetUp() override
    {
        DglTest::SetUp();
        char pattern[] = "/tmp/gfxcore-loader-XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        ASSERT_EQ(mkdir("data", 0755), 0);
        writeTga("data/houjebek.tga", 8, 4, progressPicture);
        run = StepRecord();
        ASSERT_TRUE(platformRegisterClass("loaderTest", countKeys, false));
        loaderWindow = platformCreateWindow("loaderTest", "loader", 640, 480, false);
        ASSERT_NE(loaderWindow, nullptr);
    }
    void TearDown() override
    {
        DglTest::TearDown();
        platformDestroyWindow(loaderWindow);
        platformUnregisterClass("loaderTest");
        loaderWindow = nullptr;
        closeAllFiles();
        loadingLog = 0;
        noiseTexture = nullptr;
        progressTexture = nullptr;
        EXPECT_EQ(chdir(previous), 0);
        const std::string command = "rm -rf " + folder;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string folder;
    char previous[4096];
};

TEST_F(LoaderTest, SequenceWritesItsLogAndShowsNineFramesAroundTheSteps)
{
    dglInit(loaderWindow, 640, 480, false);
    recordingClearLog();
    resetRandom(1);
    const int blocksBefore = memoryBlockCount();
    platformPostMessage(loaderWindow, WM_KEYDOWN, 'A', 0);

    runLoadSequence(loaderWindow, STAND_IN_STEPS, standInMusic);

    const std::string expectedLog =
        "kernel->direct3d8 device + dgl renderer + random resource managers ready\r\n"
        "kernel->spaceTimes.log assigned for the famous tap-the-space timing 'system' ;)\r\n"
        "initialize->warming up the pixel oven, please hold the line\r\n"
        "initialized progress stuff\r\nloading datafiles/precalcing..\r\n"
        "->updating progress stuff\r\nstep 1\r\n->updating progress stuff\r\nstep 2\r\n"
        "->updating progress stuff\r\nstep 3\r\n->updating progress stuff\r\nstep 4\r\n"
        "->updating progress stuff\r\nstep 5\r\n->updating progress stuff\r\nstep 6\r\n"
        "->updating progress stuff\r\nstep 7\r\n->updating progress stuff\r\nstep 8\r\n"
        "->updating progress stuff\r\nmusic\r\n";
    EXPECT_EQ(readAll("pimplog"), expectedLog);

    // One frame before each step and one after the last; each frame drained
    // the keys pressed before it.
    EXPECT_EQ(run.presentsAtStep, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(run.keysAtStep, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(run.keysSeen, 9);
    EXPECT_EQ(recordingCallCount("Present"), 9);
    EXPECT_EQ(recordingCallCount("DrawPrimitiveUP"), 18);
    EXPECT_EQ(run.musicCalls, 1);
    EXPECT_EQ(run.musicWindow, loaderWindow);

    const BYTE firstValues[8] = {41, 17, 34, 175, 44, 199, 3, 108};
    EXPECT_EQ(std::memcmp(randomTable, firstValues, 8), 0);
    for (int i = 0; i < RANDOM_TABLE_SIZE; ++i) {
        ASSERT_LT(randomTable[i], 225) << i;
    }
    resetRandom(1);
    for (int i = 0; i < RANDOM_TABLE_SIZE; ++i) {
        rand15();
    }
    const std::uint32_t afterTable = randomState();
    resetRandom(1);
    runLoadSequence(loaderWindow, STAND_IN_STEPS, standInMusic);
    EXPECT_EQ(randomState(), afterTable);
    EXPECT_EQ(std::memcmp(randomTable, firstValues, 8), 0);

    RecordingTextureInfo info{};
    ASSERT_TRUE(recordingTextureInfo(noiseTexture, &info));
    EXPECT_EQ(info.width, 256u);
    EXPECT_EQ(info.height, 256u);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.usage, 0u);
    EXPECT_EQ(info.pool, D3DPOOL_MANAGED);
    ASSERT_TRUE(recordingTextureInfo(progressTexture, &info));
    EXPECT_EQ(info.width, 512u);
    EXPECT_EQ(info.height, 256u);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
    // The decoder's scratch blocks went back with the bracket.
    EXPECT_EQ(memoryBlockCount(), blocksBefore);

    DglState state;
    dglGetState(&state);
    EXPECT_FALSE(state.capabilities[DGL_BLEND]);
    EXPECT_EQ(state.textures[0], nullptr);
    EXPECT_EQ(state.sourceBlend, D3DBLEND_INVSRCALPHA);
    EXPECT_EQ(state.destinationBlend, D3DBLEND_SRCALPHA);
}

TEST_F(LoaderTest, ProgressFrameDrawsTheBarThenBlendsThePictureOverIt)
{
    dglInit(loaderWindow, 640, 480, false);
    loadingLog = createFile("pimplog");
    progressTexture = dglCreateTextureFromFile("data/houjebek.tga", 512, 256, D3DFMT_A8R8G8B8, false);
    recordingClearLog();

    showProgress(3);
    const std::vector<std::string> draws = recordingLogLines("DrawPrimitiveUP(");
    ASSERT_EQ(draws.size(), 2u);
    const std::vector<std::string>& log = recordingLog();
    EXPECT_EQ(log.front(), "Clear(0, NULL, 1, 0x00000000, 0, 0)");
    const auto firstDraw = std::find(log.begin(), log.end(), draws[0]);
    const auto secondDraw = std::find(firstDraw + 1, log.end(), draws[1]);
    const std::vector<std::string> between(firstDraw + 1, secondDraw);
    for (const char* line : {"SetRenderState(27, 1)", "SetRenderState(19, 6)", "SetRenderState(20, 5)",
                             "SetTexture(0, texture1)"}) {
        EXPECT_NE(std::find(between.begin(), between.end(), line), between.end()) << line;
    }
    const std::vector<std::string> after(secondDraw + 1, log.end());
    ASSERT_GE(after.size(), 3u);
    const auto unbind = std::find(after.begin(), after.end(), "SetTexture(0, NULL)");
    ASSERT_NE(unbind, after.end());
    EXPECT_EQ(*(unbind + 1), "SetRenderState(27, 0)");
    EXPECT_EQ(recordingCallCount("Present"), 1);

    // The last draw is the picture, centred on the 640 x 480 canvas.
    ScreenVertex v[6];
    ASSERT_EQ(recordingLastUserDraw().vertices.size(), sizeof(v));
    std::memcpy(v, recordingLastUserDraw().vertices.data(), sizeof(v));
    EXPECT_FLOAT_EQ(v[0].x, 256.0f);
    EXPECT_FLOAT_EQ(v[0].y, 128.0f);
    EXPECT_FLOAT_EQ(v[1].x, -256.0f);
    EXPECT_FLOAT_EQ(v[1].y, -128.0f);
    EXPECT_EQ(v[0].color, 0xFFFFFFFFu);

    const int widths[9] = {185, 213, 241, 269, 297, 325, 353, 381, 409};
    for (int step = 0; step <= 8; ++step) {
        EXPECT_EQ(progressBarWidth(step), widths[step]);
    }
}

// What a viewer sees: the white bar through the picture's windows, black
// around it, the picture's own colour where it is opaque.
struct Frame {
    std::vector<std::uint8_t> rgb;
    int width = 0;
    int height = 0;
    int r(int x, int y) const { return rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
    int b(int x, int y) const { return rgb[(static_cast<std::size_t>(y) * width + x) * 3 + 2]; }
};

void captureFrame(const std::uint8_t* rgb, int width, int height, void* user)
{
    Frame* frame = static_cast<Frame*>(user);
    frame->rgb.assign(rgb, rgb + static_cast<std::size_t>(width) * height * 3);
    frame->width = width;
    frame->height = height;
}

// On every renderer: the bar and the pictures are drawn untextured and
// textured, blended, in the loading sequence's own state.
class LoaderOnScreen : public ::testing::TestWithParam<Renderer> {};
INSTANTIATE_TEST_SUITE_P(Renderers, LoaderOnScreen, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         [](const ::testing::TestParamInfo<Renderer>& info) {
                             return std::string(rendererName(info.param));
                         });

TEST_P(LoaderOnScreen, BarGrowsBehindThePictureWindows)
{
    char pattern[] = "/tmp/gfxcore-loader-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    char previous[4096];
    ASSERT_EQ(getcwd(previous, sizeof(previous)), previous);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    ASSERT_EQ(mkdir("data", 0755), 0);
    writeTga("data/houjebek.tga", 8, 4, progressPicture);

    const Direct3DCreate8Function saved = d3dImplementation();
    const Renderer savedRenderer = selectedRenderer();
    selectRenderer(GetParam());
    HWND window = platformCreateRenderWindow(640, 480);
    ASSERT_NE(window, nullptr);
    dglInit(window, 640, 480, false);
    Frame frame;
    glDeviceSetPresentHook(captureFrame, &frame);
    loadingLog = createFile("pimplog");
    progressTexture = dglCreateTextureFromFile("data/houjebek.tga", 512, 256, D3DFMT_A8R8G8B8, false);

    for (int step : {0, 8}) {
        showProgress(step);
        ASSERT_EQ(frame.width, 640);
        if (const char* keep = std::getenv("GFXCORE_TEST_PNG_DIR"); keep != nullptr && keep[0] != 0) {
            writePngRgb(std::string(keep) + "/progress" + std::to_string(step) + ".png", frame.rgb.data(), frame.width,
                        frame.height);
        }
        const int barEnd = 64 + progressBarWidth(step);
        // Row 240 crosses the bar; the picture covers x 64..575.
        EXPECT_LT(frame.r(60, 240), 8) << step;
        EXPECT_GT(frame.r(66, 240), 247) << step;
        EXPECT_LT(frame.r(66, 100), 8) << step; // above the bar and the picture
        if (barEnd < 400) {
            EXPECT_GT(frame.r(barEnd - 3, 240), 247) << step;
            EXPECT_LT(frame.r(barEnd + 3, 240), 8) << step;
        } else {
            // Under the opaque right quarter the picture's blue shows instead of the bar.
            EXPECT_GT(frame.r(400, 240), 247) << step;
            EXPECT_LT(frame.r(540, 240), 8) << step;
            EXPECT_GT(frame.b(540, 240), 247) << step;
        }
        EXPECT_LT(frame.r(600, 240), 8) << step;
    }

    glDeviceSetPresentHook(nullptr, nullptr);
    dglShutdown();
    dglForgetAll();
    selectRenderer(savedRenderer);
    d3dSetImplementation(saved);
    platformDestroyWindow(window);
    closeAllFiles();
    freeAllMemory();
    loadingLog = 0;
    progressTexture = nullptr;
    EXPECT_EQ(chdir(previous), 0);
    const std::string command = "rm -rf " + folder;
    EXPECT_EQ(std::system(command.c_str()), 0);
}

} // namespace
