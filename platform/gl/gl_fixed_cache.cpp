// The fixed-function part of the GL record and its cached setters: each
// one compares the wanted value with the record, stores it, calls GL and
// counts the call. glFixedCacheReset sets the fixed-function state in GL
// and in the record together, after the shared glCacheReset.
// Depends on: platform/gl_common/gl_common.h (OpenGL, compatibility profile).
#include "platform/gl_common/gl_common.h"

#include <cstring>
#include <limits>

namespace {

int cacheUnits = 8;

void selectMatrixMode(GLenum mode)
{
    if (glCache.matrixMode == mode)
        return;
    glCache.matrixMode = mode;
    glMatrixMode(mode);
    glCountState();
}

void selectClientUnit(int unit)
{
    if (glCache.clientUnit == unit)
        return;
    glCache.clientUnit = unit;
    glClientActiveTexture(GL_TEXTURE0 + unit);
    glCountState();
}

const float IDENTITY[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void setArray(GLenum array, bool& enabled, bool on)
{
    if (enabled == on)
        return;
    enabled = on;
    if (on)
        glEnableClientState(array);
    else
        glDisableClientState(array);
    glCountState();
}

} // namespace

void glFixedCacheReset(int units, bool fogDistance)
{
    cacheUnits = units < GL_DEVICE_STAGES ? units : GL_DEVICE_STAGES;
    GlCache& c = glCache;
    c.hasFogDistance = fogDistance;

    // Fixed for the life of the context: front faces wind clockwise on
    // screen (the clip origin is the upper left), the diffuse material follows the
    // vertex colour when colour material is on, flat shading takes the first
    // vertex's colour, the one default VAO.
    glFrontFace(GL_CW);
    glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SINGLE_COLOR);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glDepthRange(0.0, 1.0);
    glHint(GL_FOG_HINT, GL_NICEST);

