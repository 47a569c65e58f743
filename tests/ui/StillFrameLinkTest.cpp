// Still-frame links and scrolling through the frame update: parents,
// frozen axes, keeping on screen, scroll controllers, the scroll drag with
// the cursor confined, the scroll events and the children's placement.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/SceneLoadFixture.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "model/ModelResourceSupport.h"
#include "render/TextureTestSupport.h"
#include "scene/CameraCore.h"
#include "scene/Y3Pose.h"
#include "script/ScriptTestFixture.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameTestSupport.h"
#include "ui/lua/UiScripts.h"

namespace {

CurrentTime frame(double time) { return still_frame_test::at(time, 0.02); }

class StillFrameLinkTest : public still_frame_test::StillFrameFixture {
protected:
    void SetUp() override {
        StillFrameFixture::SetUp();
        ASSERT_TRUE(f.load("events = ''\n"
                           "local function note(what) return function(img) events = events .. what .. ' ' end end\n"
                           "xShow = note('xshow'); xHide = note('xhide'); xEnter = note('xenter'); "
                           "xLeave = note('xleave')\n"
                           "yShow = note('yshow'); yHide = note('yhide'); yEnter = note('yenter'); "
                           "yLeave = note('yleave')\n"));
    }
    void step() { data().update(frame(time_ += 0.02)); }
    InputVirtualPointer& cursor() { return input.virtualDevices.pointer; }

