#include "model/SharedRecords.h"

#include <climits>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Matrix.h"

MatrixWithInverse& MatrixWithInverse::setIdentity() {
    position[0] = position[1] = position[2] = 0.0f;
    matrix = matrix34Identity();
    for (int i = 0; i < 3; ++i)
        if (position[i] != matrix.m[9 + i]) position[i] = matrix.m[9 + i];
    matrix34Inverse(matrix, inverse);
    return *this;
}

namespace {

std::int32_t searchNamed(const RecordArray& array, const char* name, bool& found) {
    return searchRecordsByName<NamedRecord>(array, name, found);
}

}  // namespace

NamedRecord* findOrInsertNamedRecord(RecordArray& array, const char* name) {
    // An empty name would never match and add a record at every call.
    if (!name || !*name) return nullptr;
    NamedRecord fresh{};
    std::strncpy(fresh.name, name, kNamedRecordNameLength);
    bool found = false;
    const std::int32_t at = searchNamed(array, fresh.name, found);
    if (found) return array.as<NamedRecord>() + at;
    if (array.count == INT32_MAX ||
        !reserveRecords(array, static_cast<std::int32_t>(sizeof(NamedRecord)), array.count + 1))
        return nullptr;
    NamedRecord* records = array.as<NamedRecord>();
    std::memmove(records + at + 1, records + at, sizeof(NamedRecord) * std::size_t(array.count - at));
    records[at] = fresh;
    ++array.count;
    return records + at;
}

NamedRecord* findNamedRecord(const RecordArray& array, const char* name) {
    if (!name || !*name) return nullptr;
    char key[kNamedRecordNameLength + 1] = {};
    std::strncpy(key, name, kNamedRecordNameLength);
    bool found = false;
    const std::int32_t at = searchNamed(array, key, found);
    return found ? array.as<NamedRecord>() + at : nullptr;
}

char* copyName512(char* buffer, const char* text) {
    std::memset(buffer, 0, 512);
    if (text) std::strncpy(buffer, text, 511);
    return buffer;
}

