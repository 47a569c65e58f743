#include "render/RenderList.h"

#include <new>

void RenderQueue::insert(std::int32_t key, const DrawItem& item) {
    try {
        std::size_t low = 0, high = buckets.size();
        while (low < high) {
            const std::size_t mid = (low + high) / 2;
            if (buckets[mid].key < key) low = mid + 1;
            else high = mid;
        }
        if (low == buckets.size() || buckets[low].key != key) {
            RenderBucket made;
            made.key = key;
            buckets.insert(buckets.begin() + std::ptrdiff_t(low), std::move(made));
        }
        std::vector<DrawItem>& items = buckets[low].items;
        std::size_t first = 0, last = items.size();
        while (first < last) {
            const std::size_t mid = (first + last) / 2;
            const auto order = static_cast<std::int32_t>((items[mid].sortDepth - item.sortDepth) * kDepthPrecision);
            if (order == 0) {
                first = mid;
                break;
            }
            if (order < 0) first = mid + 1;
            else last = mid;
        }
        items.insert(items.begin() + std::ptrdiff_t(first), item);
    } catch (const std::bad_alloc&) {
        // A queue that cannot grow drops the item; the frame goes on.
    }
}

void RenderQueue::clear() {
    for (RenderBucket& bucket : buckets) bucket.items.clear();
}

void RenderQueue::free() { std::vector<RenderBucket>().swap(buckets); }

void RenderList::link(RenderObject& object) {
    if (object.list) return;
    object.previous = nullptr;
    object.next = head;
    if (head) head->previous = &object;
    head = &object;
    object.list = this;
}

void RenderList::unlink(RenderObject& object) {
    if (object.list != this) return;
    if (object.previous) object.previous->next = object.next;
    else head = object.next;
    if (object.next) object.next->previous = object.previous;
    object.next = object.previous = nullptr;
    object.list = nullptr;
}

void RenderList::clearQueues() {
    for (RenderQueue& queue : queues) queue.clear();
}

void RenderList::freeQueues() {
    for (RenderQueue& queue : queues) queue.free();
}
