// A bone's local pose: rotation quaternion (x, y, z, w), translation and
// scale, ten floats in that order as saves and mesh bones store them.
#pragma once

#include "foundation/Math.h"
#include "foundation/Quaternion.h"

struct BoneTransform {
    Quaternion rotation{0.0f, 0.0f, 0.0f, 1.0f};
    float translation[3] = {0.0f, 0.0f, 0.0f};
    float scale[3] = {1.0f, 1.0f, 1.0f};

    static BoneTransform identity() { return BoneTransform(); }
    static BoneTransform zero() {
        BoneTransform t;
        t.rotation.w = 0.0f;
        t.scale[0] = t.scale[1] = t.scale[2] = 0.0f;
        return t;
    }
    float* values() { return &rotation.x; }
    const float* values() const { return &rotation.x; }
    // The 3x4 matrix of scale, then rotation, then translation (row vectors).
    Matrix34 toMatrix() const;
};
static_assert(sizeof(BoneTransform) == 40);

// a x b for 3x4 row-vector matrices: a is applied first.
Matrix34 multiplyTransforms(const Matrix34& a, const Matrix34& b);
