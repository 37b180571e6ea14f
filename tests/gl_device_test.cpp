// The 3D API device on real GL, once per renderer (gl, es, core): what a
// viewer would see for each feature the renderer uses, read back through
// the present hook, plus the factory, the failure paths and the state
// cache's counters.
#include "tests/gl_pixel_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using namespace pixel_test;

class GlDeviceTest : public RendererPixelTest {};

INSTANTIATE_TEST_SUITE_P(Renderers, GlDeviceTest, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

// ---------------------------------------------------------------- factory

TEST_P(GlDeviceTest, FactoryListsModesCapsAndDepthMatches)
{
    UINT count = d3d->GetAdapterModeCount(D3DADAPTER_DEFAULT);
    ASSERT_GE(count, 2u);
    bool found565 = false, found888 = false;
    for (UINT i = 0; i < count; i++) {
        D3DDISPLAYMODE mode{};
        ASSERT_EQ(d3d->EnumAdapterModes(D3DADAPTER_DEFAULT, i, &mode), S_OK);
        if (mode.Width == 640 && mode.Height == 480) {
            found565 |= mode.Format == D3DFMT_R5G6B5;
            found888 |= mode.Format == D3DFMT_X8R8G8B8;
        }
    }
    EXPECT_TRUE(found565 && found888);
    D3DDISPLAYMODE mode{};
    EXPECT_EQ(d3d->EnumAdapterModes(D3DADAPTER_DEFAULT, count, &mode), D3DERR_INVALIDCALL);
    ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), S_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_GE(mode.Width, 640u);

    D3DCAPS8 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), S_OK);
    EXPECT_EQ(caps.DevCaps & (D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE),
              D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE);
    EXPECT_GE(caps.MaxTextureWidth, 512u);

    EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_D16), S_OK);
    EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, D3DFMT_A8R8G8B8, D3DFMT_D16), S_OK);
    EXPECT_EQ(d3d->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_D24S8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(device->TestCooperativeLevel(), S_OK);
    EXPECT_EQ(d3dImplementation()(219), nullptr);
}

TEST_P(GlDeviceTest, DeviceCreationRefusesWhatItCannotServe)
{
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 640;
    parameters.BackBufferHeight = 480;
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice8* other = reinterpret_cast<IDirect3DDevice8*>(1);
    EXPECT_NE(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0x50, &parameters, &other), S_OK);
    EXPECT_EQ(other, nullptr);
    parameters.hDeviceWindow = window;
    parameters.Windowed = FALSE;
    parameters.BackBufferWidth = 641; // full screen takes listed sizes only
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x50, &parameters, &other), D3DERR_INVALIDCALL);
    parameters.Windowed = TRUE;
    parameters.BackBufferWidth = 640;
    parameters.AutoDepthStencilFormat = D3DFMT_D24S8;
    EXPECT_NE(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x50, &parameters, &other), S_OK);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, 0x50, nullptr, &other), D3DERR_INVALIDCALL);
}

TEST_P(GlDeviceTest, TwoDevicesTakeTurns)
{
    HWND secondWindow = platformCreateRenderWindow(320, 240);
    ASSERT_NE(secondWindow, nullptr);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 320;
    parameters.BackBufferHeight = 240;
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.hDeviceWindow = secondWindow;
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice8* second = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, secondWindow, 0x50, &parameters, &second), S_OK);
    second->SetRenderState(D3DRS_LIGHTING, FALSE);
    second->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    second->BeginScene();
    second->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000080, 1.0f, 0);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFFFF0000); // the first device, blending off
    VertexPC v[3] = {{-1, 1, 0.5f, 0x8000FF00}, {1, 1, 0.5f, 0x8000FF00}, {-1, -1, 0.5f, 0x8000FF00}};
    second->SetVertexShader(FVF_PC);
    EXPECT_EQ(second->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(VertexPC)), S_OK);
    second->EndScene();
    second->Present(nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(frame.width, 320);
    // The API's default factors (ONE, ZERO) keep the source alone.
    EXPECT_TRUE(near(frame.at(10, 10), 0, 255, 0, 0));
    EXPECT_TRUE(near(frame.at(310, 230), 0, 0, 128, 0));
    const Frame& f = present();
    EXPECT_TRUE(near(f.at(320, 240), 255, 0, 0, 0));
    EXPECT_EQ(second->Release(), 0u);
    platformDestroyWindow(secondWindow);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFF0000FF);
    EXPECT_TRUE(near(present().at(320, 240), 0, 0, 255, 0));
}

// ---------------------------------------------------------------- frame

TEST_P(GlDeviceTest, ClearAndPresentHookGiveTheBackBuffer)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
    RECT box{10, 20, 30, 40};
    device->Clear(1, &box, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    const Frame& f = present();
    ASSERT_EQ(f.width, 640);
    ASSERT_EQ(f.height, 480);
    EXPECT_TRUE(near(f.at(0, 0), 0x33, 0x66, 0x99, 0));
    EXPECT_TRUE(near(f.at(639, 479), 0x33, 0x66, 0x99, 0));
    // The rectangle is in top-left based pixel coordinates.
    EXPECT_TRUE(near(f.at(10, 20), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(29, 39), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(30, 40), 0x33, 0x66, 0x99, 0));
    EXPECT_TRUE(near(f.at(9, 19), 0x33, 0x66, 0x99, 0));

    GlDeviceCounters last = glDeviceLastFrameCounters();
    EXPECT_EQ(last.clears, 3u); // the fixture's clear and the two above
    EXPECT_EQ(glDeviceCounters().clears, 1u); // present() starts the next frame with a depth clear
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);
}

TEST_P(GlDeviceTest, RenderScaleEnlargesTheBackBufferNotTheCanvas)
{
    releaseDevice();
    glDeviceSetRenderScale(2);
    createDevice();
    drawQuad(0, 0, 320, 240, 0.5f, 0xFF00FF00); // the top-left quarter of the canvas
    const Frame& f = present();
    ASSERT_EQ(f.width, 1280);
    ASSERT_EQ(f.height, 960);
    EXPECT_TRUE(near(f.at(0, 0), 0, 255, 0, 0));
    EXPECT_TRUE(near(f.at(639, 479), 0, 255, 0, 0));
    EXPECT_TRUE(near(f.at(640, 480), 0, 0, 0, 0));
    glDeviceSetRenderScale(99);
    EXPECT_EQ(glDeviceRenderScale(), 8);
}

