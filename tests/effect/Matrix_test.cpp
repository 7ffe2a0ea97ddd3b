#include "effect/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Matrix4 Sample() {
    Matrix4 m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m.m[i][j] = (i + 1) * 10 + j + 1 + 0.25 * ((i * 7 + j * 3) % 5);
    return m;
}

void ExpectSame(const Matrix4& a, const Matrix4& b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(a.m[i][j], b.m[i][j]) << i << "," << j;
}

}  // namespace

TEST(Matrix, IdentityLeavesValuesUnchanged) {
    const Matrix4 id = IdentityMatrix();
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(id.m[i][j], i == j ? 1.0 : 0.0);
    const Matrix4 m = Sample();
    ExpectSame(MMult(m, id), m);
    ExpectSame(MMult(id, m), m);
    const Vector4 v{{1.5, -2.25, 3.0, 0.5}};
    const Vector4 w = VMult(v, id);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(w.v[k], v.v[k]);
}

TEST(Matrix, ProductsAreRowVectorTimesMatrixSummedLeftToRight) {
    const Matrix4 m = Sample();
    // (0, 0, 0, 1) picks row 4; component 4 is neither forced nor divided out.
    const Vector4 r4 = VMult(Vector4{{0, 0, 0, 1}}, m);
    for (int j = 0; j < 4; ++j) EXPECT_EQ(r4.v[j], m.m[3][j]);
    const Vector4 r1 = VMult(Vector4{{2, 0, 0, 0}}, m);
    EXPECT_EQ(r1.v[3], 2 * m.m[0][3]);

    // 1e16 + 1 rounds back to 1e16: only the left-to-right order gives 1.
    Matrix4 a = IdentityMatrix(), b = IdentityMatrix();
    a.m[0][0] = 1e16, a.m[0][1] = 1, a.m[0][2] = -1e16, a.m[0][3] = 1;
    for (int i = 0; i < 4; ++i) b.m[i][0] = 1;
    EXPECT_EQ(MMult(a, b).m[0][0], 1.0);
    EXPECT_EQ(VMult(Vector4{{1e16, 1, -1e16, 1}}, b).v[0], 1.0);

    // A . B applies A first: translate then scale differs from the reverse.
    Matrix4 t = IdentityMatrix(), s = IdentityMatrix();
    t.m[3][0] = 1;
    s.m[0][0] = 2;
    EXPECT_EQ(VMult(Vector4{{1, 0, 0, 1}}, MMult(t, s)).v[0], 4.0);
    EXPECT_EQ(VMult(Vector4{{1, 0, 0, 1}}, MMult(s, t)).v[0], 3.0);
}

TEST(Matrix, ProductMayReplaceItsArgument) {
    const Matrix4 a0 = Sample();
    Matrix4 b = Transpose(a0);
    const Matrix4 fresh = MMult(a0, b);
    Matrix4 a = a0;
    a = MMult(a, b);
    ExpectSame(a, fresh);
    b = MMult(a0, b);
    ExpectSame(b, fresh);
    EXPECT_NE(fresh.m[0][1], MMult(b, a0).m[0][1]);  // not commutative, so the test means something
}

TEST(Matrix, VectorOperations) {
    const Matrix4 m = Sample();
    const Matrix4 t = Transpose(m);
    EXPECT_EQ(t.m[1][3], m.m[3][1]);
    EXPECT_EQ(t.m[2][2], m.m[2][2]);

    EXPECT_EQ(VLen(SetVector4(3, 4, 0)), std::sqrt(26.0));  // component 4 counts

    const Vector4 z = AxB(SetVector4(1, 0, 0), SetVector4(0, 1, 0));
    EXPECT_EQ(z.v[0], 0.0);
    EXPECT_EQ(z.v[1], 0.0);
    EXPECT_EQ(z.v[2], 1.0);
    EXPECT_EQ(z.v[3], 1.0);
    const Vector4 y = AxB(Vector4{{0, 0, 1, 7}}, Vector4{{1, 0, 0, 9}});
    EXPECT_EQ(y.v[1], 1.0);
    EXPECT_EQ(y.v[3], 1.0);

    const Vector4 d = SubtractVector4(Vector4{{5, 7, 9, 0}}, Vector4{{1, 2, 3, 5}});
    EXPECT_EQ(d.v[0], 4.0);
    EXPECT_EQ(d.v[2], 6.0);
    EXPECT_EQ(d.v[3], 1.0);

    // Plane z = 1 through three points, counter-clockwise from above: +z.
    const Vector4 n = NormalVector(SetVector4(0, 0, 1), SetVector4(2, 0, 1), SetVector4(0, 3, 1));
    EXPECT_EQ(n.v[0], 0.0);
    EXPECT_EQ(n.v[1], 0.0);
    EXPECT_EQ(n.v[2], 6.0);  // not normalised
    const Vector4 flipped = NormalVector(SetVector4(0, 0, 1), SetVector4(0, 3, 1), SetVector4(2, 0, 1));
    EXPECT_EQ(flipped.v[2], -6.0);

    const Vector4 c = VxC(Vector4{{1, -2, 3, 5}}, 2.5);
    EXPECT_EQ(c.v[1], -5.0);
    EXPECT_EQ(c.v[3], 1.0);

    Vector4 v = SetVector4(3, 4, 0);
    VNormalize(v);
    EXPECT_EQ(v.v[0], 3 * (1.0 / std::sqrt(26.0)));
    EXPECT_EQ(v.v[1], 4 * (1.0 / std::sqrt(26.0)));
    EXPECT_EQ(v.v[3], 1.0);

    double x, yy, zz;
    GetVector4(Vector4{{1, 2, 3, 4}}, x, yy, zz);
    EXPECT_EQ(x, 1.0);
    EXPECT_EQ(yy, 2.0);
    EXPECT_EQ(zz, 3.0);
}
