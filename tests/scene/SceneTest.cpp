// Scenes made from their resource records: the debug scene of a missing
// resource, the scene context, the data record and stored scenes written by
// the scene writer.
#include "scene/Scene.h"

#include <gtest/gtest.h>

#include "model/ModelWriter.h"
#include "particle/ParticleWriter.h"
#include "model/Y3Model.h"

#include <limits>
#include <memory>
#include <string>

#include "app/ObjectFactories.h"
#include "control/Grid.h"
#include "effects/LightDataManager.h"
#include "effects/Sprite.h"
#include "effects/LightSetLibrary.h"
#include "effects/RainMap.h"
#include "effects/SkyDataManager.h"
#include "foundation/DataStream.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "model/ModelDataManager.h"
#include "model/ModelResourceSupport.h"
#include "grid/GridWriter.h"
#include "scene/CameraCore.h"
#include "scene/SceneObjectFlags.h"
#include "scene/SceneDescription.h"
#include "foundation/TimeCore.h"
#include "scene/ObjectRepository.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "support/PackageFixture.h"
#include "support/PassContext.h"
#include "render/RenderCore.h"
#include "support/TestSupport.h"

using testing_support::FixtureFile;
using testing_support::FixturePackage;
using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

struct SceneWorld {
    SceneWorld() {
        gameCore.objects = &objects;
        gameCore.lightSets = &lightSets;
        gameCore.waypoints = &waypoints;
        gameCore.spriteData = &sprites;
        setSceneDataManager(&manager);
    }
    ~SceneWorld() {
        setSceneDataManager(savedManager);
        gameCore.waypoints = savedWaypoints;
        gameCore.spriteData = savedSprites;
        gameCore.lightSets = savedLightSets;
        gameCore.objects = savedObjects;
        lightDataManager().clear();
    }
    ObjectRepository* savedObjects = gameCore.objects;
    LightSetLibrary* savedLightSets = gameCore.lightSets;
    WaypointDataManager* savedWaypoints = gameCore.waypoints;
    SpriteDataManager* savedSprites = gameCore.spriteData;
    SceneDataManager* savedManager = sceneDataManager();
    ObjectRepository objects;
    LightSetLibrary lightSets;
    WaypointDataManager waypoints;
    SpriteDataManager sprites;
    SceneDataManager manager;
    // The screen-action records of this test's packages only.
    SceneActionDataManager actions;
    testing_support::ScopedCoreMember<SceneActionDataManager> useActions{gameCore.screenActions, &actions};
    // The sky records of this test's packages only.
    SkyDataManager skies;
    testing_support::ScopedCoreMember<SkyDataManager> useSkies{gameCore.skyData, &skies};
};

// The resources the scene writer makes of a description, as package files.
std::vector<FixtureFile> storedScene(const std::string& description) {
    scene_tools::SceneDescription scene;
    std::string error;
    EXPECT_TRUE(scene_tools::parseSceneDescription(description, scene, error)) << error;
    const std::string name = scene.data.name;
    std::vector<FixtureFile> files = {{".ms4", name, scene_tools::sceneDataBytes(scene.data), ""}};
    if (!scene.waypoints.poses().empty()) files.push_back({".wp", name, scene_tools::waypointBytes(scene.waypoints), ""});
    for (const LightSet& set : scene.lightSets) files.push_back({".ls", set.name, scene_tools::lightSetBytes(set), ""});
    if (scene.sky) files.push_back({".sky", name, "sky", ""});
    if (scene.actions)
        files.push_back({".as", name, scene_tools::sceneActionBytes(scene), ""});
    return files;
}

// The bytes of a scene data record of a description.
std::string sceneRecord(const std::string& description) {
    scene_tools::SceneDescription scene;
    std::string error;
    EXPECT_TRUE(scene_tools::parseSceneDescription(description, scene, error)) << error;
    return scene_tools::sceneDataBytes(scene.data);
}

// The position of the first log record that contains the text, or -1.
std::ptrdiff_t logPosition(const Log& log, const std::string& text) {
    const std::vector<LogRecord> records = log.records();
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].text.find(text) != std::string::npos) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

