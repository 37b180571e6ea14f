// The record of what GL holds and the cached setters both OpenGL devices
// use: each one compares the wanted value with the record, stores it, calls
// GL and counts the call. glCacheReset sets the shared state in GL and in
// the record together; each pipeline's reset does its own part.
// Depends on: platform/gl_common/gl_common.h (OpenGL).
#include "platform/gl_common/gl_common.h"

#include <cstring>

GlCache glCache;

namespace {

int cacheUnits = 8;

} // namespace

void glCacheReset(int units)
{
    cacheUnits = units < GL_DEVICE_STAGES ? units : GL_DEVICE_STAGES;
    GlCache& c = glCache;
    c = GlCache{};

    // Fixed for the life of the context: tightly packed pixel rows. (Which
    // winding faces front is the pipeline's: it depends on how it puts row 0
    // at the top.)
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DITHER);
    glDisable(GL_SCISSOR_TEST);
    glDepthFunc(GL_LESS);
    c.depthFunc = GL_LESS;
    glDepthMask(GL_TRUE);
    c.depthMask = true;
    glBlendFunc(GL_ONE, GL_ZERO);
    c.blendSource = GL_ONE;
    c.blendDestination = GL_ZERO;
    glBlendEquation(GL_FUNC_ADD);
    c.blendEquation = GL_FUNC_ADD;
    glCullFace(GL_BACK);
    c.cullFaceMode = GL_BACK;
    glClearColor(0, 0, 0, 0);
    glClearDepthf(1.0f);
    c.clearDepth = 1.0f;
    glScissor(0, 0, 0, 0);
    glViewport(0, 0, 0, 0);
    glLineWidth(1.0f);
    c.lineWidth = 1.0f;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    for (int unit = 0; unit < cacheUnits; unit++) {
        glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glActiveTexture(GL_TEXTURE0);
}

void glCacheEnable(bool& cached, GLenum capability, bool on)
{
    if (cached == on)
        return;
    cached = on;
    if (on)
        glEnable(capability);
    else
        glDisable(capability);
    bool vertexStage = capability == GL_LIGHTING || capability == GL_NORMALIZE || capability == GL_COLOR_MATERIAL ||
                       capability == GL_CULL_FACE;
    if (vertexStage)
        glCountState();
    else
        glCountPixelState();
}

void glCacheDepthFunc(GLenum function)
{
    if (glCache.depthFunc == function)
        return;
    glCache.depthFunc = function;
    glDepthFunc(function);
    glCountPixelState();
}

void glCacheDepthMask(bool on)
{
    if (glCache.depthMask == on)
        return;
    glCache.depthMask = on;
    glDepthMask(on ? GL_TRUE : GL_FALSE);
    glCountPixelState();
}

void glCacheBlendFunc(GLenum source, GLenum destination)
{
    if (glCache.blendSource == source && glCache.blendDestination == destination)
        return;
    glCache.blendSource = source;
    glCache.blendDestination = destination;
    glBlendFunc(source, destination);
    glCountPixelState();
}

void glCacheBlendEquation(GLenum equation)
{
    if (glCache.blendEquation == equation)
        return;
    glCache.blendEquation = equation;
    glBlendEquation(equation);
    glCountPixelState();
}

void glCacheCullFace(GLenum mode)
{
    if (glCache.cullFaceMode == mode)
        return;
    glCache.cullFaceMode = mode;
    glCullFace(mode);
    glCountState();
}

void glCacheClearColor(const float color[4])
{
    if (glSameFloats(glCache.clearColor, color, 4))
        return;
    glStoreFloats(glCache.clearColor, color, 4);
    glClearColor(color[0], color[1], color[2], color[3]);
    glCountState();
}

void glCacheClearDepth(float depth)
{
    if (glCache.clearDepth == depth)
        return;
    glCache.clearDepth = depth;
    glClearDepthf(depth);
    glCountState();
}

