#include "resources/Y3ResourceManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/DataManager.h"
#include "resources/ResourceTestSupport.h"

using namespace resource_tests;
using testing_support::ScopedGameCore;

namespace {

// A resource type of the tests: header ".fkh" and data ".fkd" files. A
// header starting "BAD" makes its object and then fails; "NOOBJ" succeeds
// without an object; "THROW" throws after making its object. Data files
// "BAD" and "THROW" fail the same way.
struct FakeObject {
    static int live;
    std::string header;
    std::string data;
    FakeObject() { ++live; }
    ~FakeObject() { --live; }
};
int FakeObject::live = 0;

const ResourceDescriptor kFakeDescriptor = {"fake data", "fake", ".fkh", "", ".fkd", ".txt", ""};

std::vector<std::string> hookCalls;

std::string readAll(DataStream& stream) {
    std::string text(static_cast<std::size_t>(bytesLeft(stream)), '\0');
    if (!text.empty()) stream.read(text.data(), static_cast<std::int32_t>(text.size()));
    return text;
}

class FakeRecord : public ResourceRecord {
public:
    explicit FakeRecord(const char* name) : ResourceRecord(name, kFakeDescriptor) {}
    ~FakeRecord() override { delete object; }

    std::int32_t readHeader(DataStream& stream) override {
        const std::string text = readAll(stream);
        hookCalls.push_back("header " + text);
        if (text.rfind("NOOBJ", 0) == 0) return 0;
        object = new FakeObject;
        object->header = text;
        if (text.rfind("THROW", 0) == 0) throw 1;
        return text.rfind("BAD", 0) == 0 ? -1 : static_cast<std::int32_t>(text.size());
    }
    std::int32_t readData(DataStream& stream) override {
        const std::string text = readAll(stream);
        hookCalls.push_back("data " + text);
        object->data = text;
        if (text.rfind("THROW", 0) == 0) throw 1;
        return text.rfind("BAD", 0) == 0 ? -1 : static_cast<std::int32_t>(text.size());
    }
    bool hasObject() const override { return object != nullptr; }
    bool allocateObject() override {
        ++allocations;
        hookCalls.push_back(std::string("allocate ") + name);
        return object->data != "NOALLOC";
    }
    void deallocateObject(bool final) override {
        hookCalls.push_back(std::string("deallocate ") + name + (final ? " final" : ""));
    }
    void unloadData() override { hookCalls.push_back(std::string("unload ") + name); }
    void deleteObject() override {
        hookCalls.push_back(std::string("delete ") + name);
        delete object;
        object = nullptr;
    }

    FakeObject* object = nullptr;
    static std::atomic<int> allocations;
};
std::atomic<int> FakeRecord::allocations{0};

class FakeManager : public Y3ResourceManager<FakeRecord, 2, 8> {
public:
    bool onAllocated() override { return allocatedAnswer; }
    bool allocatedAnswer = true;
};

class FakeQuietManager : public Y3ResourceManager<FakeRecord, 17, 17> {};

struct FakeUser : ResourceUser {
    explicit FakeUser(std::string userName) : text(std::move(userName)) {}
    const char* resourceUserName() const override { return text.c_str(); }
    bool resourcePushed() const override { return pushed; }
    void setResourcePushed(bool value) override { pushed = value; }
    std::string text;
    bool pushed = false;
};

std::vector<testing_support::FixtureFile> fakePackages() {
    std::vector<testing_support::FixtureFile> files;
    for (const auto& [name, bytes] : {std::pair{"alpha", "HA"}, {"beta", "HB"}, {"broken", "BAD"}, {"empty", "NOOBJ"},
                                      {"nodata", "HN"}, {"thrower", "THROW"},
                                      {"baddata", "HB"}, {"datathrow", "HT"}})
        files.push_back(storedFile(".fkh", name, bytes));
    for (const auto& [name, bytes] : {std::pair{"alpha", "DA"}, {"beta", "NOALLOC"}, {"thrower", "DT"},
                                      {"baddata", "BAD"}, {"datathrow", "THROW"}})
        files.push_back(storedFile(".fkd", name, bytes));
    return files;
}

class ResourceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        hookCalls.clear();
        FakeObject::live = 0;
        ASSERT_TRUE(packages.built());
    }
    void TearDown() override { EXPECT_EQ(FakeObject::live, 0); }

    Log& log() { return packages.log(); }

    ScopedPackages packages{fakePackages()};
    ManualClock clock;
};

