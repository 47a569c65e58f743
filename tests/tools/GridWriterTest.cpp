// The grid writer's description errors, each named with its line.
#include <gtest/gtest.h>

#include <string>

#include "grid/GridWriter.h"

namespace {

TEST(GridWriter, DescriptionErrorsNameTheirLine) {
    // Seventeen cells stacked in column 0: the ground cell of column 1 finds
    // its back neighbour (the lowest of them) 17 indexes back.
    std::string tall = "floor 0\n|..\n";
    for (int y = 1; y <= 16; ++y) tall += "floor " + std::to_string(y) + "\n|.\n";
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"floor 0\n|.\nbogus 1\n", "line 3: unknown keyword \"bogus\""},
        {"|..\n", "line 1: a map row before any \"floor\" line"},
        {"cell -1\n", "line 1: bad \"cell\" line"},
        {"origin 40000\n", "line 1: bad \"origin\" line"},
        {"floor 0 stride 2\n", "line 1: bad \"floor\" line"},
        {tall, "row 0: a side neighbour more than 15 cells away"},
    };
    for (const auto& c : cases) {
        Y3GridData grid;
        std::string error;
        EXPECT_FALSE(grid_tools::parseGridDescription(c.text, grid, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace
