#include "foundation/Quaternion.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/Matrix.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void expectQuaternion(const Quaternion& q, float x, float y, float z, float w, float tolerance = 1e-6f) {
    EXPECT_NEAR(q.x, x, tolerance);
    EXPECT_NEAR(q.y, y, tolerance);
    EXPECT_NEAR(q.z, z, tolerance);
    EXPECT_NEAR(q.w, w, tolerance);
}

Quaternion axisAngle(double angle, double x, double y, double z) {
    const double s = std::sin(angle / 2);
    return {static_cast<float>(x * s), static_cast<float>(y * s), static_cast<float>(z * s),
            static_cast<float>(std::cos(angle / 2))};
}

TEST(Quaternion, FromMatrixBranches) {
    const float r = static_cast<float>(std::sqrt(0.5));
    struct Case {
        const char* name;
        Matrix33 m;
        Quaternion expected;
    };
    const Case cases[] = {
        {"identity", {{1, 0, 0, 0, 1, 0, 0, 0, 1}}, {0, 0, 0, 1}},
        {"half turn about x", {{1, 0, 0, 0, -1, 0, 0, 0, -1}}, {1, 0, 0, 0}},
        {"half turn about y", {{-1, 0, 0, 0, 1, 0, 0, 0, -1}}, {0, 1, 0, 0}},
        {"half turn about z", {{-1, 0, 0, 0, -1, 0, 0, 0, 1}}, {0, 0, 1, 0}},
        // m0 and m4 tie above m8: the tie keeps the x branch.
        {"half turn about x+y", {{0, 1, 0, 1, 0, 0, 0, 0, -1}}, {r, r, 0, 0}},
    };
    for (const Case& c : cases) {
        Quaternion q{9, 9, 9, 9};
        EXPECT_EQ(&quaternionFromMatrix(c.m, q), &q);
        SCOPED_TRACE(c.name);
        expectQuaternion(q, c.expected.x, c.expected.y, c.expected.z, c.expected.w);
    }
    expectQuaternion(quaternionIdentity(), 0, 0, 0, 1, 0);
}

TEST(Quaternion, MatrixRoundTrip) {
    const double n = 1 / std::sqrt(3.0);
    const double turns[][4] = {{0.3, 1, 0, 0}, {2.0, 0, 1, 0}, {-1.2, 0, 0, 1}, {3.0, n, n, n}, {3.1, n, -n, n}};
    for (const auto& t : turns) {
        Matrix33 fromAxis;
        matrix33FromAxisAngle(fromAxis, static_cast<float>(t[0]), static_cast<float>(t[1]), static_cast<float>(t[2]),
                              static_cast<float>(t[3]));
        Matrix33 fromQuaternion;
        quaternionToMatrix33(axisAngle(t[0], t[1], t[2], t[3]), fromQuaternion);
        for (int i = 0; i < 9; ++i) EXPECT_NEAR(fromQuaternion.m[i], fromAxis.m[i], 1e-6f) << "angle " << t[0];

        Quaternion q;
        quaternionFromMatrix(fromAxis, q);
        Matrix33 back;
        quaternionToMatrix33(q, back);
        for (int i = 0; i < 9; ++i) EXPECT_NEAR(back.m[i], fromAxis.m[i], 1e-5f) << "angle " << t[0];
    }
}

TEST(Quaternion, Normalize) {
    Quaternion q{1, 1, 1, 1};
    quaternionNormalize(q);
    expectQuaternion(q, 0.5f, 0.5f, 0.5f, 0.5f);
    Quaternion w{0, 0, 0, 2};
    quaternionNormalize(w);
    expectQuaternion(w, 0, 0, 0, 1, 0);
}

TEST(Quaternion, SlerpTakesTheShortArcAndCopiesNearParallelInputs) {
    const Quaternion quarter = axisAngle(kPi / 2, 0, 1, 0);
    const Quaternion eighth = axisAngle(kPi / 4, 0, 1, 0);
    Quaternion out;
    quaternionSlerp(quaternionIdentity(), quarter, out, 0.5f);
    expectQuaternion(out, eighth.x, eighth.y, eighth.z, eighth.w);
    quaternionSlerp(quaternionIdentity(), quarter, out, 0.0f);
    expectQuaternion(out, 0, 0, 0, 1);
    quaternionSlerp(quaternionIdentity(), quarter, out, 1.0f);
    expectQuaternion(out, quarter.x, quarter.y, quarter.z, quarter.w);

    // -quarter is the same turn: the short arc still gives the eighth.
    const Quaternion negated{-quarter.x, -quarter.y, -quarter.z, -quarter.w};
    quaternionSlerp(quaternionIdentity(), negated, out, 0.5f);
    expectQuaternion(out, eighth.x, eighth.y, eighth.z, eighth.w);

    // Equal, opposite and nearly equal inputs give an exact copy of a.
    const Quaternion a = axisAngle(0.7, 0, 0, 1);
    const Quaternion nearly{a.x, a.y, std::nextafter(a.z, 1.0f), a.w};
    for (const Quaternion& b : {a, Quaternion{-a.x, -a.y, -a.z, -a.w}, nearly}) {
        Quaternion copy{9, 9, 9, 9};
        quaternionSlerp(a, b, copy, 0.5f);
        EXPECT_EQ(copy.x, a.x);
        EXPECT_EQ(copy.y, a.y);
        EXPECT_EQ(copy.z, a.z);
        EXPECT_EQ(copy.w, a.w);
    }
}

TEST(Quaternion, BlendTransformsEnds) {
    Matrix34 a{{1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 2, 3}};
    Matrix34 b{};
    Matrix33 turn;
    matrix33FromAxisAngle(turn, static_cast<float>(kPi / 2), 0, 1, 0);
    for (int i = 0; i < 9; ++i) b.m[i] = turn.m[i];
    b.m[9] = 5;
    b.m[10] = 6;
    b.m[11] = 7;

    Matrix34 out;
    blendTransforms(a, b, out, 0.0f);
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(out.m[i], a.m[i], 1e-6f) << i;
    blendTransforms(a, b, out, 1.0f);
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(out.m[i], b.m[i], 1e-6f) << i;

    blendTransforms(a, b, out, 0.5f);
    Matrix33 half;
    matrix33FromAxisAngle(half, static_cast<float>(kPi / 4), 0, 1, 0);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(out.m[i], half.m[i], 1e-6f) << i;
    EXPECT_FLOAT_EQ(out.m[9], 3);
    EXPECT_FLOAT_EQ(out.m[10], 4);
    EXPECT_FLOAT_EQ(out.m[11], 5);
}

}  // namespace
