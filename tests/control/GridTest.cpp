// The grid game object on grids from the grid writer, loaded from a package
// through the grid manager as a scene's grid is: cell queries, push and pop
// among the resource's users, save records, routes and their following.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/ObjectFactories.h"
#include "control/ControlSettings.h"
#include "control/Grid.h"
#include "control/PathGridDataManager.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "control/PhysicsTestBackend.h"
#include "control/PhysicsTestPackage.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "grid/GridWriter.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/CameraFixture.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::FixturePackage;
using testing_support::ScopedCoreMember;

Y3GridData parse(const char* text) {
    Y3GridData grid;
    std::string error;
    EXPECT_TRUE(grid_tools::parseGridDescription(text, grid, error)) << error;
    return grid;
}

// Grids in a package, the game core's grid manager and object repository,
// and the path-finding settings read from a store (with the given values).
using Grids = std::vector<std::pair<std::string, const char*>>;

class GridWorld {
public:
    GridWorld(const Grids& grids,
              const std::vector<std::pair<const char*, const char*>>& settings = {})
        : packages_(dir_.path()) {
        FixturePackage package;
        // A null description stores a file that is no grid.
        for (const auto& [name, text] : grids)
            package.files.push_back({".grid", name, text ? grid_tools::gridFileBytes(parse(text)) : "damaged", ""});
        EXPECT_TRUE(testing_support::writeDataRoot(dir_.path(), {package}));
        EXPECT_TRUE(packages_.build());
        IniFile store;
        for (const auto& [key, value] : settings) store.getCategory("pathfind").getVariable(key).setString(value);
        readPathfindSettings(store);
    }
    ~GridWorld() {
        IniFile defaults;
        readPathfindSettings(defaults);
    }

    std::unique_ptr<Grid> make(const char* resource, const char* own = "walker") {
        return std::unique_ptr<Grid>(Grid::create(manager.getOrCreate(resource), 0, nullptr, own));
    }
    Y3GridData& data(const char* resource) { return *manager.acquire(resource); }
    bool logged(const std::string& text) { return packages_.log().contains(text); }

private:
    testing_support::TempDir dir_;
    testing_support::ScopedPackageDatabase packages_;
    ObjectRepository objects_;
    ScopedCoreMember<ObjectRepository> useObjects_{gameCore.objects, &objects_};

public:
    PathGridDataManager manager;

private:
    ScopedCoreMember<PathGridDataManager> useGrids_{gameCore.pathGrids, &manager};
};

// Row 0: a ground floor of three cells, a floor at 3.0 over column 0 and a
// blocked cell at 3.0 over column 2; row 1: a walkable and a blocked cell.
const char* const kFloors =
    "cell 1\n"
    "height 0 32\n"
    "floor 0\n"
    "|...\n"
    "|.#\n"
    "floor 3\n"
    "|. #\n";

TEST(GridCells, FindCellTakesTheHighestQualifyingStackedCell) {
    GridWorld world(Grids{{"grid_floors", kFloors}});
    const Y3GridData& grid = world.data("grid_floors");
    struct Case {
        float x, y, z;
        bool skipBlocked;
        float tolerance;
        std::int32_t row, column, level;  // level -1: no cell
    } cases[] = {
        {0.5f, 3.0f, 0.5f, true, -1.0f, 0, 0, 1},   // on the upper floor
        {0.5f, 2.4f, 0.5f, true, -1.0f, 0, 0, 0},   // below it: the lower
        {1.5f, 0.6f, 0.5f, true, -1.0f, 0, 1, 0},   // 0.6 above the only cell
        {1.5f, -0.5f, 0.5f, true, -1.0f, 0, 1, -1}, // 0.5 below it
        {1.5f, 0.6f, 0.5f, true, 0.5f, 0, 1, -1},   // outside the tolerance
        {1.5f, 0.3f, 0.5f, true, 1.0f, 0, 1, 0},    // within it
        {2.5f, 4.0f, 0.5f, true, -1.0f, 0, 2, 0},   // the blocked upper cell skipped
        {2.5f, 4.0f, 0.5f, false, -1.0f, 0, 2, 1},  // or not
        {1.5f, 0.0f, 1.5f, true, -1.0f, 1, 1, -1},  // only a blocked cell
        {2.5f, 0.0f, 1.5f, true, -1.0f, 1, 2, -1},  // no cell in the column
        {0.5f, 0.0f, 2.5f, true, -1.0f, 2, 0, -1},  // past the rows
        {0.5f, 0.0f, -0.5f, true, -1.0f, -1, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.z);
        const float at[3] = {c.x, c.y, c.z};
        const std::uint32_t expected = c.level < 0 ? 0u : grid_tools::nodeAt(grid, c.row, c.column, c.level);
        if (c.level >= 0) ASSERT_NE(expected, 0u);
        EXPECT_EQ(grid.findCell(at, c.skipBlocked, c.tolerance), expected);
    }
}

