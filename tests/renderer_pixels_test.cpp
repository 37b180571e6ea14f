// What a device on generated shaders can get wrong where the fixed-function
// pipeline is right by construction, checked on every renderer: texture
// stage operations and their pass-through without a texture, range fog,
// light counts, the provoking vertex of flat shading, alpha test at its
// reference, camera-space normals through the texture matrix, specular,
// the show's blend modes, and points and lines at a render scale.
// Expected values follow the original API's fixed-function rules; the
// fixed-function device meets them all.
#include "tests/gl_pixel_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using namespace pixel_test;

class RendererPixels : public RendererPixelTest {
protected:
    // A quad of the given pixel rectangle with one normal, for lit draws.
    void drawLitQuad(float left, float top, float right, float bottom, const D3DVECTOR& normal, DWORD color)
    {
        const float nx = normal.x, ny = normal.y, nz = normal.z;
        VertexPNC v[6] = {{ndcX(left), ndcY(top), 0.5f, nx, ny, nz, color},
                          {ndcX(right), ndcY(top), 0.5f, nx, ny, nz, color},
                          {ndcX(left), ndcY(bottom), 0.5f, nx, ny, nz, color},
                          {ndcX(right), ndcY(top), 0.5f, nx, ny, nz, color},
                          {ndcX(right), ndcY(bottom), 0.5f, nx, ny, nz, color},
                          {ndcX(left), ndcY(bottom), 0.5f, nx, ny, nz, color}};
        device->SetVertexShader(FVF_PNC);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPNC)), S_OK);
    }

    void useLighting(const D3DMATERIAL8& material)
    {
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_AMBIENT, 0);
        device->SetMaterial(&material);
    }

    // Light 0: directional, travelling away from the viewer along +z, grey.
    void lightAlongView(float diffuse)
    {
        D3DLIGHT8 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {diffuse, diffuse, diffuse, 1};
        light.Direction = {0, 0, 1};
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
    }
};

INSTANTIATE_TEST_SUITE_P(Renderers, RendererPixels, ::testing::Values(Renderer::gl, Renderer::es, Renderer::core),
                         rendererTestName);

Rgb expectedRgb(double r, double g, double b)
{
    auto channel = [](double value) { return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0)); };
    return Rgb{channel(r), channel(g), channel(b)};
}

::testing::AssertionResult near(Rgb actual, Rgb expected, int tolerance)
{
    return pixel_test::near(actual, expected.r, expected.g, expected.b, tolerance);
}

// ---------------------------------------------------------------- texture stages

// The show draws with stage 0's default MODULATE (texture x current, alpha
// from the texture), switches stages off with DISABLE, and draws fades and
// bars with no texture bound. Blending SRCALPHA / INVSRCALPHA over white
// makes the alpha that leaves the stages visible.
TEST_P(RendererPixels, StageOperationsOfTheShowAndThePassThroughWithoutTexture)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    nearestFilter(0);
    // Texel: (0x80, 0xFF, 0x40) at alpha 0xC0; vertex: (0xFF, 0x80, 0xFF) at alpha 0x40.
    IDirect3DTexture8* texture = makeTexture(1, 1, D3DFMT_A8R8G8B8, {0xC080FF40});
    const DWORD vertex = 0x40FF80FF;
    const double ta = 0xC0 / 255.0, va = 0x40 / 255.0;

    // MODULATE / SELECTARG1(TEXTURE): colour texel x vertex, alpha the texel's.
    device->SetTexture(0, texture);
    drawQuad(0, 0, 160, 480, 0.5f, vertex);
    // Colour DISABLE: the stage and all after it are off, colour and alpha the vertex's.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    drawQuad(160, 0, 320, 480, 0.5f, vertex);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    // Nothing bound: the stage passes the vertex colour and alpha.
    device->SetTexture(0, nullptr);
    drawQuad(320, 0, 480, 480, 0.5f, vertex);
    // An explicit alpha operation on the missing texture passes through too.
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    drawQuad(480, 0, 640, 480, 0.5f, vertex);
    const Frame& f = present();
    keepPng(f, "renderer_stage_ops");

    auto over = [](double colour, double alpha) { return colour * alpha + (1 - alpha); };
    EXPECT_TRUE(near(f.at(80, 240),
                     expectedRgb(over(0x80 / 255.0, ta), over(0x80 / 255.0, ta), over(0x40 / 255.0, ta)),
                     2));
    const Rgb vertexOverWhite = expectedRgb(over(1, va), over(0x80 / 255.0, va), over(1, va));
    EXPECT_TRUE(near(f.at(240, 240), vertexOverWhite, 2));
    EXPECT_TRUE(near(f.at(400, 240), vertexOverWhite, 2));
    EXPECT_TRUE(near(f.at(560, 240), vertexOverWhite, 2));
    texture->Release();
}

