// The script class "Object" on a placed model: element members by name and
// by index, and the action members with their ranges and defaults.
#include <gtest/gtest.h>

#include <string>

#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "control/ControllerFixture.h"
#include "control/PathGridDataManager.h"
#include "effects/Sprite.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"
#include "grid/GridWriter.h"
#include "render/RenderCore.h"
#include "support/TestSupport.h"

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

// A pushed model of one bone with an animation to play, in a scene where
// scripts reach it as "o".
struct WalkerWorld {
    static std::vector<testing_support::FixtureFile> files() {
        std::vector<testing_support::FixtureFile> made = model_test::modelFiles(
            "model walker\nelement body\nlod\nbone root 0 rest 0 0 0 1 0 0 0\n"
            "box 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n");
        for (auto& file : animation_tests::animationFiles(
                 "anim walker.sway 3 loop\ntrack root 0 2\nchannel tx 0 0 1 2\nchannel ty 0 0\nchannel tz 0 0\n"
                 "map default\nmapbone root 1 0 0 0 0\n"))
            made.push_back(file);
        return made;
    }
    WalkerWorld() {
        model = static_cast<Model*>(w.scene->createModel("walker", "walker_a", poseAtPoint(0, 0, 0), 0));
        EXPECT_NE(model, nullptr);
        if (model) EXPECT_TRUE(model->push());
        EXPECT_TRUE(w.f.lua.load("o = world:object('walker_a')"));
    }
    std::string eval(const std::string& expression) {
        EXPECT_TRUE(w.f.lua.load("r = tostring(" + expression + ")")) << expression;
        return w.f.lua.global("r");
    }
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    ControllerWorld w{files()};
    Model* model = nullptr;
};

// The body stack's instances and its part-0 queries as scripts see them.
TEST(ObjectScript, AnimationQueriesReadTheBodyStack) {
    WalkerWorld s;
    ASSERT_NE(s.model, nullptr);
    EXPECT_EQ(s.eval("o:animation_count()"), "0");
    EXPECT_EQ(s.eval("o:animation_name(0)"), "INVALID");
    ASSERT_TRUE(s.model->playSequence("[walker.sway]"));
    const AnimationStack& body = s.model->animation.body();
    ASSERT_EQ(body.instances().size(), 1u);
    EXPECT_EQ(s.eval("o:animation_count()"), "1");
    EXPECT_EQ(s.eval("o:animation_name(0)"), body.instances()[0]->name);
    for (const char* index : {"-1", "1"}) EXPECT_EQ(s.eval(std::string("o:animation_name(") + index + ")"), "INVALID");
    EXPECT_EQ(s.eval("o:anim_speed() == " + std::to_string(body.getSpeed(0))), "true");
    EXPECT_EQ(s.eval("o:anim_direction() == " + std::to_string(body.getDirection(0))), "true");
    EXPECT_EQ(s.eval("math.abs(o:anim_position() - " + std::to_string(body.getPosition(0)) + ") < 1e-5"), "true");
    EXPECT_EQ(s.eval("math.abs(o:anim_period() - " + std::to_string(body.sequenceClock) + ") < 1e-5"), "true");
}

// Linking without a bone takes the model's own first skeleton bone; an
// unknown parent is refused; unlink drops the parent.
TEST(ObjectScript, LinksToAParentAndUnlinks) {
    WalkerWorld s;
    ASSERT_NE(s.model, nullptr);
    Model* crate = s.w.place("crate", 2, 0, 0);
    ASSERT_NE(crate, nullptr);
    for (const char* call : {"o:link_object('crate', '')", "o:link_object('crate')"}) {
        ASSERT_TRUE(s.w.f.lua.load("o:unlink()"));
        EXPECT_EQ(s.eval(call), "true") << call;
        EXPECT_EQ(s.model->link.parent().value, GameObjectLink::fromObject(crate).value) << call;
        EXPECT_STREQ(s.model->link.boneName(), "root") << call;
    }
    EXPECT_EQ(s.eval("o:unlink()"), "true");
    EXPECT_EQ(s.model->link.parent().value, 0u);
    EXPECT_STREQ(s.model->link.boneName(), "");
    EXPECT_EQ(s.eval("o:link_object('barrel', 'root')"), "false");
    EXPECT_TRUE(s.w.logged("Object  [walker_a] link: Can't find parent object [barrel] to link"));
    EXPECT_EQ(s.model->link.parent().value, 0u);
}

// A model stands on the scene's path grid when the cell under it lies less
// than 2 below its position raised by 0.5; a scene without a grid says so.
TEST(ObjectScript, OnThePathGridWithinTwoBelowTheRaisedPosition) {
    Y3GridData grid;
    std::string error;
    ASSERT_TRUE(grid_tools::parseGridDescription("cell 1\nheight 0 32\nfloor 0\n|...\n", grid, error)) << error;
    PathGridDataManager grids;
    testing_support::ScopedCoreMember<PathGridDataManager> useGrids{gameCore.pathGrids, &grids};
    ControllerWorld w({{".grid", "grid_intro", grid_tools::gridFileBytes(grid), ""}});
    const struct {
        float height;
        const char* onGrid;
    } cases[] = {{1.4f, "true"}, {1.6f, "false"}, {0.0f, "true"}, {-0.6f, "false"}};
    for (const auto& c : cases) {
        Model* model = w.place("crate", 1.5f, c.height, 0.5f);
        ASSERT_NE(model, nullptr);
        ASSERT_TRUE(w.f.lua.load("o = world:object('crate'); r = tostring(o:isOnPathGrid())"));
        EXPECT_EQ(w.f.lua.global("r"), c.onGrid) << c.height;
        ASSERT_TRUE(w.scene->deleteModel("crate"));
    }
}

TEST(ObjectScript, OffThePathGridWithoutAGrid) {
    PathGridDataManager grids;
    testing_support::ScopedCoreMember<PathGridDataManager> useGrids{gameCore.pathGrids, &grids};
    ControllerWorld w;
    ASSERT_NE(w.place("crate"), nullptr);
    ASSERT_TRUE(w.f.lua.load("r = tostring(world:object('crate'):isOnPathGrid())"));
    EXPECT_EQ(w.f.lua.global("r"), "false");
    EXPECT_TRUE(w.logged("Can't find grid [box]"));
}

}  // namespace
