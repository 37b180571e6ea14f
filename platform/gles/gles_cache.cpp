// The shader pipeline's part of the GL record and its cached setters: the
// program, the uniform-block ranges and the generic vertex inputs. Each one
// compares the wanted value with the record, stores it, calls GL and counts.
// Depends on: platform/gl_common/gl_common.h (OpenGL ES 3.0 / 3.3 core).
#include "platform/gl_common/gl_common.h"

void glesCacheReset()
{
    GlCache& c = glCache;
    // The vertex shader turns the picture upside down to put row 0 at the
    // top, which turns windings too: clockwise on screen is counter-clockwise
    // to GL.
    glFrontFace(GL_CCW);
    glUseProgram(0);
    c.program = 0;
    for (int binding = 0; binding < 4; binding++) {
        c.uniformBuffer[binding] = 0;
        c.uniformOffset[binding] = 0;
    }
    for (int index = 0; index < GL_DEVICE_ATTRIBUTES; index++) {
        GlCachedAttribute& a = c.attributes[index];
        a = GlCachedAttribute{};
        glDisableVertexAttribArray(static_cast<GLuint>(index));
        glVertexAttrib4f(static_cast<GLuint>(index), 0, 0, 0, 1);
        a.constant[3] = 1.0f;
    }
}

void glesCacheProgram(GLuint program)
{
    if (glCache.program == program)
        return;
    glCache.program = program;
    glUseProgram(program);
    glCountPixelState();
}

void glesCacheUniformRange(int binding, GLuint buffer, std::uintptr_t offset, GLsizeiptr size)
{
    if (glCache.uniformBuffer[binding] == buffer && glCache.uniformOffset[binding] == offset)
        return;
    glCache.uniformBuffer[binding] = buffer;
    glCache.uniformOffset[binding] = offset;
    glBindBufferRange(GL_UNIFORM_BUFFER, static_cast<GLuint>(binding), buffer, static_cast<GLintptr>(offset), size);
    glCountState();
}

void glesCacheAttribute(int index, GLuint buffer, GLint size, GLenum type, std::uintptr_t offset, GLsizei stride)
{
    GlCachedAttribute& a = glCache.attributes[index];
    GLuint location = static_cast<GLuint>(index);
    if (!a.array) {
        a.array = true;
        glEnableVertexAttribArray(location);
        glCountState();
    }
    if (a.buffer == buffer && a.offset == offset && a.stride == stride && a.size == size && a.type == type)
        return;
    glCacheArrayBuffer(buffer);
    a.buffer = buffer;
    a.offset = offset;
    a.stride = stride;
    a.size = size;
    a.type = type;
    glVertexAttribPointer(location, size, type, type == GL_FLOAT ? GL_FALSE : GL_TRUE, stride,
                          reinterpret_cast<const void*>(offset));
    glCountState();
}

void glesCacheAttributeConstant(int index, const float value[4])
{
    GlCachedAttribute& a = glCache.attributes[index];
    GLuint location = static_cast<GLuint>(index);
    if (a.array) {
        a.array = false;
        glDisableVertexAttribArray(location);
        glCountState();
    } else if (glSameFloats(a.constant, value, 4)) {
        return;
    }
    glStoreFloats(a.constant, value, 4);
    glVertexAttrib4fv(location, value);
    glCountState();
}

void glesCacheForgetBuffer(GLuint buffer)
{
    for (GlCachedAttribute& a : glCache.attributes)
        if (a.buffer == buffer)
            a.buffer = ~0u;
    for (int binding = 0; binding < 4; binding++)
        if (glCache.uniformBuffer[binding] == buffer)
            glCache.uniformBuffer[binding] = 0;
}
