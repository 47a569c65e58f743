#include "platform/physics/bullet/BulletBackend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

namespace ph = platform::physics;

constexpr float kFrame = 1.0f / 60.0f;
constexpr float kRadius = 0.3f;
constexpr float kHeight = 1.8f;
constexpr float kSkin = 0.02f;
const float kSlope45 = std::cos(45.0f * 3.14159265f / 180.0f);

// A pose turned about Z by an angle (degrees) at a position.
std::vector<float> pose(float x, float y, float z, float rollDegrees = 0.0f) {
    const float a = rollDegrees * 3.14159265f / 180.0f;
    const float c = std::cos(a), s = std::sin(a);
    return {c, s, 0, -s, c, 0, 0, 0, 1, x, y, z};
}

ph::ActorDesc box(float hx, float hy, float hz, bool isStatic, float mass = 0.0f) {
    ph::ActorDesc desc;
    desc.kind = ph::ShapeKind::Box;
    desc.flags = isStatic ? 0x1 : 0;
    desc.collisionGroup = isStatic ? 0 : 4;
    desc.mass = mass;
    desc.size[0] = hx;
    desc.size[1] = hy;
    desc.size[2] = hz;
    return desc;
}

// A world with the backend, a floor whose top is y = 0, and the helpers
// the cases share.
struct World : ::testing::Test {
    std::unique_ptr<ph::Backend> backend = ph::createBulletBackend();
    ph::Handle world = backend->createWorld();

    void SetUp() override {
        ASSERT_NE(world, 0u);
        addStatic(box(20, 0.5f, 20, true), pose(0, -0.5f, 0));
    }
    void TearDown() override { backend->releaseWorld(world); }

    ph::Handle addStatic(const ph::ActorDesc& desc, const std::vector<float>& at) {
        const ph::Handle handle = backend->createActor(world, desc, at.data());
        EXPECT_NE(handle, 0u);
        return handle;
    }

    // The capsule's centre when it stands on a surface at height y.
    static float standing(float y) { return y + kHeight / 2 + kRadius + kSkin; }

    ph::Handle character(float x, float y, float z, float slopeCosine = 0.0871557f) {
        ph::ControllerDesc desc;
        desc.radius = kRadius;
        desc.height = kHeight;
        desc.skinWidth = kSkin;
        desc.stepHeight = 0.4f;
        desc.slopeCosine = slopeCosine;
        const auto at = pose(x, y, z);
        const ph::Handle handle = backend->createController(world, desc, at.data());
        EXPECT_NE(handle, 0u);
        return handle;
    }

    // Frames of the game: a move, then the step. Ground contact of the last.
    bool walk(ph::Handle actor, float dx, float dz, int frames) {
        bool onGround = false;
        for (int i = 0; i < frames; ++i) {
            const float delta[3] = {dx, 0.0f, dz};
            EXPECT_TRUE(backend->moveController(world, actor, delta, onGround));
            backend->step(world, kFrame);
        }
        return onGround;
    }

    std::vector<float> where(ph::Handle actor) {
        std::vector<float> at(12);
        EXPECT_TRUE(backend->getActorPose(world, actor, at.data()));
        return at;
    }
};

TEST_F(World, CharacterWalksOneMetreOnTheFloor) {
    const ph::Handle actor = character(0, standing(0), 0);
    EXPECT_TRUE(walk(actor, 1.0f / 60.0f, 0, 60));
    const auto at = where(actor);
    EXPECT_NEAR(at[9], 1.0f, 0.02f);
    EXPECT_NEAR(at[10], standing(0), 0.03f);
}

TEST_F(World, WallStopsCharacterAtItsRadiusAndSkin) {
    struct Case {
        float speed;  // metres a second
    } cases[] = {{1.0f}, {10.0f}};
    float z = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.speed);
        addStatic(box(0.25f, 2, 1, true), pose(0.75f, 2, z));
        const ph::Handle actor = character(0, standing(0), z);
        walk(actor, c.speed / 60.0f, 0, 60);
        EXPECT_NEAR(where(actor)[9], 0.5f - kRadius - kSkin, 0.02f);
        z += 5;
    }
}

