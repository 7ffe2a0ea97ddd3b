#include "effect/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

Matrix4 Sample() {
    Matrix4 m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m.m[i][j] = (i + 1) * 10 + j + 1 + 0.25 * ((i * 7 + j * 3) % 5);
    return m;
}

std::vector<double> Values(const Matrix4& a) { return std::vector<double>(&a.m[0][0], &a.m[0][0] + 16); }
std::vector<double> Values(const Vector4& v) { return std::vector<double>(v.v, v.v + 4); }
using V = std::vector<double>;

}  // namespace

TEST(Matrix, IdentityAndProducts) {
    const Matrix4 id = IdentityMatrix(), m = Sample();
    EXPECT_EQ(Values(MMult(m, id)), Values(m));
    EXPECT_EQ(Values(MMult(id, m)), Values(m));
    EXPECT_EQ(Values(VMult(Vector4{{1.5, -2.25, 3.0, 0.5}}, id)), (V{1.5, -2.25, 3.0, 0.5}));
    // (0, 0, 0, 1) picks row 4; component 4 is neither forced nor divided out.
    EXPECT_EQ(Values(VMult(Vector4{{0, 0, 0, 1}}, m)), V(m.m[3], m.m[3] + 4));

    // 1e16 + 1 rounds back to 1e16: only the left-to-right order gives 1.
    Matrix4 a = IdentityMatrix(), b = IdentityMatrix();
    a.m[0][0] = 1e16, a.m[0][1] = 1, a.m[0][2] = -1e16, a.m[0][3] = 1;
    for (int i = 0; i < 4; ++i) b.m[i][0] = 1;
    EXPECT_EQ(MMult(a, b).m[0][0], 1.0);
    EXPECT_EQ(VMult(Vector4{{1e16, 1, -1e16, 1}}, b).v[0], 1.0);

    // A product may be assigned back to either argument.
    const Matrix4 fresh = MMult(m, Transpose(m));
    Matrix4 lhs = m, rhs = Transpose(m);
    lhs = MMult(lhs, Transpose(m));
    rhs = MMult(m, rhs);
    EXPECT_EQ(Values(lhs), Values(fresh));
    EXPECT_EQ(Values(rhs), Values(fresh));
    EXPECT_NE(Values(fresh), Values(MMult(Transpose(m), m)));  // not commutative, so the check means something
}

TEST(Matrix, VectorOperations) {
    const Matrix4 m = Sample();
    EXPECT_EQ(Transpose(m).m[1][3], m.m[3][1]);
    EXPECT_EQ(VLen(SetVector4(3, 4, 0)), std::sqrt(26.0));  // component 4 counts
    // Three-component results set component 4 to 1.
    EXPECT_EQ(Values(AxB(SetVector4(1, 0, 0), SetVector4(0, 1, 0))), (V{0, 0, 1, 1}));
    EXPECT_EQ(Values(AxB(Vector4{{0, 0, 1, 7}}, Vector4{{1, 0, 0, 9}})), (V{0, 1, 0, 1}));
    EXPECT_EQ(Values(SubtractVector4(Vector4{{5, 7, 9, 0}}, Vector4{{1, 2, 3, 5}})), (V{4, 5, 6, 1}));
    EXPECT_EQ(Values(VxC(Vector4{{1, -2, 3, 5}}, 2.5)), (V{2.5, -5, 7.5, 1}));
    // Plane z = 1 through three points, counter-clockwise from above: +z, not normalised.
    EXPECT_EQ(Values(NormalVector(SetVector4(0, 0, 1), SetVector4(2, 0, 1), SetVector4(0, 3, 1))), (V{0, 0, 6, 1}));
    EXPECT_EQ(NormalVector(SetVector4(0, 0, 1), SetVector4(0, 3, 1), SetVector4(2, 0, 1)).v[2], -6.0);
    Vector4 v = SetVector4(3, 4, 0);
    VNormalize(v);
    EXPECT_EQ(Values(v), (V{3 * (1.0 / std::sqrt(26.0)), 4 * (1.0 / std::sqrt(26.0)), 0, 1}));
}
