#include "foundation/Math.h"

#include <cmath>

Matrix34 matrix34Identity() { return Matrix34{{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}}; }

bool allFinite(const float* values, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

void matrix33Multiply(Matrix34& a, const Matrix33& r) {
    float out[9];
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k)
                sum += static_cast<double>(a.m[row * 3 + k]) * r.m[k * 3 + col];
            out[row * 3 + col] = static_cast<float>(sum);
        }
    for (int i = 0; i < 9; ++i) a.m[i] = out[i];
}

void vector3Rotate(float* v, const Matrix34& m) {
    const double x = v[0], y = v[1], z = v[2];
    for (int col = 0; col < 3; ++col)
        v[col] = static_cast<float>(x * m.m[col] + y * m.m[3 + col] + z * m.m[6 + col]);
}

void matrix34Multiply(Matrix34& a, const Matrix34& b) {
    Matrix33 rotation;
    for (int i = 0; i < 9; ++i) rotation.m[i] = b.m[i];
    matrix33Multiply(a, rotation);
    vector3Rotate(a.m + 9, b);
    for (int i = 0; i < 3; ++i) a.m[9 + i] += b.m[9 + i];
}

float vector3Dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

float vector3Length(const float* v) { return std::sqrt(vector3Dot(v, v)); }

void vector3Normalize(float* v) {
    const float length = vector3Length(v);
    if (length > 0.0f)
        for (int i = 0; i < 3; ++i) v[i] /= length;
}

void vector3Cross(const float* a, const float* b, float* out) {
    const float x = a[1] * b[2] - a[2] * b[1];
    const float y = a[2] * b[0] - a[0] * b[2];
    const float z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}
