// The shader device's pipeline: the state key derived from the 3D API
// state, the program cache, the uniform blocks streamed through one ring
// buffer, textures and vertex inputs, and the factories that hand out the
// device on an OpenGL ES 3.0 or an OpenGL 3.3 core context.
// Depends on: platform/gles/gles_program.h (OpenGL), platform/gl_common.
#include "platform/gles/gles_program.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// The keys the show reaches (gles_show_keys.cpp): built when the device
// starts, behind the loading bar, so that no frame waits for a compiler.
extern const std::uint8_t GLES_SHOW_KEYS[][sizeof(GlesProgramKey)];
extern const int GLES_SHOW_KEY_COUNT;

namespace {

std::uint32_t programsCompiledTotal = 0;

// Uniform blocks, std140: vec4 and mat4 members only.
struct GlesDrawBlock {
    float worldViewProjection[16];
    float worldView[16];
    float normalMatrix[16];
};

struct GlesTexturesBlock {
    float textureMatrix[GL_DEVICE_STAGES][16];
};

struct GlesLightingBlock {
    float materialDiffuse[4], materialAmbient[4], materialSpecular[4], materialEmissive[4];
    float sceneAmbient[4];
    float materialPower[4];
    float lightPosition[GL_DEVICE_LIGHTS][4];
    float lightSpotDirection[GL_DEVICE_LIGHTS][4];
    float lightDiffuse[GL_DEVICE_LIGHTS][4];
    float lightSpecular[GL_DEVICE_LIGHTS][4];
    float lightAmbient[GL_DEVICE_LIGHTS][4];
    float lightAttenuation[GL_DEVICE_LIGHTS][4];
    float lightSpot[GL_DEVICE_LIGHTS][4];
};

struct GlesPixelBlock {
    float fogColor[4];
    float fogParameters[4];
    float alphaReference[4];
};

constexpr int BLOCKS = 4;
constexpr GLsizeiptr BLOCK_SIZES[BLOCKS] = {sizeof(GlesDrawBlock), sizeof(GlesLightingBlock), sizeof(GlesPixelBlock),
                                            sizeof(GlesTexturesBlock)};
constexpr GLsizeiptr RING_SIZE = 1 << 20;

struct GlesProgramEntry {
    GlesProgramKey key;
    GLuint program;
};

} // namespace

// The shader pipeline's record, written by this file only.
struct GlPipelineState {
    GLuint vertexArray = 0;
    std::vector<GlesProgramEntry> programs;
    GlesProgramKey key{};
    GLuint program = 0;
    bool haveKey = false;
    bool listKeys = false; // GFXCORE_SHADER_KEYS: print each new key for the table of show keys

    GLuint ring = 0;
    GLintptr ringUsed = 0;
    GLint alignment = 256;
    // What the bound block ranges hold, and whether each has been sent.
    GlesDrawBlock draw{};
    GlesLightingBlock lighting{};
    GlesPixelBlock pixel{};
    GlesTexturesBlock textures{};
    bool sent[BLOCKS] = {};
};

