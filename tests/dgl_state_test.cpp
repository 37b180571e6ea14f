// Render state, lights, colours and texture stages through the recording
// device: defaults after a reset, store-then-call setters, the capability
// table, index checks and the stage operations.
#include "tests/dgl_fixture.h"

#include <cmath>
#include <cstring>
#include <functional>

namespace {

bool isIdentity(const Matrix4& m)
{
    for (int i = 0; i < 16; ++i)
        if (m.m[i] != ((i % 5 == 0) ? 1.0f : 0.0f))
            return false;
    return true;
}

} // namespace

TEST_F(DglTest, ResetStateGivesTheDefaults)
{
    init();
    dglEnable(DGL_BLEND);
    dglSetCullMode(D3DCULL_NONE);
    dglEnableLight(3);
    dglSetTransform(D3DTS_WORLD, dglMatrixTranslate(1, 2, 3));
    dglSetTextureOperation(2, D3DTOP_MODULATE);
    dglEnableEnvMapping(1);
    dglResetState();

    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.cullMode, D3DCULL_CCW);
    EXPECT_EQ(state.shadeMode, D3DSHADE_GOURAUD);
    const bool capabilities[9] = {true, true, false, false, false, false, false, false, true};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(state.capabilities[i], capabilities[i]) << i;
    EXPECT_EQ(state.blendOperation, D3DBLENDOP_ADD);
    EXPECT_EQ(state.sourceBlend, D3DBLEND_ONE);
    EXPECT_EQ(state.destinationBlend, D3DBLEND_ONE);
    EXPECT_EQ(state.fogColor, 0u);
    EXPECT_EQ(state.fogStart, 0.0f);
    EXPECT_EQ(state.fogEnd, 10.0f);
    EXPECT_EQ(state.alphaReference, 0);
    EXPECT_EQ(state.alphaFunction, D3DCMP_ALWAYS);
    EXPECT_EQ(state.material.Diffuse.a, 1.0f);
    EXPECT_EQ(state.material.Ambient.r, 1.0f);
    EXPECT_EQ(state.material.Specular.r, 0.0f);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(state.lights[i].Type, D3DLIGHT_DIRECTIONAL);
        EXPECT_EQ(state.lights[i].Direction.z, 1.0f);
        EXPECT_FLOAT_EQ(state.lights[i].Range, 1.8446743e19f);
        EXPECT_FLOAT_EQ(state.lights[i].Phi, 3.1415927f);
        EXPECT_FALSE(state.lightEnabled[i]);
        EXPECT_EQ(state.textures[i], nullptr);
        EXPECT_EQ(state.textureOperations[i], i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE);
        EXPECT_EQ(state.textureFilters[i], D3DTEXF_LINEAR);
        EXPECT_FALSE(state.envMapping[i]);
        EXPECT_EQ(recordingTextureStageState(static_cast<DWORD>(i), D3DTSS_TEXCOORDINDEX), 0u);
    }
    EXPECT_TRUE(isIdentity(state.world));
    EXPECT_TRUE(isIdentity(state.view));
    EXPECT_TRUE(isIdentity(state.projection));
    EXPECT_EQ(state.vertexFormat, DGL_VERTEX_PC);
    EXPECT_EQ(state.indexBuffer, nullptr);
    EXPECT_EQ(state.vertexBuffer, nullptr);
    EXPECT_EQ(state.renderTarget, nullptr);
    EXPECT_EQ(state.renderDepth, nullptr);
    // At the device too.
    EXPECT_EQ(recordingRenderState(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_LESSEQUAL));
    EXPECT_EQ(recordingRenderState(D3DRS_ALPHABLENDENABLE), 0u);
    EXPECT_EQ(recordingRenderState(D3DRS_LIGHTING), 0u);
    EXPECT_EQ(recordingRenderState(D3DRS_DIFFUSEMATERIALSOURCE), static_cast<DWORD>(D3DMCS_COLOR1));
    EXPECT_EQ(recordingColorTarget(), dglBackBufferSurface());
    EXPECT_EQ(recordingDepthTarget(), dglDefaultDepthSurface());
}

