// Vector3 and Matrix4 operations, the matrix builders and dglSetTransform.
// Depends on: platform/d3d8.h, imaging/matrix_inverse.h.
#include "dgl/dgl_internal.h"

#include "imaging/matrix_inverse.h"

#include <cmath>
#include <cstring>

float Vector3::length() const { return std::sqrt(x * x + y * y + z * z); }

Vector3 Vector3::normalized() const { return *this * (1.0f / length()); }

Vector3 Vector3::operator+=(const Vector3& v)
{
    *this = *this + v;
    return *this;
}

Vector3 Vector3::operator-=(const Vector3& v)
{
    *this = *this - v;
    return *this;
}

Vector3 Vector3::operator*=(float s)
{
    *this = *this * s;
    return *this;
}

Vector3 Vector3::operator/=(float s)
{
    *this = *this / s;
    return *this;
}

Vector3 Vector3::cross(const Vector3& v) const
{
    return Vector3(y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x);
}

void Matrix4::setIdentity()
{
    for (float& element : m)
        element = 0.0f;
    m[0] = m[5] = m[10] = m[15] = 1.0f;
}

Matrix4 Matrix4::operator*(const Matrix4& b) const
{
    Matrix4 result;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += m[4 * i + k] * b.m[4 * k + j];
            result.m[4 * i + j] = sum;
        }
    return result;
}

Matrix4 Matrix4::operator*=(const Matrix4& b)
{
    *this = *this * b;
    return *this;
}

Matrix4 Matrix4::inverse() const
{
    Matrix4 result;
    D3DMATRIX source = toD3D();
    D3DMATRIX inverted;
    std::memcpy(&inverted, result.m, sizeof inverted);
    D3DXMatrixfDeterminant(&source);
    if (D3DXMatrixInverse(&inverted, nullptr, &source) != nullptr)
        std::memcpy(result.m, &inverted, sizeof inverted);
    return result;
}

Vector3 Matrix4::transform(const Vector3& p) const
{
    return Vector3(p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
                   p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]);
}

D3DMATRIX Matrix4::toD3D() const
{
    D3DMATRIX result;
    std::memcpy(&result, m, sizeof result);
    return result;
}

Matrix4 dglMatrixIdentity() { return Matrix4(); }

Matrix4 dglMatrixRotateX(float angle)
{
    Matrix4 result;
    float c = std::cos(angle);
    float s = std::sin(angle);
    result(1, 1) = c;
    result(1, 2) = s;
    result(2, 1) = -s;
    result(2, 2) = c;
    return result;
}

Matrix4 dglMatrixRotateY(float angle)
{
    Matrix4 result;
    float c = std::cos(angle);
    float s = std::sin(angle);
    result(0, 0) = c;
    result(0, 2) = -s;
    result(2, 0) = s;
    result(2, 2) = c;
    return result;
}

Matrix4 dglMatrixRotateZ(float angle)
{
    Matrix4 result;
    float c = std::cos(angle);
    float s = std::sin(angle);
    result(0, 0) = c;
    result(0, 1) = s;
    result(1, 0) = -s;
    result(1, 1) = c;
    return result;
}

Matrix4 dglMatrixTranslate(float x, float y, float z)
{
    Matrix4 result;
    result(3, 0) = x;
    result(3, 1) = y;
    result(3, 2) = z;
    return result;
}

Matrix4 dglMatrixScale(float x, float y, float z)
{
    Matrix4 result;
    result(0, 0) = x;
    result(1, 1) = y;
    result(2, 2) = z;
    return result;
}

// Left-handed: the camera looks along +z of view space. A target equal to
// the eye, or a view direction parallel to up, normalises a zero vector and
// gives NaN elements; callers never ask for that.
Matrix4 dglMatrixLookAt(Vector3 eye, Vector3 target, float roll)
{
    Vector3 up(std::sin(roll), std::cos(roll), 0.0f);
    Vector3 zaxis = (target - eye).normalized();
    Vector3 xaxis = up.cross(zaxis).normalized();
    Vector3 yaxis = zaxis.cross(xaxis);
    Matrix4 result;
    result(0, 0) = xaxis.x;
    result(1, 0) = xaxis.y;
    result(2, 0) = xaxis.z;
    result(0, 1) = yaxis.x;
    result(1, 1) = yaxis.y;
    result(2, 1) = yaxis.z;
    result(0, 2) = zaxis.x;
    result(1, 2) = zaxis.y;
    result(2, 2) = zaxis.z;
    result(3, 0) = -eye.dot(xaxis);
    result(3, 1) = -eye.dot(yaxis);
    result(3, 2) = -eye.dot(zaxis);
    result(0, 3) = 0.0f;
    result(1, 3) = 0.0f;
    result(2, 3) = 0.0f;
    result(3, 3) = 1.0f;
    return result;
}

namespace {
// The tangent as sin / cos, stored as a float before the reciprocal.
float tangent(float angle)
{
    float value = std::sin(angle) / std::cos(angle);
    return value;
}
} // namespace

// fov is the horizontal angle; the vertical one is fov / aspect.
Matrix4 dglMatrixPerspective(float fov, float aspect, float zNear, float zFar)
{
    Matrix4 result;
    for (float& element : result.m)
        element = 0.0f;
    result(0, 0) = 1.0f / tangent(fov / 2.0f);
    result(1, 1) = 1.0f / tangent((fov / aspect) / 2.0f);
    float q = zFar / (zFar - zNear);
    result(2, 2) = q;
    result(3, 2) = -q * zNear;
    result(2, 3) = 1.0f;
    result(3, 3) = 0.0f;
    return result;
}

// The vertical scale is 2.01, not 2: the picture is 0.5 % taller than wide.
Matrix4 dglMatrixOrtho(float width, float height, float zNear, float zFar)
{
    Matrix4 result;
    for (float& element : result.m)
        element = 0.0f;
    result(0, 0) = 2.0f / width;
    result(1, 1) = 2.01f / height;
    result(2, 2) = 1.0f / (zNear - zFar);
    result(3, 2) = zNear / (zNear - zFar);
    result(3, 3) = 1.0f;
    return result;
}

// Camera-space normal (nx, ny) to sphere-map coordinates (0.5 nx + 0.5, -0.5 ny + 0.5).
Matrix4 dglMatrixEnvMapping()
{
    Matrix4 result;
    for (float& element : result.m)
        element = 0.0f;
    result(0, 0) = 0.5f;
    result(1, 1) = -0.5f;
    result(2, 2) = 1.0f;
    result(3, 0) = 0.5f;
    result(3, 1) = 0.5f;
    result(3, 3) = 1.0f;
    return result;
}

void dglSetTransform(int type, Matrix4 matrix)
{
    if (type == D3DTS_VIEW)
        dglState.view = matrix;
    else if (type == D3DTS_PROJECTION)
        dglState.projection = matrix;
    else if (type == D3DTS_WORLD)
        dglState.world = matrix;
    D3DMATRIX record = matrix.toD3D();
    dglDeviceObject->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(type), &record);
}
