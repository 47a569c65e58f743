#include "foundation/Quaternion.h"

#include <cmath>

const Quaternion& quaternionIdentity() {
    static const Quaternion identity{0.0f, 0.0f, 0.0f, 1.0f};
    return identity;
}

Quaternion& quaternionFromMatrix(const float* m, Quaternion& out) {
    const double m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3], m4 = m[4], m5 = m[5], m6 = m[6], m7 = m[7],
                 m8 = m[8];
    const double trace = static_cast<double>(m[4] + m[8]) + m0;
    double x, y, z, w;
    if (trace >= 0.0) {
        const double s = std::sqrt(trace + 1.0);
        const double f = 0.5 / s;
        w = 0.5 * s;
        x = (m5 - m7) * f;
        y = (m6 - m2) * f;
        z = (m1 - m3) * f;
    } else {
        // The largest diagonal entry picks the branch; ties keep the lower index.
        int i = 0;
        if (m4 > m0) i = 1;
        if (m8 > (i == 0 ? m0 : m4)) i = 2;
        if (i == 0) {
            const double s = std::sqrt(m0 - (m4 + m8) + 1.0);
            const double f = 0.5 / s;
            x = 0.5 * s;
            y = (m3 + m1) * f;
            z = (m6 + m2) * f;
            w = (m5 - m7) * f;
        } else if (i == 1) {
            const double s = std::sqrt(m4 - (m0 + m8) + 1.0);
            const double f = 0.5 / s;
            y = 0.5 * s;
            z = (m7 + m5) * f;
            x = (m3 + m1) * f;
            w = (m6 - m2) * f;
        } else {
            const double s = std::sqrt(m8 - (m4 + m0) + 1.0);
            const double f = 0.5 / s;
            z = 0.5 * s;
            x = (m6 + m2) * f;
            y = (m7 + m5) * f;
            w = (m1 - m3) * f;
        }
    }
    out = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z), static_cast<float>(w)};
    return out;
}

void quaternionToMatrix33(const Quaternion& q, Matrix33& out) {
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    const double m[9] = {
        1.0 - 2.0 * (y * y + z * z), 2.0 * (x * y + z * w),       2.0 * (x * z - y * w),
        2.0 * (x * y - z * w),       1.0 - 2.0 * (x * x + z * z), 2.0 * (y * z + x * w),
        2.0 * (x * z + y * w),       2.0 * (y * z - x * w),       1.0 - 2.0 * (x * x + y * y),
    };
    for (int i = 0; i < 9; ++i) out.m[i] = static_cast<float>(m[i]);
}

void quaternionNormalize(Quaternion& q) {
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    const double scale = 1.0 / std::sqrt(x * x + y * y + z * z + w * w);
    q = {static_cast<float>(x * scale), static_cast<float>(y * scale), static_cast<float>(z * scale),
         static_cast<float>(w * scale)};
}

void quaternionSlerp(const Quaternion& a, const Quaternion& b, Quaternion& out, float t) {
    const Quaternion first = a;
    const Quaternion second = b;
    out = first;
    double d = static_cast<double>(first.x) * second.x + static_cast<double>(first.y) * second.y +
               static_cast<double>(first.z) * second.z + static_cast<double>(first.w) * second.w;
    double sign = 1.0;
    if (d < 0.0) {
        d = -d;
        sign = -1.0;
    }
    // The threshold is the float nearest 1e-16.
    const double rest = 1.0 - d * d;
    if (rest < static_cast<double>(1e-16f)) return;
    const float sn = static_cast<float>(std::sqrt(rest));
    const double angle = std::atan2(static_cast<double>(sn), d);
    const double w0 = std::sin((1.0 - t) * angle) / sn;
    const double w1 = sign * std::sin(t * angle) / sn;
    out = {static_cast<float>(w0 * first.x + w1 * second.x), static_cast<float>(w0 * first.y + w1 * second.y),
           static_cast<float>(w0 * first.z + w1 * second.z), static_cast<float>(w0 * first.w + w1 * second.w)};
}

void blendTransforms(const Matrix34& a, const Matrix34& b, Matrix34& out, float t) {
    Quaternion qa, qb, q;
    quaternionFromMatrix(a, qa);
    quaternionFromMatrix(b, qb);
    quaternionSlerp(qa, qb, q, t);
    const double ta[3] = {a.m[9], a.m[10], a.m[11]};
    const double tb[3] = {b.m[9], b.m[10], b.m[11]};
    Matrix33 rotation;
    quaternionToMatrix33(q, rotation);
    for (int i = 0; i < 9; ++i) out.m[i] = rotation.m[i];
    for (int j = 0; j < 3; ++j) out.m[9 + j] = static_cast<float>((1.0 - t) * ta[j] + t * tb[j]);
}
