// The script class "Controller" as scripts reach it through a model's
// "Object": its methods in order, the controller types a script gives a
// model, and a controller whose model is gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/ControllerFixture.h"
#include "control/ModelController.h"
#include "control/RecordingController.h"

using testing_support::ControllerWorld;
using testing_support::RecordingController;

namespace {

TEST(ControllerScript, MethodsForwardInTheirOrder) {
    ControllerWorld w;
    Model* hero = w.place("hero");
    ASSERT_NE(hero, nullptr);
    auto recording = std::make_unique<RecordingController>(*hero);
    RecordingController& record = *recording;
    hero->controller = std::move(recording);
    ASSERT_TRUE(w.f.lua.load(R"(
        local c = world:object("hero"):control()
        kind = c:classof()
        speed = c:setCharacterSpeed(3, 1.5)
        results = tostring(c:isItem()) .. tostring(c:isCrouch()) .. tostring(c:isRun())
        c:setLimits(1, 2, 3)
        c:setEvent("onmovedone", "done")
        c:stay()
        c:go2waypoint("a;b")
        c:go2trajectory("route")
        c:follow2model("boat", 1.5, 4)
        state = c:getState("movement")
        c:setCrouch(true)
        c:flipCrouch()
        c:setItem(false)
        c:flipItem()
        c:setRun(true)
        c:flipRun()
    )"));
    EXPECT_EQ(w.f.lua.global("kind"), "Controller");
    EXPECT_EQ(w.f.value("results"), "truetruetrue");
    EXPECT_EQ(w.f.lua.global("state"), "walk");
    // The recording controller is no Character: the speed table refuses it.
    EXPECT_EQ(w.f.value("speed"), "false");
    EXPECT_TRUE(w.logged("Invalid controller type"));
    const std::vector<std::string> expected = {
        "isItem", "isCrouch", "isRun", "setLimits 1.000000 2.000000 3.000000", "setEvent onmovedone done", "stay",
        "go2waypoint a;b list", "go2trajectory route 0", "follow2model boat 1.500000 4.000000",
        "getCurrentState movement", "setCrouch 1", "flipCrouch", "setItem 0", "flipItem", "setRun 1", "flipRun"};
    EXPECT_EQ(record.calls, expected);
}

TEST(ControllerScript, ObjectsGiveTheirModelsControllersByTypeName) {
    ControllerWorld w;
    ASSERT_NE(w.place("rowboat"), nullptr);
    struct Case {
        const char* name;
        const char* result;
        std::int32_t type;  // of the model's controller afterwards, 0 for none
        const char* message;
    };
    const Case cases[] = {
        {"BOAT", "true", 2, ""},
        {"character", "true", 1, ""},
        {"Position", "true", 3, ""},
        {"none", "true", 0, ""},
        {"", "false", 0, "Unsupported controller type [] for object [rowboat]"},
        {"raft", "false", 0, "Invalid ModelControllerType map name [raft]"},
    };
    for (const Case& c : cases) {
        w.log().clear();
        ASSERT_TRUE(w.f.lua.load(std::string("o = world:object('rowboat'); added = o:add_control('") + c.name +
                                 "'); c = o:control(); kind = o:classof()"));
        EXPECT_EQ(w.f.value("added"), c.result) << c.name;
        EXPECT_EQ(w.f.lua.global("kind"), "Object");
        Model* model = static_cast<Model*>(w.scene->lookupModel("rowboat"));
        ModelController* controller = model->controller.get();
        EXPECT_EQ(controller ? controller->getType() : 0, c.type) << c.name;
        EXPECT_EQ(w.f.value("c") == "nil", c.type == 0) << c.name;
        if (c.message[0]) {
            EXPECT_TRUE(w.logged(c.message)) << c.name;
        }
    }
    EXPECT_TRUE(w.logged("Unsupported controller type [raft] for object [rowboat]"));

    // The base answers of a position controller and a character reach the
    // script: "getState" is not supported, "setLimits" does nothing.
    w.log().clear();
    ASSERT_TRUE(w.f.lua.load("o:add_control('position'); state = o:control():getState('action')"));
    EXPECT_EQ(w.f.lua.global("state"), "");
    EXPECT_TRUE(w.logged("Controller NOT support getCUrrentState()"));
    // A new character binds its model's animation rules (none here).
    ASSERT_TRUE(w.f.lua.load("o:add_control('character')"));
    EXPECT_TRUE(w.logged("Required animation rules map"));
    w.log().clear();
    ASSERT_TRUE(w.f.lua.load("o:control():setLimits(1, 2, 3)"));
    EXPECT_TRUE(w.log().records().empty());
}

TEST(ControllerScript, AControllerOfAGoneModelIsAScriptError) {
    ControllerWorld w;
    Model* boat = w.place("boat");
    ASSERT_NE(boat, nullptr);
    ASSERT_TRUE(w.f.lua.load("o = world:object('boat'); o:add_control('boat'); c = o:control()"));
    ASSERT_TRUE(w.f.lua.load("ok, err = pcall(function() return c:isRun() end)"));
    EXPECT_EQ(w.f.value("ok"), "true");

    // A replaced controller is gone as well.
    ASSERT_TRUE(w.f.lua.load("o:add_control('character')"));
    ASSERT_TRUE(w.f.lua.load("ok, err = pcall(function() return c:isRun() end)"));
    EXPECT_EQ(w.f.value("ok"), "false");
    EXPECT_NE(w.f.lua.global("err").find("[Controller] object no longer exists"), std::string::npos);

    ASSERT_TRUE(w.f.lua.load("c = o:control()"));
    ASSERT_TRUE(w.scene->deleteModel(boat));
    ASSERT_TRUE(w.f.lua.load(R"(
        ok, err = pcall(function() return c:getState("action") end)
        objectOk, objectErr = pcall(function() return o:control() end)
    )"));
    EXPECT_EQ(w.f.value("ok"), "false");
    EXPECT_NE(w.f.lua.global("err").find("[Controller] object no longer exists"), std::string::npos);
    EXPECT_EQ(w.f.value("objectOk"), "false");
    EXPECT_NE(w.f.lua.global("objectErr").find("[Object] object no longer exists"), std::string::npos);
}

}  // namespace
