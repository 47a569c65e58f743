#include "foundation/Matrix.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

void vector3Transform(float* point, const Matrix34& m) {
    const double x = point[0], y = point[1], z = point[2];
    for (int j = 0; j < 3; ++j)
        point[j] = static_cast<float>(x * m.m[j] + y * m.m[3 + j] + z * m.m[6 + j] + m.m[9 + j]);
}

namespace {

struct Vec {
    double x, y, z;
};

Vec vec(const float* r) { return {r[0], r[1], r[2]}; }
Vec cross(const Vec& a, const Vec& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

void matrix33Inverse(Matrix33& out, const float* r0, const float* r1, const float* r2) {
    const Vec a = vec(r0), b = vec(r1), c = vec(r2);
    // Column k of the inverse is the cross product of the other two rows
    // over the determinant, each column computing its own.
    const Vec columns[3] = {cross(b, c), cross(c, a), cross(a, b)};
    const Vec* rows[3] = {&a, &b, &c};
    for (int k = 0; k < 3; ++k) {
        const double det = dot(*rows[k], columns[k]);
        out.m[0 * 3 + k] = static_cast<float>(columns[k].x / det);
        out.m[1 * 3 + k] = static_cast<float>(columns[k].y / det);
        out.m[2 * 3 + k] = static_cast<float>(columns[k].z / det);
    }
}

void matrix34Inverse(const Matrix34& in, Matrix34& out) {
    Matrix33 inverse;
    matrix33Inverse(inverse, in.m, in.m + 3, in.m + 6);
    for (int i = 0; i < 9; ++i) out.m[i] = inverse.m[i];
    const double t0 = in.m[9], t1 = in.m[10], t2 = in.m[11];
    for (int j = 0; j < 3; ++j)
        out.m[9 + j] = static_cast<float>(-(t0 * inverse.m[j] + t1 * inverse.m[3 + j] + t2 * inverse.m[6 + j]));
}

void matrix33FromAxisAngle(Matrix33& out, float angle, float x, float y, float z) {
    const double c = std::cos(static_cast<double>(angle));
    const double s = std::sin(static_cast<double>(angle));
    const double k = 1.0 - c;
    const double ax = x, ay = y, az = z;
    const double m[9] = {
        ax * ax * k + c,      ax * ay * k + az * s, ax * az * k - ay * s,
        ax * ay * k - az * s, ay * ay * k + c,      ay * az * k + ax * s,
        ax * az * k + ay * s, ay * az * k - ax * s, az * az * k + c,
    };
    for (int i = 0; i < 9; ++i) out.m[i] = static_cast<float>(m[i]);
}

namespace {

bool isNaNBits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0;
}

}  // namespace

bool vector3HasNaN(const float* v) { return isNaNBits(v[0]) || isNaNBits(v[1]) || isNaNBits(v[2]); }

bool matrix34HasNaN(const Matrix34& m) {
    for (int row = 0; row < 4; ++row)
        if (vector3HasNaN(m.m + 3 * row)) return true;
    return false;
}

void matrix44Multiply(const float* a, const float* b, float* out) {
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += static_cast<double>(a[row * 4 + k]) * b[k * 4 + col];
            out[row * 4 + col] = static_cast<float>(sum);
        }
}

bool matrix44Inverse(const float* in, float* out) {
    // Gauss-Jordan elimination with partial pivoting, in double precision.
    double a[4][8];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 8; ++c) a[r][c] = c < 4 ? in[r * 4 + c] : (c - 4 == r ? 1.0 : 0.0);
    for (int col = 0; col < 4; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 4; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (std::fabs(a[pivot][col]) < 1e-12) return false;
        if (pivot != col)
            for (int c = 0; c < 8; ++c) std::swap(a[pivot][c], a[col][c]);
        const double scale = 1.0 / a[col][col];
        for (int c = 0; c < 8; ++c) a[col][c] *= scale;
        for (int r = 0; r < 4; ++r) {
            if (r == col) continue;
            const double factor = a[r][col];
            for (int c = 0; c < 8; ++c) a[r][c] -= factor * a[col][c];
        }
    }
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out[r * 4 + c] = static_cast<float>(a[r][c + 4]);
    return true;
}

bool toObjectSpace(const float* world, float* position, float* direction) {
    float inverse[16];
    if (!matrix44Inverse(world, inverse)) return false;
    const float p[3] = {position[0], position[1], position[2]};
    for (int c = 0; c < 3; ++c)
        position[c] = p[0] * inverse[c] + p[1] * inverse[4 + c] + p[2] * inverse[8 + c] + inverse[12 + c];
    if (!direction) return true;
    const float v[3] = {direction[0], direction[1], direction[2]};
    for (int c = 0; c < 3; ++c) direction[c] = v[0] * inverse[c] + v[1] * inverse[4 + c] + v[2] * inverse[8 + c];
    if (vector3Dot(direction, direction) > 0.0f) vector3Normalize(direction);
    return true;
}
