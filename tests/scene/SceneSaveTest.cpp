// The scene's save record: a saved and read scene saves the same bytes
// again, blend lists come only with their bit, dynamic waypoints keep their
// names and poses, and a damaged record changes nothing.
#include <gtest/gtest.h>

#include "model/ModelResourceSupport.h"

#include <cstring>
#include <memory>
#include <string>

#include "app/ObjectFactories.h"
#include "app/SceneLoadFixture.h"
#include "scene/CameraFixture.h"
#include "foundation/DataStream.h"
#include "game/SceneActionDataManager.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/Trigger.h"
#include "scene/SceneWriter.h"
#include "scene/Y3Pose.h"

using testing_support::poseAt;
using testing_support::SceneLoadFixture;

namespace {

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

std::string saved(Scene& scene) {
    MemoryStream stream;
    EXPECT_GT(scene.write(stream), 0);
    return bytesOf(stream);
}

struct SaveWorld {
    SaveWorld() {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
        other.reset(SceneContext::createScene(f.game->sceneData().get("copy", true)));
    }
    ~SaveWorld() {
        if (other) other->release();
    }
    Scene& scene() { return *f.game->currentScene(); }
    // Gives the scene triggers, a light area, cameras, dynamic waypoints,
    // teleport points and the settings kept by the record.
    void furnish() {
        Scene& s = scene();
        TriggerDescription gate;
        gate.name = "gate";
        gate.pose = poseAt(1, 2, 3);
        ASSERT_NE(s.triggers->addTrigger(gate), nullptr);
        auto area = std::make_unique<LightArea>(&s.lighting);
        std::strcpy(area->name, "porch");
        area->volume.setFromSize(poseAt(4, 0, 0), 2.0f);
        s.lighting.areas.push_back(std::move(area));
        s.cameras.push_back(std::make_unique<CameraCore>(&s, "close"));
        ASSERT_TRUE(s.cameras.back()->initialize(-1.0f));
        s.cameras.back()->pose = poseAt(0, 5, -5);
        s.currentCamera = 1;
        ASSERT_TRUE(s.setDynamicWaypoint("beacon", poseAt(7, 0, 1)));
        ASSERT_TRUE(s.setAimPoint(poseAt(-3, 0, 2)));
        TeleportPoint point{};
        point.time = 4.5;
        point.position[0] = 6.0f;
        point.distance = 6.0f;
        point.usable = 1;
        s.teleportPoints.push_back(point);
        std::strcpy(s.ambientSet, "harbour_birds");
        // The screen-action holder's selection (as a restored save leaves
        // it) and its editing state.
        copyName128(s.screenActions->selected, "yard");
        ASSERT_TRUE(gameCore.scene_showActionsScreen(true));
        ASSERT_TRUE(gameCore.scene_beginActionDraw(true));
        ASSERT_TRUE(gameCore.scene_setScreenCursor(5));
        ASSERT_NE(s.sky, nullptr);
        s.setSkyLightMode(3);
        s.setSkyWeather(SkyFog);
        s.sky->cloudOffsetU = 1.25f;
        s.sky->cloudOffsetV = 0.125f;
        s.sceneWord = 0x1234;
        s.startPose = poseAt(9, 9, 9);
    }

    SceneLoadFixture f;
    model_test::ScopedModelResources models{"box", "hero", "walker", "crate", "prop"};
    std::unique_ptr<Scene> other;
};

}  // namespace

