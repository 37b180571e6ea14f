// Scene test harness: runs scene precalculations and render steps in the
// show's data folder against either the recording device (call-by-call
// checks) or the real OpenGL device on a hidden offscreen window (frames
// read back through the present hook), on the renderer a test asks for.
// Also makes the shared noise texture and random table that the load
// sequence would make.
// Depends on: dgl, kernel (loader globals, random), resources (memory,
// files, clips), platform (recording device, renderer choice, OpenGL
// devices, window), imaging (PNG).
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
#include "tests/support/fatal.h"
#include "tests/support/renderer_print.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace scene_harness {

// A frame read back from the OpenGL device: RGB bytes, top row first.
struct Frame {
    std::vector<std::uint8_t> rgb;
    int width = 0;
    int height = 0;

    // Channel values of the pixel at (x, y) in 640x480 picture coordinates.
    const std::uint8_t* at(int x, int y) const
    {
        const int px = x * width / 640;
        const int py = y * height / 480;
        return &rgb[(static_cast<std::size_t>(py) * width + px) * 3];
    }
    int grey(int x, int y) const
    {
        const std::uint8_t* p = at(x, y);
        return (p[0] + p[1] + p[2]) / 3;
    }
    // Mean grey of a rectangle in picture coordinates.
    double meanGrey(int left, int top, int right, int bottom) const
    {
        double sum = 0.0;
        int count = 0;
        for (int y = top; y < bottom; y += 2)
            for (int x = left; x < right; x += 2) {
                sum += grey(x, y);
                ++count;
            }
        return count > 0 ? sum / count : 0.0;
    }
    // Share of pixels in the rectangle whose grey lies in [low, high].
    double share(int left, int top, int right, int bottom, int low, int high) const
    {
        int hits = 0;
        int count = 0;
        for (int y = top; y < bottom; y += 2)
            for (int x = left; x < right; x += 2) {
                const int g = grey(x, y);
                hits += (g >= low && g <= high) ? 1 : 0;
                ++count;
            }
        return count > 0 ? static_cast<double>(hits) / count : 0.0;
    }
};

inline Frame& lastFrame()
{
    static Frame frame;
    return frame;
}

inline void presentHook(const std::uint8_t* rgb, int width, int height, void*)
{
    Frame& frame = lastFrame();
    frame.rgb.assign(rgb, rgb + static_cast<std::size_t>(width) * height * 3);
    frame.width = width;
    frame.height = height;
}

inline HWND fakeWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000)); }

// One renderer session per test suite: the renderer, the shared noise
// resources and whatever the scene's precalculation makes.
class Session {
public:
    // Recording device; the log is cleared after the shared resources exist.
    void startRecording()
    {
        enterShowFolder();
        savedImplementation = d3dImplementation();
        savedRenderer = selectedRenderer();
        running = true;
        recordingInstall();
        dglInit(fakeWindow(), 640, 480, false);
        makeSharedResources();
        recording = true;
    }

    // The renderer's device on a hidden offscreen window; frames come back
    // through the present hook into lastFrame().
    bool startOpenGl(Renderer chosen = Renderer::gl)
    {
        enterShowFolder();
        savedImplementation = d3dImplementation();
        savedRenderer = selectedRenderer();
        running = true;
        window = platformCreateRenderWindow(640, 480);
        if (window == nullptr) return false;
        selectRenderer(chosen);
        renderer = chosen;
        glDeviceSetPresentHook(presentHook, nullptr);
        dglInit(window, 640, 480, false);
        makeSharedResources();
        return true;
    }

    // For parameterised frame tests: the session on the given renderer with
    // the scene precalculated, restarted only when the renderer changes.
    // False when no window can be made.
    bool useOpenGl(Renderer chosen, void (*precalc)())
    {
        if (running && renderer == chosen && window != nullptr) return true;
        if (running) stop();
        if (!startOpenGl(chosen)) return false;
        precalc();
        return true;
    }

