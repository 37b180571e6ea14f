// The fixed-function OpenGL device: the translation of the 3D API's render
// states, texture stages, transforms and lights into compatibility-profile
// GL (texture environment, fixed lighting, fog, texgen, client arrays)
// through the cached setters, and the factory that hands out this device.
// Depends on: platform/gl_common/gl_common.h (OpenGL compatibility profile).
#include "platform/gl_common/gl_common.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// What the fixed-function pipeline adds to the shared pixel state: alpha
// test, fill mode, fog, lighting.
void flushRenderStates(GlDevice& device)
{
    const DWORD* rs = device.renderStates;
    GlCache& c = glCache;
    glCacheEnable(c.alphaTest, GL_ALPHA_TEST, rs[D3DRS_ALPHATESTENABLE] != 0);
    glCacheAlphaFunc(glCompareFunction(rs[D3DRS_ALPHAFUNC]), static_cast<float>(rs[D3DRS_ALPHAREF] & 0xFF) / 255.0f);

    DWORD fill = rs[D3DRS_FILLMODE];
    glCachePolygonMode(fill == D3DFILL_POINT ? GL_POINT : (fill == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL));

    // Fog: table (pixel) fog wins over vertex fog when both are set.
    DWORD fogMode = rs[D3DRS_FOGTABLEMODE] != D3DFOG_NONE ? rs[D3DRS_FOGTABLEMODE] : rs[D3DRS_FOGVERTEXMODE];
    bool fog = rs[D3DRS_FOGENABLE] != 0 && fogMode != D3DFOG_NONE;
    glCacheEnable(c.fog, GL_FOG, fog);
    if (fog) {
        float color[4];
        glColorFloats(rs[D3DRS_FOGCOLOR], color);
        glCacheFogColor(color);
        glCacheFogRange(glFloatBits(rs[D3DRS_FOGSTART]), glFloatBits(rs[D3DRS_FOGEND]), glFloatBits(rs[D3DRS_FOGDENSITY]));
        glCacheFogMode(fogMode == D3DFOG_EXP ? GL_EXP : (fogMode == D3DFOG_EXP2 ? GL_EXP2 : GL_LINEAR));
        bool range = rs[D3DRS_RANGEFOGENABLE] != 0 && rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE;
        glCacheFogDistance(range ? GL_EYE_RADIAL_NV : GL_EYE_PLANE_ABSOLUTE_NV);
    }

    bool lighting = rs[D3DRS_LIGHTING] != 0;
    glCacheEnable(c.lighting, GL_LIGHTING, lighting);
    if (lighting) {
        float ambient[4];
        glColorFloats(rs[D3DRS_AMBIENT], ambient);
        glCacheAmbient(ambient);
        glCacheLocalViewer(rs[D3DRS_LOCALVIEWER] != 0);
        glCacheSeparateSpecular(rs[D3DRS_SPECULARENABLE] != 0);
    }
    glCacheEnable(c.normalize, GL_NORMALIZE, rs[D3DRS_NORMALIZENORMALS] != 0);
    bool colorMaterial = lighting && rs[D3DRS_COLORVERTEX] != 0 &&
                         rs[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1 && device.layout.diffuseOffset >= 0;
    if (c.colorMaterial && !colorMaterial) {
        // GL left the last vertex colour in the diffuse material.
        glCacheForgetMaterialDiffuse();
        device.dirtyMaterial = true;
    }
    glCacheEnable(c.colorMaterial, GL_COLOR_MATERIAL, colorMaterial);
}

void flushMaterial(GlDevice& device)
{
    const D3DMATERIAL8& m = device.material;
    GlCachedMaterial material{};
    glColorValue(m.Ambient, material.ambient);
    glColorValue(m.Diffuse, material.diffuse);
    if (device.renderStates[D3DRS_SPECULARENABLE] != 0)
        glColorValue(m.Specular, material.specular);
    glColorValue(m.Emissive, material.emission);
    material.shininess = std::clamp(m.Power, 0.0f, 128.0f);
    glCacheMaterial(material);
}

// Lights are given in world space; GL takes them in eye space.
void flushLights(GlDevice& device)
{
    for (int index = 0; index < GL_DEVICE_LIGHTS; index++) {
        GlCachedLight light;
        glEyeLight(device, index, &light);
        glCacheLight(index, light);
    }
}

void flushProjection(GlDevice& device)
{
    float matrix[16];
    glShiftedProjection(device, matrix);
    glCacheProjection(matrix);
}

struct Combine {
    GLint mode;
    GLint source[3];
    GLint operand[3];
    GLfloat scale;
};

GLint argumentSource(DWORD argument)
{
    switch (argument & 0xF) {
    case D3DTA_DIFFUSE: return GL_PRIMARY_COLOR;
    case D3DTA_TEXTURE: return GL_TEXTURE;
    case D3DTA_TFACTOR: return GL_CONSTANT;
    default: return GL_PREVIOUS;
    }
}

GLint argumentOperand(DWORD argument, bool alpha)
{
    bool complement = (argument & 0x10) != 0;
    if (alpha || (argument & 0x20) != 0)
        return complement ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
    return complement ? GL_ONE_MINUS_SRC_COLOR : GL_SRC_COLOR;
}

// One texture operation as a GL_COMBINE setting. Slots the operation does
// not read keep what the unit holds, so switching operations costs little.
Combine combineFor(DWORD op, DWORD arg1, DWORD arg2, bool alpha, const Combine& held)
{
    Combine c = held;
    c.scale = 1.0f;
    auto use = [&](int slot, DWORD argument) {
        c.source[slot] = argumentSource(argument);
        c.operand[slot] = argumentOperand(argument, alpha);
    };
    switch (op) {
    case D3DTOP_DISABLE: // only alpha gets here: it passes through
        c.mode = GL_REPLACE;
        use(0, D3DTA_CURRENT);
        break;
    case D3DTOP_SELECTARG1:
        c.mode = GL_REPLACE;
        use(0, arg1);
        break;
    case D3DTOP_SELECTARG2:
        c.mode = GL_REPLACE;
        use(0, arg2);
        break;
    case D3DTOP_ADD:
    case D3DTOP_ADDSMOOTH:
        c.mode = GL_ADD;
        use(0, arg1);
        use(1, arg2);
        break;
    case D3DTOP_ADDSIGNED:
    case D3DTOP_ADDSIGNED2X:
        c.mode = GL_ADD_SIGNED;
        use(0, arg1);
        use(1, arg2);
        c.scale = op == D3DTOP_ADDSIGNED2X ? 2.0f : 1.0f;
        break;
    case D3DTOP_SUBTRACT:
        c.mode = GL_SUBTRACT;
        use(0, arg1);
        use(1, arg2);
        break;
    case D3DTOP_BLENDDIFFUSEALPHA:
    case D3DTOP_BLENDTEXTUREALPHA:
        c.mode = GL_INTERPOLATE;
        use(0, arg1);
        use(1, arg2);
        c.source[2] = op == D3DTOP_BLENDDIFFUSEALPHA ? GL_PRIMARY_COLOR : GL_TEXTURE;
        c.operand[2] = GL_SRC_ALPHA;
        break;
    default: // MODULATE, MODULATE2X, MODULATE4X and what the device does not serve
        c.mode = GL_MODULATE;
        use(0, arg1);
        use(1, arg2);
        c.scale = op == D3DTOP_MODULATE2X ? 2.0f : (op == D3DTOP_MODULATE4X ? 4.0f : 1.0f);
        break;
    }
    return c;
}

void flushStages(GlDevice& device)
{
    static const float IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    bool chain = true;
    for (int unit = 0; unit < device.glUnits; unit++) {
        const DWORD* s = device.stageStates[unit];
        device.unitCoordSet[unit] = -1;
        chain = chain && s[D3DTSS_COLOROP] != D3DTOP_DISABLE;
        GlTexture* texture = device.textures[unit];
        if (!chain || texture == nullptr) {
            // A stage without a texture passes colour and alpha through
            // (GL skips a unit with texturing off): SELECTARG1(CURRENT).
            glCacheTexture2D(unit, false);
            glCacheTexgen(unit, false, GL_NORMAL_MAP);
            continue;
        }
        glCacheBindTexture(unit, texture->name);
        glCacheTexture2D(unit, true);
        glCacheSampler(*texture, unit, glSamplerFor(s));

        const GlCachedUnit& held = glCache.units[unit];
        Combine heldRgb{held.combineRgb, {held.sourceRgb[0], held.sourceRgb[1], held.sourceRgb[2]},
                        {held.operandRgb[0], held.operandRgb[1], held.operandRgb[2]}, held.scaleRgb};
        Combine heldAlpha{held.combineAlpha, {held.sourceAlpha[0], held.sourceAlpha[1], held.sourceAlpha[2]},
                          {held.operandAlpha[0], held.operandAlpha[1], held.operandAlpha[2]}, held.scaleAlpha};
        Combine rgb = combineFor(s[D3DTSS_COLOROP], s[D3DTSS_COLORARG1], s[D3DTSS_COLORARG2], false, heldRgb);
        Combine alpha = combineFor(s[D3DTSS_ALPHAOP], s[D3DTSS_ALPHAARG1], s[D3DTSS_ALPHAARG2], true, heldAlpha);
        glCacheCombine(unit, rgb.mode, rgb.source, rgb.operand, rgb.scale, alpha.mode, alpha.source, alpha.operand,
                       alpha.scale);

        DWORD index = s[D3DTSS_TEXCOORDINDEX];
        DWORD generation = index & 0xFFFF0000u;
        bool generated = generation == D3DTSS_TCI_CAMERASPACENORMAL ||
                         generation == D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR;
        glCacheTexgen(unit, generated,
                      generation == D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR ? GL_REFLECTION_MAP : GL_NORMAL_MAP);
        int set = static_cast<int>(index & 0xFFFF);
        if (!generated && set < device.layout.textureSets)
            device.unitCoordSet[unit] = set;

        float matrix[16];
        glCacheTextureMatrix(unit, glTextureMatrix(device, unit, generated, matrix) ? matrix : IDENTITY);
    }
}

void bindArrays(GlDevice& device, GLuint buffer, std::uintptr_t, GLsizei stride)
{
    const GlVertexLayout& layout = device.layout;
    glCacheVertexArray(buffer, 0, stride);
    glCacheNormalArray(layout.normalOffset >= 0, buffer, static_cast<std::uintptr_t>(layout.normalOffset), stride);
    glCacheColorArray(layout.diffuseOffset >= 0, buffer, static_cast<std::uintptr_t>(layout.diffuseOffset), stride);
    for (int unit = 0; unit < device.glUnits; unit++) {
        int set = device.unitCoordSet[unit];
        glCacheCoordArray(unit, set >= 0, buffer,
                          set >= 0 ? static_cast<std::uintptr_t>(layout.textureOffset[set]) : 0, stride);
    }
}

void flushForDraw(GlDevice& device)
{
    if (device.dirtyRenderStates) {
        flushRenderStates(device);
        device.dirtyRenderStates = false;
    }
    bool lighting = device.renderStates[D3DRS_LIGHTING] != 0;
    // Unlit vertices of one colour give the same colour flat or smooth;
    // smooth, Mesa's rasteriser may fill a screen-aligned rectangle whole
    // (flat inputs keep it on triangles), which gains more than flat saves.
    bool flat = device.renderStates[D3DRS_SHADEMODE] == D3DSHADE_FLAT && (lighting || !device.drawOneColour);
    glCacheShadeModel(flat ? GL_FLAT : GL_SMOOTH);
    if (lighting && device.dirtyMaterial) {
        flushMaterial(device);
        device.dirtyMaterial = false;
    }
    bool lightsSent = false;
    if (lighting && device.dirtyLights) {
        flushLights(device);
        device.dirtyLights = false;
        lightsSent = true;
    }
    if (device.dirtyTransforms)
        glMultiplyMatrices(device.world, device.view, device.worldView);
    if (device.dirtyTransforms || lightsSent)
        glCacheModelview(device.worldView);
    if (device.dirtyTransforms || device.dirtyTarget)
        flushProjection(device);
    device.dirtyTransforms = false;
    device.dirtyTarget = false;
    if (device.dirtyStages) {
        flushStages(device);
        device.dirtyStages = false;
    }
}


bool start(GlDevice&) { return true; }

void reset(GlDevice& device) { glFixedCacheReset(device.glUnits, device.fogDistance); }

void release(GlDevice&) {}

} // namespace

const GlPipeline glFixedPipeline = {start, reset, flushForDraw, bindArrays, release};

IDirect3D8* glDirect3DCreate8(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return glCreateFactory(GlProfile::compatibility, &glFixedPipeline);
}

IDirect3D8* glesOrGlDirect3DCreate8(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return glCreateFactory(GlProfile::es, &glesPipeline, GlProfile::compatibility, &glFixedPipeline);
}
