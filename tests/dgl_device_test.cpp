// Renderer start, frame and shutdown against the recording device: the
// order of dglInit's steps, mode and behaviour choice, every start failure,
// the lost-device rule and the release order.
#include "tests/dgl_fixture.h"

namespace {

IDirect3D8* noFactory(UINT) { return nullptr; }

// The CreateDevice line of the log, or "" when there is none.
std::string createDeviceLine()
{
    std::vector<std::string> lines = recordingLogLines("CreateDevice(");
    return lines.empty() ? std::string() : lines.front();
}

std::vector<std::string> releaseLines()
{
    std::vector<std::string> lines;
    for (const std::string& line : recordingLog())
        if (line.find(".Release()") != std::string::npos)
            lines.push_back(line);
    return lines;
}

} // namespace

TEST_F(DglTest, WindowedInitRunsItsStepsInOrder)
{
    dglInit(fakeWindow(), 640, 480, false);
    const std::vector<std::string> expectedStart = {
        "Direct3DCreate8(220) -> d3d",
        "GetAdapterDisplayMode(0)",
        "GetDeviceCaps(0, 1)",
        "CreateDevice(0, 1, window, 0x50, {640, 480, 22, 0, 0, 1, window, 1, 1, 80, 0, 0, 0}) -> device",
        "GetRenderTarget() -> backbuffer",
        "GetDepthStencilSurface() -> defaultdepth",
        "SetRenderState(48, 1)",
        "SetRenderState(140, 3)",
        "Clear(0, NULL, 2, 0x00000000, 1, 0)",
    };
    std::vector<std::string> lines = log();
    ASSERT_GE(lines.size(), expectedStart.size() + 2);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expectedStart.size()), expectedStart);
    EXPECT_EQ(lines[lines.size() - 2], "SetRenderTarget(backbuffer, defaultdepth)");
    EXPECT_EQ(lines.back(), "BeginScene()");
    EXPECT_EQ(recordingCallCount("BeginScene"), 1);
    EXPECT_NE(dglDevice(), nullptr);
}

TEST_F(DglTest, WindowedBackBufferTakesTheDesktopFormat)
{
    recordingConfig().desktop.Format = D3DFMT_R5G6B5;
    dglInit(fakeWindow(), 640, 480, false);
    EXPECT_EQ(createDeviceLine(),
              "CreateDevice(0, 1, window, 0x50, {640, 480, 23, 0, 0, 1, window, 1, 1, 80, 0, 0, 0}) -> device");
}

TEST_F(DglTest, FullscreenChoosesTheLowestFormatOfTheRequestedSizeWalkingDown)
{
    recordingConfig().modes = {
        {640, 480, 75, D3DFMT_R5G6B5},   {800, 600, 60, D3DFMT_X8R8G8B8}, {640, 480, 60, D3DFMT_X8R8G8B8},
        {640, 480, 85, D3DFMT_X1R5G5B5}, {1024, 768, 60, D3DFMT_R5G6B5},
    };
    dglInit(fakeWindow(), 640, 480, true);
    EXPECT_EQ(recordingLogLines("EnumAdapterModes("),
              (std::vector<std::string>{"EnumAdapterModes(0, 4)", "EnumAdapterModes(0, 3)", "EnumAdapterModes(0, 2)",
                                        "EnumAdapterModes(0, 1)", "EnumAdapterModes(0, 0)"}));
    // Format 22, flip, not windowed, adapter default rate, interval one.
    EXPECT_EQ(createDeviceLine(),
              "CreateDevice(0, 1, window, 0x50, {640, 480, 22, 0, 0, 2, window, 0, 1, 80, 0, 0, 1}) -> device");
    EXPECT_EQ(recordingCallCount("GetAdapterDisplayMode"), 0);
}

TEST_F(DglTest, FullscreenPrefersSixteenBitRgbOverFifteenBit)
{
    recordingConfig().modes = {{640, 480, 60, D3DFMT_R5G6B5}, {640, 480, 60, D3DFMT_X1R5G5B5}};
    dglInit(fakeWindow(), 640, 480, true);
    EXPECT_NE(createDeviceLine().find("{640, 480, 23,"), std::string::npos) << createDeviceLine();
}

TEST_F(DglTest, BehaviourFlagsFollowTheCapabilities)
{
    struct Case {
        DWORD caps;
        const char* flags;
    };
    const Case cases[] = {
        {D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE, "window, 0x50,"},
        {D3DDEVCAPS_HWTRANSFORMANDLIGHT, "window, 0x80,"},
        {D3DDEVCAPS_PUREDEVICE, "window, 0x20,"},
        {0, "window, 0x20,"},
    };
    for (const Case& c : cases) {
        recordingInstall();
        recordingConfig().devCaps = c.caps;
        dglInit(fakeWindow(), 640, 480, false);
        EXPECT_NE(createDeviceLine().find(c.flags), std::string::npos) << createDeviceLine();
        dglShutdown();
        EXPECT_EQ(recordingLiveObjects(), 0);
    }
}

