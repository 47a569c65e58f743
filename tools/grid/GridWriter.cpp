#include "grid/GridWriter.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <vector>

#include "control/Y3ModelGrid.h"
#include "foundation/DataStream.h"

namespace grid_tools {

namespace {

struct Floor {
    float y = 0.0f;
    float step = 0.0f;
    std::vector<std::string> lines;
};

struct Settings {
    float cellSize = 1.0f;
    std::int32_t origin = 0;
    std::int32_t firstColumn = 0;
    float base = 0.0f;
    float scale = 32.0f;
    float climb = 1.0f;
    std::uint16_t reserved[3] = {};
};

struct Placed {
    std::int32_t column;
    float y;  // world height as the grid gives it back
    GridCell cell;
};

bool fail(std::string& error, std::int32_t line, const std::string& what) {
    error = "line " + std::to_string(line) + ": " + what;
    return false;
}

std::uint16_t heightValue(const Settings& s, float y) {
    const float unit = s.scale * kGridHeightFactor;
    const float value = unit != 0.0f ? (y - s.base) / unit : 0.0f;
    const long rounded = std::lround(value);
    return static_cast<std::uint16_t>(std::clamp<long>(rounded, 0, kGridMaxCount));
}

// The index of the cell in cells at column whose height is nearest y, within
// the climb; -1 when none.
std::int32_t nearest(const std::vector<Placed>& cells, std::int32_t column, float y, float climb) {
    std::int32_t found = -1;
    float bestStep = 0.0f;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].column != column) continue;
        const float step = std::fabs(cells[i].y - y);
        if (step <= climb && (found < 0 || step < bestStep)) {
            found = static_cast<std::int32_t>(i);
            bestStep = step;
        }
    }
    return found;
}

}  // namespace

bool parseGridDescription(std::string_view text, Y3GridData& out, std::string& error) {
    Settings s;
    std::vector<Floor> floors;
    std::istringstream lines{std::string(text)};
    std::string line;
    std::int32_t number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '|') {
            if (floors.empty()) return fail(error, number, "a map row before any \"floor\" line");
            floors.back().lines.push_back(line.substr(1));
            continue;
        }
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        bool ok = true;
        if (key == "cell") {
            ok = static_cast<bool>(words >> s.cellSize) && s.cellSize > 0.0f;
        } else if (key == "origin") {
            ok = static_cast<bool>(words >> s.origin) && s.origin >= INT16_MIN && s.origin <= INT16_MAX;
        } else if (key == "column") {
            ok = static_cast<bool>(words >> s.firstColumn);
        } else if (key == "height") {
            ok = static_cast<bool>(words >> s.base >> s.scale);
        } else if (key == "climb") {
            ok = static_cast<bool>(words >> s.climb);
        } else if (key == "reserved") {
            ok = static_cast<bool>(words >> s.reserved[0] >> s.reserved[1] >> s.reserved[2]);
        } else if (key == "floor") {
            Floor floor;
            ok = static_cast<bool>(words >> floor.y);
            std::string word;
            if (ok && words >> word) ok = word == "step" && static_cast<bool>(words >> floor.step);
            floors.push_back(floor);
        } else {
            return fail(error, number, "unknown keyword \"" + key + "\"");
        }
        if (!ok) return fail(error, number, "bad \"" + key + "\" line");
    }

    std::size_t rowCount = 0;
    for (const Floor& floor : floors) rowCount = std::max(rowCount, floor.lines.size());
    if (rowCount > static_cast<std::size_t>(kGridMaxCount)) return fail(error, number, "more than 32767 rows");

    // The cells of every row, stacked by height within a column.
    std::vector<std::vector<Placed>> rows(rowCount);
    Y3GridData grid;
    grid.cellSize = s.cellSize;
    grid.heightBase = s.base;
    grid.heightScale = s.scale;
    for (const Floor& floor : floors)
        for (std::size_t r = 0; r < floor.lines.size(); ++r)
            for (std::size_t c = 0; c < floor.lines[r].size(); ++c) {
                const char mark = floor.lines[r][c];
                float y = floor.y;
                if (mark >= '0' && mark <= '9')
                    y += static_cast<float>(mark - '0') * floor.step;
                else if (mark != '.' && mark != '#')
                    continue;
                Placed placed{s.firstColumn + static_cast<std::int32_t>(c), 0.0f, GridCell()};
                if (placed.column < INT16_MIN || placed.column > INT16_MAX)
                    return fail(error, number, "a column outside 16 bits");
                placed.cell.column = static_cast<std::int16_t>(placed.column);
                placed.cell.height = heightValue(s, y);
                placed.y = grid.cellHeight(placed.cell);
                if (mark == '#') placed.cell.height |= kGridBlockedBit;
                rows[r].push_back(placed);
            }
    for (std::vector<Placed>& row : rows) {
        std::stable_sort(row.begin(), row.end(), [](const Placed& a, const Placed& b) {
            return a.column != b.column ? a.column < b.column : a.y < b.y;
        });
        if (row.size() > static_cast<std::size_t>(kGridMaxCount))
            return fail(error, number, "a row of more than 32767 cells");
    }

    for (std::size_t r = 0; r < rowCount; ++r) {
        std::vector<Placed>& row = rows[r];
        for (std::size_t i = 0; i < row.size(); ++i) {
            Placed& p = row[i];
            p.cell.prevLink = p.cell.nextLink = kGridNoLink;
            p.cell.side = 0;
            if (r > 0) {
                const std::int32_t link = nearest(rows[r - 1], p.column, p.y, s.climb);
                if (link >= 0) p.cell.prevLink = static_cast<std::uint16_t>(link);
            }
            if (r + 1 < rowCount) {
                const std::int32_t link = nearest(rows[r + 1], p.column, p.y, s.climb);
                if (link >= 0) p.cell.nextLink = static_cast<std::uint16_t>(link);
            }
            const std::int32_t back = nearest(row, p.column - 1, p.y, s.climb);
            const std::int32_t forward = nearest(row, p.column + 1, p.y, s.climb);
            const std::int32_t at = static_cast<std::int32_t>(i);
            if ((back >= 0 && at - back > 15) || (forward >= 0 && forward - at > 15))
                return fail(error, number, "row " + std::to_string(r) + ": a side neighbour more than 15 cells away");
            if (back >= 0) p.cell.side = static_cast<std::uint8_t>((at - back) << 4);
            if (forward >= 0) p.cell.side = static_cast<std::uint8_t>(p.cell.side | (forward - at));
        }
    }

    grid.originRow = static_cast<std::int16_t>(s.origin);
    grid.reserved1 = s.reserved[0];
    grid.reserved2 = s.reserved[1];
    grid.reserved3 = s.reserved[2];
    grid.rows.resize(rowCount);
    for (std::size_t r = 0; r < rowCount; ++r)
        for (const Placed& p : rows[r]) grid.rows[r].cells.push_back(p.cell);
    out = std::move(grid);
    return true;
}

