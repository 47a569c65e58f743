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

// A cell reached by a step: its row and index in the row, its data and its
// record's index in the pool.
struct Node {
    std::int32_t row = -1;
    std::int32_t cell = 0;
    const GridCell* data = nullptr;
    std::uint32_t index = 0;
    explicit operator bool() const { return row >= 0; }
    bool operator==(const Node& other) const { return row == other.row && cell == other.cell; }
};

class Search {
public:
    Search(Y3GridData& grid, PathSearchWorkspace& ws) : grid_(grid), ws_(ws), open_(ws) {}

    Node at(std::int32_t row, std::int32_t cell) const {
        return Node{row, cell, grid_.rows[static_cast<std::size_t>(row)].cells.data() + cell,
                    ws_.rowStart[static_cast<std::size_t>(row)] + static_cast<std::uint32_t>(cell)};
    }
    static Node unblocked(const Node& n) { return (n.data->height & kGridBlockedBit) ? Node{} : n; }
    // The neighbour steps on validated data (the links and nibbles name cells).
    Node nextRow(const Node& n) const {
        const std::uint16_t link = n.data->nextLink;
        return link == kGridNoLink ? Node{} : unblocked(at(n.row + 1, link));
    }
    Node prevRow(const Node& n) const {
        const std::uint16_t link = n.data->prevLink;
        return link == kGridNoLink ? Node{} : unblocked(at(n.row - 1, link));
    }
    Node back(const Node& n) const {
        const std::int32_t k = n.data->side >> 4;
        return k == 0 ? Node{} : unblocked(Node{n.row, n.cell - k, n.data - k, n.index - std::uint32_t(k)});
    }
    Node forward(const Node& n) const {
        const std::int32_t k = n.data->side & 0x0F;
        return k == 0 ? Node{} : unblocked(Node{n.row, n.cell + k, n.data + k, n.index + std::uint32_t(k)});
    }

    PathRecord& rec(std::uint32_t index) { return ws_.pool[index]; }

    std::int32_t estimate(const Node& n) const { return gridEstimate(n.data->column, n.row, goalColumn_, goal_.row); }
    void makeRecord(std::uint32_t index, const Node& n, std::uint32_t from, std::int32_t cost, std::int32_t total) {
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
    void process(std::uint32_t current, std::int32_t currentCost, const Node& n, std::int32_t step) {
        const std::int32_t cost = currentCost + step;
        const std::int32_t total = cost + estimate(n);
        PathRecord& r = rec(n.index);
        if (r.stamp != ws_.generation) {
            makeRecord(n.index, n, current + 1, cost, total);
            open_.insert(n.index);
            return;
        }
        if (r.total <= total) return;
        r.total = total;
        r.cost = cost;
        r.from = current + 1;
        if (r.bucket) open_.remove(n.index);
        open_.insert(n.index);
    }
    void expand(std::uint32_t current) {
        const Node k = at(rec(current).row, rec(current).cell);
        const std::int32_t c = rec(current).cost;
        const Node n = nextRow(k);
        const Node p = prevRow(k);
        const Node b = back(k);
        const Node f = forward(k);
        Node d1, d2, d3, d4;
        if (n) {
            process(current, c, n, 10);
            if (b && (d1 = back(n))) process(current, c, d1, 11);
            if (f && (d2 = forward(n))) process(current, c, d2, 11);
        }
        if (p) {
            process(current, c, p, 10);
            if (b && (d3 = back(p))) process(current, c, d3, 11);
            if (f && (d4 = forward(p))) process(current, c, d4, 11);
        }
        if (b) {
            process(current, c, b, 10);
            Node e;
            if (n && (e = nextRow(b)) && !(e == d1)) process(current, c, e, 11);
            if (p && (e = prevRow(b)) && !(e == d3)) process(current, c, e, 11);
        }
        if (f) {
            process(current, c, f, 10);
            Node e;
            if (n && (e = nextRow(f)) && !(e == d2)) process(current, c, e, 11);
            if (p && (e = prevRow(f)) && !(e == d4)) process(current, c, e, 11);
        }
    }

    // The record the search ends with, pool index + 1 (0: none).
    std::uint32_t run(std::int32_t startRow, std::int32_t startCell, std::int32_t goalRow, std::int32_t goalCell,
                      std::int32_t limitCells) {
        const Node start = at(startRow, startCell);
        const Node goal = at(goalRow, goalCell);
        goal_ = goal;
        goalColumn_ = goal.data->column;
        const float goalHeight = grid_.cellHeight(*goal.data);
        ws_.count = 0;
        ws_.expanded = 0;
        if (++ws_.generation == 0) {
            for (PathRecord& r : ws_.pool) r.stamp = 0;
            ws_.generation = 1;
        }
        makeRecord(start.index, start, 0, 0, estimate(start));
        open_.insert(start.index);
        std::uint32_t best = 0;
        std::int32_t bestEstimate = 0;
        while (!open_.empty()) {
            const std::uint32_t current = open_.pop();
            const PathRecord& r = rec(current);
            if (current == goal.index) return current + 1;
            // The best record: a lower estimate, on a cell within 1.5 of the goal's height.
            const std::int32_t own = r.total - r.cost;
            if (best == 0 ||
                (own < bestEstimate && std::fabs(grid_.cellHeight(*at(r.row, r.cell).data) - goalHeight) < 1.5f)) {
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
    std::int32_t fromRow, fromCell, toRow, toCell;
    if (!grid.decode(start, fromRow, fromCell) || !grid.decode(goal, toRow, toCell)) {
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
    const std::uint32_t end = search.run(fromRow, fromCell, toRow, toCell, limitCells);
    if (end == 0) return 0;
    std::int32_t count = 0;
    for (std::uint32_t at = end; at; at = grid.search.pool[at - 1].from) ++count;
    out.resize(static_cast<std::size_t>(count));
    std::int32_t slot = count;
    for (std::uint32_t at = end; at; at = grid.search.pool[at - 1].from)
        out[static_cast<std::size_t>(--slot)] = grid.search.pool[at - 1].id();
    return count;
}
