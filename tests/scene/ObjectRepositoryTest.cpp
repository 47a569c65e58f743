// The object table: handles, reuse, lookups of bad handles, save and load of
// the table, links to parents and the exit report.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/LoadingProgress.h"
#include "scene/GameObject.h"
#include "scene/ObjectRepository.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

// A game object with a configurable type, a 4-byte body and an optional
// world matrix (translation only), for the repository's own tests.
class TestObject : public GameObject {
public:
    TestObject(const char* name, std::uint32_t type = ObjectModel) : GameObject(name), type_(type) {}
    std::uint32_t getType() const override { return type_; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return scene; }
    bool push() override { return true; }
    bool pop(std::uint32_t) override { return true; }
    std::int32_t write(DataStream& s) override { return writeU32(s, body); }
    std::int32_t read(DataStream& s) override { return readU32(s, body); }
    bool validate() override { return true; }
    bool isLinkable() const override { return linkable; }
    bool getWorldMatrix(Matrix34& out) override {
        if (!hasMatrix) return GameObject::getWorldMatrix(out);
        out = matrix34Identity();
        out.m[9] = x;
        return true;
    }
    bool updatePhase0(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase1(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}

    std::uint32_t type_;
    std::uint32_t scene = 0;
    std::uint32_t body = 0;
    bool linkable = true;
    bool hasMatrix = true;
    float x = 0.0f;
};

// Installs a log and a fresh repository in the game core.
class RepositoryFixture : public ::testing::Test {
protected:
    RepositoryFixture() {
        saved_ = gameCore.objects;
        gameCore.objects = new ObjectRepository;
    }
    ~RepositoryFixture() override {
        delete gameCore.objects;
        gameCore.objects = saved_;
    }
    ObjectRepository& repo() { return *gameCore.objects; }
    Log& log() { return core_.log(); }
    std::size_t logCount(const std::string& text) {
        std::size_t n = 0;
        for (const auto& r : log().records())
            if (r.text.find(text) != std::string::npos) ++n;
        return n;
    }

