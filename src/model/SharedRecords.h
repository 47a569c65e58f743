// Small records that other subsystems share: the placement record with its
// inverse, the name-sorted arrays of named records, and the copy of a text
// into a 512-byte buffer.
#pragma once

#include <cstdint>
#include <cstring>

#include "foundation/Math.h"
#include "model/RecordArray.h"

class DataStream;

// A placement: the position, the 3-by-4 matrix (rows X, Y, Z axis, then
// translation) and its inverse, which the record's operations keep equal to
// the matrix's inverse.
struct MatrixWithInverse {
    float position[3] = {};
    Matrix34 matrix{};
    Matrix34 inverse{};

    // The origin with the identity orientation in all three parts.
    MatrixWithInverse& setIdentity();
};

// A record of a per-name list: its own record array (the caller's records,
// which the caller frees) and the name (at most 127 characters).
struct NamedRecord {
    RecordArray records;
    char name[128];
};

constexpr std::int32_t kNamedRecordNameLength = 127;

// Binary search of a RecordArray of records T kept sorted by their field
// name (unsigned byte order): the index of the equal record (found true)
// or of the place where the name belongs.
template <class T>
std::int32_t searchRecordsByName(const RecordArray& array, const char* name, bool& found) {
    const T* records = array.as<T>();
    std::int32_t low = 0;
    std::int32_t high = array.count;
    found = false;
    while (low < high) {
        const std::int32_t middle = (low + high) / 2;
        // strcmp compares as unsigned bytes.
        const int order = std::strcmp(name, records[middle].name);
        if (order == 0) {
            found = true;
            return middle;
        }
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

// The record of the name in a RecordArray of NamedRecord kept sorted by name
// (unsigned byte order, no case folding), inserted in its place when there
// is none. The name is cut to 127 characters, for the look-up as well as
// the new record. Null, the array unchanged, for a null or empty name and
// when the array cannot grow. The caller frees the array's block.
NamedRecord* findOrInsertNamedRecord(RecordArray& array, const char* name);
// The same look-up without the insertion: the record, or null.
NamedRecord* findNamedRecord(const RecordArray& array, const char* name);

// Fills the 512-byte buffer with zeros, copies at most 511 characters of
// text into it (none for a null text) and returns it.
char* copyName512(char* buffer, const char* text);

