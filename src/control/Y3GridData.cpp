#include "control/Y3GridData.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

const char* shown(const char* name) { return name ? name : ""; }

// trunc(value) as a 32-bit integer; a value out of range (or not a number)
// gives the lowest integer, as the processor's conversion does.
std::int64_t truncated(float value) {
    if (!(value > -2147483649.0f && value < 2147483648.0f)) return INT32_MIN;
    return static_cast<std::int64_t>(value);
}

std::int16_t gridCoordinate(float value, float cellSize) {
    std::int64_t result = truncated(value * (1.0f / cellSize));
    if (value < 0.0f) result -= 1;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(result & 0xFFFF));
}

// A count the stream can hold at minSize bytes each, and that node ids can name.
bool countFits(DataStream& stream, std::int32_t count, std::int32_t minSize) {
    return count >= 0 && count <= kGridMaxCount && count <= bytesLeft(stream) / minSize;
}

}  // namespace

void PathSearchWorkspace::release() {
    *this = PathSearchWorkspace();
}

std::uint32_t Y3GridData::cellCount() const {
    std::uint32_t count = 0;
    for (const GridRow& row : rows) count += static_cast<std::uint32_t>(row.cells.size());
    return count;
}

bool Y3GridData::decode(std::uint32_t id, std::int32_t& row, std::int32_t& cell) const {
    row = static_cast<std::int16_t>(static_cast<std::uint16_t>((id & 0xFFFF) - 1));
    cell = static_cast<std::int16_t>(static_cast<std::uint16_t>((id >> 16) - 1));
    return row >= 0 && row < rowCount() && cell >= 0 &&
           cell < static_cast<std::int32_t>(rows[static_cast<std::size_t>(row)].cells.size());
}

const GridCell* Y3GridData::cellOf(std::uint32_t id) const {
    std::int32_t row, cell;
    if (!decode(id, row, cell)) return nullptr;
    return &rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)];
}

GridCell* Y3GridData::cellOf(std::uint32_t id) {
    return const_cast<GridCell*>(static_cast<const Y3GridData*>(this)->cellOf(id));
}

std::int16_t Y3GridData::columnOf(float x) const { return gridCoordinate(x, cellSize); }

std::int16_t Y3GridData::rowOf(float z) const { return gridCoordinate(z, cellSize); }

float Y3GridData::cellHeight(const GridCell& cell) const {
    float y = static_cast<float>(cell.height & kGridHeightMask) * heightScale;
    y = y * kGridHeightFactor;
    return y + heightBase;
}

bool Y3GridData::cellPosition(std::uint32_t id, float* out) const {
    std::int32_t row, cell;
    if (!decode(id, row, cell)) return false;
    const GridCell& c = rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)];
    out[0] = (static_cast<float>(c.column) + 0.5f) * cellSize;
    out[1] = cellHeight(c);
    out[2] = (static_cast<float>(originRow + row) + 0.5f) * cellSize;
    return true;
}

namespace {

std::uint32_t unblocked(const Y3GridData& grid, std::int32_t row, std::int32_t cell) {
    const GridCell& target = grid.rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)];
    return (target.height & kGridBlockedBit) ? 0u : gridNodeId(row, cell);
}

}  // namespace

std::uint32_t Y3GridData::stepNextRow(std::uint32_t id) const {
    std::int32_t row, cell;
    if (!decode(id, row, cell)) return 0;
    const std::uint16_t link = rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)].nextLink;
    return link == kGridNoLink ? 0u : unblocked(*this, row + 1, link);
}

std::uint32_t Y3GridData::stepPrevRow(std::uint32_t id) const {
    std::int32_t row, cell;
    if (!decode(id, row, cell)) return 0;
    const std::uint16_t link = rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)].prevLink;
    return link == kGridNoLink ? 0u : unblocked(*this, row - 1, link);
}

std::uint32_t Y3GridData::stepBack(std::uint32_t id) const {
    std::int32_t row, cell;
    if (!decode(id, row, cell)) return 0;
    const std::int32_t k = rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)].side >> 4;
    return k == 0 ? 0u : unblocked(*this, row, cell - k);
}

std::uint32_t Y3GridData::stepForward(std::uint32_t id) const {
    std::int32_t row, cell;
    if (!decode(id, row, cell)) return 0;
    const std::int32_t k = rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)].side & 0x0F;
    return k == 0 ? 0u : unblocked(*this, row, cell + k);
}

void Y3GridData::setBlocked(const std::vector<std::uint32_t>& ids, bool blocked) {
    for (const std::uint32_t id : ids) {
        GridCell* cell = cellOf(id);
        if (!cell) continue;
        if (blocked)
            cell->height = static_cast<std::uint16_t>(cell->height | kGridBlockedBit);
        else
            cell->height = static_cast<std::uint16_t>(cell->height & kGridHeightMask);
    }
}

