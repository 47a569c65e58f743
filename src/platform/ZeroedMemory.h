// Memory that starts zeroed without being written: an allocator over calloc
// whose value construction does nothing, so a container made with n
// elements leaves them as calloc's zero bytes. A large block comes from
// fresh pages that cost nothing until touched: a dense table that stays
// mostly empty, or a copy of a resource that only some uses ever write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace platform {

template <typename T>
struct ZeroedAllocator {
    using value_type = T;
    ZeroedAllocator() = default;
    template <typename U>
    ZeroedAllocator(const ZeroedAllocator<U>&) {}
    T* allocate(std::size_t count) {
        if (void* memory = std::calloc(count, sizeof(T))) return static_cast<T*>(memory);
        throw std::bad_alloc();
    }
    void deallocate(T* memory, std::size_t) { std::free(memory); }
    // An element made without a value is the calloc's zero. Only a fresh
    // container's elements are: one that shrank and grew again within its
    // capacity keeps the old values, so these containers are made anew
    // (ZeroedBytes(n)) rather than resized.
    template <typename U>
    void construct(U*) {}
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const ZeroedAllocator<U>&) const { return true; }
};

// Bytes that start zero and cost no page until touched.
using ZeroedBytes = std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>>;

}  // namespace platform
