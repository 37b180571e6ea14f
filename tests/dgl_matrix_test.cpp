// Vectors, matrices, builders, the 4x4 inverse and dglSetTransform.
#include "imaging/matrix_inverse.h"
#include "tests/dgl_fixture.h"

#include <cmath>

namespace {

constexpr float PI = 3.14159265f;

void expectMatrixNear(const Matrix4& actual, const float (&expected)[16], float tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual.m[i], expected[i], tolerance) << "element " << i;
}

} // namespace

TEST(DglVector, Operations)
{
    Vector3 a(1, 2, 3);
    Vector3 b(4, 5, 6);
    EXPECT_FLOAT_EQ(Vector3(3, 4, 0).length(), 5.0f);
    Vector3 n = Vector3(0, 3, 4).normalized();
    EXPECT_FLOAT_EQ(n.y, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    Vector3 c = a.cross(b);
    EXPECT_EQ(c.x, -3.0f);
    EXPECT_EQ(c.y, 6.0f);
    EXPECT_EQ(c.z, -3.0f);
    EXPECT_EQ(a.dot(b), 32.0f);
    Vector3 d = a;
    EXPECT_EQ((d += b).z, 9.0f);
    EXPECT_EQ((d -= a).x, 4.0f);
    EXPECT_EQ((d *= 2.0f).y, 10.0f);
    EXPECT_EQ((d /= 4.0f).x, 2.0f);
    EXPECT_EQ((a / 3.0f).z, 1.0f);
    EXPECT_EQ(Vector3().x, 0.0f);
}

TEST(DglMatrix, ProductAppliesTheLeftMatrixFirst)
{
    Matrix4 scaleThenMove = dglMatrixScale(2, 2, 2) * dglMatrixTranslate(1, 0, 0);
    Vector3 p = scaleThenMove.transform(Vector3(1, 1, 1));
    EXPECT_EQ(p.x, 3.0f);
    EXPECT_EQ(p.y, 2.0f);
    Matrix4 m = dglMatrixTranslate(5, 6, 7);
    Vector3 origin = m.transform(Vector3());
    EXPECT_EQ(origin.x, 5.0f);
    EXPECT_EQ(origin.y, 6.0f);
    EXPECT_EQ(origin.z, 7.0f);
    m *= dglMatrixScale(0.5f, 1, 1);
    EXPECT_EQ(m(3, 0), 2.5f);
}

TEST(DglMatrix, RotationsFollowTheRowVectorConvention)
{
    Vector3 p = dglMatrixRotateZ(PI / 2).transform(Vector3(1, 0, 0));
    EXPECT_NEAR(p.x, 0.0f, 1e-6f);
    EXPECT_NEAR(p.y, 1.0f, 1e-6f);
    Vector3 q = dglMatrixRotateX(PI / 2).transform(Vector3(0, 1, 0));
    EXPECT_NEAR(q.z, 1.0f, 1e-6f);
    Vector3 r = dglMatrixRotateY(PI / 2).transform(Vector3(0, 0, 1));
    EXPECT_NEAR(r.x, 1.0f, 1e-6f);
}

TEST(DglMatrix, LookAtFromBehindTheOrigin)
{
    const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 4, 1};
    expectMatrixNear(dglMatrixLookAt(Vector3(0, 0, -4), Vector3(0, 0, 0), 0.0f), expected);
    // The target lands on the view's +z axis.
    Matrix4 view = dglMatrixLookAt(Vector3(3, 2, 1), Vector3(-1, 0, 5), 0.3f);
    Vector3 target = view.transform(Vector3(-1, 0, 5));
    EXPECT_NEAR(target.x, 0.0f, 1e-5f);
    EXPECT_NEAR(target.y, 0.0f, 1e-5f);
    EXPECT_NEAR(target.z, std::sqrt(16.0f + 4.0f + 16.0f), 1e-5f);
}

