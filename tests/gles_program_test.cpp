// The shader device's own parts, on its ES and core contexts: the contexts
// are the ones asked for, every kind of state key generates a program that
// builds, a broken program reports its log, programs are built once per key
// and counted, flat shading colours every kind of primitive from its first
// vertex (which OpenGL ES gets only by turning the primitives, where the
// colour can differ), and stage results are clamped where they are read.
#include "platform/gles/gles_program.h"
#include "tests/gl_pixel_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace pixel_test;

class GlesProgramTest : public RendererPixelTest {};

INSTANTIATE_TEST_SUITE_P(ShaderRenderers, GlesProgramTest, ::testing::Values(Renderer::es, Renderer::core),
                         rendererTestName);

GlProfile profileOf(Renderer renderer) { return renderer == Renderer::es ? GlProfile::es : GlProfile::core; }

GlesProgramKey emptyKey()
{
    GlesProgramKey key;
    std::memset(&key, 0, sizeof key);
    return key;
}

GlesStageKey stage(int unit, int colorOp, int colorArg1 = D3DTA_TEXTURE, int colorArg2 = D3DTA_CURRENT)
{
    GlesStageKey s{};
    s.unit = static_cast<std::uint8_t>(unit);
    s.colorOp = static_cast<std::uint8_t>(colorOp);
    s.colorArg1 = static_cast<std::uint8_t>(colorArg1);
    s.colorArg2 = static_cast<std::uint8_t>(colorArg2);
    s.alphaOp = D3DTOP_SELECTARG1;
    s.alphaArg1 = D3DTA_TEXTURE;
    s.alphaArg2 = D3DTA_CURRENT;
    return s;
}

// Keys covering each part of the generator: every stage operation and
// argument modifier, stage chains, generated coordinates with and without
// the divide, 0 to 8 lights of each type with specular, every fog mode,
// every alpha test, flat shading.
std::vector<GlesProgramKey> variedKeys()
{
    std::vector<GlesProgramKey> keys;
    for (int op = D3DTOP_DISABLE; op <= D3DTOP_BLENDTEXTUREALPHA; op++) {
        GlesProgramKey key = emptyKey();
        key.stageCount = 1;
        key.stages[0] = stage(0, op, D3DTA_TEXTURE | 0x10, D3DTA_DIFFUSE | 0x20);
        key.stages[0].alphaOp = static_cast<std::uint8_t>(op);
        keys.push_back(key);
    }
    GlesProgramKey chain = emptyKey();
    chain.stageCount = 3;
    chain.stages[0] = stage(0, D3DTOP_MODULATE);
    chain.stages[1] = stage(2, D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR);
    chain.stages[1].coordinates = GLES_COORD_NORMAL;
    chain.stages[1].transform = 1;
    chain.stages[2] = stage(7, D3DTOP_MODULATE2X);
    chain.stages[2].coordinates = GLES_COORD_REFLECTION;
    chain.stages[2].transform = 2;
    keys.push_back(chain);
    for (int lights = 0; lights <= GL_DEVICE_LIGHTS; lights++) {
        GlesProgramKey key = emptyKey();
        key.lighting = 1;
        key.lightCount = static_cast<std::uint8_t>(lights);
        for (int i = 0; i < lights; i++)
            key.lightTypes[i] = static_cast<std::uint8_t>(D3DLIGHT_POINT + i % 3);
        key.specular = lights % 2;
        key.localViewer = lights % 4 == 1;
        key.normalize = 1;
        key.colorMaterial = lights % 3 == 0;
        keys.push_back(key);
    }
    for (int fog = D3DFOG_EXP; fog <= D3DFOG_LINEAR; fog++)
        for (int range = 0; range < 2; range++) {
            GlesProgramKey key = emptyKey();
            key.fog = static_cast<std::uint8_t>(fog);
            key.rangeFog = static_cast<std::uint8_t>(range);
            keys.push_back(key);
        }
    for (int function = D3DCMP_NEVER; function < D3DCMP_ALWAYS; function++) {
        GlesProgramKey key = emptyKey();
        key.alphaFunc = static_cast<std::uint8_t>(function);
        key.flat = 1;
        key.specular = 1;
        keys.push_back(key);
    }
    return keys;
}

std::string withoutHeader(const std::string& text)
{
    size_t at = 0;
    while (text.compare(at, 1, "#") == 0 || text.compare(at, 9, "precision") == 0)
        at = text.find('\n', at) + 1;
    return text.substr(at);
}

