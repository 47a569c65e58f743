// The scene's unique-name checks of models and lights and its lookups by
// name, kept right by its name indexes through renames, deletions, a save
// restore and lists changed from outside.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/SceneLoadFixture.h"
#include "effects/Light.h"
#include "foundation/DataStream.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/ModelResourceSupport.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/Y3Pose.h"

using testing_support::SceneLoadFixture;

namespace {

// The current scene "intro" with three models and two lights made by the
// scene itself, and a second scene "copy" with three models of its own.
struct NamesWorld {
    NamesWorld() {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
        other.reset(SceneContext::createScene(f.game->sceneData().get("copy", true)));
        for (const char* name : {"boat", "crate", "barrel"})
            EXPECT_NE(scene().createModel("prop", name, matrix34Identity(), 0), nullptr);
        for (const char* name : {"lamp", "torch"}) EXPECT_NE(scene().addLight(name, nullptr, true), nullptr);
        for (const char* name : {"skiff", "oar", "net"})
            EXPECT_NE(other->createModel("prop", name, matrix34Identity(), 0), nullptr);
    }
    ~NamesWorld() {
        if (other) other->release();
    }
    Scene& scene() { return *f.game->currentScene(); }
    GameObject* model(const char* name) { return scene().lookupModel(name); }

    SceneLoadFixture f;
    model_test::ScopedModelResources models{"prop"};
    std::unique_ptr<Scene> other;
};

struct NamesCase {
    const char* what;
    std::function<void(NamesWorld&)> change;
    // The scene refuses models and lights of these names.
    std::vector<const char*> takenModels;
    std::vector<const char*> takenLights;
    // ... and makes these.
    std::vector<const char*> freeModels;
    std::vector<const char*> freeLights;
    // The scene whose models are checked ("intro" or "copy").
    bool inCopy = false;
};

TEST(SceneNames, DuplicatesAreRefusedAfterEveryKindOfChange) {
    const NamesCase cases[] = {
        {"nothing changed", [](NamesWorld&) {}, {"boat", "crate", "barrel"}, {"lamp", "torch"}, {"raft"}, {"candle"}},
        {"a model renamed by its own check",
         [](NamesWorld& w) { ASSERT_TRUE(dynamic_cast<Model*>(w.model("boat"))->checkUniqueName("ship")); },
         {"ship", "crate"}, {}, {"boat"}, {}},
        {"two models swapping names through a free one",
         [](NamesWorld& w) {
             auto rename = [&](const char* from, const char* to) {
                 ASSERT_TRUE(dynamic_cast<Model*>(w.model(from))->checkUniqueName(to));
             };
             rename("boat", "spare");
             rename("crate", "boat");
             rename("spare", "crate");
         },
         {"boat", "crate", "barrel"}, {}, {"spare"}, {}},
        {"a light renamed to a model's name, then a model to the light's old one",
         [](NamesWorld& w) {
             ASSERT_TRUE(dynamic_cast<Light*>(w.scene().lookupLight("lamp"))->checkUniqueName("crate"));
             ASSERT_TRUE(dynamic_cast<Model*>(w.model("barrel"))->checkUniqueName("lamp"));
         },
         {"crate", "lamp"}, {"crate", "torch"}, {"barrel"}, {"lamp"}},
        {"a model deleted (the last one takes its place)",
         [](NamesWorld& w) { ASSERT_TRUE(w.scene().deleteModel("boat")); }, {"barrel", "crate"}, {}, {"boat"}, {}},
        {"a light deleted", [](NamesWorld& w) { ASSERT_TRUE(w.scene().deleteLight(w.scene().lookupLight("lamp"))); },
         {}, {"torch"}, {}, {"lamp"}},
        {"a light renamed to its waypoint's id",
         [](NamesWorld& w) {
             Y3Pose_Light pose("beacon");
             pose.link = GameObjectLink::fromObject(w.scene().lookupLight("lamp"));
             pose.refresh(true);
             pose.link = GameObjectLink{};  // the scene deletes its lights
         },
         {}, {"beacon", "torch"}, {}, {"lamp"}},
        {"a model put in the list from outside",
         [](NamesWorld& w) {
             w.scene().models.push_back(GameObjectLink::fromObject(new Model("raft", "prop", w.scene().id)));
         },
         {"raft", "boat"}, {}, {"skiff"}, {}},
        {"a light list emptied from outside",
         [](NamesWorld& w) {
             for (GameObjectLink link : w.scene().lights) delete w.f.objects.getObject(link);
             w.scene().lights.clear();
         },
         {}, {}, {}, {"lamp", "torch"}},
        {"the copy's lists restored from the scene's save record",
         [](NamesWorld& w) {
             MemoryStream stream;
             ASSERT_GT(w.scene().write(stream), 0);
             stream.setPosition(0);
             // The copy's own models stay the copy's (they leave its list).
             const std::vector<GameObjectLink> own = w.other->models;
             ASSERT_GT(w.other->read(stream), 0);
             ASSERT_EQ(w.other->models.size(), own.size());
             for (GameObjectLink link : own) {
                 GameObject* model = w.f.objects.getObject(link);
                 model->release();
                 delete model;
             }
             // Both scenes now list the same objects: the copy lets them go.
             w.other->lights.clear();
         },
         {"boat", "crate", "barrel"}, {}, {"skiff", "oar"}, {}, true},
    };
    for (const NamesCase& c : cases) {
        SCOPED_TRACE(c.what);
        NamesWorld w;
        // The checks run once before the change, so the indexes are built.
        EXPECT_EQ(w.scene().createModel("prop", "boat", matrix34Identity(), 0), nullptr);
        EXPECT_EQ(w.other->createModel("prop", "skiff", matrix34Identity(), 0), nullptr);
        EXPECT_EQ(w.scene().addLight("lamp", nullptr, true), nullptr);
        c.change(w);
        Scene& checked = c.inCopy ? *w.other : w.scene();
        for (const char* name : c.takenModels) {
            EXPECT_NE(checked.lookupModel(name), nullptr) << name;
            w.f.lua.log().clear();
            EXPECT_EQ(checked.createModel("prop", name, matrix34Identity(), 0), nullptr) << name;
            EXPECT_TRUE(w.f.logged("Object with name [" + std::string(name) + "] already exist in scene [" +
                                 checked.getName() + "]"))
                << name;
        }
        for (const char* name : c.takenLights) {
            w.f.lua.log().clear();
            EXPECT_EQ(w.scene().addLight(name, nullptr, true), nullptr) << name;
            EXPECT_TRUE(w.f.logged("Can't add light [" + std::string(name) + "] to scene [intro]: Name already used"))
                << name;
        }
        for (const char* name : c.freeModels) {
            EXPECT_EQ(checked.lookupModel(name), nullptr) << name;
            GameObject* made = checked.createModel("prop", name, matrix34Identity(), 0);
            EXPECT_NE(made, nullptr) << name;
            EXPECT_EQ(checked.lookupModel(name), made) << name;
        }
        for (const char* name : c.freeLights) {
            EXPECT_EQ(w.scene().lookupLight(name), nullptr) << name;
            EXPECT_NE(w.scene().addLight(name, nullptr, true), nullptr) << name;
        }
        // Every model is found at its place in the list.
        for (std::size_t i = 0; i < checked.models.size(); ++i) {
            GameObject* object = w.f.objects.getObject(checked.models[i]);
            if (!object) continue;
            std::int32_t index = 0;
            EXPECT_EQ(checked.lookupModel(object->getName(), &index), object) << object->getName();
            EXPECT_EQ(index, static_cast<std::int32_t>(i)) << object->getName();
        }
        // The copy lets go of the scene's objects it lists since the restore.
        if (c.inCopy)
            std::erase_if(w.other->models, [&](GameObjectLink link) {
                for (GameObjectLink held : w.scene().models)
                    if (held.index() == link.index()) return true;
                return false;
            });
    }
}

TEST(SceneNames, LookupsFromAStartFindTheFirstMatchAtOrAfterIt) {
    NamesWorld w;
    Scene& scene = w.scene();
    // A second "crate", put in the list from outside, after the first.
    auto* second = new Model("crate", "prop", scene.id);
    scene.models.push_back(GameObjectLink::fromObject(second));
    GameObject* first = w.model("crate");
    std::int32_t index = 0;
    EXPECT_EQ(scene.lookupModel("crate", &index), first);
    EXPECT_EQ(index, 1);
    index = 2;
    EXPECT_EQ(scene.lookupModel("crate", &index), second);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(scene.lookupModel("crate", 4u), nullptr);
    index = 2;
    EXPECT_EQ(scene.lookupModel("boat", &index), nullptr);
    EXPECT_EQ(index, -1);
    // Deleting the first leaves the second to be found.
    ASSERT_TRUE(scene.deleteModel(first));
    EXPECT_EQ(scene.lookupModel("crate"), second);
}

}  // namespace

