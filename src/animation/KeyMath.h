// Single-precision rotation helpers of the per-frame sampling and blending:
// the far-hemisphere test, the normalisation and the key slerp.
#pragma once

#include <cmath>

#include "foundation/Quaternion.h"

// True when two unit rotations of this dot product lie more than half a
// turn apart (twice the arc cosine above pi): the dot product is negative
// beyond the float nearest the point where the double arc cosine of it
// rounds past pi / 2.
inline bool onFarHemisphere(float cosine) { return cosine <= -0x1.cb3b3ap-55f; }

// Scales a rotation to unit length in single precision.
inline void normalizeRotation(Quaternion& q) {
    const float length2 = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    // Lengths whose squares leave the float range take the double way.
    if (!(length2 > 1e-30f && length2 < 1e30f)) {
        quaternionNormalize(q);
        return;
    }
    const float scale = 1.0f / std::sqrt(length2);
    q = {q.x * scale, q.y * scale, q.z * scale, q.w * scale};
}

// The spherical blend of two key rotations in single precision, along the
// shorter arc; nearly equal rotations give the first.
inline void keySlerp(const Quaternion& a, const Quaternion& b, Quaternion& out, float t) {
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