// A second stage modulating the first, each sampling its own coordinate
// set; a stage after a DISABLE one is never reached; lit colours go into
// stage 0 as the current colour.
TEST_P(RendererPixels, SecondStageReadsItsOwnCoordinatesAndLitColourFeedsStageZero)
{
    nearestFilter(0);
    nearestFilter(1);
    // Stage 0: left half red-ish, right half white. Stage 1: left grey, right white.
    IDirect3DTexture8* first = makeTexture(2, 1, D3DFMT_A8R8G8B8, {0xFFFF4020, 0xFFFFFFFF});
    IDirect3DTexture8* second = makeTexture(2, 1, D3DFMT_R5G6B5, {0x8410, 0xFFFF}); // (132, 130, 132), white
    device->SetTexture(0, first);
    device->SetTexture(1, second);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    // Set 0 picks stage 0's left texel, set 1 stage 1's left texel.
    auto quad = [&](float left, float right, float u0, float u1) {
        VertexPCT2 v[6] = {{ndcX(left), 1, 0.5f, 0xFFFFFFFF, u0, 0.5f, u1, 0.5f},
                           {ndcX(right), 1, 0.5f, 0xFFFFFFFF, u0, 0.5f, u1, 0.5f},
                           {ndcX(left), -1, 0.5f, 0xFFFFFFFF, u0, 0.5f, u1, 0.5f},
                           {ndcX(right), 1, 0.5f, 0xFFFFFFFF, u0, 0.5f, u1, 0.5f},
                           {ndcX(right), -1, 0.5f, 0xFFFFFFFF, u0, 0.5f, u1, 0.5f},
                           {ndcX(left), -1, 0.5f, 0xFFFFFFFF, u0, 0.5f, u1, 0.5f}};
        device->SetVertexShader(FVF_PCT2);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPCT2)), S_OK);
    };
    quad(0, 160, 0.25f, 0.75f);   // red-ish x white
    quad(160, 320, 0.75f, 0.25f); // white x grey
    // Stage 0 off: stage 1 is not reached even with its texture and MODULATE.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    quad(320, 480, 0.25f, 0.25f);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);

    // Lit: a half-bright light on a white vertex, times the texture.
    D3DMATERIAL8 material{};
    useLighting(material);
    lightAlongView(0.5f);
    device->SetTexture(0, first);
    VertexPNCT lit[6];
    const float l = ndcX(480), r = 1;
    const float corners[6][2] = {{l, 1}, {r, 1}, {l, -1}, {r, 1}, {r, -1}, {l, -1}};
    for (int i = 0; i < 6; i++)
        lit[i] = {corners[i][0], corners[i][1], 0.5f, 0, 0, -1, 0xFFFFFFFF, 0.25f, 0.5f};
    device->SetVertexShader(FVF_PNCT);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, lit, sizeof(VertexPNCT)), S_OK);
    const Frame& f = present();
    keepPng(f, "renderer_second_stage");
    EXPECT_TRUE(near(f.at(80, 240), 255, 0x40, 0x20, 1));
    EXPECT_TRUE(near(f.at(240, 240), 132, 130, 132, 2));
    EXPECT_TRUE(near(f.at(400, 240), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(560, 240), expectedRgb(0.5, 0.5 * 0x40 / 255.0, 0.5 * 0x20 / 255.0), 2));
    first->Release();
    second->Release();
}

// ---------------------------------------------------------------- fog

// Range fog uses the distance from the eye, not the depth: small quads off
// the axis, where the two differ, each fogged by its own distance. Black
// quads in white fog show the fog amount directly.
TEST_P(RendererPixels, RangeFogFollowsTheDistanceBetweenStartAndEnd)
{
    const D3DMATRIX projection = perspective(3.14159265f / 2, 640.0f / 480.0f, 1.0f, 100.0f);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
    device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);

    struct Spot {
        float x, y, z;
    };
    const Spot spots[] = {{3, 0, 4}, {0, 0, 1.5f}, {6, 0, 9}, {-3, 2, 5}, {-1.5f, -1.5f, 3}};
    auto draw = [&](const Spot& s) {
        const float h = 0.02f * s.z; // a few pixels across at any depth
        VertexPC v[6] = {{s.x - h, s.y + h, s.z, 0xFF000000}, {s.x + h, s.y + h, s.z, 0xFF000000},
                         {s.x - h, s.y - h, s.z, 0xFF000000}, {s.x + h, s.y + h, s.z, 0xFF000000},
                         {s.x + h, s.y - h, s.z, 0xFF000000}, {s.x - h, s.y - h, s.z, 0xFF000000}};
        device->SetVertexShader(FVF_PC);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPC)), S_OK);
    };
    auto pixelOf = [&](const Spot& s) {
        const float x = 320.0f + 320.0f * projection.m[0][0] * s.x / s.z;
        const float y = 240.0f - 240.0f * projection.m[1][1] * s.y / s.z;
        return std::array<int, 2>{static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
    };

    struct Setting {
        DWORD mode;
        float start, end, density;
    };
    const Setting settings[] = {{D3DFOG_LINEAR, 2.0f, 10.0f, 1.0f},
                                {D3DFOG_LINEAR, 4.0f, 6.0f, 1.0f},
                                {D3DFOG_EXP, 0.0f, 1.0f, 0.2f}};
    for (const Setting& setting : settings) {
        SCOPED_TRACE(setting.start);
        SCOPED_TRACE(setting.mode);
        device->SetRenderState(D3DRS_FOGVERTEXMODE, setting.mode);
        device->SetRenderState(D3DRS_FOGSTART, bitsOf(setting.start));
        device->SetRenderState(D3DRS_FOGEND, bitsOf(setting.end));
        device->SetRenderState(D3DRS_FOGDENSITY, bitsOf(setting.density));
        for (const Spot& s : spots)
            draw(s);
        const Frame& f = present();
        keepPng(f, "renderer_range_fog");
        for (const Spot& s : spots) {
            const double d = std::sqrt(double(s.x) * s.x + double(s.y) * s.y + double(s.z) * s.z);
            double kept = setting.mode == D3DFOG_EXP ? std::exp(-setting.density * d)
                                                     : (setting.end - d) / (setting.end - setting.start);
            kept = std::clamp(kept, 0.0, 1.0);
            const std::array<int, 2> at = pixelOf(s);
            const int grey = static_cast<int>(std::lround((1.0 - kept) * 255.0));
            EXPECT_TRUE(near(f.at(at[0], at[1]), grey, grey, grey, 3)) << "quad at distance " << d;
        }
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    }
}