TEST(GridCells, NearestCellRingsFallBacksTiesAndEnds) {
    GridWorld world(Grids{
        {"grid_row", "cell 1\nfloor 0\n|...\n"},
        {"grid_tie", "cell 1\nfloor 0\n| .\n|.\n"},
        {"grid_empty0", "cell 1\nfloor 0\n|    \n|...\n"},
        {"grid_blocked", "cell 1\nfloor 0\n|###\n|###\n"},
        {"grid_high", "cell 1\nfloor 0\n|.\nfloor 1\n| .\n"},
    });
    struct Case {
        const char* grid;
        float position[3];
        float direction[3];
        float maxDistance;
        std::int32_t row, column;  // row -1: none
    } cases[] = {
        // Both cells' far corners lie 0.707 away: the later examined wins.
        {"grid_tie", {1.5f, 0.0f, 1.5f}, {0, 0, 0}, 10.0f, 0, 1},
        // Every cell behind the direction: the last one met stays.
        {"grid_row", {-2.5f, 0.0f, 0.5f}, {-1, 0, 0}, 10.0f, 0, 2},
        // In front of it: the nearest.
        {"grid_row", {-2.5f, 0.0f, 0.5f}, {1, 0, 0}, 10.0f, 0, 0},
        // A cell more than 0.25 above counts as far: the lower one is taken.
        {"grid_high", {1.5f, 0.0f, 0.5f}, {0, 0, 0}, 10.0f, 0, 0},
        {"grid_empty0", {1.5f, 0.0f, 1.5f}, {0, 0, 0}, 10.0f, -1, 0},
        {"grid_row", {-20.5f, 0.0f, 0.5f}, {0, 0, 0}, 10.0f, -1, 0},
        // Without a limit the rings reach a far grid, and end on one
        // without a free cell.
        {"grid_row", {-20.5f, 0.0f, 0.5f}, {0, 0, 0}, -1.0f, 0, 0},
        {"grid_blocked", {1.5f, 0.0f, 0.5f}, {0, 0, 0}, -1.0f, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.grid << " at " << c.position[0] << " limit " << c.maxDistance);
        const Y3GridData& grid = world.data(c.grid);
        const std::uint32_t expected = c.row < 0 ? 0u : grid_tools::nodeAt(grid, c.row, c.column);
        EXPECT_EQ(grid.findNearestCell(c.position, c.direction, c.maxDistance), expected);
    }
}

