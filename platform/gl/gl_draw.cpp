// OpenGL device drawing: vertex formats, the translation of the 3D API's
// render states, texture stages, transforms and lights into fixed-function
// GL (through the cached setters), and the two draw calls.
// Depends on: platform/gl/gl_internal.h (OpenGL).
#include "platform/gl/gl_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD FVF_POSITION_MASK = 0x00E;
constexpr DWORD FVF_SERVED = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | 0xF00;
constexpr float PI = 3.14159265f;

float floatBits(DWORD bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

void colorFloats(D3DCOLOR color, float out[4])
{
    out[0] = static_cast<float>((color >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((color >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(color & 0xFF) / 255.0f;
    out[3] = static_cast<float>((color >> 24) & 0xFF) / 255.0f;
}

void colorValue(const D3DCOLORVALUE& color, float out[4])
{
    out[0] = color.r;
    out[1] = color.g;
    out[2] = color.b;
    out[3] = color.a;
}

GLenum compareFunction(DWORD value)
{
    if (value >= D3DCMP_NEVER && value <= D3DCMP_ALWAYS)
        return GL_NEVER + (value - D3DCMP_NEVER); // same order in both APIs
    return GL_ALWAYS;
}

GLenum blendFactor(DWORD value)
{
    switch (value) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    default: return GL_ONE;
    }
}

GLenum blendEquation(DWORD value)
{
    switch (value) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLint filter(DWORD value) { return value == D3DTEXF_LINEAR || value == D3DTEXF_ANISOTROPIC ? GL_LINEAR : GL_NEAREST; }

GLint wrap(DWORD value)
{
    if (value == D3DTADDRESS_CLAMP)
        return GL_CLAMP_TO_EDGE;
    if (value == D3DTADDRESS_MIRROR)
        return GL_MIRRORED_REPEAT;
    return GL_REPEAT;
}

// Row-major product a x b (row vectors: a is applied first).
void multiply(const D3DMATRIX& a, const D3DMATRIX& b, float out[16])
{
    for (int row = 0; row < 4; row++)
        for (int column = 0; column < 4; column++) {
            float sum = 0;
            for (int k = 0; k < 4; k++)
                sum += a.m[row][k] * b.m[k][column];
            out[row * 4 + column] = sum;
        }
}

// p x M for a point (w = 1) or a direction (w = 0).
void transform(const D3DVECTOR& p, float w, const D3DMATRIX& m, float out[3])
{
    for (int column = 0; column < 3; column++)
        out[column] = p.x * m.m[0][column] + p.y * m.m[1][column] + p.z * m.m[2][column] + w * m.m[3][column];
}

// ---------------------------------------------------------------- flush parts

void flushRenderStates(GlDevice& device)
{
    const DWORD* rs = device.renderStates;
    GlCache& c = glCache;
    glCacheEnable(c.depthTest, GL_DEPTH_TEST, device.depthTarget != nullptr && rs[D3DRS_ZENABLE] != 0);
    glCacheDepthFunc(compareFunction(rs[D3DRS_ZFUNC]));
    glCacheDepthMask(rs[D3DRS_ZWRITEENABLE] != 0);

    glCacheEnable(c.blend, GL_BLEND, rs[D3DRS_ALPHABLENDENABLE] != 0);
    GLenum source = blendFactor(rs[D3DRS_SRCBLEND]);
    GLenum destination = blendFactor(rs[D3DRS_DESTBLEND]);
    if (rs[D3DRS_SRCBLEND] == D3DBLEND_BOTHSRCALPHA) {
        source = GL_SRC_ALPHA;
        destination = GL_ONE_MINUS_SRC_ALPHA;
    } else if (rs[D3DRS_SRCBLEND] == D3DBLEND_BOTHINVSRCALPHA) {
        source = GL_ONE_MINUS_SRC_ALPHA;
        destination = GL_SRC_ALPHA;
    }
    glCacheBlendFunc(source, destination);
    glCacheBlendEquation(blendEquation(rs[D3DRS_BLENDOP]));

    glCacheEnable(c.alphaTest, GL_ALPHA_TEST, rs[D3DRS_ALPHATESTENABLE] != 0);
    glCacheAlphaFunc(compareFunction(rs[D3DRS_ALPHAFUNC]), static_cast<float>(rs[D3DRS_ALPHAREF] & 0xFF) / 255.0f);

    // Front faces wind clockwise (glFrontFace(GL_CW) at start): CCW culls the back.
    DWORD cull = rs[D3DRS_CULLMODE];
    glCacheEnable(c.cullFace, GL_CULL_FACE, cull == D3DCULL_CW || cull == D3DCULL_CCW);
    if (cull == D3DCULL_CW || cull == D3DCULL_CCW)
        glCacheCullFace(cull == D3DCULL_CCW ? GL_BACK : GL_FRONT);

    DWORD fill = rs[D3DRS_FILLMODE];
    glCachePolygonMode(fill == D3DFILL_POINT ? GL_POINT : (fill == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL));
    glCacheEnable(c.dither, GL_DITHER, rs[D3DRS_DITHERENABLE] != 0);

    // Fog: table (pixel) fog wins over vertex fog when both are set.
    DWORD fogMode = rs[D3DRS_FOGTABLEMODE] != D3DFOG_NONE ? rs[D3DRS_FOGTABLEMODE] : rs[D3DRS_FOGVERTEXMODE];
    bool fog = rs[D3DRS_FOGENABLE] != 0 && fogMode != D3DFOG_NONE;
    glCacheEnable(c.fog, GL_FOG, fog);
    if (fog) {
        float color[4];
        colorFloats(rs[D3DRS_FOGCOLOR], color);
        glCacheFogColor(color);
        glCacheFogRange(floatBits(rs[D3DRS_FOGSTART]), floatBits(rs[D3DRS_FOGEND]), floatBits(rs[D3DRS_FOGDENSITY]));
        glCacheFogMode(fogMode == D3DFOG_EXP ? GL_EXP : (fogMode == D3DFOG_EXP2 ? GL_EXP2 : GL_LINEAR));
        bool range = rs[D3DRS_RANGEFOGENABLE] != 0 && rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE;
        glCacheFogDistance(range ? GL_EYE_RADIAL_NV : GL_EYE_PLANE_ABSOLUTE_NV);
    }

    bool lighting = rs[D3DRS_LIGHTING] != 0;
    glCacheEnable(c.lighting, GL_LIGHTING, lighting);
    if (lighting) {
        float ambient[4];
        colorFloats(rs[D3DRS_AMBIENT], ambient);
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
    glCacheLineWidth(static_cast<float>(device.scale));
}

void flushMaterial(GlDevice& device)
{
    const D3DMATERIAL8& m = device.material;
    GlCachedMaterial material{};
    colorValue(m.Ambient, material.ambient);
    colorValue(m.Diffuse, material.diffuse);
    if (device.renderStates[D3DRS_SPECULARENABLE] != 0)
        colorValue(m.Specular, material.specular);
    colorValue(m.Emissive, material.emission);
    material.shininess = std::clamp(m.Power, 0.0f, 128.0f);
    glCacheMaterial(material);
}

// Lights are given in world space; GL takes them in eye space.
void flushLights(GlDevice& device)
{
    const D3DMATRIX& view = device.view;
    for (int index = 0; index < GL_DEVICE_LIGHTS; index++) {
        GlCachedLight light{};
        light.enabled = device.lightEnabled[index];
        if (light.enabled) {
            const D3DLIGHT8& d = device.lights[index];
            colorValue(d.Ambient, light.ambient);
            colorValue(d.Diffuse, light.diffuse);
            colorValue(d.Specular, light.specular);
            light.spotCutoff = 180.0f;
            light.attenuation[0] = 1.0f;
            if (d.Type == D3DLIGHT_DIRECTIONAL) {
                // The direction is where the light travels; GL points at the light.
                float direction[3];
                transform(d.Direction, 0.0f, view, direction);
                light.position[0] = -direction[0];
                light.position[1] = -direction[1];
                light.position[2] = -direction[2];
                light.position[3] = 0.0f;
            } else {
                transform(d.Position, 1.0f, view, light.position);
                light.position[3] = 1.0f;
                light.attenuation[0] = d.Attenuation0;
                light.attenuation[1] = d.Attenuation1;
                light.attenuation[2] = d.Attenuation2;
                if (d.Attenuation0 == 0 && d.Attenuation1 == 0 && d.Attenuation2 == 0)
                    light.attenuation[0] = 1.0f;
                if (d.Type == D3DLIGHT_SPOT) {
                    transform(d.Direction, 0.0f, view, light.spotDirection);
                    light.spotCutoff = std::clamp(d.Phi * 0.5f * 180.0f / PI, 0.0f, 90.0f);
                    light.spotExponent = std::clamp(d.Falloff, 0.0f, 128.0f);
                }
            }
        }
        glCacheLight(index, light);
    }
}

// The original API puts pixel centres on integer coordinates, GL on halves:
// shift the picture by half a GL pixel. At a render scale N the first of the
// N x N pixels standing for one original pixel samples where the original
// did, and a full-target quad still covers every pixel. The shift is 1/64
// pixel short of a half so that an edge exactly on a pixel centre follows
// the original's top-left rule (a left or top edge takes the pixel, a right
// or bottom edge leaves it) whatever tie rule the GL rasteriser has.
constexpr float PIXEL_SHIFT = 0.5f - 1.0f / 64.0f;

void flushProjection(GlDevice& device)
{
    const D3DMATRIX& p = device.projection;
    float dx = 2.0f * PIXEL_SHIFT / static_cast<float>(device.colorTarget->glWidth);
    float dy = -2.0f * PIXEL_SHIFT / static_cast<float>(device.colorTarget->glHeight);
    float matrix[16];
    for (int row = 0; row < 4; row++) {
        matrix[row * 4 + 0] = p.m[row][0] + p.m[row][3] * dx;
        matrix[row * 4 + 1] = p.m[row][1] + p.m[row][3] * dy;
        matrix[row * 4 + 2] = p.m[row][2];
        matrix[row * 4 + 3] = p.m[row][3];
    }
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

// The stage's texture matrix as GL needs it, or null for none.
bool textureMatrix(const GlDevice& device, int stage, bool generated, float out[16])
{
    DWORD flags = device.stageStates[stage][D3DTSS_TEXTURETRANSFORMFLAGS];
    if ((flags & 0xFF) == D3DTTFF_DISABLE)
        return false;
    const D3DMATRIX& m = device.textureMatrices[stage];
    std::memcpy(out, m.m, sizeof(float) * 16);
    if (!generated) {
        // Two-component coordinates enter as (u, v, 1, 0) in the 3D API and as
        // (s, t, 0, 1) in GL: the third row translates.
        for (int column = 0; column < 4; column++)
            out[12 + column] = m.m[2][column];
    }
    if ((flags & D3DTTFF_PROJECTED) == 0) {
        // Without projection the coordinates are used as they come out; GL
        // divides by q, so keep q at one.
        out[3] = out[7] = out[11] = 0.0f;
        out[15] = 1.0f;
    }
    return true;
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
        glCacheSampler(*texture, unit,
                       GlSamplerParams{filter(s[D3DTSS_MINFILTER]), filter(s[D3DTSS_MAGFILTER]),
                                       wrap(s[D3DTSS_ADDRESSU]), wrap(s[D3DTSS_ADDRESSV])});

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
        glCacheTextureMatrix(unit, textureMatrix(device, unit, generated, matrix) ? matrix : IDENTITY);
    }
}

void flushArrays(GlDevice& device, GLuint buffer, GLsizei stride)
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

bool primitiveMode(D3DPRIMITIVETYPE type, UINT primitives, GLenum* mode, UINT* vertices)
{
    switch (type) {
    case D3DPT_POINTLIST: *mode = GL_POINTS; *vertices = primitives; return true;
    case D3DPT_LINELIST: *mode = GL_LINES; *vertices = primitives * 2; return true;
    case D3DPT_LINESTRIP: *mode = GL_LINE_STRIP; *vertices = primitives + 1; return true;
    case D3DPT_TRIANGLELIST: *mode = GL_TRIANGLES; *vertices = primitives * 3; return true;
    case D3DPT_TRIANGLESTRIP: *mode = GL_TRIANGLE_STRIP; *vertices = primitives + 2; return true;
    case D3DPT_TRIANGLEFAN: *mode = GL_TRIANGLE_FAN; *vertices = primitives + 2; return true;
    default: return false;
    }
}

void checkErrors(const char* where)
{
#ifndef NDEBUG
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError())
        std::fprintf(stderr, "OpenGL device: GL error 0x%x after %s\n", error, where);
#else
    (void)where;
#endif
}

// The one-colour check of a vertex buffer for the current layout, worked out
// again only when the buffer's contents or the layout changed.
bool bufferOneColour(GlBuffer& buffer, UINT stride, int colourOffset)
{
    if (buffer.oneColourVersion != buffer.version || buffer.oneColourStride != stride ||
        buffer.oneColourOffset != colourOffset) {
        UINT count = stride > 0 ? static_cast<UINT>(buffer.bytes.size() / stride) : 0;
        buffer.oneColour = glVerticesOneColour(buffer.bytes.data(), count, stride, colourOffset);
        buffer.oneColourVersion = buffer.version;
        buffer.oneColourStride = stride;
        buffer.oneColourOffset = colourOffset;
    }
    return buffer.oneColour;
}

} // namespace

bool glVerticesOneColour(const std::uint8_t* vertices, UINT count, UINT stride, int colourOffset)
{
    if (colourOffset < 0 || count < 2)
        return true;
    if (static_cast<UINT>(colourOffset) + 4 > stride)
        return false;
    std::uint32_t first;
    std::memcpy(&first, vertices + colourOffset, 4);
    for (UINT i = 1; i < count; i++) {
        std::uint32_t colour;
        std::memcpy(&colour, vertices + static_cast<std::size_t>(i) * stride + colourOffset, 4);
        if (colour != first)
            return false;
    }
    return true;
}

GlVertexLayout glVertexLayout(DWORD fvf)
{
    GlVertexLayout layout{};
    layout.fvf = fvf;
    layout.normalOffset = -1;
    layout.diffuseOffset = -1;
    // Untransformed positions with two-component texture sets only.
    if ((fvf & FVF_POSITION_MASK) != D3DFVF_XYZ || (fvf & ~FVF_SERVED) != 0)
        return layout;
    int offset = 12;
    if ((fvf & D3DFVF_NORMAL) != 0) {
        layout.normalOffset = offset;
        offset += 12;
    }
    if ((fvf & D3DFVF_DIFFUSE) != 0) {
        layout.diffuseOffset = offset;
        offset += 4;
    }
    if ((fvf & D3DFVF_SPECULAR) != 0)
        offset += 4;
    int sets = static_cast<int>((fvf >> 8) & 0xF);
    if (sets > 8)
        return layout;
    layout.textureSets = sets;
    for (int set = 0; set < sets; set++) {
        layout.textureOffset[set] = offset;
        offset += 8;
    }
    layout.stride = static_cast<UINT>(offset);
    return layout;
}

void glFlushForDraw(GlDevice& device)
{
    device.makeCurrent();
    device.bindTarget();
    if (device.dirtyRenderStates) {
        flushRenderStates(device);
        device.dirtyRenderStates = false;
    }
    bool lighting = device.renderStates[D3DRS_LIGHTING] != 0;
    // Unlit vertices of one colour give the same colour flat or smooth;
    // flat, the rasteriser takes it as a constant instead of interpolating
    // it at every pixel.
    bool flat = device.renderStates[D3DRS_SHADEMODE] == D3DSHADE_FLAT || (!lighting && device.drawOneColour);
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
        multiply(device.world, device.view, device.worldView);
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

namespace {

// Mesa's llvmpipe bins every draw of a batch before it rasterises any of
// them, and keeps a batch's memory until it reuses the batch: about 300
// bytes per triangle or line, and a 64 KB block for each copy of the pixel
// state (taken whenever a draw's blending, tests, textures or fog differ
// from the draw before). A frame of ten lit knots (57,600 triangles) or of
// 218 blocks whose blending alternates queues 10-15 MB, which stays resident.
// A line costs about three triangles: it is set up as a quad and, long and
// thin, crosses more tiles. Waiting for the queued work once it reaches
// about 4096 triangles' worth bounds a batch to about 1.5 MB and keeps the
// driver on one batch.
constexpr std::uint32_t QUEUED_WORK_LIMIT = 4096;  // in triangles
constexpr std::uint32_t LINE_WORK = 3;
constexpr std::uint32_t PIXEL_STATE_WORK = 200;    // a 64 KB state copy

UINT workPerPrimitive(D3DPRIMITIVETYPE type)
{
    return type == D3DPT_LINELIST || type == D3DPT_LINESTRIP ? LINE_WORK : 1;
}

void limitQueuedWork(GlDevice& device, D3DPRIMITIVETYPE type, UINT primitives)
{
    if (glCounters.pixelStateChanges != device.pixelStateAtLastDraw) {
        device.pixelStateAtLastDraw = glCounters.pixelStateChanges;
        device.queuedWork += PIXEL_STATE_WORK;
    }
    device.queuedWork += std::min<UINT>(primitives, QUEUED_WORK_LIMIT) * workPerPrimitive(type);
    if (device.queuedWork >= QUEUED_WORK_LIMIT) {
        glFinish();
        glCounters.waits++;
        device.queuedWork = 0;
    }
}

// Lists go to GL in pieces of at most the limit's worth, so that one large
// draw does not queue more than a batch either; strips go whole. draw(first,
// count) draws count vertices (or indices) from the first.
template <typename Draw>
void drawInPieces(GlDevice& device, D3DPRIMITIVETYPE type, UINT primitives, UINT vertices, Draw draw)
{
    UINT perPrimitive = type == D3DPT_TRIANGLELIST ? 3 : type == D3DPT_LINELIST ? 2 : type == D3DPT_POINTLIST ? 1 : 0;
    if (perPrimitive == 0) {
        draw(0, vertices);
        limitQueuedWork(device, type, primitives);
        return;
    }
    UINT piece = QUEUED_WORK_LIMIT / workPerPrimitive(type);
    for (UINT first = 0; first < primitives; first += piece) {
        UINT count = std::min(piece, primitives - first);
        draw(first * perPrimitive, count * perPrimitive);
        limitQueuedWork(device, type, count);
    }
}

} // namespace

HRESULT GlDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount, UINT startIndex,
                                       UINT primitiveCount)
{
    GLenum mode;
    UINT count;
    if (!inScene || stream == nullptr || indices == nullptr || layout.stride == 0 ||
        !primitiveMode(type, primitiveCount, &mode, &count))
        return D3DERR_INVALIDCALL;
    UINT indexSize = indices->format == D3DFMT_INDEX32 ? 4 : 2;
    std::uint64_t indexEnd = (static_cast<std::uint64_t>(startIndex) + count) * indexSize;
    std::uint64_t vertexEnd = (static_cast<std::uint64_t>(baseVertexIndex) + minIndex + vertexCount) * streamStride;
    if (indexEnd > indices->bytes.size() || vertexEnd > stream->bytes.size())
        return D3DERR_INVALIDCALL;
    if (primitiveCount == 0)
        return S_OK;
    drawOneColour = bufferOneColour(*stream, streamStride, layout.diffuseOffset);
    glFlushForDraw(*this);
    flushArrays(*this, stream->name, static_cast<GLsizei>(streamStride));
    glCacheElementBuffer(indices->name);
    GLenum indexType = indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    drawInPieces(*this, type, primitiveCount, count, [&](UINT first, UINT n) {
        std::uintptr_t at = (static_cast<std::uintptr_t>(startIndex) + first) * indexSize;
        glDrawElementsBaseVertex(mode, static_cast<GLsizei>(n), indexType, reinterpret_cast<const void*>(at),
                                 static_cast<GLint>(baseVertexIndex));
    });
    glCounters.draws++;
    glCounters.primitives += primitiveCount;
    checkErrors("DrawIndexedPrimitive");
    return S_OK;
}

HRESULT GlDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride)
{
    GLenum mode;
    UINT count;
    if (!inScene || vertices == nullptr || stride == 0 || layout.stride == 0 ||
        !primitiveMode(type, primitiveCount, &mode, &count))
        return D3DERR_INVALIDCALL;
    if (primitiveCount == 0)
        return S_OK;
    if (static_cast<std::uint64_t>(count) * stride > (1u << 28))
        return D3DERR_INVALIDCALL;
    makeCurrent();
    UINT bytes = count * stride;
    // One streaming buffer: append at a multiple of the stride so the array
    // pointers stay put and the draw starts at a vertex index; orphan the
    // storage when it is full.
    glCacheArrayBuffer(streamBuffer);
    UINT offset = (streamBufferUsed + stride - 1) / stride * stride;
    if (bytes > streamBufferSize || offset + bytes > streamBufferSize) {
        if (bytes > streamBufferSize)
            streamBufferSize = std::max(bytes, streamBufferSize * 2);
        glBufferData(GL_ARRAY_BUFFER, streamBufferSize, nullptr, GL_STREAM_DRAW);
        offset = 0;
    }
    glBufferSubData(GL_ARRAY_BUFFER, offset, bytes, vertices);
    streamBufferUsed = offset + bytes;
    glCounters.bufferUploads++;
    glCounters.uploadedBytes += bytes;
    drawOneColour = glVerticesOneColour(static_cast<const std::uint8_t*>(vertices), count, stride, layout.diffuseOffset);
    glFlushForDraw(*this);
    flushArrays(*this, streamBuffer, static_cast<GLsizei>(stride));
    drawInPieces(*this, type, primitiveCount, count, [&](UINT first, UINT n) {
        glDrawArrays(mode, static_cast<GLint>(offset / stride + first), static_cast<GLsizei>(n));
    });
    glCounters.draws++;
    glCounters.primitives += primitiveCount;
    // As the original API: stream 0 is unset after a user-pointer draw.
    stream = nullptr;
    streamStride = 0;
    checkErrors("DrawPrimitiveUP");
    return S_OK;
}