// The collision groups: static ones (0, 1), characters and NPCs (2, 3) and
// dynamic ones (4, 5) stop a walking character, the trigger group (6) and
// trigger actors do not. The moving groups' walls follow their model, so
// nothing pushes them.
TEST_F(World, CollisionGroupsDecideWhatStopsACharacter) {
    struct Case {
        std::uint32_t group;
        std::uint32_t flags;
        bool stops;
    } cases[] = {{0, 0x1, true},  {1, 0x1, true},  {2, 0x10, true},  {3, 0x10, true},
                 {4, 0x10, true}, {5, 0x10, true}, {6, 0x10, false}, {4, 0x2, false}};
    // Side by side across the floor.
    float z = -17.5f;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "group " << c.group << " flags " << c.flags);
        ph::ActorDesc wall = box(0.25f, 2, 1, false, 1);
        wall.collisionGroup = c.group;
        wall.flags = c.flags;
        addStatic(wall, pose(0.75f, 2, z));
        const ph::Handle actor = character(0, standing(0), z);
        walk(actor, 2.0f / 60.0f, 0, 60);
        EXPECT_NEAR(where(actor)[9], c.stops ? 0.5f - kRadius - kSkin : 2.0f, 0.03f);
        z += 5;
    }
}

TEST_F(World, StepsUpToTheStepHeightAndNoHigher) {
    struct Case {
        float step;
        bool climbs;
    } cases[] = {{0.3f, true}, {0.5f, false}};
    float z = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        // A block whose near face is 0.5 m ahead of the capsule's centre.
        addStatic(box(2, c.step / 2, 1, true), pose(2.5f, c.step / 2, z));
        const ph::Handle actor = character(0, standing(0), z);
        walk(actor, 1.5f / 60.0f, 0, 60);
        const auto at = where(actor);
        if (c.climbs) {
            EXPECT_NEAR(at[9], 1.5f, 0.03f);
            EXPECT_NEAR(at[10], standing(c.step), 0.03f);
        } else {
            EXPECT_NEAR(at[9], 0.5f - kRadius - kSkin, 0.03f);
            EXPECT_NEAR(at[10], standing(0), 0.03f);
        }
        z += 5;
    }
}

TEST_F(World, SlopeLimitLetsItUpGentleSlopesOnly) {
    struct Case {
        float degrees;
        bool climbs;
    } cases[] = {{30.0f, true}, {60.0f, false}};
    float z = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.degrees);
        // A long ramp rising along +x from x = 1.
        const float a = c.degrees * 3.14159265f / 180.0f;
        const float half = 4.0f;
        addStatic(box(half, 0.05f, 1, true),
                  pose(1 + half * std::cos(a) + 0.05f * std::sin(a), half * std::sin(a) - 0.05f * std::cos(a), z,
                       c.degrees));
        const ph::Handle actor = character(0, standing(0), z, kSlope45);
        walk(actor, 2.0f / 60.0f, 0, 60);
        const auto at = where(actor);
        if (c.climbs) {
            EXPECT_GT(at[10], standing(0) + 0.3f);
        } else {
            EXPECT_LT(at[10], standing(0) + 0.45f);
            EXPECT_LT(at[9], 1.5f);
        }
        z += 5;
    }
}

TEST_F(World, DroppedCharacterLandsOnTheFloor) {
    const ph::Handle actor = character(0, standing(0) + 1.0f, 0);
    EXPECT_TRUE(walk(actor, 0, 0, 60));
    EXPECT_NEAR(where(actor)[10], standing(0), 0.03f);
}

TEST_F(World, DynamicBoxFallsAndRests) {
    const auto at = pose(0, 3, 0);
    const ph::Handle body = backend->createActor(world, box(0.5f, 0.5f, 0.5f, false, 10), at.data());
    ASSERT_NE(body, 0u);
    for (int i = 0; i < 180; ++i) backend->step(world, kFrame);
    EXPECT_NEAR(where(body)[10], 0.5f, 0.03f);
}

// The world moves in fixed sub-steps of 1/60 s whatever the frames' length:
// a short frame's time waits for the next, a long frame takes at most
// eight. Each case's falling box ends where a box stepped that many times
// by 1/60 s does.
TEST_F(World, FramesAreSteppedInFixedSubSteps) {
    struct Case {
        std::vector<float> frames;
        int subSteps;
    };
    const Case cases[] = {
        {{1.0f / 30.0f}, 2}, {{0.01f}, 0}, {{0.01f, 0.01f}, 1}, {{0.01f, 0.01f, 0.01f, 0.01f}, 2}, {{1.0f}, 8},
    };
    const auto fallen = [this](const std::vector<float>& frames) {
        const ph::Handle other = backend->createWorld();
        const auto at = pose(0, 50, 0);
        const ph::Handle body = backend->createActor(other, box(0.5f, 0.5f, 0.5f, false, 1), at.data());
        EXPECT_NE(body, 0u);
        for (float seconds : frames) backend->step(other, seconds);
        std::vector<float> out(12);
        EXPECT_TRUE(backend->getActorPose(other, body, out.data()));
        backend->releaseWorld(other);
        return out[10];
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subSteps);
        const float height = fallen(c.frames);
        EXPECT_FLOAT_EQ(height, fallen(std::vector<float>(static_cast<std::size_t>(c.subSteps), kFrame)));
        if (c.subSteps == 0) EXPECT_FLOAT_EQ(height, 50.0f);
        else EXPECT_LT(height, 50.0f);
    }
}