TEST_P(GlDeviceTest, PixelCentresSitOnIntegerCoordinates)
{
    // A 2x2 quad from 0.5 to 2.5 covers the pixels whose centres 1 and 2 it
    // contains (GL's own centres would give pixels 0 and 1).
    drawQuad(0.5f, 0.5f, 2.5f, 2.5f, 0.5f, 0xFFFFFFFF);
    const Frame& f = present();
    EXPECT_TRUE(near(f.at(1, 1), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(2, 2), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(0, 0), 0, 0, 0, 0));
    EXPECT_TRUE(near(f.at(3, 3), 0, 0, 0, 0));
    EXPECT_TRUE(near(f.at(0, 1), 0, 0, 0, 0));
}

// ---------------------------------------------------------------- vertex formats and culling

TEST_P(GlDeviceTest, EveryVertexFormatDrawsItsColourAndFrontFacesWindClockwise)
{
    const DWORD red = 0xFFFF0000;
    // Clockwise on screen: bottom-left, top, bottom-right.
    const float cx[3] = {-0.5f, 0.0f, 0.5f}, cy[3] = {-0.5f, 0.5f, -0.5f};
    auto draw = [&](DWORD fvf, bool clockwise) {
        int order[3] = {0, 1, 2};
        if (!clockwise)
            std::swap(order[1], order[2]);
        VertexPC pc[3];
        VertexPNC pnc[3];
        VertexPNCT pnct[3];
        VertexPNCT2 pnct2[3];
        VertexPCT pct[3];
        VertexPCT2 pct2[3];
        for (int i = 0; i < 3; i++) {
            float x = cx[order[i]], y = cy[order[i]];
            pc[i] = {x, y, 0.5f, red};
            pnc[i] = {x, y, 0.5f, 0, 0, -1, red};
            pnct[i] = {x, y, 0.5f, 0, 0, -1, red, 0, 0};
            pnct2[i] = {x, y, 0.5f, 0, 0, -1, red, 0, 0, 0, 0};
            pct[i] = {x, y, 0.5f, red, 0, 0};
            pct2[i] = {x, y, 0.5f, red, 0, 0, 0, 0};
        }
        device->SetVertexShader(fvf);
        const void* data = fvf == FVF_PC      ? static_cast<const void*>(pc)
                           : fvf == FVF_PNC   ? static_cast<const void*>(pnc)
                           : fvf == FVF_PNCT  ? static_cast<const void*>(pnct)
                           : fvf == FVF_PNCT2 ? static_cast<const void*>(pnct2)
                           : fvf == FVF_PCT   ? static_cast<const void*>(pct)
                                              : static_cast<const void*>(pct2);
        UINT stride = fvf == FVF_PC ? 16 : fvf == FVF_PNC ? 28 : fvf == FVF_PNCT ? 36 : fvf == FVF_PNCT2 ? 44
                                          : fvf == FVF_PCT ? 24 : 32;
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, data, stride), S_OK);
    };
    for (DWORD fvf : {FVF_PC, FVF_PNC, FVF_PNCT, FVF_PNCT2, FVF_PCT, FVF_PCT2}) {
        SCOPED_TRACE(fvf);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        draw(fvf, true);
        Frame f = present();
        EXPECT_TRUE(near(f.at(320, 260), 255, 0, 0, 0));
        EXPECT_TRUE(near(f.at(320, 100), 0, 0, 0, 0)); // above the apex
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        draw(fvf, false); // counter-clockwise: culled
        f = present();
        EXPECT_TRUE(near(f.at(320, 260), 0, 0, 0, 0));
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
        draw(fvf, true); // clockwise culled by CW
        f = present();
        EXPECT_TRUE(near(f.at(320, 260), 0, 0, 0, 0));
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        draw(fvf, false);
        f = present();
        EXPECT_TRUE(near(f.at(320, 260), 255, 0, 0, 0));
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    }
}

TEST_P(GlDeviceTest, BuffersDrawWithBaseVertexIndexAndLineLists)
{
    IDirect3DVertexBuffer8* vertices = nullptr;
    IDirect3DIndexBuffer8* indices = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(6 * sizeof(VertexPC), D3DUSAGE_DYNAMIC, FVF_PC, D3DPOOL_DEFAULT, &vertices),
              S_OK);
    ASSERT_EQ(device->CreateIndexBuffer(6, D3DUSAGE_DYNAMIC, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &indices), S_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(vertices->Lock(0, 0, &data, 0), S_OK);
    // Vertices 0-2: a blue triangle on the left; 3-5: a green one on the right.
    VertexPC v[6] = {{-0.9f, -0.5f, 0.5f, 0xFF0000FF}, {-0.6f, 0.5f, 0.5f, 0xFF0000FF}, {-0.3f, -0.5f, 0.5f, 0xFF0000FF},
                     {0.3f, -0.5f, 0.5f, 0xFF00FF00},  {0.6f, 0.5f, 0.5f, 0xFF00FF00},  {0.9f, -0.5f, 0.5f, 0xFF00FF00}};
    std::memcpy(data, v, sizeof(v));
    ASSERT_EQ(vertices->Unlock(), S_OK);
    ASSERT_EQ(indices->Lock(0, 0, &data, 0), S_OK);
    const std::uint16_t triangle[3] = {0, 1, 2};
    std::memcpy(data, triangle, sizeof(triangle));
    ASSERT_EQ(indices->Unlock(), S_OK);
    EXPECT_EQ(glDeviceCounters().bufferUploads, 2u);

    device->SetVertexShader(FVF_PC);
    device->SetStreamSource(0, vertices, sizeof(VertexPC));
    device->SetIndices(indices, 3);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), S_OK);
    Frame f = present();
    EXPECT_TRUE(near(f.at(480, 260), 0, 255, 0, 0));
    EXPECT_TRUE(near(f.at(160, 260), 0, 0, 0, 0));

    // The same indices read as a line list: one line from vertex 0 to 1.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->SetIndices(indices, 0);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 2, 0, 1), S_OK);
    f = present();
    int lit = 0;
    for (int x = 0; x < 640; x++)
        lit += f.at(x, 240).b > 200 ? 1 : 0;
    EXPECT_GE(lit, 1);
    EXPECT_LE(lit, 3);
    EXPECT_TRUE(near(f.at(320, 240), 0, 0, 0, 0));

    // Out of range draws are refused instead of reading past the buffers.
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 3, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 7, 0, 1), D3DERR_INVALIDCALL);
    BYTE* extra = nullptr;
    EXPECT_EQ(vertices->Lock(100, 0, &extra, 0), D3DERR_INVALIDCALL);
    // Outside a scene nothing is drawn.
    device->EndScene();
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), D3DERR_INVALIDCALL);
    device->BeginScene();
    vertices->Release();
    indices->Release();
    // Released buffers are no longer bound: drawing fails cleanly.
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), D3DERR_INVALIDCALL);
}