    glDisable(GL_ALPHA_TEST);
    glDisable(GL_FOG);
    glDisable(GL_LIGHTING);
    glDisable(GL_NORMALIZE);
    glDisable(GL_COLOR_MATERIAL);
    glAlphaFunc(GL_ALWAYS, 0.0f);
    c.alphaFunction = GL_ALWAYS;
    glShadeModel(GL_SMOOTH);
    c.shadeModel = GL_SMOOTH;
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    c.polygonMode = GL_FILL;
    glFogfv(GL_FOG_COLOR, c.fogColor);
    glFogf(GL_FOG_START, 0.0f);
    glFogf(GL_FOG_END, 1.0f);
    c.fogEnd = 1.0f;
    glFogf(GL_FOG_DENSITY, 1.0f);
    c.fogDensity = 1.0f;
    glFogi(GL_FOG_MODE, GL_LINEAR);
    c.fogMode = GL_LINEAR;
    glFogi(GL_FOG_COORDINATE_SOURCE, GL_FRAGMENT_DEPTH);
    if (fogDistance) {
        glFogi(GL_FOG_DISTANCE_MODE_NV, GL_EYE_PLANE_ABSOLUTE_NV);
        c.fogDistance = GL_EYE_PLANE_ABSOLUTE_NV;
    }
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, c.ambient);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_FALSE);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glStoreFloats(c.projection, IDENTITY, 16);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glStoreFloats(c.modelview, IDENTITY, 16);
    c.matrixMode = GL_MODELVIEW;

    // Material: the GL defaults are not the record's zeros, so set them.
    const float zero[4] = {0, 0, 0, 0};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, zero);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);

    // Lights: off, everything zero; modelview is the identity here, so the
    // positions are stored as given.
    for (int index = 0; index < GL_DEVICE_LIGHTS; index++) {
        GLenum light = GL_LIGHT0 + index;
        glDisable(light);
        glLightfv(light, GL_POSITION, zero);
        glLightfv(light, GL_SPOT_DIRECTION, zero);
        glLightfv(light, GL_AMBIENT, zero);
        glLightfv(light, GL_DIFFUSE, zero);
        glLightfv(light, GL_SPECULAR, zero);
        glLightf(light, GL_CONSTANT_ATTENUATION, 0.0f);
        glLightf(light, GL_LINEAR_ATTENUATION, 0.0f);
        glLightf(light, GL_QUADRATIC_ATTENUATION, 0.0f);
        glLightf(light, GL_SPOT_CUTOFF, 180.0f);
        glLightf(light, GL_SPOT_EXPONENT, 0.0f);
        c.lights[index].spotCutoff = 180.0f;
    }

    for (int unit = 0; unit < cacheUnits; unit++) {
        GlCachedUnit& u = c.units[unit];
        glActiveTexture(GL_TEXTURE0 + unit);
        glClientActiveTexture(GL_TEXTURE0 + unit);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_TEXTURE_GEN_S);
        glDisable(GL_TEXTURE_GEN_T);
        glDisable(GL_TEXTURE_GEN_R);
        glDisable(GL_TEXTURE_GEN_Q);
        glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_NORMAL_MAP);
        glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_NORMAL_MAP);
        glTexGeni(GL_R, GL_TEXTURE_GEN_MODE, GL_NORMAL_MAP);
        u.texgenMode = GL_NORMAL_MAP;
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
        glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
        glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_MODULATE);
        u.combineRgb = u.combineAlpha = GL_MODULATE;
        const GLint sources[3] = {GL_TEXTURE, GL_PREVIOUS, GL_CONSTANT};
        const GLenum sourceNames[3][2] = {{GL_SRC0_RGB, GL_SRC0_ALPHA}, {GL_SRC1_RGB, GL_SRC1_ALPHA},
                                          {GL_SRC2_RGB, GL_SRC2_ALPHA}};
        const GLenum operandNames[3][2] = {{GL_OPERAND0_RGB, GL_OPERAND0_ALPHA},
                                           {GL_OPERAND1_RGB, GL_OPERAND1_ALPHA},
                                           {GL_OPERAND2_RGB, GL_OPERAND2_ALPHA}};
        for (int i = 0; i < 3; i++) {
            glTexEnvi(GL_TEXTURE_ENV, sourceNames[i][0], sources[i]);
            glTexEnvi(GL_TEXTURE_ENV, sourceNames[i][1], sources[i]);
            glTexEnvi(GL_TEXTURE_ENV, operandNames[i][0], GL_SRC_COLOR);
            glTexEnvi(GL_TEXTURE_ENV, operandNames[i][1], GL_SRC_ALPHA);
            u.sourceRgb[i] = u.sourceAlpha[i] = sources[i];
            u.operandRgb[i] = GL_SRC_COLOR;
            u.operandAlpha[i] = GL_SRC_ALPHA;
        }
        glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, 1.0f);
        glTexEnvf(GL_TEXTURE_ENV, GL_ALPHA_SCALE, 1.0f);
        u.scaleRgb = u.scaleAlpha = 1.0f;
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glStoreFloats(u.matrix, IDENTITY, 16);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glMultiTexCoord4f(GL_TEXTURE0 + unit, 0, 0, 0, 1);
    }
    glMatrixMode(GL_MODELVIEW);
    glActiveTexture(GL_TEXTURE0);
    glClientActiveTexture(GL_TEXTURE0);

    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glNormal3f(0, 0, 0);
    glColor4f(1, 1, 1, 1);
}

void glCacheAlphaFunc(GLenum function, float reference)
{
    if (glCache.alphaFunction == function && glCache.alphaReference == reference)
        return;
    glCache.alphaFunction = function;
    glCache.alphaReference = reference;
    glAlphaFunc(function, reference);
    glCountPixelState();
}

void glCacheShadeModel(GLenum mode)
{
    if (glCache.shadeModel == mode)
        return;
    glCache.shadeModel = mode;
    glShadeModel(mode);
    glCountPixelState();
}

void glCachePolygonMode(GLenum mode)
{
    if (glCache.polygonMode == mode)
        return;
    glCache.polygonMode = mode;
    glPolygonMode(GL_FRONT_AND_BACK, mode);
    glCountPixelState();
}

void glCacheFogColor(const float color[4])
{
    if (glSameFloats(glCache.fogColor, color, 4))
        return;
    glStoreFloats(glCache.fogColor, color, 4);
    glFogfv(GL_FOG_COLOR, color);
    glCountPixelState();
}

void glCacheFogRange(float start, float end, float density)
{
    if (glCache.fogStart != start) {
        glCache.fogStart = start;
        glFogf(GL_FOG_START, start);
        glCountPixelState();
    }
    if (glCache.fogEnd != end) {
        glCache.fogEnd = end;
        glFogf(GL_FOG_END, end);
        glCountPixelState();
    }
    if (glCache.fogDensity != density) {
        glCache.fogDensity = density;
        glFogf(GL_FOG_DENSITY, density);
        glCountPixelState();
    }
}