// ---------------------------------------------------------------- lighting

// Nine strips lit by 0 to 8 directional lights, and one by lights 1, 4 and
// 6 only. Every light has its own colour and angle, so a light read from
// the wrong slot or a count cut short shows in the sum.
TEST_P(RendererPixels, EveryLightCountAddsEachLightOnce)
{
    D3DMATERIAL8 material{};
    useLighting(material);
    constexpr int LIGHTS = 8;
    D3DLIGHT8 lights[LIGHTS];
    double cosines[LIGHTS];
    for (int i = 0; i < LIGHTS; i++) {
        const double angle = i * 8.0 * 3.14159265358979 / 180.0;
        D3DLIGHT8 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {static_cast<float>(i + 1) / 40.0f, 0.1f, 0.03f * static_cast<float>(i % 3 + 1), 1};
        // Travelling away from the viewer, tilted about y: it meets the
        // viewer-facing normal (0, 0, -1) at the given angle.
        light.Direction = {static_cast<float>(std::sin(angle)), 0, static_cast<float>(std::cos(angle))};
        lights[i] = light;
        cosines[i] = std::cos(angle);
        device->SetLight(static_cast<DWORD>(i), &light);
    }
    auto expected = [&](const std::vector<int>& on) {
        double r = 0, g = 0, b = 0;
        for (int i : on) {
            r += lights[i].Diffuse.r * cosines[i];
            g += lights[i].Diffuse.g * cosines[i];
            b += lights[i].Diffuse.b * cosines[i];
        }
        return expectedRgb(r, g, b);
    };
    std::vector<std::vector<int>> sets;
    for (int count = 0; count <= LIGHTS; count++) {
        std::vector<int> on;
        for (int i = 0; i < count; i++)
            on.push_back(i);
        sets.push_back(on);
    }
    sets.push_back({1, 4, 6});
    const float width = 64.0f;
    for (size_t strip = 0; strip < sets.size(); strip++) {
        for (int i = 0; i < LIGHTS; i++)
            device->LightEnable(static_cast<DWORD>(i),
                                std::find(sets[strip].begin(), sets[strip].end(), i) != sets[strip].end());
        drawLitQuad(strip * width, 0, (strip + 1) * width, 480, D3DVECTOR{0, 0, -1}, 0xFFFFFFFF);
    }
    const Frame& f = present();
    keepPng(f, "renderer_light_counts");
    for (size_t strip = 0; strip < sets.size(); strip++) {
        SCOPED_TRACE(strip);
        EXPECT_TRUE(near(f.at(static_cast<int>(strip * width + width / 2), 240), expected(sets[strip]), 2));
    }
}

// Normals reach the lighting through the inverse transpose of world x view
// and are normalised only when NORMALIZENORMALS is on: a world scaled by 2
// halves them, a short model normal stays short. Lit white by a white light
// along the normal, the strips show the normal's length.
TEST_P(RendererPixels, LightingNormalisesNormalsOnlyWhenAsked)
{
    D3DMATERIAL8 material{};
    useLighting(material);
    lightAlongView(1);
    D3DMATRIX scaled = identity();
    scaled.m[0][0] = scaled.m[1][1] = scaled.m[2][2] = 2;
    const D3DMATRIX plain = identity();
    // World scaled by 2, positions halved so the quads land where asked.
    auto scaledQuad = [&](float left, float right) {
        const float l = ndcX(left) / 2, r = ndcX(right) / 2;
        VertexPNC v[6] = {{l, 0.5f, 0.25f, 0, 0, -1, 0xFFFFFFFF},  {r, 0.5f, 0.25f, 0, 0, -1, 0xFFFFFFFF},
                          {l, -0.5f, 0.25f, 0, 0, -1, 0xFFFFFFFF}, {r, 0.5f, 0.25f, 0, 0, -1, 0xFFFFFFFF},
                          {r, -0.5f, 0.25f, 0, 0, -1, 0xFFFFFFFF}, {l, -0.5f, 0.25f, 0, 0, -1, 0xFFFFFFFF}};
        device->SetTransform(D3DTS_WORLD, &scaled);
        device->SetVertexShader(FVF_PNC);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPNC)), S_OK);
        device->SetTransform(D3DTS_WORLD, &plain);
    };
    for (DWORD normalize : {FALSE, TRUE}) {
        device->SetRenderState(D3DRS_NORMALIZENORMALS, normalize);
        const float offset = normalize != 0 ? 320.0f : 0.0f;
        scaledQuad(offset, offset + 160);
        drawLitQuad(offset + 160, 0, offset + 320, 480, D3DVECTOR{0, 0, -0.25f}, 0xFFFFFFFF);
    }
    const Frame& f = present();
    keepPng(f, "renderer_normalize");
    EXPECT_TRUE(near(f.at(80, 240), 128, 128, 128, 2));
    EXPECT_TRUE(near(f.at(240, 240), 64, 64, 64, 2));
    EXPECT_TRUE(near(f.at(400, 240), 255, 255, 255, 1));
    EXPECT_TRUE(near(f.at(560, 240), 255, 255, 255, 1));
}

