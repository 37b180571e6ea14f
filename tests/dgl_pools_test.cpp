// Pools, locks, render targets, vertex formats and drawing through the
// recording device.
#include "tests/dgl_fixture.h"

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

std::string hexPointer(const void* pointer)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
    return text;
}

} // namespace

TEST_F(DglTest, CreationParametersFollowTheKindOfObject)
{
    init();
    dglCreateTexture(256, 128, false, D3DFMT_R5G6B5);
    dglCreateTexture(512, 512, true, D3DFMT_A8R8G8B8);
    dglCreateVertexBuffer(DGL_VERTEX_PNCT, 900);
    dglCreateIndexBuffer(900);
    dglCreateDepthBuffer(512, 512, D3DFMT_A8R8G8B8);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "CreateTexture(256, 128, 1, 0, 23, 1) -> texture1",
                         "CreateTexture(512, 512, 1, 1, 21, 0) -> texture2",
                         "texture2.GetSurfaceLevel(0)",
                         "CreateVertexBuffer(32400, 0x200, 0x152, 0) -> vertexbuffer1",
                         "CreateIndexBuffer(5400, 0x200, 101, 0) -> indexbuffer1",
                         "backbuffer.GetDesc()",
                         "CheckDepthStencilMatch(0, 1, 22, 21, 80)",
                         "CreateDepthStencilSurface(512, 512, 80, 0) -> depth1",
                     }));
    EXPECT_EQ(dglTextureCount(), 2);
    EXPECT_EQ(dglVertexBufferCount(), 1);
    EXPECT_EQ(dglIndexBufferCount(), 1);
    EXPECT_EQ(dglDepthBufferCount(), 1);
}

TEST_F(DglTest, EveryPoolTakesOneHundredObjects)
{
    struct Case {
        std::function<void()> create;
        std::function<int()> count;
        const char* message;
    };
    const Case cases[] = {
        {[] { dglCreateTexture(4, 4, false, D3DFMT_A8R8G8B8); }, dglTextureCount,
         "Can not create more than 100 textures."},
        {[] { dglCreateVertexBuffer(DGL_VERTEX_PC, 3); }, dglVertexBufferCount,
         "Can not create more than 100 vertex buffers."},
        {[] { dglCreateIndexBuffer(1); }, dglIndexBufferCount, "Can not create more than 100 index buffers."},
        {[] { dglCreateDepthBuffer(4, 4, D3DFMT_A8R8G8B8); }, dglDepthBufferCount,
         "Can not create more than 100 depth buffers."},
    };
    for (const Case& c : cases) {
        recordingInstall();
        init();
        for (int i = 0; i < 100; ++i)
            c.create();
        EXPECT_EQ(c.count(), 100);
        EXPECT_FATAL(c.create(), c.message);
        EXPECT_EQ(recordingLiveObjects(), 0) << c.message;
        dglForgetAll();
    }
}

TEST_F(DglTest, RenderTargetsAndPlainTexturesShareOnePool)
{
    init();
    for (int i = 0; i < 50; ++i)
        dglCreateTexture(4, 4, true, D3DFMT_A8R8G8B8);
    for (int i = 0; i < 50; ++i)
        dglCreateTexture(4, 4, false, D3DFMT_R5G6B5);
    EXPECT_FATAL(dglCreateTexture(4, 4, true, D3DFMT_A8R8G8B8), "Can not create more than 100 textures.");
}