    ScopedGameCore core_;
    ObjectRepository* saved_ = nullptr;
};

using ObjectRepositoryTest = RepositoryFixture;

TEST_F(ObjectRepositoryTest, ReusesTheMostRecentlyFreedHandleFirst) {
    auto p = std::make_unique<TestObject>("P");
    auto q = std::make_unique<TestObject>("Q");
    auto r = std::make_unique<TestObject>("R");
    EXPECT_EQ(p->id, 1u);
    EXPECT_EQ(q->id, 2u);
    EXPECT_EQ(r->id, 3u);
    q.reset();
    r.reset();
    auto s = std::make_unique<TestObject>("S");
    auto t = std::make_unique<TestObject>("T");
    EXPECT_EQ(s->id, 3u);
    EXPECT_EQ(t->id, 2u);
    EXPECT_EQ(repo().count(), 3u);
    EXPECT_TRUE(repo().freeIndices().empty());

    // A requested handle takes that slot, off the free stack; a live one is
    // refused, and so is one beyond the table.
    repo().Obj_FREE(s.get());
    repo().setRequestedIndex(3);
    auto u = std::make_unique<TestObject>("U");
    EXPECT_EQ(u->id, 3u);
    EXPECT_TRUE(repo().freeIndices().empty());
    for (std::int32_t requested : {1, 4, -1}) {
        repo().setRequestedIndex(requested);
        auto refused = std::make_unique<TestObject>("refused");
        EXPECT_EQ(refused->id, 0u) << requested;
        EXPECT_EQ(repo().getObject(GameObjectLink{1}), p.get());
    }
    EXPECT_TRUE(log().contains("Can't register game object: handle [1] is in use"));
    s->id = 0;

    // Freeing twice (an id already 0) is silent.
    const std::size_t before = log().recordCount();
    repo().Obj_FREE(t.get());
    repo().Obj_FREE(t.get());
    EXPECT_EQ(log().recordCount(), before);
    EXPECT_EQ(repo().freeIndices().size(), 1u);
}

TEST_F(ObjectRepositoryTest, BadHandlesGiveNoObjectAndTheirMessage) {
    // An empty table answers quietly.
    EXPECT_EQ(repo().access(GameObjectLink{0}), nullptr);
    EXPECT_EQ(log().recordCount(), 0u);

    auto a = std::make_unique<TestObject>("A");
    auto b = std::make_unique<TestObject>("B");
    const GameObjectLink linkB = GameObjectLink::fromObject(b.get());
    EXPECT_EQ(repo().getObject(linkB), b.get());
    // The upper 8 bits of a link are ignored.
    EXPECT_EQ(repo().getObject(GameObjectLink{0xAB000001u}), a.get());

    EXPECT_EQ(repo().getObject(GameObjectLink{0}), nullptr);
    EXPECT_EQ(log().recordCount(), 0u);

    struct Case {
        std::uint32_t link;
        const char* message;
    } cases[] = {
        {0, "OUT OF OBJECT ACCESS index [0]"},
        {3, "OUT OF OBJECT ACCESS index [3]"},
        {0x00FFFFFF, "OUT OF OBJECT ACCESS index [16777215]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(repo().access(GameObjectLink{c.link}), nullptr) << c.link;
        EXPECT_EQ(logCount(c.message), 1u) << c.message;
    }

    b.reset();
    EXPECT_EQ(repo().getObject(linkB), nullptr);
    EXPECT_EQ(logCount("Try to access to dead object pointer [2]. Redirect to null ptr"), 1u);
    // A new object takes the slot: the stale link now finds it.
    auto c = std::make_unique<TestObject>("C");
    EXPECT_EQ(repo().getObject(linkB), c.get());
}

TEST_F(ObjectRepositoryTest, LinksReportNullObjects) {
    GameObjectLink link{7};
    link.assign(nullptr);
    EXPECT_EQ(link.value, 0u);
    auto a = std::make_unique<TestObject>("A");
    EXPECT_TRUE(GameObjectLink{0}.differsFrom(a.get()));
    EXPECT_FALSE(GameObjectLink{1}.differsFrom(a.get()));
    EXPECT_FALSE(GameObjectLink{0}.differsFrom(nullptr));
    EXPECT_EQ(objectHandle(nullptr), 0u);
    EXPECT_EQ(logCount("Game object error [NULL]: Memory broken in GameObject index access"), 3u);
    EXPECT_EQ(GameObjectLink::fromObject(nullptr).value, 0u);
}

// Counts the progress reports of a load.
class ProgressRecorder : public LoadingProgress {
public:
    ProgressRecorder() { setLoadingProgress(this); }
    ~ProgressRecorder() override { setLoadingProgress(nullptr); }
    void setProgress(std::int32_t stage, float) override { stage == kProgressRefreshStage ? ++refreshes : ++others; }
    std::recursive_mutex& loadingLock() override { return lock_; }
    int refreshes = 0;
    int others = 0;

private:
    std::recursive_mutex lock_;
};

// Makes test objects for the table's load, at the requested handle.
GameObject* makeTestObject(std::uint32_t type, const char* name, std::uint32_t scene, std::uint32_t) {
    auto* object = new TestObject(name, type);
    object->scene = scene;
    return object;
}

// The check's reader of a test object's own data: its body word.
std::int32_t readBody(const ObjectRepository::SavedRecord&, DataStream& s) {
    std::uint32_t body = 0;
    return readU32(s, body);
}

TEST_F(ObjectRepositoryTest, TableWrittenAndReadBackRestoresHandlesAndFreeStack) {
    // Names are cut to 127 characters when the object is built.
    EXPECT_EQ(std::strlen(TestObject(std::string(200, 'x').c_str()).name), 127u);
    std::string longName(127, 'n');
    auto* scene = new TestObject("scene", ObjectScene);
    auto* gone1 = new TestObject("gone1");
    auto* model = new TestObject(longName.c_str(), ObjectModel);
    auto* gone2 = new TestObject("gone2");
    new TestObject("sound", ObjectSound);
    model->scene = scene->id;
    model->body = 0x1234;
    Matrix34 pose = matrix34Identity();
    pose.m[10] = 2.5f;
    model->link.set("bone01", scene, pose);
    delete gone2;  // freed first: bottom of the stack
    delete gone1;

    MemoryStream stream;
    const std::int32_t written = repo().write(stream);
    ASSERT_GT(written, 0);
    EXPECT_EQ(written, stream.size());
    const std::vector<std::int32_t> freeBefore = repo().freeIndices();

    // The check reads the whole table and leaves the live one alone.
    stream.setPosition(0);
    EXPECT_EQ(repo().check(stream, readBody), written);
    EXPECT_EQ(repo().getObject(GameObjectLink{3}), model);

    // The objects of the old table are gone; the load rebuilds them.
    repo().releaseUnreferenced();
    repo().setLoadFactory(makeTestObject);
    stream.setPosition(0);
    {
        // One keep-alive report before each of the three records.
        ProgressRecorder progress;
        ASSERT_EQ(repo().read(stream), written);
        EXPECT_EQ(progress.refreshes, 3);
        EXPECT_EQ(progress.others, 0);
    }

    EXPECT_EQ(repo().count(), 5u);
    EXPECT_EQ(repo().freeIndices(), freeBefore);
    auto* scene2 = static_cast<TestObject*>(repo().getObject(GameObjectLink{1}));
    auto* model2 = static_cast<TestObject*>(repo().getObject(GameObjectLink{3}));
    auto* sound2 = static_cast<TestObject*>(repo().getObject(GameObjectLink{5}));
    ASSERT_TRUE(scene2 && model2 && sound2);
    EXPECT_STREQ(scene2->name, "scene");
    EXPECT_EQ(scene2->getType(), static_cast<std::uint32_t>(ObjectScene));
    EXPECT_EQ(model2->name, longName);
    EXPECT_EQ(model2->scene, 1u);
    EXPECT_EQ(model2->body, 0x1234u);
    EXPECT_EQ(model2->link.parent().value, 1u);
    EXPECT_STREQ(model2->link.boneName(), "bone01");
    EXPECT_EQ(model2->link.pose().m[10], 2.5f);
    EXPECT_STREQ(sound2->name, "sound");
    // Slots of objects that were not written stay dead.
    EXPECT_EQ(repo().getObject(GameObjectLink{2}), nullptr);
    EXPECT_FALSE(repo().isLive(3));
    // The next new objects reuse the free stack as before the save.
    EXPECT_EQ((new TestObject("next"))->id, 2u);
    repo().releaseUnreferenced();
}

// A saved table of one model, with its free stack, count and record
// fields given by the case.
std::string tableBytes(const std::vector<std::uint32_t>& freeStack, std::uint32_t slots, std::uint32_t type,
                       std::uint32_t handle, std::uint16_t boneLength, int records = 1) {
    MemoryStream s;
    writeU32(s, static_cast<std::uint32_t>(freeStack.size()));
    for (std::uint32_t i : freeStack) writeU32(s, i);
    writeU32(s, slots);
    for (int r = 0; r < records; ++r) {
        writeU32(s, type);
        writeU32(s, 0);
        writeU32(s, handle);
        writeU32(s, 0);
        writeU8(s, 1);
        s.write("m", 1);
        writeU32(s, 0);  // body
        writeU32(s, 0);  // link parent
        for (int i = 0; i < 12; ++i) writeF32(s, 0.0f);
        writeU16(s, boneLength);
        std::string bone(boneLength, 'b');
        if (boneLength) s.write(bone.data(), boneLength);
    }
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

TEST_F(ObjectRepositoryTest, BrokenTablesAreRefused) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> freeStack;
        std::uint32_t slots, type, handle;
        std::uint16_t bone;
        const char* message;
        int records = 1;
    } cases[] = {
        {"movie", {}, 2, ObjectMovie, 1, 0, " Invalid game object type. Load stream corrupted"},
        {"type 13", {}, 2, 13, 1, 0, "Can't load object: save file data is broken"},
        {"free index out of range", {1, 5}, 2, ObjectModel, 1, 0, "invalid free slot index [5]"},
        {"free index twice", {1, 1}, 2, ObjectModel, 1, 0, "invalid free slot index [1]"},
        {"handle 0", {}, 2, ObjectModel, 0, 0, "invalid object handle [0]"},
        {"handle beyond the table", {}, 2, ObjectModel, 3, 0, "invalid object handle [3]"},
        {"slot count beyond 24 bits", {}, 0x01000000, ObjectModel, 1, 0, "exceed the handle range"},
        {"slot count beyond the data", {}, 0x00FFFFFF, ObjectModel, 1, 0, "exceed what the save holds"},
        {"bone name too long", {}, 2, ObjectModel, 1, 128, "does not fit its field"},
        {"one handle twice", {}, 3, ObjectModel, 2, 0, "invalid object handle [2]", 2},
    };
    repo().setLoadFactory(makeTestObject);
    for (const Case& c : cases) {
        std::string bytes = tableBytes(c.freeStack, c.slots, c.type, c.handle, c.bone, c.records);
        MemoryStream s(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        {
            testing_support::LargestAllocation largest;
            EXPECT_LT(repo().read(s), 0) << c.what;
            if (testing_support::LargestAllocation::recording()) {
                EXPECT_LT(largest.bytes(), 1u << 20) << c.what;
            }
        }
        EXPECT_EQ(logCount(c.message), 1u) << c.what;
        repo().releaseUnreferenced();
        // The check before a load refuses the same table, touching nothing.
        MemoryStream again(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        EXPECT_LT(repo().check(again, readBody), 0) << c.what;
        EXPECT_EQ(logCount(c.message), 2u) << c.what;
        EXPECT_EQ(repo().count(), 0u) << c.what;
    }
    // A bone name of 127 characters fits.
    std::string bytes = tableBytes({}, 2, ObjectModel, 1, 127);
    MemoryStream checked(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(repo().check(checked, readBody), static_cast<std::int32_t>(bytes.size()));
    MemoryStream s(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(repo().read(s), static_cast<std::int32_t>(bytes.size()));
    ASSERT_NE(repo().getObject(GameObjectLink{1}), nullptr);
    EXPECT_EQ(std::strlen(repo().getObject(GameObjectLink{1})->link.boneName()), 127u);
    repo().releaseUnreferenced();
}

GameObject* failingFactory(std::uint32_t, const char* name, std::uint32_t, std::uint32_t) {
    engineLog().error("Can't create model [%s] for loading", name);
    return nullptr;
}

TEST_F(ObjectRepositoryTest, AFactoryFailureIsReportedByTheFactoryAlone) {
    std::string bytes = tableBytes({}, 2, ObjectModel, 1, 0);
    MemoryStream s(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    repo().setLoadFactory(failingFactory);
    EXPECT_LT(repo().read(s), 0);
    EXPECT_EQ(logCount("Can't create model [m] for loading"), 1u);
}

TEST_F(ObjectRepositoryTest, ObjectsLeftInTheTableLoseTheirHandlesOnLoad) {
    auto stale = std::make_unique<TestObject>("stale");
    std::string bytes = tableBytes({}, 1, ObjectModel, 1, 0);
    MemoryStream s(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    repo().setLoadFactory(makeTestObject);
    ASSERT_GT(repo().read(s), 0);
    EXPECT_EQ(stale->id, 0u);
    EXPECT_TRUE(log().contains("Object repository load: game object [0] [stale] still alive, its handle dropped"));
    GameObject* loaded = repo().getObject(GameObjectLink{1});
    ASSERT_NE(loaded, nullptr);
    EXPECT_STREQ(loaded->name, "m");
    // Deleting the stale object leaves the loaded one in its slot.
    const std::size_t before = log().recordCount();
    stale.reset();
    EXPECT_EQ(log().recordCount(), before);
    EXPECT_EQ(repo().getObject(GameObjectLink{1}), loaded);
    repo().releaseUnreferenced();
}

TEST_F(ObjectRepositoryTest, DeletedParentLinkEvaluatesToIdentity) {
    auto parent = std::make_unique<TestObject>("parent");
    auto child = std::make_unique<TestObject>("child");
    parent->x = 10.0f;
    Matrix34 pose = matrix34Identity();
    pose.m[9] = 1.0f;
    child->link.set(nullptr, parent.get(), pose);
    Matrix34 world{};
    ASSERT_TRUE(child->link.evaluate(world));
    EXPECT_EQ(world.m[9], 11.0f);

    parent.reset();
    EXPECT_FALSE(child->link.evaluate(world));
    const Matrix34 identity = matrix34Identity();
    EXPECT_EQ(std::memcmp(&world, &identity, sizeof(world)), 0);
    EXPECT_EQ(child->link.parent().value, 0u);
    EXPECT_EQ(logCount("Can't evaluate linked object [child] position: Parent object deleted. Release link"), 1u);
    // The link is dropped: a second evaluation is quiet.
    EXPECT_FALSE(child->link.evaluate(world));
    EXPECT_EQ(logCount("Parent object deleted"), 1u);
}

TEST_F(ObjectRepositoryTest, ParentWithoutMatrixDropsTheLink) {
    auto parent = std::make_unique<TestObject>("parent");
    auto child = std::make_unique<TestObject>("child");
    parent->hasMatrix = false;
    Matrix34 world{};
    child->link.set(nullptr, parent.get(), matrix34Identity());
    EXPECT_FALSE(child->link.evaluate(world));
    EXPECT_EQ(logCount("Can't link [child] to [parent] bone. Remove this link"), 1u);
    EXPECT_EQ(logCount("object [parent] not support world position property"), 1u);
    EXPECT_EQ(child->link.parent().value, 0u);

    child->link.set("hand", parent.get(), matrix34Identity());
    EXPECT_FALSE(child->link.evaluate(world));
    EXPECT_EQ(logCount("Can't link [child] to <parent>->[hand]. Remove this link"), 1u);

    // A parent that cannot be linked just now keeps the link.
    parent->linkable = false;
    child->link.set(nullptr, parent.get(), matrix34Identity());
    EXPECT_FALSE(child->link.evaluate(world));
    EXPECT_EQ(child->link.parent().value, parent->id);
}

TEST_F(ObjectRepositoryTest, ExitReportForObjectsLeftInTheTable) {
    const char* kLeak = " Not all repository object released before exit. Call developers.";
    {
        // Freed sentinels still count until the release empties the table.
        auto a = std::make_unique<TestObject>("A");
    }
    repo().checkEmpty();
    EXPECT_EQ(logCount(kLeak), 1u);
    repo().checkEmpty();
    EXPECT_EQ(logCount(kLeak), 1u);

    new TestObject("leftover");
    repo().releaseUnreferenced();
    EXPECT_EQ(logCount("Object repository release unreferenced game object [0] [model] [leftover]"), 1u);
    repo().checkEmpty();
    EXPECT_EQ(logCount(kLeak), 1u);

    auto leak = std::make_unique<TestObject>("leak");
    delete gameCore.objects;  // the destructor reports
    gameCore.objects = new ObjectRepository;
    EXPECT_EQ(logCount(kLeak), 2u);
    leak->id = 0;
}

}  // namespace
