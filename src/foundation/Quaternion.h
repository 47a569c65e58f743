// Rotations as quaternions: conversion to and from rotation matrices,
// normalisation, spherical interpolation and the blend of two transforms.
//
// Components are stored x, y, z, w; a rotation by angle a about the unit
// axis u is (u sin(a/2), cos(a/2)). Matrices follow foundation/Math.h (row
// vectors).
#pragma once

#include "foundation/Math.h"

struct Quaternion {
    float x, y, z, w;
};

// (0, 0, 0, 1).
const Quaternion& quaternionIdentity();
// The quaternion of a rotation matrix given by its 9 floats (a Matrix33, or
// the first 9 floats of a Matrix34); returns out.
Quaternion& quaternionFromMatrix(const float* m, Quaternion& out);
inline Quaternion& quaternionFromMatrix(const Matrix33& m, Quaternion& out) { return quaternionFromMatrix(m.m, out); }
inline Quaternion& quaternionFromMatrix(const Matrix34& m, Quaternion& out) { return quaternionFromMatrix(m.m, out); }
// The rotation matrix of a unit quaternion.
void quaternionToMatrix33(const Quaternion& q, Matrix33& out);
// Scales q to unit length in place (a zero quaternion gives non-finite
// components).
void quaternionNormalize(Quaternion& q);

// The component-wise step from now to target the shorter way round (q and
// -q are the same turn): target, or its negation, less now.
inline void quaternionStepTo(const Quaternion& now, const Quaternion& target, float out[4]) {
    const float sign = target.x * now.x + target.y * now.y + target.z * now.z + target.w * now.w < 0.0f ? -1.0f : 1.0f;
    out[0] = sign * target.x - now.x;
    out[1] = sign * target.y - now.y;
    out[2] = sign * target.z - now.z;
    out[3] = sign * target.w - now.w;
}
// Interpolates from a (t = 0) to b (t = 1) along the shorter arc; the
// result is not renormalised. Nearly equal (or opposite) inputs give a.
void quaternionSlerp(const Quaternion& a, const Quaternion& b, Quaternion& out, float t);
// out = rotation slerped from a to b, translation interpolated linearly.
// The 3-by-3 parts are taken as rotations: any scale is lost.
void blendTransforms(const Matrix34& a, const Matrix34& b, Matrix34& out, float t);