namespace {

// A placement naming a model resource that is missing, damaged or failed
// before makes no model: the scene logs it and goes on with the others.
TEST(SceneNames, AModelOfAMissingOrDamagedResourceIsNotMade) {
    SceneLoadFixture f;
    std::string damaged = model_test::modelFiles(model_test::boxModel("wreck")).front().bytes;
    damaged[4] = 3;  // a kind no model has
    model_test::ScopedModelResources models({"prop"}, {}, {{".mh4", "wreck", damaged}, {".my3", "wreck", ""}});
    ASSERT_TRUE(models.ready);
    f.game->flags |= kSaveGameLoadAllowed;
    f.game->loadScene("intro");
    Scene& scene = *f.game->currentScene();
    struct Case {
        const char* resource;
        const char* message;
    };
    for (const Case c : {Case{"ghost", "Can't create model [ghost]: resource not found"},
                         {"wreck", "Can't create model [wreck]: resource not found"},
                         {"wreck", "Resource for model [wreck] is invalid"}}) {
        EXPECT_EQ(scene.createModel(c.resource, "hulk", matrix34Identity(), 0), nullptr) << c.message;
        EXPECT_TRUE(f.logged(c.message)) << c.message;
        EXPECT_EQ(scene.lookupModel("hulk"), nullptr) << c.message;
    }
    EXPECT_NE(scene.createModel("prop", "raft", matrix34Identity(), 0), nullptr);
    EXPECT_NE(scene.lookupModel("raft"), nullptr);
}

}  // namespace
