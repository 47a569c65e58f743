#include "model/RecordArray.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/DataStream.h"

void RecordArray::release() {
    std::free(data);
    data = nullptr;
    capacity = count = 0;
}

bool reserveRecords(RecordArray& array, std::int32_t recordSize, std::int32_t needed) {
    if (needed <= array.capacity) return true;
    if (recordSize <= 0) return false;
    std::int64_t capacity = array.capacity > 0 ? array.capacity : 1;
    while (capacity < needed) capacity *= 2;
    if (capacity * recordSize > INT32_MAX) return false;
    const std::size_t bytes = std::size_t(capacity) * std::size_t(recordSize);
    auto* block = static_cast<std::uint8_t*>(std::malloc(bytes));
    if (!block) return false;
    if (array.count > 0) std::memcpy(block, array.data, std::size_t(array.count) * std::size_t(recordSize));
    std::free(array.data);
    array.data = block;
    array.capacity = static_cast<std::int32_t>(capacity);
    return true;
}

std::int32_t appendRecordGrowing(RecordArray& array, std::int32_t recordSize) {
    if (array.count == INT32_MAX || !reserveRecords(array, recordSize, array.count + 1)) return -1;
    return appendRecord(array, recordSize);
}

std::int32_t readRecordArray(DataStream& s, RecordArray& array, std::int32_t recordSize) {
    array.release();
    std::int32_t count = 0;
    const std::int32_t head = readI32(s, count);
    if (head < 0) return head;
    if (count == 0) return head;
    // The count comes from the file: nothing is allocated beyond what the
    // stream can still fill.
    if (count < 0 || recordSize <= 0) return -1;
    const std::int64_t bytes = std::int64_t(count) * recordSize;
    if (bytes > bytesLeft(s)) return -1;
    // Every byte is read or the block is dropped: no zero-fill needed.
    auto* block = static_cast<std::uint8_t*>(std::malloc(std::size_t(bytes)));
    if (!block) return -1;
    const std::int32_t body = readExact(s, block, static_cast<std::int32_t>(bytes));
    if (body < 0) {
        std::free(block);
        return body;
    }
    array.data = block;
    array.capacity = array.count = count;
    return head + body;
}

std::int32_t writeRecordArray(DataStream& s, const RecordArray& array, std::int32_t recordSize) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(s, array.count))) return total;
    const std::int64_t bytes = std::int64_t(array.count) * recordSize;
    if (bytes > INT32_MAX) return -1;
    addField(total, s.write(array.data, static_cast<std::int32_t>(bytes)));
    return total;
}

std::int32_t readArray20(DataStream& s, RecordArray& array) { return readArrayOf<20>(s, array); }
std::int32_t readArray24(DataStream& s, RecordArray& array) { return readArrayOf<24>(s, array); }
std::int32_t readArray28(DataStream& s, RecordArray& array) { return readArrayOf<28>(s, array); }
std::int32_t readArray32(DataStream& s, RecordArray& array) { return readArrayOf<32>(s, array); }
std::int32_t readArray36(DataStream& s, RecordArray& array) { return readArrayOf<36>(s, array); }
std::int32_t readArray40(DataStream& s, RecordArray& array) { return readArrayOf<40>(s, array); }
std::int32_t readArray44(DataStream& s, RecordArray& array) { return readArrayOf<44>(s, array); }
std::int32_t readArray48(DataStream& s, RecordArray& array) { return readArrayOf<48>(s, array); }
std::int32_t readArray52(DataStream& s, RecordArray& array) { return readArrayOf<52>(s, array); }
std::int32_t readArray56(DataStream& s, RecordArray& array) { return readArrayOf<56>(s, array); }
std::int32_t readArray60(DataStream& s, RecordArray& array) { return readArrayOf<60>(s, array); }
std::int32_t readArray64(DataStream& s, RecordArray& array) { return readArrayOf<64>(s, array); }
std::int32_t readArray68(DataStream& s, RecordArray& array) { return readArrayOf<68>(s, array); }
std::int32_t readArray72(DataStream& s, RecordArray& array) { return readArrayOf<72>(s, array); }
std::int32_t readArray76(DataStream& s, RecordArray& array) { return readArrayOf<76>(s, array); }
std::int32_t readArray80(DataStream& s, RecordArray& array) { return readArrayOf<80>(s, array); }
std::int32_t readArray84(DataStream& s, RecordArray& array) { return readArrayOf<84>(s, array); }