    void stop()
    {
        if (!running) return;
        running = false;
        // A restarted session precalculates again: the clips it opened go first.
        releaseAviStreams();
        dglShutdown();
        dglForgetAll();
        glDeviceSetPresentHook(nullptr, nullptr);
        if (window != nullptr) platformDestroyWindow(window);
        window = nullptr;
        if (recording) recordingReset();
        recording = false;
        selectRenderer(savedRenderer);
        d3dSetImplementation(savedImplementation);
        freeAllMemory();
        closeAllFiles();
        if (!previousFolder.empty()) {
            EXPECT_EQ(chdir(previousFolder.c_str()), 0);
        }
        previousFolder.clear();
    }

    // Label of the n-th texture made after the shared noise texture (0-based),
    // as the recording device names it.
    std::string textureLabel(int n) const { return "texture" + std::to_string(firstSceneTexture + n); }

private:
    void enterShowFolder()
    {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) != nullptr) previousFolder = buffer;
        ASSERT_EQ(chdir(GFXCORE_SHOW_DIR), 0);
    }

    // What the load sequence makes before the first scene: the noise
    // texture and the random table (which starts the shared generator).
    void makeSharedResources()
    {
        noiseTexture = dglCreateTexture(256, 256, false, D3DFMT_A8R8G8B8);
        resetRandom();
        for (int i = 0; i < RANDOM_TABLE_SIZE; ++i) randomTable[i] = static_cast<BYTE>(rand15() % 225);
        firstSceneTexture = dglTextureCount() + 1;
        if (recording) recordingClearLog();
    }

    Direct3DCreate8Function savedImplementation = nullptr;
    Renderer savedRenderer = Renderer::gl;
    Renderer renderer = Renderer::gl;
    bool running = false;
    HWND window = nullptr;
    bool recording = false;
    int firstSceneTexture = 0;
    std::string previousFolder;
};

// Lines of the recording log that begin with prefix, as one vector.
inline std::vector<std::string> linesWith(const char* prefix) { return recordingLogLines(prefix); }

inline int countLines(const char* prefix) { return static_cast<int>(recordingLogLines(prefix).size()); }

inline bool logHas(const std::string& line)
{
    for (const std::string& entry : recordingLog())
        if (entry.rfind(line, 0) == 0) return true;
    return false;
}

// Colour of the first vertex of the last screen quad or fade.
inline D3DCOLOR lastQuadColour()
{
    const RecordingUserDraw& draw = recordingLastUserDraw();
    if (draw.vertices.size() < 24) return 0;
    D3DCOLOR colour = 0;
    std::memcpy(&colour, draw.vertices.data() + 12, sizeof colour);
    return colour;
}

// Position (x, y) of vertex n of the last screen quad.
inline void lastQuadVertex(int n, float* x, float* y)
{
    const RecordingUserDraw& draw = recordingLastUserDraw();
    std::memcpy(x, draw.vertices.data() + n * 24, sizeof(float));
    std::memcpy(y, draw.vertices.data() + n * 24 + 4, sizeof(float));
}

// The matrix of a "SetTransform(type, [16 numbers])" log line.
inline bool parseTransform(const std::string& line, float m[16])
{
    const std::size_t open = line.find('[');
    if (open == std::string::npos) return false;
    const char* cursor = line.c_str() + open + 1;
    for (int i = 0; i < 16; ++i) {
        char* end = nullptr;
        m[i] = std::strtof(cursor, &end);
        if (end == cursor) return false;
        cursor = end;
        while (*cursor == ' ' || *cursor == ',') ++cursor;
    }
    return true;
}

// Saves the last frame read back as a PNG under the build folder (for
// looking at); frames of the shader device get the renderer's name added.
inline void saveFrame(const std::string& name)
{
    const Frame& frame = lastFrame();
    if (frame.rgb.empty()) return;
    const std::string folder = std::string(GFXCORE_SHOW_DIR) + "/../scene-frames";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const std::string suffix =
        selectedRenderer() == Renderer::gl ? std::string() : std::string("-") + rendererName(selectedRenderer());
    writePngRgb(folder + "/" + name + suffix + ".png", frame.rgb.data(), frame.width, frame.height);
}

// Frame tests run once per renderer (gl, es, core); their names end in the
// renderer's name.
inline std::string rendererTestName(const ::testing::TestParamInfo<Renderer>& info) { return rendererName(info.param); }

} // namespace scene_harness
