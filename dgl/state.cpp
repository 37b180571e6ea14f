// Render state, materials and lights: the cached state record, its reset,
// the render-state setters, capability switches and lights. Every setter
// stores its value in dglState first, then calls the device.
// Depends on: platform/d3d8.h, kernel/messages.h.
#include "dgl/dgl_internal.h"

#include "kernel/messages.h"

#include <cmath>
#include <cstring>
#include <limits>

DglState dglState;

namespace {

DWORD floatBits(float value)
{
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Render state and the values sent on dglEnable / dglDisable, by capability.
struct CapabilitySwitch {
    D3DRENDERSTATETYPE state;
    DWORD onValue;
    DWORD offValue;
};

// Depth testing is never switched off at the device: "off" is a comparison
// that always passes, so depth writes keep their own switch.
constexpr CapabilitySwitch capabilitySwitches[DGL_CAPABILITY_COUNT] = {
    {D3DRS_ZWRITEENABLE, TRUE, FALSE},
    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL, D3DCMP_ALWAYS},
    {D3DRS_ALPHABLENDENABLE, TRUE, FALSE},
    {D3DRS_FOGENABLE, TRUE, FALSE},
    {D3DRS_ALPHATESTENABLE, TRUE, FALSE},
    {D3DRS_LIGHTING, TRUE, FALSE},
    {D3DRS_SPECULARENABLE, TRUE, FALSE},
    {D3DRS_NORMALIZENORMALS, TRUE, FALSE},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1, D3DMCS_MATERIAL},
};

void setCapability(int capability, bool on)
{
    if (capability < 0 || capability >= DGL_CAPABILITY_COUNT)
        return;
    dglState.capabilities[capability] = on;
    const CapabilitySwitch& entry = capabilitySwitches[capability];
    dglDeviceObject->SetRenderState(entry.state, on ? entry.onValue : entry.offValue);
}

} // namespace

D3DMATERIAL8 Material::toD3D() const { return D3DMATERIAL8{Diffuse, Ambient, Specular, Emissive, Power}; }

void Light::reset()
{
    Type = D3DLIGHT_DIRECTIONAL;
    // The alpha of a light's colours takes no part in lighting; 1 for the
    // diffuse colour and 0 for the others keep them plain colours.
    Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    Specular = {0.0f, 0.0f, 0.0f, 0.0f};
    Ambient = {0.0f, 0.0f, 0.0f, 0.0f};
    Position = Vector3(0.0f, 0.0f, 0.0f);
    Direction = Vector3(0.0f, 0.0f, 1.0f);
    Range = std::sqrt(std::numeric_limits<float>::max());
    Falloff = 0.0f;
    Attenuation0 = 0.0f;
    Attenuation1 = 0.0f;
    Attenuation2 = 0.0f;
    Theta = 0.0f;
    Phi = 3.1415927f;
}

D3DLIGHT8 Light::toD3D() const
{
    D3DLIGHT8 light{};
    light.Type = Type;
    light.Diffuse = Diffuse;
    light.Specular = Specular;
    light.Ambient = Ambient;
    light.Position = D3DVECTOR{Position.x, Position.y, Position.z};
    light.Direction = D3DVECTOR{Direction.x, Direction.y, Direction.z};
    light.Range = Range;
    light.Falloff = Falloff;
    light.Attenuation0 = Attenuation0;
    light.Attenuation1 = Attenuation1;
    light.Attenuation2 = Attenuation2;
    light.Theta = Theta;
    light.Phi = Phi;
    return light;
}

void dglGetState(DglState* state) { *state = dglState; }

void dglResetState()
{
    dglClearDepthBuffer(1.0f);
    dglSetCullMode(D3DCULL_CCW);
    dglSetShadeMode(D3DSHADE_GOURAUD);
    dglEnable(DGL_DEPTH_WRITE);
    dglEnable(DGL_DEPTH_TEST);
    for (int capability = DGL_BLEND; capability <= DGL_NORMALIZE; ++capability)
        dglDisable(capability);
    dglEnable(DGL_COLOR_MATERIAL);
    dglSetBlendOperation(D3DBLENDOP_ADD);
    dglSetSourceBlend(D3DBLEND_ONE);
    dglSetDestinationBlend(D3DBLEND_ONE);
    dglSetFogColor(0);
    dglSetFogRange(0.0f, 10.0f);
    dglSetAlphaReference(0);
    dglSetAlphaFunction(D3DCMP_ALWAYS);
    dglSetMaterial(Material());
    dglSetAmbient(0);
    for (int index = 0; index < DGL_LIGHTS; ++index) {
        dglSetLight(index, Light());
        dglDisableLight(index);
    }
    dglSetTransform(D3DTS_WORLD, dglMatrixIdentity());
    dglSetTransform(D3DTS_VIEW, dglMatrixIdentity());
    dglSetTransform(D3DTS_PROJECTION, dglMatrixIdentity());
    for (int stage = 0; stage < DGL_TEXTURE_STAGES; ++stage) {
        dglUnbindTexture(stage);
        dglSetTextureOperation(stage, stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE);
        dglSetTextureFilter(stage, D3DTEXF_LINEAR);
        dglDisableEnvMapping(stage);
    }
    dglSetVertexFormat(DGL_VERTEX_PC);
    dglUnbindIndexBuffer();
    dglUnbindVertexBuffer();
    dglSetRenderTarget(nullptr, nullptr);
}