TEST(SceneSave, ASceneReadBackSavesTheSameRecord) {
    SaveWorld w;
    w.furnish();
    const std::string first = saved(w.scene());
    MemoryStream stream;
    stream.write(first.data(), static_cast<std::int32_t>(first.size()));
    stream.setPosition(0);
    ASSERT_EQ(w.other->read(stream), static_cast<std::int32_t>(first.size()));

    Scene& copy = *w.other;
    ASSERT_EQ(copy.cameras.size(), 2u);
    EXPECT_EQ(copy.currentCamera, 1);
    EXPECT_EQ(copy.cameras[1]->owner(), &copy);
    ASSERT_EQ(copy.lighting.areas.size(), 1u);
    EXPECT_STREQ(copy.lighting.areas[0]->name, "porch");
    EXPECT_EQ(copy.triggers->handles().size(), 1u);
    EXPECT_STREQ(copy.ambientSet, "harbour_birds");
    EXPECT_STREQ(copy.screenActions->selected, "yard");
    EXPECT_EQ(copy.screenActions->state, kScreenActionsShown | kScreenActionsDrawSet);
    EXPECT_EQ(copy.screenActions->cursor, 5);
    // The sky's five words: scroll, weather and time of day; not pushed.
    EXPECT_EQ(copy.skyLightMode(), 3);
    EXPECT_EQ(copy.skyWeather(), SkyFog);
    EXPECT_EQ(copy.sky->cloudOffsetU, 1.25f);
    EXPECT_EQ(copy.sky->cloudOffsetV, 0.125f);
    EXPECT_EQ(copy.sky->state, 0u);
    // Read scenes are not on stack and update every object at the next pass.
    EXPECT_EQ(copy.flags & kSceneOnStack, 0u);
    EXPECT_NE(copy.flags & kSceneUpdateAll, 0u);
    // Dynamic waypoints keep their names and poses.
    ASSERT_EQ(copy.dynamicWaypoints.size(), 2u);
    EXPECT_STREQ(copy.dynamicWaypoints[0]->id, "aimPoint");
    EXPECT_STREQ(copy.dynamicWaypoints[1]->id, "beacon");
    EXPECT_FLOAT_EQ(copy.dynamicWaypoints[1]->pose.m[9], 7.0f);

    // Second save: the same bytes, apart from the flag bits a read sets.
    copy.flags = w.scene().flags;
    const std::string second = saved(copy);
    ASSERT_EQ(second.size(), first.size());
    std::size_t differs = 0;
    while (differs < first.size() && first[differs] == second[differs]) ++differs;
    EXPECT_EQ(differs, first.size()) << "first difference at byte " << differs;
    copy.triggers->release();  // the handles name the original's trigger
}

TEST(SceneSave, BlendListsComeOnlyWithTheirBitAndFinishedOnesAreDropped) {
    SaveWorld w;
    Scene& s = w.scene();
    const std::string without = saved(s);
    EXPECT_EQ(s.flags & kSceneHasBlendLists, 0u);

    BlendList list;
    list.second = 7;
    list.items.resize(1);
    std::strcpy(list.items[0].name, "fade");
    list.items[0].word = 3;
    s.blendLists.push_back(list);
    const std::string with = saved(s);
    EXPECT_NE(s.flags & kSceneHasBlendLists, 0u);
    // Field 30: count, flag word, second word, item count, then the item.
    EXPECT_EQ(with.size(), without.size() + 4 + 12 + 4 + BlenderHeader::kRecordSize + 2 + 4);

    MemoryStream stream;
    stream.write(with.data(), static_cast<std::int32_t>(with.size()));
    stream.setPosition(0);
    ASSERT_GT(w.other->read(stream), 0);
    ASSERT_EQ(w.other->blendLists.size(), 1u);
    EXPECT_STREQ(w.other->blendLists[0].items[0].name, "fade");
    EXPECT_EQ(w.other->blendLists[0].second, 7u);

    s.blendLists.push_back(list);
    s.blendLists[0].flags = 1;  // finished
    s.dropFinishedBlendLists();
    ASSERT_EQ(s.blendLists.size(), 1u);
    EXPECT_EQ(s.blendLists[0].flags, 0u);
    s.blendLists.clear();
    EXPECT_EQ(saved(s), without);
}

