// The path search on small grids from the grid writer whose node lists are
// written out here, its open-list order, its limit and fallbacks, its
// agreement with the literal form on seeded grids, and that a search after
// the first allocates only its output list.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "control/PathOpenList.h"
#include "control/PathSearchReference.h"
#include "control/Y3GridData.h"
#include "foundation/Log.h"
#include "grid/GridWriter.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ScopedGameCore;

struct At {
    std::int32_t row;
    std::int32_t column;
    std::int32_t level = 0;
};

Y3GridData parse(const std::string& text) {
    Y3GridData grid;
    std::string error;
    EXPECT_TRUE(grid_tools::parseGridDescription(text, grid, error)) << error;
    return grid;
}

std::uint32_t node(const Y3GridData& grid, At at) {
    const std::uint32_t id = grid_tools::nodeAt(grid, at.row, at.column, at.level);
    EXPECT_NE(id, 0u) << at.row << "," << at.column;
    return id;
}

std::vector<std::uint32_t> nodes(const Y3GridData& grid, const std::vector<At>& list) {
    std::vector<std::uint32_t> ids;
    for (const At& at : list) ids.push_back(node(grid, at));
    return ids;
}

TEST(PathOpenList, EqualTotalsGoDirectlyAfterTheFirstOfTheirTotal) {
    Y3GridData grid = parse("floor 0\n|........\n");
    ASSERT_TRUE(reservePathWorkspace(grid));
    struct Case {
        const char* name;
        std::vector<std::int32_t> totals;  // record i has totals[i], inserted in order
        std::int32_t removeFirst;          // a record taken out after the inserts, -1 none
        std::vector<std::int32_t> insertAfter;  // further records inserted after the removal
        std::vector<std::uint32_t> order;
    };
    const Case cases[] = {
        {"5 9 7 7", {5, 9, 7, 7}, -1, {}, {0, 2, 3, 1}},
        {"a third 7 goes ahead of the second", {5, 9, 7, 7, 7}, -1, {}, {0, 2, 4, 3, 1}},
        {"a new lowest total becomes the head", {5, 9, 3}, -1, {}, {2, 0, 1}},
        {"after the first of a total leaves, the next is first", {7, 7}, 0, {7}, {1, 2}},
        {"the last of a total leaves and the total comes back", {4, 6}, 1, {6, 6}, {0, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PathOpenList list(grid.search);
        std::uint32_t index = 0;
        for (const std::int32_t total : c.totals) {
            grid.search.pool[index].total = total;
            list.insert(index++);
        }
        if (c.removeFirst >= 0) list.remove(std::uint32_t(c.removeFirst));
        for (const std::int32_t total : c.insertAfter) {
            grid.search.pool[index].total = total;
            list.insert(index++);
        }
        std::vector<std::uint32_t> popped;
        while (!list.empty()) popped.push_back(list.pop());
        EXPECT_EQ(popped, c.order);
    }
    // A total emptied and filled again, more often than there are buckets:
    // the emptied ones are taken back when the free ones run out.
    PathOpenList list(grid.search);
    grid.search.pool[0].total = 5;
    list.insert(0);
    for (std::int32_t i = 0; i < 40; ++i) {
        grid.search.pool[1].total = 9 + i % 3;
        list.insert(1);
        list.remove(1);
    }
    grid.search.pool[2].total = 7;
    list.insert(2);
    grid.search.pool[3].total = 10;
    list.insert(3);
    EXPECT_EQ(list.pop(), 0u);
    EXPECT_EQ(list.pop(), 2u);
    EXPECT_EQ(list.pop(), 3u);
    EXPECT_TRUE(list.empty());
}

struct SearchCase {
    const char* name;
    std::string grid;
    At start;
    At goal;
    float maxDistance;
    std::vector<At> path;
};

void expectSearches(const std::vector<SearchCase>& cases) {
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        Y3GridData grid = parse(c.grid);
        std::vector<std::uint32_t> out{77};
        const std::int32_t result = findPath(grid, node(grid, c.start), node(grid, c.goal), out, c.maxDistance);
        EXPECT_EQ(result, std::int32_t(c.path.size()));
        EXPECT_EQ(out, nodes(grid, c.path));
        std::vector<std::uint32_t> literal;
        path_reference::findPath(grid, node(grid, c.start), node(grid, c.goal), literal, c.maxDistance);
        EXPECT_EQ(literal, out);
    }
}

TEST(PathSearch, DiagonalsNeedBothSideNeighboursAndStackedCellsAreReachedBothWays) {
    // Row 0 of the stacked grid: column 0 at 1.0, column 1 at 0.5; row 1:
    // column 0 at 0 and (second floor) at 1.0, column 1 at 0. From (0, 1)
    // the row-first way leads to the low cell of (1, 0), the side-first way
    // to the high one: both are diagonal steps.
    const std::string stacked = "climb 0.6\nfloor 0 step 0.5\n|21\n|00\nfloor 1\n|\n|.\n";
    expectSearches({
        {"around a blocked corner", "floor 0\n|...\n|.#.\n|...\n", {0, 0}, {2, 2}, 0.0f,
         {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}}},
        {"around a missing corner", "floor 0\n|...\n|. .\n|...\n", {0, 0}, {2, 2}, 0.0f,
         {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}}},
        {"diagonal onto the upper stacked cell", stacked, {0, 1}, {1, 0, 1}, 0.0f, {{0, 1}, {1, 0, 1}}},
        {"diagonal onto the lower stacked cell", stacked, {0, 1}, {1, 0, 0}, 0.0f, {{0, 1}, {1, 0, 0}}},
        {"open diagonal", "floor 0\n|...\n|...\n|...\n", {0, 0}, {2, 2}, 0.0f, {{0, 0}, {1, 1}, {2, 2}}},
    });
}

