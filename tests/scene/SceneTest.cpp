// Scenes made from their resource records: the debug scene of a missing
// resource, the scene context, the data record reader.
#include "scene/Scene.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"
#include "scene/ObjectRepository.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

using testing_support::FixtureFile;
using testing_support::FixturePackage;
using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

// A scene data record: magic, name, then the four object counts.
std::string sceneRecord(std::uint32_t magic, const std::string& name, std::uint32_t models = 0) {
    MemoryStream stream;
    writeU32(stream, magic);
    writeU8(stream, static_cast<std::uint8_t>(name.size()));
    stream.write(name.data(), static_cast<std::int32_t>(name.size()));
    writeU32(stream, models);
    for (int i = 0; i < 3; ++i) writeU32(stream, 0);
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

struct SceneWorld {
    SceneWorld() {
        gameCore.objects = &objects;
        setSceneDataManager(&manager);
    }
    ~SceneWorld() {
        setSceneDataManager(savedManager);
        gameCore.objects = savedObjects;
    }
    ObjectRepository* savedObjects = gameCore.objects;
    SceneDataManager* savedManager = sceneDataManager();
    ObjectRepository objects;
    SceneDataManager manager;
};

TEST(Scene, MissingResourceGivesADebugSceneThatPushesAndPopsEmpty) {
    ScopedGameCore core;
    SceneWorld world;
    Y3SceneDataInstance* record = world.manager.get("nowhere", true);
    EXPECT_TRUE(core.log().contains("Fail while create scene data [nowhere]: Resource file [nowhere.ms4] not found"));

    std::unique_ptr<Scene> scene(SceneContext::createScene(record));
    ASSERT_NE(scene, nullptr);
    EXPECT_TRUE(core.log().contains("Can't find resource for scene [nowhere]. Create debug scene"));
    EXPECT_TRUE(scene->isDebugScene());
    EXPECT_STREQ(scene->getName(), "nowhere");
    EXPECT_EQ(scene->getType(), static_cast<std::uint32_t>(ObjectScene));
    EXPECT_EQ(world.objects.getObject(GameObjectLink{scene->id}), scene.get());

    EXPECT_TRUE(scene->initialize(matrix34Identity()));
    EXPECT_NE(scene->flags & kSceneInitialised, 0u);
    EXPECT_TRUE(scene->push());
    EXPECT_TRUE(scene->onStack());
    ASSERT_NE(record->context, nullptr);
    EXPECT_FALSE(scene->push());
    EXPECT_TRUE(core.log().contains("Can't push scene [nowhere]: Already on stack"));

    EXPECT_TRUE(scene->pop(0));
    EXPECT_EQ(record->context, nullptr);
    EXPECT_TRUE(record->instances.empty());
    EXPECT_FALSE(scene->pop(0));
    EXPECT_TRUE(core.log().contains("Can't pop scene [nowhere]: push first"));
    EXPECT_TRUE(scene->push());  // back again after a pop
    EXPECT_TRUE(scene->restoreSounds(CurrentTime()));
    scene->release();
}

TEST(Scene, ScenesOfOneResourceShareOneContextUntilTheLastLeaves) {
    ScopedGameCore core;
    SceneWorld world;
    Y3SceneDataInstance* record = world.manager.get("hall", false);
    std::unique_ptr<Scene> first(SceneContext::createScene(record));
    std::unique_ptr<Scene> second(SceneContext::createScene(record));
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->push());
    SceneContext* context = record->context.get();
    ASSERT_TRUE(second->push());
    EXPECT_EQ(record->context.get(), context);
    EXPECT_EQ(context->instances.size(), 2u);
    ASSERT_TRUE(first->pop(0));
    EXPECT_EQ(record->context.get(), context);
    // A scene destroyed while on stack leaves its resource behind it clean.
    second.reset();
    EXPECT_TRUE(record->instances.empty());
    EXPECT_EQ(record->context, nullptr);
}

