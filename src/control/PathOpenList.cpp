#include "control/PathOpenList.h"

PathOpenList::PathOpenList(PathSearchWorkspace& ws)
    : ws_(ws), freeCount_(static_cast<std::uint32_t>(ws.freeBuckets.size())) {}

PathOpenList::~PathOpenList() {
    // The buckets still open go back to the table's empty state and the
    // free stack, so the next list starts from a clean workspace.
    while (heapCount_ > 0) {
        const std::uint32_t bucket = ws_.heap[--heapCount_].bucket;
        tableErase(tableFind(ws_.buckets[bucket].total));
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
    // With every entry at its home slot nothing needs to move (totals are
    // mostly near each other, so this is the usual case).
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

void PathOpenList::heapPlace(std::uint32_t slot, PathSearchWorkspace::HeapEntry entry) {
    ws_.heap[slot] = entry;
    ws_.buckets[entry.bucket].heapSlot = slot;
}

void PathOpenList::heapUp(std::uint32_t slot) {
    const PathSearchWorkspace::HeapEntry entry = ws_.heap[slot];
    while (slot > 0) {
        const std::uint32_t parent = (slot - 1) / 2;
        if (ws_.heap[parent].total <= entry.total) break;
        heapPlace(slot, ws_.heap[parent]);
        slot = parent;
    }
    heapPlace(slot, entry);
}

void PathOpenList::heapDown(std::uint32_t slot) {
    const PathSearchWorkspace::HeapEntry entry = ws_.heap[slot];
    while (true) {
        std::uint32_t child = 2 * slot + 1;
        if (child >= heapCount_) break;
        if (child + 1 < heapCount_ && ws_.heap[child + 1].total < ws_.heap[child].total) ++child;
        if (ws_.heap[child].total >= entry.total) break;
        heapPlace(slot, ws_.heap[child]);
        slot = child;
    }
    heapPlace(slot, entry);
}

void PathOpenList::heapRemove(std::uint32_t slot) {
    --heapCount_;
    if (slot == heapCount_) return;
    const PathSearchWorkspace::HeapEntry moved = ws_.heap[heapCount_];
    heapPlace(slot, moved);
    heapUp(slot);
    if (ws_.buckets[moved.bucket].heapSlot == slot) heapDown(slot);
}

void PathOpenList::insert(std::uint32_t index) {
    PathRecord& r = rec(index);
    const std::uint32_t slot = tableFind(r.total);
    std::uint32_t bucket = ws_.table[slot];
    if (bucket == 0) {
        bucket = ws_.freeBuckets[--freeCount_] + 1;
        PathBucket& b = ws_.buckets[bucket - 1];
        b.total = r.total;
        b.head = index + 1;
        ws_.table[slot] = bucket;
        if ((static_cast<std::uint32_t>(r.total) & ws_.tableMask) != slot) ++ws_.displaced;
        heapPlace(heapCount_, {r.total, bucket - 1});
        heapUp(heapCount_++);
        r.prev = r.next = 0u;
    } else {
        // Directly after the first record of that total.
        PathRecord& head = rec(ws_.buckets[bucket - 1].head - 1);
        r.prev = ws_.buckets[bucket - 1].head;
        r.next = head.next;
        if (head.next) rec(head.next - 1).prev = index + 1;
        head.next = index + 1;
    }
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
    if (b.head == 0) {
        heapRemove(b.heapSlot);
        tableErase(tableFind(b.total));
        ws_.freeBuckets[freeCount_++] = r.bucket - 1;
    }
    r.bucket = 0;
    r.prev = r.next = 0u;
}

std::uint32_t PathOpenList::pop() {
    const std::uint32_t index = ws_.buckets[ws_.heap[0].bucket].head - 1;
    remove(index);
    return index;
}

