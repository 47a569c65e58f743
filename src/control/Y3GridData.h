// The path-finding grid of a scene: horizontal rows of square cells, each
// with a height, a blocked bit and links to its neighbours, so that several
// walkable floors can lie above one another; its file form (the body of a
// model container of kind 2) and the path search over it.
//
// World axes: x and z are horizontal, y is up; rows run along z, columns
// along x. A node id names one cell everywhere: bits 0-15 row index + 1,
// bits 16-31 cell index within the row + 1, 0 for none.
//
// The links and side nibbles of a grid read from a file are checked to
// name existing cells, so the steps and the search never leave the rows.
// Only the blocked bits change after a grid is read.
#pragma once

#include <cstdint>
#include <vector>

class DataStream;

// One cell, 10 bytes, the same in memory and in the file.
struct GridCell {
    std::int16_t column = 0;     // absolute world column
    std::uint16_t height = 0;    // bits 0-14 height value, bit 15 blocked
    std::uint16_t prevLink = 0;  // index of the linked cell in row - 1, 0xFFFF none
    std::uint16_t nextLink = 0;  // index of the linked cell in row + 1, 0xFFFF none
    // High nibble: how many indexes back the column - 1 neighbour lies; low
    // nibble: how many forward the column + 1 neighbour lies; 0 none.
    std::uint8_t side = 0;
    std::uint8_t reserved = 0;  // kept, read by nothing
};
static_assert(sizeof(GridCell) == 10);

constexpr std::uint16_t kGridNoLink = 0xFFFF;
constexpr std::uint16_t kGridBlockedBit = 0x8000;
constexpr std::uint16_t kGridHeightMask = 0x7FFF;
// Node ids name at most this many rows and cells per row.
constexpr std::int32_t kGridMaxCount = 32767;

// The height factor: the float nearest 1/32767 (bits 0x38000100), not
// 1/32768; kept, stored heights are scaled by it.
constexpr float kGridHeightFactor = 3.0518509e-05f;

inline std::uint32_t gridNodeId(std::int32_t row, std::int32_t cell) {
    return static_cast<std::uint32_t>(row + 1) | static_cast<std::uint32_t>(cell + 1) << 16;
}

struct GridRow {
    std::vector<GridCell> cells;
};

// One node reached by a search. The pool holds one record per cell (its
// index is the cell's position in the grid, rows in order), so the record
// of a cell is also its visited entry: it belongs to the current search when
// its stamp is the search's generation.
struct PathRecord {
    std::uint32_t stamp = 0;
    std::uint32_t from = 0;  // pool index + 1 of the record reached from; 0 for the start
    std::int32_t cost = 0;   // tenths of a cell: 10 a straight step, 11 a diagonal one
    std::int32_t total = 0;  // cost + estimate
    std::uint32_t prev = 0;  // open-list neighbours within the record's total (pool index + 1)
    std::uint32_t next = 0;
    std::uint32_t bucket = 0;  // bucket index + 1 while open, 0 when closed
    std::int16_t row = 0;
    std::int16_t cell = 0;

    std::uint32_t id() const { return gridNodeId(row, cell); }
};

// The records of one total in the open list: the first record of the total
// stays first, each later one goes directly after it.
struct PathBucket {
    std::int32_t total = 0;
    std::uint32_t head = 0;  // pool index + 1; 0 once emptied
};

// Kept from one search to the next: sized at the first search, freed with
// the grid. A search after that allocates nothing but its output list.
struct PathSearchWorkspace {
    struct HeapEntry {
        std::int32_t total;
        std::uint32_t bucket;
    };
    std::vector<PathRecord> pool;
    std::int32_t limit = 0;       // tenths of a cell; 0 no limit
    std::uint32_t count = 0;      // records of the last search
    std::uint32_t expanded = 0;   // records it expanded
    std::uint32_t generation = 0; // stamp of the current search
    // The pool index of each row's first cell.
    std::vector<std::uint32_t> rowStart;
    // Open list: buckets of one total each, a heap of their totals and an
    // open-addressed table from a total to its bucket.
    std::vector<PathBucket> buckets;
    std::vector<std::uint32_t> freeBuckets;
    std::vector<HeapEntry> heap;
    std::vector<std::uint32_t> table;  // bucket index + 1, 0 empty; at the total's slot or after
    std::uint32_t tableMask = 0;
    std::uint32_t displaced = 0;  // entries not at their total's own slot

    bool reserved() const { return !pool.empty(); }
    void release();
};

class Y3GridData {
public:
    std::vector<GridRow> rows;
    PathSearchWorkspace search;
    float heightBase = 0.0f;
    float heightScale = 0.0f;
    std::int16_t originRow = 0;
    std::uint16_t reserved1 = 0;
    std::uint16_t reserved2 = 0;
    std::uint16_t reserved3 = 0;
    float cellSize = 1.0f;

