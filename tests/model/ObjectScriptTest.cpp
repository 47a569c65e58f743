// The script class "Object" on a placed model: element members by name and
// by index, and the action members with their ranges and defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "control/ControllerFixture.h"
#include "control/ModelController.h"
#include "control/PathGridDataManager.h"
#include "effects/Sprite.h"
#include "game/QuestData.h"
#include "game/QuestLogic.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"
#include "grid/GridWriter.h"
#include "render/RenderCore.h"
#include "scene/CameraCore.h"
#include "scene/CameraSettings.h"
#include "scene/Y3Pose.h"
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
    static constexpr const char* kWalker =
        "model walker\nelement body\nlod\nbone root 0 rest 0 0 0 1 0 0 0\n"
        "box 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";
    static std::vector<testing_support::FixtureFile> files(const std::string& walker) {
        std::vector<testing_support::FixtureFile> made = model_test::modelFiles(walker);
        for (auto& file : animation_tests::animationFiles(
                 "anim walker.sway 3 loop\ntrack root 0 2\nchannel tx 0 0 1 2\nchannel ty 0 0\nchannel tz 0 0\n"
                 "map default\nmapbone root 1 0 0 0 0\n"))
            made.push_back(file);
        return made;
    }
    explicit WalkerWorld(const std::string& walker = kWalker) : w{files(walker)} {
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
    ControllerWorld w;
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

// Linking without a bone takes the model's own first skeleton bone; the
// linked model then stands where its parent goes, frame by frame, until
// unlinked; an unknown parent is refused.
TEST(ObjectScript, LinksToAParentAndUnlinks) {
    WalkerWorld s;
    ASSERT_NE(s.model, nullptr);
    Model* crate = s.w.place("crate", 2, 0, 0);
    ASSERT_NE(crate, nullptr);
    s.w.point("quay", 5.0f, 0.0f, 1.0f);
    s.w.point("pier", -3.0f, 0.0f, 4.0f);
    const auto frame = [&] { s.w.scene->updatePhase1(CurrentTime(1.0 / 60.0), 0); };
    const auto at = [](const Model* m) { return std::array<float, 3>{m->worldMatrix.m[9], m->worldMatrix.m[10], m->worldMatrix.m[11]}; };
    for (const char* call : {"o:link_object('crate', '')", "o:link_object('crate')"}) {
        ASSERT_TRUE(s.w.f.lua.load("o:unlink()"));
        EXPECT_EQ(s.eval(call), "true") << call;
        EXPECT_EQ(s.model->link.parent().value, GameObjectLink::fromObject(crate).value) << call;
        EXPECT_STREQ(s.model->link.boneName(), "root") << call;
        // The parent goes elsewhere: the linked model stands on it after a
        // frame.
        for (const char* place : {"quay", "pier"}) {
            ASSERT_TRUE(s.w.f.lua.load(std::string("world:object('crate'):teleport('") + place + "', 0)"));
            frame();
            EXPECT_EQ(at(s.model), at(crate)) << call << " " << place;
        }
    }
    EXPECT_EQ(s.eval("o:unlink()"), "true");
    EXPECT_EQ(s.model->link.parent().value, 0u);
    EXPECT_STREQ(s.model->link.boneName(), "");
    // Unlinked, it stays where it was.
    const std::array<float, 3> left = at(s.model);
    ASSERT_TRUE(s.w.f.lua.load("world:object('crate'):teleport('quay', 0)"));
    frame();
    EXPECT_EQ(at(s.model), left);
    EXPECT_NE(at(crate), left);
    EXPECT_EQ(s.eval("o:link_object('barrel', 'root')"), "false");
    EXPECT_TRUE(s.w.logged("Object  [walker_a] link: Can't find parent object [barrel] to link"));
    EXPECT_EQ(s.model->link.parent().value, 0u);
}

// A figure playing out of the camera's view is not posed; the frame it
// comes back into view its pose catches up with its animation at once.
TEST(ObjectScript, AFigureBackInViewCatchesUpItsPose) {
    // The walker with a triangle to draw.
    const std::string triangle =
        "meshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\nsubset 0 0 3 3 kind 3\n";
    WalkerWorld s("model walker\nelement body\nlod\n" + triangle + "bone root 0 rest 0 0 0 1 0 0 0\n"
                  "box 0.5 0.5 0.5\nlod\n" + triangle + "box 0.5 0.5 0.5\nlod\n" + triangle + "box 0.5 0.5 0.5\n");
    ASSERT_NE(s.model, nullptr);
    CameraCore* camera = s.w.scene->camera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(s.eval("o:sequence('[walker.sway]')"), "true");
    const auto rootX = [&] { return s.model->animation.skeleton.bones.at(0).world.m[9]; };
    const auto frame = [&](float cameraZ) {
        camera->pose = poseAtPoint(0, 0, cameraZ);
        camera->update(CurrentTime());
        s.model->cull();
        s.w.scene->updatePhase0(CurrentTime(1.0 / 60.0), 0);
        s.w.scene->updatePhase1(CurrentTime(1.0 / 60.0), 0);
    };
    // Looking away, for a while.
    for (int i = 0; i < 32; ++i) frame(-10.0f);
    ASSERT_FALSE(s.model->stateWords[0] & kModelDrawnThisFrame);
    const float stale = rootX();
    // Turned to the figure: the culling that finds it drawn poses it.
    camera->pose = poseAtPoint(0, 0, 10);
    camera->update(CurrentTime());
    s.model->cull();
    ASSERT_TRUE(s.model->stateWords[0] & kModelDrawnThisFrame);
    EXPECT_GT(std::fabs(rootX() - stale), 0.1f) << stale;
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

// A model moved by steps each smaller than the change threshold: the
// steps add up, and the element's draw matrix and box go with the model.
TEST(ObjectScript, SlowMotionMovesTheDrawnElements) {
    ControllerWorld w;
    Model* crate = w.place("crate");
    ASSERT_NE(crate, nullptr);
    ASSERT_TRUE(crate->push());
    w.point("start", 0.0f, 0.0f, 0.0f);
    const struct {
        int steps;
        float step;
    } cases[] = {{2000, 0.0005f}, {100, 0.002f}, {3, 0.0004f}};
    float x = 0.0f;
    for (const auto& c : cases) {
        ASSERT_TRUE(w.f.lua.load("o = world:object('crate')\nfor i = 1, " + std::to_string(c.steps) +
                                 " do o:teleport('start', " + std::to_string(x) + " + i * " +
                                 std::to_string(c.step) + ") end"));
        x += float(c.steps) * c.step;
        EXPECT_NEAR(crate->worldMatrix.m[9], x, 1e-4f) << c.steps;
        // Drawn within the change threshold of where the model stands.
        const ModelElement& element = crate->elements.at(0);
        EXPECT_NEAR(element.world.m[3][0], x, 0.0011f) << c.steps;
        float low[3], high[3];
        element.getBounds(low, high);
        EXPECT_NEAR((low[0] + high[0]) / 2, x, 0.0011f) << c.steps;
    }
}

// The script's choice of the main character reaches the models: the chosen
// one is flagged (and leaves follow mode, its controller stopped), the one
// before is not any more.
TEST(ObjectScript, TheMainCharacterChoiceReachesTheModels) {
    ControllerWorld w;
    Model* lead = w.place("lead", 0, 0, 0);
    Model* mate = w.place("mate", 3, 0, 0);
    ASSERT_NE(lead, nullptr);
    ASSERT_NE(mate, nullptr);
    ASSERT_TRUE(w.f.lua.load("m = world:object('mate'); m:add_control('character'); m.walk_distance = 3"));
    ASSERT_NE(mate->controller, nullptr);
    const auto isMain = [](const Model* m) { return (m->stateWords[0] & kModelMainCharacter) != 0; };
    const struct {
        const char* chosen;
        bool leadMain, mateMain;
    } cases[] = {{"mate", false, true}, {"lead", true, false}, {"mate", false, true}};
    for (const auto& c : cases) {
        ASSERT_TRUE(w.f.lua.load(std::string("chosen = tostring(world:setMainCharacter('") + c.chosen + "'))"));
        EXPECT_EQ(w.f.lua.global("chosen"), "true") << c.chosen;
        EXPECT_EQ(isMain(lead), c.leadMain) << c.chosen;
        EXPECT_EQ(isMain(mate), c.mateMain) << c.chosen;
        EXPECT_TRUE(w.logged(std::string("Select main character [") + c.chosen + "]")) << c.chosen;
        // Neither is drawn (no camera): only the main character's footsteps
        // are heard.
        for (Model* model : {lead, mate})
            EXPECT_EQ(Model::onAnimationEvent(nullptr, model, "footstep=left", CurrentTime(0.0), 0, false),
                      isMain(model))
                << c.chosen << " " << model->getName();
    }
    EXPECT_FLOAT_EQ(mate->walk_distance, -1.0f);
    EXPECT_FALSE(mate->controller->isBusy());
    EXPECT_TRUE(w.logged("Disable follow mode for object [mate] before set to main character! "
                         "(model.walk_distance = -1;)"));
    EXPECT_TRUE(w.logged("Main character without controller: Attach conroller first"));
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

namespace {

// A panel facing a camera 10 units away: one element with a triangle, and
// actions on it (a box around it, a tiny dot, a box far to the side); the
// quest switches the actions on as the game does. Game mode 7 picks by the
// cursor, mode 5 by the camera's reach; both keep the camera where it is
// put.
struct PanelWorld {
    static std::string description() {
        const std::string level =
            "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n"
            "subset 0 0 3 3 kind 3\nbox 0.5 0.5 0.5\n";
        return "model panel\nelement face\n" + level + level + level +
               "action knob - size 0.5 0.5 0.5\naction dot - size 0.01 0.01 0.01\n"
               "action aside - size 0.5 0.5 0.5 at 100 0 0\n";
    }
    PanelWorld() {
        model = static_cast<Model*>(w.scene->createModel("panel", "panel_a", poseAtPoint(0, 0, 0), 0));
        EXPECT_NE(model, nullptr);
        if (model) EXPECT_TRUE(model->push());
        camera = w.scene->camera();
        EXPECT_NE(camera, nullptr);
        if (camera) camera->pose = poseAtPoint(0, 0, 10);
        gameCore.cameraMode = 7;
        EXPECT_TRUE(w.f.lua.load("o = world:object('panel_a')"));
    }
    // The quest's state of the panel (or one of its items) takes its
    // action number.
    void quest(const char* object, std::int32_t action) {
        ObjectState state{};
        std::snprintf(state.name, sizeof(state.name), "%s", object);
        state.action = action;
        QuestLogic::applyObjectState(state, 2);
    }
    // One frame: the camera takes its pose, the renderer culls the model,
    // the scene updates its objects; what the camera holds as picked.
    std::uint32_t frame() {
        camera->update(CurrentTime());
        model->cull();
        w.scene->updatePhase1(CurrentTime(), 0);
        return camera->hover;
    }
    std::uint32_t picked(std::uint32_t item) const { return (model->id & 0xFFFFFFu) | (item << 24); }
    std::string eval(const std::string& expression) {
        EXPECT_TRUE(w.f.lua.load("r = tostring(" + expression + ")")) << expression;
        return w.f.lua.global("r");
    }
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    InputCore input;
    testing_support::ScopedCoreMember<InputCore> useInput{gameCore.input, &input};
    ControllerWorld w{model_test::modelFiles(description())};
    Model* model = nullptr;
    CameraCore* camera = nullptr;
};

// Items are offered only once the quest switched them on, and in the cursor
// modes only under the cursor.
TEST(ModelActions, TheCursorPicksAnEnabledItemOnItsOutline) {
    PanelWorld p;
    ASSERT_NE(p.model, nullptr);
    ASSERT_NE(p.camera, nullptr);
    ASSERT_EQ(p.model->actionItems.size(), 3u);
    p.input.virtualDevices.pointer.set(520.0f, 380.0f);
    EXPECT_EQ(p.frame(), 0u);
    p.quest("panel_a:knob", 0);
    EXPECT_EQ(p.frame(), p.picked(0));
    p.input.virtualDevices.pointer.set(50.0f, 700.0f);
    EXPECT_EQ(p.frame(), 0u);
    // A quest state with a negative action switches the items off again.
    p.input.virtualDevices.pointer.set(520.0f, 380.0f);
    p.quest("panel_a", -1);
    EXPECT_EQ(p.frame(), 0u);
}

// A box wholly off the screen gives no outline; one across the screen's
// edge keeps its corners beyond the edge; a tiny box is outlined by the
// 32 x 32 square around its middle, which the cursor picks.
TEST(ModelActions, OutlinesOnAndOffTheScreen) {
    PanelWorld p;
    ASSERT_NE(p.model, nullptr);
    ASSERT_NE(p.camera, nullptr);
    p.quest("panel_a", 0);
    p.frame();
    std::vector<ActionScreenPoint> points;
    EXPECT_FALSE(p.model->projectActionItem(2, points));
    EXPECT_TRUE(points.empty());
    EXPECT_EQ(p.eval("o:action_valid(2)"), "false");

    // The panel moved so that the knob's middle lies on the right edge.
    float edge[2];
    float x = 0.0f;
    for (; x < 20.0f; x += 0.01f) {
        const float at[3] = {x, 0.0f, 0.0f};
        p.camera->projectToScreen(at, edge);
        if (edge[0] >= 1024.0f) break;
    }
    ASSERT_LT(x, 20.0f);
    p.model->setWorldMatrix(poseAtPoint(x, 0, 0));
    p.frame();
    ASSERT_TRUE(p.model->projectActionItem(0, points));
    float maxX = -1.0f;
    for (const ActionScreenPoint& point : points) maxX = std::max(maxX, point.x);
    EXPECT_GT(maxX, 1024.0f);
    EXPECT_EQ(p.eval("o:action_valid()"), "true");
    p.input.virtualDevices.pointer.set(1015.0f, 386.0f);
    EXPECT_EQ(p.frame(), p.picked(0));

    p.model->setWorldMatrix(poseAtPoint(0, 0, 0));
    p.frame();
    ASSERT_TRUE(p.model->projectActionItem(1, points));
    float minX = 1e9f, minY = 1e9f;
    maxX = -1e9f;
    float maxY = -1e9f;
    for (const ActionScreenPoint& point : points) {
        minX = std::min(minX, point.x), maxX = std::max(maxX, point.x);
        minY = std::min(minY, point.y), maxY = std::max(maxY, point.y);
    }
    EXPECT_EQ(points.size(), 4u);
    EXPECT_NEAR(maxX - minX, 32.0f, 0.01f);
    EXPECT_NEAR(maxY - minY, 32.0f, 0.01f);
    p.quest("panel_a:knob", -1);
    const float cx = (minX + maxX) / 2, cy = (minY + maxY) / 2;
    p.input.virtualDevices.pointer.set(cx + 12.0f, cy + 5.0f);
    EXPECT_EQ(p.frame(), p.picked(1));
    p.input.virtualDevices.pointer.set(cx + 17.0f, cy + 5.0f);
    EXPECT_EQ(p.frame(), 0u);
}

// In the 3D modes an item is offered within its own reach, else within the
// camera's far distance; the 2D ranges limit the depth of the spot.
TEST(ModelActions, ReachAndDepthRanges) {
    PanelWorld p;
    ASSERT_NE(p.model, nullptr);
    ASSERT_NE(p.camera, nullptr);
    gameCore.cameraMode = 5;
    p.quest("panel_a:knob", 0);
    EXPECT_EQ(p.frame(), p.picked(0));
    ASSERT_TRUE(p.w.f.lua.load("o:set_action_distance(0, 5)"));
    EXPECT_EQ(p.frame(), 0u);
    ASSERT_TRUE(p.w.f.lua.load("o:set_action_distance(0, 20)"));
    EXPECT_EQ(p.frame(), p.picked(0));
    // The frustum is its own again after a narrowed item.
    EXPECT_FLOAT_EQ(p.camera->frustum.farDistance, cameraSettings.clipFar);
    ASSERT_TRUE(p.w.f.lua.load("o.action_distance2D = 8"));
    EXPECT_EQ(p.frame(), 0u);
    ASSERT_TRUE(p.w.f.lua.load("o.action_distance2D = 0; o.action_min_distance2D = 12"));
    EXPECT_EQ(p.frame(), 0u);
}

// A model stands in a camera area when a "2d+" volume of the scene holds
// it; without one, or beside it, it does not.
TEST(ObjectScript, InTheCameraAreaOfAVolumeThatHoldsIt) {
    PanelWorld p;
    ASSERT_NE(p.model, nullptr);
    gameCore.setCameraMask("auto;hall");
    EXPECT_EQ(p.eval("o:isInCameraArea()"), "false");
    auto volume = std::make_unique<Y3Pose_Volume>("2d+hall:left");
    volume->pose = poseAtPoint(0, 0, 0);
    for (const auto& corner : {std::array<float, 3>{-5, 0, -5}, {5, 0, -5}, {5, 0, 5}, {-5, 0, 5}}) {
        PoseVector3 point;
        for (int k = 0; k < 3; ++k) point.v[k] = corner[static_cast<std::size_t>(k)];
        volume->polygon.push_back(point);
    }
    p.w.scene->addWaypoint(std::move(volume));
    auto camera = std::make_unique<Y3Pose_Camera>("2d>hall:left.fixed");
    camera->pose = poseAtPoint(2, 0, 0);
    p.w.scene->addWaypoint(std::move(camera));
    p.model->setWorldMatrix(poseAtPoint(1, 0.5f, 2));
    EXPECT_EQ(p.eval("o:isInCameraArea()"), "true");
    p.model->setWorldMatrix(poseAtPoint(9, 0.5f, 2));
    EXPECT_EQ(p.eval("o:isInCameraArea()"), "false");
}

// Highlight, texture sets and the element's level as scripts see them;
// indexes outside the elements are script errors with neutral answers.
TEST(ObjectScript, HighlightTexturesAndElementLevels) {
    PanelWorld p;
    ASSERT_NE(p.model, nullptr);
    ASSERT_TRUE(p.w.f.lua.load("o:highlight(true)"));
    EXPECT_TRUE(p.model->elements[0].flags & kElementHighlight);
    ASSERT_TRUE(p.w.f.lua.load("o:highlight(false)"));
    EXPECT_FALSE(p.model->elements[0].flags & kElementHighlight);
    EXPECT_EQ(p.eval("o:element_triangles(0)"), "1");
    EXPECT_EQ(p.eval("o:element_materials(0)"), "1");
    for (const char* call : {"o:element_triangles(1)", "o:element_materials(-1)"}) {
        p.w.log().clear();
        EXPECT_EQ(p.eval(call), "0") << call;
        EXPECT_TRUE(p.w.logged("element index [")) << call;
    }
    EXPECT_EQ(p.eval("o.texture"), "0");
    EXPECT_EQ(p.eval("o:set_element_texture('FACE', 3)"), "true");
    EXPECT_EQ(p.model->elements[0].textureSet(), 3u);
    EXPECT_TRUE(p.model->elements[0].flags & kElementPushed);
    EXPECT_EQ(p.eval("o.texture"), "3");
    EXPECT_EQ(p.eval("o:set_element_texture('lid', 1)"), "false");
    EXPECT_TRUE(p.w.logged("Can't find element with name [lid] in model [panel_a]"));
    EXPECT_EQ(p.eval("o:set_element_texture('face', 300)"), "false");
    EXPECT_EQ(p.model->elements[0].textureSet(), 3u);
    ASSERT_TRUE(p.w.f.lua.load("o.texture = 2"));
    EXPECT_EQ(p.eval("o.texture"), "2");
    EXPECT_EQ(p.eval("o:test_voice()"), "false");
    ASSERT_TRUE(p.w.f.lua.load("o:stop_voice()"));
}

}  // namespace
