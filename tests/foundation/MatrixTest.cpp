#include "foundation/Matrix.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr float kHalfPi = 1.57079632679489661923f;

void expectNear(const float* actual, const float* expected, int count, float tolerance = 1e-5f) {
    for (int i = 0; i < count; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

TEST(Matrix, TransformUsesRowVectors) {
    const Matrix34 m{{0, 1, 0, -1, 0, 0, 0, 0, 2, 10, 20, 30}};
    float p[3] = {1, 2, 3};
    vector3Transform(p, m);
    const float expected[3] = {1 * 0 + 2 * -1 + 10, 1 * 1 + 20, 3 * 2 + 30};
    expectNear(p, expected, 3);
}

TEST(Matrix, InverseUndoesTheTransform) {
    // A 90-degree turn about z with translation (1, 2, 3).
    Matrix33 turn;
    matrix33FromAxisAngle(turn, kHalfPi, 0, 0, 1);
    const float xImage[3] = {0, 1, 0};
    expectNear(turn.m, xImage, 3);

    Matrix34 m{};
    for (int i = 0; i < 9; ++i) m.m[i] = turn.m[i];
    m.m[9] = 1;
    m.m[10] = 2;
    m.m[11] = 3;
    Matrix34 inverse;
    matrix34Inverse(m, inverse);
    float p[3] = {1, 2, 3};
    vector3Transform(p, inverse);
    const float origin[3] = {0, 0, 0};
    expectNear(p, origin, 3);

    // A skewed, scaled transform: forward then inverse gives the point back.
    const Matrix34 skew{{2, 0.5f, 0, 0.25f, 3, -1, 0, 1, 0.5f, -4, 5, 6}};
    matrix34Inverse(skew, inverse);
    float q[3] = {0.3f, -7, 2};
    vector3Transform(q, skew);
    vector3Transform(q, inverse);
    const float back[3] = {0.3f, -7, 2};
    expectNear(q, back, 3, 1e-4f);

    // A singular matrix is not checked: its inverse is not finite.
    Matrix33 out;
    const float r0[3] = {1, 2, 3}, r1[3] = {2, 4, 6}, r2[3] = {0, 1, 0};
    matrix33Inverse(out, r0, r1, r2);
    EXPECT_FALSE(std::isfinite(out.m[0]));
}

TEST(Matrix, NaNTestsReadTheBits) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nans[] = {
        std::bit_cast<float>(0x7FC00000u),  // quiet
        std::bit_cast<float>(0xFFC00000u),  // quiet, negative
        std::bit_cast<float>(0x7F800001u),  // signalling
        std::bit_cast<float>(0xFF800001u),  // signalling, negative
    };
    const float clean[3] = {0.0f, inf, -inf};
    EXPECT_FALSE(vector3HasNaN(clean));
    for (float nan : nans) {
        for (int i = 0; i < 3; ++i) {
            float v[3] = {1, 2, 3};
            v[i] = nan;
            EXPECT_TRUE(vector3HasNaN(v)) << std::hex << std::bit_cast<std::uint32_t>(nan) << " at " << i;
        }
        Matrix34 m{{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};
        EXPECT_FALSE(matrix34HasNaN(m));
        m.m[11] = nan;
        EXPECT_TRUE(matrix34HasNaN(m));
    }
}

}  // namespace
