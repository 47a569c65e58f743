#include "animation/BoneTransform.h"

Matrix34 BoneTransform::toMatrix() const {
    Matrix33 r;
    quaternionToMatrix33(rotation, r);
    Matrix34 out;
    for (int row = 0; row < 3; ++row)
        for (int c = 0; c < 3; ++c) out.m[row * 3 + c] = scale[row] * r.m[row * 3 + c];
    for (int c = 0; c < 3; ++c) out.m[9 + c] = translation[c];
    return out;
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