std::string gridFileBytes(const Y3GridData& grid) {
    Y3ModelGrid model;
    model.grid.rows = grid.rows;
    model.grid.heightBase = grid.heightBase;
    model.grid.heightScale = grid.heightScale;
    model.grid.originRow = grid.originRow;
    model.grid.reserved1 = grid.reserved1;
    model.grid.reserved2 = grid.reserved2;
    model.grid.reserved3 = grid.reserved3;
    model.grid.cellSize = grid.cellSize;
    MemoryStream stream;
    if (model.writeToStream(stream, "grid") < 0) return {};
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

std::uint32_t nodeAt(const Y3GridData& grid, std::int32_t rowIndex, std::int32_t column, std::int32_t level) {
    if (rowIndex < 0 || rowIndex >= grid.rowCount()) return 0;
    const std::vector<GridCell>& cells = grid.rows[static_cast<std::size_t>(rowIndex)].cells;
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (cells[i].column == column && level-- == 0) return gridNodeId(rowIndex, static_cast<std::int32_t>(i));
    return 0;
}

std::string sampleGridText(const GridShape& shape) {
    std::mt19937 random(shape.seed);
    const auto chance = [&](std::int32_t percent) { return static_cast<std::int32_t>(random() % 100) < percent; };
    const std::size_t w = static_cast<std::size_t>(shape.width), h = static_cast<std::size_t>(shape.height);
    std::vector<std::string> ground(h, std::string(w, '.'));
    if (shape.maze) {
        // Rooms at even positions; a depth-first walk opens the walls between them.
        for (std::string& line : ground) line.assign(w, '#');
        const std::size_t rw = (w + 1) / 2, rh = (h + 1) / 2;
        std::vector<bool> seen(rw * rh, false);
        std::vector<std::size_t> stack{0};
        seen[0] = true;
        ground[0][0] = '.';
        while (!stack.empty()) {
            const std::size_t at = stack.back();
            const std::size_t x = at % rw, y = at / rw;
            std::size_t options[4];
            std::size_t count = 0;
            if (x > 0 && !seen[at - 1]) options[count++] = at - 1;
            if (x + 1 < rw && !seen[at + 1]) options[count++] = at + 1;
            if (y > 0 && !seen[at - rw]) options[count++] = at - rw;
            if (y + 1 < rh && !seen[at + rw]) options[count++] = at + rw;
            if (count == 0) {
                stack.pop_back();
                continue;
            }
            const std::size_t to = options[random() % count];
            const std::size_t tx = to % rw, ty = to / rw;
            seen[to] = true;
            ground[ty * 2][tx * 2] = '.';
            ground[y + ty][x + tx] = '.';  // the wall between (sum of the room positions)
            stack.push_back(to);
        }
    } else {
        const char heights[] = {'0', '1', '2'};
        for (std::string& line : ground)
            for (char& mark : line)
                mark = chance(shape.blockedPercent) ? '#' : (shape.floors > 1 ? heights[random() % 3] : '.');
    }
    std::string text = "cell 1\nheight 0 32\nclimb 1\nfloor 0 step 0.5\n";
    for (const std::string& line : ground) text += "|" + line + "\n";
    if (shape.floors > 1) {
        text += "floor 2 step 0.5\n";
        const char heights[] = {'0', '1', '2'};
        for (std::size_t y = 0; y < h; ++y) {
            std::string line(w, ' ');
            for (char& mark : line)
                if (chance(50)) mark = chance(shape.blockedPercent) ? '#' : heights[random() % 3];
            text += "|" + line + "\n";
        }
    }
    return text;
}

}  // namespace grid_tools