TEST_P(GlesProgramTest, ContextIsTheProfileAskedFor)
{
    std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    RecordProperty("gl_version", version);
    if (GetParam() == Renderer::es) {
        EXPECT_EQ(version.rfind("OpenGL ES 3.", 0), 0u) << version;
    } else {
        GLint mask = 0;
        glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &mask);
        EXPECT_NE(mask & GL_CONTEXT_CORE_PROFILE_BIT, 0) << version;
    }
}

TEST_P(GlesProgramTest, EveryKindOfKeyBuildsAndOnlyTheHeaderDiffersBetweenProfiles)
{
    for (const GlesProgramKey& key : variedKeys()) {
        std::string log;
        GLuint program = glesBuildProgram(key, profileOf(GetParam()), &log);
        EXPECT_NE(program, 0u) << log << "\n" << glesKeyListing(key);
        glDeleteProgram(program);
        EXPECT_EQ(withoutHeader(glesVertexShaderText(key, GlProfile::es)),
                  withoutHeader(glesVertexShaderText(key, GlProfile::core)));
        EXPECT_EQ(withoutHeader(glesFragmentShaderText(key, GlProfile::es)),
                  withoutHeader(glesFragmentShaderText(key, GlProfile::core)));
    }
    // GLSL ES samples at low precision unless told otherwise: the driver may
    // then round every texel through half floats, which costs a software
    // rasteriser about a quarter of a textured pass and moves pixels away
    // from the fixed pipeline's.
    int sampling = 0;
    for (const GlesProgramKey& key : variedKeys()) {
        const std::string es = glesFragmentShaderText(key, GlProfile::es);
        const size_t sampler = es.find("uniform sampler2D");
        if (sampler == std::string::npos)
            continue;
        sampling++;
        EXPECT_LT(es.find("precision highp sampler2D;"), sampler) << es;
    }
    EXPECT_GT(sampling, 0);
    // Whatever was bound for the builds, the device's next draw rebinds its own.
    glUseProgram(0);
}

TEST_P(GlesProgramTest, BrokenProgramReportsWhichStageAndWhy)
{
    GlesProgramKey key = emptyKey();
    std::string vertex = glesVertexShaderText(key, profileOf(GetParam()));
    std::string fragment = glesFragmentShaderText(key, profileOf(GetParam()));
    std::string broken = fragment;
    broken.replace(broken.find("fragmentColor = current;"), 24, "fragmentColor = missing;");
    std::string log;
    EXPECT_EQ(glesLinkProgram(vertex, broken, &log), 0u);
    EXPECT_EQ(log.rfind("fragment shader: ", 0), 0u) << log;
    EXPECT_GT(log.size(), std::string("fragment shader: ").size());
}

TEST_P(GlesProgramTest, ProgramsAreBuiltOncePerKeyAndCounted)
{
    std::uint32_t total = glDeviceProgramsCompiled();
    drawQuad(0, 0, 100, 100, 0.5f, 0xFFFF0000);
    present();
    std::uint32_t first = glDeviceLastFrameCounters().programsCompiled;
    EXPECT_LE(first, 1u);
    EXPECT_EQ(glDeviceProgramsCompiled(), total + first);

    // The same state again: no build, a hit per draw.
    for (int i = 0; i < 3; i++)
        drawQuad(0, 0, 100, 100, 0.5f, 0xFF00FF00);
    present();
    EXPECT_EQ(glDeviceLastFrameCounters().programsCompiled, 0u);
    EXPECT_EQ(glDeviceLastFrameCounters().programCacheHits, 3u);

    // A new key builds once; going back and forth builds nothing more.
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    drawQuad(0, 0, 100, 100, 0.5f, 0xFF0000FF);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    drawQuad(0, 0, 100, 100, 0.5f, 0xFF0000FF);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    drawQuad(0, 0, 100, 100, 0.5f, 0xFF0000FF);
    const Frame& f = present();
    EXPECT_EQ(glDeviceLastFrameCounters().programsCompiled, 1u);
    EXPECT_EQ(glDeviceLastFrameCounters().programCacheHits, 2u);
    EXPECT_TRUE(near(f.at(50, 50), 0, 0, 255));
}