TEST_F(DglTest, CreationFailuresNameTheObject)
{
    struct Case {
        const char* method;
        std::function<void()> create;
        const char* message;
    };
    const Case cases[] = {
        {"CreateTexture", [] { dglCreateTexture(300, 200, false, D3DFMT_A8R8G8B8); },
         "Can not create a 300*200 32-bit ARGB texture."},
        {"CreateTexture", [] { dglCreateTexture(64, 32, true, D3DFMT_R5G6B5); },
         "Can not create a 64*32 16-bit RGB texture."},
        {"CreateTexture", [] { dglCreateTexture(64, 32, false, D3DFMT_D32); },
         "Can not create a 64*32 texture of format 71."},
        {"GetSurfaceLevel", [] { dglCreateTexture(64, 64, true, D3DFMT_A8R8G8B8); },
         "Can not retrieve the surface of a texture."},
        {"CreateVertexBuffer", [] { dglCreateVertexBuffer(DGL_VERTEX_PNC, 77); },
         "Can not create vertex buffer. Type 1, 77 vertices."},
        {"CreateIndexBuffer", [] { dglCreateIndexBuffer(12); }, "Can not create index buffer for 12 faces."},
        {"GetDesc", [] { dglCreateDepthBuffer(64, 64, D3DFMT_A8R8G8B8); },
         "Can not retrieve a description of the back buffer surface."},
        {"CheckDepthStencilMatch", [] { dglCreateDepthBuffer(64, 64, D3DFMT_A8R8G8B8); },
         "A 16-bit depth buffer can not operate with the pixel format of the render target in the current display "
         "mode."},
        {"CreateDepthStencilSurface", [] { dglCreateDepthBuffer(64, 48, D3DFMT_A8R8G8B8); },
         "Can not create a 64*48 depth buffer."},
    };
    for (const Case& c : cases) {
        recordingInstall();
        init();
        recordingFailCall(c.method, D3DERR_OUTOFVIDEOMEMORY);
        EXPECT_FATAL(c.create(), c.message);
        // A texture whose surface could not be had is still released on the way out.
        EXPECT_EQ(recordingLiveObjects(), 0) << c.message;
        dglForgetAll();
    }
}

TEST_F(DglTest, LocksHandOutWritableMemory)
{
    init();
    IDirect3DTexture8* texture = dglCreateTexture(16, 8, false, D3DFMT_A8R8G8B8);
    DglTextureLock lock = dglLockTexture(texture);
    ASSERT_NE(lock.texels, nullptr);
    EXPECT_EQ(lock.pitch, 64);
    lock.texels[16 * 7 + 15] = 0xFF00FF00;
    dglUnlockTexture(texture);
    RecordingTextureInfo info{};
    ASSERT_TRUE(recordingTextureInfo(texture, &info));
    DWORD last;
    std::memcpy(&last, info.texels + 7 * info.pitch + 15 * 4, 4);
    EXPECT_EQ(last, 0xFF00FF00u);

    IDirect3DVertexBuffer8* vertices = dglCreateVertexBuffer(DGL_VERTEX_PCT, 4);
    std::memset(dglLockVertexBuffer(vertices), 0xAB, 96);
    dglUnlockVertexBuffer(vertices);
    IDirect3DIndexBuffer8* indices = dglCreateIndexBuffer(2);
    WORD* index = dglLockIndexBuffer(indices);
    index[5] = 3;
    dglUnlockIndexBuffer(indices);
    UINT length = 0;
    EXPECT_EQ(recordingBufferMemory(vertices, &length)[95], 0xAB);
    EXPECT_EQ(length, 96u);
    EXPECT_EQ(reinterpret_cast<WORD*>(recordingBufferMemory(indices, &length))[5], 3);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(recordingLogLines("texture1.LockRect").front(), "texture1.LockRect(0, NULL, 0)");
    EXPECT_EQ(recordingLogLines("vertexbuffer1.Lock").front(), "vertexbuffer1.Lock(0, 0, 0)");
}

