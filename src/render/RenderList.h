// The render list: the render objects of the contexts that take part in
// frames and the two render queues they fill each frame. While its locked
// flag is set (a render pass walks it), render objects are neither created
// nor released and no model, particle, sprite or scene is pushed or popped.
//
// A render queue holds buckets sorted by ascending key, each a run of draw
// items sorted by ascending sort depth. Queue 1 is drawn first, each bucket
// from its first item to its last (near to far); queue 0 second, each
// bucket from its last item to its first (far to near). At the start of a
// frame every bucket is emptied; buckets and their memory are kept.
#pragma once

#include <cstdint>
#include <vector>

#include "model/ObjectContext.h"

struct RenderBucket {
    std::int32_t key = 0;
    std::vector<DrawItem> items;
};

class RenderQueue {
public:
    // Depths closer than 1 / kDepthPrecision count as equal; a new item
    // equal to one already there goes before it.
    static constexpr float kDepthPrecision = 10000.0f;

    // The item into the bucket of key (made when missing), at its depth.
    void insert(std::int32_t key, const DrawItem& item);
    // Every bucket's item count to 0; the buckets stay.
    void clear();
    void free();

    std::vector<RenderBucket> buckets;
};

class RenderList {
public:
    static constexpr std::uint32_t FlagLocked = 0x1;

    bool locked() const { return (flags & FlagLocked) != 0; }
    // Links a render object at the head; unlinks one (a render object of
    // another list, or none, is left alone).
    void link(RenderObject& object);
    void unlink(RenderObject& object);
    // Empties both queues.
    void clearQueues();
    void freeQueues();

    std::uint32_t flags = 0;
    RenderObject* head = nullptr;
    RenderQueue queues[2];
};

// Holds the render list locked for a pass and puts the flag back after it.
class RenderListLock {
public:
    explicit RenderListLock(RenderList& list) : list_(list), was_(list.flags & RenderList::FlagLocked) {
        list_.flags |= RenderList::FlagLocked;
    }
    ~RenderListLock() { list_.flags = (list_.flags & ~RenderList::FlagLocked) | was_; }
    RenderListLock(const RenderListLock&) = delete;
    RenderListLock& operator=(const RenderListLock&) = delete;

private:
    RenderList& list_;
    std::uint32_t was_;
};