// Specular is added after the texture stages when it is on (a black
// texture keeps it), with the local viewer's half vector, and only on the
// side the light reaches; off, nothing of it shows.
TEST_P(RendererPixels, SpecularHighlightWhenOnAndNoneWhenOff)
{
    D3DMATERIAL8 material{};
    material.Specular = {1, 1, 1, 1};
    material.Power = 4;
    useLighting(material);
    nearestFilter(0);
    IDirect3DTexture8* black = makeTexture(1, 1, D3DFMT_A8R8G8B8, {0xFF000000});
    device->SetTexture(0, black);
    const double tilt = 60.0 * 3.14159265358979 / 180.0, behind = 100.0 * 3.14159265358979 / 180.0;
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Specular = {1, 0.5f, 0.25f, 1};
    // Light at 60 degrees from the viewer-facing normal: the half vector
    // towards a viewer straight ahead is 30 degrees off it.
    light.Direction = {-static_cast<float>(std::sin(tilt)), 0, static_cast<float>(std::cos(tilt))};
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    D3DLIGHT8 back = light;
    back.Direction = {-static_cast<float>(std::sin(behind)), 0, static_cast<float>(std::cos(behind))};
    device->SetLight(1, &back);

    // The lit vertex colour of the fixed pipeline at a view-space point
    // facing the viewer: (N.H)^power when N.L > 0.
    auto specularAt = [&](double x, double y, double z, const D3DVECTOR& direction) {
        const double lx = -direction.x, ly = -direction.y, lz = -direction.z;
        const double nDotL = -lz;
        if (nDotL <= 0)
            return 0.0;
        const double length = std::sqrt(x * x + y * y + z * z);
        double hx = lx - x / length, hy = ly - y / length, hz = lz - z / length;
        const double h = std::sqrt(hx * hx + hy * hy + hz * hz);
        return std::pow(std::max(0.0, -hz / h), static_cast<double>(material.Power));
    };
    // Identity transforms: a quad at z = 0.5 around view-space (cx, 0); its
    // centre pixel lies on the diagonal between the second and third vertex.
    auto quad = [&](float centre) {
        const float x0 = ndcX(centre - 8), x1 = ndcX(centre + 8), y0 = ndcY(232), y1 = ndcY(248);
        VertexPNCT v[6] = {{x0, y0, 0.5f, 0, 0, -1, 0xFFFFFFFF, 0.5f, 0.5f},
                           {x1, y0, 0.5f, 0, 0, -1, 0xFFFFFFFF, 0.5f, 0.5f},
                           {x0, y1, 0.5f, 0, 0, -1, 0xFFFFFFFF, 0.5f, 0.5f},
                           {x1, y0, 0.5f, 0, 0, -1, 0xFFFFFFFF, 0.5f, 0.5f},
                           {x1, y1, 0.5f, 0, 0, -1, 0xFFFFFFFF, 0.5f, 0.5f},
                           {x0, y1, 0.5f, 0, 0, -1, 0xFFFFFFFF, 0.5f, 0.5f}};
        device->SetVertexShader(FVF_PNCT);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPNCT)), S_OK);
        const double a = specularAt(x1, y0, 0.5, light.Direction), b = specularAt(x0, y1, 0.5, light.Direction);
        return (a + b) / 2;
    };

    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    const double centre = quad(320);
    const double side = quad(560);
    device->LightEnable(0, FALSE);
    device->LightEnable(1, TRUE);
    quad(80); // the light behind the face gives no highlight
    Frame f = present();
    keepPng(f, "renderer_specular");
    EXPECT_TRUE(near(f.at(320, 240), expectedRgb(centre, centre * 0.5, centre * 0.25), 3));
    EXPECT_TRUE(near(f.at(560, 240), expectedRgb(side, side * 0.5, side * 0.25), 3));
    EXPECT_GT(std::abs(centre - side), 0.05); // the local viewer shows
    EXPECT_TRUE(near(f.at(80, 240), 0, 0, 0, 1));

    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->LightEnable(0, TRUE);
    device->LightEnable(1, FALSE);
    quad(320);
    f = present();
    EXPECT_TRUE(near(f.at(320, 240), 0, 0, 0, 0));
    black->Release();
}

