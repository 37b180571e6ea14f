// Shared set-up of the scene tests for scenes 5 to 8: the renderer on the
// recording device (calls checked one by one) or on the OpenGL device
// offscreen (frames read back through the present hook), the shared noise
// texture and random table the load sequence would make, one scene's
// precalculation run on the show's data set, and readers of the call log.
#pragma once

#include "dgl/dgl.h"
#include "imaging/png_writer.h"
#include "kernel/loader.h"
#include "kernel/random.h"
#include "platform/gl/gl_device.h"
#include "platform/recording/recording_device.h"
#include "platform/renderer.h"
#include "platform/window.h"
#include "resources/avi.h"
#include "resources/files.h"
#include "resources/memory.h"
#include "scenes/scene_views.h"
#include "scenes/scenes.h"
#include "tests/support/fatal.h"
#include "tests/support/renderer_print.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace late_scene {

using Matrix = std::array<float, 16>;

inline HWND fakeWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000)); }

// What the load sequence makes before any scene: the noise texture and the
// random table, from a generator started at state 1.
inline void makeSharedResources()
{
    resetRandom();
    noiseTexture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
    for (int i = 0; i < RANDOM_TABLE_SIZE; ++i)
        randomTable[i] = static_cast<BYTE>(rand15() % 225);
}

// Scene 6 draws scene 4's line picture; tests load it themselves.
inline void loadCityLine()
{
    markScratchMemory();
    cityLineTexture = dglCreateTextureFromFile("data/line.png", 512, 512, D3DFMT_A8R8G8B8, true);
    freeScratchMemory();
}

inline void enterShowDirectory() { ASSERT_EQ(chdir(GFXCORE_SHOW_DIR), 0) << GFXCORE_SHOW_DIR; }

// Everything a test run took, given back so that the next suite starts clean.
inline void releaseEverything()
{
    releaseAviStreams();
    dglShutdown();
    dglForgetAll();
    freeAllMemory();
    closeAllFiles();
    cityLineTexture = nullptr;
    noiseTexture = nullptr;
}

// The renderer on the recording device with one scene precalculated.
inline Direct3DCreate8Function startRecorded(void (*precalc)())
{
    Direct3DCreate8Function saved = d3dImplementation();
    enterShowDirectory();
    recordingInstall();
    dglInit(fakeWindow(), 640, 480, false);
    makeSharedResources();
    loadCityLine();
    precalc();
    recordingClearLog();
    return saved;
}

inline void stopRecorded(Direct3DCreate8Function saved)
{
    releaseEverything();
    recordingReset();
    d3dSetImplementation(saved);
}

// The message a precalculation ends with when run in a folder without the
// data set (the first file it needs is missing).
inline std::string precalcMessageWithoutData(void (*precalc)())
{
    char folder[] = "/tmp/gfxcore-nodata-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0)
        return "<no temporary folder>";
    const std::string message = FATAL_MESSAGE(precalc());
    enterShowDirectory();
    rmdir(folder);
    return message;
}

// ------------------------------------------------------------- the call log

inline Matrix parseMatrix(const std::string& line)
{
    Matrix m{};
    const std::size_t open = line.find('[');
    const char* p = line.c_str() + (open == std::string::npos ? line.size() : open + 1);
    for (float& value : m) {
        char* end = nullptr;
        value = std::strtof(p, &end);
        p = end;
    }
    return m;
}

inline bool startsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

// One draw call with the world and view matrices and the light 0 line in force.
struct DrawCall {
    bool indexed;
    std::string line;
    Matrix world;
    Matrix view;
    std::string light0;
};