TEST_F(DglTest, ResetSendsItsCallsInOrder)
{
    init();
    dglResetState();
    std::vector<std::string> lines = log();
    ASSERT_GE(lines.size(), 20u);
    const std::vector<std::string> expectedStart = {
        "Clear(0, NULL, 2, 0x00000000, 1, 0)",
        "SetRenderState(22, 3)",
        "SetRenderState(9, 2)",
        "SetRenderState(14, 1)",
        "SetRenderState(23, 4)",
        "SetRenderState(27, 0)",
        "SetRenderState(28, 0)",
        "SetRenderState(15, 0)",
        "SetRenderState(137, 0)",
        "SetRenderState(29, 0)",
        "SetRenderState(143, 0)",
        "SetRenderState(145, 1)",
        "SetRenderState(171, 1)",
        "SetRenderState(19, 2)",
        "SetRenderState(20, 2)",
        "SetRenderState(34, 0)",
        "SetRenderState(36, 0)",
        "SetRenderState(37, 1092616192)",
        "SetRenderState(24, 0)",
        "SetRenderState(25, 8)",
        "SetMaterial({(1 1 1 1), (1 1 1 1), (0 0 0 0), (0 0 0 0), 0})",
        "SetRenderState(139, 0)",
    };
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expectedStart.size()), expectedStart);
    EXPECT_EQ(recordingLogLines("SetLight(").size(), 8u);
    EXPECT_EQ(recordingLogLines("LightEnable(").size(), 8u);
    // Nothing was bound, so no SetTexture reaches the device.
    EXPECT_EQ(recordingCallCount("SetTexture"), 0);
    const std::vector<std::string> expectedEnd = {"SetVertexShader(0x042)", "SetIndices(NULL, 0)",
                                                  "SetStreamSource(0, NULL, 0)",
                                                  "SetRenderTarget(backbuffer, defaultdepth)"};
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()), expectedEnd);
}

TEST_F(DglTest, CapabilitiesMapToTheirRenderStates)
{
    init();
    const char* const onLines[9] = {"SetRenderState(14, 1)", "SetRenderState(23, 4)", "SetRenderState(27, 1)",
                                     "SetRenderState(28, 1)", "SetRenderState(15, 1)", "SetRenderState(137, 1)",
                                     "SetRenderState(29, 1)", "SetRenderState(143, 1)", "SetRenderState(145, 1)"};
    const char* const offLines[9] = {"SetRenderState(14, 0)", "SetRenderState(23, 8)", "SetRenderState(27, 0)",
                                     "SetRenderState(28, 0)", "SetRenderState(15, 0)", "SetRenderState(137, 0)",
                                     "SetRenderState(29, 0)", "SetRenderState(143, 0)", "SetRenderState(145, 0)"};
    for (int capability = 0; capability < 9; ++capability) {
        recordingClearLog();
        dglEnable(capability);
        DglState state;
        dglGetState(&state);
        EXPECT_TRUE(state.capabilities[capability]);
        dglDisable(capability);
        dglGetState(&state);
        EXPECT_FALSE(state.capabilities[capability]);
        EXPECT_EQ(log(), (std::vector<std::string>{onLines[capability], offLines[capability]}));
    }
    // Out of range: nothing changes, nothing is sent.
    recordingClearLog();
    DglState before;
    dglGetState(&before);
    dglEnable(9);
    dglDisable(9);
    dglEnable(-1);
    DglState after;
    dglGetState(&after);
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(std::memcmp(before.capabilities, after.capabilities, sizeof before.capabilities), 0);
}

TEST_F(DglTest, DepthTestOffLeavesDepthWritesOn)
{
    init();
    dglDisable(DGL_DEPTH_TEST);
    EXPECT_EQ(recordingRenderState(D3DRS_ZWRITEENABLE), 1u);
    EXPECT_EQ(recordingRenderState(D3DRS_ZENABLE), 1u);
    EXPECT_EQ(recordingRenderState(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_ALWAYS));
}

