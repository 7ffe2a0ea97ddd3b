#include "effect/transformations.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const double kHalfPi = 1.5707963267948966;

// Turns are near; translations and scales are exact.
void ExpectNear(const Vector4& v, std::vector<double> want, double tolerance = 1e-15) {
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(v.v[k], want[k], tolerance) << k;
}

}  // namespace

TEST(Transformations, ZeroAngleDirectionsAndOrder) {
    // A zero angle and a unit scale change nothing.
    Matrix4 t = IdentityMatrix();
    MTranslate(t, 1, 2, 3);
    const Matrix4 before = t;
    RotX(t, 0.0), RotY(t, 0.0), RotZ(t, 0.0), MScale(t, 1, 1, 1);
    for (int i = 0; i < 16; ++i) EXPECT_EQ((&t.m[0][0])[i], (&before.m[0][0])[i]) << i;

    // RotZ: x toward y; RotX: y toward z; RotY: z toward x.
    struct Case {
        void (*rot)(Matrix4&, double);
        Vector4 in;
        std::vector<double> out;
    } cases[] = {{RotZ, {{1, 0, 0, 0}}, {0, 1, 0, 0}},
                 {RotX, {{0, 1, 0, 0}}, {0, 0, 1, 0}},
                 {RotY, {{0, 0, 1, 0}}, {1, 0, 0, 0}}};
    for (const Case& c : cases) {
        Matrix4 t = IdentityMatrix();
        c.rot(t, kHalfPi);
        ExpectNear(VMult(c.in, t), c.out);
    }
    // Appended transformations apply in call order: X sends y to z, then Y sends z to x.
    Matrix4 xy = IdentityMatrix(), yx = IdentityMatrix();
    RotX(xy, kHalfPi), RotY(xy, kHalfPi);
    RotY(yx, kHalfPi), RotX(yx, kHalfPi);
    ExpectNear(VMult(Vector4{{0, 1, 0, 0}}, xy), {1, 0, 0, 0});
    ExpectNear(VMult(Vector4{{0, 1, 0, 0}}, yx), {0, 0, 1, 0});

    Matrix4 m = IdentityMatrix();
    MTranslate(m, 1, 2, 3);
    ExpectNear(VMult(Vector4{{0, 0, 0, 1}}, m), {1, 2, 3, 1}, 0);
    ExpectNear(VMult(Vector4{{0, 0, 0, 0}}, m), {0, 0, 0, 0}, 0);
    // Scale then translate: the translation is not scaled.
    Matrix4 st = IdentityMatrix();
    MScale(st, 2, 3, 4);
    MTranslate(st, 1, 1, 1);
    ExpectNear(VMult(Vector4{{1, 1, 1, 1}}, st), {3, 4, 5, 1}, 0);
}