// ---------------------------------------------------------------- flat shading

// Flat shading takes the colour of a triangle's first vertex: for lists the
// first of each three, for strips vertex k of triangle k, for fans vertex
// k + 1 (the original draws fan triangle k as k + 1, k + 2, 0). Indexed
// draws count in indices, not in vertex numbers. Every triangle winds
// clockwise and the default culling is on: a device that reorders
// vertices to pick the colour must keep each triangle's winding. Texture
// coordinates stay interpolated; lit colours are flat too.
TEST_P(RendererPixels, FlatShadingTakesTheFirstVertexOfEachTriangle)
{
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    const DWORD colours[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
    struct Case {
        D3DPRIMITIVETYPE type;
        UINT primitives;
        std::array<std::array<float, 2>, 6> points; // in pixels
        std::array<int, 2> firstOf;                 // vertex giving the colour, per triangle
    };
    // Each drawn in a 160-pixel-wide cell; two triangles apiece.
    const Case cases[] = {
        {D3DPT_TRIANGLELIST, 2, {{{10, 20}, {150, 20}, {10, 220}, {150, 40}, {150, 220}, {30, 220}}}, {0, 3}},
        {D3DPT_TRIANGLESTRIP, 2, {{{10, 20}, {150, 20}, {10, 220}, {150, 220}, {0, 0}, {0, 0}}}, {0, 1}},
        {D3DPT_TRIANGLEFAN, 2, {{{10, 20}, {150, 20}, {150, 220}, {10, 220}, {0, 0}, {0, 0}}}, {1, 2}},
    };
    auto centroid = [](const Case& c, const int* corner, int triangle, float dx, float dy) {
        float x = 0, y = 0;
        for (int k = 0; k < 3; k++) {
            int index = corner[triangle * 3 + k];
            x += c.points[index][0] / 3;
            y += c.points[index][1] / 3;
        }
        return std::array<int, 2>{static_cast<int>(x + dx), static_cast<int>(y + dy)};
    };
    // Which vertices make each triangle (for the pixel to look at).
    const int corners[3][6] = {{0, 1, 2, 3, 4, 5}, {0, 1, 2, 1, 3, 2}, {0, 1, 2, 0, 2, 3}};

    IDirect3DVertexBuffer8* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(8 * sizeof(VertexPC), D3DUSAGE_DYNAMIC, FVF_PC, D3DPOOL_DEFAULT, &buffer),
              S_OK);
    IDirect3DIndexBuffer8* indices = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(6 * 2, D3DUSAGE_DYNAMIC, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &indices), S_OK);
    for (int indexed = 0; indexed < 2; indexed++) {
        for (int n = 0; n < 3; n++) {
            const Case& c = cases[n];
            const float dx = 160.0f * n, dy = indexed != 0 ? 240.0f : 0.0f;
            const int count = c.type == D3DPT_TRIANGLELIST ? 6 : 4;
            VertexPC v[6];
            for (int i = 0; i < count; i++)
                v[i] = {ndcX(c.points[i][0] + dx), ndcY(c.points[i][1] + dy), 0.5f, colours[i]};
            device->SetVertexShader(FVF_PC);
            if (indexed == 0) {
                ASSERT_EQ(device->DrawPrimitiveUP(c.type, c.primitives, v, sizeof(VertexPC)), S_OK);
                continue;
            }
            // Indexed: the vertices stored in reverse order behind two unused
            // ones, the indices naming them in drawing order.
            BYTE* data = nullptr;
            ASSERT_EQ(buffer->Lock(0, 0, &data, 0), S_OK);
            VertexPC* stored = reinterpret_cast<VertexPC*>(data);
            std::uint16_t order[6];
            for (int i = 0; i < count; i++) {
                stored[2 + (count - 1 - i)] = v[i];
                order[i] = static_cast<std::uint16_t>(count - 1 - i);
            }
            ASSERT_EQ(buffer->Unlock(), S_OK);
            ASSERT_EQ(indices->Lock(0, 0, &data, 0), S_OK);
            std::memcpy(data, order, sizeof(std::uint16_t) * count);
            ASSERT_EQ(indices->Unlock(), S_OK);
            device->SetStreamSource(0, buffer, sizeof(VertexPC));
            device->SetIndices(indices, 2);
            ASSERT_EQ(device->DrawIndexedPrimitive(c.type, 0, static_cast<UINT>(count), 0, c.primitives), S_OK);
        }
    }

    // Textured: white first vertices, grey others; red and green texels
    // left and right.
    nearestFilter(0);
    IDirect3DTexture8* texture = makeTexture(2, 1, D3DFMT_A8R8G8B8, {0xFFFF0000, 0xFF00FF00});
    device->SetTexture(0, texture);
    const float tl = ndcX(490), tr = ndcX(630), tt = ndcY(20), tb = ndcY(220);
    const VertexPCT textured[6] = {{tl, tt, 0.5f, 0xFFFFFFFF, 0, 0}, {tr, tt, 0.5f, 0xFF404040, 1, 0},
                                   {tl, tb, 0.5f, 0xFF404040, 0, 1}, {tr, tt, 0.5f, 0xFFFFFFFF, 1, 0},
                                   {tr, tb, 0.5f, 0xFF404040, 1, 1}, {tl, tb, 0.5f, 0xFF404040, 0, 1}};
    device->SetVertexShader(FVF_PCT);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, textured, sizeof(VertexPCT)), S_OK);
    device->SetTexture(0, nullptr);

    // Lit: the first triangle's first normal faces the light, the others
    // turn away; the second triangle the other way round.
    D3DMATERIAL8 material{};
    useLighting(material);
    lightAlongView(1);
    const float lt = ndcY(260), lb = ndcY(460);
    const VertexPNC lit[6] = {{tl, lt, 0.5f, 0, 0, -1, 0xFFFFFFFF}, {tr, lt, 0.5f, 0, 0, 1, 0xFFFFFFFF},
                              {tl, lb, 0.5f, 0, 0, 1, 0xFFFFFFFF},  {tr, lt, 0.5f, 0, 0, 1, 0xFFFFFFFF},
                              {tr, lb, 0.5f, 0, 0, -1, 0xFFFFFFFF}, {tl, lb, 0.5f, 0, 0, -1, 0xFFFFFFFF}};
    device->SetVertexShader(FVF_PNC);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, lit, sizeof(VertexPNC)), S_OK);

    const Frame& f = present();
    keepPng(f, "renderer_flat_shading");
    EXPECT_TRUE(near(f.at(510, 40), 255, 0, 0, 0));    // first triangle, left texel
    EXPECT_TRUE(near(f.at(600, 40), 0, 255, 0, 0));    // first triangle, right texel
    EXPECT_TRUE(near(f.at(510, 200), 255, 0, 0, 0));   // second triangle, left texel
    EXPECT_TRUE(near(f.at(610, 200), 0, 255, 0, 0));   // second triangle, right texel
    EXPECT_TRUE(near(f.at(530, 310), 255, 255, 255, 0)); // lit by its first vertex
    EXPECT_TRUE(near(f.at(590, 410), 0, 0, 0, 0));       // dark by its first vertex
    for (int indexed = 0; indexed < 2; indexed++)
        for (int n = 0; n < 3; n++)
            for (int triangle = 0; triangle < 2; triangle++) {
                SCOPED_TRACE(testing::Message() << "case " << n << (indexed ? " indexed" : "") << " triangle "
                                                << triangle);
                const std::array<int, 2> at =
                    centroid(cases[n], corners[n], triangle, 160.0f * n, indexed != 0 ? 240.0f : 0.0f);
                const DWORD c = colours[cases[n].firstOf[triangle]];
                EXPECT_TRUE(near(f.at(at[0], at[1]), (c >> 16) & 255, (c >> 8) & 255, c & 255, 0));
            }
    buffer->Release();
    indices->Release();
    texture->Release();
}

