// Pixel tests of the 3D API device on real GL (SDL offscreen, Mesa), run
// once per renderer: every test creates its window and device through the
// renderer choice, so the fixed-function device and the shader device on
// its ES and core contexts answer the same checks. Frames come back through
// the present hook. Set GFXCORE_TEST_PNG_DIR to keep some frames as PNG files.
// Depends on: platform (renderer choice, device hooks, window), imaging (PNG).
#pragma once

#include "imaging/png_writer.h"
#include "platform/d3d8.h"
#include "platform/gl/gl_device.h"
#include "platform/renderer.h"
#include "platform/window.h"
#include "tests/support/renderer_print.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace pixel_test {

struct Rgb {
    int r, g, b;
};

struct Frame {
    std::vector<std::uint8_t> rgb;
    int width = 0;
    int height = 0;
    Rgb at(int x, int y) const
    {
        const std::uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return Rgb{p[0], p[1], p[2]};
    }
};

inline void captureFrame(const std::uint8_t* rgb, int width, int height, void* user)
{
    Frame* frame = static_cast<Frame*>(user);
    frame->rgb.assign(rgb, rgb + static_cast<size_t>(width) * height * 3);
    frame->width = width;
    frame->height = height;
}

inline void keepPng(const Frame& frame, const char* name)
{
    const char* folder = std::getenv("GFXCORE_TEST_PNG_DIR");
    if (folder != nullptr && folder[0] != 0)
        writePngRgb(std::string(folder) + "/" + name + ".png", frame.rgb.data(), frame.width, frame.height);
}

