// The shared small records: the placement with its inverse, the name-sorted
// named record arrays and the 512-byte name copy.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/SharedRecords.h"

namespace {

std::vector<std::string> names(const RecordArray& array) {
    std::vector<std::string> out;
    for (std::int32_t i = 0; i < array.count; ++i) out.emplace_back(array.as<NamedRecord>()[i].name);
    return out;
}

TEST(SharedRecordsTest, NamedRecordsStaySortedAndGrowByDoubling) {
    RecordArray array;
    std::vector<std::int32_t> capacities;
    for (const char* name : {"b", "a", "c"}) {
        NamedRecord* record = findOrInsertNamedRecord(array, name);
        ASSERT_NE(record, nullptr);
        EXPECT_STREQ(record->name, name);
        EXPECT_EQ(record->records.data, nullptr);
        EXPECT_EQ(record->records.count, 0);
        capacities.push_back(array.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<std::int32_t>{1, 2, 4}));
    EXPECT_EQ(names(array), (std::vector<std::string>{"a", "b", "c"}));
    NamedRecord* b = findOrInsertNamedRecord(array, "b");
    EXPECT_EQ(b, array.as<NamedRecord>() + 1);
    EXPECT_EQ(array.count, 3);

    // Byte order without case folding: upper case first, and bytes above
    // 127 after every ASCII letter.
    findOrInsertNamedRecord(array, "B");
    findOrInsertNamedRecord(array, "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(names(array), (std::vector<std::string>{"B", "a", "b", "c", "\xC3\xA9t\xC3\xA9"}));
    array.release();
}

TEST(SharedRecordsTest, LongNamesAreCutAndFoundAgain) {
    RecordArray array;
    const std::string longName(200, 'x');
    NamedRecord* first = findOrInsertNamedRecord(array, longName.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::string(first->name), longName.substr(0, 127));
    // The second look-up compares the name as it was stored.
    EXPECT_EQ(findOrInsertNamedRecord(array, longName.c_str()), first);
    EXPECT_EQ(findOrInsertNamedRecord(array, longName.substr(0, 127).c_str()), first);
    EXPECT_EQ(array.count, 1);
    array.release();
}

TEST(SharedRecordsTest, EmptyNamesAreRefused) {
    RecordArray array;
    findOrInsertNamedRecord(array, "a");
    EXPECT_EQ(findOrInsertNamedRecord(array, ""), nullptr);
    EXPECT_EQ(findOrInsertNamedRecord(array, nullptr), nullptr);
    EXPECT_EQ(findOrInsertNamedRecord(array, ""), nullptr);
    EXPECT_EQ(array.count, 1);
    array.release();
}

TEST(SharedRecordsTest, CopyName512KeepsAtMost511Characters) {
    char buffer[512];
    std::memset(buffer, 'q', sizeof buffer);
    const std::string text(600, 'n');
    EXPECT_EQ(copyName512(buffer, text.c_str()), buffer);
    EXPECT_EQ(std::string(buffer), text.substr(0, 511));
    std::memset(buffer, 'q', sizeof buffer);
    copyName512(buffer, "");
    for (char c : buffer) EXPECT_EQ(c, 0);
    std::memset(buffer, 'q', sizeof buffer);
    copyName512(buffer, "abc");
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[511], 0);
    EXPECT_EQ(buffer[4], 0);
}

TEST(SharedRecordsTest, SetIdentityPutsAllThreePartsAtTheOrigin) {
    MatrixWithInverse placement;
    placement.position[0] = 5;
    for (float& v : placement.matrix.m) v = 3;
    for (float& v : placement.inverse.m) v = 7;
    EXPECT_EQ(&placement.setIdentity(), &placement);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(placement.position[i], 0.0f);
        EXPECT_EQ(placement.matrix.m[9 + i], 0.0f);
        EXPECT_EQ(placement.inverse.m[9 + i], 0.0f);
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(placement.matrix.m[3 * i + j], i == j ? 1.0f : 0.0f);
            EXPECT_EQ(placement.inverse.m[3 * i + j], i == j ? 1.0f : 0.0f);
        }
    }
}

}  // namespace
