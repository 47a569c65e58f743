// Path-grid data: grids from the grid writer read through the model
// container and the grid manager, written back byte for byte; the
// coordinate rules, node ids and neighbour steps; damaged files refused.
#include <gtest/gtest.h>

#include <cmath>

#include <bit>
#include <cstring>
#include <memory>
#include <string>

#include "app/GameCore.h"
#include "control/PathGridDataManager.h"
#include "control/Y3ModelGrid.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "grid/GridWriter.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::FixturePackage;
using testing_support::ScopedGameCore;

// Two rows of three columns on the ground, and in row 0 a second floor far
// above it (its middle cell blocked): row 0 holds six cells, two a column.
const char* const kStacked =
    "cell 2\n"
    "origin 5\n"
    "height 0 32\n"
    "reserved 7 8 9\n"
    "floor 0\n"
    "|...\n"
    "|...\n"
    "floor 4\n"
    "|.#.\n";

Y3GridData parse(const char* text) {
    Y3GridData grid;
    std::string error;
    EXPECT_TRUE(grid_tools::parseGridDescription(text, grid, error)) << error;
    return grid;
}

std::string fileOf(const char* text) { return grid_tools::gridFileBytes(parse(text)); }

MemoryStream over(std::string& bytes) { return MemoryStream(bytes.data(), std::int32_t(bytes.size())); }

// The container road: bytes read or negative, out null on failure.
std::int32_t readContainer(std::string bytes, std::unique_ptr<Y3Model>& out) {
    MemoryStream in = over(bytes);
    return Y3Model::readFromStream(in, out, "grid_quay");
}

std::string writeContainer(Y3Model& model) {
    MemoryStream out;
    EXPECT_GE(model.writeToStream(out, "grid_quay"), 0);
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

template <class T>
void poke(std::string& bytes, std::size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof(value));
}

// Offsets in the file of kStacked: row 0's six cells from 82, row 1's
// count at 142 and its three cells from 146; the reserved words from 176.
constexpr std::size_t kRowCount = 74;
constexpr std::size_t kRow0Cells = 82;
constexpr std::size_t kRow1Cells = 146;
constexpr std::size_t kFileSize = 182;

