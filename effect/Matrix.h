// 4 x 4 matrices and 4-vectors of doubles. Vectors are row vectors: a vector
// is transformed as v * M, and A * B applies A first. Entry [i][j] of the
// mathematical notation (1-based) is m[i-1][j-1] here.
//
// Products are summed left to right, one rounding per product and per sum;
// the build keeps the compiler from fusing them (-ffp-contract=off), as pixel
// results depend on every last bit.
#pragma once

struct Matrix4 {
    double m[4][4];
};
struct Vector4 {
    double v[4];
};

Matrix4 IdentityMatrix();
Matrix4 MMult(const Matrix4& A, const Matrix4& B);
Vector4 VMult(const Vector4& X, const Matrix4& A);
Matrix4 Transpose(const Matrix4& A);
Vector4 SubtractVector4(const Vector4& V1, const Vector4& V2);
Vector4 AxB(const Vector4& A, const Vector4& B);
Vector4 NormalVector(const Vector4& V1, const Vector4& V2, const Vector4& V3);
Vector4 VxC(const Vector4& V, double C);
double VLen(const Vector4& V);
void VNormalize(Vector4& V);  // V must not be all zero
Vector4 SetVector4(double X, double Y, double Z);
void GetVector4(const Vector4& V, double& X, double& Y, double& Z);