TEST(DglMatrix, PerspectiveOrthoAndEnvMapping)
{
    Matrix4 p = dglMatrixPerspective(PI / 4, 1.3f, 1.0f, 100.0f);
    EXPECT_NEAR(p(0, 0), 2.414f, 1e-3f);
    EXPECT_NEAR(p(1, 1), 3.209f, 1e-3f);
    EXPECT_FLOAT_EQ(p(2, 2), 100.0f / 99.0f);
    EXPECT_FLOAT_EQ(p(3, 2), -100.0f / 99.0f);
    EXPECT_EQ(p(2, 3), 1.0f);
    EXPECT_EQ(p(3, 3), 0.0f);
    EXPECT_EQ(p(0, 1), 0.0f);

    Matrix4 o = dglMatrixOrtho(640, 480, -1, 1);
    EXPECT_FLOAT_EQ(o(0, 0), 2.0f / 640.0f);
    EXPECT_FLOAT_EQ(o(1, 1), 2.01f / 480.0f);
    EXPECT_FLOAT_EQ(o(2, 2), -0.5f);
    EXPECT_FLOAT_EQ(o(3, 2), 0.5f);
    EXPECT_EQ(o(3, 3), 1.0f);

    Vector3 uv = dglMatrixEnvMapping().transform(Vector3(1, 1, 0));
    EXPECT_EQ(uv.x, 1.0f);
    EXPECT_EQ(uv.y, 0.0f);
}

TEST(DglMatrix, InverseUndoesAndSingularGivesIdentity)
{
    Matrix4 m = dglMatrixRotateY(0.7f) * dglMatrixScale(2, 3, 0.5f) * dglMatrixTranslate(1, -2, 3);
    m(0, 3) = 0.1f; // not affine either
    Matrix4 product = m * m.inverse();
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    expectMatrixNear(product, identity, 1e-5f);

    Matrix4 singular = dglMatrixTranslate(1, 2, 3);
    for (int c = 0; c < 4; ++c)
        singular(2, c) = 0.0f;
    expectMatrixNear(singular.inverse(), identity, 0.0f);

    D3DMATRIX zero{};
    D3DMATRIX out{};
    out.m[0][0] = 42.0f;
    EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &zero), nullptr);
    EXPECT_EQ(out.m[0][0], 42.0f); // nothing written

    D3DMATRIX scale{};
    scale.m[0][0] = 2;
    scale.m[1][1] = 4;
    scale.m[2][2] = 8;
    scale.m[3][3] = 1;
    EXPECT_FLOAT_EQ(D3DXMatrixfDeterminant(&scale), 64.0f);
    float determinant = 0.0f;
    ASSERT_EQ(D3DXMatrixInverse(&out, &determinant, &scale), &out);
    EXPECT_EQ(determinant, 64.0f);
    EXPECT_FLOAT_EQ(out.m[2][2], 0.125f);
}

TEST_F(DglTest, SetTransformCachesOnlyWorldViewAndProjection)
{
    init();
    Matrix4 move = dglMatrixTranslate(1, 2, 3);
    dglSetTransform(D3DTS_TEXTURE0, move);
    DglState state;
    dglGetState(&state);
    EXPECT_EQ(state.world(3, 0), 0.0f);
    EXPECT_EQ(state.view(3, 0), 0.0f);
    EXPECT_EQ(state.projection(3, 0), 0.0f);
    EXPECT_EQ(recordingTransform(D3DTS_TEXTURE0).m[3][1], 2.0f);

    dglSetTransform(D3DTS_WORLD, move);
    dglSetTransform(D3DTS_VIEW, dglMatrixScale(2, 2, 2));
    dglSetTransform(D3DTS_PROJECTION, dglMatrixScale(3, 3, 3));
    dglGetState(&state);
    EXPECT_EQ(state.world(3, 2), 3.0f);
    EXPECT_EQ(state.view(0, 0), 2.0f);
    EXPECT_EQ(state.projection(0, 0), 3.0f);
    EXPECT_EQ(recordingLogLines("SetTransform(256, ").front(), "SetTransform(256, [1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1])");
}