TEST_F(ResourceManagerTest, RecordsAreSortedByNameAndMadeOnce) {
    FakeManager manager;
    FakeRecord* beta = manager.getOrCreate("beta", true);
    manager.getOrCreate("alpha", true);
    manager.getOrCreate("Zulu", false);
    manager.getOrCreate("gamma", false);
    EXPECT_EQ(manager.getOrCreate("beta", true), beta);
    ASSERT_EQ(manager.count(), 4u);
    const char* expected[] = {"Zulu", "alpha", "beta", "gamma"};  // byte order: upper case first
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_STREQ(manager.at(i)->name, expected[i]);
    EXPECT_FALSE(beta->has(kResourceUnavailable));
    EXPECT_EQ(manager.findRecord("gamma"), manager.at(3));
    EXPECT_EQ(manager.findRecord("delta"), nullptr);

    // A long name is cut to 127 characters and still found again.
    const std::string longName(200, 'x');
    FakeRecord* cut = manager.getOrCreate(longName.c_str(), false);
    EXPECT_EQ(std::strlen(cut->name), 127u);
    EXPECT_EQ(manager.getOrCreate(longName.c_str(), false), cut);
    EXPECT_EQ(manager.count(), 5u);
}

TEST_F(ResourceManagerTest, RecordsMadeInAnyOrderAreFoundAndReadInNameOrder) {
    // Names asked for at random, again and again, with reads by position in
    // between: every name has one record, found while it waits to be put in
    // order and after, and the array is always in name order.
    FakeQuietManager manager;
    std::mt19937 random(4242);
    const std::string longPrefix(127, 'L');
    std::map<std::string, FakeRecord*> made;
    for (int step = 0; step < 3000; ++step) {
        std::string name = "r" + std::to_string(random() % 700);
        if (random() % 10 == 0) name = longPrefix + name;  // all cut to the same 127 characters
        FakeRecord* record = manager.getOrCreate(name.c_str(), false);
        const std::string kept = name.substr(0, 127);
        auto [at, added] = made.emplace(kept, record);
        EXPECT_EQ(at->second, record) << kept;
        EXPECT_EQ(manager.findRecord(name.c_str()), record);
        if (random() % 200 == 0) {
            ASSERT_EQ(manager.count(), made.size());
            std::uint32_t i = 0;
            for (const auto& [n, r] : made) EXPECT_EQ(manager.at(i++), r) << n;
        }
    }
    ASSERT_EQ(manager.count(), made.size());
    std::uint32_t i = 0;
    for (const auto& [n, r] : made) EXPECT_STREQ(manager.at(i++)->name, n.c_str());
}

TEST_F(ResourceManagerTest, MissingHeaderFileGivesAnUnavailableRecord) {
    FakeManager manager;
    const std::size_t mark = log().recordCount();
    FakeRecord* quiet = manager.getOrCreate("ghost", false);
    EXPECT_TRUE(logSince(log(), mark).empty());
    FakeRecord* missing = manager.getOrCreate("phantom", true);
    EXPECT_EQ(logSince(log(), mark),
              std::vector<std::string>{"Fail while create fake data [phantom]: Resource file [phantom.fkh] not found"});

    const std::size_t afterCreate = log().recordCount();
    for (FakeRecord* record : {quiet, missing}) {
        EXPECT_TRUE(record->has(kResourceUnavailable));
        EXPECT_FALSE(manager.loadHeader(record, nullptr));
        EXPECT_FALSE(manager.loadData(record));
        EXPECT_FALSE(manager.allocate(record));
    }
    EXPECT_EQ(log().recordCount(), afterCreate);  // refused without a message
    EXPECT_TRUE(hookCalls.empty());

    FakeUser user("walker");
    EXPECT_FALSE(manager.push(missing, &user));
    EXPECT_EQ(logSince(log(), afterCreate),
              (std::vector<std::string>{"Can't push fake data: resourse [phantom] is invalid",
                                        "Can't push fake data instance to fake resource repository"}));
    EXPECT_FALSE(user.pushed);

    // A placeholder may be pushed although it is unavailable.
    missing->flags |= kResourcePlaceholder;
    EXPECT_TRUE(manager.push(missing, &user));
    EXPECT_TRUE(manager.pop(missing, &user));
}

