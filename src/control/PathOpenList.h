// The open list of the path search, over the records of a grid's search
// workspace. Its order is that of a list sorted by ascending total where a
// record of a total already present goes directly after the first record of
// that total (ahead of any later ones), and a new lowest total becomes the
// head. Kept as a bucket per total (a linked list whose head is the first
// record of the total), a heap of the buckets' totals (an emptied bucket
// leaves it when it reaches the top) and a table from a total to its
// bucket, all in the workspace: nothing is allocated.
#pragma once

#include <cstdint>

#include "control/Y3GridData.h"

// Sizes the grid's workspace for its cells + 1 records; false (logged,
// workspace emptied) when the memory cannot be had.
bool reservePathWorkspace(Y3GridData& grid);

class PathOpenList {
public:
    // An empty list over a reserved workspace.
    explicit PathOpenList(PathSearchWorkspace& ws);
    // Hands the buckets still open back to the workspace.
    ~PathOpenList();
    PathOpenList(const PathOpenList&) = delete;
    PathOpenList& operator=(const PathOpenList&) = delete;

    bool empty() const { return openCount_ == 0; }
    // Inserts the record (pool index) by its total.
    void insert(std::uint32_t index);
    // Takes an open record out of the list.
    void remove(std::uint32_t index);
    // Takes the head (lowest total, first of its total) off the list.
    std::uint32_t pop();

private:
    std::uint32_t tableFind(std::int32_t total) const;
    void tableErase(std::uint32_t slot);
    // Frees the buckets that were emptied but are still in the heap.
    void dropEmptyBuckets();
    PathRecord& rec(std::uint32_t index) { return ws_.pool[index]; }

    PathSearchWorkspace& ws_;
    std::uint32_t heapCount_ = 0;
    std::uint32_t freeCount_ = 0;
    std::uint32_t openCount_ = 0;
};
