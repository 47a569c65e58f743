#include "foundation/DataStream.h"

#include <gtest/gtest.h>

#include <cstring>

#include "foundation/FilePath.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

struct SeekCase {
    int offset, origin, base, window;
    bool windowed;
    int expected;
};

class DataStreamSeek : public ::testing::TestWithParam<SeekCase> {};

TEST_P(DataStreamSeek, PlacesThePosition) {
    const SeekCase c = GetParam();
    MemoryStream s;
    std::vector<char> bytes(100, 'x');
    s.write(bytes.data(), 100);
    s.setPosition(30);
    if (c.windowed)
        EXPECT_EQ(s.seekIn(c.offset, c.origin, c.base, c.window), 0);
    else
        EXPECT_EQ(s.seek(c.offset, c.origin), 0);
    EXPECT_EQ(s.tell(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, DataStreamSeek,
                         ::testing::Values(SeekCase{0, 2, 0, 0, false, 100},   // end
                                           SeekCase{10, 2, 0, 0, false, 90},   // back from the end
                                           SeekCase{5, 0, 0, 0, false, 5},     // from the start
                                           SeekCase{-5, 1, 0, 0, false, 25},   // relative
                                           SeekCase{7, 9, 0, 0, false, 30},    // unknown origin
                                           SeekCase{0, 2, 40, 20, true, 60},   // window end
                                           SeekCase{3, 0, 40, 20, true, 43},   // window start
                                           SeekCase{4, 1, 40, 20, true, 34})); // relative in window

TEST(MemoryStream, ReadsAtAndNearTheEnd) {
    MemoryStream s;
    s.write("abcdefgh", 8);
    char out[16];
    EXPECT_EQ(s.read(out, 4), -1);  // at the end
    s.setPosition(4);
    EXPECT_EQ(s.read(out, 10), 4);
    EXPECT_EQ(std::memcmp(out, "efgh", 4), 0);
    EXPECT_EQ(s.read(nullptr, 1), -1);
    s.setPosition(-3);
    EXPECT_EQ(s.read(out, 1), -1);
}

TEST(MemoryStream, GrowsInWholePagesAndDoublesOnRequest) {
    MemoryStream plain, doubling(true);
    EXPECT_EQ(plain.write("a", 1), 1);
    EXPECT_EQ(doubling.write("a", 1), 1);
    EXPECT_EQ(plain.capacity(), 4096);
    EXPECT_EQ(doubling.capacity(), 8192);
    std::vector<char> big(5000, 'b');
    plain.write(big.data(), 5000);
    EXPECT_EQ(plain.capacity(), 8192);
    EXPECT_EQ(plain.size(), 5001);
    EXPECT_EQ(plain.write(nullptr, 10), 0);
}

TEST(MemoryStream, FixedStreamClipsWritesToItsSize) {
    char buffer[8] = {};
    MemoryStream s(buffer, 8);
    s.setPosition(6);
    EXPECT_EQ(s.write("12345", 5), 2);
    EXPECT_EQ(s.size(), 8);
    EXPECT_EQ(std::memcmp(buffer + 6, "12", 2), 0);
    s.setPosition(9);
    EXPECT_EQ(s.write("x", 1), 0);
}

TEST(MemoryStream, WritePastTheSizeGrowsAndZeroesTheGap) {
    MemoryStream s;
    s.write("ab", 2);
    s.setPosition(10000);
    EXPECT_EQ(s.write("cd", 2), 2);
    EXPECT_EQ(s.size(), 10002);
    EXPECT_GE(s.capacity(), 10002);
    EXPECT_EQ(s.data()[5000], 0);
    EXPECT_EQ(s.data()[10001], 'd');
    s.setPosition(-1);
    EXPECT_EQ(s.write("e", 1), -1);
}

TEST(DataStream, WriteAtAndReadAtKeepThePosition) {
    MemoryStream s;
    s.write("0123456789", 10);
    s.setPosition(3);
    EXPECT_EQ(s.writeAt(7, "XY", 2), 2);
    EXPECT_EQ(s.tell(), 3);
    char out[2];
    EXPECT_EQ(s.readAt(7, out, 2), 2);
    EXPECT_EQ(s.tell(), 3);
    EXPECT_EQ(std::memcmp(out, "XY", 2), 0);
}

TEST(DataStream, FieldHelpersAreLittleEndianAndStopAtTheEnd) {
    MemoryStream s;
    std::int32_t total = 0;
    EXPECT_TRUE(addField(total, writeU32(s, 0x04030201u)));
    EXPECT_TRUE(addField(total, writeU16(s, 0x0605)));
    EXPECT_TRUE(addField(total, writeF32(s, 1.5f)));
    EXPECT_EQ(total, 10);
    EXPECT_EQ(s.data()[0], 1);
    EXPECT_EQ(s.data()[5], 6);
    s.setPosition(0);
    std::uint32_t a = 0;
    std::uint16_t b = 0;
    float f = 0;
    EXPECT_EQ(readU32(s, a), 4);
    EXPECT_EQ(readU16(s, b), 2);
    EXPECT_EQ(readF32(s, f), 4);
    EXPECT_EQ(a, 0x04030201u);
    EXPECT_EQ(b, 0x0605);
    EXPECT_EQ(f, 1.5f);
    EXPECT_LT(readU32(s, a), 0);
}

TEST(DataStream, ReadUIntArrayBoundsTheCountByTheBytesLeft) {
    ScopedGameCore core;
    MemoryStream good;
    writeU32(good, 3);
    for (std::uint32_t v : {7u, 8u, 0xFFFFFFFFu}) writeU32(good, v);
    good.setPosition(0);
    std::vector<std::uint32_t> array;
    EXPECT_EQ(readUIntArray(good, array), 16);
    EXPECT_EQ(array, (std::vector<std::uint32_t>{7, 8, 0xFFFFFFFFu}));

    MemoryStream huge;
    writeU32(huge, 0x40000000u);  // a billion elements promised, none present
    writeU32(huge, 1);
    huge.setPosition(0);
    EXPECT_LT(readUIntArray(huge, array), 0);
    EXPECT_TRUE(array.empty());
}

TEST(DataStream, CopyString64TerminatesAndCuts) {
    char field[64];
    std::memset(field, 'z', sizeof(field));
    std::string longText(100, 'a');
    copyString64(longText.c_str(), field);
    EXPECT_EQ(std::strlen(field), 63u);
    copyString64("abc", field);
    EXPECT_STREQ(field, "abc");
    EXPECT_EQ(field[63], 0);
}

TEST(WinFileStream, WritesReadsAndReservesZeroes) {
    ScopedGameCore core;
    TempDir dir;
    const std::string path = dir.file("a.bin");
    {
        std::unique_ptr<WinFileStream> f(
            WinFileStream::open(path, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
        ASSERT_TRUE(f);
        EXPECT_TRUE(f->writable());
        std::vector<char> junk(12000, 'j');
        f->write(junk.data(), 12000);
        EXPECT_TRUE(f->reserve(10000));
        EXPECT_EQ(f->tell(), 10000);
        EXPECT_EQ(f->write("end", 3), 3);
    }
    const std::string bytes = testing_support::readFile(path);
    ASSERT_EQ(bytes.size(), 12000u);
    EXPECT_EQ(bytes.find_first_not_of('\0'), 10000u);
    EXPECT_EQ(bytes.substr(10000, 3), "end");

    std::unique_ptr<WinFileStream> r(WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->size(), 12000);
    r->setPosition(11999);
    char c[4];
    EXPECT_EQ(r->read(c, 4), 1);
    EXPECT_EQ(r->read(c, 4), 0);
    EXPECT_EQ(WinFileStream::open(dir.file("missing"), platform::GENERIC_READ, 0, platform::OPEN_EXISTING), nullptr);
    EXPECT_EQ(WinFileStream::open(dir.path(), platform::GENERIC_READ, 0, platform::OPEN_EXISTING), nullptr);
}

TEST(FilePath, CreateDirectoriesMakesTheMissingFoldersInOrder) {
    ScopedGameCore core;
    TempDir dir;
    testing_support::makeFolders(dir.file("a"));
    FilePath path(dir.path() + "\\a\\b\\c\\file.txt");
    EXPECT_TRUE(path.createDirectories());
    EXPECT_TRUE(testing_support::exists(dir.file("a/b/c")));
    EXPECT_FALSE(testing_support::exists(dir.file("a/b/c/file.txt")));
    EXPECT_FALSE(FilePath("file.txt").createDirectories());
    EXPECT_TRUE(ensurePathFolders(dir.path() + "/x/y/z.ini"));
    EXPECT_TRUE(testing_support::exists(dir.file("x/y")));
    EXPECT_FALSE(fileExists(dir.file("x/y")));
    testing_support::writeFile(dir.file("x/y/z.ini"), "k=v");
    EXPECT_TRUE(fileExists(dir.file("x/y/z.ini")));
}

TEST(FilePath, FindsExistingElementsWhateverTheirCase) {
    ScopedGameCore core;
    TempDir dir;
    testing_support::writeFile(dir.file("Data/Game.INI"), "x");
    EXPECT_TRUE(fileExists(dir.path() + "\\data\\game.ini"));
    std::unique_ptr<WinFileStream> f(
        WinFileStream::open(dir.path() + "/DATA/GAME.ini", platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    EXPECT_TRUE(f);
}

}  // namespace