TEST(GridCells, NodeQueriesOfTheGridObject) {
    GridWorld world(Grids{{"grid_row", "cell 1\nfloor 0\n|...\n"}, {"grid_damaged", nullptr}});
    auto grid = world.make("grid_row");
    const Y3GridData& data = world.data("grid_row");
    const auto node = [&](std::int32_t column) { return grid_tools::nodeAt(data, 0, column); };
    // The own cell 1.0 below; 2.0 below the rings take the later of two
    // cells at one distance.
    const float above1[3] = {1.5f, 1.0f, 0.5f}, above2[3] = {1.5f, 2.0f, 0.5f};
    EXPECT_EQ(grid->findNode(above1), node(1));
    EXPECT_EQ(grid->findNode(above2), node(0));

    struct Case {
        float target[3];
        std::int32_t column;
    } cases[] = {
        {{-10.0f, 0.0f, 1.5f}, 0},  // towards the west: the cell behind is passed over
        {{10.0f, 0.0f, 1.5f}, 1},
        {{1.5f, 5.0f, 1.5f}, 1},  // straight above: no direction filter
    };
    const float beside[3] = {1.5f, 0.0f, 1.5f};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target[0]);
        EXPECT_EQ(grid->findNearestPoint(c.target, beside), node(c.column));
    }

    float at[3] = {7, 7, 7};
    ASSERT_TRUE(grid->getNodePosition(node(2), at));
    EXPECT_EQ(at[0], 2.5f);
    EXPECT_EQ(at[2], 0.5f);
    EXPECT_FALSE(grid->getNodePosition(0x00050001u, at));
    EXPECT_EQ(at[0], 2.5f);

    // A grid whose resource cannot be read answers "off the grid"; one
    // whose resource is not in the packages is not made.
    auto lost = world.make("grid_damaged");
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(lost->findNode(above1), 0u);
    EXPECT_EQ(lost->findNearestPoint(above1, beside), 0u);
    EXPECT_TRUE(world.logged("Can't find grid [grid_damaged]"));
    EXPECT_EQ(world.make("grid_missing"), nullptr);
}

const char* const kLane =
    "cell 1\n"
    "floor 0\n"
    "|..........\n"
    "|..........\n";

TEST(GridObject, PushAndPopAmongTheResourceUsersWithTheirMessages) {
    GridWorld world(Grids{{"grid_lane", kLane}});
    auto grid = world.make("grid_lane");
    PathGridRecord* record = world.manager.getOrCreate("grid_lane");
    EXPECT_TRUE(grid->isHidden());
    EXPECT_FALSE(grid->push());
    EXPECT_TRUE(world.logged("Can't push invisible grid: push only at visible phase"));
    EXPECT_FALSE(grid->pop(0));
    EXPECT_TRUE(world.logged("Can't pop grid [walker]: push first"));

    const Y3GridData& data = world.data("grid_lane");
    ASSERT_TRUE(grid->searchRoute(grid_tools::nodeAt(data, 0, 0), grid_tools::nodeAt(data, 0, 4), 30.0f));
    EXPECT_FALSE(grid->isHidden());
    ASSERT_TRUE(grid->push());
    EXPECT_EQ(record->users.indexOf(grid.get()), 0);
    EXPECT_FALSE(grid->push());
    EXPECT_TRUE(world.logged("Can't push object [walker] twice"));
    EXPECT_EQ(record->users.count(), 1u);

    // Off the list behind its back: the pop says so and the flag stays.
    record->users.removeAt(0);
    EXPECT_FALSE(grid->pop(0));
    EXPECT_TRUE(world.logged("Can't delete grid [walker] from pathfind references list [grid_lane]"));
    EXPECT_TRUE(grid->resourcePushed());
    record->users.append(grid.get());
    EXPECT_TRUE(grid->pop(0));
    EXPECT_EQ(record->users.count(), 0u);

    // Still registered when deleted: reported and taken off the list.
    ASSERT_TRUE(grid->push());
    grid.reset();
    EXPECT_TRUE(world.logged("Grid Destructor: Object [walker] is registered: Unregister before release"));
    EXPECT_EQ(record->users.count(), 0u);

    // An unavailable record makes no grid.
    record->flags |= kResourceUnavailable;
    EXPECT_EQ(world.make("grid_lane"), nullptr);
    record->flags &= ~kResourceUnavailable;
}

