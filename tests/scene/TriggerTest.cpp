// Triggers of a scene: the triggers core, the trigger record, the script
// class "Trigger" and the handlers run when a model walks through a box.
#include "scene/Trigger.h"

#include <gtest/gtest.h>

#include "model/ModelResourceSupport.h"

#include <cstring>
#include <string>

#include "app/SceneLoadFixture.h"
#include "scene/CameraFixture.h"
#include "foundation/DataStream.h"
#include "model/Model.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"
#include "scene/lua/TriggerScript.h"

using testing_support::poseAt;
using testing_support::SceneLoadFixture;

namespace {

TriggerDescription described(const char* name, const Matrix34& pose, char mode = 0) {
    TriggerDescription description;
    description.name = name;
    description.pose = pose;
    description.actionMode = mode;
    return description;
}

// A game whose current scene is the debug scene "intro", with the script
// class "Trigger".
struct TriggerWorld {
    TriggerWorld() {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
        registerTriggerClass(f.lua.state, f.lua.engine);
    }
    Scene& scene() { return *f.game->currentScene(); }
    SceneTriggers& triggers() { return *scene().triggers; }
    SceneLoadFixture f;
    model_test::ScopedModelResources models{"box", "hero", "walker", "crate", "prop"};
};

}  // namespace

TEST(Trigger, CoreAddsFindsRefusesAndDeletesByShortName) {
    TriggerWorld w;
    TriggerStatic* gate = w.triggers().addTrigger(described("gate", poseAt(1, 0, 0)));
    ASSERT_NE(gate, nullptr);
    EXPECT_STREQ(gate->getName(), "gate");
    EXPECT_STREQ(gate->name, "intro.gate");
    EXPECT_EQ(gate->getSceneLink(), w.scene().id);
    EXPECT_EQ(gate->getType(), static_cast<std::uint32_t>(ObjectTrigger));
    EXPECT_EQ(gate->enabled, 0);

    EXPECT_EQ(w.triggers().addTrigger(described("gate", poseAt(2, 0, 0))), nullptr);
    EXPECT_TRUE(w.f.logged("Can't add new trigger with name [gate]: this name already used"));
    EXPECT_EQ(w.triggers().handles().size(), 1u);

    // Model triggers take a caret and need the action mode.
    EXPECT_EQ(w.triggers().addModelTrigger(described("chest", poseAt(0, 0, 0))), nullptr);
    EXPECT_TRUE(w.f.logged("Can't create model trigger: Expected action mode"));
    TriggerStatic* chest = w.triggers().addModelTrigger(described("chest", poseAt(0, 0, 0), '^'));
    ASSERT_NE(chest, nullptr);
    EXPECT_STREQ(chest->getName(), "^chest");
    EXPECT_EQ(chest->enabled, 1);  // switched on at creation
    EXPECT_EQ(chest->size[0], 1.0f);
    EXPECT_EQ(w.triggers().addModelTrigger(described("chest", poseAt(0, 0, 0), '^')), nullptr);
    EXPECT_TRUE(w.f.logged("Can't add new model trigger with name [^chest]: this name already used"));
    EXPECT_EQ(gameCore.scene_findTrigger("^chest"), static_cast<std::int32_t>(chest->id));
    EXPECT_EQ(gameCore.scene_findTrigger("none"), 0);
    EXPECT_STREQ(SceneTriggers::makeCaretName("abc"), "^abc");

    EXPECT_TRUE(w.triggers().deleteTrigger(gate));
    EXPECT_EQ(w.triggers().findTrigger("gate"), -1);
    EXPECT_EQ(w.triggers().findTrigger("^chest"), 0);
    EXPECT_FALSE(w.triggers().deleteTrigger(nullptr));
    EXPECT_TRUE(w.f.logged("Memory broken in GameObject index access"));
}

TEST(Trigger, SetEnabledSwitchesOnAndOffAndReportsNoChange) {
    TriggerWorld w;
    TriggerStatic* gate = w.triggers().addTrigger(described("gate", poseAt(0, 0, 0)));
    EXPECT_FALSE(gate->setEnabled(false));
    EXPECT_EQ(gate->enabled, 0);
    EXPECT_TRUE(gate->setEnabled(true));
    EXPECT_EQ(gate->enabled, 1);
    EXPECT_FALSE(gate->setEnabled(true));
    EXPECT_TRUE(gate->setEnabled(false));
    EXPECT_EQ(gate->enabled, 0);
    // A physics trigger that is gone is reported and nothing changes.
    gate->physicsTrigger = GameObjectLink{0x777};
    EXPECT_FALSE(gate->setEnabled(true));
    EXPECT_TRUE(w.f.logged(" Can't find assigned physics trigger object for trigger [gate]"));
    EXPECT_EQ(gate->enabled, 0);
    gate->physicsTrigger = GameObjectLink{};
}

