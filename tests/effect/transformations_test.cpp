#include "effect/transformations.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
const double kHalfPi = 1.5707963267948966;
}

TEST(Transformations, ZeroAngleAndUnitScaleChangeNothing) {
    Matrix4 t = IdentityMatrix();
    MTranslate(t, 1, 2, 3);
    const Matrix4 before = t;
    RotX(t, 0.0);
    RotY(t, 0.0);
    RotZ(t, 0.0);
    MScale(t, 1, 1, 1);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(t.m[i][j], before.m[i][j]);
}

TEST(Transformations, RotationsTurnTheRightWay) {
    // RotZ: x toward y; RotX: y toward z; RotY: z toward x.
    struct Case {
        void (*rot)(Matrix4&, double);
        Vector4 in;
        int to;
    } cases[] = {{RotZ, {{1, 0, 0, 0}}, 1}, {RotX, {{0, 1, 0, 0}}, 2}, {RotY, {{0, 0, 1, 0}}, 0}};
    for (const Case& c : cases) {
        Matrix4 t = IdentityMatrix();
        c.rot(t, kHalfPi);
        const Vector4 out = VMult(c.in, t);
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(out.v[k], k == c.to ? 1.0 : 0.0, 1e-15) << k;
    }
    // Entries exactly as the elementary matrix: RotX puts s at [2][3], -s at [3][2].
    Matrix4 t = IdentityMatrix();
    RotX(t, 0.5);
    EXPECT_EQ(t.m[1][2], std::sin(0.5));
    EXPECT_EQ(t.m[2][1], -std::sin(0.5));
    EXPECT_EQ(t.m[1][1], std::cos(0.5));
}

TEST(Transformations, AppendedTransformationsApplyInCallOrder) {
    Matrix4 xy = IdentityMatrix(), yx = IdentityMatrix();
    RotX(xy, kHalfPi);
    RotY(xy, kHalfPi);
    RotY(yx, kHalfPi);
    RotX(yx, kHalfPi);
    // (0,1,0): X sends it to z, then Y sends z to x.
    const Vector4 a = VMult(Vector4{{0, 1, 0, 0}}, xy);
    const Vector4 b = VMult(Vector4{{0, 1, 0, 0}}, yx);
    EXPECT_NEAR(a.v[0], 1.0, 1e-15);
    EXPECT_NEAR(b.v[2], 1.0, 1e-15);

    Matrix4 m = IdentityMatrix();
    MTranslate(m, 1, 2, 3);
    const Vector4 p = VMult(Vector4{{0, 0, 0, 1}}, m);
    EXPECT_EQ(p.v[0], 1.0);
    EXPECT_EQ(p.v[1], 2.0);
    EXPECT_EQ(p.v[2], 3.0);
    EXPECT_EQ(p.v[3], 1.0);
    const Vector4 dir = VMult(Vector4{{0, 0, 0, 0}}, m);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(dir.v[k], 0.0);

    // Scale then translate: the translation is not scaled.
    Matrix4 st = IdentityMatrix();
    MScale(st, 2, 3, 4);
    MTranslate(st, 1, 1, 1);
    const Vector4 q = VMult(Vector4{{1, 1, 1, 1}}, st);
    EXPECT_EQ(q.v[0], 3.0);
    EXPECT_EQ(q.v[1], 4.0);
    EXPECT_EQ(q.v[2], 5.0);
    EXPECT_EQ(q.v[3], 1.0);
}