TEST(Y3GridData, ReadThroughTheContainerAndWrittenAgainGivesTheSameBytes) {
    ScopedGameCore core;
    struct Case {
        const char* name;
        std::string bytes;
        std::int32_t rows;
        std::uint32_t cells;
    };
    std::string stacked = fileOf(kStacked);
    ASSERT_EQ(stacked.size(), kFileSize);
    // The reserved byte of a cell and the reserved words come back as read.
    stacked[kRow0Cells + 10 * 3 + 9] = char(0xA5);
    const Case cases[] = {
        {"stacked floors", stacked, 2, 9},
        {"rows without cells", fileOf("cell 1\nfloor 0\n|\n|  \n|\n"), 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Y3Model> model;
        ASSERT_EQ(readContainer(c.bytes, model), std::int32_t(c.bytes.size()));
        ASSERT_EQ(model->kind(), kModelKindGrid);
        const Y3GridData& grid = static_cast<Y3ModelGrid&>(*model).grid;
        EXPECT_EQ(grid.rowCount(), c.rows);
        EXPECT_EQ(grid.cellCount(), c.cells);
        EXPECT_EQ(writeContainer(*model), c.bytes);
        model->release();
    }
    std::unique_ptr<Y3Model> model;
    ASSERT_GT(readContainer(stacked, model), 0);
    const Y3GridData& grid = static_cast<Y3ModelGrid&>(*model).grid;
    EXPECT_EQ(grid.originRow, 5);
    EXPECT_EQ(grid.cellSize, 2.0f);
    EXPECT_EQ(grid.reserved1, 7);
    EXPECT_EQ(grid.reserved3, 9);
    EXPECT_EQ(grid.rows[0].cells[3].reserved, 0xA5);
}

TEST(Y3GridData, CoordinatesKeepTheirQuirks) {
    Y3GridData grid = parse(kStacked);
    // x = -cell size lands one column below its floor: the sign test is on x.
    const struct {
        float at;
        std::int16_t cell;
    } cases[] = {{-1.0f, -1}, {-2.0f, -2}, {0.0f, 0}, {3.9f, 1}, {-3.0f, -2}, {-4.5f, -3}};
    for (const auto& c : cases) {
        EXPECT_EQ(grid.columnOf(c.at), c.cell) << c.at;
        EXPECT_EQ(grid.rowOf(c.at), c.cell) << c.at;
    }
    EXPECT_EQ(std::bit_cast<std::uint32_t>(kGridHeightFactor), 0x38000100u);
    GridCell top;
    top.height = 0xFFFF;
    grid.heightBase = 10.0f;
    grid.heightScale = 2.0f;
    EXPECT_EQ(grid.cellHeight(top), 32767.0f * 2.0f * kGridHeightFactor + 10.0f);
    EXPECT_NEAR(grid.cellHeight(top), 12.0f, 1e-4f);

    float position[3] = {-7, -7, -7};
    ASSERT_TRUE(grid.cellPosition(gridNodeId(1, 1), position));
    EXPECT_EQ(position[0], 3.0f);
    EXPECT_EQ(position[1], 10.0f);
    EXPECT_EQ(position[2], 13.0f);
    float untouched[3] = {-7, -7, -7};
    EXPECT_FALSE(grid.cellPosition(gridNodeId(1, 3), untouched));
    EXPECT_EQ(untouched[0], -7.0f);
}

TEST(Y3GridData, NodeIdsNameCellsOfTheRows) {
    const Y3GridData grid = parse(kStacked);
    const struct {
        std::uint32_t id;
        bool valid;
    } cases[] = {{0x00010001u, true},  {0x00000001u, false},          {0x00010000u, false},
                 {0x00060001u, true},  {0x00070001u, false},          {gridNodeId(1, 2), true},
                 {gridNodeId(2, 0), false}, {0xFFFFFFFFu, false},     {0u, false}};
    for (const auto& c : cases) EXPECT_EQ(grid.valid(c.id), c.valid) << std::hex << c.id;
    std::int32_t row = -1, cell = -1;
    ASSERT_TRUE(grid.decode(0x00010001u, row, cell));
    EXPECT_EQ(row, 0);
    EXPECT_EQ(cell, 0);
}

TEST(Y3GridData, StepsFollowLinksAndNibblesAndRefuseBlockedCells) {
    Y3GridData grid = parse(kStacked);
    // Row 0: (column 0 low, high), (1 low, 1 high blocked), (2 low, high).
    const std::uint32_t low0 = gridNodeId(0, 0), high0 = gridNodeId(0, 1), low1 = gridNodeId(0, 2);
    const std::uint32_t low2 = gridNodeId(0, 4), high2 = gridNodeId(0, 5);
    const struct {
        const char* step;
        std::uint32_t (Y3GridData::*op)(std::uint32_t) const;
        std::uint32_t from;
        std::uint32_t to;
    } cases[] = {
        {"forward by the nibble distance, past the stacked cell", &Y3GridData::stepForward, low0, low1},
        {"back by the nibble distance", &Y3GridData::stepBack, low2, low1},
        {"forward onto a blocked cell", &Y3GridData::stepForward, high0, 0},
        {"back onto a blocked cell", &Y3GridData::stepBack, high2, 0},
        {"back past the first column", &Y3GridData::stepBack, low0, 0},
        {"next row", &Y3GridData::stepNextRow, low1, gridNodeId(1, 1)},
        {"next row from the upper floor", &Y3GridData::stepNextRow, high0, 0},
        {"previous row", &Y3GridData::stepPrevRow, gridNodeId(1, 2), low2},
        {"previous row from row 0", &Y3GridData::stepPrevRow, low0, 0},
        {"an invalid id", &Y3GridData::stepNextRow, gridNodeId(4, 0), 0},
    };
    for (const auto& c : cases) EXPECT_EQ((grid.*c.op)(c.from), c.to) << c.step;

    grid.setBlocked({gridNodeId(1, 1), 0u, gridNodeId(9, 9)}, true);
    EXPECT_EQ(grid.stepNextRow(low1), 0u);
    EXPECT_EQ(grid.rows[1].cells[1].height & kGridHeightMask, grid.rows[1].cells[0].height & kGridHeightMask);
    grid.setBlocked({gridNodeId(1, 1), gridNodeId(0, 3)}, false);
    EXPECT_EQ(grid.stepNextRow(low1), gridNodeId(1, 1));
    EXPECT_EQ(grid.stepForward(high0), gridNodeId(0, 3));
}

// The grids come from a package: the manager's record of a name loads
// its header (the whole grid) on first use.
TEST(Y3GridData, ManagerLoadsGridsFromThePackagesAndReleasesThemUnderTheResourceLogFlag) {
    testing_support::TempDir dir;
    std::string sprite = fileOf(kStacked);
    poke<std::uint32_t>(sprite, 4, kModelKindSprite);
    poke<std::uint32_t>(sprite, 60, 0);
    FixturePackage package;
    package.files = {{".grid", "grid_quay", fileOf(kStacked), ""}, {".grid", "grid_sprite", sprite, ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    gameCore.debugFlags |= DebugResourceLog;
    PathGridDataManager manager;
    PathGridRecord* record = manager.getOrCreate("grid_quay");
    EXPECT_STREQ(record->typeLabel, "pathfind");
    EXPECT_STREQ(record->typeName, "grid");
    EXPECT_FALSE(record->has(kResourceHeaderLoaded));
    Y3GridData* grid = manager.acquire("grid_quay");
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid, record->grid());
    EXPECT_EQ(grid->cellCount(), 9u);
    EXPECT_EQ(manager.acquire("grid_quay"), grid);
    record->release();
    EXPECT_EQ(record->grid(), nullptr);
    EXPECT_TRUE(packages.log().contains("Release path finding grid [grid_quay]"));
    // Read again on the next use.
    ASSERT_NE(manager.acquire("grid_quay"), nullptr);

    // A model container of another kind is not a grid.
    EXPECT_EQ(manager.acquire("grid_sprite"), nullptr);
    EXPECT_FALSE(manager.getOrCreate("grid_sprite")->hasObject());
    EXPECT_TRUE(packages.log().contains("Path finding grid [grid_sprite]: the file holds a sprite model, not a grid"));
    EXPECT_TRUE(packages.log().contains("Fail read pathfind [grid_sprite] header"));
}

TEST(Y3GridData, DamagedGridsAreRefusedWithTheirMessages) {
    struct Case {
        const char* name;
        void (*damage)(std::string&);
        const char* message;  // null: the stream's own failure
    };
    const Case cases[] = {
        {"previous-row link past the row", [](std::string& b) { poke<std::uint16_t>(b, kRow1Cells + 4, 6); },
         "row 1 cell 0: previous-row link 6 names no cell"},
        {"previous-row link on row 0", [](std::string& b) { poke<std::uint16_t>(b, kRow0Cells + 4, 0); },
         "row 0 cell 0: previous-row link 0 names no cell"},
        {"next-row link on the last row", [](std::string& b) { poke<std::uint16_t>(b, kRow1Cells + 20 + 6, 0); },
         "row 1 cell 2: next-row link 0 names no cell"},
        {"back nibble before the row", [](std::string& b) { poke<std::uint8_t>(b, kRow0Cells + 8, 0x12); },
         "row 0 cell 0: side byte 0x12 names no cell"},
        {"forward nibble past the row", [](std::string& b) { poke<std::uint8_t>(b, kRow0Cells + 50 + 8, 0x21); },
         "row 0 cell 5: side byte 0x21 names no cell"},
        {"negative row count", [](std::string& b) { poke<std::int32_t>(b, kRowCount, -1); },
         "row count -1 is negative, over 32767 or past the end of the file"},
        {"row count over what node ids name", [](std::string& b) { poke<std::int32_t>(b, kRowCount, 40000); },
         "row count 40000 is negative"},
        {"row count past the end", [](std::string& b) { poke<std::int32_t>(b, kRowCount, 30); },
         "row count 30 is negative"},
        {"negative cell count", [](std::string& b) { poke<std::int32_t>(b, kRowCount + 4, -5); },
         "row 0: cell count -5 is negative"},
        {"cell count over what node ids name", [](std::string& b) { poke<std::int32_t>(b, kRowCount + 4, 33000); },
         "row 0: cell count 33000 is negative"},
        {"cell count past the end", [](std::string& b) { poke<std::int32_t>(b, kRowCount + 4, 11); },
         "row 0: cell count 11 is negative"},
        // Every cell query divides by the cell size: none that is not a
        // positive number passes.
        {"cell size 0", [](std::string& b) { poke<float>(b, kRowCount - 4, 0.0f); },
         "cell size 0 is not a positive number"},
        {"negative cell size", [](std::string& b) { poke<float>(b, kRowCount - 4, -2.0f); },
         "cell size -2 is not a positive number"},
        {"cell size not a number", [](std::string& b) { poke<float>(b, kRowCount - 4, std::nanf("")); },
         "cell size nan is not a positive number"},
        {"infinite cell size", [](std::string& b) { poke<float>(b, kRowCount - 4, HUGE_VALF); },
         "cell size inf is not a positive number"},
        {"cut in the reserved words", [](std::string& b) { b.resize(kFileSize - 3); }, nullptr},
        {"cut in the cells", [](std::string& b) { b.resize(kRow1Cells + 12); }, nullptr},
    };
    testing_support::TempDir dir;
    FixturePackage package;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string bytes = fileOf(kStacked);
        cases[i].damage(bytes);
        package.files.push_back({".grid", "grid_d" + std::to_string(i), bytes, ""});
    }
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    PathGridDataManager manager;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string name = "grid_d" + std::to_string(i);
        EXPECT_EQ(manager.acquire(name.c_str()), nullptr);
        EXPECT_FALSE(manager.getOrCreate(name.c_str())->hasObject());
        EXPECT_TRUE(packages.log().contains("Fail read pathfind [" + name + "] header"));
        if (c.message) {
            EXPECT_TRUE(packages.log().contains("Path finding grid [" + name + "]: " + c.message));
        }
    }
}

}  // namespace