// ---------------------------------------------------------------- textures

TEST_P(GlDeviceTest, LockedTexturesUploadTopRowFirst)
{
    nearestFilter(0);
    // 4x4, row 0 red, the rest blue; alpha opaque.
    std::vector<DWORD> texels(16, 0xFF0000FF);
    for (int x = 0; x < 4; x++)
        texels[x] = 0xFFFF0000;
    IDirect3DTexture8* argb = makeTexture(4, 4, D3DFMT_A8R8G8B8, texels);
    device->SetTexture(0, argb);
    drawQuad(0, 0, 320, 480, 0.5f, 0xFFFFFFFF);
    // R5G6B5: row 0 green, the rest red.
    std::vector<DWORD> texels565(16, 0xF800);
    for (int x = 0; x < 4; x++)
        texels565[x] = 0x07E0;
    IDirect3DTexture8* rgb565 = makeTexture(4, 4, D3DFMT_R5G6B5, texels565);
    device->SetTexture(0, rgb565);
    drawQuad(320, 0, 640, 480, 0.5f, 0xFFFFFFFF);
    EXPECT_EQ(glDeviceCounters().textureUploads, 2u);
    const Frame& f = present();
    keepPng(f, "gl_device_texture_rows");
    EXPECT_TRUE(near(f.at(160, 10), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(160, 470), 0, 0, 255, 0));
    EXPECT_TRUE(near(f.at(480, 10), 0, 255, 0, 0));
    EXPECT_TRUE(near(f.at(480, 470), 255, 0, 0, 0));

    // A partial lock points into the rows and uploads only them.
    D3DLOCKED_RECT locked{};
    RECT rows{0, 2, 4, 3};
    ASSERT_EQ(argb->LockRect(0, &locked, &rows, 0), S_OK);
    EXPECT_EQ(locked.Pitch, 16);
    DWORD green = 0xFF00FF00;
    for (int x = 0; x < 4; x++)
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + x * 4, &green, 4);
    EXPECT_EQ(argb->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL); // already locked
    ASSERT_EQ(argb->UnlockRect(0), S_OK);
    EXPECT_EQ(argb->UnlockRect(0), D3DERR_INVALIDCALL);
    device->SetTexture(0, argb);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFFFFFFFF);
    const Frame& g = present();
    EXPECT_TRUE(near(g.at(320, 300), 0, 255, 0, 0)); // row 2 of 4
    EXPECT_TRUE(near(g.at(320, 420), 0, 0, 255, 0));

    // Creating and filling another texture between two draws leaves the
    // stage's texture in place.
    drawQuad(0, 0, 320, 480, 0.5f, 0xFFFFFFFF);
    IDirect3DTexture8* other = makeTexture(4, 4, D3DFMT_A8R8G8B8, std::vector<DWORD>(16, 0xFFFFFF00));
    drawQuad(320, 0, 640, 480, 0.5f, 0xFFFFFFFF);
    const Frame& h = present();
    EXPECT_TRUE(near(h.at(160, 300), 0, 255, 0, 0));
    EXPECT_TRUE(near(h.at(480, 300), 0, 255, 0, 0));
    other->Release();

    RECT outside{0, 0, 5, 1};
    EXPECT_EQ(argb->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);
    IDirect3DTexture8* bad = nullptr;
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &bad), D3DERR_INVALIDCALL);
    EXPECT_EQ(bad, nullptr);
    EXPECT_EQ(device->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &bad), D3DERR_INVALIDCALL);
    argb->Release();
    rgb565->Release();
}

TEST_P(GlDeviceTest, RenderToTextureThenSampleIt)
{
    IDirect3DTexture8* target = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target),
              S_OK);
    IDirect3DSurface8* surface = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &surface), S_OK);
    IDirect3DSurface8* depth = nullptr;
    ASSERT_EQ(device->CreateDepthStencilSurface(256, 256, D3DFMT_D16, D3DMULTISAMPLE_NONE, &depth), S_OK);
    IDirect3DSurface8* backBuffer = nullptr;
    IDirect3DSurface8* defaultDepth = nullptr;
    ASSERT_EQ(device->GetRenderTarget(&backBuffer), S_OK);
    ASSERT_EQ(device->GetDepthStencilSurface(&defaultDepth), S_OK);
    D3DSURFACE_DESC desc{};
    backBuffer->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 640u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    surface->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 256u);
    EXPECT_EQ(desc.Usage, D3DUSAGE_RENDERTARGET);

    ASSERT_EQ(device->SetRenderTarget(surface, depth), S_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    // Only the top-left quarter of the target, in the target's own clip space.
    VertexPC quad[6] = {{-1, 1, 0.5f, 0xFFFF0000}, {0, 1, 0.5f, 0xFFFF0000}, {-1, 0, 0.5f, 0xFFFF0000},
                        {0, 1, 0.5f, 0xFFFF0000},  {0, 0, 0.5f, 0xFFFF0000}, {-1, 0, 0.5f, 0xFFFF0000}};
    device->SetVertexShader(FVF_PC);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(VertexPC)), S_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(target->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL); // lives in GL only

    ASSERT_EQ(device->SetRenderTarget(backBuffer, defaultDepth), S_OK);
    nearestFilter(0);
    device->SetTexture(0, target);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFFFFFFFF);
    const Frame& f = present();
    keepPng(f, "gl_device_render_to_texture");
    EXPECT_TRUE(near(f.at(100, 100), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(540, 100), 0, 0, 255, 0));
    EXPECT_TRUE(near(f.at(100, 380), 0, 0, 255, 0));
    EXPECT_TRUE(near(f.at(540, 380), 0, 0, 255, 0));

    // A depth surface smaller than the colour target is refused; a plain
    // texture's surface can not be a target.
    IDirect3DSurface8* small = nullptr;
    ASSERT_EQ(device->CreateDepthStencilSurface(128, 128, D3DFMT_D16, D3DMULTISAMPLE_NONE, &small), S_OK);
    EXPECT_EQ(device->SetRenderTarget(surface, small), D3DERR_INVALIDCALL);
    IDirect3DTexture8* plain = makeTexture(4, 4, D3DFMT_A8R8G8B8, std::vector<DWORD>(16, 0));
    IDirect3DSurface8* plainSurface = nullptr;
    ASSERT_EQ(plain->GetSurfaceLevel(0, &plainSurface), S_OK);
    EXPECT_EQ(device->SetRenderTarget(plainSurface, depth), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderTarget(depth, depth), D3DERR_INVALIDCALL);

    // Releasing the current target returns drawing to the back buffer.
    ASSERT_EQ(device->SetRenderTarget(surface, depth), S_OK);
    device->SetTexture(0, nullptr);
    surface->Release();
    target->Release();
    IDirect3DSurface8* current = nullptr;
    ASSERT_EQ(device->GetRenderTarget(&current), S_OK);
    EXPECT_EQ(current, backBuffer);
    current->Release();

    plainSurface->Release();
    plain->Release();
    small->Release();
    depth->Release();
    backBuffer->Release();
    defaultDepth->Release();
}