TEST(SceneSave, ADamagedRecordIsRefusedAndTheSceneStaysAsItWas) {
    SaveWorld w;
    w.furnish();
    const std::string record = saved(w.scene());
    ASSERT_TRUE(w.other->setDynamicWaypoint("kept", poseAt(1, 1, 1)));
    for (std::size_t cut : {std::size_t{3}, record.size() / 3, record.size() / 2, record.size() - 1}) {
        MemoryStream part;
        part.write(record.data(), static_cast<std::int32_t>(cut));
        part.setPosition(0);
        EXPECT_LT(w.other->read(part), 0) << cut;
        ASSERT_EQ(w.other->dynamicWaypoints.size(), 1u) << cut;
        EXPECT_STREQ(w.other->dynamicWaypoints[0]->id, "kept");
        EXPECT_TRUE(w.other->cameras.empty());
    }
    // The ambient-set length is the last text before the handle lists:
    // one of 200 characters would not fit its field.
    MemoryStream damaged;
    damaged.write(record.data(), static_cast<std::int32_t>(record.size()));
    const std::string ambient = "harbour_birds";
    const std::size_t found = record.find(ambient);
    ASSERT_NE(found, std::string::npos);
    const std::uint16_t tooLong = 200;
    damaged.writeAt(static_cast<std::int32_t>(found - 2), &tooLong, 2);
    damaged.setPosition(0);
    EXPECT_LT(w.other->read(damaged), 0);
    EXPECT_TRUE(w.f.logged("Can't read scene record: text of 200 characters is too long"));

    // The check before a restore refuses it too, naming the scene.
    ObjectRepository::SavedRecord saved;
    saved.type = ObjectScene;
    saved.name = "intro";
    damaged.setPosition(0);
    EXPECT_LT(checkObjectForLoading(saved, damaged), 0);
    EXPECT_TRUE(w.f.logged("Can't load scene [intro]: its saved record is damaged"));
    MemoryStream whole;
    whole.write(record.data(), static_cast<std::int32_t>(record.size()));
    whole.setPosition(0);
    EXPECT_EQ(checkObjectForLoading(saved, whole), static_cast<std::int32_t>(record.size()));
}

TEST(SceneSave, ShadowCastersRecordsAndReceiversComeBackAndTheirFadesRunAgain) {
    SaveWorld w;
    SceneShadows& shadows = w.scene().shadows;
    ASSERT_TRUE(shadows.addCaster(GameObjectLink{0x9}));
    ASSERT_TRUE(shadows.addCaster(GameObjectLink{0x4}));
    ASSERT_TRUE(shadows.addReceiver(GameObjectLink{0x7}));
    ShadowRecord lit;
    lit.direction[1] = -1.0f;
    lit.position[0] = 1.0f, lit.position[1] = 2.0f, lit.position[2] = 3.0f;
    lit.flags = kShadowFadeStarted;
    lit.caster = GameObjectLink{0x4};
    lit.lightLink = GameObjectLink{0x11};
    lit.fade = 0.5f, lit.fadeFrom = 0.25f, lit.fadeTo = 1.0f;
    lit.fadeClock = 0.25, lit.fadeLength = 1.0;
    lit.cellSize = 128, lit.cellIndex = 3;
    ASSERT_EQ(shadows.casters[0].caster.value, 0x4u);
    shadows.casters[0].records.push_back(lit);

    const std::string record = saved(w.scene());
    MemoryStream stream;
    stream.write(record.data(), static_cast<std::int32_t>(record.size()));
    stream.setPosition(0);
    ASSERT_EQ(w.other->read(stream), static_cast<std::int32_t>(record.size()));
    const SceneShadows& copy = w.other->shadows;
    ASSERT_EQ(copy.casters.size(), 2u);
    EXPECT_EQ(copy.casters[1].caster.value, 0x9u);
    EXPECT_TRUE(copy.casters[1].records.empty());
    ASSERT_EQ(copy.casters[0].records.size(), 1u);
    const ShadowRecord& back = copy.casters[0].records[0];
    EXPECT_EQ(back.direction[1], -1.0f);
    EXPECT_EQ(back.position[2], 3.0f);
    EXPECT_EQ(back.flags, kShadowFadeStarted);
    EXPECT_EQ(back.caster.value, 0x4u);
    EXPECT_EQ(back.lightLink.value, 0x11u);
    EXPECT_EQ(back.fade, 0.5f);
    EXPECT_EQ(back.fadeFrom, 0.25f);
    EXPECT_EQ(back.fadeTo, 1.0f);
    // The fade runs again over 0.1 seconds; the cell comes with the next
    // frame.
    EXPECT_EQ(back.fadeClock, 0.0);
    EXPECT_EQ(back.fadeLength, static_cast<double>(0.1f));
    EXPECT_FALSE(back.hasCell());
    ASSERT_EQ(copy.receivers.size(), 1u);
    EXPECT_EQ(copy.receivers[0].value, 0x7u);

    // A count beyond the record's end is refused and leaves no caster.
    MemoryStream damaged;
    ASSERT_EQ(writeU32(damaged, 0x10000000u), 4);
    ASSERT_EQ(writeU32(damaged, 0u), 4);
    damaged.setPosition(0);
    EXPECT_LT(w.other->shadows.read(damaged), 0);
    EXPECT_TRUE(w.other->shadows.casters.empty());
    EXPECT_TRUE(w.f.logged("Can't read scene shadows: 268435456 caster groups beyond the end"));
}

