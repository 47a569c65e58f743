#include "game/Y3DialogData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<DialogLabel> labels(std::initializer_list<const char*> names) {
    std::vector<DialogLabel> out(names.size());
    std::size_t i = 0;
    for (const char* name : names) std::strcpy(out[i++].name, name);
    return out;
}

}  // namespace

TEST(Y3DialogData, FindLabelMatchesWholeNamesByteForByte) {
    EXPECT_EQ(Y3DialogData::findLabel({}, "main"), nullptr);

    const std::vector<DialogLabel> sorted = labels({"intro", "main", "outro"});
    struct Case {
        const char* name;
        int index;  // -1: not found
    } const cases[] = {{"intro", 0}, {"main", 1}, {"outro", 2}, {"Main", -1},
                       {"mai", -1},  {"main2", -1}, {"", -1},   {"zzz", -1}};
    for (const Case& c : cases) {
        const DialogLabel* found = Y3DialogData::findLabel(sorted, c.name);
        if (c.index < 0) EXPECT_EQ(found, nullptr) << c.name;
        else EXPECT_EQ(found, &sorted[static_cast<std::size_t>(c.index)]) << c.name;
    }
    // Bytes above 0x7F sort after ASCII.
    const std::vector<DialogLabel> high = labels({"a", "z", "\xC3\xA9t\xC3\xA9"});
    EXPECT_EQ(Y3DialogData::findLabel(high, "\xC3\xA9t\xC3\xA9"), &high[2]);
    // Out of order, a present label can be missed.
    const std::vector<DialogLabel> unsorted = labels({"outro", "main", "intro"});
    EXPECT_EQ(Y3DialogData::findLabel(unsorted, "intro"), nullptr);
}
