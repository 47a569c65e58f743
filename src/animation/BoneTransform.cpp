#include "animation/BoneTransform.h"

#include <cmath>

#include "animation/KeyMath.h"

Matrix34 BoneTransform::toMatrix() const {
    // In single precision: the bones of every model are composed each frame.
    const float x = rotation.x, y = rotation.y, z = rotation.z, w = rotation.w;
    const float r[9] = {1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w),       2.0f * (x * z - y * w),
                        2.0f * (x * y - z * w),       1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + x * w),
                        2.0f * (x * z + y * w),       2.0f * (y * z - x * w),       1.0f - 2.0f * (x * x + y * y)};
    Matrix34 out;
    for (int row = 0; row < 3; ++row)
        for (int c = 0; c < 3; ++c) out.m[row * 3 + c] = scale[row] * r[row * 3 + c];
    for (int c = 0; c < 3; ++c) out.m[9 + c] = translation[c];
    return out;
}

void normalizeRotation(Quaternion& q) {
    const float length2 = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    // Lengths whose squares leave the float range take the double way.
    if (!(length2 > 1e-30f && length2 < 1e30f)) {
        quaternionNormalize(q);
        return;
    }
    const float scale = 1.0f / std::sqrt(length2);
    q = {q.x * scale, q.y * scale, q.z * scale, q.w * scale};
}

Matrix34 multiplyTransforms(const Matrix34& a, const Matrix34& b) {
    Matrix34 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) {
            float v = r == 3 ? b.m[9 + c] : 0.0f;
            for (int k = 0; k < 3; ++k) v += a.m[r * 3 + k] * b.m[k * 3 + c];
            out.m[r * 3 + c] = v;
        }
    return out;
}

void keySlerp(const Quaternion& a, const Quaternion& b, Quaternion& out, float t) {
    float d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    float sign = 1.0f;
    if (d < 0.0f) {
        d = -d;
        sign = -1.0f;
    }
    const float rest = 1.0f - d * d;
    if (!(rest > 0.0f)) {
        out = a;
        return;
    }
    const float sn = std::sqrt(rest);
    const float angle = std::atan2(sn, d);
    const float w0 = std::sin((1.0f - t) * angle) / sn;
    const float w1 = sign * std::sin(t * angle) / sn;
    out = {w0 * a.x + w1 * b.x, w0 * a.y + w1 * b.y, w0 * a.z + w1 * b.z, w0 * a.w + w1 * b.w};
}
