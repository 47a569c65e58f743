// Controller targets: waypoint texts and lists, following an object over
// the scene's grid, trajectories and direct waypoints, the factory, and the
// save records with their refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/ControlSettings.h"
#include "control/ControllerFixture.h"
#include "control/ControllerTarget.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"

using testing_support::ControllerWorld;
using testing_support::poseAtPoint;

namespace {

CurrentTime step(double seconds) {
    CurrentTime time;
    time.game.step = seconds;
    return time;
}

void expectAt(const Matrix34& pose, float x, float y, float z, const std::string& what) {
    EXPECT_NEAR(pose.m[9], x, 1e-4f) << what;
    EXPECT_NEAR(pose.m[10], y, 1e-4f) << what;
    EXPECT_NEAR(pose.m[11], z, 1e-4f) << what;
}

std::vector<float> flatten(std::initializer_list<std::initializer_list<float>> points) {
    std::vector<float> out;
    for (auto p : points) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(ControllerTarget, WaypointTextTakesTheBracedAction) {
    ControllerWorld w;
    struct Case {
        const char* given;
        const char* text;
        std::int32_t action;
        const char* message;
    };
    const Case cases[] = {
        {"{door==open}", "{door}", 1, ""},
        {"{door==OPEN}", "{door}", 1, ""},
        {"{door==}", "{door}", 0, ""},
        {"{table==Put_Up}", "{table}", 16, ""},
        {"{door==fly}", "{door}", 0, "Invalid AC_ACTION map name [fly]"},
        {"door==open", "door==open", 0, ""},
        {"{door}", "{door}", 0, ""},
    };
    for (const Case& c : cases) {
        w.log().clear();
        ControllerTarget_WAYPOINT target(c.given);
        EXPECT_STREQ(target.getName(), c.text) << c.given;
        EXPECT_EQ(target.getAction(), c.action) << c.given;
        EXPECT_EQ(target.pending, 1) << c.given;
        if (c.message[0])
            EXPECT_TRUE(w.logged(c.message)) << c.given;
        else
            EXPECT_TRUE(w.log().records().empty()) << c.given;
    }
    // Script texts are cut to the field.
    const std::string longText(700, 'w');
    ControllerTarget_WAYPOINT cut(longText.c_str());
    EXPECT_EQ(std::strlen(cut.getName()), 511u);
}

TEST(ControllerTarget, WaypointListTakesTheNearestAndStopsAtAMissingName) {
    ControllerWorld w;
    w.point("a", 5.0f, 0.0f, 0.0f);
    w.point("c", 1.0f, 0.0f, 0.0f);
    w.point("far", 100.0f, 0.0f, 0.0f);
    w.point("near", 0.0f, 0.0f, 99.9f);
    w.point("aim_door", 0.0f, 2.0f, 0.0f);
    w.point("door", 0.0f, 3.0f, 0.0f);
    w.point("gate", 0.0f, 4.0f, 0.0f);
    const Matrix34 model = poseAtPoint(0.0f, 0.0f, 0.0f);
    struct Case {
        const char* text;
        bool result;
        float aim[3];
        const char* message;  // "" when nothing is logged
        const char* textAfter;
    };
    const Case cases[] = {
        // b is missing: a's aim stays, and c (nearer) is never looked up.
        {"a;b,c", true, {5, 0, 0}, "Can't find target waypoint with name [b]. Target DISABLED", ""},
        {"a;c", true, {1, 0, 0}, "", "a;c"},
        {"a\n\n,c;", true, {1, 0, 0}, "", "a\n\n,c;"},
        // 100 units away is never chosen, 99.9 is.
        {"far", true, {0, 0, 0}, "", "far"},
        {"near", true, {0, 0, 99.9f}, "", "near"},
        {"far,near", true, {0, 0, 99.9f}, "", "far,near"},
        // A braced name aims at its nearest "aim_" waypoint, else at itself.
        {"{door}", true, {0, 2, 0}, "", "{door}"},
        {"{gate}", true, {0, 4, 0}, "", "gate"},
        {"", false, {0, 0, 0}, "", ""},
    };
    for (const Case& c : cases) {
        w.log().clear();
        ControllerTarget_WAYPOINT target(c.text);
        Matrix34 aim = poseAtPoint(-7.0f, -7.0f, -7.0f);
        EXPECT_EQ(target.update(step(0.1), aim, model, model, true), c.result) << c.text;
        expectAt(aim, c.aim[0], c.aim[1], c.aim[2], c.text);
        EXPECT_STREQ(target.getName(), c.textAfter) << c.text;
        if (c.message[0])
            EXPECT_TRUE(w.logged(c.message)) << c.text;
        else
            EXPECT_TRUE(w.log().records().empty()) << c.text;
        // The aim is computed once.
        EXPECT_FALSE(target.update(step(0.1), aim, model, model, true)) << c.text;
        Matrix33 facing{};
        EXPECT_FALSE(target.getFacing(facing, model, false));
    }
}

// A follower near a hero at the origin: near 2, far 4, so t = 3.6.
class FollowTest : public ::testing::Test {
protected:
    void SetUp() override {
        hero = w.place("hero");
        ASSERT_NE(hero, nullptr);
        w.log().clear();
        // A fake walkable grid: every point is walkable.
        sceneFactories().gridBlockFree = [](const Scene&, const float*) { return true; };
    }
    ControllerTarget_FOLLOW follow() { return ControllerTarget_FOLLOW("hero", 2.0f, 4.0f); }

    ControllerWorld w;
    Model* hero = nullptr;
    Matrix34 farAim = poseAtPoint(50.0f, 0.0f, 50.0f);
};

TEST_F(FollowTest, AimsOnlyBeyondTheDistanceAndFacesTheObject) {
    struct Case {
        float distance;
        bool notWalking;
        bool aims;
    };
    const Case cases[] = {
        {3.0f, true, false},  {3.6f, true, false}, {3.6f, false, false},
        {3.8f, true, false},  // beyond t but short of far while standing
        {3.8f, false, true},  // beyond t while walking
        {4.0f, true, true},   {9.0f, true, true},
    };
    for (const Case& c : cases) {
        ControllerTarget_FOLLOW target = follow();
        Matrix34 aim = matrix34Identity();
        const bool aimed = target.update(step(0.1), aim, poseAtPoint(c.distance, 0.0f, 0.0f), farAim, c.notWalking);
        EXPECT_EQ(aimed, c.aims) << c.distance << " " << c.notWalking;
        if (!aimed) continue;
        // The first candidate of the circle of radius near, facing the hero.
        expectAt(aim, 0.0f, 0.0f, 2.0f, "candidate");
        EXPECT_NEAR(aim.m[0], 0.0f, 1e-5f);
        EXPECT_NEAR(aim.m[2], -1.0f, 1e-5f);
        EXPECT_NEAR(aim.m[4], 1.0f, 1e-5f);
        EXPECT_NEAR(aim.m[6], 1.0f, 1e-5f);
    }
    // While walking, a candidate within t of the current aim is no new aim.
    ControllerTarget_FOLLOW target = follow();
    Matrix34 aim = matrix34Identity();
    EXPECT_FALSE(target.update(step(0.1), aim, poseAtPoint(9.0f, 0.0f, 0.0f), poseAtPoint(0.0f, 0.0f, 3.0f), false));
}

TEST_F(FollowTest, CandidatesTurnWithTheObjectAndMustBeWalkable) {
    // The hero turned a quarter round y: its local +z is world +x.
    Matrix34 turned = poseAtPoint(10.0f, 0.0f, 0.0f);
    const float rows[9] = {0, 0, -1, 0, 1, 0, 1, 0, 0};
    std::memcpy(turned.m, rows, sizeof(rows));
    hero->setWorldMatrix(turned);
    ControllerTarget_FOLLOW target = follow();
    Matrix34 aim = matrix34Identity();
    ASSERT_TRUE(target.update(step(0.1), aim, poseAtPoint(30.0f, 0.0f, 0.0f), farAim, true));
    expectAt(aim, 12.0f, 0.0f, 0.0f, "turned");

    // Only points with x below the hero are walkable: the first such
    // candidate is k = 9 (sin(9 pi / 16) x 2 along the hero's local x).
    sceneFactories().gridBlockFree = [](const Scene&, const float* p) { return p[0] < 10.0f - 1e-3f; };
    ControllerTarget_FOLLOW second = follow();
    ASSERT_TRUE(second.update(step(0.1), aim, poseAtPoint(30.0f, 0.0f, 0.0f), farAim, true));
    const float angle = 9.0f * 3.14159265f / 16.0f;
    expectAt(aim, 10.0f + 2.0f * std::cos(angle), 0.0f, -2.0f * std::sin(angle), "walkable");

    // Nothing walkable, or no grid: no aim.
    sceneFactories().gridBlockFree = [](const Scene&, const float*) { return false; };
    ControllerTarget_FOLLOW blocked = follow();
    EXPECT_FALSE(blocked.update(step(0.1), aim, poseAtPoint(30.0f, 0.0f, 0.0f), farAim, true));
    sceneFactories().gridBlockFree = w.savedGrid;  // the scene's own grid: it has none
    ControllerTarget_FOLLOW gridless = follow();
    EXPECT_FALSE(gridless.update(step(0.1), aim, poseAtPoint(30.0f, 0.0f, 0.0f), farAim, true));
}

TEST_F(FollowTest, AimsOncePerPeriodAndAtOnceAfterARestore) {
    ControllerTarget_FOLLOW target = follow();
    const Matrix34 model = poseAtPoint(9.0f, 0.0f, 0.0f);
    Matrix34 aim = matrix34Identity();
    EXPECT_TRUE(target.update(step(0.5), aim, model, farAim, true));
    EXPECT_FALSE(target.update(step(1.0), aim, model, farAim, true));
    EXPECT_FALSE(target.update(step(0.5), aim, model, farAim, true));
    EXPECT_TRUE(target.update(step(0.5), aim, model, farAim, true));  // 2.0 s since the last aim

    MemoryStream stream;
    ASSERT_GT(writeTarget(stream, &target), 0);
    stream.setPosition(0);
    std::unique_ptr<ControllerTarget> restored;
    ASSERT_GT(readTarget(stream, restored), 0);
    ASSERT_NE(restored, nullptr);
    EXPECT_TRUE(restored->update(step(0.01), aim, model, farAim, true));

    // A followed object that is gone gives no aims and no run decision.
    w.scene->deleteModel(hero);
    ControllerTarget_FOLLOW orphan = follow();
    EXPECT_FALSE(restored->update(step(5.0), aim, model, farAim, true));
    bool run = false;
    EXPECT_FALSE(restored->updateRun(model, run));
    // A name that finds nothing says so twice.
    EXPECT_TRUE(w.logged("Can't find game object with name [hero]"));
    EXPECT_TRUE(w.logged("Expected object [hero] for character target (follow mode)"));
}

TEST_F(FollowTest, RunHysteresisAndFacingTolerance) {
    ControllerTarget_FOLLOW target = follow();
    struct Case {
        bool runBefore;
        float distance;
        bool runAfter;
    };
    // Run starts at 1.5 x far (6.0) and stops below far (4.0).
    for (const Case c : {Case{false, 5.9f, false}, {false, 6.0f, true}, {true, 4.1f, true}, {true, 3.9f, false},
                         {true, 8.0f, true}, {false, 3.0f, false}}) {
        bool run = c.runBefore;
        EXPECT_TRUE(target.updateRun(poseAtPoint(c.distance, 0.0f, 0.0f), run));
        EXPECT_EQ(run, c.runAfter) << c.runBefore << " " << c.distance;
    }
    // From +x the hero lies along -x; a pose whose first row is across that
    // direction (|u . row 0| <= 0.1) takes the facing, one along it only
    // while it already turns.
    Matrix34 across = poseAtPoint(5.0f, 0.0f, 0.0f);
    const float acrossRows[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
    std::memcpy(across.m, acrossRows, sizeof(acrossRows));
    const Matrix34 along = poseAtPoint(5.0f, 0.0f, 0.0f);
    Matrix33 out{};
    EXPECT_TRUE(target.getFacing(out, across, false));
    EXPECT_NEAR(out.m[0], -1.0f, 1e-5f);
    EXPECT_NEAR(out.m[8], -1.0f, 1e-5f);
    EXPECT_FALSE(target.getFacing(out, along, false));
    EXPECT_TRUE(target.getFacing(out, along, true));
}

// A trajectory waypoint at the origin with points 10, 20, 30, 40 along x.
class TrajectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto route = std::make_unique<Y3Pose_Model>("route");
        route->pose = poseAtPoint(0.0f, 0.0f, 0.0f);
        for (float x : {10.0f, 20.0f, 30.0f, 40.0f}) route->trajectory.push_back(PoseVector3{{x, 0.0f, 0.0f}});
        w.scene->addWaypoint(std::move(route));
        auto bare = std::make_unique<Y3Pose_Model>("bare");
        w.scene->addWaypoint(std::move(bare));
        w.point("spot", 3.0f, 0.0f, 4.0f);
        w.log().clear();
    }
    ControllerWorld w;
    std::vector<float> points;
    Matrix34 aim = matrix34Identity();
};

TEST_F(TrajectoryTest, PathsRunFromTheNearestSegmentTowardsTheNearerEnd) {
    struct Case {
        float x;
        std::vector<float> path;
    };
    const Case cases[] = {
        {35.0f, flatten({{35, 0, 1}, {40, 0, 0}})},                               // forward from the last
        {25.0f, flatten({{25, 0, 1}, {30, 0, 0}, {40, 0, 0}})},                  // forward
        {15.0f, flatten({{15, 0, 1}, {10, 0, 0}, {0, 0, 0}})},                   // backward to the waypoint
        {5.0f, flatten({{5, 0, 1}, {0, 0, 0}})},                                 // backward from the first
    };
    for (const Case& c : cases) {
        ControllerTarget_TRAJECTORY target("route", false);
        ASSERT_TRUE(target.buildPath(points, poseAtPoint(c.x, 0.0f, 1.0f), aim, 0, 0)) << c.x;
        EXPECT_EQ(points, c.path) << c.x;
        expectAt(aim, 0.0f, 0.0f, 0.0f, "aim");
        EXPECT_EQ(target.counter, 0u);
    }
    // Not pending: a new path only when the held one runs short, fewer than
    // (path_lock_lookup + 4) x path_details points left (30 by default).
    const std::int32_t lookAhead = (pathfindSettings.pathLockLookup + 4) * pathfindSettings.pathDetails;
    ControllerTarget_TRAJECTORY target("route", false);
    const Matrix34 model = poseAtPoint(35.0f, 0.0f, 1.0f);
    ASSERT_TRUE(target.buildPath(points, model, aim, 0, 0));
    EXPECT_FALSE(target.buildPath(points, model, aim, 0, 0));
    EXPECT_FALSE(target.buildPath(points, model, aim, lookAhead + 10, 10));
    EXPECT_TRUE(target.buildPath(points, model, aim, lookAhead + 10, 11));
}

TEST_F(TrajectoryTest, RandomStartDrawsAPointAndMayTurnOnce) {
    for (unsigned seed : {1u, 2u, 3u, 7u, 11u}) {
        std::srand(seed);
        const std::uint32_t counter = static_cast<std::uint32_t>(std::rand() % 4);
        const bool reversed = std::rand() % 100 > 50;
        std::srand(seed);
        ControllerTarget_TRAJECTORY target("route", true);
        EXPECT_EQ(target.flags, 0x7u);
        ASSERT_TRUE(target.buildPath(points, poseAtPoint(25.0f, 0.0f, 1.0f), aim, 0, 0));
        EXPECT_EQ(target.counter, counter) << seed;
        EXPECT_EQ(points, reversed ? flatten({{25, 0, 1}, {20, 0, 0}, {10, 0, 0}, {0, 0, 0}})
                                   : flatten({{25, 0, 1}, {30, 0, 0}, {40, 0, 0}}))
            << seed;
        // The random start is the first path's only.
        EXPECT_EQ(target.flags, 0x2u);
    }
    // Near the start the random start is cancelled.
    std::srand(5);
    const int next = std::rand();
    std::srand(5);
    ControllerTarget_TRAJECTORY early("route", true);
    ASSERT_TRUE(early.buildPath(points, poseAtPoint(15.0f, 0.0f, 1.0f), aim, 0, 0));
    EXPECT_EQ(early.counter, 0u);
    EXPECT_EQ(std::rand(), next);
}

TEST_F(TrajectoryTest, RefusalsAndDirectWaypoints) {
    struct Case {
        const char* name;
        float x;
        const char* message;
    };
    const Case cases[] = {
        {"spot", 0.0f, "Trajectory target: expected waypoint [spot] with trajectory"},
        {"missing", 0.0f, "Trajectory target: expected waypoint [missing] with trajectory"},
        {"bare", 0.0f, "Trajectory target: expected trajectory on waypoint [bare]"},
        {"route", 2000.0f, "controller [route] out of trajectory"},
        {"", 0.0f, ""},
    };
    for (const Case& c : cases) {
        w.log().clear();
        ControllerTarget_TRAJECTORY target(c.name, false);
        EXPECT_FALSE(target.buildPath(points, poseAtPoint(c.x, 0.0f, 1.0f), aim, 0, 0)) << c.name;
        if (c.message[0]) {
            EXPECT_TRUE(w.logged(c.message)) << c.name;
        }
        EXPECT_EQ(target.flags, 0u) << c.name;
    }

    ControllerTarget_DIRECT_WAYPOINT direct("spot");
    EXPECT_EQ(direct.getAction(), kTargetActionDirectControl);
    EXPECT_STREQ(direct.getName(), "spot");
    ASSERT_TRUE(direct.buildPath(points, poseAtPoint(1.0f, 2.0f, 3.0f), aim, 0, 0));
    EXPECT_EQ(points, flatten({{1, 2, 3}, {3, 0, 4}}));
    expectAt(aim, 3.0f, 0.0f, 4.0f, "direct");
    EXPECT_FALSE(direct.buildPath(points, poseAtPoint(1.0f, 2.0f, 3.0f), aim, 0, 0));
    ControllerTarget_DIRECT_WAYPOINT lost("nowhere");
    EXPECT_FALSE(lost.buildPath(points, poseAtPoint(1.0f, 2.0f, 3.0f), aim, 0, 0));
    EXPECT_TRUE(w.logged("Direct waypoint target: expected waypoint [nowhere]"));
}

TEST(ControllerTargetRecord, EveryKindWritesReadsAndWritesTheSameBytes) {
    ControllerWorld w;
    Model* hero = w.place("hero");
    ASSERT_NE(hero, nullptr);
    w.log().clear();
    std::vector<std::unique_ptr<ControllerTarget>> targets;
    targets.push_back(std::make_unique<ControllerTarget_WAYPOINT>("{door==knock}"));
    auto world = std::make_unique<ControllerTarget_WORLD>();
    world->pose = poseAtPoint(1.0f, 2.0f, 3.0f);
    targets.push_back(std::move(world));
    auto local = std::make_unique<ControllerTarget_LOCAL>();
    local->pose = poseAtPoint(-1.0f, 0.5f, 9.0f);
    local->reference = 0x12345678u;
    targets.push_back(std::move(local));
    targets.push_back(std::make_unique<ControllerTarget_FOLLOW>("hero", 1.5f, 6.0f));
    targets.push_back(std::make_unique<ControllerTarget_TRAJECTORY>("route", true));
    targets.push_back(std::make_unique<ControllerTarget_DIRECT_WAYPOINT>("pier_end"));
    targets.push_back(nullptr);
    for (const auto& target : targets) {
        const std::int32_t type = target ? target->getType() : 0;
        MemoryStream first;
        const std::int32_t written = writeTarget(first, target.get());
        ASSERT_GT(written, 0) << type;
        first.setPosition(0);
        std::unique_ptr<ControllerTarget> read;
        EXPECT_EQ(readTarget(first, read), written) << type;
        EXPECT_EQ(read != nullptr, target != nullptr) << type;
        MemoryStream second;
        EXPECT_EQ(writeTarget(second, read.get()), written) << type;
        EXPECT_EQ(std::memcmp(first.data(), second.data(), static_cast<std::size_t>(written)), 0) << type;
        if (read) {
            EXPECT_STREQ(read->getName(), target->getName()) << type;
        }
    }
    EXPECT_TRUE(w.log().records().empty());
}

TEST(ControllerTargetRecord, DamagedRecordsAreRefusedWithAMessage) {
    ControllerWorld w;
    // A good waypoint record, then copies cut short, with a string of 600
    // bytes, with an action past the AC_ACTION range and with unknown ids.
    MemoryStream good;
    ControllerTarget_WAYPOINT waypoint("a;b");
    ASSERT_GT(writeTarget(good, &waypoint), 0);
    const std::string goodBytes(reinterpret_cast<const char*>(good.data()), static_cast<std::size_t>(good.size()));
    auto record = [](std::uint32_t type, std::uint16_t length, std::uint32_t action) {
        MemoryStream s;
        writeU32(s, type);
        writeU16(s, length);
        const std::string text(length, 'x');
        s.write(text.data(), static_cast<std::int32_t>(text.size()));
        writeU32(s, action);
        writeU8(s, 1);
        return std::string(reinterpret_cast<const char*>(s.data()), static_cast<std::size_t>(s.size()));
    };
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {"cut in the string", goodBytes.substr(0, 7), "Can't read controller target [1]: damaged record"},
        {"cut before pending", goodBytes.substr(0, goodBytes.size() - 1),
         "Can't read controller target [1]: damaged record"},
        {"cut in the id", goodBytes.substr(0, 2), "Can't read controller target: record too short"},
        {"string of 600", record(1, 600, 0), "Can't read controller target [1]: damaged record"},
        {"string of 512", record(1, 512, 0), "Can't read controller target [1]: damaged record"},
        {"action 17", record(1, 3, 17), "Can't read controller target [1]: damaged record"},
        {"trajectory name of 600", record(5, 600, 0), "Can't read controller target [5]: damaged record"},
        {"type 7", record(7, 3, 0), "Can't create INVALID controller type 7"},
        {"type 0xFFFFFFFF", record(0xFFFFFFFFu, 3, 0), "Can't create INVALID controller type -1"},
    };
    for (const Case& c : cases) {
        w.log().clear();
        std::string bytes = c.bytes;
        MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        std::unique_ptr<ControllerTarget> read = std::make_unique<ControllerTarget_WORLD>();
        EXPECT_LT(readTarget(stream, read), 0) << c.what;
        EXPECT_EQ(read, nullptr) << c.what;
        const auto records = w.log().records();
        ASSERT_EQ(records.size(), 1u) << c.what;
        EXPECT_EQ(records[0].text, c.message) << c.what;
    }
    // A string of 511 bytes fits its field.
    std::string longest = record(1, 511, 2);
    MemoryStream stream(longest.data(), static_cast<std::int32_t>(longest.size()));
    std::unique_ptr<ControllerTarget> read;
    ASSERT_GT(readTarget(stream, read), 0);
    EXPECT_EQ(std::strlen(read->getName()), 511u);
    EXPECT_EQ(read->getAction(), 2);

    // The factory: 0 gives none silently, unknown ids with the message.
    w.log().clear();
    EXPECT_EQ(ControllerTarget::create(0), nullptr);
    EXPECT_TRUE(w.log().records().empty());
    EXPECT_EQ(ControllerTarget::create(7), nullptr);
    EXPECT_TRUE(w.logged("Can't create INVALID controller type 7"));
    for (std::int32_t type = 1; type <= 6; ++type) {
        auto made = ControllerTarget::create(type);
        ASSERT_NE(made, nullptr) << type;
        EXPECT_EQ(made->getType(), type);
    }
    auto follow = ControllerTarget::create(kTargetFollow);
    auto* defaults = static_cast<ControllerTarget_FOLLOW*>(follow.get());
    EXPECT_FLOAT_EQ(defaults->nearDistance, 1.0f);
    EXPECT_FLOAT_EQ(defaults->farDistance, 5.0f);
    EXPECT_DOUBLE_EQ(defaults->timer, -1.0);
}

}  // namespace