namespace {

// ---------------------------------------------------------------- state key

GlesProgramKey deriveKey(const GlDevice& device)
{
    GlesProgramKey key;
    std::memset(&key, 0, sizeof key);
    const DWORD* rs = device.renderStates;
    const GlVertexLayout& layout = device.layout;
    key.lighting = rs[D3DRS_LIGHTING] != 0;
    if (key.lighting) {
        for (int index = 0; index < GL_DEVICE_LIGHTS; index++)
            if (device.lightEnabled[index])
                key.lightTypes[key.lightCount++] = static_cast<std::uint8_t>(device.lights[index].Type);
        key.specular = rs[D3DRS_SPECULARENABLE] != 0;
        key.localViewer = key.specular && rs[D3DRS_LOCALVIEWER] != 0;
        key.colorMaterial = rs[D3DRS_COLORVERTEX] != 0 && rs[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1 &&
                            layout.diffuseOffset >= 0;
    }
    DWORD fogMode = rs[D3DRS_FOGTABLEMODE] != D3DFOG_NONE ? rs[D3DRS_FOGTABLEMODE] : rs[D3DRS_FOGVERTEXMODE];
    if (rs[D3DRS_FOGENABLE] != 0 && fogMode >= D3DFOG_EXP && fogMode <= D3DFOG_LINEAR) {
        key.fog = static_cast<std::uint8_t>(fogMode);
        key.rangeFog = rs[D3DRS_RANGEFOGENABLE] != 0 && rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE;
    }
    // Without the test, or with one that always passes, no alpha test at all.
    DWORD alphaFunc = rs[D3DRS_ALPHAFUNC];
    if (rs[D3DRS_ALPHATESTENABLE] != 0 && alphaFunc >= D3DCMP_NEVER && alphaFunc < D3DCMP_ALWAYS)
        key.alphaFunc = static_cast<std::uint8_t>(alphaFunc);
    key.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;

    bool usesNormal = key.lighting != 0;
    // The stages that draw: the chain ends at the first disabled colour
    // operation, and a stage without a texture passes colour and alpha on.
    for (int unit = 0; unit < GL_DEVICE_STAGES; unit++) {
        const DWORD* s = device.stageStates[unit];
        if (s[D3DTSS_COLOROP] == D3DTOP_DISABLE)
            break;
        if (device.textures[unit] == nullptr)
            continue;
        GlesStageKey& stage = key.stages[key.stageCount++];
        stage.unit = static_cast<std::uint8_t>(unit);
        stage.colorOp = static_cast<std::uint8_t>(s[D3DTSS_COLOROP]);
        stage.colorArg1 = static_cast<std::uint8_t>(s[D3DTSS_COLORARG1]);
        stage.colorArg2 = static_cast<std::uint8_t>(s[D3DTSS_COLORARG2]);
        stage.alphaOp = static_cast<std::uint8_t>(s[D3DTSS_ALPHAOP]);
        stage.alphaArg1 = static_cast<std::uint8_t>(s[D3DTSS_ALPHAARG1]);
        stage.alphaArg2 = static_cast<std::uint8_t>(s[D3DTSS_ALPHAARG2]);
        DWORD generation = s[D3DTSS_TEXCOORDINDEX] & 0xFFFF0000u;
        stage.coordinates = generation == D3DTSS_TCI_CAMERASPACENORMAL            ? GLES_COORD_NORMAL
                            : generation == D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR ? GLES_COORD_REFLECTION
                                                                                    : GLES_COORD_VERTEX;
        DWORD flags = s[D3DTSS_TEXTURETRANSFORMFLAGS];
        if ((flags & 0xFF) != D3DTTFF_DISABLE)
            stage.transform = (flags & D3DTTFF_PROJECTED) != 0 ? 2 : 1;
        if (stage.coordinates != GLES_COORD_VERTEX)
            usesNormal = true;
    }
    // Normalising matters only where a normal is used.
    key.normalize = usesNormal && rs[D3DRS_NORMALIZENORMALS] != 0;
    return key;
}

void listKey(const GlesProgramKey& key) { std::fprintf(stderr, "shader key %s\n", glesKeyListing(key).c_str()); }

// The key's program, built now if it is new.
GLuint programFor(GlDevice& device, const GlesProgramKey& key)
{
    GlPipelineState& state = *device.pipelineState;
    for (const GlesProgramEntry& entry : state.programs)
        if (glesSameKey(entry.key, key)) {
            glCounters.programCacheHits++;
            return entry.program;
        }
    std::string log;
    GLuint program = glesBuildProgram(key, device.profile, &log);
    if (program == 0)
        std::fprintf(stderr, "Shader device: a program failed to build: %s\n", log.c_str());
    glCounters.programsCompiled++;
    programsCompiledTotal++;
    if (state.listKeys)
        listKey(key);
    // A failed key is kept too (program 0): it is not tried again every draw.
    state.programs.push_back(GlesProgramEntry{key, program});
    return program;
}

// ---------------------------------------------------------------- uniform blocks

void multiply16(const float a[16], const float b[16], float out[16])
{
    for (int row = 0; row < 4; row++)
        for (int column = 0; column < 4; column++) {
            float sum = 0;
            for (int k = 0; k < 4; k++)
                sum += a[row * 4 + k] * b[k * 4 + column];
            out[row * 4 + column] = sum;
        }
}

// The normal transform of the row-major world x view: the inverse of its
// upper 3x3, laid out so that the shader's mat3(normalMatrix) * n is
// n x (M^-1)^T. Zero for a singular matrix.
void normalMatrix(const float m[16], float out[16])
{
    float a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
    float c00 = e * i - f * h, c01 = f * g - d * i, c02 = d * h - e * g;
    float determinant = a * c00 + b * c01 + c * c02;
    std::memset(out, 0, sizeof(float) * 16);
    out[15] = 1.0f;
    if (determinant == 0.0f)
        return;
    float s = 1.0f / determinant;
    // inverse[r][c] (row-major) of the 3x3
    float inverse[3][3] = {{c00 * s, (c * h - b * i) * s, (b * f - c * e) * s},
                           {c01 * s, (a * i - c * g) * s, (c * d - a * f) * s},
                           {c02 * s, (b * g - a * h) * s, (a * e - b * d) * s}};
    // GLSL column j = floats 4j..4j+2; (mat3 * n)_r = sum_j out[4j + r] n_j
    // must be sum_j n_j inverse[r][j].
    for (int r = 0; r < 3; r++)
        for (int j = 0; j < 3; j++)
            out[4 * j + r] = inverse[r][j];
}

void buildDrawBlock(GlDevice& device, GlesDrawBlock& block)
{
    glMultiplyMatrices(device.world, device.view, device.worldView);
    float projection[16];
    glShiftedProjection(device, projection);
    std::memcpy(block.worldView, device.worldView, sizeof block.worldView);
    multiply16(device.worldView, projection, block.worldViewProjection);
    normalMatrix(device.worldView, block.normalMatrix);
}

void buildTexturesBlock(const GlDevice& device, GlesTexturesBlock& block)
{
    static const float IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int stage = 0; stage < GL_DEVICE_STAGES; stage++) {
        DWORD generation = device.stageStates[stage][D3DTSS_TEXCOORDINDEX] & 0xFFFF0000u;
        bool generated = generation == D3DTSS_TCI_CAMERASPACENORMAL ||
                         generation == D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR;
        if (!glTextureMatrix(device, stage, generated, block.textureMatrix[stage]))
            std::memcpy(block.textureMatrix[stage], IDENTITY, sizeof IDENTITY);
    }
}

void buildLightingBlock(const GlDevice& device, GlesLightingBlock& block)
{
    std::memset(&block, 0, sizeof block);
    const D3DMATERIAL8& m = device.material;
    glColorValue(m.Diffuse, block.materialDiffuse);
    glColorValue(m.Ambient, block.materialAmbient);
    glColorValue(m.Specular, block.materialSpecular);
    glColorValue(m.Emissive, block.materialEmissive);
    block.materialPower[0] = std::clamp(m.Power, 0.0f, 128.0f);
    glColorFloats(device.renderStates[D3DRS_AMBIENT], block.sceneAmbient);
    int slot = 0;
    for (int index = 0; index < GL_DEVICE_LIGHTS; index++) {
        if (!device.lightEnabled[index])
            continue;
        GlCachedLight light;
        glEyeLight(device, index, &light);
        std::memcpy(block.lightPosition[slot], light.position, sizeof(float) * 4);
        std::memcpy(block.lightSpotDirection[slot], light.spotDirection, sizeof(float) * 3);
        std::memcpy(block.lightDiffuse[slot], light.diffuse, sizeof(float) * 4);
        std::memcpy(block.lightSpecular[slot], light.specular, sizeof(float) * 4);
        std::memcpy(block.lightAmbient[slot], light.ambient, sizeof(float) * 4);
        std::memcpy(block.lightAttenuation[slot], light.attenuation, sizeof(float) * 3);
        block.lightSpot[slot][0] = light.spotCutoff >= 180.0f ? -2.0f : std::cos(light.spotCutoff * 3.14159265f / 180.0f);
        block.lightSpot[slot][1] = light.spotExponent;
        slot++;
    }
}

void buildPixelBlock(const GlDevice& device, GlesPixelBlock& block)
{
    std::memset(&block, 0, sizeof block);
    const DWORD* rs = device.renderStates;
    glColorFloats(rs[D3DRS_FOGCOLOR], block.fogColor);
    float start = glFloatBits(rs[D3DRS_FOGSTART]);
    float end = glFloatBits(rs[D3DRS_FOGEND]);
    block.fogParameters[0] = start;
    block.fogParameters[1] = end;
    block.fogParameters[2] = glFloatBits(rs[D3DRS_FOGDENSITY]);
    block.fogParameters[3] = end != start ? 1.0f / (end - start) : 0.0f;
    block.alphaReference[0] = static_cast<float>(rs[D3DRS_ALPHAREF] & 0xFF);
}

// Rebuilds one block from the device's state; it is sent only when it was
// never sent or its contents differ from what was sent last.
template <typename Block, typename Builder>
void refreshBlock(GlPipelineState& state, int index, GlDevice& device, Builder build, Block& sent, bool changed[BLOCKS])
{
    Block block;
    build(device, block);
    if (!state.sent[index] || std::memcmp(&block, &sent, sizeof block) != 0) {
        sent = block;
        changed[index] = true;
    }
}

// Sends the blocks whose contents changed, each to a fresh range of the
// ring (mapped unsynchronised: draws still queued read older ranges, so
// nothing waits for them). A full ring gets new storage, and then every
// block is sent again, since the old ranges went with the old storage.
void sendBlocks(GlPipelineState& state, const void* const blocks[BLOCKS], bool changed[BLOCKS])
{
    auto aligned = [&](GLintptr at) { return (at + state.alignment - 1) / state.alignment * state.alignment; };
    GLintptr need = 0;
    for (int i = 0; i < BLOCKS; i++)
        if (changed[i])
            need += aligned(BLOCK_SIZES[i]);
    if (need == 0)
        return;
    glBindBuffer(GL_UNIFORM_BUFFER, state.ring);
    glCountState();
    if (aligned(state.ringUsed) + need > RING_SIZE) {
        glBufferData(GL_UNIFORM_BUFFER, RING_SIZE, nullptr, GL_STREAM_DRAW);
        state.ringUsed = 0;
        for (int i = 0; i < BLOCKS; i++)
            changed[i] = true;
    }
    // Each changed block at its aligned place after the last one sent.
    GLintptr offsets[BLOCKS] = {};
    GLintptr start = -1;
    for (int i = 0; i < BLOCKS; i++) {
        if (!changed[i])
            continue;
        offsets[i] = aligned(state.ringUsed);
        state.ringUsed = offsets[i] + BLOCK_SIZES[i];
        if (start < 0)
            start = offsets[i];
    }
#ifdef __EMSCRIPTEN__
    // WebGL 2 maps no buffers: each block goes up as a copy.
    (void)start;
    for (int i = 0; i < BLOCKS; i++)
        if (changed[i])
            glBufferSubData(GL_UNIFORM_BUFFER, offsets[i], BLOCK_SIZES[i], blocks[i]);
#else
    // One mapping for all of them: a draw that moves a lit object changes
    // two blocks, and a mapping costs the driver more than the copy.
    auto* to = static_cast<std::uint8_t*>(
        glMapBufferRange(GL_UNIFORM_BUFFER, start, state.ringUsed - start,
                         GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT | GL_MAP_UNSYNCHRONIZED_BIT));
    if (to != nullptr) {
        for (int i = 0; i < BLOCKS; i++)
            if (changed[i])
                std::memcpy(to + (offsets[i] - start), blocks[i], static_cast<size_t>(BLOCK_SIZES[i]));
        glUnmapBuffer(GL_UNIFORM_BUFFER);
    }
#endif
    for (int i = 0; i < BLOCKS; i++) {
        if (!changed[i])
            continue;
        state.sent[i] = true;
        glCounters.bufferUploads++;
        glCounters.uploadedBytes += static_cast<std::uint32_t>(BLOCK_SIZES[i]);
        // The range moved: bind it (the cache compares buffer and offset).
        glesCacheUniformRange(i, state.ring, static_cast<std::uintptr_t>(offsets[i]), BLOCK_SIZES[i]);
    }
}

// ---------------------------------------------------------------- pipeline

void flushForDraw(GlDevice& device)
{
    GlPipelineState& state = *device.pipelineState;
    bool derive = !state.haveKey || device.dirtyRenderStates || device.dirtyStages || device.dirtyLights;
    GlesProgramKey key = derive ? deriveKey(device) : state.key;
    // Unlit vertices of one colour give the same colour flat or smooth;
    // smooth, Mesa's rasteriser may fill a screen-aligned rectangle whole
    // (flat inputs keep it on triangles), as on the fixed-function device.
    key.flat = device.renderStates[D3DRS_SHADEMODE] == D3DSHADE_FLAT && (key.lighting || !device.drawOneColour);
    if (!state.haveKey || !glesSameKey(key, state.key)) {
        state.key = key;
        state.program = programFor(device, key);
        state.haveKey = true;
    } else {
        glCounters.programCacheHits++;
    }
    glesCacheProgram(state.program);

    bool changed[BLOCKS] = {};
    if (!state.sent[GLES_BLOCK_DRAW] || device.dirtyTransforms || device.dirtyTarget)
        refreshBlock(state, GLES_BLOCK_DRAW, device, buildDrawBlock, state.draw, changed);
    if (!state.sent[GLES_BLOCK_LIGHTING] || device.dirtyMaterial || device.dirtyLights || device.dirtyRenderStates)
        refreshBlock(state, GLES_BLOCK_LIGHTING, device, buildLightingBlock, state.lighting, changed);
    if (!state.sent[GLES_BLOCK_PIXEL] || device.dirtyRenderStates)
        refreshBlock(state, GLES_BLOCK_PIXEL, device, buildPixelBlock, state.pixel, changed);
    if (!state.sent[GLES_BLOCK_TEXTURES] || device.dirtyStages)
        refreshBlock(state, GLES_BLOCK_TEXTURES, device, buildTexturesBlock, state.textures, changed);
    const void* blocks[BLOCKS] = {&state.draw, &state.lighting, &state.pixel, &state.textures};
    sendBlocks(state, blocks, changed);

    for (int i = 0; i < state.key.stageCount; i++) {
        int unit = state.key.stages[i].unit;
        GlTexture* texture = device.textures[unit];
        glCacheBindTexture(unit, texture->name);
        glCacheSampler(*texture, unit, glSamplerFor(device.stageStates[unit]));
    }
    device.dirtyRenderStates = device.dirtyStages = device.dirtyTransforms = false;
    device.dirtyLights = device.dirtyMaterial = device.dirtyTarget = false;
}

void bindArrays(GlDevice& device, GLuint buffer, std::uintptr_t base, GLsizei stride)
{
    const GlVertexLayout& layout = device.layout;
    const GlesProgramKey& key = device.pipelineState->key;
    static const float ZERO[4] = {0, 0, 0, 1};
    static const float WHITE[4] = {1, 1, 1, 1};
    glesCacheAttribute(GLES_ATTRIBUTE_POSITION, buffer, 3, GL_FLOAT, base, stride);
    if (layout.normalOffset >= 0)
        glesCacheAttribute(GLES_ATTRIBUTE_NORMAL, buffer, 3, GL_FLOAT, base + static_cast<std::uintptr_t>(layout.normalOffset),
                           stride);
    else
        glesCacheAttributeConstant(GLES_ATTRIBUTE_NORMAL, ZERO);
    if (layout.diffuseOffset >= 0)
        glesCacheAttribute(GLES_ATTRIBUTE_COLOR, buffer, 4, GL_UNSIGNED_BYTE,
                           base + static_cast<std::uintptr_t>(layout.diffuseOffset), stride);
    else
        glesCacheAttributeConstant(GLES_ATTRIBUTE_COLOR, WHITE);
    for (int i = 0; i < key.stageCount; i++) {
        const GlesStageKey& stage = key.stages[i];
        if (stage.coordinates != GLES_COORD_VERTEX)
            continue;
        int set = static_cast<int>(device.stageStates[stage.unit][D3DTSS_TEXCOORDINDEX] & 0xFFFF);
        int location = GLES_ATTRIBUTE_COORDINATES + stage.unit;
        if (set < layout.textureSets)
            glesCacheAttribute(location, buffer, 2, GL_FLOAT, base + static_cast<std::uintptr_t>(layout.textureOffset[set]),
                               stride);
        else
            glesCacheAttributeConstant(location, ZERO);
    }
}

void reset(GlDevice& device)
{
    glesCacheReset();
    GlPipelineState* state = device.pipelineState;
    if (state == nullptr)
        return; // before start: it binds its own objects
    glBindVertexArray(state->vertexArray);
    if (device.profile == GlProfile::core) {
        glEnable(GL_PROGRAM_POINT_SIZE);
        glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    }
    for (bool& sent : state->sent)
        sent = false;
    state->haveKey = false;
}

bool start(GlDevice& device)
{
    GlPipelineState* state = new GlPipelineState();
    device.pipelineState = state;
    state->listKeys = std::getenv("GFXCORE_SHADER_KEYS") != nullptr;
    glGenVertexArrays(1, &state->vertexArray);
    glGenBuffers(1, &state->ring);
    glBindBuffer(GL_UNIFORM_BUFFER, state->ring);
    glBufferData(GL_UNIFORM_BUFFER, RING_SIZE, nullptr, GL_STREAM_DRAW);
    glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &state->alignment);
    state->alignment = std::max(state->alignment, 16);
    reset(device);
    // The show's programs, built before its first frame (not listed: the
    // listing tells which keys the table lacks).
    bool listKeys = state->listKeys;
    state->listKeys = false;
    for (int i = 0; i < GLES_SHOW_KEY_COUNT; i++) {
        GlesProgramKey key;
        std::memcpy(&key, GLES_SHOW_KEYS[i], sizeof key);
        programFor(device, key);
    }
    state->listKeys = listKeys;
    glesCacheProgram(0);
    return true;
}

void release(GlDevice& device)
{
    GlPipelineState* state = device.pipelineState;
    if (state == nullptr)
        return;
    for (const GlesProgramEntry& entry : state->programs)
        if (entry.program != 0)
            glDeleteProgram(entry.program);
    glDeleteBuffers(1, &state->ring);
    glDeleteVertexArrays(1, &state->vertexArray);
    delete state;
    device.pipelineState = nullptr;
}

} // namespace

const GlPipeline glesPipeline = {start, reset, flushForDraw, bindArrays, release};

IDirect3D8* glesDirect3DCreate8(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return glCreateFactory(GlProfile::es, &glesPipeline);
}

IDirect3D8* glCoreDirect3DCreate8(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return glCreateFactory(GlProfile::core, &glesPipeline);
}

std::uint32_t glDeviceProgramsCompiled() { return programsCompiledTotal; }