bool Y3GridData::checkLinks(const char* name) const {
    const std::int32_t count = rowCount();
    for (std::int32_t r = 0; r < count; ++r) {
        const std::vector<GridCell>& cells = rows[static_cast<std::size_t>(r)].cells;
        const std::int32_t n = static_cast<std::int32_t>(cells.size());
        for (std::int32_t c = 0; c < n; ++c) {
            const GridCell& cell = cells[static_cast<std::size_t>(c)];
            if (cell.prevLink != kGridNoLink &&
                (r == 0 || cell.prevLink >= rows[static_cast<std::size_t>(r - 1)].cells.size()))
                return engineLog().resourceError(
                    "Path finding grid [%s]: row %d cell %d: previous-row link %u names no cell", shown(name), r, c,
                    unsigned(cell.prevLink));
            if (cell.nextLink != kGridNoLink &&
                (r + 1 >= count || cell.nextLink >= rows[static_cast<std::size_t>(r + 1)].cells.size()))
                return engineLog().resourceError(
                    "Path finding grid [%s]: row %d cell %d: next-row link %u names no cell", shown(name), r, c,
                    unsigned(cell.nextLink));
            if ((cell.side >> 4) > c || c + (cell.side & 0x0F) >= n)
                return engineLog().resourceError(
                    "Path finding grid [%s]: row %d cell %d: side byte 0x%02X names no cell", shown(name), r, c,
                    unsigned(cell.side));
        }
    }
    return true;
}

void Y3GridData::release() {
    rows.clear();
    rows.shrink_to_fit();
    search.release();
}

std::int32_t readGridData(Y3GridData& grid, DataStream& stream, const char* name) {
    std::int32_t total = 0;
    std::uint16_t origin = 0;
    if (!addField(total, readU16(stream, origin))) return total;
    grid.originRow = static_cast<std::int16_t>(origin);
    if (!addField(total, readF32(stream, grid.heightBase)) || !addField(total, readF32(stream, grid.heightScale)) ||
        !addField(total, readF32(stream, grid.cellSize)))
        return total;
    // Every cell query divides by the cell size and the nearest-cell search
    // grows its ring by it.
    if (!std::isfinite(grid.cellSize) || grid.cellSize <= 0.0f) {
        engineLog().resourceError("Path finding grid [%s]: cell size %g is not a positive number", shown(name),
                                  static_cast<double>(grid.cellSize));
        return -1;
    }
    grid.rows.clear();
    grid.search.release();
    std::int32_t rowCount = 0;
    if (!addField(total, readI32(stream, rowCount))) return total;
    if (!countFits(stream, rowCount, 4)) {
        engineLog().resourceError(
            "Path finding grid [%s]: row count %d is negative, over %d or past the end of the file", shown(name),
            rowCount, kGridMaxCount);
        return -1;
    }
    grid.rows.resize(static_cast<std::size_t>(rowCount));
    for (std::int32_t r = 0; r < rowCount; ++r) {
        std::vector<GridCell>& cells = grid.rows[static_cast<std::size_t>(r)].cells;
        std::int32_t cellCount = 0;
        if (!addField(total, readI32(stream, cellCount))) return total;
        if (!countFits(stream, cellCount, static_cast<std::int32_t>(sizeof(GridCell)))) {
            engineLog().resourceError(
                "Path finding grid [%s]: row %d: cell count %d is negative, over %d or past the end of the file",
                shown(name), r, cellCount, kGridMaxCount);
            return -1;
        }
        cells.assign(static_cast<std::size_t>(cellCount), GridCell());
        if (cellCount > 0 &&
            !addField(total, readExact(stream, cells.data(), cellCount * static_cast<std::int32_t>(sizeof(GridCell)))))
            return total;
    }
    if (!addField(total, readU16(stream, grid.reserved1)) || !addField(total, readU16(stream, grid.reserved2)) ||
        !addField(total, readU16(stream, grid.reserved3)))
        return total;
    if (!grid.checkLinks(name)) return -1;
    return total;
}

std::int32_t writeGridData(DataStream& stream, const Y3GridData& grid) {
    std::int32_t total = 0;
    if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(grid.originRow))) ||
        !addField(total, writeF32(stream, grid.heightBase)) || !addField(total, writeF32(stream, grid.heightScale)) ||
        !addField(total, writeF32(stream, grid.cellSize)) || !addField(total, writeI32(stream, grid.rowCount())))
        return total;
    for (const GridRow& row : grid.rows) {
        const std::int32_t count = static_cast<std::int32_t>(row.cells.size());
        if (!addField(total, writeI32(stream, count)) ||
            !addField(total, stream.write(row.cells.data(), count * static_cast<std::int32_t>(sizeof(GridCell)))))
            return total;
    }
    if (!addField(total, writeU16(stream, grid.reserved1)) || !addField(total, writeU16(stream, grid.reserved2)))
        return total;
    addField(total, writeU16(stream, grid.reserved3));
    return total;
}