TEST_F(DglTest, LockFailuresShowTheHandle)
{
    struct Case {
        const char* method;
        std::function<std::string()> act; // returns the handle's hex
        const char* format;
    };
    const Case cases[] = {
        {"LockRect",
         [] {
             IDirect3DTexture8* t = dglCreateTexture(4, 4, false, D3DFMT_A8R8G8B8);
             std::string hex = hexPointer(t);
             EXPECT_FATAL(dglLockTexture(t), "Can not lock texture (0x" + hex + ").");
             return hex;
         },
         ""},
        {"UnlockRect",
         [] {
             IDirect3DTexture8* t = dglCreateTexture(4, 4, false, D3DFMT_A8R8G8B8);
             dglLockTexture(t);
             std::string hex = hexPointer(t);
             EXPECT_FATAL(dglUnlockTexture(t), "Can not unlock texture (0x" + hex + ").");
             return hex;
         },
         ""},
        {"Lock",
         [] {
             IDirect3DVertexBuffer8* b = dglCreateVertexBuffer(0, 3);
             std::string hex = hexPointer(b);
             EXPECT_FATAL(dglLockVertexBuffer(b), "Can not lock vertex buffer (0x" + hex + ").");
             return hex;
         },
         ""},
        {"Unlock",
         [] {
             IDirect3DVertexBuffer8* b = dglCreateVertexBuffer(0, 3);
             dglLockVertexBuffer(b);
             std::string hex = hexPointer(b);
             EXPECT_FATAL(dglUnlockVertexBuffer(b), "Can not unlock vertex buffer (0x" + hex + ").");
             return hex;
         },
         ""},
        {"Lock",
         [] {
             IDirect3DIndexBuffer8* b = dglCreateIndexBuffer(3);
             std::string hex = hexPointer(b);
             EXPECT_FATAL(dglLockIndexBuffer(b), "Can not lock index buffer (0x" + hex + ").");
             return hex;
         },
         ""},
        {"Unlock",
         [] {
             IDirect3DIndexBuffer8* b = dglCreateIndexBuffer(3);
             dglLockIndexBuffer(b);
             std::string hex = hexPointer(b);
             EXPECT_FATAL(dglUnlockIndexBuffer(b), "Can not unlock index buffer (0x" + hex + ").");
             return hex;
         },
         ""},
    };
    for (const Case& c : cases) {
        recordingInstall();
        init();
        recordingFailCall(c.method, E_FAIL, 1);
        EXPECT_FALSE(c.act().empty());
        dglForgetAll();
    }
}

TEST_F(DglTest, RenderTargetRules)
{
    init();
    int notATexture = 0;
    EXPECT_FATAL(dglSetRenderTarget(reinterpret_cast<IDirect3DTexture8*>(&notATexture), nullptr),
                 "Supplied render target is not a valid texture pointer.");

    recordingInstall();
    init();
    IDirect3DTexture8* target = dglCreateTexture(512, 512, true, D3DFMT_A8R8G8B8);
    IDirect3DSurface8* depth = dglCreateDepthBuffer(512, 512, D3DFMT_A8R8G8B8);
    recordingClearLog();
    dglSetRenderTarget(target, depth);
    dglSetRenderTarget(target, nullptr); // the screen's depth buffer
    dglSetRenderTarget(nullptr, nullptr);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetRenderTarget(texture1.surface, depth1)",
                                               "SetRenderTarget(texture1.surface, defaultdepth)",
                                               "SetRenderTarget(backbuffer, defaultdepth)"}));
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.renderTarget, nullptr);
    EXPECT_EQ(state.renderDepth, nullptr);

    dglSetRenderTarget(target, depth);
    dglGetState(&state);
    EXPECT_EQ(state.renderTarget, target);
    EXPECT_EQ(state.renderDepth, depth);

    IDirect3DTexture8* plain = dglCreateTexture(64, 64, false, D3DFMT_A8R8G8B8);
    EXPECT_FATAL(dglSetRenderTarget(plain, nullptr),
                 "Supplied texture (0x" + hexPointer(plain) + ") can not be used as render target.");
    dglForgetAll();

    recordingInstall();
    init();
    IDirect3DTexture8* other = dglCreateTexture(64, 64, true, D3DFMT_A8R8G8B8);
    EXPECT_FATAL(dglSetRenderTarget(reinterpret_cast<IDirect3DTexture8*>(&state), nullptr),
                 "Supplied render target is not a valid texture pointer.");
    dglForgetAll();

    recordingInstall();
    init();
    other = dglCreateTexture(64, 64, true, D3DFMT_A8R8G8B8);
    recordingFailCall("SetRenderTarget", E_FAIL);
    EXPECT_FATAL(dglSetRenderTarget(other, nullptr), "Can not adjust render target.");
}