void glCacheFogMode(GLenum mode)
{
    if (glCache.fogMode == mode)
        return;
    glCache.fogMode = mode;
    glFogi(GL_FOG_MODE, static_cast<GLint>(mode));
    glCountPixelState();
}

void glCacheFogDistance(GLenum mode)
{
    if (!glCache.hasFogDistance || glCache.fogDistance == mode)
        return;
    glCache.fogDistance = mode;
    glFogi(GL_FOG_DISTANCE_MODE_NV, static_cast<GLint>(mode));
    glCountState();
}

void glCacheAmbient(const float color[4])
{
    if (glSameFloats(glCache.ambient, color, 4))
        return;
    glStoreFloats(glCache.ambient, color, 4);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, color);
    glCountState();
}

void glCacheLocalViewer(bool on)
{
    if (glCache.localViewer == on)
        return;
    glCache.localViewer = on;
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, on ? GL_TRUE : GL_FALSE);
    glCountState();
}

// Specular added after texturing costs every lit pixel a second colour; with
// specular off that colour is zero, so it is only asked for when specular is on.
void glCacheSeparateSpecular(bool on)
{
    if (glCache.separateSpecular == on)
        return;
    glCache.separateSpecular = on;
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, on ? GL_SEPARATE_SPECULAR_COLOR : GL_SINGLE_COLOR);
    glCountPixelState();
}

void glCacheTexture2D(int unit, bool on)
{
    if (glCache.units[unit].texture2D == on)
        return;
    glCacheActiveUnit(unit);
    glCacheEnable(glCache.units[unit].texture2D, GL_TEXTURE_2D, on);
}

void glCacheTexgen(int unit, bool on, GLint mode)
{
    GlCachedUnit& u = glCache.units[unit];
    if (on && u.texgenMode != mode) {
        glCacheActiveUnit(unit);
        u.texgenMode = mode;
        glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, mode);
        glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, mode);
        glTexGeni(GL_R, GL_TEXTURE_GEN_MODE, mode);
        glCountState();
    }
    if (u.texgen == on)
        return;
    glCacheActiveUnit(unit);
    u.texgen = on;
    if (on) {
        glEnable(GL_TEXTURE_GEN_S);
        glEnable(GL_TEXTURE_GEN_T);
        glEnable(GL_TEXTURE_GEN_R);
    } else {
        glDisable(GL_TEXTURE_GEN_S);
        glDisable(GL_TEXTURE_GEN_T);
        glDisable(GL_TEXTURE_GEN_R);
    }
    glCountState();
}

void glCacheCombine(int unit, GLint combineRgb, const GLint sourceRgb[3], const GLint operandRgb[3], GLfloat scaleRgb,
                    GLint combineAlpha, const GLint sourceAlpha[3], const GLint operandAlpha[3], GLfloat scaleAlpha)
{
    GlCachedUnit& u = glCache.units[unit];
    auto set = [&](GLint& cached, GLenum name, GLint value) {
        if (cached == value)
            return;
        glCacheActiveUnit(unit);
        cached = value;
        glTexEnvi(GL_TEXTURE_ENV, name, value);
        glCountPixelState();
    };
    auto setScale = [&](GLfloat& cached, GLenum name, GLfloat value) {
        if (cached == value)
            return;
        glCacheActiveUnit(unit);
        cached = value;
        glTexEnvf(GL_TEXTURE_ENV, name, value);
        glCountPixelState();
    };
    static const GLenum SOURCE_RGB[3] = {GL_SRC0_RGB, GL_SRC1_RGB, GL_SRC2_RGB};
    static const GLenum SOURCE_ALPHA[3] = {GL_SRC0_ALPHA, GL_SRC1_ALPHA, GL_SRC2_ALPHA};
    static const GLenum OPERAND_RGB[3] = {GL_OPERAND0_RGB, GL_OPERAND1_RGB, GL_OPERAND2_RGB};
    static const GLenum OPERAND_ALPHA[3] = {GL_OPERAND0_ALPHA, GL_OPERAND1_ALPHA, GL_OPERAND2_ALPHA};
    set(u.combineRgb, GL_COMBINE_RGB, combineRgb);
    set(u.combineAlpha, GL_COMBINE_ALPHA, combineAlpha);
    for (int i = 0; i < 3; i++) {
        set(u.sourceRgb[i], SOURCE_RGB[i], sourceRgb[i]);
        set(u.operandRgb[i], OPERAND_RGB[i], operandRgb[i]);
        set(u.sourceAlpha[i], SOURCE_ALPHA[i], sourceAlpha[i]);
        set(u.operandAlpha[i], OPERAND_ALPHA[i], operandAlpha[i]);
    }
    setScale(u.scaleRgb, GL_RGB_SCALE, scaleRgb);
    setScale(u.scaleAlpha, GL_ALPHA_SCALE, scaleAlpha);
}

