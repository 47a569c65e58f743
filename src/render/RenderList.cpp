#include "render/RenderList.h"

void RenderList::push(ObjectContext* context, const char* name) {
    if (!context) return;
    chain.push_back(RenderListEntry{context, name ? name : "", false});
}

void RenderList::pop(ObjectContext* context) {
    for (auto it = chain.begin(); it != chain.end(); ++it) {
        if (it->context != context) continue;
        if (walking > 0) it->context = nullptr;
        else chain.erase(it);
        return;
    }
}

void RenderList::compact() {
    if (walking > 0) return;
    chain.remove_if([](const RenderListEntry& entry) { return entry.context == nullptr; });
}

void RenderList::clearGroups() {
    for (auto& bucket : buckets)
        for (RenderGroup& group : bucket) group.items.clear();
}

RenderGroup& RenderList::group(std::int32_t bucket, std::size_t index) {
    std::vector<RenderGroup>& groups = buckets[bucket ? 1 : 0];
    if (groups.size() <= index) groups.resize(index + 1);
    return groups[index];
}

void RenderList::freeBuckets() {
    for (auto& bucket : buckets) std::vector<RenderGroup>().swap(bucket);
}