inline std::vector<DrawCall> drawCalls()
{
    std::vector<DrawCall> calls;
    Matrix world{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    Matrix view = world;
    std::string light0;
    for (const std::string& line : recordingLog()) {
        if (startsWith(line, "SetTransform(256, "))
            world = parseMatrix(line);
        else if (startsWith(line, "SetTransform(2, "))
            view = parseMatrix(line);
        else if (startsWith(line, "SetLight(0, "))
            light0 = line;
        else if (startsWith(line, "DrawIndexedPrimitive("))
            calls.push_back({true, line, world, view, light0});
        else if (startsWith(line, "DrawPrimitiveUP("))
            calls.push_back({false, line, world, view, light0});
    }
    return calls;
}

inline std::vector<DrawCall> indexedDraws()
{
    std::vector<DrawCall> result;
    for (const DrawCall& call : drawCalls())
        if (call.indexed)
            result.push_back(call);
    return result;
}

// The diffuse colour of a SetLight line: the first "(r g b a)" group.
inline std::string lightDiffuse(const std::string& line)
{
    const std::size_t open = line.find('(', line.find('{'));
    const std::size_t close = line.find(')', open);
    return open == std::string::npos ? std::string() : line.substr(open, close - open + 1);
}

// The colour of the first vertex of the last user-pointer draw (a quad or fade).
inline D3DCOLOR lastQuadColor()
{
    const RecordingUserDraw& draw = recordingLastUserDraw();
    if (draw.vertices.size() < 16)
        return 0;
    D3DCOLOR color = 0;
    std::memcpy(&color, draw.vertices.data() + 12, sizeof color);
    return color;
}

// ------------------------------------------------------------- rendered frames

// The renderer's device on a hidden offscreen window; every present copies
// the frame into `frame`. Frame tests run once per renderer (gl, es, core).
struct RenderedFrames {
    HWND window = nullptr;
    Direct3DCreate8Function saved = nullptr;
    Renderer savedRenderer = Renderer::gl;
    Renderer renderer = Renderer::gl;
    std::vector<std::uint8_t> frame;
    int width = 0;
    int height = 0;

    static void hook(const std::uint8_t* rgb, int w, int h, void* user)
    {
        RenderedFrames* self = static_cast<RenderedFrames*>(user);
        self->frame.assign(rgb, rgb + static_cast<std::size_t>(w) * h * 3);
        self->width = w;
        self->height = h;
    }

    bool start(void (*precalc)(), Renderer chosen = Renderer::gl)
    {
        saved = d3dImplementation();
        savedRenderer = selectedRenderer();
        enterShowDirectory();
        window = platformCreateRenderWindow(640, 480);
        if (window == nullptr)
            return false;
        selectRenderer(chosen);
        renderer = chosen;
        glDeviceSetRenderScale(1);
        glDeviceSetPresentHook(hook, this);
        dglInit(window, 640, 480, false);
        makeSharedResources();
        loadCityLine();
        precalc();
        return true;
    }

    void stop()
    {
        glDeviceSetPresentHook(nullptr, nullptr);
        releaseEverything();
        if (window != nullptr)
            platformDestroyWindow(window);
        window = nullptr;
        selectRenderer(savedRenderer);
        d3dSetImplementation(saved);
    }

    // Renders one frame at show time t (ms) and presents it.
    void render(void (*renderStep)(int, float), int t)
    {
        renderStep(t, static_cast<float>(t) * 0.001f);
        dglSwapBuffers();
    }

    // Mean of one channel (0 red, 1 green, 2 blue) over a rectangle of the
    // 640x480 picture.
    double mean(int channel, int left, int top, int w, int h) const
    {
        double sum = 0.0;
        for (int y = top; y < top + h; ++y)
            for (int x = left; x < left + w; ++x)
                sum += frame[(static_cast<std::size_t>(y) * width + x) * 3 + channel];
        return sum / (static_cast<double>(w) * h);
    }

    double brightness(int left, int top, int w, int h) const
    {
        return (mean(0, left, top, w, h) + mean(1, left, top, w, h) + mean(2, left, top, w, h)) / 3.0;
    }

    // Kept for looking at: the build's scene-frames folder (the shader
    // device's frames with the renderer's name added).
    void save(const std::string& name) const
    {
        const std::string folder = std::string(GFXCORE_SHOW_DIR) + "/../scene-frames";
        ::mkdir(folder.c_str(), 0755);
        const std::string suffix = renderer == Renderer::gl ? std::string() : std::string("-") + rendererName(renderer);
        writePngRgb(folder + "/" + name + suffix + ".png", frame.data(), width, height);
    }
};

// Names of the frame tests' renderer parameter: the renderer's name.
inline std::string rendererTestName(const ::testing::TestParamInfo<Renderer>& info) { return rendererName(info.param); }

} // namespace late_scene