// Near within a tolerance of a few steps (filtering, fog and lighting maths).
inline ::testing::AssertionResult near(Rgb actual, int r, int g, int b, int tolerance = 3)
{
    if (std::abs(actual.r - r) <= tolerance && std::abs(actual.g - g) <= tolerance &&
        std::abs(actual.b - b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << actual.r << ", " << actual.g << ", " << actual.b
                                         << ") expected (" << r << ", " << g << ", " << b << ")";
}

struct VertexPC {
    float x, y, z;
    DWORD color;
};
struct VertexPNC {
    float x, y, z, nx, ny, nz;
    DWORD color;
};
struct VertexPNCT {
    float x, y, z, nx, ny, nz;
    DWORD color;
    float u, v;
};
struct VertexPNCT2 {
    float x, y, z, nx, ny, nz;
    DWORD color;
    float u, v, u1, v1;
};
struct VertexPCT {
    float x, y, z;
    DWORD color;
    float u, v;
};
struct VertexPCT2 {
    float x, y, z;
    DWORD color;
    float u, v, u1, v1;
};

inline constexpr DWORD FVF_PC = 0x042, FVF_PNC = 0x052, FVF_PNCT = 0x152, FVF_PNCT2 = 0x252, FVF_PCT = 0x142,
                FVF_PCT2 = 0x242;

inline float ndcX(float pixel) { return pixel / 320.0f - 1.0f; }
inline float ndcY(float pixel) { return 1.0f - pixel / 240.0f; }

inline D3DMATRIX identity() { return D3DMATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}; }

inline D3DMATRIX rotateY(float angle)
{
    D3DMATRIX m = identity();
    m.m[0][0] = std::cos(angle);
    m.m[0][2] = -std::sin(angle);
    m.m[2][0] = std::sin(angle);
    m.m[2][2] = std::cos(angle);
    return m;
}

// Left-handed perspective, horizontal field of view (as the renderer builds it).
inline D3DMATRIX perspective(float fov, float aspect, float zNear, float zFar)
{
    D3DMATRIX m{};
    m.m[0][0] = 1.0f / std::tan(fov / 2);
    m.m[1][1] = 1.0f / std::tan(fov / aspect / 2);
    float q = zFar / (zFar - zNear);
    m.m[2][2] = q;
    m.m[3][2] = -q * zNear;
    m.m[2][3] = 1;
    return m;
}


inline float floatOf(DWORD bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline DWORD bitsOf(float value)
{
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The test names end in the renderer's name (".../gl", ".../es", ".../core").
inline std::string rendererTestName(const ::testing::TestParamInfo<Renderer>& info)
{
    return rendererName(info.param);
}

// A 640x480 windowed device of the renderer under test, lighting off,
// inside a scene with a black picture, and a window of its own: the shader
// device's contexts and the fixed-function one never share a window.
class RendererPixelTest : public ::testing::TestWithParam<Renderer> {
protected:
    HWND window = nullptr;
    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    Frame frame;
    Renderer savedRenderer = Renderer::gl;
    Direct3DCreate8Function savedImplementation = nullptr;

    void SetUp() override
    {
        savedRenderer = selectedRenderer();
        savedImplementation = d3dImplementation();
        selectRenderer(GetParam());
        window = platformCreateRenderWindow(640, 480);
        ASSERT_NE(window, nullptr);
        createDevice();
    }

    void TearDown() override
    {
        glDeviceSetPresentHook(nullptr, nullptr);
        glDeviceSetRenderScale(1);
        releaseDevice();
        if (window != nullptr)
            platformDestroyWindow(window);
        window = nullptr;
        selectRenderer(savedRenderer);
        d3dSetImplementation(savedImplementation);
    }

    void createDevice()
    {
        d3d = d3dImplementation()(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        D3DPRESENT_PARAMETERS parameters{};
        parameters.BackBufferWidth = 640;
        parameters.BackBufferHeight = 480;
        parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        parameters.hDeviceWindow = window;
        parameters.Windowed = TRUE;
        parameters.EnableAutoDepthStencil = TRUE;
        parameters.AutoDepthStencilFormat = D3DFMT_D16;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, 0x50, &parameters, &device), S_OK);
        glDeviceSetPresentHook(captureFrame, &frame);
        // The renderer's usual frame: lighting off, inside a scene.
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->BeginScene();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }

    void releaseDevice()
    {
        if (device != nullptr) {
            EXPECT_EQ(device->Release(), 0u);
        }
        if (d3d != nullptr)
            d3d->Release();
        device = nullptr;
        d3d = nullptr;
    }

    // Ends the frame and starts the next with a cleared depth buffer (unless
    // asked to keep it), as the show's frames do: equal depths from frame to
    // frame would make pixel checks depend on depth rounding.
    const Frame& present(bool clearDepth = true)
    {
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        device->BeginScene();
        if (clearDepth)
            device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        return frame;
    }

    // A screen rectangle in pixels, two clockwise triangles (as the renderer's quads).
    void drawQuad(float left, float top, float right, float bottom, float z, DWORD color, float u0 = 0,
                  float v0 = 0, float u1 = 1, float v1 = 1)
    {
        VertexPCT v[6] = {{ndcX(left), ndcY(top), z, color, u0, v0},     {ndcX(right), ndcY(top), z, color, u1, v0},
                          {ndcX(left), ndcY(bottom), z, color, u0, v1},  {ndcX(right), ndcY(top), z, color, u1, v0},
                          {ndcX(right), ndcY(bottom), z, color, u1, v1}, {ndcX(left), ndcY(bottom), z, color, u0, v1}};
        device->SetVertexShader(FVF_PCT);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPCT)), S_OK);
    }

    IDirect3DTexture8* makeTexture(UINT width, UINT height, D3DFORMAT format, const std::vector<DWORD>& texels)
    {
        IDirect3DTexture8* texture = nullptr;
        EXPECT_EQ(device->CreateTexture(width, height, 1, 0, format, D3DPOOL_MANAGED, &texture), S_OK);
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
        for (UINT y = 0; y < height; y++)
            for (UINT x = 0; x < width; x++) {
                std::uint8_t* row = static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch;
                DWORD texel = texels[y * width + x];
                if (format == D3DFMT_R5G6B5) {
                    std::uint16_t value = static_cast<std::uint16_t>(texel);
                    std::memcpy(row + x * 2, &value, 2);
                } else {
                    std::memcpy(row + x * 4, &texel, 4);
                }
            }
        EXPECT_EQ(texture->UnlockRect(0), S_OK);
        return texture;
    }

    void nearestFilter(DWORD stage)
    {
        device->SetTextureStageState(stage, D3DTSS_MAGFILTER, D3DTEXF_POINT);
        device->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTEXF_POINT);
    }
};

} // namespace pixel_test
