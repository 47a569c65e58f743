#include "resources/PackageFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "resources/PackageDatabase.h"
#include "support/PackageFixture.h"

using testing_support::FixturePackage;
using testing_support::ScopedPackageDatabase;
using testing_support::TempDir;

namespace {

void putU16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putText(std::string& out, const std::string& text) {
    putU16(out, static_cast<std::uint32_t>(text.size()));
    out += text;
}
std::string packed(const std::string& bytes) {
    MemoryStream block;
    if (!bytes.empty()) block.write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    MemoryStream out;
    writePackedStream(block, 9, true, out);
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));
}

// A package assembled by hand, so that every field can be damaged.
struct RawPackage {
    std::string stored = packed("hello scene");
    std::uint32_t sections = 1;
    std::uint32_t entries = 1;
    std::uint8_t packageNumber = 0;
    std::string name = "scene1";
    std::uint32_t offset = 0;
    std::uint32_t size = 0;  // 0: the stored record's size
    std::string key = ".ms4";
    std::uint32_t versions = 1;
    std::string version = "v1";

    std::string bytes() const {
        std::string directory;
        putU32(directory, entries);
        directory += static_cast<char>(packageNumber);
        directory += '\0';
        putU16(directory, 0);
        putText(directory, name);
        putU32(directory, offset);
        putU32(directory, size ? size : static_cast<std::uint32_t>(stored.size()));
        putU32(directory, 0);
        directory += std::string(8, '\0');
        putText(directory, key);
        putText(directory, ".ms4");
        putText(directory, "");
        putText(directory, "Scenes");
        std::string information;
        putU32(information, sections);
        putU32(information, versions);
        putText(information, version);
        std::string out = stored + packed(directory) + packed(information);
        putU32(out, static_cast<std::uint32_t>(stored.size()));
        return out;
    }
};

std::string withU32At(std::string bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return bytes;
}

}  // namespace