    double time_ = 0.0;
};

TEST_F(StillFrameLinkTest, AnItemLinkedToItselfLosesTheLinkAtItsFirstUpdate) {
    StillFrameScriptDataItem* me = item("me", 10, 20, 30, 30);
    me->link.flags = LinkActive;
    me->link.parent = me;
    step();
    EXPECT_EQ(me->link.parent, nullptr);
    EXPECT_NE(me->flags & ItemUpdated, 0u);
    EXPECT_EQ(linesWith("Stillframe reference loop: [me] parent to self [SELF LINK REMOVED]"), 1);
    EXPECT_EQ(linesWith("Found SF loop"), 0);
    step();
    EXPECT_EQ(linesWith("Stillframe reference loop"), 1);
}

TEST_F(StillFrameLinkTest, ChildrenFollowTheirParentOnAxesWithoutAFrozenOffset) {
    struct Case {
        float ax, ay;
        bool keep;
        float x, y;  // after the parent moved to (900, 700)
    };
    const Case cases[] = {
        {5, 7, false, 905, 707},
        {5, 100000, false, 905, 50},    // y frozen: follows on x only
        {-100000, 7, false, 40, 707},   // x frozen
        {100, 60, true, 975, 742},      // 1000 + 25 > 1024 and 760 + 18 > 768: back by half the size
        {-200, -200, true, 700, 500},   // inside: unchanged
    };
    for (const Case& c : cases) {
        StillFrameScriptDataItem* parent = item("parent", 10, 10, 100, 100);
        StillFrameScriptDataItem* child = item("child", 40, 50, 50, 36);
        ASSERT_TRUE(child->link.attachToItemByName(*child, data(), "PARENT"));
        EXPECT_FLOAT_EQ(child->link.ax, 30.0f);
        child->link.ax = c.ax;
        child->link.ay = c.ay;
        if (c.keep) child->link.flags |= LinkKeepOnScreen;
        parent->x = 900;
        parent->y = 700;
        step();
        EXPECT_FLOAT_EQ(child->x, c.x) << c.ax << " " << c.ay;
        EXPECT_FLOAT_EQ(child->y, c.y) << c.ax << " " << c.ay;
        data().deleteObject(child);
        data().deleteObject(parent);
    }
    StillFrameScriptDataItem* orphan = item("orphan", 0, 0, 10, 10);
    EXPECT_FALSE(orphan->link.attachToItemByName(*orphan, data(), "nobody"));
    EXPECT_EQ(linesWith("Can't attach SF [orphan] to [nobody]"), 1);
}

// A "Move" started by a script on an item attached to a parent carries it
// to the target: the link places the item before the modes run.
TEST_F(StillFrameLinkTest, MoveCarriesAnAttachedItemToItsTarget) {
    item("panel", 100, 100, 200, 200);
    ASSERT_TRUE(f.load("local button = stillframe:create('button')\n"
                       "button.x = 120; button.y = 130\n"
                       "attached = tostring(button:attachSF('panel'))\n"
                       "button.mx = 500; button.my = 400\n"
                       "started = tostring(button:setEffect(Image.Move, 1.0))\n"));
    EXPECT_EQ(f.global("attached"), "true");
    EXPECT_EQ(f.global("started"), "true");
    StillFrameScriptDataItem* button = data().find("button");
    ASSERT_NE(button, nullptr);
    step();  // the move starts at this frame's time
    EXPECT_FLOAT_EQ(button->x, 120.0f);
    for (int frame = 0; frame < 25; ++frame) step();
    // Half a second on: half of the way from (120, 130).
    EXPECT_NEAR(button->x, 310.0f, 1.0f);
    EXPECT_NEAR(button->y, 265.0f, 1.0f);
    // The frame that completes the move places it on the target.
    for (int frame = 0; frame < 30 && button->animation.modes; ++frame) step();
    EXPECT_EQ(button->animation.modes, 0u);
    EXPECT_FLOAT_EQ(button->x, 500.0f);
    EXPECT_FLOAT_EQ(button->y, 400.0f);
}

TEST_F(StillFrameLinkTest, TheScreenTestAndTheCursorLink) {
    EXPECT_TRUE(StillFrameLink::isOnScreen(1024, 768, 10, 10));
    EXPECT_TRUE(StillFrameLink::isOnScreen(-10, -10, 10, 10));
    EXPECT_FALSE(StillFrameLink::isOnScreen(1025, 0, 10, 10));
    EXPECT_FALSE(StillFrameLink::isOnScreen(0, -11, 10, 10));
    StillFrameScriptDataItem* grabbed = item("grabbed", 300, 200, 10, 10);
    cursor().set(310, 230);
    ASSERT_TRUE(StillFrameLink::startDrag(*grabbed, data(), true));
    cursor().set(500, 600);
    step();
    EXPECT_FLOAT_EQ(grabbed->x, 490.0f);
    EXPECT_FLOAT_EQ(grabbed->y, 570.0f);
}

TEST_F(StillFrameLinkTest, AControllerInUseIsRefusedAndTheSlotsStay) {
    StillFrameScriptDataItem* a = item("a", 0, 0, 100, 100);
    StillFrameScriptDataItem* b = item("b", 0, 0, 100, 100);
    item("barx", 0, 0, 10, 10);
    item("bary", 0, 0, 10, 10);
    item("handle", 0, 0, 10, 10);
    ASSERT_TRUE(a->scroll.setControllers(*a, data(), "barx", "", ""));
    ASSERT_TRUE(b->scroll.setControllers(*b, data(), "", "bary", "handle"));
    EXPECT_FALSE(b->scroll.setControllers(*b, data(), "barx", "", "handle"));
    EXPECT_EQ(linesWith("Can't assign scroll controller [barx] to [b] : Already assigned to [a]"), 1);
    EXPECT_EQ(b->scroll.controllerX, nullptr);
    EXPECT_EQ(b->scroll.controllerY, data().find("bary"));
    EXPECT_EQ(b->scroll.controllerXY, data().find("handle"));
    EXPECT_FALSE(b->scroll.setControllers(*b, data(), "", "nothing", ""));
    EXPECT_EQ(linesWith("Fail setup scroll [b]: controller sf Y [nothing] not found"), 1);
    EXPECT_EQ(b->scroll.controllerY, data().find("bary"));
    // The owner may take its own controllers again.
    EXPECT_TRUE(a->scroll.setControllers(*a, data(), "barx", "", ""));
}

TEST_F(StillFrameLinkTest, AListScrollsUnderItsDraggedBar) {
    // A list of ten rows of 30 in a box 100 high: the rows reach 200 beyond.
    StillFrameScriptDataItem* list = item("list", 100, 100, 200, 100);
    for (int i = 0; i < 10; ++i) {
        StillFrameScriptDataItem* row = item(("row" + std::to_string(i)).c_str(), 100, 100 + 30.0f * i, 200, 30);
        ASSERT_TRUE(row->link.attachToItem(*row, list));
    }
    StillFrameScriptDataItem* bar = item("bar", 300, 100, 20, 20);
    ASSERT_TRUE(StillFrameData::setEvent(EventScrollYShow, "yShow", list));
    ASSERT_TRUE(StillFrameData::setEvent(EventScrollYShow + 1, "yHide", list));
    ASSERT_TRUE(StillFrameData::setEvent(EventScrollYShow + 4, "yEnter", list));
    ASSERT_TRUE(StillFrameData::setEvent(EventScrollYShow + 5, "yLeave", list));
    ASSERT_TRUE(StillFrameData::setEvent(EventScrollXShow, "xShow", list));
    ASSERT_TRUE(list->scroll.setControllers(*list, data(), "", "bar", ""));
    step();
    EXPECT_FLOAT_EQ(list->scroll.overflowY, 200.0f);
    EXPECT_EQ(events(), "yshow ");

    // Grabbed 5 below its top: the cursor may move the bar over the box only.
    cursor().set(310, 105);
    ASSERT_TRUE(StillFrameLink::startDrag(*bar, data(), true));
    EXPECT_FLOAT_EQ(cursor().minY, 105.0f);
    EXPECT_FLOAT_EQ(cursor().maxY, 185.0f);
    const float path[] = {145, 2000, 700, 185, 100, -50, 0, 105, 145};
    for (float y : path) {
        cursor().set(310, y);
        step();
        EXPECT_GE(list->scroll.y, -1.0f) << y;
        EXPECT_LE(list->scroll.y, 0.0f) << y;
    }
    step();
    // The list reads the bar of the frame before: it leaves the top, arrives
    // at the end once while held there, and arrives at the top once.
    EXPECT_EQ(events(), "yshow yleave yenter yenter ");
    EXPECT_FLOAT_EQ(list->scroll.y, -0.5f);
    EXPECT_FLOAT_EQ(data().find("row0")->y, 0.0f);
    EXPECT_FLOAT_EQ(data().find("row9")->y, 270.0f);

    cursor().set(310, 185);
    step();
    step();
    EXPECT_FLOAT_EQ(list->scroll.y, -1.0f);
    EXPECT_FLOAT_EQ(data().find("row9")->y, 170.0f);  // the last row at the box's bottom
    ASSERT_TRUE(StillFrameLink::startDrag(*bar, data(), false));
    EXPECT_FLOAT_EQ(cursor().minX, 0.0f);
    EXPECT_FLOAT_EQ(cursor().minY, 0.0f);
    EXPECT_FLOAT_EQ(cursor().maxX, 1024.0f);
    EXPECT_FLOAT_EQ(cursor().maxY, 768.0f);
    // Let go, the bar is placed from the position.
    list->scroll.y = -0.25f;
    step();
    EXPECT_FLOAT_EQ(bar->y, 120.0f);
}

// A scene is current and a model stands in it.
class StillFrameModelLinkTest : public ::testing::Test {
protected:
    StillFrameModelLinkTest() {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("quay");
        pose.pose = matrix34Identity();
        pose.pose.m[9] = 4.0f;
        pose.pose.m[11] = -2.0f;
        std::strcpy(pose.model, "crate");
    }
    ~StillFrameModelLinkTest() override {
        data.releaseAll();
        pose.release();
    }
    // The model's origin, raised by rise, on the still-frame screen.
    void expectedScreen(const Model& model, float& x, float& y, float rise = 0.0f) {
        float point[3] = {model.worldMatrix.m[9], model.worldMatrix.m[10] + rise, model.worldMatrix.m[11]};
        float screen[2] = {point[0], point[1]};
        if (const CameraCore* camera = gameCore.scene_getCamera(nullptr)) camera->projectToScreen(point, screen);
        x = screen[0];
        y = screen[1];
    }

