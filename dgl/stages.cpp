// Texture stages: bind/unbind, colour operation, filter and environment
// mapping of the eight stages, cached in dglState before reaching the device.
// Depends on: platform/d3d8.h, kernel/messages.h.
#include "dgl/dgl_internal.h"

#include "kernel/messages.h"

namespace {
bool validStage(int stage) { return stage >= 0 && stage < DGL_TEXTURE_STAGES; }
}

void dglBindTexture(int stage, IDirect3DTexture8* texture)
{
    if (!validStage(stage))
        fatalExit("Invalid texture stage number supplied with dglBindTexture().");
    dglUnbindTexture(stage);
    dglState.textures[stage] = texture;
    dglDeviceObject->SetTexture(static_cast<DWORD>(stage), texture);
}

void dglUnbindTexture(int stage)
{
    if (!validStage(stage))
        fatalExit("Invalid texture stage number supplied with dglUnbindTexture().");
    if (dglState.textures[stage] == nullptr)
        return;
    dglState.textures[stage] = nullptr;
    dglDeviceObject->SetTexture(static_cast<DWORD>(stage), nullptr);
}

void dglSetTextureOperation(int stage, int operation)
{
    if (!validStage(stage))
        fatalExit("Invalid texture stage number supplied with dglSetTextureOperation().");
    dglState.textureOperations[stage] = operation;
    dglDeviceObject->SetTextureStageState(static_cast<DWORD>(stage), D3DTSS_COLOROP, static_cast<DWORD>(operation));
}

void dglSetTextureFilter(int stage, int filter)
{
    if (!validStage(stage))
        fatalExit("Invalid texture stage number supplied with dglSetTextureFilter().");
    dglState.textureFilters[stage] = filter;
    dglDeviceObject->SetTextureStageState(static_cast<DWORD>(stage), D3DTSS_MAGFILTER, static_cast<DWORD>(filter));
    dglDeviceObject->SetTextureStageState(static_cast<DWORD>(stage), D3DTSS_MINFILTER, static_cast<DWORD>(filter));
}

void dglEnableEnvMapping(int stage)
{
    if (!validStage(stage))
        fatalExit("Invalid texture stage number supplied with dglEnableEnvMapping().");
    dglState.envMapping[stage] = true;
    // The texture matrix goes straight to the device: it is not one of the
    // cached matrices and stays set after the mapping is switched off.
    dglSetTransform(D3DTS_TEXTURE0 + stage, dglMatrixEnvMapping());
    dglDeviceObject->SetTextureStageState(static_cast<DWORD>(stage), D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    dglDeviceObject->SetTextureStageState(static_cast<DWORD>(stage), D3DTSS_TEXCOORDINDEX,
                                          D3DTSS_TCI_CAMERASPACENORMAL);
}

void dglDisableEnvMapping(int stage)
{
    if (!validStage(stage))
        fatalExit("Invalid texture stage number supplied with dglDisableEnvMapping().");
    dglState.envMapping[stage] = false;
    dglDeviceObject->SetTextureStageState(static_cast<DWORD>(stage), D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    // Set 0, not the stage's own number: every stage samples coordinate set 0
    // until environment mapping is switched on for it.
    dglDeviceObject->SetTextureStageState(static_cast<DWORD>(stage), D3DTSS_TEXCOORDINDEX, 0);
}
