#include "resources/DataManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/ResourceTestSupport.h"
#include "resources/ResourceTypes.h"

using namespace resource_tests;
using testing_support::ScopedGameCore;

namespace {

std::string readAll(DataStream& stream) {
    std::string text(static_cast<std::size_t>(bytesLeft(stream)), '\0');
    if (!text.empty()) stream.read(text.data(), static_cast<std::int32_t>(text.size()));
    return text;
}

// A manager of the tests. Per file: every stored file of mask ".fkq" is
// one resource. Single file: the stored file "globals" of mask ".fkp" and
// source "var" holds everything. Contents "BAD" fail the read.
class FakeDataManager : public DataManager {
public:
    explicit FakeDataManager(bool singleFile, const char* fileName = "globals")
        : singleFile_(singleFile), fileName_(fileName) {}

    const char* sourceExtension() const override { return ".xls"; }
    const char* compiledExtension() const override { return singleFile_ ? ".fkv" : ".fkq"; }
    std::int32_t typeNumber() const override { return 99; }
    const char* title() const override { return "Fake data"; }
    const char* packageSource() const override { return singleFile_ ? "var" : nullptr; }
    bool perFileData() const override { return !singleFile_; }
    const char* singleFileMask() const override { return singleFile_ ? ".fkp" : ""; }
    const char* singleFileName() const override { return singleFile_ ? fileName_ : ""; }
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override {
        return read(stream, std::string("file ") + name, flag);
    }
    std::int32_t readSingleFile(DataStream& stream, const char* name, std::int32_t flag) override {
        return read(stream, std::string("single ") + name, flag);
    }
    bool compileFromSource(const char* sourcePath) override {
        MemoryStream compiled;
        return saveCompiledStream(compiled, sourcePath);
    }
    bool initialize() override { return initFromPackages(0); }
    void release() override { reads.clear(); }

    std::vector<std::string> reads;

private:
    std::int32_t read(DataStream& stream, const std::string& what, std::int32_t flag) {
        const std::string text = readAll(stream);
        reads.push_back(what + " " + text + " flag " + std::to_string(flag));
        return text == "BAD" ? -1 : static_cast<std::int32_t>(text.size());
    }

    bool singleFile_;
    const char* fileName_;
};

TEST(DataManager, PerFileManagerReadsEveryFileAndSkipsBadOnes) {
    // "damaged" is first in the package, so its packed bytes are the ones flipped.
    ScopedPackages packages({storedFile(".fkq", "damaged", "DDDDDDDDDDDDDDDDDDDDDD"), storedFile(".fkq", "alpha", "A"),
                             storedFile(".fkq", "bad", "BAD"), storedFile(".fkq", "zeta", "Z"),
                             storedFile(".other", "ignored", "X")},
                            true);
    ASSERT_TRUE(packages.built());
    Log& log = packages.log();
    FakeDataManager manager(false);
    const std::size_t mark = log.recordCount();
    EXPECT_FALSE(manager.initialize());
    EXPECT_EQ(manager.reads, (std::vector<std::string>{"file alpha A flag 0", "file bad BAD flag 0", "file zeta Z flag 0"}));
    // Files are read in name order: alpha, bad, damaged, zeta.
    // (between them, the package database's own report of the damage)
    const auto messages = logSince(log, mark);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.front(), "Can't read resource [bad] data");
    EXPECT_EQ(messages.back(), "Skip resource [damaged]");

    // The flag reaches the reader.
    manager.reads.clear();
    manager.initFromPackages(3);
    EXPECT_EQ(manager.reads.front(), "file alpha A flag 3");
}

TEST(DataManager, ManagerWithoutFilesSucceedsEmpty) {
    ScopedPackages packages({storedFile(".other", "x", "X")});
    ASSERT_TRUE(packages.built());
    FakeDataManager manager(false);
    EXPECT_TRUE(manager.initialize());
    EXPECT_TRUE(manager.reads.empty());

    // A single-file mask without a name reads file by file.
    struct HalfSingle : FakeDataManager {
        HalfSingle() : FakeDataManager(false) {}
        const char* singleFileMask() const override { return ".fkp"; }
    } half;
    EXPECT_TRUE(half.initialize());
}

