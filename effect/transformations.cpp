#include "effect/transformations.h"

#include <cmath>

void MScale(Matrix4& T, double SX, double SY, double SZ) {
    Matrix4 m = IdentityMatrix();
    m.m[0][0] = SX;
    m.m[1][1] = SY;
    m.m[2][2] = SZ;
    T = MMult(T, m);
}

void MTranslate(Matrix4& T, double DX, double DY, double DZ) {
    Matrix4 m = IdentityMatrix();
    m.m[3][0] = DX;
    m.m[3][1] = DY;
    m.m[3][2] = DZ;
    T = MMult(T, m);
}

void RotX(Matrix4& T, double PHI) {
    const double c = std::cos(PHI);
    const double s = std::sin(PHI);
    Matrix4 m = IdentityMatrix();
    m.m[1][1] = c;
    m.m[1][2] = s;
    m.m[2][1] = -s;
    m.m[2][2] = c;
    T = MMult(T, m);
}

void RotY(Matrix4& T, double PHI) {
    const double c = std::cos(PHI);
    const double s = std::sin(PHI);
    Matrix4 m = IdentityMatrix();
    m.m[0][0] = c;
    m.m[0][2] = -s;
    m.m[2][0] = s;
    m.m[2][2] = c;
    T = MMult(T, m);
}

void RotZ(Matrix4& T, double PHI) {
    const double c = std::cos(PHI);
    const double s = std::sin(PHI);
    Matrix4 m = IdentityMatrix();
    m.m[0][0] = c;
    m.m[0][1] = s;
    m.m[1][0] = -s;
    m.m[1][1] = c;
    T = MMult(T, m);
}
