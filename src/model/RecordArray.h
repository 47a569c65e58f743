// The engine's growable array of fixed-size records, and the readers of
// counted record arrays in files.
//
// A record array is a block of plain records from the heap (zero-filled
// when allocated), its capacity and its count in records. It is a plain
// header: it owns its block, but whoever holds it frees the block with
// release() (records holding arrays are moved byte-wise).
//
// A counted array in a file is a signed 32-bit count n followed by n raw
// records. The readers readArray20 ... readArray84 read one for each record
// size from 20 to 84 bytes in steps of 4; the vertex streams read their
// vertices with the reader of their stride, and other data (grids, scene
// records, smoothing stages) read their own arrays with them.
#pragma once

#include <cstdint>
#include <cstring>

class DataStream;

struct RecordArray {
    std::uint8_t* data = nullptr;
    std::int32_t capacity = 0;
    std::int32_t count = 0;

    // Frees the block; pointer, capacity and count become empty.
    void release();
    template <class T>
    T* as() const {
        return reinterpret_cast<T*>(data);
    }
};

// Makes room for at least needed records of recordSize bytes: the capacity
// starts at the old one (at least 1) and doubles until it holds needed; the
// new block takes the old records (the room after them is not cleared).
// False, the array unchanged, when the block cannot be allocated or its
// size overflows.
bool reserveRecords(RecordArray& array, std::int32_t recordSize, std::int32_t needed);

// Adds one zero record at the end, growing as reserveRecords; the index of
// the new record, or -1 when the array cannot grow.
std::int32_t appendRecordGrowing(RecordArray& array, std::int32_t recordSize);
inline std::int32_t appendRecord(RecordArray& array, std::int32_t recordSize) {
    if (array.count >= array.capacity) return appendRecordGrowing(array, recordSize);
    std::memset(array.data + std::size_t(array.count) * std::size_t(recordSize), 0, std::size_t(recordSize));
    return array.count++;
}
// The same for a record size known at compile time: the new record is
// cleared with a few wide stores (the vertex streams append this way).
template <std::int32_t Size>
std::int32_t appendRecordOf(RecordArray& array) {
    if (array.count >= array.capacity) return appendRecordGrowing(array, Size);
    struct Zero {
        std::uint8_t bytes[Size];
    };
    static constexpr Zero kZero{};
    std::memcpy(array.data + std::size_t(array.count) * std::size_t(Size), &kZero, std::size_t(Size));
    return array.count++;
}

// Reads a counted array of recordSize-byte records, replacing the array's
// records. Returns 4 + the record bytes read, or a negative value: the
// stream's own failure, a negative count, a count whose records are more
// than the stream still holds, a block that cannot be allocated, or a short
// read. After a failure the array is empty.
std::int32_t readRecordArray(DataStream& s, RecordArray& array, std::int32_t recordSize);

// Writes the count and the records: 4 + the record bytes, or the first
// negative result.
std::int32_t writeRecordArray(DataStream& s, const RecordArray& array, std::int32_t recordSize);

// The readers by record size, all readRecordArray with a fixed size.
template <std::int32_t Size>
std::int32_t readArrayOf(DataStream& s, RecordArray& array) {
    static_assert(Size >= 20 && Size <= 84 && Size % 4 == 0, "the readers cover 20 to 84 bytes");
    return readRecordArray(s, array, Size);
}

std::int32_t readArray20(DataStream& s, RecordArray& array);
std::int32_t readArray24(DataStream& s, RecordArray& array);
std::int32_t readArray28(DataStream& s, RecordArray& array);
std::int32_t readArray32(DataStream& s, RecordArray& array);
std::int32_t readArray36(DataStream& s, RecordArray& array);
std::int32_t readArray40(DataStream& s, RecordArray& array);
std::int32_t readArray44(DataStream& s, RecordArray& array);
std::int32_t readArray48(DataStream& s, RecordArray& array);
std::int32_t readArray52(DataStream& s, RecordArray& array);
std::int32_t readArray56(DataStream& s, RecordArray& array);
std::int32_t readArray60(DataStream& s, RecordArray& array);
std::int32_t readArray64(DataStream& s, RecordArray& array);
std::int32_t readArray68(DataStream& s, RecordArray& array);
std::int32_t readArray72(DataStream& s, RecordArray& array);
std::int32_t readArray76(DataStream& s, RecordArray& array);
std::int32_t readArray80(DataStream& s, RecordArray& array);
std::int32_t readArray84(DataStream& s, RecordArray& array);