std::string saved(Grid& grid) {
    MemoryStream out;
    EXPECT_GE(grid.write(out), 0);
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

TEST(GridObject, SaveRecordsCarryPointsOnlyWithoutNodesAndLoadBackWhole) {
    GridWorld world(Grids{{"grid_lane", kLane}});
    const Y3GridData& data = world.data("grid_lane");
    PathGridRecord* record = world.manager.getOrCreate("grid_lane");
    auto searched = world.make("grid_lane");
    ASSERT_TRUE(searched->searchRoute(grid_tools::nodeAt(data, 0, 0), grid_tools::nodeAt(data, 0, 3), 30.0f));
    ASSERT_TRUE(searched->push());
    auto listed = world.make("grid_lane", "boat");
    listed->setRoutePoints({0.0f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f}, 1.0f);
    ASSERT_EQ(listed->points.size(), 3u);
    // The object table saves a grid under its resource's name, the one a
    // restore makes it of (its own name travels in its record): a grid
    // named after its walker is found again.
    EXPECT_STREQ(listed->getName(), "boat");
    EXPECT_STREQ(listed->recordName(), "grid_lane");

    // name (2 + 6 or 4), flags, pose, node list, progress, eye, head.
    const std::size_t fixed = 4 + 48 + 4 + 4 + 12 + 12;
    const std::string withNodes = saved(*searched);
    EXPECT_EQ(withNodes.size(), 2 + 6 + fixed + 4 * 4);
    const std::string withPoints = saved(*listed);
    EXPECT_EQ(withPoints.size(), 2 + 4 + fixed + 4 + 12);

    for (const std::string* bytes : {&withNodes, &withPoints}) {
        std::string copy = *bytes;
        MemoryStream in(copy.data(), std::int32_t(copy.size()));
        auto loaded = std::unique_ptr<Grid>(Grid::create(record, 0, nullptr, nullptr));
        ASSERT_EQ(loaded->read(in), std::int32_t(bytes->size()));
        EXPECT_EQ(saved(*loaded), *bytes);
        if (bytes == &withNodes) {
            // Saved registered: among the users again, without a message.
            EXPECT_GE(record->users.indexOf(loaded.get()), 0);
            EXPECT_FALSE(world.logged("Can't push grid [walker] twice"));
            EXPECT_TRUE(loaded->pop(0));
            // Its points are rebuilt from the nodes on first use.
            EXPECT_EQ(loaded->routePoints().size(), searched->points.size());
        }
    }
    EXPECT_TRUE(searched->pop(0));
}

// A saved route of points whose progress is negative would index its
// points before their start on the next update: the check of a restore
// refuses it, as the grid's own read does.
TEST(GridObject, ASavedRouteWithANegativeProgressIsRefused) {
    GridWorld world(Grids{{"grid_lane", kLane}});
    PathGridRecord* record = world.manager.getOrCreate("grid_lane");
    auto listed = world.make("grid_lane", "boat");
    listed->setRoutePoints({0.0f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f}, 1.0f);
    ASSERT_TRUE(listed->flags & kGridRoutePresent);
    const std::string whole = saved(*listed);
    // name (2 + 4), flags, pose, an empty node list, then the progress.
    const std::size_t progressAt = 2 + 4 + 4 + 48 + 4;
    const std::string noPoints = whole.substr(0, whole.size() - 16) + std::string(4, '\0');
    const struct Case {
        std::string bytes;
        std::int32_t progress;
        bool accepted;
    } cases[] = {
        {whole, 0, true}, {noPoints, 0, true}, {noPoints, -1, false}, {noPoints, -100, false},
        {whole, std::numeric_limits<std::int32_t>::min(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.progress);
        std::string bytes = c.bytes;
        std::memcpy(bytes.data() + progressAt, &c.progress, 4);
        ObjectRepository::SavedRecord head;
        head.type = ObjectGrid;
        head.name = "grid_lane";
        MemoryStream checked(bytes.data(), std::int32_t(bytes.size()));
        const std::int32_t result = checkObjectForLoading(head, checked);
        MemoryStream in(bytes.data(), std::int32_t(bytes.size()));
        auto loaded = std::unique_ptr<Grid>(Grid::create(record, 0, nullptr, nullptr));
        if (c.accepted) {
            EXPECT_EQ(result, std::int32_t(bytes.size()));
            EXPECT_EQ(loaded->read(in), std::int32_t(bytes.size()));
        } else {
            EXPECT_LT(result, 0);
            EXPECT_LT(loaded->read(in), 0);
            EXPECT_TRUE(world.logged("Can't read grid [boat]: its route progress " + std::to_string(c.progress) +
                                     " is negative"));
        }
    }
}

TEST(GridRoutes, PointsFromNodesAndListsAreResampledSmoothedAndRaised) {
    GridWorld world(Grids{{"grid_lane", kLane}});
    const Y3GridData& data = world.data("grid_lane");
    auto grid = world.make("grid_lane");
    const auto node = [&](std::int32_t column) { return grid_tools::nodeAt(data, 0, column); };

    ASSERT_TRUE(grid->searchRoute(node(2), node(3), 30.0f));
    ASSERT_EQ(grid->points.size(), 6u * 3);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(grid->points[i * 3 + 1], 0.05f) << i;
    // Each a weighted mean of itself and the points up to four away.
    EXPECT_NEAR(grid->points[0], 2.8580572f, 1e-5);
    EXPECT_NEAR(grid->points[15], 3.1419428f, 1e-5);

    ASSERT_TRUE(grid->searchRoute(node(2), node(2), 30.0f));
    ASSERT_EQ(grid->points.size(), 3u);
    EXPECT_FLOAT_EQ(grid->points[0], 2.5f);
    EXPECT_FLOAT_EQ(grid->points[1], 0.05f);

    // Farther than the limit: false at once, the nodes as they were.
    EXPECT_FALSE(grid->searchRoute(node(0), node(9), 5.0f));
    EXPECT_EQ(grid->nodes.size(), 1u);

    struct Case {
        const char* name;
        std::vector<float> input;
        float step;
        std::size_t points;
        bool present;
    } cases[] = {
        {"a segment shorter than step / D", {0, 0, 0, 0.1f, 0, 0}, 1.0f, 1, true},
        {"two segments of 0.5 at step 1", {0, 0, 0, 0.5f, 0, 0, 1.0f, 0, 0}, 1.0f, 2 + 2 + 1, true},
        {"the cell size for a negative step", {0, 0, 0, 1.0f, 0, 0}, -1.0f, 6, true},
        {"no point", {}, 1.0f, 0, false},
        {"a coordinate not a number", {0, 0, 0, std::numeric_limits<float>::quiet_NaN(), 0, 0}, 1.0f, 0, false},
        {"points too far apart", {0, 0, 0, 1e7f, 0, 0}, 1.0f, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        grid->setRoutePoints(c.input, c.step);
        EXPECT_EQ(grid->points.size(), c.points * 3);
        EXPECT_EQ(!grid->isHidden(), c.present);
    }
    EXPECT_TRUE(world.logged("Can't set route of grid [walker]"));
}

TEST(GridRoutes, FollowingAdvancesCutsAtObstaclesAndSteers) {
    GridWorld world(Grids{{"grid_lane", kLane}}, {{"path_head_lookup", "2"}});
    Y3GridData& data = world.data("grid_lane");
    auto grid = world.make("grid_lane");
    const auto node = [&](std::int32_t column) { return grid_tools::nodeAt(data, 0, column); };
    ASSERT_TRUE(grid->searchRoute(node(0), node(9), 30.0f));
    ASSERT_EQ(grid->nodes.size(), 10u);
    const float endPose[12] = {0, 0, 1, 0, 1, 0, -1, 0, 0, 9.5f, 0, 0.5f};
    grid->setEndPose(endPose);
    EXPECT_EQ(grid->progress, 0);

    // Walking east: the eye looks ahead along the lane, the head too.
    const float start[3] = {0.5f, 0.0f, 0.5f};
    const float left = grid->update(start);
    EXPECT_NEAR(grid->eye[0], 1.0f, 1e-3);
    EXPECT_NEAR(left, 46.0f / 5.0f, 1e-4);  // (c - p) x cell size / D
    EXPECT_NEAR(grid->head[0], 1.0f, 1e-3);

    const float ahead[3] = {3.5f, 0.0f, 0.5f};
    grid->advance(ahead);
    const std::int32_t reached = grid->progress;
    EXPECT_GT(reached, 10);
    grid->advance(start);  // going back does not lower it
    EXPECT_EQ(grid->progress, reached);

    // Within path_lock_lookup of the end the eye points straight at it.
    const float nearEnd[3] = {8.6f, 0.0f, 1.5f};
    const float distance = grid->update(nearEnd);
    EXPECT_NEAR(distance, std::hypot(0.9f, 1.0f), 1e-4);
    EXPECT_NEAR(grid->eye[0], 0.9f / std::hypot(0.9f, 1.0f), 1e-4);
    EXPECT_NEAR(grid->eye[2], -1.0f / std::hypot(0.9f, 1.0f), 1e-4);
    // The head point lies beyond the route: the end pose's facing.
    EXPECT_NEAR(grid->head[2], 1.0f, 1e-6);
    // Standing on the end: the eye keeps its direction.
    const float onEnd[3] = {9.5f, 0.0f, 0.5f};
    EXPECT_EQ(grid->update(onEnd), 0.0f);
    EXPECT_NEAR(grid->eye[0], 0.9f / std::hypot(0.9f, 1.0f), 1e-4);

    // A node ahead becomes blocked: the route ends two nodes before it and
    // the end pose moves onto the new last point, facing on.
    ASSERT_TRUE(grid->searchRoute(node(0), node(9), 30.0f));
    grid->setEndPose(endPose);
    data.setBlocked({node(2)}, true);
    grid->update(start);
    ASSERT_EQ(grid->nodes.size(), 1u);
    ASSERT_EQ(grid->points.size(), 3u);
    EXPECT_FLOAT_EQ(grid->endPose[9], 0.5f);
    EXPECT_FLOAT_EQ(grid->endPose[10], 0.05f);
    data.setBlocked({node(2)}, false);
}

// The look-ahead settings count route points forward: a negative one is
// refused with its message and the default followed instead.
TEST(GridRoutes, NegativeLookAheadSettingsKeepTheirDefaults) {
    const char* const keys[] = {"path_lock_lookup", "path_eye_lookup", "path_head_lookup", "path_obtacles_lookup"};
    std::vector<std::pair<const char*, const char*>> settings;
    for (const char* key : keys) settings.emplace_back(key, "-100");
    GridWorld world(Grids{{"grid_lane", kLane}}, settings);
    for (const char* key : keys)
        EXPECT_TRUE(world.logged(std::string("Setting [pathfind] ") + key + ": invalid value [-100]")) << key;
    EXPECT_EQ(pathfindSettings.pathLockLookup, 2);
    EXPECT_EQ(pathfindSettings.pathEyeLookup, 4);
    EXPECT_EQ(pathfindSettings.pathHeadLookup, 15);
    EXPECT_EQ(pathfindSettings.pathObstaclesLookup, 3);
    // The first steps of a walk read only points of the route.
    Y3GridData& data = world.data("grid_lane");
    auto grid = world.make("grid_lane");
    ASSERT_TRUE(grid->searchRoute(grid_tools::nodeAt(data, 0, 0), grid_tools::nodeAt(data, 0, 9), 30.0f));
    const float endPose[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 9.5f, 0, 0.5f};
    grid->setEndPose(endPose);
    const float start[3] = {0.5f, 0.0f, 0.5f};
    EXPECT_GT(grid->update(start), 0.0f);
    EXPECT_NEAR(grid->eye[0], 1.0f, 1e-3);
    EXPECT_NEAR(grid->head[0], 1.0f, 1e-3);
}

TEST(GridRoutes, TheSwitchStopsQueriesAndRoutesButNotPositionsOrPointLists) {
    GridWorld world(Grids{{"grid_lane", kLane}}, {{"debug_disable_pathfind", "on"}});
    const Y3GridData& data = world.data("grid_lane");
    auto grid = world.make("grid_lane");
    const float at[3] = {0.5f, 0.0f, 0.5f};
    EXPECT_EQ(grid->findNode(at), 0u);
    EXPECT_EQ(grid->findNearestPoint(at, at), 0u);
    EXPECT_FALSE(grid->searchRoute(grid_tools::nodeAt(data, 0, 0), grid_tools::nodeAt(data, 0, 2), 30.0f));
    EXPECT_FALSE(grid->checkObstacles());
    EXPECT_EQ(grid->update(at), 0.0f);
    float centre[3];
    EXPECT_TRUE(grid->getNodePosition(grid_tools::nodeAt(data, 0, 2), centre));
    grid->setRoutePoints({0, 0, 0, 1, 0, 0}, 1.0f);
    EXPECT_EQ(grid->points.size(), 6u * 3);
}

// The demo harbour's grid (the quay x -12..8, z -4..8; the pier on to
// x = 16 over z 0..8) answers the scene's free-block question.
TEST(GridScene, TheHarbourSceneFindsFreeBlocksOnItsGrid) {
    testing_support::ScopedPackageDatabase packages(DEMO_FOLDER);
    ASSERT_TRUE(packages.build());
    ObjectRepository objects;
    ScopedCoreMember<ObjectRepository> useObjects(gameCore.objects, &objects);
    PathGridDataManager grids;
    ScopedCoreMember<PathGridDataManager> useGrids(gameCore.pathGrids, &grids);
    SceneDataManager scenes;
    setSceneDataManager(&scenes);
    std::unique_ptr<Scene> scene(SceneContext::createScene(scenes.get("harbour", false)));
    ASSERT_NE(scene, nullptr);
    struct Case {
        float x, y, z;
        bool free;
    } cases[] = {
        {0.0f, 0.0f, 2.0f, true},   {12.5f, 0.0f, 4.5f, true},   // on the quay, on the pier
        {-11.5f, 0.0f, 0.5f, false},                             // the quay's edge within three cells
        {12.5f, 0.0f, 0.5f, false},                              // the pier's side: water in the rows before
        {30.0f, 0.0f, 0.0f, false}, {0.0f, -1.0f, 2.0f, false},  // off the grid, under it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.z);
        const float at[3] = {c.x, c.y, c.z};
        EXPECT_EQ(scene->gridCellsAround(at), c.free);
    }
    // A blocked cell within the block refuses it.
    Y3GridData& data = *grids.acquire(scene->findGridData());
    const std::uint32_t blocked = grid_tools::nodeAt(data, 2 - data.originRow, 2);
    ASSERT_NE(blocked, 0u);
    data.setBlocked({blocked}, true);
    const float quay[3] = {0.0f, 0.0f, 2.0f};
    EXPECT_FALSE(scene->gridCellsAround(quay));
    scene->release();
    scene.reset();
    setSceneDataManager(nullptr);
}

// A scene's grid-obstacle refresh over the physics test backend: a yard of
// 7 x 5 free cells (one blocked in the grid's own data at row 4, column 3)
// and crates whose physics actors are flagged "lock-pathfind" (or only
// "overwrite-pathfind", which blocks nothing).
TEST(GridScene, LockPathfindActorsBlockTheirCellsAtEachRefresh) {
    testing_support::TempDir dir;
    FixturePackage package = testing_support::physicsPackage(
        "model crate\nactor box body flags lock-pathfind size 0.4 0.5 0.4\n"
        "model marker\nactor box body flags overwrite-pathfind size 0.4 0.5 0.4\n");
    package.files.push_back({".grid", "grid_yard",
                             grid_tools::gridFileBytes(parse("cell 1\nheight 0 32\nfloor 0\n"
                                                             "|.......\n|.......\n|.......\n|.......\n|...#...\n")),
                             ""});
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    ObjectRepository objects;
    ScopedCoreMember<ObjectRepository> useObjects(gameCore.objects, &objects);
    PathGridDataManager grids;
    ScopedCoreMember<PathGridDataManager> useGrids(gameCore.pathGrids, &grids);
    PhysicsCore physicsCore;
    ScopedCoreMember<PhysicsCore> usePhysics(gameCore.physics, &physicsCore);
    testing_support::TestBackend backend;
    SceneDataManager scenes;
    setSceneDataManager(&scenes);
    std::unique_ptr<Scene> scene(SceneContext::createScene(scenes.get("yard", false)));
    ASSERT_NE(scene, nullptr);
    PhysicsScene* physics = physicsSceneOf(scene.get());
    ASSERT_NE(physics, nullptr);
    Y3GridData& data = *grids.acquire(scene->findGridData());
    auto blocked = [&](std::int32_t row, std::int32_t column) {
        return (data.cellOf(grid_tools::nodeAt(data, row, column))->height & kGridBlockedBit) != 0;
    };

    // A crate on row 2, column 3; another over the grid's own blocked cell;
    // a marker on row 1, column 1.
    testing_support::SourceModel crateSource("crate"), wallSource("wall"), markerSource("marker");
    const float places[3][3] = {{3.5f, 0.5f, 2.5f}, {3.5f, 0.5f, 4.5f}, {1.5f, 0.5f, 1.5f}};
    testing_support::SourceModel* sources[3] = {&crateSource, &wallSource, &markerSource};
    for (int i = 0; i < 3; ++i) std::copy(places[i], places[i] + 3, sources[i]->world.m + 9);
    PhysicsModel* crate = physics->createModel("crate", &crateSource);
    PhysicsModel* wall = physics->createModel("crate", &wallSource);
    ASSERT_TRUE(crate && wall && physics->createModel("marker", &markerSource));

    // The first pass only starts the period; none runs before it has passed.
    for (double t : {1.0, 1.5, 1.99}) {
        scene->updatePhase2(testing_support::frameAt(t, 0.01), 0);
        EXPECT_FALSE(blocked(2, 3)) << t;
    }
    scene->updatePhase2(testing_support::frameAt(2.0, 0.01), 0);
    EXPECT_TRUE(blocked(2, 3));
    EXPECT_TRUE(blocked(4, 3));
    EXPECT_FALSE(blocked(1, 1));
    for (std::int32_t column : {2, 4}) EXPECT_FALSE(blocked(2, column)) << column;

    // A route along row 2 meanwhile goes round the crate.
    GameObject* made = scene->createGrid("walker");
    ASSERT_NE(made, nullptr);
    auto* walker = static_cast<Grid*>(made);
    ASSERT_TRUE(walker->searchRoute(grid_tools::nodeAt(data, 2, 0), grid_tools::nodeAt(data, 2, 6), 50.0f));
    const std::uint32_t crateCell = grid_tools::nodeAt(data, 2, 3);
    EXPECT_EQ(std::count(walker->nodes.begin(), walker->nodes.end(), crateCell), 0);
    EXPECT_GE(walker->nodes.size(), 7u);

    // Moved off the grid, the crates free what they blocked at the next
    // refresh; the grid's own blocked cell stays blocked.
    for (PhysicsModel* model : {crate, wall}) backend.actors.at(model->actors[0].handle).pose.m[9] = 40.0f;
    scene->updatePhase2(testing_support::frameAt(2.5, 0.01), 0);
    EXPECT_TRUE(blocked(2, 3));
    scene->updatePhase2(testing_support::frameAt(3.0, 0.01), 0);
    EXPECT_FALSE(blocked(2, 3));
    EXPECT_TRUE(blocked(4, 3));

    scene->release();
    scene.reset();
    setSceneDataManager(nullptr);
}

}  // namespace