// Bodies moved by hand (a character's capsule, an actor following its
// model) still hold up the dynamic bodies that fall on them, and a
// trigger actor holds up nothing; the dynamic box lands on top of each or
// on the floor below the trigger.
TEST_F(World, DynamicBodiesLandOnWhatIsMovedByHandButNotOnTriggers) {
    struct Case {
        const char* what;
        float top;  // where the box's underside should come to rest
    };
    const Case cases[] = {{"capsule", standing(0) + kHeight / 2 + kRadius}, {"following", 1.0f}, {"trigger", 0.0f}};
    float x = 0.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        x += 5.0f;
        if (c.what[0] == 'c') {
            character(x, standing(0), 0);
        } else {
            ph::ActorDesc block = box(1, 0.5f, 1, false, 5);
            block.flags = c.what[0] == 'f' ? 0x10 : 0x2;
            const auto at = pose(x, 0.5f, 0);
            ASSERT_NE(backend->createActor(world, block, at.data()), 0u);
        }
        const auto at = pose(x, 4, 0);
        const ph::Handle body = backend->createActor(world, box(0.2f, 0.2f, 0.2f, false, 1), at.data());
        ASSERT_NE(body, 0u);
        for (int i = 0; i < 90; ++i) backend->step(world, kFrame);
        const auto rest = where(body);
        EXPECT_NEAR(rest[10], c.top + 0.2f, 0.05f);
        EXPECT_NEAR(rest[9], x, 0.05f);
    }
}

// A small box falling fast onto a thin plate goes through it unless it is
// "swept".
TEST_F(World, SweptBodiesDoNotPassThroughThinPlates) {
    const bool swept[2] = {false, true};
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(swept[k]);
        const float x = 10.0f + 5.0f * static_cast<float>(k);
        addStatic(box(1, 0.02f, 1, true), pose(x, 2, 0));
        ph::ActorDesc pebble = box(0.05f, 0.05f, 0.05f, false, 1);
        if (swept[k]) pebble.flags |= 0x8;
        const auto at = pose(x, 80, 0);
        const ph::Handle body = backend->createActor(world, pebble, at.data());
        ASSERT_NE(body, 0u);
        for (int i = 0; i < 300; ++i) backend->step(world, kFrame);
        if (swept[k])
            EXPECT_GT(where(body)[10], 2.0f);
        else
            EXPECT_LT(where(body)[10], 1.0f);
    }
}

TEST_F(World, RestitutionBouncesHigher) {
    float peaks[2] = {};
    const float restitution[2] = {0.0f, 0.8f};
    for (int k = 0; k < 2; ++k) {
        ph::ActorDesc ball = box(0.25f, 0.25f, 0.25f, false, 1);
        ball.surfaces.resize(1);
        ball.surfaces[0].restitution = restitution[k];
        const auto at = pose(k * 5.0f, 2, 0);
        const ph::Handle body = backend->createActor(world, ball, at.data());
        ASSERT_NE(body, 0u);
        bool fell = false;
        for (int i = 0; i < 120; ++i) {
            backend->step(world, kFrame);
            const float y = where(body)[10];
            if (y < 0.3f) fell = true;
            if (fell) peaks[k] = std::max(peaks[k], y);
        }
        backend->releaseActor(world, body);
    }
    EXPECT_LT(peaks[0], 0.3f);
    EXPECT_GT(peaks[1], 0.45f);
}