// ---------------------------------------------------------------- depth

TEST_P(GlDeviceTest, DepthTestWithTheDefaultAndAPooledDepthBuffer)
{
    auto scene = [&]() {
        device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        drawQuad(0, 0, 640, 240, 0.2f, 0xFFFF0000);     // near, top half
        drawQuad(0, 0, 640, 480, 0.8f, 0xFF0000FF);     // far, everywhere
        device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        drawQuad(0, 240, 320, 480, 0.1f, 0xFF00FF00);   // near, bottom left, no depth written
        drawQuad(0, 240, 640, 480, 0.5f, 0xFFFFFFFF);   // middle: beats the far blue everywhere below
        device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS); // depth test "off" as the renderer does
        drawQuad(600, 0, 640, 40, 0.9f, 0xFFFFFF00);
    };
    scene();
    Frame f = present(false);
    EXPECT_TRUE(near(f.at(100, 100), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(100, 400), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(500, 400), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(620, 20), 255, 255, 0, 0));

    // The same into a texture with its own depth buffer, shown on screen.
    IDirect3DTexture8* target = nullptr;
    ASSERT_EQ(device->CreateTexture(640, 480, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target),
              S_OK);
    IDirect3DSurface8* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    IDirect3DSurface8* depth = nullptr;
    ASSERT_EQ(device->CreateDepthStencilSurface(640, 480, D3DFMT_D16, D3DMULTISAMPLE_NONE, &depth), S_OK);
    IDirect3DSurface8* backBuffer = nullptr;
    IDirect3DSurface8* defaultDepth = nullptr;
    device->GetRenderTarget(&backBuffer);
    device->GetDepthStencilSurface(&defaultDepth);
    // The default depth holds the quads above; the pooled one starts clear.
    ASSERT_EQ(device->SetRenderTarget(surface, depth), S_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    scene();
    // A texture target paired with the screen's depth buffer sees its depths.
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    ASSERT_EQ(device->SetRenderTarget(surface, defaultDepth), S_OK);
    drawQuad(0, 0, 100, 100, 0.3f, 0xFF00FFFF); // behind the near red (0.2): hidden
    ASSERT_EQ(device->SetRenderTarget(backBuffer, defaultDepth), S_OK);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    nearestFilter(0);
    device->SetTexture(0, target);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFFFFFFFF);
    f = present();
    EXPECT_TRUE(near(f.at(50, 50), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(100, 100), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(100, 400), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(620, 20), 255, 255, 0, 0));
    device->SetTexture(0, nullptr);
    surface->Release();
    target->Release();
    depth->Release();
    backBuffer->Release();
    defaultDepth->Release();
}

// ---------------------------------------------------------------- blending and stages

TEST_P(GlDeviceTest, BlendModesOfTheShow)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF404040, 1.0f, 0);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    // Additive: ONE, ONE.
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    drawQuad(0, 0, 200, 480, 0.5f, 0x00202020);
    drawQuad(0, 0, 100, 480, 0.5f, 0x00F0F0F0); // saturates
    // Untextured: the vertex alpha reaches blending.
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    drawQuad(200, 0, 400, 480, 0.5f, 0x40FFFFFF);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_SRCALPHA);
    drawQuad(400, 0, 640, 480, 0.5f, 0x40FFFFFF);
    const Frame& f = present();
    keepPng(f, "gl_device_blending");
    EXPECT_TRUE(near(f.at(150, 240), 0x60, 0x60, 0x60, 1));
    EXPECT_TRUE(near(f.at(50, 240), 0xFF, 0xFF, 0xFF, 0));
    // 0x40/255 of white over 0x40 grey: 64 + (255 - 64) * 64 / 255 = 112
    EXPECT_TRUE(near(f.at(300, 240), 112, 112, 112, 2));
    // the reverse: 255 * 191/255 + 64 * 64/255 = 207
    EXPECT_TRUE(near(f.at(500, 240), 207, 207, 207, 2));
}

// The back buffer here has no alpha (X8R8G8B8), though it may be stored
// with an alpha channel that draws write: destination alpha must read one.
TEST_P(GlDeviceTest, BackBufferWithoutAlphaReadsDestinationAlphaAsOne)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00000000, 1.0f, 0);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    drawQuad(0, 0, 640, 480, 0.5f, 0x00C0C0C0); // alpha zero, were it stored
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_DESTALPHA);
    drawQuad(0, 0, 320, 480, 0.5f, 0xFF000000); // keeps the grey
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVDESTALPHA);
    drawQuad(320, 0, 640, 480, 0.5f, 0x00204060); // replaces it
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    const Frame& f = present();
    EXPECT_TRUE(near(f.at(100, 240), 0xC0, 0xC0, 0xC0, 1));
    EXPECT_TRUE(near(f.at(500, 240), 0x20, 0x40, 0x60, 1));
}