TEST_F(ResourceManagerTest, HeaderAndDataLoadInTwoStages) {
    FakeManager manager;
    FakeRecord* alpha = manager.getOrCreate("alpha", true);
    const std::size_t mark = log().recordCount();

    EXPECT_FALSE(manager.loadData(alpha));
    EXPECT_TRUE(manager.loadHeader(alpha, nullptr));
    EXPECT_FALSE(manager.loadHeader(alpha, nullptr));
    EXPECT_TRUE(manager.loadData(alpha));
    EXPECT_FALSE(manager.loadData(alpha));
    EXPECT_EQ(logSince(log(), mark),
              (std::vector<std::string>{"Can't load fake data [alpha] data resource: First load header",
                                        "Can't twice load fake data [alpha] header resource: Already in RAM",
                                        "Can't twice load fake data [alpha] data resource: Already in RAM"}));
    EXPECT_EQ(hookCalls, (std::vector<std::string>{"header HA", "data DA"}));
    EXPECT_EQ(alpha->flags, kResourceHeaderLoaded | kResourceDataLoaded);

    // A header handed in as a stream is read from it, not from the packages.
    FakeRecord* beta = manager.getOrCreate("beta", true);
    MemoryStream stream;
    stream.write("HS", 2);
    stream.setPosition(0);
    EXPECT_TRUE(manager.loadHeader(beta, &stream));
    EXPECT_EQ(beta->object->header, "HS");
}

TEST_F(ResourceManagerTest, LoadingResetsTheWorldClock) {
    FakeManager manager;
    FakeRecord* alpha = manager.getOrCreate("alpha", true);
    clock.clocks().worldTime.step(1.0);
    clock.advance(0.5);
    clock.clocks().worldTime.step(1.0);
    ASSERT_GT(clock.clocks().worldTime.stepLength, 0.0);
    ASSERT_TRUE(manager.loadHeader(alpha, nullptr));
    EXPECT_EQ(clock.clocks().worldTime.stepLength, 0.0);
    EXPECT_EQ(clock.clocks().worldTime.counterFrequency, 0);
}

