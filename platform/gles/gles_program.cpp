// The shader device's program text, generated from the state key, and its
// building. One generator writes both stages so that every varying and
// block is declared alike on both sides.
// Depends on: platform/gles/gles_program.h (OpenGL).
#include "platform/gles/gles_program.h"

#include <cstdio>
#include <cstring>

namespace {

// Samplers are highp too: their ES default is lowp, and the driver may then
// round every texel through 16-bit floats (software rasterisers convert to
// half and back on each fetch), slower and further from the 8-bit result
// of the fixed pipeline.
const char* header(GlProfile profile)
{
    if (profile == GlProfile::es)
        return "#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;\n";
    return "#version 330 core\n";
}

// Appends printf-style text.
template <typename... Args> void add(std::string& text, const char* format, Args... args)
{
    char line[512];
    std::snprintf(line, sizeof line, format, args...);
    text += line;
}

bool generated(const GlesStageKey& stage) { return stage.coordinates != GLES_COORD_VERTEX; }

bool needsNormal(const GlesProgramKey& key)
{
    if (key.lighting)
        return true;
    for (int i = 0; i < key.stageCount; i++)
        if (generated(key.stages[i]))
            return true;
    return false;
}

bool needsEye(const GlesProgramKey& key)
{
    if (key.lighting || key.fog)
        return true;
    for (int i = 0; i < key.stageCount; i++)
        if (key.stages[i].coordinates == GLES_COORD_REFLECTION)
            return true;
    return false;
}

// The varyings, as the vertex stage writes them ("out") and the fragment
// stage reads them ("in").
void varyings(std::string& text, const GlesProgramKey& key, const char* direction)
{
    const char* shading = key.flat ? "flat " : "";
    add(text, "%s%s vec4 vColor;\n", shading, direction);
    if (key.specular)
        add(text, "%s%s vec4 vSpecular;\n", shading, direction);
    for (int i = 0; i < key.stageCount; i++)
        add(text, "%s %s vTexture%d;\n", direction, key.stages[i].transform == 2 ? "vec4" : "vec2", i);
    if (key.fog)
        add(text, "%s float vFogDistance;\n", direction);
}

// One lit vertex term per enabled light; the light's type is known here,
// so no branch on it runs per vertex.
void lightTerm(std::string& text, const GlesProgramKey& key, int index)
{
    int type = key.lightTypes[index];
    add(text, "    {\n");
    if (type == D3DLIGHT_DIRECTIONAL) {
        add(text, "        vec3 toLight = normalize(lightPosition[%d].xyz);\n", index);
        add(text, "        float attenuation = 1.0;\n");
    } else {
        add(text, "        vec3 offset = lightPosition[%d].xyz - eye.xyz;\n", index);
        add(text, "        float lightDistance = length(offset);\n");
        add(text, "        vec3 toLight = offset / lightDistance;\n");
        add(text,
            "        float attenuation = 1.0 / (lightAttenuation[%d].x + lightAttenuation[%d].y * lightDistance + "
            "lightAttenuation[%d].z * lightDistance * lightDistance);\n",
            index, index, index);
        if (type == D3DLIGHT_SPOT) {
            add(text, "        float spotDot = dot(-toLight, normalize(lightSpotDirection[%d].xyz));\n", index);
            add(text,
                "        attenuation *= spotDot >= lightSpot[%d].x ? pow(max(spotDot, 0.0), lightSpot[%d].y) : 0.0;\n",
                index, index);
        }
    }
    add(text, "        float nDotL = max(dot(normal, toLight), 0.0);\n");
    add(text,
        "        lit += attenuation * (materialAmbient.rgb * lightAmbient[%d].rgb + nDotL * diffuse.rgb * "
        "lightDiffuse[%d].rgb);\n",
        index, index);
    if (key.specular) {
        add(text, "        if (nDotL > 0.0) {\n");
        add(text, "            vec3 halfway = normalize(toLight + toEye);\n");
        add(text,
            "            specular += attenuation * pow(max(dot(normal, halfway), 0.0), materialPower.x) * "
            "materialSpecular.rgb * lightSpecular[%d].rgb;\n",
            index);
        add(text, "        }\n");
    }
    add(text, "    }\n");
}

// An argument of a stage operation: its source and modifiers, for the colour
// (vec3) or the alpha (float).
std::string argument(DWORD argument, bool alpha)
{
    std::string source;
    switch (argument & 0xF) {
    case D3DTA_DIFFUSE: source = "diffuse"; break;
    case D3DTA_TEXTURE: source = "sampled"; break;
    case D3DTA_TFACTOR: source = "vec4(0.0)"; break; // the factor stays at its default, zero
    default: source = "current"; break;
    }
    bool complement = (argument & 0x10) != 0;
    std::string value = alpha || (argument & 0x20) != 0 ? source + ".a" : source + ".rgb";
    if (!alpha && (argument & 0x20) != 0)
        value = "vec3(" + value + ")";
    if (complement)
        value = alpha ? "(1.0 - " + value + ")" : "(vec3(1.0) - " + value + ")";
    return value;
}

// One stage operation on colour or alpha, as the fixed pipeline's texture
// combiner does it.
std::string operation(DWORD op, DWORD arg1, DWORD arg2, bool alpha)
{
    std::string a = argument(arg1, alpha);
    std::string b = argument(arg2, alpha);
    std::string one = alpha ? "1.0" : "vec3(1.0)";
    switch (op) {
    case D3DTOP_DISABLE: return argument(D3DTA_CURRENT, alpha);
    case D3DTOP_SELECTARG1: return a;
    case D3DTOP_SELECTARG2: return b;
    case D3DTOP_ADD:
    case D3DTOP_ADDSMOOTH: return a + " + " + b;
    case D3DTOP_ADDSIGNED: return a + " + " + b + " - 0.5";
    case D3DTOP_ADDSIGNED2X: return "(" + a + " + " + b + " - 0.5) * 2.0";
    case D3DTOP_SUBTRACT: return a + " - " + b;
    case D3DTOP_BLENDDIFFUSEALPHA: return "mix(" + b + ", " + a + ", diffuse.a)";
    case D3DTOP_BLENDTEXTUREALPHA: return "mix(" + b + ", " + a + ", sampled.a)";
    case D3DTOP_MODULATE2X: return a + " * " + b + " * 2.0";
    case D3DTOP_MODULATE4X: return a + " * " + b + " * 4.0";
    default: return a + " * " + b;
    }
}

// The test compares whole 8-bit levels: alpha8 is the fragment's alpha
// rounded to 0..255 and the reference is the render state's byte, so a
// texel of 0x80 equals a reference of 0x80 whatever float the sampler and
// the division on the processor make of them.
const char* comparison(int function)
{
    switch (function) {
    case D3DCMP_NEVER: return "false";
    case D3DCMP_LESS: return "alpha8 < alphaReference.x";
    case D3DCMP_EQUAL: return "alpha8 == alphaReference.x";
    case D3DCMP_LESSEQUAL: return "alpha8 <= alphaReference.x";
    case D3DCMP_GREATER: return "alpha8 > alphaReference.x";
    case D3DCMP_NOTEQUAL: return "alpha8 != alphaReference.x";
    case D3DCMP_GREATEREQUAL: return "alpha8 >= alphaReference.x";
    default: return "true";
    }
}

GLuint compile(GLenum type, const std::string& text, std::string* log)
{
    GLuint shader = glCreateShader(type);
    const char* source = text.c_str();
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE)
        return shader;
    char message[2048] = {};
    glGetShaderInfoLog(shader, sizeof message, nullptr, message);
    *log = std::string(type == GL_VERTEX_SHADER ? "vertex shader: " : "fragment shader: ") + message;
    glDeleteShader(shader);
    return 0;
}

} // namespace