TEST(PackageFile, ReadsSectionsEntriesAndVersions) {
    testing_support::ScopedGameCore core;
    TempDir dir;
    RawPackage raw;
    raw.name = std::string(63, 'n');  // exactly the longest name
    ASSERT_TRUE(testing_support::writeFile(dir.file("p.pak"), raw.bytes()));
    std::unique_ptr<WinFileStream> file(
        WinFileStream::open(dir.file("p.pak"), platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    ASSERT_TRUE(file);
    PackageFileContents contents;
    ASSERT_TRUE(readPackageFile(*file, dir.file("p.pak"), contents));
    ASSERT_EQ(contents.sections.size(), 1u);
    EXPECT_EQ(contents.versions.strings, std::vector<std::string>{"v1"});
    const PackageSection& s = contents.sections[0];
    EXPECT_EQ(s.key, ".ms4");
    EXPECT_EQ(s.source, "");
    EXPECT_EQ(s.title, "Scenes");
    ASSERT_EQ(s.entries.size(), 1u);
    EXPECT_EQ(std::string(s.entries[0].name), raw.name);
    EXPECT_EQ(s.entries[0].name[63], 0);

    // A stored name ends at its first zero; nothing after it is kept.
    raw.name = std::string("scene1\0junk", 11);
    ASSERT_TRUE(testing_support::writeFile(dir.file("z.pak"), raw.bytes()));
    file.reset(WinFileStream::open(dir.file("z.pak"), platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    ASSERT_TRUE(file);
    ASSERT_TRUE(readPackageFile(*file, dir.file("z.pak"), contents));
    ASSERT_EQ(contents.sections.size(), 1u);
    ASSERT_EQ(contents.sections[0].entries.size(), 1u);
    const PackageFileEntry& cut = contents.sections[0].entries[0];
    EXPECT_EQ(std::string(cut.name, sizeof(cut.name)), std::string("scene1") + std::string(58, '\0'));
}

// Damaged packages, each the only package of a data root: every one is
// refused with its message, the build still completes and nothing crashes.
TEST(PackageFile, DamagedPackagesAreRefused) {
    FixturePackage good;
    good.files = {{".ms4", "scene1", std::string(2000, 's'), ""}, {".ms4", "scene2", std::string(500, 't'), ""}};
    const std::string goodBytes = testing_support::fixturePackageBytes(good, 0);
    const std::size_t size = goodBytes.size();
    std::string badStored = goodBytes;
    badStored[20] = static_cast<char>(badStored[20] ^ 0x41);  // inside scene1's zlib data
    std::string badDirectory = goodBytes;
    {
        std::uint32_t locator = 0;
        for (int i = 3; i >= 0; --i) locator = locator << 8 | static_cast<std::uint8_t>(goodBytes[size - 4 + static_cast<std::size_t>(i)]);
        badDirectory[locator + 12] = static_cast<char>(badDirectory[locator + 12] ^ 0x41);
    }
    auto raw = [](const std::function<void(RawPackage&)>& change) {
        RawPackage p;
        change(p);
        return p.bytes();
    };

    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
        bool scene1Loads;
    } cases[] = {
        {"three bytes", goodBytes.substr(0, 3), "has no locator", false},
        {"cut in half", goodBytes.substr(0, size / 2), "read package", false},
        {"locator past the end", withU32At(goodBytes, size - 4, 0xFFFFFFF0u), "locator 4294967280 lies outside", false},
        {"locator at the locator", withU32At(goodBytes, size - 4, static_cast<std::uint32_t>(size - 4)), "lies outside", false},
        {"locator into stored data", withU32At(goodBytes, size - 4, 0), "Can't read package [", false},
        {"corrupt directory data", badDirectory, "Fail read package header [", false},
        {"no sections", raw([](RawPackage& p) { p.sections = 0; }), "", false},
        {"huge section count", raw([](RawPackage& p) { p.sections = 0x40000000u; }), "section count 1073741824 exceeds", false},
        {"huge entry count", raw([](RawPackage& p) { p.entries = 0x10000000u; }), "entry count 268435456 exceeds", false},
        {"huge version count", raw([](RawPackage& p) { p.versions = 0xFFFFFFFFu; }), "information record is damaged", false},
        {"name of 64 bytes", raw([](RawPackage& p) { p.name = std::string(64, 'n'); }), "file entry is damaged", false},
        {"section key of 128 bytes", raw([](RawPackage& p) { p.key = std::string(128, 'k'); }), "section names are damaged", false},
        {"version of 1,024 bytes", raw([](RawPackage& p) { p.version = std::string(1024, 'v'); }), "information record is damaged", false},
        {"entry past the stored data", raw([](RawPackage& p) { p.size = 5000; }), "lies outside the stored data", false},
        {"entry offset wrapping 32 bits", raw([](RawPackage& p) { p.offset = 0xFFFFFFF0u; p.size = 0x20; }), "lies outside the stored data", false},
        {"entry of a package that is not there", raw([](RawPackage& p) { p.packageNumber = 3; }), "Can't access package [3:0] intrface", false},
        {"corrupt stored file", badStored, "Can't decompress memory stream data", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ASSERT_TRUE(testing_support::writeFile(dir.file("data.txt"), "[pack.pak]\n.* >> data\n"));
        ASSERT_TRUE(testing_support::writeFile(dir.file("pack.pak"), c.bytes));
        ScopedPackageDatabase db(dir.path());
        EXPECT_TRUE(db.build());
        for (bool maps : {true, false}) {
            db.database().setUseMaps(maps);
            MemoryStream out;
            EXPECT_EQ(db.database().loadResource(".ms4", "scene1", "", out), c.scene1Loads);
            EXPECT_EQ(out.size(), 0);
        }
        EXPECT_TRUE(db.log().contains(c.message)) << c.message;
    }
}

TEST(PackageFile, IdsNeverAlias) {
    // A type holds at most 499,999 files and the database at most 500 types.
    TempDir dir;
    FixturePackage many;
    char name[16];
    for (int i = 0; i < 500001; ++i) {
        std::snprintf(name, sizeof(name), "f%06i", i);
        many.files.push_back({".big", name, "", "", true, true});
    }
    for (int t = 0; t < 501; ++t) many.files.push_back({".t" + std::to_string(1000 + t), "only", "x", ""});
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {many}));
    ScopedPackageDatabase db(dir.path());
    ASSERT_TRUE(db.build());
    FilePackageDBData& data = db.data();
    EXPECT_EQ(data.countFiles(".big", ""), 499999);
    EXPECT_NE(data.find(".big", "f499998", ""), 0u);
    EXPECT_EQ(data.find(".big", "f499999", ""), 0u);
    EXPECT_TRUE(db.log().contains("Can't add package file [f499999]: type [.big] holds 499999 files, no id left"));
    EXPECT_EQ(data.types().size(), 500u);
    EXPECT_TRUE(db.log().contains("no type id left"));
    // Every id still names its own file.
    const std::uint32_t last = data.find(".big", "f499998", "");
    EXPECT_STREQ(data.fileName(last), "f499998");
    EXPECT_EQ(data.fileIdAt(".big", 499998, ""), last);
}

TEST(PackageFile, EveryFlippedByteIsHandled) {
    // Each byte of a small package flipped in turn: the build completes and a
    // load gives the stored bytes, the record read raw, or a failure.
    FixturePackage good;
    const std::string data(300, 'd');
    good.files = {{".ms4", "scene1", data, ""}, {".ms4", "scene2", "two", ""}};
    const std::string goodBytes = testing_support::fixturePackageBytes(good, 0);
    TempDir dir;
    ASSERT_TRUE(testing_support::writeFile(dir.file("data.txt"), "[pack.pak]\n.* >> data\n"));
    for (std::size_t i = 0; i < goodBytes.size(); ++i) {
        SCOPED_TRACE(i);
        std::string bytes = goodBytes;
        bytes[i] = static_cast<char>(bytes[i] ^ 0xA5);
        ASSERT_TRUE(testing_support::writeFile(dir.file("pack.pak"), bytes));
        ScopedPackageDatabase db(dir.path());
        EXPECT_TRUE(db.build());
        const std::uint32_t id = db.data().find(".ms4", "scene1", "");
        for (bool maps : {true, false}) {
            db.database().setUseMaps(maps);
            MemoryStream out;
            if (db.database().loadResource(".ms4", "scene1", "", out)) {
                const std::string got(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));
                EXPECT_TRUE(got == data || out.size() == static_cast<std::int32_t>(db.data().entry(id)->size));
            }
        }
    }
}

namespace {

struct NamedEntry {
    std::uint8_t package;
    std::uint8_t folder;
    std::string name;
    std::uint32_t offset;
    std::uint32_t size;
};

// A package of one section whose entries name where their data lies, with
// no stored data of its own.
std::string packageNaming(const std::vector<NamedEntry>& entries, const std::string& key) {
    std::string directory;
    putU32(directory, static_cast<std::uint32_t>(entries.size()));
    for (const NamedEntry& e : entries) {
        directory += static_cast<char>(e.package);
        directory += static_cast<char>(e.folder);
        putU16(directory, 0);
        putText(directory, e.name);
        putU32(directory, e.offset);
        putU32(directory, e.size);
        putU32(directory, 0);
        directory += std::string(8, '\0');
    }
    const std::size_t at = key.find('@');
    putText(directory, key);
    putText(directory, key.substr(0, at));
    putText(directory, at == std::string::npos ? "" : key.substr(at + 1));
    putText(directory, "elsewhere");
    std::string information;
    putU32(information, 1);
    putU32(information, 0);
    std::string out = packed(directory) + packed(information);
    putU32(out, 0);
    return out;
}

// The entry of a package file, read back from its bytes.
PackageFileEntry entryOf(const std::string& path, const char* name) {
    std::unique_ptr<WinFileStream> file(WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    PackageFileContents contents;
    if (file) readPackageFile(*file, path, contents);
    for (const PackageSection& s : contents.sections)
        for (const PackageFileEntry& e : s.entries)
            if (std::string(e.name) == name) return e;
    return {};
}

}  // namespace

// Entries may keep their data in another package file: they are checked
// against that file's size when it was read before them, else when opened.
TEST(PackageFile, EntriesNamingAnotherPackageReadItsData) {
    TempDir dir;
    FixturePackage first;
    first.rule = "a.pak";
    first.files = {{".ms4", "scene1", std::string(3000, 's'), ""}};
    FixturePackage third;
    third.rule = "c.pak";
    third.files = {{".dat", "c1", std::string(700, 'c'), ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {first, third}));
    ASSERT_TRUE(testing_support::writeFile(dir.file("data.txt"), "[a.pak]\n.* >> a\n[b.pak]\n.* >> b\n[c.pak]\n.* >> c\n"));
    // c.pak was written as package 1; it is package 2 of these rules.
    ASSERT_TRUE(testing_support::writeFile(dir.file("c.pak"), testing_support::fixturePackageBytes(third, 2)));
    const PackageFileEntry scene1 = entryOf(dir.file("a.pak"), "scene1");
    const PackageFileEntry c1 = entryOf(dir.file("c.pak"), "c1");
    ASSERT_GT(scene1.size, 0u);
    ASSERT_GT(c1.size, 0u);
    const auto aSize = static_cast<std::uint32_t>(testing_support::readFile(dir.file("a.pak")).size());
    const auto cSize = static_cast<std::uint32_t>(testing_support::readFile(dir.file("c.pak")).size());
    ASSERT_TRUE(testing_support::writeFile(dir.file("b.pak"),
                                           packageNaming({{0, 0, "near", scene1.offset, scene1.size},
                                                          {0, 0, "past", aSize - 2, 10},
                                                          {2, 0, "later", c1.offset, c1.size},
                                                          {2, 0, "later_past", cSize, 5}},
                                                         ".ms4@far")));

    ScopedPackageDatabase db(dir.path());
    ASSERT_TRUE(db.build());
    FilePackageDBData& data = db.data();
    EXPECT_EQ(data.find(".ms4", "past", "far"), 0u);
    EXPECT_TRUE(db.log().contains("Can't add package file [past]: offset +" + std::to_string(aSize - 2) +
                                  " with size 10 bytes lies outside package ["));
    ASSERT_NE(data.find(".ms4", "later_past", "far"), 0u);  // c.pak is read after b.pak
    for (bool maps : {true, false}) {
        SCOPED_TRACE(maps);
        db.database().setUseMaps(maps);
        MemoryStream out;
        ASSERT_TRUE(db.database().loadResource(".ms4", "near", "far", out));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), 3000u), std::string(3000, 's'));
        ASSERT_TRUE(db.database().loadResource(".ms4", "later", "far", out));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), 700u), std::string(700, 'c'));
        EXPECT_FALSE(db.database().loadResource(".ms4", "later_past", "far", out));
        EXPECT_EQ(out.size(), 0);
    }
    EXPECT_TRUE(db.log().contains("Can't open mapping to package ["));
    EXPECT_TRUE(db.log().contains("\t\tFailed load resource [package\\later_past]: READ FAILED"));
}