TEST_F(DglTest, EveryStartFailureEndsWithItsMessageAndReleasesWhatExists)
{
    struct Case {
        std::function<void()> arrange;
        bool fullscreen;
        const char* message;
    };
    const Case cases[] = {
        {[] { d3dSetImplementation(nullptr); }, false, "Can not load library 'D3D8.dll'. Is DirectX 8 installed?"},
        {[] { d3dSetImplementation(noFactory); }, false, "Can not spawn a Direct3D object."},
        {[] { recordingFailCall("GetAdapterDisplayMode", E_FAIL); }, false,
         "Can not retrieve the display adapter's current display mode."},
        {[] { recordingConfig().modes.clear(); }, true,
         "Can not retrieve the display adapter's number of available display modes."},
        {[] { recordingFailCall("EnumAdapterModes", E_FAIL, 2); }, true,
         "Can not correctly enumerate all of the display adapter's available display modes."},
        {[] { recordingConfig().modes = {{800, 600, 60, D3DFMT_X8R8G8B8}, {640, 400, 60, D3DFMT_X8R8G8B8}}; }, true,
         "The display adapter offers no suitable display mode for the requested resolution: 640*480."},
        {[] { recordingFailCall("GetDeviceCaps", E_FAIL); }, false,
         "Can not retrieve the display adapter's Direct3D HAL capabilities."},
        {[] { recordingFailCall("CreateDevice", D3DERR_NOTAVAILABLE); }, true,
         "Can not create a Direct3D HAL device with a 16-bit depth buffer in the detected 640*480 display mode."},
        {[] { recordingFailCall("CreateDevice", D3DERR_NOTAVAILABLE); }, false,
         "Can not create a Direct3D HAL device with a 16-bit depth buffer in the current display mode."},
        {[] { recordingFailCall("GetRenderTarget", E_FAIL); }, false, "Can not retrieve the back buffer surface."},
        {[] { recordingFailCall("GetDepthStencilSurface", E_FAIL); }, false,
         "Can not retrieve the default depth buffer."},
    };
    for (const Case& c : cases) {
        recordingInstall();
        c.arrange();
        EXPECT_FATAL(dglInit(fakeWindow(), 640, 480, c.fullscreen), c.message);
        // fatalExit shut the renderer down: nothing left alive, nothing released twice.
        EXPECT_EQ(recordingLiveObjects(), 0) << c.message;
        for (const std::string& line : recordingLog())
            EXPECT_EQ(line.find("over-release"), std::string::npos) << line;
        EXPECT_EQ(dglDevice(), nullptr);
        dglForgetAll();
    }
}

TEST_F(DglTest, PartialInitReleasesOnlyTheObjectsThatExist)
{
    recordingFailCall("GetDepthStencilSurface", E_FAIL);
    EXPECT_FATAL(dglInit(fakeWindow(), 640, 480, false), "Can not retrieve the default depth buffer.");
    EXPECT_EQ(releaseLines(), (std::vector<std::string>{"backbuffer.Release()", "device.Release()", "d3d.Release()"}));
}

TEST_F(DglTest, SwapEndsPresentsAndBeginsTheNextScene)
{
    init();
    dglSwapBuffers();
    EXPECT_EQ(log(), (std::vector<std::string>{"EndScene()", "TestCooperativeLevel()", "Present(NULL, NULL, NULL, NULL)",
                                               "BeginScene()"}));
}

TEST_F(DglTest, LostDeviceKeepsRunningUntilItCanBeReset)
{
    init();
    recordingSetCooperativeLevel(D3DERR_DEVICELOST);
    dglSwapBuffers();
    dglSwapBuffers();
    EXPECT_EQ(recordingCallCount("Present"), 2);
    EXPECT_EQ(recordingCallCount("BeginScene"), 2);

    recordingSetCooperativeLevel(D3DERR_DEVICENOTRESET);
    EXPECT_FATAL(dglSwapBuffers(), "Direct3D device lost.");
    EXPECT_EQ(recordingCallCount("Present"), 2);
    EXPECT_EQ(recordingLiveObjects(), 0);
}

TEST_F(DglTest, ClearsTargetTheCurrentBuffers)
{
    init();
    dglClearColorBuffer(0xFF102030);
    dglClearDepthBuffer(0.5f);
    EXPECT_EQ(log(), (std::vector<std::string>{"Clear(0, NULL, 1, 0xff102030, 0, 0)", "Clear(0, NULL, 2, 0x00000000, 0.5, 0)"}));
}

TEST_F(DglTest, ShutdownUnbindsThenReleasesInCreationOrder)
{
    init();
    IDirect3DTexture8* target = dglCreateTexture(64, 64, true, D3DFMT_A8R8G8B8);
    IDirect3DTexture8* plain = dglCreateTexture(32, 32, false, D3DFMT_R5G6B5);
    IDirect3DVertexBuffer8* vertices = dglCreateVertexBuffer(DGL_VERTEX_PC, 3);
    IDirect3DIndexBuffer8* indices = dglCreateIndexBuffer(1);
    dglCreateDepthBuffer(64, 64, D3DFMT_A8R8G8B8);
    dglBindTexture(0, plain);
    dglBindTexture(3, target);
    dglBindVertexBuffer(DGL_VERTEX_PC, vertices);
    dglBindIndexBuffer(indices, 0);
    recordingClearLog();

    dglShutdown();
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "SetTexture(0, NULL)", "SetTexture(3, NULL)", "SetIndices(NULL, 0)",
                         "SetStreamSource(0, NULL, 0)", "texture1.Release()", "texture1.surface.Release()",
                         "texture2.Release()", "vertexbuffer1.Release()", "indexbuffer1.Release()",
                         "depth1.Release()", "backbuffer.Release()", "defaultdepth.Release()", "device.Release()",
                         "d3d.Release()"}));
    EXPECT_EQ(recordingLiveObjects(), 0);

    // A second shutdown (an exit path reached twice) releases nothing again.
    recordingClearLog();
    dglShutdown();
    EXPECT_TRUE(log().empty()) << recordingLogText();
    EXPECT_EQ(dglTextureCount(), 0);
}

TEST_F(DglTest, InitAgainAfterShutdownStartsFresh)
{
    init();
    dglCreateTexture(16, 16, false, D3DFMT_A8R8G8B8);
    dglShutdown();
    dglForgetAll();
    recordingInstall();
    init();
    EXPECT_EQ(dglTextureCount(), 0);
    EXPECT_NE(dglDevice(), nullptr);
}