TEST(DglVertexTypes, FormatsAndStrides)
{
    const DWORD formats[] = {0x042, 0x052, 0x152, 0x252, 0x142, 0x242};
    const int strides[] = {16, 28, 36, 44, 24, 32};
    for (int type = 0; type < 6; ++type) {
        EXPECT_EQ(dglVertexTypeFormat(type), formats[type]);
        EXPECT_EQ(dglVertexTypeStride(type), strides[type]);
    }
    EXPECT_EQ(dglVertexTypeStride(7), 7);
    EXPECT_EQ(dglVertexTypeFormat(7), 7u);
    EXPECT_EQ(dglVertexTypeStride(-2), -2);
}

TEST_F(DglTest, BindingsUnbindWhatWasBoundFirst)
{
    init();
    IDirect3DVertexBuffer8* first = dglCreateVertexBuffer(DGL_VERTEX_PNC, 3);
    IDirect3DVertexBuffer8* second = dglCreateVertexBuffer(DGL_VERTEX_PCT, 3);
    IDirect3DIndexBuffer8* indices = dglCreateIndexBuffer(1);
    recordingClearLog();
    dglSetVertexFormat(DGL_VERTEX_PNC);
    dglBindVertexBuffer(DGL_VERTEX_PNC, first);
    dglBindVertexBuffer(DGL_VERTEX_PCT, second);
    dglBindIndexBuffer(indices, 5);
    dglBindIndexBuffer(indices, 0);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetVertexShader(0x052)", "SetStreamSource(0, vertexbuffer1, 28)",
                                               "SetStreamSource(0, NULL, 0)", "SetStreamSource(0, vertexbuffer2, 24)",
                                               "SetIndices(indexbuffer1, 5)", "SetIndices(NULL, 0)",
                                               "SetIndices(indexbuffer1, 0)"}));
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.vertexFormat, DGL_VERTEX_PNC);
    EXPECT_EQ(state.vertexBuffer, second);
    EXPECT_EQ(state.vertexBufferType, DGL_VERTEX_PCT);
    EXPECT_EQ(state.indexBuffer, indices);
    EXPECT_EQ(state.baseVertexIndex, 0);
}

TEST_F(DglTest, DrawCallsPassTheirArgumentsInTheDeviceOrder)
{
    init();
    dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, 300, 0, 400, 6);
    EXPECT_EQ(log(), (std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 400, 6, 300)"}));

    IDirect3DVertexBuffer8* vertices = dglCreateVertexBuffer(DGL_VERTEX_PC, 3);
    IDirect3DIndexBuffer8* indices = dglCreateIndexBuffer(1);
    dglBindVertexBuffer(DGL_VERTEX_PC, vertices);
    dglBindIndexBuffer(indices, 0);
    float quad[6 * 6] = {};
    quad[35] = 0.75f;
    recordingClearLog();
    dglDrawUserPrimitives(D3DPT_TRIANGLELIST, 2, DGL_VERTEX_PCT, quad);
    EXPECT_EQ(log(), (std::vector<std::string>{"DrawPrimitiveUP(4, 2, vertices, 24)", "SetStreamSource(0, NULL, 0)",
                                               "SetIndices(NULL, 0)"}));
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.vertexBuffer, nullptr);
    EXPECT_EQ(state.indexBuffer, nullptr);
    EXPECT_EQ(recordingStreamSource(nullptr), nullptr);
    EXPECT_EQ(recordingIndices(nullptr), nullptr);
    ASSERT_EQ(recordingLastUserDraw().vertices.size(), sizeof quad);
    float last;
    std::memcpy(&last, recordingLastUserDraw().vertices.data() + sizeof quad - 4, 4);
    EXPECT_EQ(last, 0.75f);
}

TEST_F(DglTest, DrawFailuresEndTheProgram)
{
    init();
    recordingFailCall("DrawIndexedPrimitive", E_FAIL);
    EXPECT_FATAL(dglDrawIndexedPrimitives(D3DPT_TRIANGLELIST, 1, 0, 3, 0), "Can not draw indexed primitives.");
    dglForgetAll();
    recordingInstall();
    init();
    float vertices[18] = {};
    recordingFailCall("DrawPrimitiveUP", E_FAIL);
    EXPECT_FATAL(dglDrawUserPrimitives(D3DPT_TRIANGLELIST, 1, DGL_VERTEX_PCT, vertices),
                 "Can not draw primitives from a user pointer.");
}