void dglSetCullMode(int mode)
{
    dglState.cullMode = mode;
    dglDeviceObject->SetRenderState(D3DRS_CULLMODE, static_cast<DWORD>(mode));
}

void dglSetShadeMode(int mode)
{
    dglState.shadeMode = mode;
    dglDeviceObject->SetRenderState(D3DRS_SHADEMODE, static_cast<DWORD>(mode));
}

void dglSetBlendOperation(int operation)
{
    dglState.blendOperation = operation;
    dglDeviceObject->SetRenderState(D3DRS_BLENDOP, static_cast<DWORD>(operation));
}

void dglSetSourceBlend(int blend)
{
    dglState.sourceBlend = blend;
    dglDeviceObject->SetRenderState(D3DRS_SRCBLEND, static_cast<DWORD>(blend));
}

void dglSetDestinationBlend(int blend)
{
    dglState.destinationBlend = blend;
    dglDeviceObject->SetRenderState(D3DRS_DESTBLEND, static_cast<DWORD>(blend));
}

void dglSetFogColor(D3DCOLOR color)
{
    dglState.fogColor = color;
    dglDeviceObject->SetRenderState(D3DRS_FOGCOLOR, color);
}

void dglSetFogRange(float start, float end)
{
    dglState.fogStart = start;
    dglState.fogEnd = end;
    dglDeviceObject->SetRenderState(D3DRS_FOGSTART, floatBits(start));
    dglDeviceObject->SetRenderState(D3DRS_FOGEND, floatBits(end));
}

void dglSetAlphaReference(int reference)
{
    dglState.alphaReference = static_cast<std::uint8_t>(reference & 0xFF);
    dglDeviceObject->SetRenderState(D3DRS_ALPHAREF, static_cast<DWORD>(reference & 0xFF));
}

void dglSetAlphaFunction(int function)
{
    dglState.alphaFunction = function;
    dglDeviceObject->SetRenderState(D3DRS_ALPHAFUNC, static_cast<DWORD>(function));
}

void dglSetMaterial(Material material)
{
    dglState.material = material;
    D3DMATERIAL8 record = material.toD3D();
    dglDeviceObject->SetMaterial(&record);
}

void dglSetAmbient(D3DCOLOR color)
{
    dglState.ambient = color;
    dglDeviceObject->SetRenderState(D3DRS_AMBIENT, color);
}

void dglEnable(int capability) { setCapability(capability, true); }

void dglDisable(int capability) { setCapability(capability, false); }

void dglSetLight(int index, Light light)
{
    if (index < 0 || index >= DGL_LIGHTS)
        fatalExit("Invalid light stage number supplied with dglSetLight().");
    dglState.lights[index] = light;
    D3DLIGHT8 record = light.toD3D();
    dglDeviceObject->SetLight(static_cast<DWORD>(index), &record);
}

void dglEnableLight(int index)
{
    if (index < 0 || index >= DGL_LIGHTS)
        fatalExit("Invalid light stage number supplied with dglEnableLight().");
    dglState.lightEnabled[index] = true;
    dglDeviceObject->LightEnable(static_cast<DWORD>(index), TRUE);
}

void dglDisableLight(int index)
{
    if (index < 0 || index >= DGL_LIGHTS)
        fatalExit("Invalid light stage number supplied with dglDisableLight().");
    dglState.lightEnabled[index] = false;
    dglDeviceObject->LightEnable(static_cast<DWORD>(index), FALSE);
}

D3DCOLOR dglMakeColor(int alpha, int grey)
{
    DWORD g = static_cast<DWORD>(grey) & 0xFF;
    return (static_cast<DWORD>(alpha) & 0xFF) << 24 | g << 16 | g << 8 | g;
}

D3DCOLORVALUE dglMakeColorValue(D3DCOLOR color)
{
    const float scale = 1.0f / 255.0f;
    return D3DCOLORVALUE{static_cast<float>((color >> 16) & 0xFF) * scale, static_cast<float>((color >> 8) & 0xFF) * scale,
                         static_cast<float>(color & 0xFF) * scale, static_cast<float>((color >> 24) & 0xFF) * scale};
}
