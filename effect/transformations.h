// Elementary affine transformations appended to an accumulated matrix:
// each call replaces T by T * M, so with row vectors the transformation
// appended last is applied last. Angles in radians.
#pragma once
#include "effect/Matrix.h"

void MScale(Matrix4& T, double SX, double SY, double SZ);
void MTranslate(Matrix4& T, double DX, double DY, double DZ);
void RotX(Matrix4& T, double PHI);  // y turns toward z
void RotY(Matrix4& T, double PHI);  // z turns toward x
void RotZ(Matrix4& T, double PHI);  // x turns toward y
