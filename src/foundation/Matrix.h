// Operations on the engine's 3-by-3 and 3-by-4 matrices (foundation/Math.h):
// point transformation, inverses, rotation from an axis and an angle, and
// NaN tests that read the bits of each float.
//
// Row vectors throughout: row i of the 3-by-3 part is the image of axis i
// and a point p maps to p times the 3-by-3 part plus the translation row.
// Each function computes in double precision and stores floats.
#pragma once

#include "foundation/Math.h"

// The point (3 floats) transformed by m, in place.
void vector3Transform(float* point, const Matrix34& m);
// out = the inverse of the matrix with rows r0, r1, r2; out must not hold
// any of them. A singular matrix gives non-finite entries.
void matrix33Inverse(Matrix33& out, const float* r0, const float* r1, const float* r2);
// out = the inverse transform of in; out and in must differ.
void matrix34Inverse(const Matrix34& in, Matrix34& out);
// out = the rotation by angle (radians) about the unit axis (x, y, z).
void matrix33FromAxisAngle(Matrix33& out, float angle, float x, float y, float z);

// True when a float's bits are a NaN (all exponent bits, non-zero mantissa,
// either sign); infinities are no NaN. No floating-point comparison is made.
bool vector3HasNaN(const float* v);
bool matrix34HasNaN(const Matrix34& m);

// 4-by-4 matrices of 16 floats, row vectors: out = a x b (out may not be a
// or b).
void matrix44Multiply(const float* a, const float* b, float* out);
// out = the inverse of in; false (out untouched) for a singular matrix.
bool matrix44Inverse(const float* in, float* out);
// Moves a position and (unless null) a direction into the space of an
// object whose 4x4 world matrix (row vectors) is given; the direction is
// normalised. A singular matrix leaves both (false).
bool toObjectSpace(const float* world, float* position, float* direction);