void glCacheModelview(const float matrix[16])
{
    if (glSameFloats(glCache.modelview, matrix, 16))
        return;
    glStoreFloats(glCache.modelview, matrix, 16);
    selectMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(matrix);
    glCountState();
}

void glCacheProjection(const float matrix[16])
{
    if (glSameFloats(glCache.projection, matrix, 16))
        return;
    glStoreFloats(glCache.projection, matrix, 16);
    selectMatrixMode(GL_PROJECTION);
    glLoadMatrixf(matrix);
    glCountState();
}

void glCacheTextureMatrix(int unit, const float matrix[16])
{
    GlCachedUnit& u = glCache.units[unit];
    if (glSameFloats(u.matrix, matrix, 16))
        return;
    glStoreFloats(u.matrix, matrix, 16);
    glCacheActiveUnit(unit);
    selectMatrixMode(GL_TEXTURE);
    glLoadMatrixf(matrix);
    glCountState();
}

void glCacheMaterial(const GlCachedMaterial& material)
{
    GlCachedMaterial& m = glCache.material;
    auto set = [](float* cached, GLenum name, const float* value) {
        if (glSameFloats(cached, value, 4))
            return;
        glStoreFloats(cached, value, 4);
        glMaterialfv(GL_FRONT_AND_BACK, name, value);
        glCountState();
    };
    set(m.ambient, GL_AMBIENT, material.ambient);
    // While colour material is on, the vertex colour is the diffuse material.
    if (!glCache.colorMaterial)
        set(m.diffuse, GL_DIFFUSE, material.diffuse);
    set(m.specular, GL_SPECULAR, material.specular);
    set(m.emission, GL_EMISSION, material.emission);
    if (m.shininess != material.shininess) {
        m.shininess = material.shininess;
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, material.shininess);
        glCountState();
    }
}

void glCacheForgetMaterialDiffuse()
{
    // NaN never compares equal, so the next glCacheMaterial sends it again.
    for (float& value : glCache.material.diffuse)
        value = std::numeric_limits<float>::quiet_NaN();
}

void glCacheLight(int index, const GlCachedLight& light)
{
    GlCachedLight& l = glCache.lights[index];
    GLenum name = GL_LIGHT0 + index;
    if (l.enabled != light.enabled) {
        l.enabled = light.enabled;
        if (light.enabled)
            glEnable(name);
        else
            glDisable(name);
        glCountState();
    }
    if (!light.enabled)
        return;
    // Position and spot direction go through the modelview matrix when they
    // are given; they arrive already in eye space, so load the identity.
    bool positionChanged = !glSameFloats(l.position, light.position, 4);
    bool directionChanged = !glSameFloats(l.spotDirection, light.spotDirection, 3);
    if (positionChanged || directionChanged)
        glCacheModelview(IDENTITY);
    if (positionChanged) {
        glStoreFloats(l.position, light.position, 4);
        glLightfv(name, GL_POSITION, light.position);
        glCountState();
    }
    if (directionChanged) {
        glStoreFloats(l.spotDirection, light.spotDirection, 3);
        glLightfv(name, GL_SPOT_DIRECTION, light.spotDirection);
        glCountState();
    }
    auto set4 = [&](float* cached, GLenum parameter, const float* value) {
        if (glSameFloats(cached, value, 4))
            return;
        glStoreFloats(cached, value, 4);
        glLightfv(name, parameter, value);
        glCountState();
    };
    auto set1 = [&](float& cached, GLenum parameter, float value) {
        if (cached == value)
            return;
        cached = value;
        glLightf(name, parameter, value);
        glCountState();
    };
    set4(l.ambient, GL_AMBIENT, light.ambient);
    set4(l.diffuse, GL_DIFFUSE, light.diffuse);
    set4(l.specular, GL_SPECULAR, light.specular);
    set1(l.attenuation[0], GL_CONSTANT_ATTENUATION, light.attenuation[0]);
    set1(l.attenuation[1], GL_LINEAR_ATTENUATION, light.attenuation[1]);
    set1(l.attenuation[2], GL_QUADRATIC_ATTENUATION, light.attenuation[2]);
    set1(l.spotCutoff, GL_SPOT_CUTOFF, light.spotCutoff);
    set1(l.spotExponent, GL_SPOT_EXPONENT, light.spotExponent);
}