TEST_F(DglTest, SettersStoreAndSendTheirValues)
{
    init();
    dglSetCullMode(D3DCULL_NONE);
    dglSetShadeMode(D3DSHADE_FLAT);
    dglSetBlendOperation(D3DBLENDOP_REVSUBTRACT);
    dglSetSourceBlend(D3DBLEND_SRCALPHA);
    dglSetDestinationBlend(D3DBLEND_INVSRCALPHA);
    dglSetFogColor(0xFF336699);
    dglSetFogRange(2.5f, 40.0f);
    dglSetAlphaReference(0x1FF);
    dglSetAlphaFunction(D3DCMP_GREATER);
    dglSetAmbient(0xFF202020);
    EXPECT_EQ(log(), (std::vector<std::string>{
                         "SetRenderState(22, 1)", "SetRenderState(9, 1)", "SetRenderState(171, 3)",
                         "SetRenderState(19, 5)", "SetRenderState(20, 6)", "SetRenderState(34, 4281558681)",
                         "SetRenderState(36, 1075838976)", "SetRenderState(37, 1109393408)",
                         "SetRenderState(24, 255)", "SetRenderState(25, 5)", "SetRenderState(139, 4280295456)"}));
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.cullMode, D3DCULL_NONE);
    EXPECT_EQ(state.shadeMode, D3DSHADE_FLAT);
    EXPECT_EQ(state.blendOperation, D3DBLENDOP_REVSUBTRACT);
    EXPECT_EQ(state.sourceBlend, D3DBLEND_SRCALPHA);
    EXPECT_EQ(state.destinationBlend, D3DBLEND_INVSRCALPHA);
    EXPECT_EQ(state.fogColor, 0xFF336699u);
    EXPECT_EQ(state.fogStart, 2.5f);
    EXPECT_EQ(state.fogEnd, 40.0f);
    EXPECT_EQ(state.alphaReference, 0xFF);
    EXPECT_EQ(state.alphaFunction, D3DCMP_GREATER);
    EXPECT_EQ(state.ambient, 0xFF202020u);

    Material material;
    material.Diffuse = {0.5f, 0.25f, 0.125f, 1.0f};
    material.Power = 8.0f;
    dglSetMaterial(material);
    dglGetState(&state);
    EXPECT_EQ(state.material.Diffuse.g, 0.25f);
    EXPECT_EQ(recordingMaterial().Diffuse.b, 0.125f);
    EXPECT_EQ(recordingMaterial().Power, 8.0f);
}

TEST_F(DglTest, LightsCheckTheirIndexAndReachTheDevice)
{
    init();
    Light light;
    light.Type = D3DLIGHT_POINT;
    light.Position = Vector3(1, 2, 3);
    light.Diffuse = {0.5f, 0.5f, 0.5f, 1.0f};
    dglSetLight(7, light);
    dglEnableLight(7);
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.lights[7].Type, D3DLIGHT_POINT);
    EXPECT_EQ(state.lights[7].Position.y, 2.0f);
    EXPECT_TRUE(state.lightEnabled[7]);
    EXPECT_EQ(recordingLight(7).Type, D3DLIGHT_POINT);
    EXPECT_EQ(recordingLight(7).Position.z, 3.0f);
    EXPECT_TRUE(recordingLightEnabled(7));
    dglDisableLight(7);
    EXPECT_FALSE(recordingLightEnabled(7));

    EXPECT_FATAL(dglSetLight(8, light), "Invalid light stage number supplied with dglSetLight().");
    recordingInstall();
    init();
    EXPECT_FATAL(dglSetLight(-1, light), "Invalid light stage number supplied with dglSetLight().");
    recordingInstall();
    init();
    EXPECT_FATAL(dglEnableLight(8), "Invalid light stage number supplied with dglEnableLight().");
    recordingInstall();
    init();
    EXPECT_FATAL(dglDisableLight(-1), "Invalid light stage number supplied with dglDisableLight().");
}