// Flat shading: every primitive takes the colour of its first vertex, for
// triangle lists, strips and fans, indexed or not, and lines. Each primitive's first vertex is
// red, the others blue; the picture must be red where a primitive is.
TEST_P(GlesProgramTest, FlatShadingColoursEveryPrimitiveFromItsFirstVertex)
{
    const DWORD red = 0xFFFF0000, blue = 0xFF0000FF;
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetVertexShader(FVF_PC);
    auto at = [](float x, float y, DWORD color) { return VertexPC{ndcX(x), ndcY(y), 0.5f, color}; };

    // List: two triangles, the first vertex of each red.
    VertexPC list[6] = {at(10, 10, red),  at(90, 10, blue),  at(10, 90, blue),
                        at(90, 10, red), at(90, 90, blue), at(10, 90, blue)};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, list, sizeof(VertexPC)), S_OK);
    // Strip of two: triangle 0 is (v0, v1, v2), triangle 1 (v1, v2, v3); v0 and v1 red.
    VertexPC strip[4] = {at(110, 10, red), at(190, 10, red), at(110, 90, blue), at(190, 90, blue)};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(VertexPC)), S_OK);
    // Fan of two: triangle i takes vertex i + 1 (as GL's first-vertex rule).
    VertexPC fan[4] = {at(210, 10, blue), at(290, 10, red), at(290, 90, red), at(210, 90, blue)};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, fan, sizeof(VertexPC)), S_OK);
    // Indexed list through buffers with a base vertex.
    IDirect3DVertexBuffer8* vertices = nullptr;
    IDirect3DIndexBuffer8* indices = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof(VertexPC) * 5, 0, FVF_PC, D3DPOOL_MANAGED, &vertices), S_OK);
    ASSERT_EQ(device->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices), S_OK);
    BYTE* bytes = nullptr;
    VertexPC quad[5] = {at(0, 0, blue), at(310, 10, red), at(390, 10, blue), at(390, 90, red), at(310, 90, blue)};
    ASSERT_EQ(vertices->Lock(0, 0, &bytes, 0), S_OK);
    std::memcpy(bytes, quad, sizeof quad);
    vertices->Unlock();
    const std::uint16_t order[6] = {0, 1, 3, 2, 1, 3};
    ASSERT_EQ(indices->Lock(0, 0, &bytes, 0), S_OK);
    std::memcpy(bytes, order, sizeof order);
    indices->Unlock();
    device->SetStreamSource(0, vertices, sizeof(VertexPC));
    device->SetIndices(indices, 1);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2), S_OK);

    // Lines, listed and stripped: red from each line's first end.
    VertexPC lines[4] = {at(10, 120, red), at(390, 120, blue), at(10, 140, red), at(390, 140, blue)};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINELIST, 2, lines, sizeof(VertexPC)), S_OK);
    VertexPC strip2[3] = {at(10, 160, red), at(390, 160, red), at(390, 200, blue)};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINESTRIP, 2, strip2, sizeof(VertexPC)), S_OK);

    const Frame& f = present();
    keepPng(f, (std::string("gles_flat_") + rendererName(GetParam())).c_str());
    EXPECT_TRUE(near(f.at(380, 120), 255, 0, 0));
    EXPECT_TRUE(near(f.at(380, 140), 255, 0, 0));
    EXPECT_TRUE(near(f.at(390, 190), 255, 0, 0));
    const int xs[4] = {50, 150, 250, 350};
    for (int x : xs) {
        EXPECT_TRUE(near(f.at(x - 20, 30), 255, 0, 0)) << x;
        EXPECT_TRUE(near(f.at(x + 20, 70), 255, 0, 0)) << x;
    }
    vertices->Release();
    indices->Release();
}