TEST(DataManager, SingleFileManagerMessages) {
    struct Case {
        const char* label;
        std::vector<testing_support::FixtureFile> files;
        bool damageFirst;
        bool result;
        std::vector<std::string> reads;
        std::vector<std::string> lastMessages;
    };
    const std::vector<testing_support::FixtureFile> good = {storedFile(".fkp", "globals", "G", "var"),
                                                            storedFile(".fkv", "one", "1", "var")};
    const Case cases[] = {
        {"good", good, false, true, {"single globals G flag 0"}, {}},
        {"missing",
         {storedFile(".fkp", "globals", "G", "loc"), storedFile(".fkv", "one", "1", "var")},
         false,
         false,
         {},
         {"Expected single file data for package [Fake data]", "Can't initialize Fake data from single file"}},
        {"unreadable",
         {storedFile(".fkp", "globals", "BAD", "var")},
         false,
         false,
         {"single globals BAD flag 0"},
         {"Can't read single file data from package [Fake data](file [package\\globals])",
          "Can't initialize Fake data from single file"}},
        {"damaged",
         {storedFile(".fkp", "globals", "GGGGGGGGGGGGGGGGGGGGGGGGGGG", "var")},
         true,
         false,
         {},
         {"Expected single file data for package [Fake data]", "Can't initialize Fake data from single file"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScopedPackages packages(c.files, c.damageFirst);
        ASSERT_TRUE(packages.built());
        Log& log = packages.log();
        FakeDataManager manager(true);
        const std::size_t mark = log.recordCount();
        EXPECT_EQ(manager.initialize(), c.result);
        // Never falls back to reading files one by one.
        EXPECT_EQ(manager.reads, c.reads);
        const auto messages = logSince(log, mark);
        ASSERT_GE(messages.size(), c.lastMessages.size());
        EXPECT_EQ(std::vector<std::string>(messages.end() - static_cast<std::ptrdiff_t>(c.lastMessages.size()),
                                           messages.end()),
                  c.lastMessages);
        if (c.result) {
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST(DataManager, CompilingFromSourceIsRefused) {
    ScopedGameCore core;
    FakeDataManager manager(false);
    EXPECT_FALSE(manager.compileFromSource("quests.xls"));
    EXPECT_TRUE(core.log().contains("Stream save not possible in release exe"));
}

TEST(ResourceTypes, TablesHoldTheFixedValues) {
    ASSERT_EQ(kDataManagerCount, 14);
    const DataManagerInfo* dialogs = findDataManagerInfo("DialogDataManager");
    ASSERT_NE(dialogs, nullptr);
    EXPECT_EQ(dialogs->typeNumber, 37);
    EXPECT_STREQ(dialogs->secondText, "@");
    EXPECT_STREQ(findDataManagerInfo("ParticleDataManager")->compiledExtension, ".xls-effect");
    EXPECT_STREQ(findDataManagerInfo("ScriptLocales")->packageSource, "loc");
    EXPECT_EQ(findDataManagerInfo("Nothing"), nullptr);

    ASSERT_EQ(kResourceTypeCount, 30);
    EXPECT_STREQ(findResourceType("Lua sources database")->dataLabel, "lua file  data");
    EXPECT_STREQ(findResourceType("Sound music DB")->source, "music");
    EXPECT_EQ(findResourceType("nothing"), nullptr);

    const ResourceDescriptor& model = resourceDescriptor(ResourceKind::Model);
    EXPECT_STREQ(model.typeLabel, "model");
    EXPECT_STREQ(model.dataMask, ".my3");
    EXPECT_STREQ(resourceDescriptor(ResourceKind::Animation).companionMask, ".events");
    EXPECT_STREQ(resourceDescriptor(ResourceKind::Movie).headerMask, ".bik");
}

}  // namespace