    std::int32_t rowCount() const { return static_cast<std::int32_t>(rows.size()); }
    // The number of cells of every row.
    std::uint32_t cellCount() const;
    // Row and cell index of a valid id; false for 0 or an id outside the rows.
    bool decode(std::uint32_t id, std::int32_t& row, std::int32_t& cell) const;
    bool valid(std::uint32_t id) const {
        std::int32_t row, cell;
        return decode(id, row, cell);
    }
    // The cell of a valid id, or null.
    const GridCell* cellOf(std::uint32_t id) const;
    GridCell* cellOf(std::uint32_t id);

    // World column of x: trunc(x * (1 / cell size)), minus 1 when x < 0 (so
    // x = -cell size gives -2: kept, lookups depend on it); as 16 bits.
    std::int16_t columnOf(float x) const;
    // World row of z by the same rule (row index = row - origin row).
    std::int16_t rowOf(float z) const;
    // World height of a cell: value * scale * factor + base, in that order.
    float cellHeight(const GridCell& cell) const;
    // The centre of a cell: true and out written, false for an invalid id.
    bool cellPosition(std::uint32_t id, float* out) const;

    // Neighbour steps: the linked cell of the next or previous row, the
    // side neighbour on the column - 1 or + 1 side; 0 for an invalid id, no
    // neighbour or a blocked target.
    std::uint32_t stepNextRow(std::uint32_t id) const;
    std::uint32_t stepPrevRow(std::uint32_t id) const;
    std::uint32_t stepBack(std::uint32_t id) const;
    std::uint32_t stepForward(std::uint32_t id) const;

    // The cell under a world point: in the point's row and column, the
    // highest of the column's stacked cells lying below y + 0.5 (blocked
    // ones left out when skipBlocked); with a tolerance above 0 the cell must
    // also lie within it of y + 0.5. 0 when no cell qualifies.
    std::uint32_t findCell(const float* position, bool skipBlocked, float tolerance) const;
    // The unblocked cell nearest a point, searched in rings of equal
    // Manhattan distance around the point's cell and measured to each
    // cell's far corner. A cell behind the direction (when it is not zero)
    // or more than 0.25 above the point counts as 1e10 away, a fall-back
    // only; equal distances go to the cell examined later. The rings stop
    // at maxDistance (none when negative: then once they pass the grid).
    // 0 when the grid's row index 0 holds no cell.
    std::uint32_t findNearestCell(const float* position, const float* direction, float maxDistance) const;
    // The index of the first cell of a column in a row (by row index), or
    // -1 when the row holds none.
    std::int32_t firstCellOfColumn(std::int32_t row, std::int32_t column) const;

    // Sets or clears the blocked bit of every listed cell; ids that name no
    // cell are skipped.
    void setBlocked(const std::vector<std::uint32_t>& ids, bool blocked);

    // True when every link and side nibble names a cell of the row it
    // points into; otherwise logs the first fault (grid name, row, cell).
    bool checkLinks(const char* name) const;

    // Frees the rows and the search workspace.
    void release();
};

// Reads the grid body (the container's bytes from offset 60): bytes read or
// the first negative result. Counts that are negative, over 32,767 or more
// than the bytes left can hold, and links or nibbles that name no cell, are
// refused with -1 and a message naming the grid.
std::int32_t readGridData(Y3GridData& grid, DataStream& stream, const char* name = nullptr);
// Writes the same fields in the same order: bytes written or the first
// negative result.
std::int32_t writeGridData(DataStream& stream, const Y3GridData& grid);

// The eight-way search from start to goal. The output list is emptied and
// filled with the node ids from start to goal, or to the best node reached
// when the goal cannot be reached within the limit (maximum distance in
// world units; below one cell, 0 or negative: no limit). Returns the count
// written; 0 (logged) for an invalid start or goal or a workspace that
// cannot be allocated. Main thread only, one search at a time.
std::int32_t findPath(Y3GridData& grid, std::uint32_t start, std::uint32_t goal, std::vector<std::uint32_t>& out,
                      float maxDistance);

// The search's estimate between two cells: 11 * max + min of the column and
// row-index distances (it overestimates: kept, routes depend on it).
inline std::int32_t gridEstimate(std::int32_t column, std::int32_t row, std::int32_t goalColumn,
                                 std::int32_t goalRow) {
    const std::int32_t dc = column > goalColumn ? column - goalColumn : goalColumn - column;
    const std::int32_t dr = row > goalRow ? row - goalRow : goalRow - row;
    return dc > dr ? 11 * dc + dr : 11 * dr + dc;
}
