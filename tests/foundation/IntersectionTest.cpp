#include "foundation/Intersection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

Matrix34 at(float x, float y, float z) {
    Matrix34 m = matrix34Identity();
    m.m[9] = x;
    m.m[10] = y;
    m.m[11] = z;
    return m;
}

std::unique_ptr<Intersection> sphereAt(float x, float y, float z, float r) {
    auto s = Intersection::create(IntersectionKindSphere);
    s->setFromSize(at(x, y, z), r);
    return s;
}

std::unique_ptr<Intersection> boxAt(const Matrix34& m, float ex, float ey, float ez) {
    auto b = Intersection::create(IntersectionKindBox);
    const float e[3] = {ex, ey, ez};
    b->setFromExtents(m, e);
    return b;
}

// A 90 x 90 degree frustum at the origin looking along minus z, far 100.
std::unique_ptr<IntersectionFrustum> viewFrustum() {
    auto f = std::make_unique<IntersectionFrustum>();
    f->setPerspective(90.0f, 90.0f, 1.0f, 100.0f);
    f->setTransform(matrix34Identity(), matrix34Identity());
    return f;
}

}  // namespace

TEST(Intersection, PairwiseEdgeCases) {
    const auto frustum = viewFrustum();
    // Box B turned 45 degrees about x, then about y: with the centres 2.9
    // apart along (1, 1, 0) only the cross product of A's z and B's z axis
    // separates them; 2.7 apart they meet.
    Matrix34 turned = {{0.70710678f, 0.0f, -0.70710678f, 0.5f, 0.70710678f, 0.5f, 0.5f, -0.70710678f, 0.5f,
                        0.0f, 0.0f, 0.0f}};
    auto turnedAt = [&](float d) {
        Matrix34 m = turned;
        m.m[9] = m.m[10] = d / std::sqrt(2.0f);
        return boxAt(m, 1, 1, 1);
    };
    const auto unitBox = boxAt(matrix34Identity(), 1, 1, 1);
    // Long, thin box whose corners all lie above the top side while its
    // bounding sphere still reaches inside; y + z puts the centre 1.2 above.
    const auto aboveTop = boxAt(at(0.0f, 11.697f, -10.0f), 3.0f, 0.2f, 0.2f);
    const auto straddling = boxAt(at(0.0f, 0.0f, -5.0f), 50.0f, 1.0f, 1.0f);
    const auto origin = sphereAt(0, 0, 0, 1);
    const auto smallBox = boxAt(matrix34Identity(), 0.1f, 0.1f, 0.1f);

    struct Case {
        const char* name;
        const Intersection* a;
        std::unique_ptr<Intersection> b;
        bool meet;
    };
    const Case cases[] = {
        {"spheres 2 apart touch", origin.get(), sphereAt(2, 0, 0, 1), true},
        {"spheres 2.001 apart", origin.get(), sphereAt(2.001f, 0, 0, 1), false},
        {"sphere 1.5 beyond a face", unitBox.get(), sphereAt(2.5f, 0, 0, 1), false},
        {"sphere 1.0 beyond a face", unitBox.get(), sphereAt(2.0f, 0, 0, 1), true},
        {"sphere near a corner inside", unitBox.get(), sphereAt(1.6f, 1.6f, 0, 1), true},
        {"sphere near a corner outside", unitBox.get(), sphereAt(1.8f, 1.8f, 0, 1), false},
        {"boxes on a cross-product axis apart", unitBox.get(), turnedAt(2.9f), false},
        {"boxes on a cross-product axis meet", unitBox.get(), turnedAt(2.7f), true},
        {"boxes face to face", unitBox.get(), boxAt(at(2.0f, 0, 0), 1, 1, 1), true},
        {"boxes apart on a face axis", unitBox.get(), boxAt(at(2.01f, 0, 0), 1, 1, 1), false},
        {"small box in a large one", smallBox.get(), boxAt(at(0.5f, 0, 0), 5, 5, 5), true},
        {"sphere in view", frustum.get(), sphereAt(0, 0, -10, 1), true},
        {"sphere just beyond far", frustum.get(), sphereAt(0, 0, -100.5f, 10), false},
        {"sphere behind the eye", frustum.get(), sphereAt(0, 0, 2, 1), false},
        {"sphere right of view", frustum.get(), sphereAt(20, 0, -10, 1), false},
        {"box corners above the top", frustum.get(), boxAt(at(0, 11.697f, -10.0f), 3.0f, 0.2f, 0.2f), false},
        {"box straddling left and right", frustum.get(), boxAt(at(0, 0, -5.0f), 50.0f, 1.0f, 1.0f), true},
        {"frustum and frustum", frustum.get(), viewFrustum(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a->intersects(*c.b), c.meet) << c.name;
        // Sphere and box pairs agree from both sides.
        if (c.a->kind() != IntersectionKindFrustum && c.b->kind() != IntersectionKindFrustum) {
            EXPECT_EQ(c.b->intersects(*c.a), c.meet) << c.name << " (reversed)";
        }
    }
    // From the box's side only its bounding sphere meets the frustum.
    EXPECT_TRUE(aboveTop->intersects(*frustum));
    EXPECT_TRUE(straddling->intersects(*frustum));
}

TEST(Intersection, SetFromSizeUsesTheInscribedRadius) {
    const auto frustum = viewFrustum();
    // A corner pokes into the view; the centre is outside by more than the
    // size but less than the corner distance.
    const Matrix34 place = at(0.0f, 0.0f, 1.2f);
    auto bySize = Intersection::create(IntersectionKindBox);
    bySize->setFromSize(place, 1.0f);
    EXPECT_FLOAT_EQ(bySize->radius(), 1.0f);
    const auto byExtents = boxAt(place, 1, 1, 1);
    EXPECT_FLOAT_EQ(byExtents->radius(), std::sqrt(3.0f));
    EXPECT_FALSE(bySize->intersects(*frustum));
    EXPECT_TRUE(byExtents->intersects(*frustum));

    // Scaled axes scale the extents and the radius, and are normalised.
    Matrix34 scaled = matrix34Identity();
    scaled.m[0] = 2.0f;
    auto box = boxAt(scaled, 1, 1, 1);
    const auto& volume = static_cast<IntersectionOBBox&>(*box);
    EXPECT_FLOAT_EQ(volume.box.extents[0], 2.0f);
    EXPECT_FLOAT_EQ(volume.box.matrix.m[0], 1.0f);
    EXPECT_FLOAT_EQ(box->radius(), 2.0f * std::sqrt(3.0f));
    EXPECT_FLOAT_EQ(volume.box.corners[6][0], 2.0f);  // (+,+,+)
    EXPECT_FLOAT_EQ(volume.box.corners[0][1], -1.0f);  // (-,-,-)
    EXPECT_FLOAT_EQ(volume.box.corners[1][1], 1.0f);   // (-,+,-)

    // A moved box keeps its (already scaled) extents.
    box->setTransform(at(5, 0, 0));
    EXPECT_FLOAT_EQ(volume.box.extents[0], 2.0f);
    EXPECT_FLOAT_EQ(volume.box.corners[6][0], 7.0f);
}

TEST(Intersection, RecordsRoundTrip) {
    Matrix34 pose = matrix34Identity();
    pose.m[9] = 3.0f;
    const auto box = boxAt(pose, 1, 2, 3);
    const auto sphere = sphereAt(1, 2, 3, 4);
    auto frustum = viewFrustum();
    frustum->setTransform(at(9, 9, 9), pose);

    struct Case {
        const Intersection* volume;
        std::int32_t bytes;
    };
    const Case cases[] = {{box.get(), 112}, {sphere.get(), 52}, {frustum.get(), 284}, {nullptr, 0}};
    for (const Case& c : cases) {
        MemoryStream stream;
        ASSERT_EQ(writeIntersection(c.volume, stream), 4 + c.bytes);
        std::uint32_t kind = 0;
        std::memcpy(&kind, stream.data(), 4);
        EXPECT_EQ(kind, c.volume ? c.volume->kind() : 4u);
        stream.setPosition(0);
        std::unique_ptr<Intersection> back;
        ASSERT_EQ(readIntersection(stream, back), 4 + c.bytes);
        if (!c.volume) {
            EXPECT_EQ(back, nullptr);
            continue;
        }
        ASSERT_NE(back, nullptr);
        MemoryStream again;
        ASSERT_EQ(writeIntersection(back.get(), again), 4 + c.bytes);
        EXPECT_EQ(std::memcmp(stream.data(), again.data(), static_cast<std::size_t>(stream.size())), 0);
        EXPECT_EQ(back->radius(), c.volume->radius());
    }
    // Derived fields come back: the read box still answers like the original.
    MemoryStream stream;
    writeIntersection(box.get(), stream);
    stream.setPosition(0);
    std::unique_ptr<Intersection> back;
    readIntersection(stream, back);
    EXPECT_TRUE(back->intersects(*sphereAt(3, 0, 3.5f, 1)));
    EXPECT_FALSE(back->intersects(*sphereAt(3, 0, 4.5f, 0.4f)));
    EXPECT_FLOAT_EQ(static_cast<IntersectionOBBox&>(*back).sphere.radiusSquared, 14.0f);
}

TEST(Intersection, UnknownOrDamagedRecordsFail) {
    testing_support::ScopedGameCore core;
    EXPECT_EQ(Intersection::create(4), nullptr);
    EXPECT_EQ(core.log().recordCount(), 0u);
    EXPECT_EQ(Intersection::create(3), nullptr);
    EXPECT_TRUE(core.log().contains("Unsupported intersection type"));

    // Kind 3 followed by data: the record fails instead of leaving the
    // stream in the middle of the unknown volume.
    MemoryStream stream;
    writeU32(stream, 3);
    for (int i = 0; i < 13; ++i) writeF32(stream, 1.0f);
    stream.setPosition(0);
    std::unique_ptr<Intersection> volume = sphereAt(0, 0, 0, 1);
    EXPECT_LT(readIntersection(stream, volume), 0);
    EXPECT_EQ(volume, nullptr);

    // A record cut short fails with the failing field's result.
    MemoryStream full;
    writeIntersection(sphereAt(0, 0, 0, 1).get(), full);
    MemoryStream cut(full.data(), 30);
    EXPECT_LT(readIntersection(cut, volume), 0);
    EXPECT_EQ(volume, nullptr);
    MemoryStream empty;
    EXPECT_LT(readIntersection(empty, volume), 0);
}
