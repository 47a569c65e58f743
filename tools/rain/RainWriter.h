// The rain-map writer: the two files of a rain map, ".rain" (its name and
// settings) and ".raindata" (grid, index table and the drop stream of each
// cell that has ground), from a readable description. Tests, fuzz seeds and
// the demo write their rain maps with it. The files are laid out here from
// their byte formats; nothing of the engine's reader is used.
//
// Description lines ("#" starts a comment; blank lines are skipped):
//   name <text>                      the rain map's name (at most 127
//                                    characters; default: none)
//   origin <x> <y> <z>               world corner of cell (0, 0)
//   grid <width> <height>            cells along x and z, 10 x 10 units each
//   seed <n>                         the drops' jitter (default 1)
//   dropsize <min> <max>             phase <base> <scale>
//   frames <used> <in strip>         droppass <v1> <v2>
//   dropcolour <r> <g> <b>           ripplepass <v1> <v2> <v3>
//   ripplespeed <n>                  ripplecolour <r> <g> <b>
//   extra <s7> <s12> <s20>           the three settings the rain does not read
//   bounds <x0> <y0> <z0> <x1> <y1> <z1>   the generator's user bounds
//   textures <drop> <ripple>         texture names
//   cell <x> <z> <height>            the whole cell's ground at that height
//   box <x0> <z0> <x1> <z1> <height> ground at that height under the world
//                                    rectangle (the highest ground wins)
//   index <x> <z> <entry>            the cell's index-table entry as given
//                                    (for damaged maps; after the cells)
//
// A cell gets a segment (numbered row by row, x fastest) when any of its
// 400 drop points (corner + (c + a/2, d + b/2), c, d 0..9, a, b 0, 1) has
// ground; the others get -1. Heights are stored as truncate(height x 32),
// kept within 16 bits; points without ground store -32000.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rain_tools {

struct RainFiles {
    std::string header;  // ".rain"
    std::string data;    // ".raindata"
};

// False, with the line and the reason in error, for a description it cannot
// read.
bool writeRainFiles(std::string_view text, RainFiles& out, std::string& error);

}  // namespace rain_tools
