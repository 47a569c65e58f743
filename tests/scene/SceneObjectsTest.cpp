// The scene's objects: push and pop steps, lights by volume, the staggered
// per-frame update, pending deletions, the sound lists and the dialogs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "effects/Light.h"
#include "effects/LightDataManager.h"
#include "foundation/TimeCore.h"
#include "game/DialogDataManager.h"
#include "resources/ResourceTestSupport.h"
#include "scene/CameraFixture.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneObjectFlags.h"
#include "scene/Y3Pose.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

// A scene object that records its calls.
class Probe : public GameObject, public SceneObjectFlags {
public:
    explicit Probe(const char* name, std::uint32_t type = ObjectModel) : GameObject(name), type_(type) {}

    std::uint32_t getType() const override { return type_; }
    const char* getName() const override { return name; }
    std::uint32_t getSceneLink() const override { return 0; }
    bool push() override {
        ++pushes;
        return pushResult;
    }
    bool pop(std::uint32_t) override {
        ++pops;
        return true;
    }
    std::int32_t write(DataStream&) override { return 0; }
    std::int32_t read(DataStream&) override { return 0; }
    bool validate() override { return true; }
    bool updatePhase0(const CurrentTime&, std::int32_t mask) override {
        masks.push_back(mask);
        return true;
    }
    bool updatePhase1(const CurrentTime&, std::int32_t) override {
        ++phase1;
        if (onPhase1) onPhase1(*this);
        return true;
    }
    bool updatePhase3(const CurrentTime&, std::int32_t) override { return true; }
    bool updatePhase2(const CurrentTime&, std::int32_t) override { return true; }
    void invalidateLighting() override {}
    void release() override {}
    std::uint32_t& stateFlags() override { return state; }
    std::uint32_t updateGroup() const override { return group; }
    bool isOnStack() override { return pushes > pops; }

    std::uint32_t type_;
    std::uint32_t state = 0;
    std::uint32_t group = 0;
    bool pushResult = true;
    int pushes = 0;
    int pops = 0;
    int phase1 = 0;
    std::vector<std::int32_t> masks;
    void (*onPhase1)(Probe&) = nullptr;
};

struct ObjectsWorld {
    ObjectsWorld() {
        gameCore.objects = &objects;
        setSceneDataManager(&manager);
        factories = sceneFactories();
        sceneFactories().sound = [](Scene&, std::uint32_t, const char*, const char* soundName, std::uint32_t) {
            return static_cast<GameObject*>(new Probe(soundName, ObjectSound));
        };
        scene.reset(SceneContext::createScene(manager.get("dock", false)));
    }
    ~ObjectsWorld() {
        scene->release();
        scene.reset();
        sceneFactories() = factories;
        setSceneDataManager(nullptr);
        gameCore.objects = savedObjects;
        lightDataManager().clear();
    }
    Probe* add(std::vector<GameObjectLink>& list, const std::string& name) {
        auto* probe = new Probe(name.c_str());
        list.push_back(GameObjectLink::fromObject(probe));
        return probe;
    }
    Probe* probe(GameObjectLink link) { return dynamic_cast<Probe*>(objects.getObject(link)); }

    ScopedGameCore core;
    ObjectRepository* savedObjects = gameCore.objects;
    ObjectRepository objects;
    SceneDataManager manager;
    SceneFactories factories;
    std::unique_ptr<Scene> scene;
};

std::ptrdiff_t logPosition(const Log& log, const std::string& text) {
    const std::vector<LogRecord> records = log.records();
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].text.find(text) != std::string::npos) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

