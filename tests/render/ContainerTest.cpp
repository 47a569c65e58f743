#include "render/shaders/Container.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

namespace {

class ContainerTest : public ::testing::Test {
protected:
    ContainerTest() : core(true) {
        core.paths().setPath(PathExeFolderInput, folder.path());
        core.paths().setPath(PathShaderCacheName, "shaders.0050");
        path = core.paths().get(PathShaderCacheFile);
    }

    // Writes content (the unpacked bytes) as the package file, packed.
    void writePackage(MemoryStream& content) { ASSERT_TRUE(writePackedFile(path, content, 9, true)); }

    void writeEntries(const std::vector<std::pair<std::string, std::string>>& entries) {
        Container writer("writer", PathShaderCacheFile);
        writer.reserveEntries(std::int32_t(entries.size()));
        for (const auto& [name, data] : entries)
            ASSERT_TRUE(writer.append(name, data.data(), std::int32_t(data.size())));
        MemoryStream content(true);
        ASSERT_GT(writer.write(content), 0);
        writePackage(content);
    }

    testing_support::TempDir folder;
    testing_support::ScopedGameCore core;
    std::string path;
    Container container{"render shaders", PathShaderCacheFile};
};

TEST_F(ContainerTest, FindsEveryPackedNameByBinarySearch) {
    // Upper case sorts before lower case; an entry may be empty.
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"ps_2_0PS_OPS_A1", "pixel"}, {"ps_2_aPS_HDR_blur", "blur"}, {"vs_2_0VS_OPS1", ""},
        {"vs_2_0VS_SHADOWD", "shadow"}, {"vs_2_0vs-dyn20-", "dynamic"}};
    writeEntries(entries);
    ASSERT_TRUE(container.load());
    ASSERT_EQ(container.count(), 5);
    for (const auto& [name, data] : entries) {
        MemoryStream* found = container.find(name.c_str());
        ASSERT_NE(found, nullptr) << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(found->data()), std::size_t(found->size())), data);
    }
    EXPECT_EQ(container.find("vs_2_0VS_MISSING"), nullptr);
    EXPECT_TRUE(core.log().contains("Container render shaders: can't find resource [vs_2_0VS_MISSING] in database"));
    EXPECT_EQ(container.find(""), nullptr);
    EXPECT_EQ(container.reserveSize(), 128u + 5 + 4 + 0 + 6 + 7);

    // A second load keeps only its own entries.
    writeEntries({{"only", "1"}});
    ASSERT_TRUE(container.load());
    EXPECT_EQ(container.count(), 1);
    EXPECT_EQ(container.find("ps_2_0PS_OPS_A1"), nullptr);

    // The game never writes the package.
    const std::string before = testing_support::readFile(platform::hostPath(path));
    ASSERT_FALSE(before.empty());
    EXPECT_FALSE(container.save());
    EXPECT_TRUE(core.log().contains("Stream save not possible in release exe"));
    EXPECT_TRUE(core.log().contains("Container render shaders: Can't write data to file ["));
    EXPECT_EQ(testing_support::readFile(platform::hostPath(path)), before);
}

// The package file is read where it lies: packed, raw, or raw behind a
// header. The entries view one block of content (no entry holds a copy),
// and a load that fails keeps the entries before it readable.
TEST_F(ContainerTest, EveryFormOfTheFileLoadsAndItsEntriesShareOneBlock) {
    Container writer("writer", PathShaderCacheFile);
    writer.reserveEntries(2);
    ASSERT_TRUE(writer.append("a", "first", 5));
    ASSERT_TRUE(writer.append("b", "second", 6));
    MemoryStream content(true);
    ASSERT_GT(writer.write(content), 0);
    const std::string bytes(reinterpret_cast<const char*>(content.data()), std::size_t(content.size()));
    std::string header(9, '\0');
    for (int i = 0; i < 4; ++i) header[1 + i] = header[5 + i] = char(bytes.size() >> (8 * i));
    const std::string file = platform::hostPath(path);

    struct Form {
        const char* what;
        std::function<void()> write;
    };
    const Form forms[] = {
        {"packed", [&] { ASSERT_TRUE(writePackedFile(path, content, 9, true)); }},
        {"raw", [&] { ASSERT_TRUE(testing_support::writeFile(file, bytes)); }},
        {"raw behind a header", [&] { ASSERT_TRUE(testing_support::writeFile(file, header + bytes)); }},
    };
    for (const Form& form : forms) {
        form.write();
        ASSERT_TRUE(container.load()) << form.what;
        ASSERT_EQ(container.count(), 2) << form.what;
        MemoryStream* a = container.find("a");
        MemoryStream* b = container.find("b");
        ASSERT_TRUE(a && b) << form.what;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(a->data()), std::size_t(a->size())), "first");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b->data()), std::size_t(b->size())), "second");
        EXPECT_FALSE(a->ownsBuffer()) << form.what;
        // b's bytes follow a's, its name length, name and data size.
        EXPECT_EQ(b->data(), a->data() + 5 + 2 + 1 + 4) << form.what;

        ASSERT_TRUE(std::filesystem::remove(file));
        EXPECT_FALSE(container.load()) << form.what;
        ASSERT_EQ(container.find("b"), b) << form.what;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b->data()), std::size_t(b->size())), "second");
    }
    container.release();
    EXPECT_EQ(container.count(), 0);
}

