// The script class "Object" on a placed model: element members by name and
// by index, and the action members with their ranges and defaults.
#include <gtest/gtest.h>

#include <string>

#include "control/ControllerFixture.h"
#include "effects/Sprite.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"

using testing_support::ControllerWorld;
using testing_support::poseAtPoint;

namespace {

const std::string kBox = "lod\nbox 0.5 0.5 0.5\n";
// Two elements and three actions whose file order is not their name order.
const std::string kSignal = "model signal\nelement frame\n" + kBox + kBox + kBox + "element glass\n" + kBox + kBox + kBox +
                            "action mid signal\naction zeta signal\naction alpha signal\n";

struct SignalWorld {
    SignalWorld() : w(model_test::modelFiles(kSignal)) {
        model = static_cast<Model*>(w.scene->createModel("signal", "signal_a", poseAtPoint(0, 0, 0), 0));
    }
    std::string eval(const std::string& expression) {
        EXPECT_TRUE(w.f.lua.load("r = tostring(" + expression + ")")) << expression;
        return w.f.lua.global("r");
    }
    ControllerWorld w;
    Model* model = nullptr;
};

TEST(ObjectScript, ElementsByNameAndIndex) {
    SignalWorld s;
    ASSERT_NE(s.model, nullptr);
    ASSERT_TRUE(s.w.f.lua.load("o = world:object('signal_a')"));
    EXPECT_EQ(s.eval("o:element_count()"), "2");
    EXPECT_EQ(s.eval("o:element_name(1)"), "glass");
    EXPECT_EQ(s.eval("o:element_visible('glass')"), "true");
    ASSERT_TRUE(s.w.f.lua.load("o:element_hide('glass', 1)"));
    EXPECT_TRUE(s.w.logged("Script call: Hide element [glass] for model [signal_a]"));
    EXPECT_EQ(s.eval("o:element_visible('glass')"), "false");
    ASSERT_TRUE(s.w.f.lua.load("o:element_show('glass')"));
    EXPECT_EQ(s.eval("o:element_visible('glass')"), "true");
    // Unknown names and indexes outside the elements: logged, neutral.
    EXPECT_EQ(s.eval("o:element_visible('lamp')"), "false");
    EXPECT_TRUE(s.w.logged("ELEMENT_VISIBLE: Can't find element with name [lamp] in model [signal_a]"));
    ASSERT_TRUE(s.w.f.lua.load("o:element_hide('lamp')"));
    EXPECT_TRUE(s.w.logged("ELEMENT_HIDE: Can't find element with name [lamp] in model [signal_a]"));
    for (const char* index : {"2", "-1", "99999"}) {
        s.w.log().clear();
        EXPECT_EQ(s.eval(std::string("o:element_name(") + index + ")"), "") << index;
        EXPECT_TRUE(s.w.logged("element_name: element index [")) << index;
    }
    EXPECT_EQ(s.eval("o:object_name() .. ' ' .. o:model_name()"), "signal_a signal");
}

TEST(ObjectScript, ActionsByNameIndexAndTheirRanges) {
    SignalWorld s;
    ASSERT_NE(s.model, nullptr);
    ASSERT_TRUE(s.w.f.lua.load("o = world:object('signal_a')"));
    const ModelActionRanges& defaults = ModelActionItemData::defaultRanges();
    EXPECT_EQ(s.eval("o:action_count()"), "3");
    EXPECT_EQ(s.eval("o:action_name(-1)"), "INVALID INDEX");
    EXPECT_EQ(s.eval("o:action_name(3)"), "INVALID INDEX");
    EXPECT_EQ(s.eval("o:action_name(1)"), "zeta");
    // A search that halves the file order would miss "alpha".
    EXPECT_EQ(s.eval("o:action_index('alpha')"), "2");
    EXPECT_EQ(s.eval("o:action_index('mid')"), "0");
    EXPECT_EQ(s.eval("o:action_index('none')"), "-1");
    EXPECT_TRUE(s.w.logged("Can't find model [signal_a] actions with name [none]"));
    // Ranges by index; outside the items the INI defaults, and no change.
    ASSERT_TRUE(s.w.f.lua.load("o:set_action_distance(2, 6.5); o:set_action_size2D(99, 5); o.action_distance2D = 3"));
    EXPECT_FLOAT_EQ(s.model->actionItems[2].maxRange3d, 6.5f);
    EXPECT_FLOAT_EQ(s.model->actionItems[0].maxRange2d, 3.0f);
    EXPECT_EQ(s.eval("o:get_action_distance(2)"), "6.5");
    EXPECT_EQ(s.eval("o:get_action_distance(99) == " + std::to_string(defaults.maxRange3d)), "true");
    EXPECT_EQ(s.eval("o:get_action_size2D(-1) == " + std::to_string(defaults.minSize2d)), "true");
    EXPECT_EQ(s.eval("o.action_distance2D"), "3");
    for (const ModelActionItem& item : s.model->actionItems) EXPECT_FLOAT_EQ(item.minSize2d, defaults.minSize2d);
}

// A sprite lists a model it hides once, however often it is asked; showing
// takes the handle out; an unknown sprite is refused.
TEST(ObjectScript, SpritesHideAModelOnce) {
    SignalWorld s;
    ASSERT_NE(s.model, nullptr);
    const auto saved = sceneFactories().sprite;
    sceneFactories().sprite = [](Scene& scene, const char* name, const char*, const Matrix34&) -> GameObject* {
        return new Sprite(scene.id, "panel", name);
    };
    auto* sign = dynamic_cast<Sprite*>(s.w.scene->createSprite("sign", "panel", poseAtPoint(0, 0, 0)));
    sceneFactories().sprite = saved;
    ASSERT_NE(sign, nullptr);
    ASSERT_TRUE(s.w.f.lua.load("o = world:object('signal_a')"));
    EXPECT_EQ(s.eval("o:hide_sprite('sign') and o:hide_sprite('sign')"), "true");
    ASSERT_EQ(sign->hideObjects.size(), 1u);
    EXPECT_EQ(sign->hideObjects[0], s.model->id & 0xFFFFFFu);
    EXPECT_TRUE(s.w.logged("Script call: Hide object [signal_a] for sprite [sign]"));
    EXPECT_EQ(s.eval("o:show_sprite('sign')"), "true");
    EXPECT_TRUE(sign->hideObjects.empty());
    s.w.log().clear();
    EXPECT_EQ(s.eval("o:show_sprite('sign')"), "true");
    EXPECT_FALSE(s.w.logged("Script call: Show object"));
    EXPECT_EQ(s.eval("o:hide_sprite('board')"), "false");
    EXPECT_TRUE(s.w.logged("Can't hide object [signal_a] for sprite [board]: Sprite NOT found"));
}

}  // namespace