TEST(SceneObjects, PushAndPopRunTheirStepsInOrderAndGoOnAfterFailures) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    // A debug scene pushes nothing: take the scene off the placeholder path.
    w.manager.get("dock", false)->flags &= ~kResourcePlaceholder;
    w.manager.get("dock", false)->flags &= ~kResourceUnavailable;
    w.manager.get("dock", false)->flags |= kResourceHeaderLoaded;
    w.manager.get("dock", false)->data = std::make_unique<SceneData>();
    Probe* stuck = w.add(scene.models, "stuck");
    stuck->pushResult = false;
    scene.models.push_back(GameObjectLink{0xFFFFF});
    Probe* boat = w.add(scene.models, "boat");
    w.add(scene.sprites, "gull")->pushResult = false;
    scene.sounds[1].push_back(GameObjectLink{0xFFFFE});
    w.add(scene.dialogs, "talk");

    EXPECT_FALSE(scene.push());
    EXPECT_TRUE(scene.onStack());
    EXPECT_EQ(boat->pushes, 1);  // the walk goes on past a failure
    const Log& log = w.core.log();
    const char* const steps[] = {
        "The [voice] sound 0 in scene [dock] has NULL ptr",
        "Can't push scene sounds",
        " Cannot push model [stuck] to scene [dock]",
        " Model 1 in scene [dock] has NULL ptr",
        "Can't push scene models",
        " Cannot push sprite [gull] to scene [dock]",
        "Can't push scene sprites",
    };
    std::ptrdiff_t previous = -1;
    for (const char* step : steps) {
        const std::ptrdiff_t at = logPosition(log, step);
        EXPECT_GT(at, previous) << step;
        previous = at;
    }
    EXPECT_EQ(logPosition(log, "Can't push scene dialogs"), -1);

    w.core.log().clear();
    EXPECT_FALSE(scene.pop(0));
    EXPECT_GT(logPosition(log, "POP: Model [1] in scene [dock] has NULL ptr"), -1);
    EXPECT_LT(logPosition(log, "POP: Model [1] in scene [dock] has NULL ptr"),
              logPosition(log, "The [voice] sound 0 in scene [dock] has NULL ptr"));
    EXPECT_EQ(boat->pops, 1);
    EXPECT_FALSE(scene.onStack());
    EXPECT_FALSE(scene.pop(0));
    EXPECT_TRUE(log.contains("Can't pop scene [dock]: push first"));
    scene.models.erase(scene.models.begin() + 1);
    scene.sounds[1].clear();
}

TEST(SceneObjects, LightsAtTheLimitAreCollectedByVolume) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    scene.lodLightsLimits[0] = 3;
    IntersectionSphere volume;
    volume.setFromSize(matrix34Identity(), 1.0f);
    for (int count : {6, 7}) {
        scene.deleteAllLights();
        for (int i = 0; i < count; ++i) {
            Light* light = scene.addLight(("lamp" + std::to_string(i)).c_str(), nullptr, false);
            ASSERT_NE(light, nullptr);
            light->flags |= kLightCollectable;
        }
        std::vector<Light*> found;
        EXPECT_EQ(scene.collectLightsInVolume(volume, 1, found), count == 7) << count;
        EXPECT_EQ(found.size(), static_cast<std::size_t>(count));
        EXPECT_FALSE(scene.collectLightsInVolume(volume, 0, found));
        EXPECT_TRUE(found.empty());
    }
    EXPECT_EQ(scene.addLight("lamp0", nullptr, false), nullptr);
    EXPECT_TRUE(w.core.log().contains("Can't add light [lamp0] to scene [dock]: Name already used"));
    EXPECT_EQ(scene.lights.size(), 7u);
}

TEST(SceneObjects, ModelsOfOneTurnInFortyTakeTheirPassAtTheirPhase) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    std::vector<Probe*> models;
    for (int i = 0; i < 100; ++i) models.push_back(w.add(scene.models, "m" + std::to_string(i)));
    CurrentTime time;
    for (int turn = 0; turn < 3; ++turn) scene.updatePhase0(time, 0);  // phases 1, 2, 3
    for (int i = 0; i < 100; ++i) {
        const std::int32_t mask = models[static_cast<std::size_t>(i)]->masks.back();
        EXPECT_EQ(mask, (i % 40 == 3) ? 0x9 : 0) << i;
    }
    // After a load every model takes its passes on the next turn only.
    scene.flags |= kSceneUpdateAll;
    scene.updatePhase0(time, 0);
    EXPECT_EQ(models[0]->masks.back(), 0x9);
    EXPECT_EQ(models[57]->masks.back(), 0x9);
    EXPECT_EQ(scene.flags & kSceneUpdateAll, 0u);
    scene.updatePhase0(time, 0);
    EXPECT_EQ(models[0]->masks.back(), 0);
    EXPECT_EQ(models[5]->masks.back(), 0x9);
}

