// The path search over a grid: A* with eight-way moves, its estimate
// overestimating on purpose, the open list kept in the exact order of a
// list sorted by total in which an equal total goes directly after the
// first record of that total (PathOpenList). Records live in the grid's
// pool, one per cell, and are named by index; a record stamped with the
// search's generation is the visited entry of its cell.
#include <cmath>
#include <new>

#include "control/PathOpenList.h"
#include "control/Y3GridData.h"
#include "foundation/Log.h"

namespace {

struct Node {
    std::int32_t row = -1;
    std::int32_t cell = 0;
    explicit operator bool() const { return row >= 0; }
    bool operator==(const Node& other) const { return row == other.row && cell == other.cell; }
};

class Search {
public:
    Search(Y3GridData& grid, PathSearchWorkspace& ws) : grid_(grid), ws_(ws), open_(ws) {}

    const GridCell& cellAt(Node n) const {
        return grid_.rows[static_cast<std::size_t>(n.row)].cells[static_cast<std::size_t>(n.cell)];
    }
    Node open(std::int32_t row, std::int32_t cell) const {
        const GridCell& target = grid_.rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(cell)];
        return (target.height & kGridBlockedBit) ? Node{} : Node{row, cell};
    }
    // The neighbour steps on validated data (the links and nibbles name cells).
    Node nextRow(Node n) const {
        const std::uint16_t link = cellAt(n).nextLink;
        return link == kGridNoLink ? Node{} : open(n.row + 1, link);
    }
    Node prevRow(Node n) const {
        const std::uint16_t link = cellAt(n).prevLink;
        return link == kGridNoLink ? Node{} : open(n.row - 1, link);
    }
    Node back(Node n) const {
        const std::int32_t k = cellAt(n).side >> 4;
        return k == 0 ? Node{} : open(n.row, n.cell - k);
    }
    Node forward(Node n) const {
        const std::int32_t k = cellAt(n).side & 0x0F;
        return k == 0 ? Node{} : open(n.row, n.cell + k);
    }

    PathRecord& rec(std::uint32_t index) { return ws_.pool[index]; }

    // ---- search ----
    std::uint32_t indexOf(Node n) const {
        return ws_.rowStart[static_cast<std::size_t>(n.row)] + static_cast<std::uint32_t>(n.cell);
    }
    std::int32_t estimate(Node n) const { return gridEstimate(cellAt(n).column, n.row, goalColumn_, goal_.row); }
    void makeRecord(std::uint32_t index, Node n, std::uint32_t from, std::int32_t cost, std::int32_t total) {
        PathRecord& r = rec(index);
        r.stamp = ws_.generation;
        r.from = from;
        r.cost = cost;
        r.total = total;
        r.prev = r.next = r.bucket = 0;
        r.row = static_cast<std::int16_t>(n.row);
        r.cell = static_cast<std::int16_t>(n.cell);
        ++ws_.count;
    }
    void process(std::uint32_t current, Node n, std::int32_t step) {
        const std::int32_t cost = rec(current).cost + step;
        const std::int32_t total = cost + estimate(n);
        const std::uint32_t index = indexOf(n);
        PathRecord& r = rec(index);
        if (r.stamp != ws_.generation) {
            makeRecord(index, n, current + 1, cost, total);
            open_.insert(index);
            return;
        }
        if (r.total <= total) return;
        r.total = total;
        r.cost = cost;
        r.from = current + 1;
        if (r.bucket) open_.remove(index);
        open_.insert(index);
    }
    void expand(std::uint32_t current) {
        const Node k{rec(current).row, rec(current).cell};
        const Node n = nextRow(k);
        const Node p = prevRow(k);
        const Node b = back(k);
        const Node f = forward(k);
        Node d1, d2, d3, d4;
        if (n) {
            process(current, n, 10);
            if (b && (d1 = back(n))) process(current, d1, 11);
            if (f && (d2 = forward(n))) process(current, d2, 11);
        }
        if (p) {
            process(current, p, 10);
            if (b && (d3 = back(p))) process(current, d3, 11);
            if (f && (d4 = forward(p))) process(current, d4, 11);
        }
        if (b) {
            process(current, b, 10);
            Node e;
            if (n && (e = nextRow(b)) && !(e == d1)) process(current, e, 11);
            if (p && (e = prevRow(b)) && !(e == d3)) process(current, e, 11);
        }
        if (f) {
            process(current, f, 10);
            Node e;
            if (n && (e = nextRow(f)) && !(e == d2)) process(current, e, 11);
            if (p && (e = prevRow(f)) && !(e == d4)) process(current, e, 11);
        }
    }