// ---------------------------------------------------------------- alpha test

// Every comparison at its reference: alphas one below, at and one above
// 0x80, from the vertex (no texture) and from a texture; and the edges of
// the range with reference 0.
TEST_P(RendererPixels, AlphaTestComparesAtTheReference)
{
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAREF, 0x80);
    const D3DCMPFUNC functions[8] = {D3DCMP_NEVER,   D3DCMP_LESS,     D3DCMP_EQUAL,        D3DCMP_LESSEQUAL,
                                     D3DCMP_GREATER, D3DCMP_NOTEQUAL, D3DCMP_GREATEREQUAL, D3DCMP_ALWAYS};
    // Passes for alpha below, at and above the reference.
    const bool passes[8][3] = {{false, false, false}, {true, false, false}, {false, true, false},
                               {true, true, false},   {false, false, true}, {true, false, true},
                               {false, true, true},   {true, true, true}};
    const DWORD alphas[3] = {0x7F, 0x80, 0x81};
    nearestFilter(0);
    IDirect3DTexture8* texture = makeTexture(3, 1, D3DFMT_A8R8G8B8, {0x7FFFFFFF, 0x80FFFFFF, 0x81FFFFFF});
    for (int fn = 0; fn < 8; fn++) {
        device->SetRenderState(D3DRS_ALPHAFUNC, functions[fn]);
        const float top = fn * 60.0f;
        device->SetTexture(0, nullptr);
        for (int a = 0; a < 3; a++)
            drawQuad(a * 100.0f, top, a * 100.0f + 100, top + 60, 0.5f, alphas[a] << 24 | 0xFFFFFF);
        device->SetTexture(0, texture);
        drawQuad(340, top, 640, top + 60, 0.5f, 0x00FFFFFF); // the texel's alpha alone is tested
    }
    Frame f = present();
    keepPng(f, "renderer_alpha_test");
    for (int fn = 0; fn < 8; fn++)
        for (int a = 0; a < 3; a++) {
            SCOPED_TRACE(testing::Message() << "function " << functions[fn] << " alpha " << alphas[a]);
            const int expected = passes[fn][a] ? 255 : 0;
            EXPECT_TRUE(near(f.at(a * 100 + 50, fn * 60 + 30), expected, expected, expected, 0)) << "vertex";
            EXPECT_TRUE(near(f.at(340 + a * 100 + 50, fn * 60 + 30), expected, expected, expected, 0)) << "texture";
        }

    device->SetTexture(0, nullptr);
    device->SetRenderState(D3DRS_ALPHAREF, 0);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    drawQuad(0, 0, 320, 480, 0.5f, 0x00FFFFFF);
    drawQuad(320, 0, 640, 480, 0.5f, 0x01FFFFFF);
    f = present();
    EXPECT_TRUE(near(f.at(160, 240), 0, 0, 0, 0));
    EXPECT_TRUE(near(f.at(480, 240), 255, 255, 255, 0));
    texture->Release();
}

