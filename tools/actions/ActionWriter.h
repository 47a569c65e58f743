// Compiles the source text of screen actions into the compiled ".as" form,
// through the engine's own source reader and compiled writer (the game
// refuses to store what it compiles; the tools store it).
#pragma once

#include <string>
#include <string_view>

namespace actions_tools {

// The compiled bytes of the source text; the reader's messages go to the
// engine log under fileName. Empty only when the data cannot be stored.
std::string compileActionSource(std::string_view text, const char* fileName);

// The source text of one action covering the cell rectangles (x0, y0, x1,
// y1 inclusive, clipped to the grid), for writers that describe actions by
// their rectangles.
struct CellRect {
    int x0, y0, x1, y1;
};
std::string actionSourceText(const std::string& name, int order, int helpX, int helpY, const float* colour,
                             unsigned flags, const CellRect* rects, int rectCount);

}  // namespace actions_tools