bool glesSameKey(const GlesProgramKey& a, const GlesProgramKey& b)
{
    return std::memcmp(&a, &b, sizeof(GlesProgramKey)) == 0;
}

std::string glesVertexShaderText(const GlesProgramKey& key, GlProfile profile)
{
    std::string text = header(profile);
    text += "layout(std140) uniform GlesDraw {\n"
            "    mat4 worldViewProjection;\n"
            "    mat4 worldView;\n"
            "    mat4 normalMatrix;\n"
            "};\n";
    bool transformed = false;
    for (int i = 0; i < key.stageCount; i++)
        transformed = transformed || key.stages[i].transform != 0;
    if (transformed)
        text += "layout(std140) uniform GlesTextures {\n"
                "    mat4 textureMatrix[8];\n"
                "};\n";
    if (key.lighting)
        text += "layout(std140) uniform GlesLighting {\n"
                "    vec4 materialDiffuse;\n"
                "    vec4 materialAmbient;\n"
                "    vec4 materialSpecular;\n"
                "    vec4 materialEmissive;\n"
                "    vec4 sceneAmbient;\n"
                "    vec4 materialPower;\n"
                "    vec4 lightPosition[8];\n"
                "    vec4 lightSpotDirection[8];\n"
                "    vec4 lightDiffuse[8];\n"
                "    vec4 lightSpecular[8];\n"
                "    vec4 lightAmbient[8];\n"
                "    vec4 lightAttenuation[8];\n"
                "    vec4 lightSpot[8];\n"
                "};\n";
    add(text, "layout(location = %d) in vec3 aPosition;\n", GLES_ATTRIBUTE_POSITION);
    if (needsNormal(key))
        add(text, "layout(location = %d) in vec3 aNormal;\n", GLES_ATTRIBUTE_NORMAL);
    add(text, "layout(location = %d) in vec4 aColor;\n", GLES_ATTRIBUTE_COLOR);
    for (int i = 0; i < key.stageCount; i++)
        if (!generated(key.stages[i]))
            add(text, "layout(location = %d) in vec2 aTexture%d;\n", GLES_ATTRIBUTE_COORDINATES + key.stages[i].unit,
                key.stages[i].unit);
    varyings(text, key, "out");

    text += "void main() {\n"
            "    vec4 position = vec4(aPosition, 1.0);\n"
            "    vec4 color = aColor.zyxw;\n";
    if (needsEye(key))
        text += "    vec4 eye = worldView * position;\n";
    if (needsNormal(key)) {
        text += "    vec3 normal = mat3(normalMatrix) * aNormal;\n";
        if (key.normalize)
            text += "    normal = normalize(normal);\n";
    }
    if (key.lighting) {
        add(text, "    vec4 diffuse = %s;\n", key.colorMaterial ? "color" : "materialDiffuse");
        text += "    vec3 lit = materialEmissive.rgb + materialAmbient.rgb * sceneAmbient.rgb;\n";
        if (key.specular) {
            text += "    vec3 specular = vec3(0.0);\n";
            add(text, "    vec3 toEye = %s;\n", key.localViewer ? "normalize(-eye.xyz)" : "vec3(0.0, 0.0, 1.0)");
        }
        for (int i = 0; i < key.lightCount; i++)
            lightTerm(text, key, i);
        text += "    vColor = vec4(clamp(lit, 0.0, 1.0), clamp(diffuse.a, 0.0, 1.0));\n";
        if (key.specular)
            text += "    vSpecular = vec4(clamp(specular, 0.0, 1.0), 0.0);\n";
    } else {
        text += "    vColor = color;\n";
        if (key.specular)
            text += "    vSpecular = vec4(0.0);\n";
    }
    for (int i = 0; i < key.stageCount; i++) {
        const GlesStageKey& stage = key.stages[i];
        if (stage.coordinates == GLES_COORD_NORMAL)
            add(text, "    vec4 coordinates%d = vec4(normal, 1.0);\n", i);
        else if (stage.coordinates == GLES_COORD_REFLECTION)
            add(text, "    vec4 coordinates%d = vec4(reflect(normalize(eye.xyz), normal), 1.0);\n", i);
        else
            add(text, "    vec4 coordinates%d = vec4(aTexture%d, 0.0, 1.0);\n", i, stage.unit);
        if (stage.transform != 0)
            add(text, "    coordinates%d = textureMatrix[%d] * coordinates%d;\n", i, stage.unit, i);
        add(text, "    vTexture%d = coordinates%d%s;\n", i, i, stage.transform == 2 ? "" : ".xy");
    }
    if (key.fog)
        add(text, "    vFogDistance = %s;\n", key.rangeFog ? "length(eye.xyz)" : "abs(eye.z)");
    // Clip space as the original API has it (row 0 at the top, z from 0 to
    // w) turned into GL's (bottom row first, z from -w to w).
    text += "    vec4 clip = worldViewProjection * position;\n"
            "    gl_Position = vec4(clip.x, -clip.y, 2.0 * clip.z - clip.w, clip.w);\n"
            "    gl_PointSize = 1.0;\n"
            "}\n";
    return text;
}