constexpr char kHarbour[] = R"(
# the harbour: two lights, a camera pose, a waypoint
scene harbour
sky
actions
lightset harbour_default ambient 0.2 0.2 0.3
light point lamp at 1 2 3 radius 4 colour 1 0.9 0.7
light direct sun radius 50 distance 100
pose camera view at 0 5 -10
pose point spawn at 0 0 1
waypoint point pier at 5 0 5
waypoint camera overview at 0 20 -20
area water at 0 0 0 extents 40 10 40
area pier at 12 0 4 extents 3 5 3
)";

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
    // Its sky, never pushed, is not popped either.
    EXPECT_EQ(scene->sky->state, 0u);
    EXPECT_FALSE(core.log().contains("sky"));
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
    SceneContext* context = record->context;
    ASSERT_TRUE(second->push());
    EXPECT_EQ(record->context, context);
    EXPECT_EQ(context->instances.size(), 2u);
    ASSERT_TRUE(first->pop(0));
    EXPECT_EQ(record->context, context);
    // Neither push nor pop runs while a render pass holds the context.
    {
        RenderCore render;
        testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
        bool pushed = true, popped = true;
        testing_support::PassContext during([&] {
            pushed = first->push();
            popped = second->pop(0);
        });
        render.updateContexts();
        EXPECT_FALSE(pushed);
        EXPECT_TRUE(core.log().contains("Can't push scene [hall] (hall): render context locked"));
        EXPECT_FALSE(popped);
        EXPECT_TRUE(core.log().contains("Can't pop scene [hall] (hall): render context locked"));
    }
    EXPECT_TRUE(second->onStack());
    EXPECT_FALSE(first->onStack());
    // A scene destroyed while on stack leaves its resource behind it clean.
    second.reset();
    EXPECT_TRUE(record->instances.empty());
    EXPECT_EQ(record->context, nullptr);
}