// Flat shading reads only the provoking vertex's colours, so unlit draws of
// one colour go to GL as they come: nothing is turned or copied, and they
// still draw in their colour. Lit draws of one colour are still turned, since
// each vertex's normal lights it differently.
TEST_P(GlesProgramTest, FlatDrawsOfOneUnlitColourAreNotTurned)
{
    const DWORD green = 0xFF00FF00;
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetVertexShader(FVF_PC);
    auto at = [](float x, float y, DWORD color) { return VertexPC{ndcX(x), ndcY(y), 0.5f, color}; };
    IDirect3DVertexBuffer8* vertices = nullptr;
    IDirect3DIndexBuffer8* indices = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof(VertexPC) * 6, 0, FVF_PC, D3DPOOL_MANAGED, &vertices), S_OK);
    ASSERT_EQ(device->CreateIndexBuffer(16, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices), S_OK);
    BYTE* bytes = nullptr;
    VertexPC square[6] = {at(10, 10, green), at(90, 10, green),  at(90, 90, green),
                          at(10, 90, green), at(10, 120, green), at(390, 120, green)};
    ASSERT_EQ(vertices->Lock(0, 0, &bytes, 0), S_OK);
    std::memcpy(bytes, square, sizeof square);
    vertices->Unlock();
    const std::uint16_t order[8] = {0, 1, 2, 0, 2, 3, 4, 5};
    ASSERT_EQ(indices->Lock(0, 0, &bytes, 0), S_OK);
    std::memcpy(bytes, order, sizeof order);
    indices->Unlock();
    device->SetStreamSource(0, vertices, sizeof(VertexPC));
    device->SetIndices(indices, 0);

    // From the buffers as they are: no bytes go up (the first draw sends
    // the uniform blocks).
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 6, 0, 2), S_OK);
    std::uint32_t before = glDeviceCounters().uploadedBytes;
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 6, 0, 2), S_OK);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 6, 6, 1), S_OK);
    EXPECT_EQ(glDeviceCounters().uploadedBytes - before, 0u) << "a turned index list or a copy went up";
    // A user-pointer fan goes up once, as it came, without an index list.
    VertexPC fan[4] = {at(310, 10, green), at(390, 10, green), at(390, 90, green), at(310, 90, green)};
    before = glDeviceCounters().uploadedBytes;
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, fan, sizeof(VertexPC)), S_OK);
    EXPECT_EQ(glDeviceCounters().uploadedBytes - before, sizeof fan);

    // Lit, one colour: the first vertex faces the light, the others face
    // away, so the whole triangle is white only if its first vertex lights it.
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
    light.Direction = D3DVECTOR{0, 0, 1};
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetVertexShader(FVF_PNC);
    auto lit = [](float x, float y, float nz) { return VertexPNC{ndcX(x), ndcY(y), 0.5f, 0, 0, nz, 0xFFFFFFFF}; };
    VertexPNC triangle[3] = {lit(110, 110, -1), lit(190, 110, 1), lit(110, 190, 1)};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, sizeof(VertexPNC)), S_OK);
    VertexPNC line[2] = {lit(110, 200, -1), lit(390, 200, 1)};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINELIST, 1, line, sizeof(VertexPNC)), S_OK);

    const Frame& f = present();
    keepPng(f, (std::string("gles_flat_one_colour_") + rendererName(GetParam())).c_str());
    EXPECT_TRUE(near(f.at(30, 50), 0, 255, 0));
    EXPECT_TRUE(near(f.at(70, 30), 0, 255, 0));
    EXPECT_TRUE(near(f.at(380, 120), 0, 255, 0));
    EXPECT_TRUE(near(f.at(350, 50), 0, 255, 0));
    EXPECT_TRUE(near(f.at(130, 130), 255, 255, 255));
    EXPECT_TRUE(near(f.at(380, 200), 255, 255, 255));
    vertices->Release();
    indices->Release();
}

// A stage's result outside 0..1 is clamped before anything reads it: the
// target clamps the last stage's (below zero is black, above one white), and
// fog mixes its colour with the clamped result, not the raw one.
TEST_P(GlesProgramTest, StageResultsOutOfRangeAreClampedBeforeFogAndAtTheTarget)
{
    IDirect3DTexture8* dark = makeTexture(1, 1, D3DFMT_A8R8G8B8, {0xFF333333});  // 0.2
    IDirect3DTexture8* light = makeTexture(1, 1, D3DFMT_A8R8G8B8, {0xFFCCCCCC}); // 0.8
    const DWORD diffuse = 0xFF999999;                                              // 0.6
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTexture(0, dark);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SUBTRACT);
    drawQuad(10, 10, 90, 90, 0.5f, diffuse); // 0.2 - 0.6
    device->SetTexture(0, light);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    drawQuad(110, 10, 190, 90, 0.5f, diffuse); // 0.8 + 0.6
    // Linear fog half way (the quad is 0.5 from the eye): white fog over the
    // clamped 0 gives half grey; over the raw -0.4 it would give 0.3.
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_FOGSTART, bitsOf(0.0f));
    device->SetRenderState(D3DRS_FOGEND, bitsOf(1.0f));
    device->SetTexture(0, dark);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SUBTRACT);
    drawQuad(210, 10, 290, 90, 0.5f, diffuse);

    const Frame& f = present();
    EXPECT_TRUE(near(f.at(50, 50), 0, 0, 0));
    EXPECT_TRUE(near(f.at(150, 50), 255, 255, 255));
    EXPECT_TRUE(near(f.at(250, 50), 128, 128, 128));
    device->SetTexture(0, nullptr);
    dark->Release();
    light->Release();
}

} // namespace
