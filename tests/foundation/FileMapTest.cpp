#include "foundation/FileMap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/Log.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

std::string pattern(std::size_t size) {
    std::string b(size, 0);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<char>(i * 31 % 251);
    return b;
}

}  // namespace

TEST(FileMap, ViewIsRoundedToTheGranularity) {
    ScopedGameCore core;
    TempDir dir;
    const std::string content = pattern(200000);
    ASSERT_TRUE(testing_support::writeFile(dir.file("data.bin"), content));
    ASSERT_EQ(platform::allocationGranularity(), 65536u);

    FileMap map;
    ASSERT_TRUE(openFileMap(map, dir.file("data.bin"), false));
    ASSERT_TRUE(mapFileView(map, 70000, 100));
    EXPECT_EQ(map.viewData - map.viewBase, 4464);
    EXPECT_EQ(map.viewLength, 4564u);
    EXPECT_EQ(map.viewSize, 100u);
    EXPECT_EQ(std::memcmp(map.viewData, content.data() + 70000, 100), 0);

    // A second view replaces the first.
    ASSERT_TRUE(mapFileView(map, 10, 5));
    EXPECT_EQ(std::memcmp(map.viewData, content.data() + 10, 5), 0);
    closeFileMap(map);
    EXPECT_FALSE(map.mapping);
    EXPECT_EQ(map.viewBase, nullptr);
}

TEST(FileMap, OpenFailuresAndViewsPastTheEnd) {
    ScopedGameCore core;
    TempDir dir;
    ASSERT_TRUE(testing_support::writeFile(dir.file("small.bin"), pattern(1000)));
    ASSERT_TRUE(testing_support::writeFile(dir.file("empty.bin"), ""));

    FileMap map;
    EXPECT_FALSE(openFileMap(map, dir.file("missing.bin"), false));
    EXPECT_TRUE(core.log().contains("Cannot open map file ["));
    EXPECT_FALSE(openFileMap(map, dir.file("empty.bin"), false));
    EXPECT_TRUE(core.log().contains("Cannot create map for ["));

    FileMap none;
    EXPECT_FALSE(mapFileView(none, 0, 10));
    EXPECT_TRUE(core.log().contains("Can't create new map: open mapping file first"));

    ASSERT_TRUE(openFileMap(map, dir.file("small.bin"), false));
    EXPECT_FALSE(openFileMap(map, dir.file("small.bin"), false));
    EXPECT_TRUE(core.log().contains("Can't twice open memory map to ["));
    EXPECT_TRUE(map.mapping);  // the first mapping is kept

    EXPECT_FALSE(mapFileView(map, 990, 11));
    EXPECT_FALSE(mapFileView(map, 0xFFFFFFF0u, 100));
    EXPECT_TRUE(core.log().contains("Cannot open file map at 0x"));
    EXPECT_TRUE(mapFileView(map, 990, 10));
    closeFileMap(map);
    closeFileMap(map);  // closing twice is harmless
}

TEST(FileMap, ViewsOnAnotherMapCountAndGiveBackReferences) {
    ScopedGameCore core;
    TempDir dir;
    const std::string content = pattern(300000);
    ASSERT_TRUE(testing_support::writeFile(dir.file("data.bin"), content));
    FileMap owner;
    ASSERT_TRUE(openFileMap(owner, dir.file("data.bin"), false));

    FileMap a, b;
    ASSERT_TRUE(mapFileView(a, 100, 50, &owner));
    ASSERT_TRUE(mapFileView(b, 250000, 50, &owner));
    EXPECT_EQ(owner.references, 2);
    EXPECT_EQ(std::memcmp(b.viewData, content.data() + 250000, 50), 0);
    ASSERT_TRUE(mapFileView(a, 200, 50, &owner));  // replaces a's view: still two
    EXPECT_EQ(owner.references, 2);
    unmapFileView(a);
    EXPECT_EQ(owner.references, 1);

    // Closing with a view still out is reported, and closes all the same.
    closeFileMap(owner);
    EXPECT_TRUE(core.log().contains("not all references released"));
    EXPECT_FALSE(owner.mapping);
    unmapFileView(b);
}