TEST(Scene, DestructorReportsWhatReleaseLeft) {
    ScopedGameCore core;
    SceneWorld world;
    auto scene = std::unique_ptr<Scene>(SceneContext::createScene(world.manager.get("yard", false)));
    scene->models.push_back(GameObjectLink{12345});
    scene->sounds[3].push_back(GameObjectLink{12346});
    scene.reset();
    EXPECT_TRUE(core.log().contains(" Scene [yard] required call release() before destructor (models)"));
    EXPECT_TRUE(core.log().contains(" Scene [yard] required call release() before destructor (sound->ambient_loop)"));
    EXPECT_FALSE(core.log().contains("(particles)"));
}

TEST(SceneDataManager, ReadsOnlyRecordsItCanPlace) {
    struct Case {
        const char* what;
        std::string bytes;
        bool read;
    };
    const std::string good = sceneRecord(kSceneDataMagic, "hall");
    const Case cases[] = {
        {"empty scene", good, true},
        {"wrong magic", sceneRecord(0x12345678, "hall"), false},
        {"name longer than its field", sceneRecord(kSceneDataMagic, std::string(200, 'n')), false},
        {"models it cannot place", sceneRecord(kSceneDataMagic, "hall", 2), false},
        {"cut short", good.substr(0, good.size() - 3), false},
    };
    ScopedGameCore core;
    for (const Case& c : cases) {
        Y3SceneDataInstance record("hall");
        MemoryStream stream;
        stream.write(c.bytes.data(), static_cast<std::int32_t>(c.bytes.size()));
        stream.setPosition(0);
        const std::int32_t result = record.readHeader(stream);
        EXPECT_EQ(result >= 0, c.read) << c.what;
        EXPECT_EQ(record.hasObject(), c.read) << c.what;
        if (c.read) {
            EXPECT_EQ(result, static_cast<std::int32_t>(c.bytes.size()));
            EXPECT_STREQ(record.data->name, "hall");
        }
        record.deleteObject();
    }
}

TEST(SceneContext, AStoredSceneNeedsItsSkyAndReadsItsDataWhenPushed) {
    TempDir dir;
    FixturePackage package;
    package.files = {{".ms4", "hall", sceneRecord(kSceneDataMagic, "hall"), ""},
                     {".ms4", "broken", sceneRecord(0x1, "broken"), ""},
                     {".ms4", "bare", sceneRecord(kSceneDataMagic, "bare"), ""},
                     {".sky", "hall", "sky", ""},
                     {".sky", "broken", "sky", ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    SceneWorld world;

    EXPECT_EQ(SceneContext::createScene(world.manager.get("bare", true)), nullptr);
    EXPECT_TRUE(packages.log().contains("Y3Sky [bare] resource is invalid"));
    EXPECT_TRUE(packages.log().contains("Required sky settings sky for scene [bare]"));

    std::unique_ptr<Scene> hall(SceneContext::createScene(world.manager.get("hall", true)));
    ASSERT_NE(hall, nullptr);
    EXPECT_FALSE(hall->isDebugScene());
    EXPECT_TRUE(hall->initialize(matrix34Identity()));
    EXPECT_TRUE(hall->push());
    EXPECT_TRUE(hall->resource->hasObject());

    std::unique_ptr<Scene> broken(SceneContext::createScene(world.manager.get("broken", true)));
    ASSERT_NE(broken, nullptr);
    // A push that cannot read the data leaves nothing pushed; the next one
    // finds the resource invalid instead of finding the scene on stack.
    const char* const failures[] = {"Can't load scene source data [broken]", "Can't push scene data [broken]"};
    for (const char* failure : failures) {
        packages.log().clear();
        EXPECT_FALSE(broken->push());
        EXPECT_TRUE(packages.log().contains(failure)) << failure;
        EXPECT_FALSE(broken->onStack());
        EXPECT_TRUE(broken->resource->instances.empty());
    }
    EXPECT_FALSE(packages.log().contains("Already on stack"));
    hall->pop(0);
}

}  // namespace