TEST(DglColor, MakeColorMasksItsArguments)
{
    EXPECT_EQ(dglMakeColor(255, 128), 0xFF808080u);
    EXPECT_EQ(dglMakeColor(0, 300), 0x002C2C2Cu);
    EXPECT_EQ(dglMakeColor(0x1FF, -1), 0xFFFFFFFFu);

    D3DCOLORVALUE value = dglMakeColorValue(0xFF804020);
    EXPECT_FLOAT_EQ(value.r, 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(value.g, 64.0f / 255.0f);
    EXPECT_FLOAT_EQ(value.b, 32.0f / 255.0f);
    EXPECT_FLOAT_EQ(value.a, 1.0f);
}

TEST(DglLight, ResetRestoresADirectionalWhiteLight)
{
    Light light;
    light.Type = D3DLIGHT_SPOT;
    light.Direction = Vector3(1, 0, 0);
    light.Attenuation1 = 3.0f;
    light.reset();
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(light.Diffuse.r, 1.0f);
    EXPECT_EQ(light.Specular.g, 0.0f);
    EXPECT_EQ(light.Direction.x, 0.0f);
    EXPECT_EQ(light.Direction.z, 1.0f);
    EXPECT_EQ(light.Attenuation1, 0.0f);
    EXPECT_EQ(light.Range, std::sqrt(3.402823466e38f));
}

TEST_F(DglTest, UnbindOfAnEmptyStageSendsNothing)
{
    init();
    IDirect3DTexture8* texture = dglCreateTexture(8, 8, false, D3DFMT_A8R8G8B8);
    recordingClearLog();
    dglUnbindTexture(2);
    EXPECT_TRUE(log().empty());

    dglBindTexture(2, texture);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetTexture(2, texture1)"}));
    // Binding what is already bound unbinds it first.
    recordingClearLog();
    dglBindTexture(2, texture);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetTexture(2, NULL)", "SetTexture(2, texture1)"}));
    recordingClearLog();
    dglUnbindTexture(2);
    dglUnbindTexture(2);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetTexture(2, NULL)"}));
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.textures[2], nullptr);
}

TEST_F(DglTest, StageOperationAndFilter)
{
    init();
    dglSetTextureOperation(1, D3DTOP_MODULATE);
    dglSetTextureFilter(1, D3DTEXF_NONE);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetTextureStageState(1, 1, 4)", "SetTextureStageState(1, 16, 0)",
                                               "SetTextureStageState(1, 17, 0)"}));
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.textureOperations[1], D3DTOP_MODULATE);
    EXPECT_EQ(state.textureFilters[1], D3DTEXF_NONE);
    EXPECT_EQ(recordingCallCount("SetTextureStageState"), 3); // the mip filter is never touched
}

TEST_F(DglTest, EnvMappingSetsCoordinatesAndLeavesTheMatrix)
{
    init();
    dglEnableEnvMapping(0);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetTransform(16, [0.5 0 0 0 0 -0.5 0 0 0 0 1 0 0.5 0.5 0 1])",
                                               "SetTextureStageState(0, 24, 2)",
                                               "SetTextureStageState(0, 11, 65536)"}));
    recordingClearLog();
    dglDisableEnvMapping(0);
    EXPECT_EQ(log(), (std::vector<std::string>{"SetTextureStageState(0, 24, 0)", "SetTextureStageState(0, 11, 0)"}));
    DglState state;
    dglGetState(&state);
    EXPECT_FALSE(state.envMapping[0]);
    EXPECT_TRUE(isIdentity(state.world));
    D3DMATRIX texture = recordingTransform(D3DTS_TEXTURE0);
    EXPECT_EQ(texture.m[1][1], -0.5f);
    EXPECT_EQ(texture.m[3][0], 0.5f);
}

TEST_F(DglTest, StageNumbersAreChecked)
{
    struct Case {
        std::function<void()> call;
        const char* message;
    };
    const Case cases[] = {
        {[] { dglBindTexture(8, nullptr); }, "Invalid texture stage number supplied with dglBindTexture()."},
        {[] { dglUnbindTexture(-1); }, "Invalid texture stage number supplied with dglUnbindTexture()."},
        {[] { dglSetTextureOperation(8, 4); }, "Invalid texture stage number supplied with dglSetTextureOperation()."},
        {[] { dglSetTextureFilter(-1, 2); }, "Invalid texture stage number supplied with dglSetTextureFilter()."},
        {[] { dglEnableEnvMapping(8); }, "Invalid texture stage number supplied with dglEnableEnvMapping()."},
        {[] { dglDisableEnvMapping(8); }, "Invalid texture stage number supplied with dglDisableEnvMapping()."},
    };
    for (const Case& c : cases) {
        recordingInstall();
        init();
        EXPECT_FATAL(c.call(), c.message);
        dglForgetAll();
    }
    // Stage 7 is accepted.
    recordingInstall();
    init();
    dglBindTexture(7, nullptr);
    dglSetTextureOperation(7, D3DTOP_DISABLE);
    dglEnableEnvMapping(7);
}