// The scene context is an object context (type 6) that the first push
// registers in the render list under the resource's name; the render core
// culls it as seen while it has scenes, and the last pop releases it.
TEST(Scene, TheSceneContextEntersTheRenderListThroughItsRenderObject) {
    ScopedGameCore core;
    SceneWorld world;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    Y3SceneDataInstance* record = world.manager.get("hall", false);
    std::unique_ptr<Scene> scene(SceneContext::createScene(record));
    ASSERT_TRUE(scene && scene->push());
    ASSERT_NE(record->context, nullptr);
    EXPECT_EQ(render.renderList.head, &record->renderObject);
    EXPECT_EQ(record->renderObject.context, record->context);
    EXPECT_EQ(record->context->type(), 6);
    EXPECT_STREQ(record->renderObject.displayName(), "hall");
    render.updateContexts();
    EXPECT_EQ(record->renderObject.visible, 1);
    ASSERT_TRUE(scene->pop(0));
    EXPECT_EQ(record->context, nullptr);
    EXPECT_EQ(record->renderObject.context, nullptr);
    EXPECT_EQ(render.renderList.head, nullptr);
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

TEST(SceneData, ReadsWhatTheWriterWritesAndRefusesDamagedRecords) {
    ScopedGameCore core;
    const std::string full = sceneRecord(std::string(kHarbour) + R"(
model boat boat_model at 1 0 0 texture_set 2
sprite gull gull_sprite at 0 3 0
)");
    {
        SceneData data;
        MemoryStream stream(const_cast<char*>(full.data()), static_cast<std::int32_t>(full.size()));
        ASSERT_EQ(data.read(stream), static_cast<std::int32_t>(full.size()));
        EXPECT_STREQ(data.name, "harbour");
        ASSERT_EQ(data.models.size(), 1u);
        EXPECT_STREQ(data.models[0].model, "boat_model");
        EXPECT_EQ(data.models[0].properties.textureSet, 2u);
        EXPECT_FLOAT_EQ(data.models[0].pose.m[9], 1.0f);
        ASSERT_EQ(data.sprites.size(), 1u);
        ASSERT_EQ(data.lights.size(), 2u);
        EXPECT_EQ(data.lights[0]->type(), 0u);
        EXPECT_FLOAT_EQ(data.lights[0]->radius, 4.0f);
        EXPECT_EQ(data.lights[1]->type(), 1u);
        ASSERT_EQ(data.poses.size(), 2u);
        EXPECT_EQ(data.pvs.areas.size(), 2u);
        EXPECT_EQ(data.poses[0]->type(), static_cast<std::uint32_t>(PoseCamera));
        EXPECT_FLOAT_EQ(data.poses[0]->pose.m[11], -10.0f);
    }
    // Every cut of the record is refused without a crash.
    for (std::size_t size = 0; size < full.size(); ++size) {
        Y3SceneDataInstance record("harbour");
        MemoryStream stream(const_cast<char*>(full.data()), static_cast<std::int32_t>(size));
        EXPECT_LT(record.readHeader(stream), 0) << size;
        EXPECT_FALSE(record.hasObject()) << size;
    }
    // A record that still parses after damage is refused all the same: a
    // count changed, numbers that are not finite where geometry is read,
    // bytes left after the visibility block.
    // The bytes at an offset from where the anchor's bytes begin, replaced.
    auto patched = [&full](const std::string& anchor, std::ptrdiff_t offset, const void* bytes, std::size_t size) {
        std::string copy = full;
        const std::size_t at = copy.find(anchor);
        EXPECT_NE(at, std::string::npos) << anchor;
        if (at != std::string::npos)
            copy.replace(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(at) + offset), size,
                         static_cast<const char*>(bytes), size);
        return copy;
    };
    const std::uint32_t one = 1;
    const std::uint32_t two = 2;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinite = std::numeric_limits<float>::infinity();
    struct Damage {
        const char* what;
        std::string bytes;
        const char* message;
    };
    const Damage damages[] = {
        {"volume count 1 changed to 2", patched("\x05water", 6, &two, 4),
         "Can't read visibility area [water]: its volume holds numbers that are not finite"},
        {"area count 2 changed to 1", patched("\x05water", -4, &one, 4),
         "Can't read scene data [harbour]: bad visibility block"},
        {"model pose not a number", patched("\x0a" "boat_model", 11 + 36, &nan, 4),
         "Can't read scene data [harbour]: the pose of [boat] holds numbers that are not finite"},
        {"area box infinite", patched("\x05water", 6 + 4 + 4, &infinite, 4),
         "Can't read visibility area [water]: its volume holds numbers that are not finite"},
        {"waypoint pose not a number", patched("\x05spawn", 6 + 36, &nan, 4),
         "Can't read scene data [harbour]: waypoint [spawn] holds numbers that are not finite"},
        {"bytes left over", full + std::string(7, '\0'),
         "Can't read scene data [harbour]: 7 bytes left after the visibility block"},
    };
    for (const Damage& d : damages) {
        core.log().clear();
        Y3SceneDataInstance record("harbour");
        MemoryStream stream(const_cast<char*>(d.bytes.data()), static_cast<std::int32_t>(d.bytes.size()));
        EXPECT_LT(record.readHeader(stream), 0) << d.what;
        EXPECT_FALSE(record.hasObject()) << d.what;
        EXPECT_TRUE(core.log().contains(d.message)) << d.what;
        EXPECT_TRUE(core.log().contains("Can't load scene data [harbour]: the record is damaged")) << d.what;
    }

    // Patched fields: the magic, an overlong name, a count past the record.
    const std::string empty = sceneRecord("scene hall");
    std::string wrongMagic = empty;
    wrongMagic[0] = 0x15;
    std::string overlong = empty.substr(0, 4) + std::string(1, static_cast<char>(200)) + std::string(200, 'n') +
                           empty.substr(9);
    std::string hugeCount = empty;
    hugeCount.replace(9, 4, std::string(4, static_cast<char>(0xFF)));
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {"wrong magic", wrongMagic, "Can't read scene data: wrong magic 0x9A70DE15"},
        {"name longer than its field", overlong, "Can't read scene data: the name is longer than 127 characters"},
        {"model count past the record", hugeCount, "Can't read scene data [hall]: 4294967295 models do not fit"},
    };
    for (const Case& c : cases) {
        core.log().clear();
        Y3SceneDataInstance record("hall");
        MemoryStream stream(c.bytes.data() ? const_cast<char*>(c.bytes.data()) : nullptr,
                            static_cast<std::int32_t>(c.bytes.size()));
        EXPECT_EQ(record.readHeader(stream), -1) << c.what;
        EXPECT_FALSE(record.hasObject()) << c.what;
        EXPECT_TRUE(core.log().contains(c.message)) << c.what;
        EXPECT_TRUE(core.log().contains("Can't load scene data [hall]: the record is damaged")) << c.what;
    }
    // An empty scene reads to an empty data object.
    Y3SceneDataInstance record("hall");
    MemoryStream stream(const_cast<char*>(empty.data()), static_cast<std::int32_t>(empty.size()));
    EXPECT_EQ(record.readHeader(stream), static_cast<std::int32_t>(empty.size()));
    ASSERT_TRUE(record.hasObject());
    EXPECT_TRUE(record.data->models.empty() && record.data->lights.empty() && record.data->poses.empty());
}

