// Drawing as both OpenGL devices do it: vertex formats, the state every
// pipeline shares (target, depth, blending, culling), the projection's
// pixel-centre shift, the bound on queued work, and the two draw calls,
// which hand vertex processing to the device's pipeline.
// Depends on: platform/gl_common/gl_common.h (OpenGL).
#include "platform/gl_common/gl_common.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr float PI = 3.14159265f;
constexpr DWORD FVF_POSITION_MASK = 0x00E;
constexpr DWORD FVF_SERVED = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | 0xF00;

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


} // namespace

float glFloatBits(DWORD bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

void glColorFloats(D3DCOLOR color, float out[4])
{
    out[0] = static_cast<float>((color >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((color >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(color & 0xFF) / 255.0f;
    out[3] = static_cast<float>((color >> 24) & 0xFF) / 255.0f;
}

void glColorValue(const D3DCOLORVALUE& color, float out[4])
{
    out[0] = color.r;
    out[1] = color.g;
    out[2] = color.b;
    out[3] = color.a;
}

GLenum glCompareFunction(DWORD value)
{
    if (value >= D3DCMP_NEVER && value <= D3DCMP_ALWAYS)
        return GL_NEVER + (value - D3DCMP_NEVER); // same order in both APIs
    return GL_ALWAYS;
}

void glMultiplyMatrices(const D3DMATRIX& a, const D3DMATRIX& b, float out[16])
{
    for (int row = 0; row < 4; row++)
        for (int column = 0; column < 4; column++) {
            float sum = 0;
            for (int k = 0; k < 4; k++)
                sum += a.m[row][k] * b.m[k][column];
            out[row * 4 + column] = sum;
        }
}

void glTransformVector(const D3DVECTOR& p, float w, const D3DMATRIX& m, float out[3])
{
    for (int column = 0; column < 3; column++)
        out[column] = p.x * m.m[0][column] + p.y * m.m[1][column] + p.z * m.m[2][column] + w * m.m[3][column];
}

void glEyeLight(const GlDevice& device, int index, GlCachedLight* out)
{
    const D3DMATRIX& view = device.view;
    GlCachedLight light{};
    light.enabled = device.lightEnabled[index];
    if (light.enabled) {
        const D3DLIGHT8& d = device.lights[index];
        glColorValue(d.Ambient, light.ambient);
        glColorValue(d.Diffuse, light.diffuse);
        glColorValue(d.Specular, light.specular);
        light.spotCutoff = 180.0f;
        light.attenuation[0] = 1.0f;
        if (d.Type == D3DLIGHT_DIRECTIONAL) {
            // The direction is where the light travels; GL points at the light.
            float direction[3];
            glTransformVector(d.Direction, 0.0f, view, direction);
            light.position[0] = -direction[0];
            light.position[1] = -direction[1];
            light.position[2] = -direction[2];
            light.position[3] = 0.0f;
        } else {
            glTransformVector(d.Position, 1.0f, view, light.position);
            light.position[3] = 1.0f;
            light.attenuation[0] = d.Attenuation0;
            light.attenuation[1] = d.Attenuation1;
            light.attenuation[2] = d.Attenuation2;
            if (d.Attenuation0 == 0 && d.Attenuation1 == 0 && d.Attenuation2 == 0)
                light.attenuation[0] = 1.0f;
            if (d.Type == D3DLIGHT_SPOT) {
                glTransformVector(d.Direction, 0.0f, view, light.spotDirection);
                light.spotCutoff = std::clamp(d.Phi * 0.5f * 180.0f / PI, 0.0f, 90.0f);
                light.spotExponent = std::clamp(d.Falloff, 0.0f, 128.0f);
            }
        }
    }
    *out = light;
}

bool glTextureMatrix(const GlDevice& device, int stage, bool generated, float out[16])
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

GlSamplerParams glSamplerFor(const DWORD* stageStates)
{
    return GlSamplerParams{filter(stageStates[D3DTSS_MINFILTER]), filter(stageStates[D3DTSS_MAGFILTER]),
                           wrap(stageStates[D3DTSS_ADDRESSU]), wrap(stageStates[D3DTSS_ADDRESSV])};
}

// The original API puts pixel centres on integer coordinates, GL on halves:
// shift the picture by half a GL pixel. At a render scale N the first of the
// N x N pixels standing for one original pixel samples where the original
// did, and a full-target quad still covers every pixel. The shift is 1/64
// pixel short of a half so that an edge exactly on a pixel centre follows
// the original's top-left rule (a left or top edge takes the pixel, a right
// or bottom edge leaves it) whatever tie rule the GL rasteriser has.
constexpr float PIXEL_SHIFT = 0.5f - 1.0f / 64.0f;

void glShiftedProjection(const GlDevice& device, float matrix[16])
{
    const D3DMATRIX& p = device.projection;
    float dx = 2.0f * PIXEL_SHIFT / static_cast<float>(device.colorTarget->glWidth);
    float dy = -2.0f * PIXEL_SHIFT / static_cast<float>(device.colorTarget->glHeight);
    for (int row = 0; row < 4; row++) {
        matrix[row * 4 + 0] = p.m[row][0] + p.m[row][3] * dx;
        matrix[row * 4 + 1] = p.m[row][1] + p.m[row][3] * dy;
        matrix[row * 4 + 2] = p.m[row][2];
        matrix[row * 4 + 3] = p.m[row][3];
    }
}

void glFlushCommonForDraw(GlDevice& device)
{
    device.makeCurrent();
    const DWORD* rs = device.renderStates;
    // A draw that neither tests depth (a test that always passes is none)
    // nor writes it goes to a framebuffer without the depth surface.
    bool usesDepth = rs[D3DRS_ZENABLE] != 0 && (rs[D3DRS_ZWRITEENABLE] != 0 || rs[D3DRS_ZFUNC] != D3DCMP_ALWAYS);
    device.bindTarget(usesDepth);
    if (!device.dirtyRenderStates)
        return;
    GlCache& c = glCache;
    glCacheEnable(c.depthTest, GL_DEPTH_TEST, device.depthTarget != nullptr && rs[D3DRS_ZENABLE] != 0);
    glCacheDepthFunc(glCompareFunction(rs[D3DRS_ZFUNC]));
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
    if (device.colorTarget->alphaOne) {
        // The target's format has no alpha: destination alpha reads one
        // (its stored channel is no part of the picture).
        auto alphaOne = [](GLenum factor) -> GLenum {
            if (factor == GL_DST_ALPHA)
                return GL_ONE;
            if (factor == GL_ONE_MINUS_DST_ALPHA || factor == GL_SRC_ALPHA_SATURATE)
                return GL_ZERO;
            return factor;
        };
        source = alphaOne(source);
        destination = alphaOne(destination);
    }
    glCacheBlendFunc(source, destination);
    glCacheBlendEquation(blendEquation(rs[D3DRS_BLENDOP]));

    // Front faces wind clockwise on screen (set at start): CCW culls the back.
    DWORD cull = rs[D3DRS_CULLMODE];
    glCacheEnable(c.cullFace, GL_CULL_FACE, cull == D3DCULL_CW || cull == D3DCULL_CCW);
    if (cull == D3DCULL_CW || cull == D3DCULL_CCW)
        glCacheCullFace(cull == D3DCULL_CCW ? GL_BACK : GL_FRONT);
    glCacheEnable(c.dither, GL_DITHER, rs[D3DRS_DITHERENABLE] != 0);
    glCacheLineWidth(static_cast<float>(device.scale));
}

namespace {

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

void glWaitForBatch(GlDevice& device)
{
    if (device.batchFence == nullptr)
        return;
    glClientWaitSync(device.batchFence, GL_SYNC_FLUSH_COMMANDS_BIT, GL_TIMEOUT_IGNORED);
    glDeleteSync(device.batchFence);
    device.batchFence = nullptr;
}

namespace {

// Mesa's llvmpipe bins every draw of a batch before it rasterises any of
// them, and keeps a batch's memory until it reuses the batch: about 300
// bytes per triangle or line, and a 64 KB block for each copy of the pixel
// state (taken whenever a draw's blending, tests, textures or fog differ
// from the draw before). A frame of ten lit knots (57,600 triangles) or of
// 218 blocks whose blending alternates queues 10-15 MB, which stays resident.
// A line costs about three triangles: it is set up as a quad and, long and
// thin, crosses more tiles. Handing the queued work over once it reaches
// about 4096 triangles' worth bounds a batch to about 1.5 MB.
//
// The wait is for the batch before the one just handed over, through a
// fence, not for everything queued (glFinish): the driver bins the next
// batch on this thread while its rasteriser threads draw the last one, so
// neither side idles while the other works; at most two batches are held.
// A frame of many batches (ten knots into a target) is about an eighth
// faster so; the present still waits for the whole frame.
//
// Filling counts too. A frame of a few large quads (backgrounds, panels,
// overlays) is a handful of triangles but most of the rasterisers' time;
// counted by triangles alone it is one batch, binned whole before any of it
// is drawn. A draw of a few vertices adds the share of the target its
// bounding box covers, half a batch for the whole target, so such a frame
// goes over in a few batches and its later draws are binned while the first
// are drawn (about a tenth faster). Many small objects add little and keep
// their batches long, where handing over often would cost more than it gains.
constexpr std::uint32_t QUEUED_WORK_LIMIT = 4096;  // in triangles
constexpr std::uint32_t LINE_WORK = 3;
constexpr std::uint32_t PIXEL_STATE_WORK = 200;    // a 64 KB state copy
constexpr float TARGET_FILL_WORK = 2048.0f;        // the whole target covered once
constexpr UINT FILL_ESTIMATE_VERTICES = 16;        // larger draws count by their triangles
constexpr UINT RECTANGLE_RUN_TRIANGLES = 340;      // 1020 indices: see drawInPieces

// The share of the colour target (0 to 1) inside the screen bounding box of
// count vertices (positions: three floats at the start of each) through the
// world, view and projection transforms; all of it when a vertex lies at or
// behind the eye plane.
float coveredShare(const GlDevice& device, const std::uint8_t* vertices, UINT count, UINT stride)
{
    float worldView[16], all[16];
    glMultiplyMatrices(device.world, device.view, worldView);
    D3DMATRIX wv;
    std::memcpy(&wv.m[0][0], worldView, sizeof worldView);
    glMultiplyMatrices(wv, device.projection, all);
    float left = 1.0f, right = -1.0f, top = 1.0f, bottom = -1.0f;
    for (UINT i = 0; i < count; i++) {
        float p[3];
        std::memcpy(p, vertices + static_cast<std::size_t>(i) * stride, sizeof p);
        float clip[4];
        for (int c = 0; c < 4; c++)
            clip[c] = p[0] * all[c] + p[1] * all[4 + c] + p[2] * all[8 + c] + all[12 + c];
        if (!(clip[3] > 1e-6f))
            return 1.0f;
        float x = clip[0] / clip[3], y = clip[1] / clip[3];
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    float width = std::min(right, 1.0f) - std::max(left, -1.0f);
    float height = std::min(bottom, 1.0f) - std::max(top, -1.0f);
    if (!(width > 0.0f && height > 0.0f))
        return 0.0f;
    return width * height / 4.0f;
}

// The fill a draw of count vertices adds to the queued work (see above);
// points and lines cover little whatever their bounding box.
std::uint32_t fillWork(const GlDevice& device, D3DPRIMITIVETYPE type, const std::uint8_t* vertices, UINT count,
                       UINT stride)
{
    bool triangles = type == D3DPT_TRIANGLELIST || type == D3DPT_TRIANGLESTRIP || type == D3DPT_TRIANGLEFAN;
    if (!triangles || count > FILL_ESTIMATE_VERTICES || stride < 12)
        return 0;
    return static_cast<std::uint32_t>(coveredShare(device, vertices, count, stride) * TARGET_FILL_WORK);
}

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
    device.queuedWork += device.drawFillWork;
    device.drawFillWork = 0;
    device.queuedWork += std::min<UINT>(primitives, QUEUED_WORK_LIMIT) * workPerPrimitive(type);
    if (device.queuedWork >= QUEUED_WORK_LIMIT) {
        GLsync handedOver = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        glFlush(); // the batch starts now, not when someone waits for it
        glWaitForBatch(device);
        device.batchFence = handedOver;
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
    // Without a depth surface Mesa's rasteriser fills a pair of triangles
    // that makes a screen-aligned rectangle as one rectangle, with no edge
    // tests; it looks for pairs only in runs whose length is a multiple of
    // six vertices and that its vertex stage does not split again (at most
    // 1020 indices). Sprites and screen quads are such pairs.
    if (type == D3DPT_TRIANGLELIST && device.colorTarget->attachedDepth == 0)
        piece = std::min(piece, RECTANGLE_RUN_TRIANGLES);
    for (UINT first = 0; first < primitives; first += piece) {
        UINT count = std::min(piece, primitives - first);
        draw(first * perPrimitive, count * perPrimitive);
        limitQueuedWork(device, type, count);
    }
}

} // namespace

namespace {

// OpenGL ES takes a flat-shaded primitive's colour from its last vertex and
// has no switch for it; the original API takes the first (and so do the
// other contexts, switched at start). Turned, each primitive is listed with
// the vertex the original takes last, its winding kept. index(i) gives the
// draw's i-th vertex; returns the list's mode (triangles, lines or points).
template <typename Index>
D3DPRIMITIVETYPE turnForLastProvoking(D3DPRIMITIVETYPE type, UINT primitives, Index index,
                                      std::vector<std::uint32_t>& out)
{
    out.clear();
    auto triangle = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
        out.push_back(a);
        out.push_back(b);
        out.push_back(c);
    };
    switch (type) {
    case D3DPT_TRIANGLELIST:
        for (UINT p = 0; p < primitives; p++)
            triangle(index(3 * p + 1), index(3 * p + 2), index(3 * p)); // provoking: 3p
        return D3DPT_TRIANGLELIST;
    case D3DPT_TRIANGLESTRIP:
        for (UINT p = 0; p < primitives; p++) {
            if (p % 2 == 0)
                triangle(index(p + 1), index(p + 2), index(p)); // winds p, p+1, p+2
            else
                triangle(index(p + 2), index(p + 1), index(p)); // winds p+1, p, p+2
        }
        return D3DPT_TRIANGLELIST;
    case D3DPT_TRIANGLEFAN:
        for (UINT p = 0; p < primitives; p++)
            triangle(index(p + 2), index(0), index(p + 1)); // provoking: p+1
        return D3DPT_TRIANGLELIST;
    case D3DPT_LINELIST:
        for (UINT p = 0; p < primitives; p++) {
            out.push_back(index(2 * p + 1));
            out.push_back(index(2 * p));
        }
        return D3DPT_LINELIST;
    case D3DPT_LINESTRIP:
        for (UINT p = 0; p < primitives; p++) {
            out.push_back(index(p + 1));
            out.push_back(index(p));
        }
        return D3DPT_LINELIST;
    default:
        for (UINT p = 0; p < primitives; p++)
            out.push_back(index(p));
        return D3DPT_POINTLIST;
    }
}

// Unlit vertices of one colour look the same whichever vertex provokes, so
// they are drawn as they come (drawOneColour is set for the draw first).
bool turnsProvokingVertex(const GlDevice& device, D3DPRIMITIVETYPE type)
{
    return device.profile == GlProfile::es && device.renderStates[D3DRS_SHADEMODE] == D3DSHADE_FLAT &&
           type != D3DPT_POINTLIST && !(device.renderStates[D3DRS_LIGHTING] == 0 && device.drawOneColour);
}

// Draws the turned list (device.turnedIndices) from the index stream; the
// vertex inputs are set.
void drawTurned(GlDevice& device, D3DPRIMITIVETYPE listType, UINT primitives)
{
    const std::vector<std::uint32_t>& list = device.turnedIndices;
    UINT bytes = static_cast<UINT>(list.size() * sizeof(std::uint32_t));
    glCacheElementBuffer(device.indexStreamBuffer);
    // New storage for every list: a driver that still reads the last one
    // keeps it, nothing waits.
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, bytes, list.data(), GL_STREAM_DRAW);
    glCounters.bufferUploads++;
    glCounters.uploadedBytes += bytes;
    GLenum mode = listType == D3DPT_TRIANGLELIST ? GL_TRIANGLES : (listType == D3DPT_LINELIST ? GL_LINES : GL_POINTS);
    drawInPieces(device, listType, primitives, static_cast<UINT>(list.size()), [&](UINT first, UINT n) {
        glDrawElements(mode, static_cast<GLsizei>(n), GL_UNSIGNED_INT,
                       reinterpret_cast<const void*>(static_cast<std::uintptr_t>(first) * 4));
    });
}

void flushForDraw(GlDevice& device)
{
    glFlushCommonForDraw(device);
    device.pipeline->flushForDraw(device);
}

// One streaming buffer for vertices the device hands to GL itself: append
// at a multiple of the stride so the array pointers stay put and the draw
// starts at a vertex index; orphan the storage when it is full. Returns the
// byte offset of the copy.
UINT streamVertices(GlDevice& device, const void* vertices, UINT bytes, UINT stride)
{
    glCacheArrayBuffer(device.streamBuffer);
    UINT offset = (device.streamBufferUsed + stride - 1) / stride * stride;
    if (bytes > device.streamBufferSize || offset + bytes > device.streamBufferSize) {
        if (bytes > device.streamBufferSize)
            device.streamBufferSize = std::max(bytes, device.streamBufferSize * 2);
        glBufferData(GL_ARRAY_BUFFER, device.streamBufferSize, nullptr, GL_STREAM_DRAW);
        offset = 0;
    }
    glBufferSubData(GL_ARRAY_BUFFER, offset, bytes, vertices);
    device.streamBufferUsed = offset + bytes;
    glCounters.bufferUploads++;
    glCounters.uploadedBytes += bytes;
    return offset;
}

// Flat-shaded lines on OpenGL ES. Turned, a line would run the other way,
// and the rasteriser picks a line's pixels by its direction. Instead each
// line is copied with its second end carrying the first end's normal and
// colours (all that flat shading reads from the provoking vertex), so it
// keeps its direction. vertex(i) points at the draw's i-th vertex.
template <typename Vertex>
void drawFlatLines(GlDevice& device, D3DPRIMITIVETYPE type, UINT lines, UINT stride, Vertex vertex)
{
    const GlVertexLayout& layout = device.layout;
    std::vector<std::uint8_t>& out = device.flatLineVertices;
    out.resize(static_cast<std::size_t>(lines) * 2 * stride);
    // The bytes after the normal up to the texture sets: diffuse and specular colours.
    int shadedFrom = layout.normalOffset >= 0 ? layout.normalOffset : (layout.diffuseOffset >= 0 ? layout.diffuseOffset : 12);
    int shadedTo = layout.textureSets > 0 ? layout.textureOffset[0] : static_cast<int>(layout.stride);
    shadedTo = std::min(shadedTo, static_cast<int>(stride));
    shadedFrom = std::min(shadedFrom, shadedTo);
    for (UINT p = 0; p < lines; p++) {
        UINT first = type == D3DPT_LINESTRIP ? p : 2 * p;
        std::uint8_t* a = out.data() + static_cast<std::size_t>(p) * 2 * stride;
        std::uint8_t* b = a + stride;
        std::memcpy(a, vertex(first), stride);
        std::memcpy(b, vertex(first + 1), stride);
        std::memcpy(b + shadedFrom, a + shadedFrom, static_cast<std::size_t>(shadedTo - shadedFrom));
    }
    UINT offset = streamVertices(device, out.data(), static_cast<UINT>(out.size()), stride);
    device.pipeline->bindArrays(device, device.streamBuffer, 0, static_cast<GLsizei>(stride));
    drawInPieces(device, D3DPT_LINELIST, lines, lines * 2, [&](UINT first, UINT n) {
        glDrawArrays(GL_LINES, static_cast<GLint>(offset / stride + first), static_cast<GLsizei>(n));
    });
}

bool isLine(D3DPRIMITIVETYPE type) { return type == D3DPT_LINELIST || type == D3DPT_LINESTRIP; }

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
    drawFillWork = fillWork(*this, type,
                            stream->bytes.data() + (static_cast<std::size_t>(baseVertexIndex) + minIndex) * streamStride,
                            vertexCount, streamStride);
    flushForDraw(*this);
    GLenum indexType = indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
    GLsizei stride = static_cast<GLsizei>(streamStride);
    if (profile == GlProfile::compatibility) {
        pipeline->bindArrays(*this, stream->name, 0, stride);
        glCacheElementBuffer(indices->name);
        drawInPieces(*this, type, primitiveCount, count, [&](UINT first, UINT n) {
            std::uintptr_t at = (static_cast<std::uintptr_t>(startIndex) + first) * indexSize;
            glDrawElementsBaseVertex(mode, static_cast<GLsizei>(n), indexType, reinterpret_cast<const void*>(at),
                                     static_cast<GLint>(baseVertexIndex));
        });
    } else {
        // OpenGL ES 3.0 draws have no base vertex: the vertex inputs start there.
        pipeline->bindArrays(*this, stream->name, static_cast<std::uintptr_t>(baseVertexIndex) * streamStride, stride);
        if (turnsProvokingVertex(*this, type)) {
            const std::uint8_t* at = indices->bytes.data() + static_cast<std::size_t>(startIndex) * indexSize;
            auto index = [&](UINT i) -> std::uint32_t {
                if (indexSize == 4) {
                    std::uint32_t value;
                    std::memcpy(&value, at + static_cast<std::size_t>(i) * 4, 4);
                    return value;
                }
                std::uint16_t value;
                std::memcpy(&value, at + static_cast<std::size_t>(i) * 2, 2);
                return value;
            };
            if (isLine(type)) {
                const std::uint8_t* base = stream->bytes.data() + static_cast<std::size_t>(baseVertexIndex) * streamStride;
                UINT limit = static_cast<UINT>(stream->bytes.size() / streamStride) - baseVertexIndex;
                if (limit == 0)
                    return S_OK;
                drawFlatLines(*this, type, primitiveCount, streamStride, [&](UINT i) {
                    // An index past the buffer reads its last vertex rather than memory beyond it.
                    return base + static_cast<std::size_t>(std::min(index(i), limit - 1)) * streamStride;
                });
            } else {
                D3DPRIMITIVETYPE listType = turnForLastProvoking(type, primitiveCount, index, turnedIndices);
                drawTurned(*this, listType, primitiveCount);
            }
        } else {
            glCacheElementBuffer(indices->name);
            drawInPieces(*this, type, primitiveCount, count, [&](UINT first, UINT n) {
                std::uintptr_t at = (static_cast<std::uintptr_t>(startIndex) + first) * indexSize;
                glDrawElements(mode, static_cast<GLsizei>(n), indexType, reinterpret_cast<const void*>(at));
            });
        }
    }
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
    const auto* bytes = static_cast<const std::uint8_t*>(vertices);
    drawOneColour = glVerticesOneColour(bytes, count, stride, layout.diffuseOffset);
    drawFillWork = fillWork(*this, type, bytes, count, stride);
    bool flatLines = turnsProvokingVertex(*this, type) && isLine(type);
    UINT offset = flatLines ? 0 : streamVertices(*this, vertices, count * stride, stride);
    flushForDraw(*this);
    if (flatLines) {
        drawFlatLines(*this, type, primitiveCount, stride,
                      [&](UINT i) { return bytes + static_cast<std::size_t>(i) * stride; });
    } else if (turnsProvokingVertex(*this, type)) {
        pipeline->bindArrays(*this, streamBuffer, offset, static_cast<GLsizei>(stride));
        D3DPRIMITIVETYPE listType =
            turnForLastProvoking(type, primitiveCount, [](UINT i) { return static_cast<std::uint32_t>(i); }, turnedIndices);
        drawTurned(*this, listType, primitiveCount);
    } else {
        pipeline->bindArrays(*this, streamBuffer, 0, static_cast<GLsizei>(stride));
        drawInPieces(*this, type, primitiveCount, count, [&](UINT first, UINT n) {
            glDrawArrays(mode, static_cast<GLint>(offset / stride + first), static_cast<GLsizei>(n));
        });
    }
    glCounters.draws++;
    glCounters.primitives += primitiveCount;
    // As the original API: stream 0 is unset after a user-pointer draw.
    stream = nullptr;
    streamStride = 0;
    checkErrors("DrawPrimitiveUP");
    return S_OK;
}
