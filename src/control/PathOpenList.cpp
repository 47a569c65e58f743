#include "control/PathOpenList.h"

#include <algorithm>

namespace {

// Orders the heap by lowest total first.
struct Later {
    bool operator()(const PathSearchWorkspace::HeapEntry& a, const PathSearchWorkspace::HeapEntry& b) const {
        return a.total > b.total;
    }
};
constexpr Later later{};

}  // namespace

PathOpenList::PathOpenList(PathSearchWorkspace& ws)
    : ws_(ws), freeCount_(static_cast<std::uint32_t>(ws.freeBuckets.size())) {}

PathOpenList::~PathOpenList() {
    // The buckets still in the heap go back to the free stack and leave the
    // table empty, so the next list starts from a clean workspace.
    for (std::uint32_t i = 0; i < heapCount_; ++i) {
        const std::uint32_t bucket = ws_.heap[i].bucket;
        if (ws_.buckets[bucket].head) tableErase(tableFind(ws_.buckets[bucket].total));
        ws_.freeBuckets[freeCount_++] = bucket;
    }
}

std::uint32_t PathOpenList::tableFind(std::int32_t total) const {
    std::uint32_t slot = static_cast<std::uint32_t>(total) & ws_.tableMask;
    while (true) {
        const std::uint32_t entry = ws_.table[slot];
        if (entry == 0 || ws_.buckets[entry - 1].total == total) return slot;
        slot = (slot + 1) & ws_.tableMask;
    }
}

void PathOpenList::tableErase(std::uint32_t slot) {
    const auto home = [&](std::uint32_t entry) {
        return static_cast<std::uint32_t>(ws_.buckets[entry - 1].total) & ws_.tableMask;
    };
    if (home(ws_.table[slot]) != slot) --ws_.displaced;
    // With every entry at its home slot nothing needs to move (the totals of
    // the list lie near each other, so this is the usual case).
    if (ws_.displaced == 0) {
        ws_.table[slot] = 0;
        return;
    }
    std::uint32_t hole = slot;
    std::uint32_t next = slot;
    while (true) {
        next = (next + 1) & ws_.tableMask;
        const std::uint32_t entry = ws_.table[next];
        if (entry == 0) break;
        const std::uint32_t at = home(entry);
        // The entry may fill the hole unless its home lies cyclically in (hole, next].
        const bool stays = hole <= next ? (at > hole && at <= next) : (at > hole || at <= next);
        if (!stays) {
            ws_.table[hole] = entry;
            if (at == hole) --ws_.displaced;
            hole = next;
        }
    }
    ws_.table[hole] = 0;
}

void PathOpenList::dropEmptyBuckets() {
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < heapCount_; ++i) {
        const PathSearchWorkspace::HeapEntry entry = ws_.heap[i];
        if (ws_.buckets[entry.bucket].head)
            ws_.heap[kept++] = entry;
        else
            ws_.freeBuckets[freeCount_++] = entry.bucket;
    }
    heapCount_ = kept;
    std::make_heap(ws_.heap.begin(), ws_.heap.begin() + heapCount_, later);
}

void PathOpenList::insert(std::uint32_t index) {
    PathRecord& r = rec(index);
    ++openCount_;
    std::uint32_t slot = tableFind(r.total);
    std::uint32_t bucket = ws_.table[slot];
    if (bucket) {
        // Directly after the first record of that total.
        PathRecord& head = rec(ws_.buckets[bucket - 1].head - 1);
        r.prev = ws_.buckets[bucket - 1].head;
        r.next = head.next;
        if (head.next) rec(head.next - 1).prev = index + 1;
        head.next = index + 1;
        r.bucket = bucket;
        return;
    }
    if (freeCount_ == 0) {
        dropEmptyBuckets();
        slot = tableFind(r.total);
    }
    bucket = ws_.freeBuckets[--freeCount_] + 1;
    PathBucket& b = ws_.buckets[bucket - 1];
    b.total = r.total;
    b.head = index + 1;
    ws_.table[slot] = bucket;
    if ((static_cast<std::uint32_t>(r.total) & ws_.tableMask) != slot) ++ws_.displaced;
    ws_.heap[heapCount_++] = {r.total, bucket - 1};
    std::push_heap(ws_.heap.begin(), ws_.heap.begin() + heapCount_, later);
    r.prev = r.next = 0;
    r.bucket = bucket;
}

void PathOpenList::remove(std::uint32_t index) {
    PathRecord& r = rec(index);
    PathBucket& b = ws_.buckets[r.bucket - 1];
    if (r.prev)
        rec(r.prev - 1).next = r.next;
    else
        b.head = r.next;
    if (r.next) rec(r.next - 1).prev = r.prev;
    // An emptied bucket leaves the table at once; its heap entry is dropped
    // when it reaches the top.
    if (b.head == 0) tableErase(tableFind(b.total));
    r.bucket = 0;
    r.prev = r.next = 0;
    --openCount_;
}

std::uint32_t PathOpenList::pop() {
    while (true) {
        const std::uint32_t bucket = ws_.heap[0].bucket;
        const std::uint32_t head = ws_.buckets[bucket].head;
        if (head) {
            remove(head - 1);
            if (ws_.buckets[bucket].head) return head - 1;
        }
        std::pop_heap(ws_.heap.begin(), ws_.heap.begin() + heapCount_, later);
        --heapCount_;
        ws_.freeBuckets[freeCount_++] = bucket;
        if (head) return head - 1;
    }
}
