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