TEST(SceneData, LightsWithProjectedTexturesReadWithTheirLinks) {
    // A light whose projected texture is enabled carries the whole stored
    // link; the scene reads it (and writes it back) though the light does
    // not load it yet.
    ScopedGameCore core;
    scene_tools::SceneDescription scene;
    std::string error;
    ASSERT_TRUE(scene_tools::parseSceneDescription(kHarbour, scene, error)) << error;
    auto* lamp = dynamic_cast<Y3Light_POINT*>(scene.data.lights[0].get());
    auto* sun = dynamic_cast<Y3Light_DIRECT*>(scene.data.lights[1].get());
    ASSERT_TRUE(lamp && sun);
    lamp->texture.init("lamp_mask", 0, 1, 2, 7);
    sun->textures[1].init("clouds", 1);
    const std::string bytes = scene_tools::sceneDataBytes(scene.data);

    Y3SceneDataInstance record("harbour");
    MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(record.readHeader(stream), static_cast<std::int32_t>(bytes.size()));
    ASSERT_TRUE(record.hasObject());
    EXPECT_FALSE(core.log().contains("bad light record"));
    const auto* readLamp = dynamic_cast<const Y3Light_POINT*>(record.data->lights[0].get());
    const auto* readSun = dynamic_cast<const Y3Light_DIRECT*>(record.data->lights[1].get());
    ASSERT_TRUE(readLamp && readSun);
    EXPECT_TRUE(readLamp->texture.enabled);
    EXPECT_STREQ(readLamp->texture.baseName(), "lamp_mask");
    EXPECT_EQ(readLamp->texture.addressU, 1u);
    EXPECT_EQ(readLamp->texture.addressV, 2u);
    EXPECT_EQ(readLamp->texture.option, 7u);
    EXPECT_FALSE(readSun->textures[0].enabled);
    EXPECT_STREQ(readSun->textures[1].baseName(), "clouds");
    EXPECT_EQ(readSun->textures[1].type, 1u);
    EXPECT_FLOAT_EQ(readLamp->radius, 4.0f);
    // The light data record takes a copy with the link.
    const std::unique_ptr<Y3Light> copy = readLamp->clone();
    EXPECT_STREQ(static_cast<const Y3Light_POINT&>(*copy).texture.baseName(), "lamp_mask");
    // Written again, the record is the same bytes.
    MemoryStream again;
    ASSERT_EQ(record.data->write(again), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(again.data()), bytes.size()), bytes);
}

