// Geometry on plain float arrays, one convention throughout: row vectors,
// transforms compose left to right. A 3-by-4 matrix holds three rotation
// (and scale) rows of three floats, then the translation row; a point p maps
// to p times the rotation rows plus the translation.
#pragma once

struct Matrix33 {
    float m[9];
};

struct Matrix34 {
    float m[12];
};

// Identity rotation, zero translation.
Matrix34 matrix34Identity();

// True when none of the values is infinite or not a number.
bool allFinite(const float* values, int count);
// a becomes a x b in place: a's rotation rows times b's rotation, then a's
// translation times b's rotation plus b's translation.
void matrix34Multiply(Matrix34& a, const Matrix34& b);
// The rotation part of a becomes a's rotation x r in place.
void matrix33Multiply(Matrix34& a, const Matrix33& r);
// v becomes v times the rotation part of m, in place.
void vector3Rotate(float* v, const Matrix34& m);

// 3-float vectors.
float vector3Dot(const float* a, const float* b);
float vector3Length(const float* v);
// Scales v to unit length in place; a zero vector stays zero.
void vector3Normalize(float* v);
// out = a x b; out may be a or b.
void vector3Cross(const float* a, const float* b, float* out);
