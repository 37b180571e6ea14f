// 4x4 determinant and inverse by cofactors (Laplace expansion over 2x2
// minors of the top and bottom row pairs).
// Depends on: platform/d3d8.h.
#include "imaging/matrix_inverse.h"

#include <cmath>

namespace {

// Cofactors of the transposed matrix (the adjugate), row-major, and the
// determinant; in double precision so that near-singular input keeps its
// digits until the final rounding.
double adjugate(const D3DMATRIX& matrix, double adj[16])
{
    double a[16];
    for (int i = 0; i < 16; ++i)
        a[i] = matrix.m[i / 4][i % 4];

    double s0 = a[0] * a[5] - a[4] * a[1];
    double s1 = a[0] * a[6] - a[4] * a[2];
    double s2 = a[0] * a[7] - a[4] * a[3];
    double s3 = a[1] * a[6] - a[5] * a[2];
    double s4 = a[1] * a[7] - a[5] * a[3];
    double s5 = a[2] * a[7] - a[6] * a[3];

    double c5 = a[10] * a[15] - a[14] * a[11];
    double c4 = a[9] * a[15] - a[13] * a[11];
    double c3 = a[9] * a[14] - a[13] * a[10];
    double c2 = a[8] * a[15] - a[12] * a[11];
    double c1 = a[8] * a[14] - a[12] * a[10];
    double c0 = a[8] * a[13] - a[12] * a[9];

    adj[0] = a[5] * c5 - a[6] * c4 + a[7] * c3;
    adj[1] = -a[1] * c5 + a[2] * c4 - a[3] * c3;
    adj[2] = a[13] * s5 - a[14] * s4 + a[15] * s3;
    adj[3] = -a[9] * s5 + a[10] * s4 - a[11] * s3;

    adj[4] = -a[4] * c5 + a[6] * c2 - a[7] * c1;
    adj[5] = a[0] * c5 - a[2] * c2 + a[3] * c1;
    adj[6] = -a[12] * s5 + a[14] * s2 - a[15] * s1;
    adj[7] = a[8] * s5 - a[10] * s2 + a[11] * s1;

    adj[8] = a[4] * c4 - a[5] * c2 + a[7] * c0;
    adj[9] = -a[0] * c4 + a[1] * c2 - a[3] * c0;
    adj[10] = a[12] * s4 - a[13] * s2 + a[15] * s0;
    adj[11] = -a[8] * s4 + a[9] * s2 - a[11] * s0;

    adj[12] = -a[4] * c3 + a[5] * c1 - a[6] * c0;
    adj[13] = a[0] * c3 - a[1] * c1 + a[2] * c0;
    adj[14] = -a[12] * s3 + a[13] * s1 - a[14] * s0;
    adj[15] = a[8] * s3 - a[9] * s1 + a[10] * s0;

    return s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
}

} // namespace

float D3DXMatrixfDeterminant(const D3DMATRIX* matrix)
{
    double adj[16];
    return static_cast<float>(adjugate(*matrix, adj));
}

D3DMATRIX* D3DXMatrixInverse(D3DMATRIX* out, float* determinant, const D3DMATRIX* matrix)
{
    double adj[16];
    float det = static_cast<float>(adjugate(*matrix, adj));
    if (determinant != nullptr)
        *determinant = det;
    float reciprocal = 1.0f / det;
    if (!std::isfinite(reciprocal))
        return nullptr;
    for (int i = 0; i < 16; ++i)
        out->m[i / 4][i % 4] = static_cast<float>(adj[i] * reciprocal);
    return out;
}