TEST(SceneData, ScenePlacementNamesLongerThanTheirFieldAreRefused) {
    ScopedGameCore core;
    scene_tools::SceneDescription scene;
    std::string error;
    EXPECT_FALSE(scene_tools::parseSceneDescription("scene hall\nmodel " + std::string(128, 'm') + " boat", scene, error));
    EXPECT_NE(error.find("longer than 127"), std::string::npos) << error;
    // The same name written by hand, past the writer's check.
    MemoryStream stream(true);
    writeU32(stream, kSceneDataMagic);
    writeString8(stream, "hall");
    writeU32(stream, 1);
    writeString8(stream, std::string(200, 'm').c_str());
    for (int i = 0; i < 80; ++i) writeU8(stream, 0);
    stream.setPosition(0);
    SceneData data;
    EXPECT_EQ(data.read(stream), -1);
    EXPECT_TRUE(core.log().contains("Can't read scene data [hall]: a name is longer than 127 characters"));
}

TEST(Scene, AStoredSceneLoadsItsLightsAndWaypointsPushesAndPops) {
    TempDir dir;
    FixturePackage package;
    // Beside the boat, placements of a missing and of a damaged model.
    package.files = storedScene(std::string(kHarbour) +
                                "model boat boat_model at 12 0 4\nmodel ghost ghost_model\nmodel wreck wreck_model\n");
    for (const FixtureFile& file : model_test::modelFiles(model_test::boxModel("boat_model")))
        package.files.push_back(file);
    std::string damaged = model_test::modelFiles(model_test::boxModel("wreck_model")).front().bytes;
    damaged[4] = 3;  // a kind no model has
    package.files.push_back({".mh4", "wreck_model", damaged});
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    ModelDataManager models;
    setModelDataManager(&models);
    struct Uninstall {
        ~Uninstall() { setModelDataManager(nullptr); }
    } uninstall;
    SceneWorld world;
    Y3SceneDataInstance* record = world.manager.get("harbour", true);
    std::unique_ptr<Scene> scene(SceneContext::createScene(record));
    ASSERT_NE(scene, nullptr);
    EXPECT_FALSE(scene->isDebugScene());
    ASSERT_TRUE(scene->initialize(matrix34Identity()));
    EXPECT_TRUE(packages.log().contains("Scene lights created"));
    EXPECT_TRUE(packages.log().contains("Scene objects created"));
    EXPECT_NE(scene->lighting.getDefault(0), nullptr);
    EXPECT_STREQ(scene->lighting.defaults[3].name, "harbour_default");
    // The lights are named after the scene and take their data records.
    ASSERT_EQ(scene->lights.size(), 2u);
    EXPECT_NE(scene->lookupLight("harbour.lamp"), nullptr);
    EXPECT_NE(lightDataManager().find("harbour.sun"), nullptr);
    EXPECT_TRUE(lightDataManager().find("harbour.sun")->allocated());
    EXPECT_NE(scene->findWaypoint("pier", PosePoint), nullptr);
    // The model placement made a model registered in the visibility areas;
    // the placements of the missing and damaged models made none, each
    // logged.
    ASSERT_NE(scene->lookupModel("boat"), nullptr);
    EXPECT_EQ(scene->pvs.objects.size(), 1u);
    for (const char* missing : {"ghost", "wreck"}) {
        EXPECT_EQ(scene->lookupModel(missing), nullptr) << missing;
        EXPECT_TRUE(packages.log().contains("Fail to initialize object [" + std::string(missing) + "](model [" +
                                            missing + "_model]) for scene [harbour]"))
            << missing;
    }
    EXPECT_TRUE(packages.log().contains("Can't create model [wreck_model]: resource not found"));
    EXPECT_NE(scene->findWaypoint("overview", PoseCamera), nullptr);
    ASSERT_NE(scene->camera(), nullptr);
    EXPECT_STREQ(scene->camera()->getName(), "default");
    // The visibility block's areas are the scene's own copy.
    ASSERT_EQ(scene->pvs.areas.size(), 2u);
    EXPECT_STREQ(scene->pvs.areas[1]->name, "pier");

    ASSERT_TRUE(scene->push());
    EXPECT_NE(record->context, nullptr);
    auto* lamp = dynamic_cast<SceneObjectFlags*>(scene->lookupLight("harbour.lamp"));
    ASSERT_NE(lamp, nullptr);
    EXPECT_NE(lamp->stateFlags() & kLightOnStack, 0u);
    ASSERT_TRUE(scene->pop(0));
    EXPECT_EQ(lamp->stateFlags() & kLightOnStack, 0u);
    EXPECT_EQ(record->context, nullptr);
    scene->release();
    EXPECT_TRUE(scene->lights.empty());
}