TEST(SceneObjects, GameState6UpdatesOnlyTheSounds) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    Probe* model = w.add(scene.models, "boat");
    Probe* sprite = w.add(scene.sprites, "gull");
    GameObject* sound = scene.addSound(2, "waves", "waves", 0);
    ASSERT_NE(sound, nullptr);
    CurrentTime time;
    gameCore.cameraMode = 6;
    scene.updatePhase1(time, 0);
    EXPECT_EQ(model->phase1, 0);
    EXPECT_EQ(sprite->phase1, 0);
    EXPECT_EQ(dynamic_cast<Probe*>(sound)->phase1, 1);
    gameCore.cameraMode = 2;
    scene.updatePhase1(time, 0);
    EXPECT_EQ(model->phase1, 1);
    EXPECT_EQ(dynamic_cast<Probe*>(sound)->phase1, 2);
}

TEST(SceneObjects, PendingDeletesHappenAfterTheWalk) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    // The first model asks for its own deletion and for the second's; both
    // must still be updated in this walk.
    Probe* first = w.add(scene.models, "first");
    Probe* second = w.add(scene.models, "second");
    Probe* third = w.add(scene.models, "third");
    first->onPhase1 = [](Probe& self) { self.state |= kModelPendingDeleteFlag; };
    second->onPhase1 = [](Probe& self) { self.state |= kModelPendingDeleteFlag; };
    const GameObjectLink secondLink = GameObjectLink::fromObject(second);
    GameObject* fading = scene.addSound(0, "bell", "bell", 0);
    dynamic_cast<Probe*>(fading)->onPhase1 = [](Probe& self) { self.state |= kSoundPendingDeleteFlag; };
    CurrentTime time;
    scene.updatePhase1(time, 0);
    EXPECT_EQ(third->phase1, 1);
    EXPECT_EQ(w.objects.getObject(secondLink), nullptr);
    ASSERT_EQ(scene.models.size(), 1u);
    EXPECT_EQ(scene.lookupModel("third"), third);
    EXPECT_EQ(scene.findSound(0, "bell"), -1);
    EXPECT_TRUE(scene.sounds[0].empty());
}

TEST(SceneObjects, SoundListsCheckTheirIndexAndUnknownNames) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    const Log& log = w.core.log();
    struct Case {
        const char* what;
        bool (*run)(Scene&);
    };
    const Case cases[] = {
        {"find", [](Scene& s) { return s.findSound(5, "x") == -1; }},
        {"add unnamed", [](Scene& s) { return s.addSound(5, nullptr, "x", 0) == nullptr; }},
        {"delete", [](Scene& s) { return !s.deleteSound(7, "x"); }},
        {"delete at", [](Scene& s) { return !s.deleteSoundAt(5, 0); }},
    };
    for (const Case& c : cases) {
        w.core.log().clear();
        EXPECT_TRUE(c.run(scene)) << c.what;
        EXPECT_TRUE(log.contains("INVALID SOUND INDEX")) << c.what;
    }
    // Two unnamed sounds share one name; a named one is unique per list.
    EXPECT_NE(scene.addSound(0, nullptr, "a", 0), nullptr);
    EXPECT_NE(scene.addSound(0, nullptr, "b", 0), nullptr);
    EXPECT_EQ(scene.findSound(0, "auto-sound-id"), 0);
    EXPECT_NE(scene.addSound(3, "surf", "surf", 0), nullptr);
    EXPECT_EQ(scene.addSound(3, "surf", "surf", 0), nullptr);
    EXPECT_TRUE(log.contains("Scene sound [surf] already exist in scene [dock]"));
    // An unknown name fails, logged, whatever the volume.
    w.core.log().clear();
    EXPECT_FALSE(scene.deleteSound(3, "gone"));
    EXPECT_TRUE(log.contains("Can't find scene sound [gone]: Sound Delete failed"));
    EXPECT_TRUE(scene.deleteSound(3, "surf"));
    EXPECT_TRUE(scene.sounds[3].empty());
}