TEST(SceneSave, CamerasThatLookedThroughTheAreasComeBackWithTheAreasOfTheRecord) {
    // The cameras stand before the visibility block in the record: their
    // data is checked against the areas the record brings, not against the
    // reading scene's (still empty) ones.
    SaveWorld w;
    w.furnish();
    Scene& s = w.scene();
    scene_tools::VisibilityBuilder build;
    const float room[3] = {3.0f, 2.0f, 3.0f};
    const float door[3] = {1.0f, 1.5f, 0.1f};
    const float here[3] = {0.0f, 0.0f, 0.0f}, there[3] = {0.0f, 0.0f, -6.0f}, between[3] = {0.0f, 0.0f, -3.0f};
    build.addArea("hall", here, room);
    build.addArea("yard", there, room);
    build.addPortal("gate", between, door, 0, 1);
    s.pvs.copyFrom(build.pvs());
    for (const std::unique_ptr<CameraCore>& camera : s.cameras) {
        camera->pose = poseAt(0, 1, 0);
        camera->updateVisibility();
        ASSERT_EQ(camera->pvs.areas.size(), 2u);
    }
    const std::string record = saved(s);
    EXPECT_TRUE(w.other->pvs.areas.empty());
    MemoryStream stream;
    stream.write(record.data(), static_cast<std::int32_t>(record.size()));
    stream.setPosition(0);
    ASSERT_EQ(w.other->read(stream), static_cast<std::int32_t>(record.size()));
    EXPECT_EQ(w.other->pvs.areas.size(), 2u);
    ASSERT_EQ(w.other->cameras.size(), 2u);
    EXPECT_EQ(w.other->cameras[1]->pvs.cameraAreas, s.cameras[1]->pvs.cameraAreas);
    EXPECT_FALSE(w.f.logged("Can't read camera visibility data"));
    w.other->triggers->release();  // the handles name the original's trigger

    // A camera whose data does not fit the record's own areas is refused,
    // by the check before a restore as by the read.
    s.cameras[1]->pvs.areas.emplace_back();
    const std::string mismatched = saved(s);
    MemoryStream bad;
    bad.write(mismatched.data(), static_cast<std::int32_t>(mismatched.size()));
    bad.setPosition(0);
    EXPECT_EQ(Scene::checkRecord(bad), -1);
    EXPECT_TRUE(w.f.logged("Can't read camera visibility data: 3 areas and 1 portals saved, scene has 2 and 1"));
}

TEST(SceneSave, AFailedReadNeverTakesTheOnStackBitFromTheRecord) {
    // The record of a scene on stack carries the bit; a read that fails
    // after the flags must not leave the reading scene believing it was
    // pushed, or its release pops what was never pushed.
    SaveWorld w;
    w.furnish();
    Scene& s = w.scene();
    ASSERT_NE(s.flags & kSceneOnStack, 0u);
    std::strcpy(s.lighting.areas[0]->entries[0].name, "nowhere");
    const std::string record = saved(s);
    MemoryStream stream;
    stream.write(record.data(), static_cast<std::int32_t>(record.size()));
    stream.setPosition(0);
    EXPECT_EQ(w.other->read(stream), -1);
    EXPECT_TRUE(w.f.logged("Fail to restore lightset links for light areas"));
    EXPECT_EQ(w.other->flags & kSceneOnStack, 0u);
    w.other->release();
    w.other.reset();
    EXPECT_FALSE(w.f.logged("Can't pop scene"));
    EXPECT_FALSE(w.f.logged("from scene references list"));
}