TEST_P(GlDeviceTest, TexturedStageZeroTakesAlphaFromTheTextureOnly)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    nearestFilter(0);
    // Left texel opaque white, right texel transparent white.
    IDirect3DTexture8* texture = makeTexture(2, 1, D3DFMT_A8R8G8B8, {0xFFFFFFFF, 0x00FFFFFF});
    device->SetTexture(0, texture);
    // Vertex colour: half red with alpha 0: colour modulates, alpha does not reach.
    drawQuad(0, 0, 640, 480, 0.5f, 0x00FF8000);
    Frame f = present();
    EXPECT_TRUE(near(f.at(100, 240), 255, 128, 0, 1));
    EXPECT_TRUE(near(f.at(540, 240), 0, 0, 0, 0));

    // Stage 1 with a texture and the default DISABLE stays out of the way;
    // with MODULATE it multiplies; a stage reading a missing texture passes through.
    IDirect3DTexture8* half = makeTexture(1, 1, D3DFMT_A8R8G8B8, {0xFF808080});
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetTexture(1, half);
    nearestFilter(1);
    drawQuad(0, 0, 320, 480, 0.5f, 0xFFFFFFFF);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    drawQuad(320, 0, 640, 480, 0.5f, 0xFFFFFFFF);
    f = present();
    EXPECT_TRUE(near(f.at(100, 240), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(540, 240), 128, 128, 128, 1)); // white times grey (blending is off)
    device->SetTexture(0, nullptr);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFF00FF00);
    f = present();
    EXPECT_TRUE(near(f.at(100, 240), 0, 128, 0, 1)); // stage 0 passes the diffuse, stage 1 modulates
    device->SetTexture(1, nullptr);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFF00FF00);
    f = present();
    EXPECT_TRUE(near(f.at(100, 240), 0, 255, 0, 0));
    texture->Release();
    half->Release();
}

TEST_P(GlDeviceTest, AlphaTestDropsFragments)
{
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_ALPHAREF, 0x80);
    drawQuad(0, 0, 320, 480, 0.5f, 0x40FF0000);
    drawQuad(320, 0, 640, 480, 0.5f, 0xC0FF0000);
    Frame f = present();
    EXPECT_TRUE(near(f.at(100, 240), 0, 0, 0, 0));
    EXPECT_TRUE(near(f.at(500, 240), 255, 0, 0, 0));
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    drawQuad(0, 0, 320, 480, 0.5f, 0x40FF0000);
    f = present();
    EXPECT_TRUE(near(f.at(100, 240), 255, 0, 0, 0));
}

// ---------------------------------------------------------------- lighting, fog, environment mapping

TEST_P(GlDeviceTest, DirectionalLightTravelsAlongItsDirectionInViewSpace)
{
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0);
    D3DMATERIAL8 material{};
    material.Diffuse = {1, 1, 1, 1};
    material.Ambient = {1, 1, 1, 1};
    device->SetMaterial(&material);
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Direction = {0, 0, 1}; // away from the viewer: lights faces that look at the viewer
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    // A quad facing the viewer (normal -z), coloured by its vertices.
    auto quad = [&](float left, float right, DWORD color) {
        VertexPNC v[6] = {{ndcX(left), 1, 0.5f, 0, 0, -1, color},   {ndcX(right), 1, 0.5f, 0, 0, -1, color},
                          {ndcX(left), -1, 0.5f, 0, 0, -1, color},  {ndcX(right), 1, 0.5f, 0, 0, -1, color},
                          {ndcX(right), -1, 0.5f, 0, 0, -1, color}, {ndcX(left), -1, 0.5f, 0, 0, -1, color}};
        device->SetVertexShader(FVF_PNC);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPNC));
    };
    quad(0, 320, 0xFF00FF00);
    light.Direction = {0, 0, -1}; // towards the viewer: the face is in its shadow
    device->SetLight(0, &light);
    quad(320, 640, 0xFF00FF00);
    Frame f = present();
    keepPng(f, "gl_device_light");
    EXPECT_TRUE(near(f.at(100, 240), 0, 255, 0, 1));
    EXPECT_TRUE(near(f.at(500, 240), 0, 0, 0, 1));

    // The view turns the light with the camera, the world does not: a view
    // of 90 degrees about y carries world direction -x to view +z.
    D3DMATRIX turn = rotateY(3.14159265f / 2);
    device->SetTransform(D3DTS_VIEW, &turn);
    D3DMATRIX back = rotateY(-3.14159265f / 2);
    device->SetTransform(D3DTS_WORLD, &back); // the quad stays in front of the camera
    light.Direction = {-1, 0, 0};
    device->SetLight(0, &light);
    quad(0, 320, 0xFF00FF00);
    light.Direction = {1, 0, 0};
    device->SetLight(0, &light);
    quad(320, 640, 0xFF00FF00);
    f = present();
    EXPECT_TRUE(near(f.at(100, 240), 0, 255, 0, 1));
    EXPECT_TRUE(near(f.at(500, 240), 0, 0, 0, 1));

    // Ambient comes from the material and the ambient state; the vertex colour
    // is the diffuse material only.
    device->LightEnable(0, FALSE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFF404040);
    quad(0, 640, 0xFF00FF00);
    f = present();
    EXPECT_TRUE(near(f.at(320, 240), 64, 64, 64, 1));
}