TEST_F(World, DrivenBoxMovesAlongItsStepAndStopsAtAWall) {
    // A hull held above the floor, driven 1 m/s along X; a wall whose face
    // is at x = 4.75 across its way.
    const ph::Handle wall = addStatic(box(0.25f, 2, 3, true), pose(5, 1, 0));
    auto hull = box(0.5f, 0.25f, 0.25f, false, 80.0f);
    const auto start = pose(0, 1, 0);
    const ph::Handle body = backend->createActor(world, hull, start.data());
    ASSERT_NE(body, 0u);
    // Only dynamic bodies can be driven.
    const float none[3] = {};
    EXPECT_FALSE(backend->driveActor(world, wall, none, none, true));
    const auto drive = [&](int frames, float dx, float turn) {
        for (int i = 0; i < frames; ++i) {
            const float step[3] = {dx, 0.0f, 0.0f};
            const float angular[3] = {0.0f, turn, 0.0f};
            EXPECT_TRUE(backend->driveActor(world, body, step, angular, true));
            backend->step(world, kFrame);
        }
    };
    drive(120, 1.0f / 60.0f, 0.0f);
    const float after2s = where(body)[9];
    // 2 m less what the half-second time constant takes to reach speed.
    EXPECT_NEAR(after2s, 1.5f, 0.1f);
    drive(60, 1.0f / 60.0f, 0.0f);
    EXPECT_NEAR(where(body)[9] - after2s, 1.0f, 0.05f);
    // Stopped by the wall, however long it pushes; held to its height and
    // upright.
    drive(300, 1.0f / 60.0f, 0.0f);
    auto at = where(body);
    EXPECT_LT(at[9], 4.75f - 0.5f + 0.02f);
    EXPECT_GT(at[9], 4.75f - 0.5f - 0.1f);
    EXPECT_NEAR(at[10], 1.0f, 1e-3f);
    EXPECT_NEAR(at[4], 1.0f, 1e-3f);
    // A turn about Y at 1 rad/s for a second turns it by about a radian,
    // without roll or pitch; frames without a drive bring it to rest.
    drive(60, 0.0f, 1.0f / 60.0f);
    for (int i = 0; i < 60; ++i) backend->step(world, kFrame);
    at = where(body);
    const float heading = std::atan2(-at[2], at[0]);
    EXPECT_NEAR(heading, 1.0f, 0.1f);
    EXPECT_NEAR(at[4], 1.0f, 1e-3f);
    const auto rest = where(body);
    for (int i = 0; i < 30; ++i) backend->step(world, kFrame);
    at = where(body);
    EXPECT_NEAR(at[9], rest[9], 5e-3f);
    EXPECT_NEAR(at[0], rest[0], 1e-3f);
}

// A box left on a 20 degree incline (tan 0.364) slides or stays as the
// friction of the two surfaces, combined by their mode, says; an
// anisotropic surface slides along its direction only.
TEST_F(World, SurfacesCombineTheirFrictionAndSlideAlongTheirDirection) {
    struct Case {
        const char* what;
        float boxFriction, slopeFriction;
        std::uint32_t mode;  // 0 average, 1 min, 2 multiply, 3 max
        float along;         // anisotropic friction; 0: none
        float direction[3];  // in the box's axes (X runs down the slope)
        bool slides;
    } cases[] = {
        {"average of 0.1 and 1", 0.1f, 1.0f, 0, 0, {}, false},
        {"min of 0.1 and 1", 0.1f, 1.0f, 1, 0, {}, true},
        {"max of 0.1 and 1", 0.1f, 1.0f, 3, 0, {}, false},
        {"min of 0.5 and 0.5", 0.5f, 0.5f, 1, 0, {}, false},
        {"multiply 0.5 by 0.5", 0.5f, 0.5f, 2, 0, {}, true},
        {"slippery down the slope", 1.0f, 1.0f, 0, 0.05f, {1, 0, 0}, true},
        {"slippery across the slope", 1.0f, 1.0f, 0, 0.05f, {0, 0, 1}, false},
    };
    float x = 30.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        x += 12.0f;
        ph::ActorDesc slope = box(5, 0.5f, 2, true);
        slope.surfaces.resize(1);
        slope.surfaces[0].dynamicFriction = c.slopeFriction;
        slope.surfaces[0].frictionCombine = c.mode;
        addStatic(slope, pose(x, 5, 0, -20));
        ph::ActorDesc crate = box(0.25f, 0.25f, 0.25f, false, 1);
        crate.surfaces.resize(1);
        crate.surfaces[0].dynamicFriction = c.boxFriction;
        crate.surfaces[0].frictionCombine = c.mode;
        if (c.along > 0.0f) {
            crate.surfaces[0].flags = 1;
            crate.surfaces[0].dynamicFrictionV = c.along;
            for (int i = 0; i < 3; ++i) crate.surfaces[0].anisotropy[i] = c.direction[i];
        }
        // On the slope's top face, turned with it.
        const float a = -20.0f * 3.14159265f / 180.0f;
        const float up[2] = {-std::sin(a), std::cos(a)};
        const auto at = pose(x + up[0] * 0.76f, 5 + up[1] * 0.76f, 0, -20);
        const ph::Handle body = backend->createActor(world, crate, at.data());
        ASSERT_NE(body, 0u);
        for (int i = 0; i < 90; ++i) backend->step(world, kFrame);
        const auto now = where(body);
        const float moved = std::hypot(now[9] - at[9], now[10] - at[10], now[11] - at[11]);
        if (c.slides)
            EXPECT_GT(moved, 0.5f);
        else
            EXPECT_LT(moved, 0.05f);
    }
}

