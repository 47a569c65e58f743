// The engine's growable array of pointers: data, capacity and count.
//
// It grows by doubling (from at least one slot), removes an element by moving
// the last one into its place, and owns only its buffer, never the pointed-to
// objects. release() frees the buffer and zeroes pointer, capacity and count.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

template <class T>
class PointerArray {
public:
    constexpr PointerArray() = default;
    ~PointerArray() { release(); }
    PointerArray(const PointerArray&) = delete;
    PointerArray& operator=(const PointerArray&) = delete;

    std::uint32_t count() const { return count_; }
    std::uint32_t capacity() const { return capacity_; }
    bool empty() const { return count_ == 0; }
    T** data() { return data_; }
    T* operator[](std::uint32_t index) const { return data_[index]; }
    T*& operator[](std::uint32_t index) { return data_[index]; }

    // Appends an item; false when the buffer cannot grow.
    bool append(T* item) { return insertAt(count_, item); }

    // Inserts an item at index (at most count), moving the tail up one.
    bool insertAt(std::uint32_t index, T* item) {
        if (index > count_ || !reserve(count_ + 1)) return false;
        if (index < count_) std::memmove(data_ + index + 1, data_ + index, (count_ - index) * sizeof(T*));
        data_[index] = item;
        ++count_;
        return true;
    }

    // Removes the entry at index by moving the last entry into its place.
    void removeAt(std::uint32_t index) {
        if (index >= count_) return;
        data_[index] = data_[count_ - 1];
        data_[--count_] = nullptr;
    }

    // Position of an item, -1 when absent.
    std::int32_t indexOf(const T* item) const {
        for (std::uint32_t i = 0; i < count_; ++i)
            if (data_[i] == item) return static_cast<std::int32_t>(i);
        return -1;
    }

    // Makes room for at least needed entries, doubling the capacity.
    bool reserve(std::uint32_t needed) {
        if (needed <= capacity_) return true;
        std::uint32_t capacity = capacity_ ? capacity_ : 1;
        while (capacity < needed) {
            if (capacity > 0x7FFFFFFFu / sizeof(T*)) return false;
            capacity *= 2;
        }
        void* grown = std::realloc(data_, capacity * sizeof(T*));
        if (!grown) return false;
        data_ = static_cast<T**>(grown);
        std::memset(data_ + capacity_, 0, (capacity - capacity_) * sizeof(T*));
        capacity_ = capacity;
        return true;
    }

    // Empties the array and keeps its buffer.
    void clear() {
        if (count_) std::memset(data_, 0, count_ * sizeof(T*));
        count_ = 0;
    }

    // Frees the buffer; pointer, capacity and count become 0.
    void release() {
        std::free(data_);
        data_ = nullptr;
        capacity_ = 0;
        count_ = 0;
    }

private:
    T** data_ = nullptr;
    std::uint32_t capacity_ = 0;
    std::uint32_t count_ = 0;
};