namespace {

// The built demo's harbour: its grid "grid_harbour" comes from the scenes
// package through the scene's grid record, and is read again after the
// scene flags its grid as changed.
TEST(Y3GridData, TheDemoHarbourFindsItsGridThroughTheScene) {
    testing_support::ScopedPackageDatabase packages(DEMO_FOLDER);
    ASSERT_TRUE(packages.build());
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects(gameCore.objects, &objects);
    PathGridDataManager grids;
    testing_support::ScopedCoreMember<PathGridDataManager> useGrids(gameCore.pathGrids, &grids);
    SceneDataManager scenes;
    setSceneDataManager(&scenes);
    std::unique_ptr<Scene> scene(SceneContext::createScene(scenes.get("harbour", false)));
    ASSERT_NE(scene, nullptr);

    PathGridRecord* record = scene->findGridData();
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->name, "grid_harbour");
    Y3GridData* grid = grids.acquire(record);
    ASSERT_NE(grid, nullptr);
    // The quay by the start (0, 0, 0), the pier's end (12, 0, 4), no cell
    // over the water beside the pier.
    const auto nodeOf = [&](float x, float z) {
        return grid_tools::nodeAt(*grid, grid->rowOf(z) - grid->originRow, grid->columnOf(x));
    };
    const std::uint32_t start = nodeOf(0.5f, 0.5f), pierEnd = nodeOf(12.5f, 4.5f);
    ASSERT_NE(start, 0u);
    ASSERT_NE(pierEnd, 0u);
    EXPECT_EQ(nodeOf(12.5f, -2.5f), 0u);
    std::vector<std::uint32_t> path;
    ASSERT_GT(findPath(*grid, start, pierEnd, path, 0.0f), 1);
    EXPECT_EQ(path.back(), pierEnd);
    float at[3];
    ASSERT_TRUE(grid->cellPosition(pierEnd, at));
    EXPECT_EQ(at[0], 12.5f);
    EXPECT_EQ(at[2], 4.5f);