TEST(PathSearch, UnreachableOrBlockedGoalsGiveThePathToTheBestRecord) {
    expectSearches({
        {"blocked goal", "floor 0\n|....#\n", {0, 0}, {0, 4}, 0.0f, {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {"goal behind a blocked cell", "floor 0\n|..#..\n", {0, 0}, {0, 4}, 0.0f, {{0, 0}, {0, 1}}},
        // The neighbour lies nearer the goal but 4 below it: not better.
        {"no record at the goal's height", "floor 0 step 0.5\n|019\n", {0, 0}, {0, 2}, 0.0f, {{0, 0}}},
        {"blocked start", "floor 0\n|#..\n", {0, 0}, {0, 2}, 0.0f, {{0, 0}, {0, 1}, {0, 2}}},
        {"start is the goal", "floor 0\n|...\n", {0, 1}, {0, 1}, 0.0f, {{0, 1}}},
    });
}

TEST(PathSearch, TheLimitEndsAtTheBestRecordAfterTheGoalTest) {
    const std::string corridor = "floor 0\n|............\n";
    std::vector<At> full;
    for (std::int32_t c = 0; c < 12; ++c) full.push_back({0, c});
    const std::vector<At> fourSteps(full.begin(), full.begin() + 5);
    expectSearches({
        {"below one cell: no limit", corridor, {0, 0}, {0, 11}, 0.9f, full},
        {"zero: no limit", corridor, {0, 0}, {0, 11}, 0.0f, full},
        {"negative: no limit", corridor, {0, 0}, {0, 11}, -3.0f, full},
        // The first record over 30 tenths ends the search; it is the best.
        {"three cells", corridor, {0, 0}, {0, 11}, 3.0f, fourSteps},
        {"three cells and a part", corridor, {0, 0}, {0, 11}, 3.9f, fourSteps},
        {"goal reached by the step past the limit", "floor 0\n|.....\n", {0, 0}, {0, 4}, 3.0f, fourSteps},
        // Under the goal lies a cell within 1.5 of its height, reached first
        // and so the best record; the goal comes off the list at cost 21,
        // past the limit of 20, and still ends the search.
        {"goal past the limit above the best record", "floor 0 step 0.1\n|09\n|38\nfloor 1\n|.\n", {1, 0},
         {0, 0, 1}, 2.0f, {{1, 0}, {0, 1}, {0, 0, 1}}},
        {"cell size 2: two cells", "cell 2\nfloor 0\n|......\n", {0, 0}, {0, 5}, 4.5f,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
    });
}

TEST(PathSearch, InvalidStartOrGoalGivesNothingWithOneLogLine) {
    ScopedGameCore core;
    Y3GridData grid = parse("floor 0\n|...\n");
    const std::uint32_t good = gridNodeId(0, 1);
    const std::uint32_t pairs[][2] = {{0, good}, {good, 0}, {gridNodeId(0, 3), good}, {good, gridNodeId(1, 0)}};
    for (const auto& pair : pairs) {
        core.log().clear();
        std::vector<std::uint32_t> out{1, 2, 3};
        EXPECT_EQ(findPath(grid, pair[0], pair[1], out, 0.0f), 0);
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(core.log().recordCount(), 1u);
        EXPECT_TRUE(core.log().contains("Can't search path: start node"));
    }
}

// On seeded grids, stacked floors and blocked cells included, every query
// gives the literal form's node list; the workspace is reused throughout.
TEST(PathSearch, SeededGridsGiveTheLiteralFormsNodeLists) {
    const grid_tools::GridShape shapes[] = {
        {64, 64, 30, 2, false, 11},
        {64, 64, 30, 1, false, 12},
        {64, 64, 0, 2, false, 13},
        {63, 63, 0, 1, true, 14},
    };
    for (const grid_tools::GridShape& shape : shapes) {
        SCOPED_TRACE(shape.seed);
        Y3GridData grid = parse(grid_tools::sampleGridText(shape));
        std::vector<std::uint32_t> ids;
        for (std::int32_t r = 0; r < grid.rowCount(); ++r)
            for (std::size_t c = 0; c < grid.rows[std::size_t(r)].cells.size(); ++c)
                ids.push_back(gridNodeId(r, std::int32_t(c)));
        std::mt19937 random(shape.seed);
        const float limits[] = {0.0f, 6.0f, 25.0f};
        for (int i = 0; i < 240; ++i) {
            const std::uint32_t start = ids[random() % ids.size()];
            const std::uint32_t goal = ids[random() % ids.size()];
            const float limit = limits[i % 3];
            std::vector<std::uint32_t> built, literal;
            const std::int32_t count = findPath(grid, start, goal, built, limit);
            ASSERT_EQ(path_reference::findPath(grid, start, goal, literal, limit), count);
            ASSERT_EQ(built, literal) << std::hex << start << " to " << goal << " limit " << limit;
        }
    }
}

TEST(PathSearch, SearchesAfterTheFirstAllocateOnlyTheirOutputList) {
    if (!testing_support::LargestAllocation::recording()) GTEST_SKIP() << "allocations are not reported here";
    Y3GridData grid = parse(grid_tools::sampleGridText({64, 64, 20, 2, false, 5}));
    const std::uint32_t start = grid_tools::nodeAt(grid, 0, 0, 0);
    const std::uint32_t goal = grid_tools::nodeAt(grid, 63, 63, 0);
    std::vector<std::uint32_t> out;
    ASSERT_GT(findPath(grid, start, goal, out, 0.0f), 0);
    for (const float limit : {0.0f, 10.0f}) {
        std::int32_t count = 0;
        std::size_t allocations = 0, largest = 0;
        {
            testing_support::LargestAllocation watch;
            count = findPath(grid, goal, start, out, limit);
            allocations = watch.count();
            largest = watch.bytes();
        }
        ASSERT_GT(count, 0);
        EXPECT_EQ(allocations, 1u);
        EXPECT_EQ(largest, std::size_t(count) * sizeof(std::uint32_t));
    }
    // A released grid sizes its workspace again at the next search.
    grid.search.release();
    EXPECT_GT(findPath(grid, start, goal, out, 0.0f), 0);
    EXPECT_TRUE(grid.search.reserved());
}

}  // namespace