TEST_F(World, TriggerReportsCharacterEnteringAndLeavingOnce) {
    struct Case {
        bool character;  // a walking capsule, else a static box inside
        int enters;
        int leaves;
    } cases[] = {{true, 1, 1}, {false, 0, 0}};
    float z = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.character);
        ph::TriggerDesc trigger;
        const auto at = pose(1.5f, 1, z);
        std::copy(at.begin(), at.end(), trigger.pose);
        trigger.halfSize[0] = 0.5f;
        trigger.halfSize[1] = 1;
        trigger.halfSize[2] = 1;
        trigger.owner = 77 + static_cast<std::uint32_t>(z);
        ASSERT_NE(backend->createTrigger(world, trigger), 0u);
        ph::Handle actor = 0;
        if (c.character) {
            actor = character(0, standing(0), z);
            walk(actor, 3.0f / 60.0f, 0, 60);
        } else {
            actor = addStatic(box(0.2f, 0.2f, 0.2f, true), pose(1.5f, 1, z));
            for (int i = 0; i < 10; ++i) backend->step(world, kFrame);
        }
        std::vector<ph::TriggerEvent> events;
        backend->takeTriggerEvents(world, events);
        int enters = 0, leaves = 0;
        for (const auto& e : events) {
            EXPECT_EQ(e.owner, trigger.owner);
            EXPECT_EQ(e.actor, actor);
            (e.entered ? enters : leaves)++;
        }
        EXPECT_EQ(enters, c.enters);
        EXPECT_EQ(leaves, c.leaves);
        z += 5;
    }
}

TEST_F(World, FixedJointHoldsUntilItBreaks) {
    struct Case {
        bool breakable;
        float maxForce;
        bool holds;
    } cases[] = {{false, 0, true}, {true, 1e6f, true}, {true, 1.0f, false}};
    float z = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxForce);
        const auto top = pose(0, 5, z);
        const auto hung = pose(0, 4, z);
        const ph::Handle a = backend->createActor(world, box(0.2f, 0.2f, 0.2f, true), top.data());
        const ph::Handle b = backend->createActor(world, box(0.2f, 0.2f, 0.2f, false, 5), hung.data());
        ph::JointDesc joint;
        joint.kind = 4;
        joint.flags = c.breakable ? 0x80 : 0;
        joint.maxForce = c.maxForce;
        joint.maxTorque = c.maxForce;
        joint.ends[0].actor = a;
        joint.ends[1].actor = b;
        joint.ends[0].anchor[1] = joint.ends[1].anchor[1] = 4.5f;
        joint.ends[0].anchor[2] = joint.ends[1].anchor[2] = z;
        ASSERT_NE(backend->createJoint(world, joint, nullptr), 0u);
        for (int i = 0; i < 60; ++i) backend->step(world, kFrame);
        if (c.holds) {
            EXPECT_NEAR(where(b)[10], 4.0f, 0.02f);
        } else {
            EXPECT_LT(where(b)[10], 3.0f);
        }
        z += 5;
    }
}