std::int32_t Y3GridData::firstCellOfColumn(std::int32_t row, std::int32_t column) const {
    if (row < 0 || row >= rowCount()) return -1;
    const std::vector<GridCell>& cells = rows[static_cast<std::size_t>(row)].cells;
    if (cells.empty()) return -1;
    std::int32_t low = 0, high = static_cast<std::int32_t>(cells.size()) - 1, mid = 0;
    while (low <= high) {
        mid = (low + high) / 2;
        const std::int32_t at = cells[static_cast<std::size_t>(mid)].column;
        if (at == column) break;
        if (at > column)
            high = mid - 1;
        else
            low = mid + 1;
    }
    while (mid > 0 && cells[static_cast<std::size_t>(mid - 1)].column == cells[static_cast<std::size_t>(mid)].column)
        --mid;
    return cells[static_cast<std::size_t>(mid)].column == column ? mid : -1;
}

std::uint32_t Y3GridData::findCell(const float* position, bool skipBlocked, float tolerance) const {
    const float h = position[1] + 0.5f;
    const std::int32_t column = columnOf(position[0]);
    const std::int32_t row = rowOf(position[2]) - originRow;
    const std::int32_t first = firstCellOfColumn(row, column);
    if (first < 0) return 0;
    const std::vector<GridCell>& cells = rows[static_cast<std::size_t>(row)].cells;
    std::int32_t last = first;
    while (last + 1 < static_cast<std::int32_t>(cells.size()) &&
           cells[static_cast<std::size_t>(last + 1)].column == column)
        ++last;
    for (std::int32_t i = last; i >= first; --i) {
        const GridCell& cell = cells[static_cast<std::size_t>(i)];
        if (skipBlocked && (cell.height & kGridBlockedBit)) continue;
        const float y = cellHeight(cell);
        if (y < h && (tolerance <= 0.0f || std::fabs(y - h) <= tolerance)) return gridNodeId(row, i);
    }
    return 0;
}

std::uint32_t Y3GridData::findNearestCell(const float* position, const float* direction, float maxDistance) const {
    if (rows.empty() || rows[0].cells.empty()) return 0;
    const std::int32_t c = columnOf(position[0]);
    const std::int32_t w = rowOf(position[2]);
    const bool directed = direction[0] != 0.0f || direction[1] != 0.0f || direction[2] != 0.0f;
    // Past the ring that holds the grid's farthest corner there is no cell:
    // the rings end there too (without a distance limit, or with a cell
    // size that never reaches it, they would not end otherwise).
    std::int64_t lastRing = 0;
    {
        std::int32_t low = INT16_MAX, high = INT16_MIN;
        for (const GridRow& row : rows)
            if (!row.cells.empty()) {
                low = std::min<std::int32_t>(low, row.cells.front().column);
                high = std::max<std::int32_t>(high, row.cells.back().column);
            }
        const std::int64_t columns = std::max<std::int64_t>(std::abs(c - low), std::abs(c - high));
        const std::int64_t rowsAway = std::max<std::int64_t>(std::abs(w - originRow),
                                                             std::abs(w - (originRow + rowCount() - 1)));
        lastRing = columns + rowsAway;
    }
    float best = -1.0f;
    std::uint32_t bestId = 0;
    const auto examine = [&](std::int32_t column, std::int32_t worldRow) {
        const std::int32_t row = worldRow - originRow;
        const std::int32_t first = firstCellOfColumn(row, column);
        if (first < 0) return;
        const std::vector<GridCell>& cells = rows[static_cast<std::size_t>(row)].cells;
        for (std::int32_t i = first; i < static_cast<std::int32_t>(cells.size()) &&
                                     cells[static_cast<std::size_t>(i)].column == column;
             ++i) {
            if (cells[static_cast<std::size_t>(i)].height & kGridBlockedBit) continue;
            const std::uint32_t id = gridNodeId(row, i);
            float p[3];
            cellPosition(id, p);
            const float half = cellSize * 0.5f;
            const float d[3] = {p[0] + half - position[0], p[1] - position[1], p[2] + half - position[2]};
            float distance;
            if (directed && d[0] * direction[0] + d[1] * direction[1] + d[2] * direction[2] < 0.0f)
                distance = 1e10f;
            else if (d[1] > 0.25f)
                distance = 1e10f;
            else
                distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            if (distance <= best || best < 0.0f) {
                best = distance;
                bestId = id;
            }
        }
    };
    for (std::int64_t r = 0;; ++r) {
        const float reach = static_cast<float>(r) * cellSize;
        if (best >= 0.0f && reach >= best) return bestId;
        if (maxDistance >= 0.0f && reach >= maxDistance) return bestId;
        if (r > lastRing) return bestId;
        if (r == 0) {
            examine(c, w);
            continue;
        }
        const std::int32_t n = static_cast<std::int32_t>(r);
        for (std::int32_t k = 0; k < n; ++k) {
            examine(c - n + k, w - k);
            examine(c + k, w - n + k);
            examine(c + n - k, w + k);
            examine(c - k, w + n - k);
        }
    }
}
