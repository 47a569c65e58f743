#include "model/ModelProperty.h"

#include <gtest/gtest.h>

TEST(NameTable4, InitEmptiesNamesTextureSetAndRules) {
    ModelProperty record;
    for (char* name : record.lightSets) name[0] = 'x';
    record.textureSet = 3;
    record.rules.resize(2);
    EXPECT_EQ(&NameTable4::init(record), &record);
    for (const char* name : record.lightSets)
        for (int i = 0; i < 128; ++i) EXPECT_EQ(name[i], '\0');
    EXPECT_EQ(record.textureSet, 0u);
    EXPECT_TRUE(record.rules.empty());
}

TEST(ModelProperty, RuleSlotsNameTheLastRule) {
    ModelProperty record;
    for (std::int32_t& slot : record.ruleSlots) slot = 5;
    record.resetRuleSlots();
    for (std::int32_t slot : record.ruleSlots) EXPECT_EQ(slot, -1);
    record.rules.resize(3);
    record.resetRuleSlots();
    EXPECT_EQ(record.ruleSlots[0], 2);
    for (int i = 1; i < 16; ++i) EXPECT_EQ(record.ruleSlots[i], -1);
    // Emptying the block empties its slots too.
    NameTable4::init(record);
    EXPECT_EQ(record.ruleSlots[0], -1);
}