TEST_F(ContainerTest, DamagedFilesAreRefused) {
    EXPECT_FALSE(container.load());
    EXPECT_TRUE(core.log().contains("Container render shaders: Can't open source file ["));

    // A file cut short.
    writeEntries({{"a", std::string(100, 'x')}, {"b", "y"}});
    const std::string file = platform::hostPath(path);
    const std::string bytes = testing_support::readFile(file);
    ASSERT_GT(bytes.size(), 20u);
    ASSERT_TRUE(testing_support::writeFile(file, bytes.substr(0, bytes.size() / 2)));
    // The cut record no longer matches its header and is read as raw bytes,
    // whose count cannot fit.
    EXPECT_FALSE(container.load());
    EXPECT_TRUE(core.log().contains("Container render shaders: Can't read data from"));

    struct Case {
        const char* what;
        std::uint32_t count;
        std::uint16_t nameLength;
        std::uint32_t dataSize;
        const char* message;
    };
    const Case cases[] = {
        {"a name over 127 bytes", 1, 200, 0, "entry 0 has a name of 200 bytes (at most 127)"},
        {"a count past the data", 1000000, 3, 0, "1000000 entries do not fit in"},
        {"a data size past the end", 1, 3, 1u << 30, "claims 1073741824 bytes"},
        {"an empty name", 1, 0, 0, "entry 0 has an empty name"},
    };
    for (const Case& c : cases) {
        MemoryStream content(true);
        writeU32(content, c.count);
        writeU16(content, c.nameLength);
        content.write(std::string(c.nameLength, 'n').data(), c.nameLength);
        writeU32(content, c.dataSize);
        content.write("data", 4);
        writePackage(content);
        EXPECT_FALSE(container.load()) << c.what;
        EXPECT_TRUE(core.log().contains(c.message)) << c.what;
        EXPECT_TRUE(core.log().contains("Container render shaders: Can't read data from memory file")) << c.what;
    }
    // Names out of order: the lookup's binary search would miss them.
    MemoryStream unordered(true);
    writeU32(unordered, 2);
    for (const char* name : {"b", "a"}) {
        writeU16(unordered, 1);
        unordered.write(name, 1);
        writeU32(unordered, 0);
    }
    writePackage(unordered);
    EXPECT_FALSE(container.load());
    EXPECT_TRUE(core.log().contains("Container render shaders: entry [a] is not after [b] in name order"));

    // Four zero bytes are an empty package.
    MemoryStream empty(true);
    writeU32(empty, 0);
    writePackage(empty);
    EXPECT_TRUE(container.load());
    EXPECT_EQ(container.count(), 0);
}

TEST_F(ContainerTest, TheEntryTableGrowsWithTheEntriesRead) {
    // Entries written out of a loop: every one is found with its bytes after
    // the table has grown many times over.
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%04d", i);
        entries.emplace_back(name, std::string(std::size_t(i % 7), char('a' + i % 26)));
    }
    writeEntries(entries);
    ASSERT_TRUE(container.load());
    ASSERT_EQ(container.count(), 300);
    EXPECT_EQ(container.capacity(), 300);
    for (const auto& [name, data] : entries) {
        MemoryStream* found = container.find(name.c_str());
        ASSERT_NE(found, nullptr) << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(found->data()), std::size_t(found->size())), data);
    }

    // 200,000 entries claimed and room for them in the data, but the second
    // is damaged: no table is made for the claim.
    MemoryStream content(true);
    writeU32(content, 200000);
    writeU16(content, 1);
    content.write("a", 1);
    writeU32(content, 0);
    writeU16(content, 200);
    const std::string zeros(200000 * 7, '\0');
    content.write(zeros.data(), std::int32_t(zeros.size()));
    writePackage(content);
    {
        testing_support::LargestAllocation largest;
        EXPECT_FALSE(container.load());
        if (testing_support::LargestAllocation::recording()) EXPECT_LT(largest.bytes(), 4u << 20);
    }
    EXPECT_TRUE(core.log().contains("Container render shaders: entry 1 has a name of 200 bytes (at most 127)"));
    EXPECT_EQ(container.count(), 2);
    EXPECT_LE(container.capacity(), 2);
}

}  // namespace
