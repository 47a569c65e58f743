// The render list: the chain of object contexts that take part in frames
// and the two buckets of draw-item groups they fill each frame. Bucket 1 is
// drawn first, each group from its first item to its last; bucket 0 second,
// each group from its last item to its first. The chain and the buckets are
// guarded by the engine lock.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "model/ObjectContext.h"

struct RenderListEntry {
    ObjectContext* context = nullptr;
    std::string name;
    bool active = false;
};

struct RenderGroup {
    std::vector<DrawItem*> items;
};

class RenderList {
public:
    static constexpr std::uint32_t FlagDrawingScene = 0x1;

    // Adds a pushed context's entry; removes it when popped. A context
    // removed while a pass walks the chain leaves its entry without a
    // context until the walk ends.
    void push(ObjectContext* context, const char* name);
    void pop(ObjectContext* context);
    // Empties every group of both buckets (their count 0).
    void clearGroups();
    // The group of a bucket (0 or 1), made when missing.
    RenderGroup& group(std::int32_t bucket, std::size_t index);
    void freeBuckets();

    std::uint32_t flags = 0;
    std::list<RenderListEntry> chain;
    std::vector<RenderGroup> buckets[2];
    std::int32_t walking = 0;  // passes walking the chain now

    // Drops the entries left without a context (when no walk is under way).
    void compact();
};
