// Single-precision rotation helpers of the per-frame sampling and blending:
// the far-hemisphere test, the normalisation and the key slerp.
#pragma once

#include "foundation/Quaternion.h"

// True when two unit rotations of this dot product lie more than half a
// turn apart (twice the arc cosine above pi): the dot product is negative
// beyond the float nearest the point where the double arc cosine of it
// rounds past pi / 2.
inline bool onFarHemisphere(float cosine) { return cosine <= -0x1.cb3b3ap-55f; }

// Scales a rotation to unit length in single precision.
void normalizeRotation(Quaternion& q);

// The spherical blend of two key rotations in single precision, along the
// shorter arc; nearly equal rotations give the first.
void keySlerp(const Quaternion& a, const Quaternion& b, Quaternion& out, float t);