std::string glesFragmentShaderText(const GlesProgramKey& key, GlProfile profile)
{
    std::string text = header(profile);
    if (key.fog || key.alphaFunc)
        text += "layout(std140) uniform GlesPixel {\n"
                "    vec4 fogColor;\n"
                "    vec4 fogParameters;\n"
                "    vec4 alphaReference;\n"
                "};\n";
    for (int i = 0; i < key.stageCount; i++)
        add(text, "uniform sampler2D uTexture%d;\n", key.stages[i].unit);
    varyings(text, key, "in");
    text += "out vec4 fragmentColor;\n"
            "void main() {\n"
            "    vec4 diffuse = vColor;\n"
            "    vec4 current = vColor;\n";
    for (int i = 0; i < key.stageCount; i++) {
        const GlesStageKey& stage = key.stages[i];
        add(text, "    {\n");
        if (stage.transform == 2)
            add(text, "        vec4 sampled = texture(uTexture%d, vTexture%d.xy / vTexture%d.w);\n", stage.unit, i, i);
        else
            add(text, "        vec4 sampled = texture(uTexture%d, vTexture%d);\n", stage.unit, i);
        std::string rgb = operation(stage.colorOp, stage.colorArg1, stage.colorArg2, false);
        std::string alpha = operation(stage.alphaOp, stage.alphaArg1, stage.alphaArg2, true);
        add(text, "        vec3 rgb = %s;\n", rgb.c_str());
        add(text, "        float alpha = %s;\n", alpha.c_str());
        // The last stage's result goes to a normalised target, which clamps
        // it on the way in; only a result that later steps read is clamped here.
        if (i + 1 < key.stageCount || key.specular || key.fog || key.alphaFunc)
            add(text, "        current = clamp(vec4(rgb, alpha), 0.0, 1.0);\n");
        else
            add(text, "        current = vec4(rgb, alpha);\n");
        add(text, "    }\n");
    }
    if (key.specular)
        text += "    current.rgb = min(current.rgb + vSpecular.rgb, vec3(1.0));\n";
    if (key.fog) {
        // fogParameters: start, end, density, 1 / (end - start).
        if (key.fog == D3DFOG_EXP)
            text += "    float fog = exp(-fogParameters.z * vFogDistance);\n";
        else if (key.fog == D3DFOG_EXP2)
            text += "    float fog = exp(-(fogParameters.z * vFogDistance) * (fogParameters.z * vFogDistance));\n";
        else
            text += "    float fog = (fogParameters.y - vFogDistance) * fogParameters.w;\n";
        text += "    current.rgb = mix(fogColor.rgb, current.rgb, clamp(fog, 0.0, 1.0));\n";
    }
    if (key.alphaFunc) {
        text += "    float alpha8 = floor(clamp(current.a, 0.0, 1.0) * 255.0 + 0.5);\n";
        add(text, "    if (!(%s))\n        discard;\n", comparison(key.alphaFunc));
    }
    text += "    fragmentColor = current;\n"
            "}\n";
    return text;
}