TEST(Scene, StoredSpritesAndTheScenesParticlesAndGridsAreMadeAndSaved) {
    TempDir dir;
    FixturePackage package;
    package.files = storedScene(std::string(kHarbour) + "sprite gull gull_sprite at 0 3 0\n");
    Y3ModelSprite gullSprite;
    gullSprite.elements.emplace_back();
    copyName128(gullSprite.elements.back().name, "background");
    package.files.push_back({".sprite", "gull_sprite", model_tools::modelFileBytes(gullSprite, "gull_sprite", true), ""});
    std::string error;
    package.files.push_back({".effect", "smoke", particle_tools::effectFileBytes("name smoke\nlayer plume\n", error), ""});
    ASSERT_FALSE(package.files.back().bytes.empty()) << error;
    // The scene's path-finding grid: a grid is made only on an available one.
    Y3GridData quay;
    ASSERT_TRUE(grid_tools::parseGridDescription("floor 0\n|...\n", quay, error)) << error;
    package.files.push_back({".grid", "grid_harbour", grid_tools::gridFileBytes(quay), ""});
    for (const FixtureFile& file : storedScene("scene hall\nsky\nlightset hall_default\nsprite ghost ghost_sprite\n"))
        package.files.push_back(file);
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    SceneWorld world;
    std::unique_ptr<Scene> scene(SceneContext::createScene(world.manager.get("harbour", true)));
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(scene->initialize(matrix34Identity()));
    EXPECT_TRUE(packages.log().contains("Scene sprites created"));
    auto* gull = dynamic_cast<Sprite*>(scene->lookupSprite("gull"));
    ASSERT_NE(gull, nullptr);
    EXPECT_STREQ(gull->name, "gull_sprite");
    EXPECT_FLOAT_EQ(gull->pose.m[10], 3.0f);
    EXPECT_EQ(gull->getSceneLink(), scene->id);
    // A sprite starts hidden: the scene's push leaves it, showing pushes it,
    // and the scene's pop takes it off again.
    ASSERT_TRUE(scene->push());
    EXPECT_FALSE(gull->pushed());
    gull->setVisible(true);
    EXPECT_TRUE(gull->pushed());
    EXPECT_TRUE(packages.log().contains("Show sprite gull"));

    GameObject* smoke = scene->createParticle("chimney", "smoke", scene_tools::poseAt(1, 5, 1));
    ASSERT_NE(smoke, nullptr);
    EXPECT_EQ(smoke->getType(), static_cast<std::uint32_t>(ObjectParticle));
    EXPECT_STREQ(smoke->getName(), "chimney");
    EXPECT_EQ(scene->createParticle("fog", "no_such_effect", matrix34Identity()), nullptr);
    EXPECT_TRUE(packages.log().contains("Cannot create particle instance [fog] ( particle data [no_such_effect]) in scene [harbour]"));
    GameObject* path = scene->createGrid("walker");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->getType(), static_cast<std::uint32_t>(ObjectGrid));
    EXPECT_STREQ(path->getName(), "walker");
    EXPECT_STREQ(path->name, "grid_harbour");

    // Each saves a record the loader's check takes whole.
    for (GameObject* object : {static_cast<GameObject*>(gull), smoke, path}) {
        MemoryStream saved;
        const std::int32_t size = object->write(saved);
        ASSERT_GT(size, 0) << object->getName();
        saved.setPosition(0);
        ObjectRepository::SavedRecord record;
        record.type = object->getType();
        record.name = object->name;
        EXPECT_EQ(checkObjectForLoading(record, saved), size) << object->getName();
    }
    MemoryStream saved;
    gull->write(saved);
    saved.setPosition(0);
    SpriteRecord copy;
    EXPECT_EQ(copy.read(saved), saved.size());
    EXPECT_STREQ(copy.spriteName, "gull");
    EXPECT_EQ(copy.flags, kSpriteVisible);  // not pushed after a load

    ASSERT_TRUE(scene->pop(0));
    EXPECT_FALSE(gull->pushed());
    scene->release();
    EXPECT_TRUE(scene->sprites.empty());
    EXPECT_TRUE(scene->particles.empty());
    EXPECT_TRUE(scene->grids.empty());

    // A sprite whose resource the packages do not hold is not made.
    std::unique_ptr<Scene> hall(SceneContext::createScene(world.manager.get("hall", true)));
    ASSERT_NE(hall, nullptr);
    EXPECT_FALSE(hall->initialize(matrix34Identity()));
    EXPECT_TRUE(packages.log().contains(" Cannot create sprite instance 'ghost' ( model data [ghost_sprite]) in scene [hall]"));
    EXPECT_TRUE(packages.log().contains("Scene sprites failed"));
    hall->release();
}

