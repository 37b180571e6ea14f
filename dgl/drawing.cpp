// Vertex formats and drawing: the six vertex types, stream and index
// bindings, indexed draws from buffers and draws from caller memory.
// Depends on: platform/d3d8.h, kernel/messages.h.
#include "dgl/dgl_internal.h"

#include "kernel/messages.h"

namespace {

struct VertexTypeEntry {
    DWORD format;
    int stride;
};

constexpr VertexTypeEntry vertexTypes[DGL_VERTEX_TYPE_COUNT] = {
    {D3DFVF_XYZ | D3DFVF_DIFFUSE, 16},
    {D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE, 28},
    {D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1, 36},
    {D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2, 44},
    {D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, 24},
    {D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2, 32},
};

bool knownType(int vertexType) { return vertexType >= 0 && vertexType < DGL_VERTEX_TYPE_COUNT; }

} // namespace

DWORD dglVertexTypeFormat(int vertexType)
{
    return knownType(vertexType) ? vertexTypes[vertexType].format : static_cast<DWORD>(vertexType);
}

int dglVertexTypeStride(int vertexType) { return knownType(vertexType) ? vertexTypes[vertexType].stride : vertexType; }

void dglSetVertexFormat(int vertexType)
{
    dglState.vertexFormat = vertexType;
    dglDeviceObject->SetVertexShader(dglVertexTypeFormat(vertexType));
}

void dglBindIndexBuffer(IDirect3DIndexBuffer8* buffer, int baseVertexIndex)
{
    if (dglState.indexBuffer != nullptr)
        dglUnbindIndexBuffer();
    dglState.indexBuffer = buffer;
    dglState.baseVertexIndex = baseVertexIndex;
    dglDeviceObject->SetIndices(buffer, static_cast<UINT>(baseVertexIndex));
}

void dglUnbindIndexBuffer()
{
    dglState.indexBuffer = nullptr;
    dglDeviceObject->SetIndices(nullptr, 0);
}

void dglBindVertexBuffer(int vertexType, IDirect3DVertexBuffer8* buffer)
{
    if (dglState.vertexBuffer != nullptr)
        dglUnbindVertexBuffer();
    dglState.vertexBufferType = vertexType;
    dglState.vertexBuffer = buffer;
    dglDeviceObject->SetStreamSource(0, buffer, static_cast<UINT>(dglVertexTypeStride(vertexType)));
}

void dglUnbindVertexBuffer()
{
    dglState.vertexBuffer = nullptr;
    dglDeviceObject->SetStreamSource(0, nullptr, 0);
}

void dglDrawIndexedPrimitives(int primitiveType, int primitiveCount, int minIndex, int vertexCount, int startIndex)
{
    if (FAILED(dglDeviceObject->DrawIndexedPrimitive(static_cast<D3DPRIMITIVETYPE>(primitiveType),
                                                     static_cast<UINT>(minIndex), static_cast<UINT>(vertexCount),
                                                     static_cast<UINT>(startIndex),
                                                     static_cast<UINT>(primitiveCount))))
        fatalExit("Can not draw indexed primitives.");
}

void dglDrawUserPrimitives(int primitiveType, int primitiveCount, int vertexType, const void* vertices)
{
    if (FAILED(dglDeviceObject->DrawPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(primitiveType),
                                                static_cast<UINT>(primitiveCount), vertices,
                                                static_cast<UINT>(dglVertexTypeStride(vertexType)))))
        fatalExit("Can not draw primitives from a user pointer.");
    dglUnbindVertexBuffer();
    dglUnbindIndexBuffer();
}