// ---------------------------------------------------------------- environment mapping

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX m{};
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            for (int k = 0; k < 4; k++)
                m.m[i][j] += a.m[i][k] * b.m[k][j];
    return m;
}

D3DMATRIX rotateX(float angle)
{
    D3DMATRIX m = identity();
    m.m[1][1] = std::cos(angle);
    m.m[1][2] = std::sin(angle);
    m.m[2][1] = -std::sin(angle);
    m.m[2][2] = std::cos(angle);
    return m;
}

// v x R^T for a rotation R: what R carries back onto v.
std::array<float, 3> unrotate(const D3DMATRIX& r, float x, float y, float z)
{
    return {x * r.m[0][0] + y * r.m[0][1] + z * r.m[0][2], x * r.m[1][0] + y * r.m[1][1] + z * r.m[1][2],
            x * r.m[2][0] + y * r.m[2][1] + z * r.m[2][2]};
}

// Camera-space normals: the model's normals through world and view (both
// turned), scaled and normalised, then through a texture matrix that swaps
// the axes and shifts. The 2x2 texture shows which quadrant each normal
// reached.
TEST_P(RendererPixels, CameraSpaceNormalsGoThroughWorldViewAndTheTextureMatrix)
{
    nearestFilter(0);
    // 2x2: top-left red, top-right green, bottom-left blue, bottom-right white.
    IDirect3DTexture8* texture =
        makeTexture(2, 2, D3DFMT_A8R8G8B8, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
    device->SetTexture(0, texture);
    const D3DMATRIX world = rotateY(0.7f), view = rotateX(-0.4f);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_VIEW, &view);
    const D3DMATRIX worldView = multiply(world, view);
    // u = 0.5 + 0.4 ny, v = 0.5 + 0.4 nx: the normal's axes swapped.
    D3DMATRIX swap{};
    swap.m[1][0] = 0.4f;
    swap.m[0][1] = 0.4f;
    swap.m[2][2] = 1;
    swap.m[3][0] = 0.5f;
    swap.m[3][1] = 0.5f;
    swap.m[3][3] = 1;
    device->SetTransform(D3DTS_TEXTURE0, &swap);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // A camera-space quad and normal, carried back into model space.
    auto quad = [&](float left, float right, float nx, float ny) {
        const float nz = -std::sqrt(1 - nx * nx - ny * ny);
        const std::array<float, 3> normal = unrotate(worldView, 2.5f * nx, 2.5f * ny, 2.5f * nz);
        const float corners[6][2] = {{ndcX(left), 1},  {ndcX(right), 1},  {ndcX(left), -1},
                                     {ndcX(right), 1}, {ndcX(right), -1}, {ndcX(left), -1}};
        VertexPNCT v[6];
        for (int i = 0; i < 6; i++) {
            const std::array<float, 3> p = unrotate(worldView, corners[i][0], corners[i][1], 0.5f);
            v[i] = {p[0], p[1], p[2], normal[0], normal[1], normal[2], 0xFFFFFFFF, 0.9f, 0.9f};
        }
        device->SetVertexShader(FVF_PNCT);
        device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(VertexPNCT));
    };
    quad(0, 160, -0.6f, 0.6f);    // u 0.74, v 0.26: top right, green
    quad(160, 320, 0.6f, 0.6f);   // u 0.74, v 0.74: bottom right, white
    quad(320, 480, -0.6f, -0.6f); // u 0.26, v 0.26: top left, red
    quad(480, 640, 0.6f, -0.6f);  // u 0.26, v 0.74: bottom left, blue
    const Frame& f = present();
    keepPng(f, "renderer_camera_normals");
    EXPECT_TRUE(near(f.at(80, 240), 0, 255, 0, 0));
    EXPECT_TRUE(near(f.at(240, 240), 255, 255, 255, 0));
    EXPECT_TRUE(near(f.at(400, 240), 255, 0, 0, 0));
    EXPECT_TRUE(near(f.at(560, 240), 0, 0, 255, 0));
    texture->Release();
}

// ---------------------------------------------------------------- blending