TEST(Scene, AStoredSceneWithoutItsWaypointsOrScreenActionsDoesNotPushWhole) {
    // The scene's waypoints (".wp") and screen actions (".as") are pushed
    // with it; one missing from the packages makes the push fail, and the
    // pop and the destructor give back only what was pushed. Missing
    // waypoints fail the initialisation already.
    struct Case {
        const char* description;
        const char* scene;
        const char* message;
        const char* initMessage;
    };
    const Case cases[] = {
        {"scene nowp\nsky\nactions\nlightset nowp_default\n", "nowp", "Can't push scene [nowp] waypoints data",
         "Waypoints initialize: Can't load WP [nowp] data"},
        {"scene noas\nsky\nlightset noas_default\nwaypoint point door at 0 0 0\n", "noas",
         "Can't push scene [noas] actions data", nullptr},
    };
    TempDir dir;
    FixturePackage package;
    for (const Case& c : cases)
        for (const FixtureFile& file : storedScene(c.description)) package.files.push_back(file);
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    SceneWorld world;
    for (const Case& c : cases) {
        packages.log().clear();
        std::unique_ptr<Scene> scene(SceneContext::createScene(world.manager.get(c.scene, true)));
        ASSERT_NE(scene, nullptr) << c.scene;
        EXPECT_EQ(scene->initialize(matrix34Identity()), c.initMessage == nullptr) << c.scene;
        if (c.initMessage) EXPECT_TRUE(packages.log().contains(c.initMessage)) << c.scene;
        EXPECT_FALSE(scene->push()) << c.scene;
        EXPECT_TRUE(packages.log().contains(c.message)) << c.scene;
        // The other resource is pushed, and given back by the pop.
        const bool waypointsPushed = scene->waypointData->resourcePushed();
        const ResourceUser& present = waypointsPushed ? static_cast<const ResourceUser&>(*scene->waypointData)
                                                      : *scene->screenActions;
        const ResourceRecord* record = waypointsPushed
                                           ? static_cast<const ResourceRecord*>(scene->waypointData->record)
                                           : scene->screenActions->record;
        EXPECT_TRUE(present.resourcePushed()) << c.scene;
        EXPECT_EQ(record->users.count(), 1u) << c.scene;
        EXPECT_TRUE(scene->pop(0)) << c.scene;
        EXPECT_EQ(record->users.count(), 0u) << c.scene;
        EXPECT_FALSE(packages.log().contains("push first")) << c.scene;
        scene->release();
    }
}

