#include "animation/BoneTransform.h"

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


Matrix34 multiplyTransforms(const Matrix34& a, const Matrix34& b) {
    Matrix34 out;
    for (int r = 0; r < 4; ++r) {
        const float* row = a.m + r * 3;
        for (int c = 0; c < 3; ++c)
            out.m[r * 3 + c] =
                (r == 3 ? b.m[9 + c] : 0.0f) + row[0] * b.m[c] + row[1] * b.m[3 + c] + row[2] * b.m[6 + c];
    }
    return out;
}
