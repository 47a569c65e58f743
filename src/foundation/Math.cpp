#include "foundation/Math.h"

Matrix34 matrix34Identity() { return Matrix34{{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}}; }

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