TEST_P(GlDeviceTest, RangeFogGrowsWithTheDistanceFromTheEye)
{
    D3DMATRIX projection = perspective(3.14159265f / 2, 640.0f / 480.0f, 1.0f, 100.0f);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);
    float start = 0.0f, end = 10.0f;
    DWORD bits;
    std::memcpy(&bits, &start, 4);
    device->SetRenderState(D3DRS_FOGSTART, bits);
    std::memcpy(&bits, &end, 4);
    device->SetRenderState(D3DRS_FOGEND, bits);
    // A black wall at z = 5, finely cut so per-vertex fog follows the distance.
    std::vector<VertexPC> wall;
    const int cells = 32;
    for (int j = 0; j < cells; j++)
        for (int i = 0; i < cells; i++) {
            float x0 = -5.0f + 10.0f * i / cells, x1 = -5.0f + 10.0f * (i + 1) / cells;
            float y0 = 5.0f - 10.0f * j / cells, y1 = 5.0f - 10.0f * (j + 1) / cells;
            VertexPC quad[6] = {{x0, y0, 5, 0xFF000000}, {x1, y0, 5, 0xFF000000}, {x0, y1, 5, 0xFF000000},
                                {x1, y0, 5, 0xFF000000}, {x1, y1, 5, 0xFF000000}, {x0, y1, 5, 0xFF000000}};
            wall.insert(wall.end(), quad, quad + 6);
        }
    device->SetVertexShader(FVF_PC);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(wall.size() / 3), wall.data(), sizeof(VertexPC));
    const Frame& f = present();
    keepPng(f, "gl_device_fog");
    // Centre: distance 5 of 10 -> half fog.
    EXPECT_TRUE(near(f.at(320, 240), 128, 128, 128, 4));
    // Right edge: x = 5 at z = 5 is sqrt(50) = 7.07 away: f = 0.293, grey 180
    // (eye-plane fog would stay at 128 across the wall).
    EXPECT_TRUE(near(f.at(639, 240), 180, 180, 180, 6));
}

TEST_P(GlDeviceTest, EnvironmentMappingUsesCameraSpaceNormals)
{
    nearestFilter(0);
    // 2x2: top-left red, top-right green, bottom-left blue, bottom-right white.
    IDirect3DTexture8* texture =
        makeTexture(2, 2, D3DFMT_A8R8G8B8, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
    device->SetTexture(0, texture);
    D3DMATRIX env{};
    env.m[0][0] = 0.5f;
    env.m[1][1] = -0.5f;
    env.m[2][2] = 1;
    env.m[3][0] = 0.5f;
    env.m[3][1] = 0.5f;
    env.m[3][3] = 1;
    device->SetTransform(D3DTS_TEXTURE0, &env);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    auto quad = [&](float left, float right, float nx, float ny) {
        float nz = -std::sqrt(1 - nx * nx - ny * ny);
        VertexPNCT v[6] = {{ndcX(left), 1, 0.5f, nx, ny, nz, 0xFFFFFFFF, 0, 0},
                           {ndcX(right), 1, 0.5f, nx, ny, nz, 0xFFFFFFFF, 0, 0},
                           {ndcX(left), -1, 0.5f, nx, ny, nz, 0xFFFFFFFF, 0, 0},
                           {ndcX(right), 1, 0.5f, nx, ny, nz, 0xFFFFFFFF, 0, 0},
                           {ndcX(right), -1, 0.5f, nx, ny, nz, 0xFFFFFFFF, 0, 0},
                           {ndcX(left), -1, 0.5f, nx, ny, nz, 0xFFFFFFFF, 0, 0}};
        device->SetVertexShader(FVF_PNCT);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPNCT));
    };
    quad(0, 160, -0.6f, 0.6f);   // left, up: u 0.2, v 0.2 -> red
    quad(160, 320, 0.6f, 0.6f);  // right, up -> green
    quad(320, 480, -0.6f, -0.6f); // left, down -> blue
    quad(480, 640, 0.6f, -0.6f); // right, down -> white
    Frame f = present();
    EXPECT_TRUE(near(f.at(80, 240), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(240, 240), 0, 255, 0, 0));
    EXPECT_TRUE(near(f.at(400, 240), 0, 0, 255, 0));
    EXPECT_TRUE(near(f.at(560, 240), 255, 255, 255, 0));

    // Switched off, the stage reads the vertex's own coordinates again, and
    // the texture matrix stays out (its flags are DISABLE).
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    drawQuad(0, 0, 640, 480, 0.5f, 0xFFFFFFFF, 0.75f, 0.75f, 0.75f, 0.75f);
    f = present();
    EXPECT_TRUE(near(f.at(320, 240), 255, 255, 255, 0));
    texture->Release();
}

// ---------------------------------------------------------------- state cache

// One-colour unlit draws are shaded flat (the colour is a constant for the
// rasteriser); a draw whose vertices differ must still blend them, also when
// a buffer drawn in one colour is filled again with several.
TEST_P(GlDeviceTest, OneColourDrawsKeepTheirColourAndColourGradientsStaySmooth)
{
    auto gradient = [](VertexPC* v, DWORD left, DWORD right) {
        const VertexPC quad[6] = {{-1, -1, 0.5f, left}, {-1, 1, 0.5f, left},  {1, 1, 0.5f, right},
                                  {-1, -1, 0.5f, left}, {1, 1, 0.5f, right}, {1, -1, 0.5f, right}};
        std::memcpy(v, quad, sizeof(quad));
    };
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetVertexShader(FVF_PC);
    VertexPC v[6];
    gradient(v, 0xFF808080, 0xFF808080);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPC)), S_OK);
    Frame f = present();
    EXPECT_TRUE(near(f.at(20, 240), 128, 128, 128, 1));
    EXPECT_TRUE(near(f.at(620, 240), 128, 128, 128, 1));
    gradient(v, 0xFF000000, 0xFFFFFFFF);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPC)), S_OK);
    f = present();
    EXPECT_TRUE(near(f.at(320, 240), 128, 128, 128, 4));
    EXPECT_LT(f.at(20, 240).r, 20);
    EXPECT_GT(f.at(620, 240).r, 235);

    IDirect3DVertexBuffer8* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof(v), D3DUSAGE_DYNAMIC, FVF_PC, D3DPOOL_DEFAULT, &buffer), S_OK);
    IDirect3DIndexBuffer8* indices = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(12, D3DUSAGE_DYNAMIC, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &indices), S_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(indices->Lock(0, 0, &data, 0), S_OK);
    const std::uint16_t order[6] = {0, 1, 2, 3, 4, 5};
    std::memcpy(data, order, sizeof(order));
    ASSERT_EQ(indices->Unlock(), S_OK);
    device->SetStreamSource(0, buffer, sizeof(VertexPC));
    device->SetIndices(indices, 0);
    for (DWORD right : {0xFF808080u, 0xFFFFFFFFu}) {
        ASSERT_EQ(buffer->Lock(0, 0, &data, 0), S_OK);
        gradient(reinterpret_cast<VertexPC*>(data), 0xFF808080, right);
        ASSERT_EQ(buffer->Unlock(), S_OK);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 6, 0, 2), S_OK);
        f = present();
        // One colour: grey everywhere; a gradient: half-way between grey and white in the middle.
        const int middle = right == 0xFF808080u ? 128 : 192;
        EXPECT_TRUE(near(f.at(320, 240), middle, middle, middle, 3));
    }
    buffer->Release();
    indices->Release();
}