void glCacheScissor(int x, int y, int width, int height)
{
    int* box = glCache.scissorBox;
    if (box[0] == x && box[1] == y && box[2] == width && box[3] == height)
        return;
    box[0] = x;
    box[1] = y;
    box[2] = width;
    box[3] = height;
    glScissor(x, y, width, height);
    glCountPixelState();
}

void glCacheViewport(int x, int y, int width, int height)
{
    int* box = glCache.viewport;
    if (box[0] == x && box[1] == y && box[2] == width && box[3] == height)
        return;
    box[0] = x;
    box[1] = y;
    box[2] = width;
    box[3] = height;
    glViewport(x, y, width, height);
    glCountState();
}

void glCacheLineWidth(float width)
{
    if (glCache.lineWidth == width)
        return;
    glCache.lineWidth = width;
    glLineWidth(width);
    glCountState();
}

void glCacheDrawFramebuffer(GLuint framebuffer)
{
    if (glCache.drawFramebuffer == framebuffer)
        return;
    glCache.drawFramebuffer = framebuffer;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glCountPixelState();
}

void glCacheReadFramebuffer(GLuint framebuffer)
{
    if (glCache.readFramebuffer == framebuffer)
        return;
    glCache.readFramebuffer = framebuffer;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glCountState();
}

void glCacheArrayBuffer(GLuint buffer)
{
    if (glCache.arrayBuffer == buffer)
        return;
    glCache.arrayBuffer = buffer;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glCountState();
}

void glCacheElementBuffer(GLuint buffer)
{
    if (glCache.elementBuffer == buffer)
        return;
    glCache.elementBuffer = buffer;
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
    glCountState();
}

void glCacheActiveUnit(int unit)
{
    if (glCache.activeUnit == unit)
        return;
    glCache.activeUnit = unit;
    glActiveTexture(GL_TEXTURE0 + unit);
    glCountState();
}

void glCacheBindTexture(int unit, GLuint texture)
{
    if (glCache.units[unit].texture == texture)
        return;
    glCacheActiveUnit(unit);
    glCache.units[unit].texture = texture;
    glBindTexture(GL_TEXTURE_2D, texture);
    glCountPixelState();
}

void glCacheSampler(GlTexture& texture, int unit, const GlSamplerParams& params)
{
    GlSamplerParams& s = texture.sampler;
    if (s.minFilter == params.minFilter && s.magFilter == params.magFilter && s.wrapS == params.wrapS &&
        s.wrapT == params.wrapT)
        return;
    glCacheBindTexture(unit, texture.name);
    glCacheActiveUnit(unit);
    auto set = [](GLint& cached, GLenum name, GLint value) {
        if (cached == value)
            return;
        cached = value;
        glTexParameteri(GL_TEXTURE_2D, name, value);
        glCountPixelState();
    };
    set(s.minFilter, GL_TEXTURE_MIN_FILTER, params.minFilter);
    set(s.magFilter, GL_TEXTURE_MAG_FILTER, params.magFilter);
    set(s.wrapS, GL_TEXTURE_WRAP_S, params.wrapS);
    set(s.wrapT, GL_TEXTURE_WRAP_T, params.wrapT);
}

void glCacheForgetTexture(GLuint texture)
{
    for (int unit = 0; unit < cacheUnits; unit++)
        if (glCache.units[unit].texture == texture)
            glCache.units[unit].texture = 0; // GL unbinds a deleted texture
}

void glCacheForgetFramebuffer(GLuint framebuffer)
{
    if (glCache.drawFramebuffer == framebuffer)
        glCache.drawFramebuffer = 0;
    if (glCache.readFramebuffer == framebuffer)
        glCache.readFramebuffer = 0;
}

void glCacheForgetBuffer(GLuint buffer)
{
    // GL unbinds a deleted buffer from the binding points; vertex inputs
    // keep naming it, so make them be set again.
    if (glCache.arrayBuffer == buffer)
        glCache.arrayBuffer = 0;
    if (glCache.elementBuffer == buffer)
        glCache.elementBuffer = 0;
    glFixedCacheForgetBuffer(buffer);
    glesCacheForgetBuffer(buffer);
}