// Every pair of blend factors the show sets, with a textured source whose
// alpha comes from the texture alone, over a coloured background.
TEST_P(RendererPixels, EveryBlendModeOfTheShowOverATexturedSource)
{
    const double dst[3] = {0x40 / 255.0, 0x80 / 255.0, 0xC0 / 255.0};
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF4080C0, 1.0f, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    nearestFilter(0);
    IDirect3DTexture8* texture = makeTexture(1, 1, D3DFMT_A8R8G8B8, {0x60C08040});
    device->SetTexture(0, texture);
    const double src[3] = {0xC0 / 255.0, 0x80 / 255.0, 0x40 / 255.0}, a = 0x60 / 255.0;
    struct Mode {
        D3DBLEND source, destination;
    };
    const Mode modes[] = {{D3DBLEND_ONE, D3DBLEND_ONE},
                          {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                          {D3DBLEND_SRCALPHA, D3DBLEND_ONE},
                          {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA},
                          {D3DBLEND_DESTCOLOR, D3DBLEND_ONE}};
    auto factor = [&](D3DBLEND blend, int channel) {
        switch (blend) {
        case D3DBLEND_ONE: return 1.0;
        case D3DBLEND_SRCALPHA: return a;
        case D3DBLEND_INVSRCALPHA: return 1.0 - a;
        case D3DBLEND_DESTCOLOR: return dst[channel];
        default: return 0.0;
        }
    };
    const int count = static_cast<int>(std::size(modes));
    for (int m = 0; m < count; m++) {
        device->SetRenderState(D3DRS_SRCBLEND, modes[m].source);
        device->SetRenderState(D3DRS_DESTBLEND, modes[m].destination);
        drawQuad(m * 128.0f, 0, m * 128.0f + 128, 480, 0.5f, 0x00FFFFFF);
    }
    const Frame& f = present();
    keepPng(f, "renderer_blend_modes");
    for (int m = 0; m < count; m++) {
        SCOPED_TRACE(m);
        double out[3];
        for (int c = 0; c < 3; c++)
            out[c] = src[c] * factor(modes[m].source, c) + dst[c] * factor(modes[m].destination, c);
        EXPECT_TRUE(near(f.at(m * 128 + 64, 240), expectedRgb(out[0], out[1], out[2]), 2));
    }
    texture->Release();
}

// ---------------------------------------------------------------- render scale

// At render scale 2 every original pixel is a 2x2 block: a line is two
// pixels wide and starts in the block of the original pixel it starts in;
// a point lands in the block of its original pixel.
TEST_P(RendererPixels, PointsAndLinesAtRenderScaleTwo)
{
    releaseDevice();
    glDeviceSetRenderScale(2);
    createDevice();
    // A horizontal line along row 100 from column 40 to 200, a vertical one
    // along column 300 from row 50 to 150, both white.
    VertexPC lines[4] = {{ndcX(40), ndcY(100), 0.5f, 0xFFFFFFFF},
                         {ndcX(200), ndcY(100), 0.5f, 0xFFFFFFFF},
                         {ndcX(300), ndcY(50), 0.5f, 0xFFFFFFFF},
                         {ndcX(300), ndcY(150), 0.5f, 0xFFFFFFFF}};
    device->SetVertexShader(FVF_PC);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINELIST, 2, lines, sizeof(VertexPC)), S_OK);
    // A line strip of two segments in red, and green points.
    VertexPC strip[3] = {{ndcX(400), ndcY(300), 0.5f, 0xFFFF0000},
                         {ndcX(500), ndcY(300), 0.5f, 0xFFFF0000},
                         {ndcX(500), ndcY(400), 0.5f, 0xFFFF0000}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINESTRIP, 2, strip, sizeof(VertexPC)), S_OK);
    VertexPC points[2] = {{ndcX(50), ndcY(300), 0.5f, 0xFF00FF00}, {ndcX(101), ndcY(351), 0.5f, 0xFF00FF00}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 2, points, sizeof(VertexPC)), S_OK);
    const Frame& f = present();
    ASSERT_EQ(f.width, 1280);
    keepPng(f, "renderer_scale_two_lines");

    auto litRows = [&](int x, int from, int to, int channel) {
        std::vector<int> rows;
        for (int y = from; y < to; y++) {
            const Rgb p = f.at(x, y);
            if ((channel == 0 ? p.r : p.g) > 128)
                rows.push_back(y);
        }
        return rows;
    };
    auto litColumns = [&](int y, int from, int to) {
        std::vector<int> columns;
        for (int x = from; x < to; x++)
            if (f.at(x, y).r > 128)
                columns.push_back(x);
        return columns;
    };
    // Two rows wide, and the first of the block of row 100 among them.
    for (int x : {100, 240, 398}) {
        SCOPED_TRACE(x);
        const std::vector<int> rows = litRows(x, 190, 210, 0);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1], rows[0] + 1);
        EXPECT_TRUE(std::find(rows.begin(), rows.end(), 200) != rows.end());
    }
    const std::vector<int> columns = litColumns(200, 590, 610);
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_TRUE(std::find(columns.begin(), columns.end(), 600) != columns.end());
    // The strip: its horizontal and vertical legs, each two wide.
    EXPECT_EQ(litRows(900, 590, 610, 0).size(), 2u);
    EXPECT_EQ(litColumns(700, 990, 1010).size(), 2u);
    // Points land in the block of their pixel.
    EXPECT_GT(f.at(100, 600).g, 128);
    EXPECT_GT(f.at(202, 702).g, 128);
    EXPECT_EQ(litRows(100, 590, 610, 1).size(), litRows(202, 692, 712, 1).size());
}

} // namespace
