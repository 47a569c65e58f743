// The grid data writer: a path-finding grid from a readable description,
// with its row links and side nibbles computed, stored through the engine's
// own grid writer inside the model container. Tests, the benchmark and the
// demo make their grids with it.
//
// Description lines ("#" at the start of a line is a comment; blank lines
// are skipped):
//   cell <size>              edge of a cell in world units (default 1)
//   origin <row>             world row of the first map line (default 0)
//   column <first>           world column of the first map character (default 0)
//   height <base> <scale>    world y of height value 0 and of the full range
//                            (default 0 and 32)
//   climb <dy>               the largest height step between linked
//                            neighbours (default 1)
//   reserved <a> <b> <c>     the grid's three reserved words (default 0)
//   floor <y> [step <dy>]    starts a floor: the map lines that follow are
//                            its rows, first line first
//   |<cells>                 one map row of the current floor; each
//                            character after "|" is one column:
//                            "." a walkable cell at the floor's y, "#" a
//                            blocked one, "0" to "9" a walkable cell at
//                            y + digit * step, anything else no cell
//
// Floors lie on top of each other: where several floors have a cell in one
// column of one row, the cells are stacked in ascending height. A cell links
// to the cell in the neighbouring row or column (same floor or not) whose
// height is nearest its own, when the step is at most the climb. Blocked
// cells are linked like the others; the search refuses to enter them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "control/Y3GridData.h"

namespace grid_tools {

// Fills out from a description; false with a message naming the line.
bool parseGridDescription(std::string_view text, Y3GridData& out, std::string& error);

// The ".grid" file of a grid: the model container of kind 2 with the grid
// body written by writeGridData.
std::string gridFileBytes(const Y3GridData& grid);

// The node of the cell at a map position (row index, world column; level 0
// the lowest of stacked cells, 1 the next ...), 0 when there is none.
std::uint32_t nodeAt(const Y3GridData& grid, std::int32_t rowIndex, std::int32_t column, std::int32_t level = 0);

// A seeded sample grid for tests and benchmarks: width x height cells of
// size 1, a share of them blocked; with two floors a second one lies 2
// above the first over about half the cells, both with heights 0 to 1 in
// steps of 0.5, so that they join where they come within the climb. A maze
// blocks every cell but the passages of a maze of 2 x 2 cells a room.
struct GridShape {
    std::int32_t width = 64;
    std::int32_t height = 64;
    std::int32_t blockedPercent = 0;
    std::int32_t floors = 1;
    bool maze = false;
    std::uint32_t seed = 1;
};
std::string sampleGridText(const GridShape& shape);

}  // namespace grid_tools