TEST_P(GlDeviceTest, RepeatedSettingsCostNoGlCalls)
{
    auto setAll = [&](DWORD blend) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        D3DMATRIX m = identity();
        device->SetTransform(D3DTS_WORLD, &m);
        device->SetTransform(D3DTS_VIEW, &m);
    };
    setAll(TRUE);
    drawQuad(0, 0, 10, 10, 0.5f, 0xFFFFFFFF);
    GlDeviceCounters before = glDeviceCounters();
    setAll(TRUE);
    drawQuad(0, 0, 10, 10, 0.5f, 0xFFFFFFFF);
    GlDeviceCounters after = glDeviceCounters();
    EXPECT_EQ(after.stateChanges, before.stateChanges);
    EXPECT_EQ(after.draws, before.draws + 1);
    EXPECT_EQ(after.primitives, before.primitives + 2);

    // Changed and changed back before the next draw: still nothing.
    setAll(FALSE);
    setAll(TRUE);
    drawQuad(0, 0, 10, 10, 0.5f, 0xFFFFFFFF);
    EXPECT_EQ(glDeviceCounters().stateChanges, after.stateChanges);

    // A real change costs exactly the blend switch.
    setAll(FALSE);
    drawQuad(0, 0, 10, 10, 0.5f, 0xFFFFFFFF);
    EXPECT_EQ(glDeviceCounters().stateChanges, after.stateChanges + 1);
    present();
    EXPECT_EQ(glDeviceLastFrameCounters().draws, 4u);
    EXPECT_EQ(glDeviceCounters().draws, 0u);
}

// ---------------------------------------------------------------- queued work

// Colour of cell (x, y) of the grids below: unique per cell.
DWORD cellColour(int x, int y) { return 0xFF000000u | (static_cast<DWORD>(x * 3) << 16) | (y * 4) << 8 | ((x + y) & 1) * 255; }

// A list larger than the device's queue bound goes to GL in pieces; every
// piece must start where the last ended, for indexed and user-pointer
// draws, with a start index and a base vertex, triangles and lines.
TEST_P(GlDeviceTest, LargeListsLandWhereTheyBelongWhenDrawnInPieces)
{
    constexpr int COLUMNS = 80, ROWS = 60; // 8x8-pixel cells: 9600 triangles
    constexpr UINT BASE = 4;                // the grid's vertices start after 4 unused ones
    const UINT vertexCount = BASE + COLUMNS * ROWS * 4;
    IDirect3DVertexBuffer8* vertices = nullptr;
    IDirect3DIndexBuffer8* indices = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(vertexCount * sizeof(VertexPC), 0, FVF_PC, D3DPOOL_MANAGED, &vertices), S_OK);
    ASSERT_EQ(device->CreateIndexBuffer((3 + COLUMNS * ROWS * 6) * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices),
              S_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(vertices->Lock(0, 0, &data, 0), S_OK);
    VertexPC* v = reinterpret_cast<VertexPC*>(data) + BASE;
    for (int y = 0; y < ROWS; y++)
        for (int x = 0; x < COLUMNS; x++) {
            const float left = ndcX(x * 8.0f), right = ndcX(x * 8.0f + 8), top = ndcY(y * 8.0f),
                        bottom = ndcY(y * 8.0f + 8);
            const DWORD c = cellColour(x, y);
            *v++ = {left, top, 0.5f, c};
            *v++ = {right, top, 0.5f, c};
            *v++ = {left, bottom, 0.5f, c};
            *v++ = {right, bottom, 0.5f, c};
        }
    ASSERT_EQ(vertices->Unlock(), S_OK);
    ASSERT_EQ(indices->Lock(0, 0, &data, 0), S_OK);
    std::uint16_t* index = reinterpret_cast<std::uint16_t*>(data);
    *index++ = 0; // one triangle's worth skipped by the start index
    *index++ = 0;
    *index++ = 0;
    for (int cell = 0; cell < COLUMNS * ROWS; cell++) {
        const std::uint16_t first = static_cast<std::uint16_t>(cell * 4);
        const std::uint16_t quad[6] = {first, static_cast<std::uint16_t>(first + 1), static_cast<std::uint16_t>(first + 2),
                                       static_cast<std::uint16_t>(first + 1), static_cast<std::uint16_t>(first + 3),
                                       static_cast<std::uint16_t>(first + 2)};
        std::memcpy(index, quad, sizeof(quad));
        index += 6;
    }
    ASSERT_EQ(indices->Unlock(), S_OK);

    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetVertexShader(FVF_PC);
    device->SetStreamSource(0, vertices, sizeof(VertexPC));
    device->SetIndices(indices, BASE);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, vertexCount - BASE, 3, COLUMNS * ROWS * 2), S_OK);
    EXPECT_GE(glDeviceCounters().waits, 2u);
    Frame f = present();
    keepPng(f, "large-indexed-list");
    int wrong = 0;
    for (int y = 0; y < ROWS; y++)
        for (int x = 0; x < COLUMNS; x++) {
            const DWORD c = cellColour(x, y);
            const Rgb at = f.at(x * 8 + 4, y * 8 + 4);
            wrong += near(at, (c >> 16) & 255, (c >> 8) & 255, c & 255, 0) ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0);
    vertices->Release();
    indices->Release();

    // 3 x 640 vertical user-pointer lines, each a third of a column.
    std::vector<VertexPC> lines;
    for (int band = 0; band < 3; band++)
        for (int x = 0; x < 640; x++) {
            const DWORD c = cellColour(x % 80, band * 20 + x / 80);
            lines.push_back({ndcX(x + 0.5f), ndcY(band * 160.0f), 0.5f, c});
            lines.push_back({ndcX(x + 0.5f), ndcY(band * 160.0f + 160), 0.5f, c});
        }
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINELIST, static_cast<UINT>(lines.size() / 2), lines.data(), sizeof(VertexPC)),
              S_OK);
    EXPECT_GE(glDeviceCounters().waits, 1u);
    f = present();
    wrong = 0;
    for (int band = 0; band < 3; band++)
        for (int x = 0; x < 640; x++) {
            const DWORD c = cellColour(x % 80, band * 20 + x / 80);
            wrong += near(f.at(x, band * 160 + 80), (c >> 16) & 255, (c >> 8) & 255, c & 255, 0) ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0);
}