    testing_support::SceneLoadFixture f;
    // A plain box, and one with a named point: an action 2 units above the
    // origin whose spot stands 1 unit above the action.
    model_test::ScopedModelResources models{{"crate"},
                                            {model_test::boxModel("mast") + "action top body spot 0 1 0 at 0 2 0\n"}};
    StillFrameData data;
    Y3Pose_Model pose{"crate.1"};
    double time_ = 0.0;
};

TEST_F(StillFrameModelLinkTest, ALabelFollowsItsModelUntilTheModelIsGone) {
    ASSERT_NE(gameCore.currentScene(), nullptr);
    ASSERT_TRUE(pose.spawn(0));
    auto* model = static_cast<Model*>(gameCore.objects->getObject(pose.link));
    ASSERT_NE(model, nullptr);
    StillFrameScriptDataItem* label = data.create("label");
    EXPECT_FALSE(label->link.attachToModel(*label, "crate.1", "head"));
    EXPECT_TRUE(f.logged("Attach2Model[label]: model [crate.1] action name invalid: >>[head]<< "));
    EXPECT_FALSE(label->link.attachToModel(*label, "nothing", nullptr));
    EXPECT_TRUE(f.logged("Can't find game object with name [nothing]"));
    ASSERT_TRUE(label->link.attachToModel(*label, "crate.1", nullptr));
    label->link.ax = 5.0f;
    label->link.ay = -7.0f;
    for (float x : {4.0f, -3.0f}) {
        Matrix34 moved = model->worldMatrix;
        moved.m[9] = x;
        moved.m[10] = 1.5f;
        model->setWorldMatrix(moved);
        data.update(frame(time_ += 0.02));
        float sx = 0.0f, sy = 0.0f;
        expectedScreen(*model, sx, sy);
        EXPECT_FLOAT_EQ(label->x, sx + 5.0f) << x;
        EXPECT_FLOAT_EQ(label->y, sy - 7.0f) << x;
    }
    const float lastX = label->x;
    pose.release();
    data.update(frame(time_ += 0.02));
    EXPECT_TRUE(f.logged("at stillframe [label] : [REMOVE LINK]"));
    EXPECT_EQ(label->link.value, 0u);
    EXPECT_FLOAT_EQ(label->x, lastX);
}

// A label on a model's named point follows the action's spot, not the
// action's origin or the model's.
TEST_F(StillFrameModelLinkTest, ALabelOnANamedPointFollowsThePoint) {
    ASSERT_NE(gameCore.currentScene(), nullptr);
    Y3Pose_Model mast{"mast.1"};
    mast.pose = pose.pose;
    std::strcpy(mast.model, "mast");
    ASSERT_TRUE(mast.spawn(0));
    auto* model = static_cast<Model*>(gameCore.objects->getObject(mast.link));
    ASSERT_NE(model, nullptr);
    StillFrameScriptDataItem* label = data.create("label");
    ASSERT_TRUE(label->link.attachToModel(*label, "mast.1", "top"));
    for (float x : {4.0f, -3.0f}) {
        Matrix34 moved = model->worldMatrix;
        moved.m[9] = x;
        moved.m[10] = 0.5f;
        model->setWorldMatrix(moved);
        data.update(frame(time_ += 0.02));
        float sx = 0.0f, sy = 0.0f, ax = 0.0f, ay = 0.0f;
        expectedScreen(*model, sx, sy, 3.0f);
        expectedScreen(*model, ax, ay, 2.0f);
        EXPECT_NEAR(label->x, sx, 1e-3f) << x;
        EXPECT_NEAR(label->y, sy, 1e-3f) << x;
        EXPECT_GT(std::fabs(label->y - ay), 1.0f) << x;  // not the action's origin
    }
    data.releaseAll();
    mast.release();
}

}  // namespace