    // The layout: the crates, the wall across the quay (and the cell past
    // its east end) and the house behind it are blocked; the hero's place in
    // front of the wall, the way round its end and the door are open.
    const struct {
        float x, z;
        bool blocked;
    } spots[] = {{-4.5f, -6.5f, true}, {-3.5f, -5.5f, true}, {3.5f, -6.5f, true},  {4.5f, -5.5f, true},
                 {-2.5f, -6.5f, false}, {-7.5f, 8.5f, true}, {-0.5f, 8.5f, true},  {0.5f, 8.5f, true},
                 {1.5f, 8.5f, false},  {-5.5f, 7.5f, false}, {-6.5f, 11.5f, true}, {-3.5f, 12.5f, true},
                 {-2.5f, 11.5f, false}, {-4.5f, 9.5f, false}};
    for (const auto& spot : spots) {
        const GridCell* cell = grid->cellOf(nodeOf(spot.x, spot.z));
        ASSERT_NE(cell, nullptr) << spot.x << " " << spot.z;
        EXPECT_EQ((cell->height & kGridBlockedBit) != 0, spot.blocked) << spot.x << " " << spot.z;
    }
    // From in front of the wall to the door behind it the route passes east
    // of the wall's end and enters no blocked cell.
    path.clear();
    const std::uint32_t door = nodeOf(-4.5f, 9.5f);
    ASSERT_GT(findPath(*grid, nodeOf(-5.5f, 7.5f), door, path, 0.0f), 1);
    EXPECT_EQ(path.back(), door);
    bool pastTheEnd = false;
    for (const std::uint32_t id : path) {
        ASSERT_TRUE(grid->cellPosition(id, at));
        EXPECT_EQ(grid->cellOf(id)->height & kGridBlockedBit, 0) << at[0] << " " << at[2];
        if (at[0] > 1.0f && at[2] > 8.0f && at[2] < 9.0f) pastTheEnd = true;
    }
    EXPECT_TRUE(pastTheEnd);

    EXPECT_EQ(scene->findGridData(), record);
    EXPECT_TRUE(record->has(kResourceHeaderLoaded));
    scene->flags |= kSceneRefreshGrid;
    EXPECT_EQ(scene->findGridData(), record);
    EXPECT_FALSE(record->has(kResourceHeaderLoaded));
    EXPECT_EQ(scene->flags & kSceneRefreshGrid, 0u);
    EXPECT_NE(grids.acquire(record), nullptr);

    scene->release();
    scene.reset();
    setSceneDataManager(nullptr);
}

}  // namespace