TEST(SceneObjects, OneMainDialogUntilItIsDeleted) {
    // Two dialogs without labels.
    resource_tests::ScopedPackages packages({resource_tests::storedFile(".dlg", "intro", std::string(4, '\0')),
                                             resource_tests::storedFile(".dlg", "other", std::string(4, '\0'))});
    ASSERT_TRUE(packages.built());
    ObjectsWorld w;
    DialogDataManager dialogs;
    testing_support::ScopedCoreMember<DialogDataManager> useDialogs{gameCore.dialogs, &dialogs};
    Scene& scene = *w.scene;
    ASSERT_NE(scene.createDialog("intro.start", true), nullptr);
    EXPECT_EQ(scene.createDialog("other.x", true), nullptr);
    EXPECT_TRUE(w.core.log().contains("Can't create new main scene dialog: Delete old main scene dialog first"));
    EXPECT_EQ(scene.createDialog("intro.start", false), nullptr);
    EXPECT_TRUE(w.core.log().contains("Dialog with name [intro.start] already exist in scene [dock]"));
    // A name without "." and a dialog the packages do not hold are refused.
    EXPECT_EQ(scene.createDialog("other", false), nullptr);
    EXPECT_TRUE(w.core.log().contains("Invalid dialog label Name: must be [dialog.label], but [other]"));
    EXPECT_TRUE(w.core.log().contains("Can't validate dialog name"));
    EXPECT_EQ(scene.createDialog("missing.x", false), nullptr);
    EXPECT_TRUE(w.core.log().contains("resource is invalid"));
    EXPECT_TRUE(w.core.log().contains("Cannot create dialog instance [missing.x] (in scene [dock]"));
    EXPECT_TRUE(scene.delDialog("intro.start"));
    EXPECT_EQ(scene.mainDialog.index(), 0u);
    EXPECT_NE(scene.createDialog("other.x", true), nullptr);
    EXPECT_FALSE(scene.delDialog("missing"));
    EXPECT_TRUE(w.core.log().contains("delDialog(): Can't find dialog object [missing] in scene [dock]"));
}

TEST(SceneObjects, LookupByNameFromAnIndex) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    w.add(scene.models, "twin");
    w.add(scene.models, "other");
    Probe* second = w.add(scene.models, "twin");
    std::int32_t index = 1;
    EXPECT_EQ(scene.lookupModel("twin", &index), second);
    EXPECT_EQ(index, 2);
    index = 3;
    EXPECT_EQ(scene.lookupModel("twin", &index), nullptr);
    EXPECT_EQ(index, -1);
    EXPECT_TRUE(scene.deleteModel("other"));
    EXPECT_FALSE(scene.deleteModel("other"));
    EXPECT_TRUE(w.core.log().contains("Can't find model object [other] in scene [dock]"));
}

}  // namespace