TEST(Trigger, RecordReadsBackAndRefusesDamage) {
    TriggerWorld w;
    TriggerStatic* gate = w.triggers().addTrigger(described("gate", poseAt(1, 2, 3)));
    gate->size[1] = 4.0f;
    gate->count = 7;
    gate->setEnabled(true);
    MemoryStream stream;
    const std::int32_t written = gate->write(stream);
    EXPECT_EQ(written, 4 + 1 + 48 + 12 + 4 + 1 + 4);

    TriggerStatic* loaded = TriggerStatic::create(&w.scene(), nullptr, Matrix34{}, nullptr);
    EXPECT_STREQ(loaded->getName(), "load");
    stream.setPosition(0);
    EXPECT_EQ(loaded->read(stream), written);
    EXPECT_STREQ(loaded->getName(), "gate");
    EXPECT_STREQ(loaded->name, "intro.gate");
    EXPECT_EQ(loaded->count, 7u);
    EXPECT_EQ(loaded->enabled, 1);
    EXPECT_EQ(loaded->size[1], 4.0f);
    EXPECT_EQ(std::memcmp(loaded->pose.m, gate->pose.m, sizeof(gate->pose.m)), 0);

    // An empty name reads back empty.
    loaded->triggerName[0] = '\0';
    MemoryStream empty;
    loaded->write(empty);
    empty.setPosition(0);
    TriggerRecord record;
    EXPECT_GT(record.read(empty), 0);
    EXPECT_STREQ(record.name, "");

    // A name length of 128 or more would not fit its field.
    MemoryStream damaged;
    gate->write(damaged);
    const std::int32_t nameAt = written - 5;
    const std::uint8_t tooLong = 200;
    damaged.writeAt(nameAt, &tooLong, 1);
    damaged.setPosition(0);
    EXPECT_LT(record.read(damaged), 0);
    EXPECT_TRUE(w.f.logged("Can't read trigger: name of 200 characters is too long"));
    delete loaded;
}

TEST(Trigger, ScriptEnablesATriggerThatFiresItsHandlersWhenAModelPasses) {
    TriggerWorld w;
    gameCore.debugFlags |= DebugTriggersLog;
    Y3Pose_Trigger pose("gate");
    pose.pose = poseAt(10, 0, 0);
    ASSERT_TRUE(pose.spawn(0));  // a trigger waypoint makes its scene trigger
    GameObject* walker = w.scene().createModel("walker", "walker", poseAt(0, 0, 0), 0);
    ASSERT_NE(walker, nullptr);

    ASSERT_TRUE(w.f.lua.load(R"(
        entered = ''
        left = ''
        function on_gate_enter(name, object) entered = entered .. name .. '<' .. object end
        function on_gate_leave(name, object) left = left .. name .. '>' .. object end
        trigger.onEnter = 'on_gate_enter'
        trigger.onLeave = 'on_gate_leave'
        kind = trigger:classof()
        found = trigger:test('gate')
        missing = trigger:test('nowhere')
        switched = trigger:enable('gate', true)
        again = trigger:enable('gate', true)
        absent = trigger:enable('nowhere', true)
    )"));
    EXPECT_EQ(w.f.value("kind"), "Trigger");
    EXPECT_EQ(w.f.value("found"), "true");
    EXPECT_EQ(w.f.value("missing"), "false");
    EXPECT_EQ(w.f.value("switched"), "true");
    EXPECT_EQ(w.f.value("again"), "false");
    EXPECT_EQ(w.f.value("absent"), "false");
    EXPECT_TRUE(w.f.logged(" Can't find trigger with name [nowhere]"));
    EXPECT_EQ(gameCore.script->triggerHandlers()->onEnter, "on_gate_enter");
    // A handler text the save could not give back is refused; the old one stays.
    ASSERT_TRUE(w.f.lua.load("trigger.onLeave = string.rep('x', 3000)"));
    EXPECT_EQ(gameCore.script->triggerHandlers()->onLeave, "on_gate_leave");
    EXPECT_TRUE(w.f.logged("Can't set trigger onLeave handler: text of 3000 characters, at most 2047"));

    const CurrentTime frame;
    auto step = [&](float x) {
        static_cast<Model*>(walker)->setWorldMatrix(poseAt(x, 0, 0));
        w.scene().updatePhase3(frame, 0);
        w.f.runEvents();
    };
    step(5.0f);
    EXPECT_EQ(w.f.value("entered"), "");
    step(10.2f);
    step(10.3f);  // still inside: no second entry
    EXPECT_EQ(w.f.value("entered"), "gate<walker");
    EXPECT_TRUE(w.f.logged("Trigger [gate]: object [walker] entered"));
    step(20.0f);
    EXPECT_EQ(w.f.value("left"), "gate>walker");
    ASSERT_TRUE(w.f.lua.load("passes = trigger:count('gate')"));
    EXPECT_EQ(w.f.value("passes"), "1");

    // Switched off, the trigger watches no more.
    ASSERT_TRUE(w.f.lua.load("trigger:enable('gate', false)"));
    step(10.0f);
    EXPECT_EQ(w.f.value("entered"), "gate<walker");
    pose.release();
    EXPECT_EQ(w.triggers().findTrigger("gate"), -1);
}