    // The record the search ends with, pool index + 1 (0: none).
    std::uint32_t run(Node start, Node goal, std::int32_t limitCells) {
        goal_ = goal;
        goalColumn_ = cellAt(goal).column;
        const float goalHeight = grid_.cellHeight(cellAt(goal));
        ws_.count = 0;
        ws_.expanded = 0;
        if (++ws_.generation == 0) {
            for (PathRecord& r : ws_.pool) r.stamp = 0;
            ws_.generation = 1;
        }
        const std::uint32_t first = indexOf(start);
        makeRecord(first, start, 0, 0, estimate(start));
        open_.insert(first);
        std::uint32_t best = 0;
        std::int32_t bestEstimate = 0;
        while (!open_.empty()) {
            const std::uint32_t current = open_.pop();
            const PathRecord& r = rec(current);
            if (r.row == goal.row && r.cell == goal.cell) return current + 1;
            const std::int32_t own = r.total - r.cost;
            if (best == 0 || (own < bestEstimate &&
                              std::fabs(grid_.cellHeight(cellAt(Node{r.row, r.cell})) - goalHeight) < 1.5f)) {
                best = current + 1;
                bestEstimate = own;
            }
            if (limitCells > 0 && r.cost > ws_.limit) return best;
            ++ws_.expanded;
            expand(current);
        }
        return best;
    }

private:
    Y3GridData& grid_;
    PathSearchWorkspace& ws_;
    Node goal_;
    std::int32_t goalColumn_ = 0;
    PathOpenList open_;
};

}  // namespace

bool reservePathWorkspace(Y3GridData& grid) {
    PathSearchWorkspace& ws = grid.search;
    const std::uint32_t cells = grid.cellCount();
    try {
        const std::size_t records = static_cast<std::size_t>(cells) + 1;
        ws.pool.assign(records, PathRecord());
        ws.rowStart.resize(grid.rows.size() + 1);
        std::uint32_t at = 0;
        for (std::size_t r = 0; r < grid.rows.size(); ++r) {
            ws.rowStart[r] = at;
            at += static_cast<std::uint32_t>(grid.rows[r].cells.size());
        }
        ws.rowStart[grid.rows.size()] = at;
        ws.generation = 0;
        ws.buckets.resize(records);
        ws.freeBuckets.resize(records);
        for (std::size_t i = 0; i < records; ++i) ws.freeBuckets[i] = static_cast<std::uint32_t>(records - 1 - i);
        ws.heap.resize(records);
        std::size_t tableSize = 2;
        while (tableSize < 2 * records) tableSize *= 2;
        ws.table.assign(tableSize, 0);
        ws.tableMask = static_cast<std::uint32_t>(tableSize - 1);
        ws.displaced = 0;
    } catch (const std::bad_alloc&) {
        ws.release();
        return engineLog().error("Can't search path: no memory for the search of %u cells", cells);
    }
    return true;
}

std::int32_t findPath(Y3GridData& grid, std::uint32_t start, std::uint32_t goal, std::vector<std::uint32_t>& out,
                      float maxDistance) {
    std::vector<std::uint32_t>().swap(out);
    Node from, to;
    if (!grid.decode(start, from.row, from.cell) || !grid.decode(goal, to.row, to.cell)) {
        engineLog().error("Can't search path: start node %08X or goal node %08X is not a cell of the grid",
                          unsigned(start), unsigned(goal));
        return 0;
    }
    if (!grid.search.reserved() && !reservePathWorkspace(grid)) return 0;
    // Whole cells, truncated towards zero; below one cell (or not a number): no limit.
    const float cells = maxDistance / grid.cellSize;
    std::int32_t limitCells = 0;
    if (cells >= 1.0f) limitCells = cells < 100000000.0f ? static_cast<std::int32_t>(cells) : 100000000;
    grid.search.limit = limitCells * 10;
    Search search(grid, grid.search);
    const std::uint32_t end = search.run(from, to, limitCells);
    if (end == 0) return 0;
    std::int32_t count = 0;
    for (std::uint32_t at = end; at; at = grid.search.pool[at - 1].from) ++count;
    out.resize(static_cast<std::size_t>(count));
    std::int32_t slot = count;
    for (std::uint32_t at = end; at; at = grid.search.pool[at - 1].from) out[static_cast<std::size_t>(--slot)] = grid.search.pool[at - 1].id();
    return count;
}