TEST_F(ResourceManagerTest, FailedLoadsAreReportedOnceAndLeaveTheRecordUnavailable) {
    struct Case {
        const char* name;
        bool headerOk;
        bool objectKept;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"broken", false, false, {"Fail read fake data [broken] header"}},
        {"empty", false, false, {"Fail while load fake data [empty] header"}},
        {"thrower", false, false, {"Exception: Failed to load fake data [thrower] header"}},
        {"nodata", true, true, {"\t\tFailed load resource [nodata.fkd] with mask []: NOT FOUND",
                                "Can't load fake data resource [nodata] data: resource not found"}},
        {"baddata", true, true, {"Fail read fake data [baddata] data"}},
        // The object of a data reader that threw is deleted with its header.
        {"datathrow", true, false, {"Exception: Failed to load fake data [datathrow] data"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeManager manager;
        FakeRecord* record = manager.getOrCreate(c.name, true);
        ASSERT_FALSE(record->has(kResourceUnavailable));
        const std::size_t mark = log().recordCount();
        EXPECT_EQ(manager.loadHeader(record, nullptr), c.headerOk);
        if (c.headerOk) {
            EXPECT_FALSE(manager.loadData(record));
        }
        EXPECT_EQ(logSince(log(), mark), c.messages);
        EXPECT_TRUE(record->has(kResourceUnavailable));
        // A failed header reader's object is deleted, not leaked.
        EXPECT_EQ(record->hasObject(), c.objectKept);
        EXPECT_EQ(record->has(kResourceHeaderLoaded), c.objectKept);
        EXPECT_EQ(FakeObject::live, c.objectKept ? 1 : 0);

        // Every later load or allocation is refused silently.
        const std::size_t later = log().recordCount();
        EXPECT_FALSE(manager.loadHeader(record, nullptr));
        EXPECT_FALSE(manager.loadData(record));
        EXPECT_FALSE(manager.allocate(record));
        EXPECT_EQ(log().recordCount(), later);
    }
}

TEST_F(ResourceManagerTest, AllocationLoadsWhatIsMissingAndReleaseUndoesIt) {
    FakeManager manager;
    FakeRecord* alpha = manager.getOrCreate("alpha", true);
    ASSERT_TRUE(manager.loadHeader(alpha, nullptr));
    EXPECT_TRUE(manager.allocate(alpha));
    EXPECT_TRUE(manager.allocate(alpha));  // already allocated: no second call
    EXPECT_EQ(hookCalls, (std::vector<std::string>{"header HA", "data DA", "allocate alpha"}));
    EXPECT_EQ(alpha->flags, kResourceHeaderLoaded | kResourceDataLoaded | kResourceAllocated);

    hookCalls.clear();
    alpha->release();
    EXPECT_EQ(hookCalls, (std::vector<std::string>{"deallocate alpha", "unload alpha", "delete alpha"}));
    EXPECT_EQ(alpha->flags, 0u);
    EXPECT_FALSE(alpha->hasObject());
    // Released, it can load again.
    EXPECT_TRUE(manager.loadHeader(alpha, nullptr));

    FakeRecord* beta = manager.getOrCreate("beta", true);
    ASSERT_TRUE(manager.loadHeader(beta, nullptr));
    const std::size_t mark = log().recordCount();
    EXPECT_FALSE(manager.allocate(beta));
    EXPECT_EQ(logSince(log(), mark),
              std::vector<std::string>{"Can't allocate fake data [beta]: Allocation failed"});
    EXPECT_FALSE(beta->has(kResourceAllocated | kResourceUnavailable));
}

TEST_F(ResourceManagerTest, AllocationWaitsForTheLoadingLock) {
    ProgressRecorder progress;
    FakeManager manager;
    FakeRecord* alpha = manager.getOrCreate("alpha", true);
    ASSERT_TRUE(manager.loadHeader(alpha, nullptr) && manager.loadData(alpha));
    FakeRecord::allocations = 0;

    std::atomic<bool> held{false}, release{false};
    std::thread loader([&] {
        std::lock_guard<std::recursive_mutex> lock(progress.loadingLock());
        held = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::atomic<bool> allocated{false};
    std::thread main([&] { allocated = manager.allocate(alpha); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(FakeRecord::allocations, 0);  // still polling
    release = true;
    loader.join();
    main.join();
    EXPECT_TRUE(allocated);
    EXPECT_EQ(FakeRecord::allocations, 1);
}

TEST_F(ResourceManagerTest, UsersArePushedAndPoppedOnce) {
    FakeManager manager;
    FakeRecord* alpha = manager.getOrCreate("alpha", true);
    FakeRecord* beta = manager.getOrCreate("beta", true);
    FakeUser first("first"), second("second"), third("third");
    const std::size_t mark = log().recordCount();

    EXPECT_TRUE(manager.push(alpha, &first));
    EXPECT_TRUE(manager.push(alpha, &second));
    EXPECT_FALSE(manager.push(alpha, &first));  // its pushed flag is set
    third.pushed = false;
    alpha->users.append(&third);  // listed without having been pushed
    EXPECT_FALSE(manager.push(alpha, &third));
    alpha->users.removeAt(2);
    EXPECT_FALSE(manager.pop(beta, &first));  // pushed, but onto another record
    EXPECT_TRUE(manager.pop(alpha, &first));
    EXPECT_FALSE(manager.pop(alpha, &first));
    EXPECT_EQ(logSince(log(), mark),
              (std::vector<std::string>{"Can't push fake data [first] twice",
                                        "Can't push fake [third] to fake data [alpha]: Already registered",
                                        "Can't push fake data instance to fake resource repository",
                                        "Can't delete fake [first] from fake data references list [beta]",
                                        "Can't pop fake data instance from fake resources repository",
                                        "Can't pop fake data [first]: push first"}));
    ASSERT_EQ(alpha->users.count(), 1u);
    EXPECT_EQ(alpha->users[0], &second);  // the last entry moved into the popped slot
    EXPECT_TRUE(manager.pop(alpha, &second));
}

TEST_F(ResourceManagerTest, AllocationPassReportsProgressInOrder) {
    ProgressRecorder progress;
    FakeManager manager;
    FakeUser a("a"), b("b"), c("c");
    FakeRecord* alpha = manager.getOrCreate("alpha", true);
    FakeRecord* beta = manager.getOrCreate("beta", true);
    FakeRecord* nodata = manager.getOrCreate("nodata", true);
    manager.getOrCreate("broken", true);  // no users: not touched
    ASSERT_TRUE(manager.push(alpha, &a) && manager.push(beta, &b) && manager.push(nodata, &c));

    const std::size_t mark = log().recordCount();
    EXPECT_FALSE(manager.allocateAll());
    EXPECT_FALSE(manager.ready());
    EXPECT_TRUE(alpha->has(kResourceAllocated));
    const std::vector<std::pair<std::int32_t, float>> expected = {
        {8, 0.0f}, {8, 1.0f / 3.0f}, {8, 2.0f / 3.0f}, {8, 1.0f}};
    EXPECT_EQ(progress.reports, expected);
    const auto messages = logSince(log(), mark);
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Can't allocate fake data resource [beta]"), messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Can't allocate fake data resource [nodata]"),
              messages.end());

    // Unload pass: stage 2, only allocated records without users.
    manager.pop(alpha, &a);
    progress.reports.clear();
    manager.releaseUnreferenced();
    EXPECT_EQ(progress.reports, (std::vector<std::pair<std::int32_t, float>>{{2, 0.0f}, {2, 1.0f}}));
    EXPECT_FALSE(alpha->hasObject());
    manager.pop(beta, &b);
    manager.pop(nodata, &c);
}

TEST_F(ResourceManagerTest, PassesOfEmptyAndQuietManagers) {
    ProgressRecorder progress;
    FakeManager empty;
    EXPECT_TRUE(empty.allocateAll());
    EXPECT_TRUE(empty.ready());
    empty.allocatedAnswer = false;
    EXPECT_FALSE(empty.allocateAll());
    EXPECT_EQ(progress.reports, (std::vector<std::pair<std::int32_t, float>>{{8, 1.0f}, {8, 1.0f}}));

    // Stage 17: every record handled gives a refresh-only report, no final one.
    progress.reports.clear();
    FakeQuietManager quiet;
    FakeUser a("a"), b("b");
    quiet.push(quiet.getOrCreate("alpha", true), &a);
    quiet.push(quiet.getOrCreate("thrower", true), &b);  // header throws: no allocation, still reported
    quiet.getOrCreate("beta", true);
    EXPECT_FALSE(quiet.allocateAll());
    EXPECT_EQ(progress.reports, (std::vector<std::pair<std::int32_t, float>>{{16, 0.0f}, {16, 0.0f}}));

    // Deallocation pass: a refresh after every record; headers stay.
    progress.reports.clear();
    quiet.deallocateAll();
    EXPECT_EQ(progress.reports.size(), 3u);
    EXPECT_FALSE(quiet.ready());
    FakeRecord* alpha = quiet.getOrCreate("alpha", false);
    EXPECT_EQ(alpha->flags, kResourceHeaderLoaded);
    EXPECT_NE(std::find(hookCalls.begin(), hookCalls.end(), "deallocate alpha final"), hookCalls.end());
    quiet.pop(alpha, &a);
    quiet.pop(quiet.getOrCreate("thrower", false), &b);
}

TEST_F(ResourceManagerTest, CollectorRunsAtMostOnceASecond) {
    struct Case {
        double start;
        double advance;
        bool runs;
        double clockAfter;
    };
    const Case cases[] = {
        {0.0, 0.5, false, 0.5},
        {0.5, 0.6, true, 0.1},
        {0.0, 1.5, true, 0.5},
        {0.9, 1.6, true, 0.0},  // 2.5 gathered: restarts at 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start + c.advance);
        FakeManager manager;
        for (const char* name : {"a", "b", "c"}) manager.getOrCreate(name, false);
        manager.setCollectionClock(c.start);
        clock.advance(c.advance);
        manager.collectUnused();
        EXPECT_NEAR(manager.collectionClock(), c.clockAfter, 1e-9);
        EXPECT_EQ(manager.collectionCursor(), c.runs ? 1 : 0);  // 3 records: 3 / 4 + 1 = 1 a pass
    }
}

TEST_F(ResourceManagerTest, CollectorBudgetAndWhatItDrops) {
    FakeManager big;
    for (int i = 0; i < 400; ++i) big.getOrCreate(("r" + std::to_string(1000 + i)).c_str(), false);
    big.setCollectionClock(0.0);
    clock.advance(1.0);
    big.collectUnused();
    EXPECT_EQ(big.collectionCursor(), 50);

    FakeManager manager;
    FakeUser user("keeper");
    FakeRecord* alpha = manager.getOrCreate("alpha", true);
    FakeRecord* nodata = manager.getOrCreate("nodata", true);
    ASSERT_TRUE(manager.loadHeader(alpha, nullptr) && manager.allocate(alpha));
    ASSERT_TRUE(manager.loadHeader(nodata, nullptr));
    ASSERT_TRUE(manager.push(nodata, &user));
    manager.setCollectionClock(0.0);
    clock.advance(1.0);
    manager.collectUnused();  // 2 records: one a pass, cursor wraps
    EXPECT_FALSE(alpha->hasObject());
    EXPECT_EQ(alpha->flags, 0u);
    EXPECT_EQ(manager.collectionCursor(), 1);
    clock.advance(1.0);
    manager.collectUnused();
    EXPECT_TRUE(nodata->hasObject());  // it has a user
    EXPECT_EQ(manager.collectionCursor(), 0);
    manager.pop(nodata, &user);
}

TEST_F(ResourceManagerTest, LostReferencesAreReportedAtDestruction) {
    FakeUser first("first"), second("second");
    std::size_t mark = log().recordCount();
    {
        FakeManager manager;
        FakeRecord* alpha = manager.getOrCreate("alpha", true);
        ASSERT_TRUE(manager.loadHeader(alpha, nullptr));
        manager.push(alpha, &first);
        manager.push(alpha, &second);
        alpha->users.append(nullptr);
    }
    EXPECT_EQ(logSince(log(), mark),
              (std::vector<std::string>{"Resource fake data [alpha] has lost references to fake(s):", " [0]->first",
                                        " [1]->second", " [2]->NULL"}));
    EXPECT_EQ(FakeObject::live, 0);

    // The game core's quiet-release flag silences the report.
    first.pushed = second.pushed = false;
    const std::uint32_t savedFlags = gameCore.flags;
    gameCore.flags |= 0x80000000u;
    mark = log().recordCount();
    {
        FakeManager manager;
        FakeRecord* alpha = manager.getOrCreate("alpha", true);
        manager.push(alpha, &first);
    }
    gameCore.flags = savedFlags;
    EXPECT_EQ(log().recordCount(), mark);
}

// A typed database that is both a resource manager and a data manager,
// the way most managers of the game are built.
class FakeDatabase : public Y3ResourceManager<FakeRecord, 17, 17>, public DataManager {
public:
    const char* sourceExtension() const override { return ".txt"; }
    const char* compiledExtension() const override { return ".fkh"; }
    std::int32_t typeNumber() const override { return 98; }
    const char* title() const override { return "Fake DB"; }
    std::int32_t readResource(DataStream&, const char*, std::int32_t) override { return -1; }
    bool compileFromSource(const char*) override { return false; }
    bool initialize() override { return true; }
    void release() override { releaseAll(); }
};

TEST_F(ResourceManagerTest, DataManagerReleaseEmptiesTheRecords) {
    FakeDatabase database;
    FakeRecord* alpha = database.getOrCreate("alpha", true);
    ASSERT_TRUE(database.loadHeader(alpha, nullptr));
    DataManager& manager = database;
    manager.release();
    EXPECT_EQ(database.count(), 0u);
    EXPECT_EQ(FakeObject::live, 0);
}

TEST(ReferenceList, ReleaseReportsEntriesLeft) {
    ScopedGameCore core;
    ReferenceList list;
    list.append(nullptr);
    list.append(nullptr);
    list.release();
    EXPECT_TRUE(core.log().contains("Found 2 unreferenced instanced. Require release"));
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.capacity(), 0u);
    EXPECT_EQ(list.data(), nullptr);
}

}  // namespace
