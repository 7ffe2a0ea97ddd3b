#include "effect/Matrix.h"

#include <cmath>

Matrix4 IdentityMatrix() {
    Matrix4 r;
    for (int j = 0; j < 4; ++j) {
        for (int k = 0; k < 4; ++k) r.m[j][k] = 0.0;
        r.m[j][j] = 1.0;
    }
    return r;
}

// The result is built in a temporary, so A or B may be the destination.
Matrix4 MMult(const Matrix4& A, const Matrix4& B) {
    Matrix4 c;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            c.m[i][j] = ((A.m[i][0] * B.m[0][j] + A.m[i][1] * B.m[1][j]) + A.m[i][2] * B.m[2][j]) +
                        A.m[i][3] * B.m[3][j];
    return c;
}

Vector4 VMult(const Vector4& X, const Matrix4& A) {
    Vector4 r;
    for (int j = 0; j < 4; ++j)
        r.v[j] = ((X.v[0] * A.m[0][j] + X.v[1] * A.m[1][j]) + X.v[2] * A.m[2][j]) + X.v[3] * A.m[3][j];
    return r;
}

Matrix4 Transpose(const Matrix4& A) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r.m[i][j] = A.m[j][i];
    return r;
}

Vector4 SubtractVector4(const Vector4& V1, const Vector4& V2) {
    return Vector4{{V1.v[0] - V2.v[0], V1.v[1] - V2.v[1], V1.v[2] - V2.v[2], 1.0}};
}

Vector4 AxB(const Vector4& A, const Vector4& B) {
    return Vector4{{A.v[1] * B.v[2] - A.v[2] * B.v[1], A.v[2] * B.v[0] - A.v[0] * B.v[2],
                    A.v[0] * B.v[1] - A.v[1] * B.v[0], 1.0}};
}

Vector4 NormalVector(const Vector4& V1, const Vector4& V2, const Vector4& V3) {
    return AxB(SubtractVector4(V2, V1), SubtractVector4(V3, V1));
}

Vector4 VxC(const Vector4& V, double C) { return Vector4{{V.v[0] * C, V.v[1] * C, V.v[2] * C, 1.0}}; }

double VLen(const Vector4& V) {
    return std::sqrt(((V.v[0] * V.v[0] + V.v[1] * V.v[1]) + V.v[2] * V.v[2]) + V.v[3] * V.v[3]);
}

void VNormalize(Vector4& V) { V = VxC(V, 1.0 / VLen(V)); }

Vector4 SetVector4(double X, double Y, double Z) { return Vector4{{X, Y, Z, 1.0}}; }

void GetVector4(const Vector4& V, double& X, double& Y, double& Z) {
    X = V.v[0];
    Y = V.v[1];
    Z = V.v[2];
}