namespace {

TEST(SceneLighting, ModesAreasAndTheirRefusals) {
    ObjectsWorld w;
    Scene& scene = *w.scene;
    SceneLighting& lighting = scene.lighting;
    scene.setSkyLightMode(2);
    // Mode 5 stands for the sky's current mode; 4 is out of bounds.
    EXPECT_FALSE(lighting.setDefault(kCurrentLightMode, "dusk"));  // no library: not found
    EXPECT_STREQ(lighting.defaults[2].name, "dusk");
    EXPECT_FALSE(lighting.setDefault(4, "dusk"));
    EXPECT_TRUE(w.core.log().contains("Can't set default lightset [dusk]: mode out of bounds"));
    EXPECT_EQ(lighting.getDefault(-1), nullptr);
    EXPECT_TRUE(w.core.log().contains("Can't get default lightset: mode out of bounds"));
    // A camera's area is made once and never holds a point.
    lighting.setCameraLightSet("tower", kCurrentLightMode, "night");
    lighting.setCameraLightSet("tower", 0, "morning");
    ASSERT_EQ(lighting.areas.size(), 1u);
    EXPECT_STREQ(lighting.areas[0]->entries[2].name, "night");
    EXPECT_STREQ(lighting.areas[0]->entries[0].name, "morning");
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(lighting.findAreaContaining(origin), nullptr);
    EXPECT_EQ(lighting.findArea("tower"), lighting.areas[0].get());
    EXPECT_EQ(lighting.indexOfArea("tower"), 0);
    EXPECT_EQ(lighting.findArea(""), nullptr);
    EXPECT_FALSE(lighting.setCameraLightSet("tower", 7, "x"));
    EXPECT_TRUE(w.core.log().contains("Can't set lightset [x] on camera [tower]: mode out of bounds"));
    // Light sets by name are refused, unchanged, when the library lacks them.
    EXPECT_FALSE(scene.setDefaultLightSet("missing"));
    EXPECT_TRUE(w.core.log().contains("Can't set default scene lightset to [missing]: LightSet not found"));
    EXPECT_STREQ(lighting.defaults[2].name, "dusk");
}

}  // namespace

// The ambient set follows the "sound:" ground volume nearest beneath the
// current camera; without one the set stays.
TEST(SceneObjects, TheSoundVolumeNearestBeneathTheCameraNamesTheAmbientSet) {
    ScopedGameCore core;
    testing_support::CameraScene world;
    Scene& scene = *world.scene;
    // Three volumes over the same ground square around (20, 0): "pier" at
    // height 0, "deck" at height 5, and one that names no sound.
    const auto addVolume = [&scene](const char* id, float height) {
        auto volume = std::make_unique<Y3Pose_Volume>(id);
        volume->pose = testing_support::poseAt(20.0f, height, 0.0f);
        const float corners[4][2] = {{15, -5}, {25, -5}, {25, 5}, {15, 5}};
        for (const float* corner : corners) {
            PoseVector3 point;
            point.v[0] = corner[0];
            point.v[1] = height;
            point.v[2] = corner[1];
            volume->polygon.push_back(point);
        }
        scene.addWaypoint(std::move(volume));
    };
    addVolume("sound:pier", 0.0f);
    addVolume("sound:deck", 5.0f);
    addVolume("2d+deck:roof", 9.0f);
    struct Case {
        float x, y;
        const char* set;
    };
    const Case cases[] = {
        {20.0f, 10.0f, "deck"},  // above both: the nearer
        {20.0f, 3.0f, "pier"},   // under the deck, above the pier
        {20.0f, 4.95f, "deck"},  // a little below the deck's ground counts
        {20.0f, 4.8f, "pier"},   // more than 0.1 below does not
        {20.0f, -1.0f, "saved"}, // below every volume
        {40.0f, 10.0f, "saved"}, // beside them
    };
    for (const Case& c : cases) {
        std::strcpy(scene.ambientSet, "saved");
        world.camera().pose = testing_support::poseAt(c.x, c.y, 1.0f);
        scene.chooseAmbientSetByVolume();
        EXPECT_STREQ(scene.ambientSet, c.set) << c.x << " " << c.y;
    }
    // Without a current camera the set stays.
    std::strcpy(scene.ambientSet, "saved");
    world.camera().pose = testing_support::poseAt(20.0f, 10.0f, 1.0f);
    scene.currentCamera = -1;
    scene.chooseAmbientSetByVolume();
    EXPECT_STREQ(scene.ambientSet, "saved");
}