TEST(Scene, ASceneWithoutItsDefaultLightSetFailsWithTheCriticalBanner) {
    TempDir dir;
    FixturePackage package;
    package.files = storedScene("scene hall\nsky\n");
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    SceneWorld world;
    std::unique_ptr<Scene> scene(SceneContext::createScene(world.manager.get("hall", true)));
    ASSERT_NE(scene, nullptr);
    EXPECT_FALSE(scene->initialize(matrix34Identity()));
    const Log& log = packages.log();
    const std::ptrdiff_t banner = logPosition(log, "--------------------- CRITICAL -----------------");
    ASSERT_GE(banner, 0);
    EXPECT_EQ(logPosition(log, "Required default lightset [hall_default]"), banner + 1);
    EXPECT_GT(logPosition(log, "Can't initialize scene [hall]: light sets not initialized"), banner);
    EXPECT_EQ(scene->flags & kSceneInitialised, 0u);
    scene->release();
}

TEST(SceneContext, AStoredSceneNeedsItsSkyAndReadsItsDataWhenPushed) {
    TempDir dir;
    FixturePackage package;
    package.files = storedScene("scene hall\nsky\nactions\nlightset hall_default\nwaypoint point door at 0 0 0\n");
    for (const FixtureFile& file : storedScene("scene bare\nlightset bare_default\n")) package.files.push_back(file);
    package.files.push_back({".ms4", "broken", "not a scene", ""});
    package.files.push_back({".sky", "broken", "sky", ""});
    package.files.push_back({".ls", "broken_default", scene_tools::lightSetBytes(LightSet()), ""});
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
    // The sky of the scene's name is pushed last: registered and pushed.
    ASSERT_NE(hall->sky, nullptr);
    EXPECT_STREQ(hall->sky->description->name, "hall");
    EXPECT_EQ(hall->sky->state, kSkyRegistered | kSkyAllocated);

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
    EXPECT_TRUE(hall->pop(0));
    EXPECT_EQ(hall->sky->state, 0u);
    EXPECT_FALSE(packages.log().contains("sky data"));
    hall->release();
    broken->release();

    // A scene destroyed on stack takes its sky out of the description's
    // user list, which must not keep a freed sky; the sky still reports.
    ASSERT_TRUE(hall->push());
    const StoredResourceRecord* sky = hall->sky->description;
    ASSERT_EQ(sky->users.count(), 1u);
    hall.reset();
    EXPECT_EQ(sky->users.count(), 0u);
    EXPECT_TRUE(packages.log().contains("Deallocate scene sky before destructor call"));
}

}  // namespace

TEST(SceneRain, RainIsMadeFromTheSceneRainMapShownHiddenAndDropped) {
    TempDir dir;
    FixturePackage package;
    package.files = {{".rain", "wet", "rain map", ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    SceneWorld world;
    RainMapDataManager rain;
    setRainMapDataManager(&rain);

    std::unique_ptr<Scene> dry(SceneContext::createScene(world.manager.get("dry", true)));
    EXPECT_FALSE(dry->showRain(false));
    const Log& log = packages.log();
    EXPECT_TRUE(log.contains("Required rain map for scene [dry]"));
    EXPECT_TRUE(log.contains("Can't show rain: Create rain for scene first"));
    EXPECT_EQ(dry->rainMap, nullptr);

    std::unique_ptr<Scene> wet(SceneContext::createScene(world.manager.get("wet", true)));
    EXPECT_TRUE(wet->createRain());
    ASSERT_NE(wet->rainMap, nullptr);
    EXPECT_EQ(wet->rainMap->flags, 0u);  // pushed by its first frame shown
    EXPECT_FALSE(wet->createRain());
    EXPECT_TRUE(log.contains("Can't create rain map: already exist for scene [wet]"));
    EXPECT_TRUE(wet->showRain(true));
    EXPECT_EQ(wet->rainMap->flags, kRainShown);
    EXPECT_TRUE(wet->showRain(false));
    EXPECT_EQ(wet->rainMap, nullptr);  // hidden rain is dropped
    EXPECT_FALSE(wet->generateRainMap());
    EXPECT_TRUE(log.contains("Can't generate rain map [wet]: Create rain map setup file first"));
    EXPECT_NE(wet->rainMap, nullptr);
    wet->release();
    EXPECT_EQ(wet->rainMap, nullptr);
    dry->release();
    setRainMapDataManager(nullptr);
}
