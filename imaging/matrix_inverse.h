// 4x4 determinant and inverse of the 3D API's helper library, used by
// Matrix4::inverse (dgl/). Depends on: platform/d3d8.h (D3DMATRIX).
#pragma once

#include "platform/d3d8.h"

float D3DXMatrixfDeterminant(const D3DMATRIX* matrix);

// Writes the inverse of matrix into out and returns out; when the reciprocal
// of the determinant is not finite, writes nothing and returns NULL.
// determinant, when not NULL, receives the determinant.
D3DMATRIX* D3DXMatrixInverse(D3DMATRIX* out, float* determinant, const D3DMATRIX* matrix);