// The device waits for the rasteriser when a frame queues many changes of
// pixel state; draws that only move (a new world matrix each) queue little
// and must not make it wait.
TEST_P(GlDeviceTest, ManyPixelStateChangesMakeTheDeviceWaitButMovesDoNot)
{
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    for (int i = 0; i < 200; i++) {
        D3DMATRIX world = identity();
        world.m[3][0] = static_cast<float>(i) / 1000.0f;
        device->SetTransform(D3DTS_WORLD, &world);
        drawQuad(10, 10, 20, 20, 0.5f, 0xFF101010);
    }
    EXPECT_EQ(glDeviceCounters().waits, 0u);
    present();

    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    const D3DMATRIX world = identity();
    device->SetTransform(D3DTS_WORLD, &world);
    for (int i = 0; i < 200; i++) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, i % 2 == 0 ? TRUE : FALSE);
        const float x = static_cast<float>(i % 40 * 16), y = static_cast<float>(100 + i / 40 * 16);
        drawQuad(x, y, x + 8, y + 8, 0.5f, 0xFF102030);
    }
    const std::uint32_t waits = glDeviceCounters().waits;
    EXPECT_GE(waits, 5u);
    EXPECT_LE(waits, 20u);
    // Every draw, before and after each wait, is in the picture.
    const Frame& f = present();
    int missing = 0;
    for (int i = 0; i < 200; i++)
        missing += near(f.at(i % 40 * 16 + 4, 100 + i / 40 * 16 + 4), 0x10, 0x20, 0x30, 0) ? 0 : 1;
    EXPECT_EQ(missing, 0);
}

// Quads over the whole screen are few triangles but much filling: a frame
// of them goes over in several batches, adding up as drawn in one; quads a
// thousandth of the screen each do not end a batch.
TEST_P(GlDeviceTest, LargeQuadsEndBatchesAndAddUpAcrossThem)
{
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    for (int i = 0; i < 300; i++)
        drawQuad(static_cast<float>(i % 30 * 20), static_cast<float>(i / 30 * 20), static_cast<float>(i % 30 * 20 + 8),
                 static_cast<float>(i / 30 * 20 + 8), 0.5f, 0xFF010101);
    EXPECT_EQ(glDeviceCounters().waits, 0u);
    for (int i = 0; i < 12; i++)
        drawQuad(0, 0, 640, 480, 0.5f, 0xFF101010);
    EXPECT_GE(glDeviceCounters().waits, 3u);
    const Frame& f = present();
    int wrong = 0;
    for (int y = 4; y < 480; y += 40)
        for (int x = 4; x < 640; x += 40) {
            const bool small = x % 20 < 8 && y % 20 < 8 && x < 600 && y < 200;
            const int expected = 12 * 16 + (small ? 1 : 0);
            wrong += near(f.at(x, y), expected, expected, expected, 0) ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0);
}

// A target filled in many batches (each handed over while the next is
// queued, waiting only for the one before) is complete when the same frame
// samples it, and a device let go with a batch still outstanding goes
// without a GL error or a hang.
TEST_P(GlDeviceTest, ATargetFilledInManyBatchesIsCompleteWhenSampled)
{
    constexpr int CELLS = 16; // 16 x 16 cells of 16 x 16 target pixels
    IDirect3DTexture8* target = nullptr;
    ASSERT_EQ(device->CreateTexture(256, 256, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target),
              S_OK);
    IDirect3DSurface8* surface = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &surface), S_OK);
    IDirect3DSurface8* backBuffer = nullptr;
    IDirect3DSurface8* defaultDepth = nullptr;
    ASSERT_EQ(device->GetRenderTarget(&backBuffer), S_OK);
    ASSERT_EQ(device->GetDepthStencilSurface(&defaultDepth), S_OK);

    ASSERT_EQ(device->SetRenderTarget(surface, nullptr), S_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->SetVertexShader(FVF_PC);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    // Blending switched at every cell: each switch is a change of pixel
    // state, so the 256 cells go over in many batches.
    for (int cell = 0; cell < CELLS * CELLS; cell++) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, cell % 2 == 0 ? TRUE : FALSE);
        const int x = cell % CELLS, y = cell / CELLS;
        const float left = x / 8.0f - 1.0f, right = (x + 1) / 8.0f - 1.0f, top = 1.0f - y / 8.0f,
                    bottom = 1.0f - (y + 1) / 8.0f;
        const DWORD c = cellColour(x, y);
        const VertexPC quad[6] = {{left, top, 0.5f, c},  {right, top, 0.5f, c},    {left, bottom, 0.5f, c},
                                  {right, top, 0.5f, c}, {right, bottom, 0.5f, c}, {left, bottom, 0.5f, c}};
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(VertexPC)), S_OK);
    }
    EXPECT_GE(glDeviceCounters().waits, 4u);

    ASSERT_EQ(device->SetRenderTarget(backBuffer, defaultDepth), S_OK);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    nearestFilter(0);
    device->SetTexture(0, target);
    drawQuad(0, 0, 512, 512, 0.5f, 0xFFFFFFFF); // 2 x 2 screen pixels a target pixel
    const Frame& f = present();
    int wrong = 0;
    for (int y = 0; y < CELLS; y++)
        for (int x = 0; x < CELLS; x++) {
            if (y * 32 + 16 >= 480)
                continue; // below the screen
            const DWORD c = cellColour(x, y);
            wrong += near(f.at(x * 32 + 16, y * 32 + 16), (c >> 16) & 255, (c >> 8) & 255, c & 255, 0) ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0);

    // Batches outstanding when the frame is left unpresented and the
    // resources go.
    for (int i = 0; i < 64; i++) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, i % 2 == 0 ? TRUE : FALSE);
        drawQuad(0, 0, 8, 8, 0.5f, 0xFF102030);
    }
    EXPECT_GE(glDeviceCounters().waits, 1u);
    device->SetTexture(0, nullptr);
    surface->Release();
    target->Release();
    backBuffer->Release();
    defaultDepth->Release();
}

} // namespace