GLuint glesLinkProgram(const std::string& vertexText, const std::string& fragmentText, std::string* log)
{
    GLuint vertex = compile(GL_VERTEX_SHADER, vertexText, log);
    if (vertex == 0)
        return 0;
    GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentText, log);
    if (fragment == 0) {
        glDeleteShader(vertex);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        char message[2048] = {};
        glGetProgramInfoLog(program, sizeof message, nullptr, message);
        *log = std::string("link: ") + message;
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

GLuint glesBuildProgram(const GlesProgramKey& key, GlProfile profile, std::string* log)
{
    GLuint program = glesLinkProgram(glesVertexShaderText(key, profile), glesFragmentShaderText(key, profile), log);
    if (program == 0)
        return 0;
    const char* blocks[4] = {"GlesDraw", "GlesLighting", "GlesPixel", "GlesTextures"};
    const int bindings[4] = {GLES_BLOCK_DRAW, GLES_BLOCK_LIGHTING, GLES_BLOCK_PIXEL, GLES_BLOCK_TEXTURES};
    for (int i = 0; i < 4; i++) {
        GLuint index = glGetUniformBlockIndex(program, blocks[i]);
        if (index != GL_INVALID_INDEX)
            glUniformBlockBinding(program, index, static_cast<GLuint>(bindings[i]));
    }
    // Samplers take their unit once; the program is bound for it and the
    // cache is told.
    glesCacheProgram(program);
    for (int i = 0; i < key.stageCount; i++) {
        char name[32];
        std::snprintf(name, sizeof name, "uTexture%d", key.stages[i].unit);
        GLint location = glGetUniformLocation(program, name);
        if (location >= 0)
            glUniform1i(location, key.stages[i].unit);
    }
    return program;
}

std::string glesKeyListing(const GlesProgramKey& key)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&key);
    std::string text = "{";
    for (size_t i = 0; i < sizeof key; i++)
        add(text, i == 0 ? "%u" : ",%u", static_cast<unsigned>(bytes[i]));
    text += "},";
    return text;
}