// A box hung by a joint from a static box: it falls when the joint leaves
// it free along Y, and hangs where it is when the joint holds Y.
TEST_F(World, JointKindsLeaveFreeWhatTheirAxisOrPlaneSays) {
    struct Case {
        const char* what;
        std::uint32_t kind;
        float axis[3];
        float normal[3];
        bool falls;
    } cases[] = {
        {"prismatic along Y", 2, {0, 1, 0}, {}, true},
        {"prismatic along X", 2, {1, 0, 0}, {}, false},
        {"cylindrical along Y", 3, {0, 1, 0}, {}, true},
        {"cylindrical along X", 3, {1, 0, 0}, {}, false},
        {"point on a line along Y", 7, {0, 1, 0}, {}, true},
        {"point on a line along X", 7, {1, 0, 0}, {}, false},
        {"point on a level plane", 6, {}, {0, 1, 0}, false},
        {"point on an upright plane", 6, {}, {1, 0, 0}, true},
    };
    float z = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto top = pose(0, 5, z);
        const auto hung = pose(0, 4, z);
        const ph::Handle a = backend->createActor(world, box(0.2f, 0.2f, 0.2f, true), top.data());
        const ph::Handle b = backend->createActor(world, box(0.2f, 0.2f, 0.2f, false, 5), hung.data());
        ph::JointDesc joint;
        joint.kind = c.kind;
        joint.ends[0].actor = a;
        joint.ends[1].actor = b;
        for (ph::JointEndDesc& end : joint.ends) {
            end.anchor[1] = 4.5f;
            end.anchor[2] = z;
            for (int i = 0; i < 3; ++i) end.axis[i] = c.axis[i], end.normal[i] = c.normal[i];
        }
        ASSERT_NE(backend->createJoint(world, joint, nullptr), 0u);
        for (int i = 0; i < 60; ++i) backend->step(world, kFrame);
        if (c.falls)
            EXPECT_LT(where(b)[10], 3.0f);
        else
            EXPECT_NEAR(where(b)[10], 4.0f, 0.05f);
        z += 5;
    }
}

TEST_F(World, SweepReportsDistanceAndNormalOfAWall) {
    addStatic(box(0.25f, 2, 5, true), pose(3.25f, 2, 0));
    const double corners[6] = {-0.5, -0.5, -0.5, 0.5, 0.5, 0.5};
    const float from[3] = {0, 1, 0};
    const float motion[3] = {10, 0, 0};
    ph::QueryHit hit;
    hit.distance = 1e9f;
    ASSERT_TRUE(backend->sweepBox(world, corners, from, motion, hit));
    EXPECT_NEAR(hit.distance, 2.5f, 0.02f);
    EXPECT_NEAR(hit.normal[0], -1.0f, 1e-3f);
    EXPECT_EQ(hit.feature, -1);
    // A record nearer than the wall stays.
    ph::QueryHit nearer;
    nearer.distance = 1.0f;
    EXPECT_FALSE(backend->sweepBox(world, corners, from, motion, nearer));
}

TEST_F(World, DamagedDescriptionsAreRefused) {
    const float nan = std::nanf("");
    const float vertices[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::uint32_t pastEnd[5] = {0, 1, 7, 0, 0};
    struct Case {
        const char* what;
        ph::ActorDesc desc;
    };
    std::vector<Case> cases;
    cases.push_back({"zero box", box(0, 1, 1, false, 1)});
    cases.push_back({"NaN box", box(nan, 1, 1, false, 1)});
    ph::ActorDesc sphere;
    sphere.kind = ph::ShapeKind::Sphere;
    sphere.radius = nan;
    cases.push_back({"NaN sphere", sphere});
    ph::ActorDesc capsule;
    capsule.kind = ph::ShapeKind::Capsule;
    capsule.radius = 0;
    capsule.height = 1;
    cases.push_back({"zero capsule", capsule});
    ph::ActorDesc mesh;
    mesh.kind = ph::ShapeKind::Mesh;
    mesh.flags = 0x1;
    mesh.vertices = vertices;
    mesh.vertexCount = 3;
    mesh.triangles = pastEnd;
    mesh.triangleCount = 1;
    cases.push_back({"mesh index past its vertices", mesh});
    ph::ActorDesc hull;
    hull.kind = ph::ShapeKind::Convex;
    hull.vertexCount = 0;
    cases.push_back({"hull without vertices", hull});
    const auto at = pose(0, 1, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(backend->createActor(world, c.desc, at.data()), 0u);
    }
    // A joint whose end names no actor.
    ph::JointDesc joint;
    joint.kind = 4;
    joint.ends[0].actor = 9999;
    EXPECT_EQ(backend->createJoint(world, joint, nullptr), 0u);
    // A NaN pose.
    auto bad = pose(0, nan, 0);
    EXPECT_EQ(backend->createActor(world, box(1, 1, 1, true), bad.data()), 0u);
    // The world still steps.
    backend->step(world, kFrame);
}

}  // namespace