void glCacheVertexArray(GLuint buffer, std::uintptr_t offset, GLsizei stride)
{
    setArray(GL_VERTEX_ARRAY, glCache.vertexArray, true);
    if (glCache.vertexBuffer == buffer && glCache.vertexOffset == offset && glCache.vertexStride == stride)
        return;
    glCacheArrayBuffer(buffer);
    glCache.vertexBuffer = buffer;
    glCache.vertexOffset = offset;
    glCache.vertexStride = stride;
    glVertexPointer(3, GL_FLOAT, stride, reinterpret_cast<const void*>(offset));
    glCountState();
}

void glCacheNormalArray(bool on, GLuint buffer, std::uintptr_t offset, GLsizei stride)
{
    if (!on) {
        if (glCache.normalArray) {
            setArray(GL_NORMAL_ARRAY, glCache.normalArray, false);
            // The current normal is undefined after drawing from an array;
            // a vertex without normal lights as one with a zero normal.
            glNormal3f(0, 0, 0);
        }
        return;
    }
    setArray(GL_NORMAL_ARRAY, glCache.normalArray, true);
    if (glCache.normalBuffer == buffer && glCache.normalOffset == offset && glCache.normalStride == stride)
        return;
    glCacheArrayBuffer(buffer);
    glCache.normalBuffer = buffer;
    glCache.normalOffset = offset;
    glCache.normalStride = stride;
    glNormalPointer(GL_FLOAT, stride, reinterpret_cast<const void*>(offset));
    glCountState();
}

void glCacheColorArray(bool on, GLuint buffer, std::uintptr_t offset, GLsizei stride)
{
    if (!on) {
        if (glCache.colorArray) {
            setArray(GL_COLOR_ARRAY, glCache.colorArray, false);
            glColor4f(1, 1, 1, 1); // opaque white, the diffuse of a vertex without colour
        }
        return;
    }
    setArray(GL_COLOR_ARRAY, glCache.colorArray, true);
    if (glCache.colorBuffer == buffer && glCache.colorOffset == offset && glCache.colorStride == stride)
        return;
    glCacheArrayBuffer(buffer);
    glCache.colorBuffer = buffer;
    glCache.colorOffset = offset;
    glCache.colorStride = stride;
    // D3DCOLOR is B, G, R, A in memory.
    glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, stride, reinterpret_cast<const void*>(offset));
    glCountState();
}

void glCacheCoordArray(int unit, bool on, GLuint buffer, std::uintptr_t offset, GLsizei stride)
{
    GlCachedUnit& u = glCache.units[unit];
    if (u.coordArray != on) {
        selectClientUnit(unit);
        setArray(GL_TEXTURE_COORD_ARRAY, u.coordArray, on);
        if (!on)
            glMultiTexCoord4f(GL_TEXTURE0 + unit, 0, 0, 0, 1);
    }
    if (!on || (u.coordBuffer == buffer && u.coordOffset == offset && u.coordStride == stride))
        return;
    glCacheArrayBuffer(buffer);
    selectClientUnit(unit);
    u.coordBuffer = buffer;
    u.coordOffset = offset;
    u.coordStride = stride;
    glTexCoordPointer(2, GL_FLOAT, stride, reinterpret_cast<const void*>(offset));
    glCountState();
}

void glFixedCacheForgetBuffer(GLuint buffer)
{
    if (glCache.vertexBuffer == buffer)
        glCache.vertexBuffer = ~0u;
    if (glCache.normalBuffer == buffer)
        glCache.normalBuffer = ~0u;
    if (glCache.colorBuffer == buffer)
        glCache.colorBuffer = ~0u;
    for (int unit = 0; unit < GL_DEVICE_STAGES; unit++)
        if (glCache.units[unit].coordBuffer == buffer)
            glCache.units[unit].coordBuffer = ~0u;
}
