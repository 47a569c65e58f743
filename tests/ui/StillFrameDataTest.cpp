// The still-frame container and its items on the null Direct3D 9 backend:
// names, deletion, the update passes and parent loops, hover and mouse
// buttons turned into script events, the timed modes, media and the quad
// batches.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "render/QuadBatch.h"
#include "render/TextureTestSupport.h"
#include "script/ScriptTestFixture.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameTestSupport.h"
#include "ui/lua/UiScripts.h"

namespace {

using still_frame_test::at;

class StillFrameDataTest : public still_frame_test::StillFrameFixture {
protected:
    void SetUp() override {
        StillFrameFixture::SetUp();
        // Handlers note the event and the item's x.
        ASSERT_TRUE(f.load("events = ''\n"
                           "local function note(what) return function(img) events = events .. what .. ' ' .. "
                           "img.x .. ';' end end\n"
                           "onOver = note('over'); onOut = note('out'); onDown = note('down'); onUp = note('up')\n"
                           "onAct = note('action')\n"
                           "function selfDelete(img) stillframe:delete(img) end\n"
                           "function selfDeleteNamed(img) stillframe:delete('me') end\n"
                           "function deleteLabel(img) stillframe:delete('label') end\n"));
    }
    // A still-frame screen: the still-frame camera mode takes the pointer.
    void pointerAt(float x, float y) {
        gameCore.cameraMode = kCameraModeStillframe;
        input.virtualDevices.pointer.set(x, y);
    }
    bool logged(const char* text) { return f.logged(text); }
};

TEST_F(StillFrameDataTest, AutoNamesAreInventedAndNamesCompareWithoutCase) {
    StillFrameScriptDataItem* a = data().create("$auto");
    StillFrameScriptDataItem* b = data().create("$auto");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a->name, b->name);
    EXPECT_EQ(a->name.rfind("$auto0x", 0), 0u);
    EXPECT_NE(data().create("Menu"), nullptr);
    EXPECT_EQ(data().create("menu"), nullptr);
    EXPECT_TRUE(logged("stillframe:create(menu)  -> This name already used"));
    EXPECT_EQ(data().itemCount(), 3);
}

TEST_F(StillFrameDataTest, ANewItemHasItsDefaults) {
    const StillFrameScriptDataItem* it = data().create("fresh");
    EXPECT_TRUE(it->visible());
    EXPECT_EQ(it->width, 64.0f);
    EXPECT_EQ(it->height, 64.0f);
    const float colour[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(it->color[i], colour[i]);
    EXPECT_EQ(it->layer, 0);
    EXPECT_EQ(it->shadow.dx, 1);
    EXPECT_EQ(it->shadow.dy, 1);
    EXPECT_EQ(it->shadow.color[3], 0.0f);
}

TEST_F(StillFrameDataTest, TheHoverGoesToTheTopReactiveItemAndDeletingItSendsNoMouseOut) {
    StillFrameScriptDataItem* low = item("low", 1, 0, 100, 100, 0);
    StillFrameScriptDataItem* first = item("first", 2, 0, 100, 100, 1);
    StillFrameScriptDataItem* later = item("later", 3, 0, 100, 100, 1);
    StillFrameScriptDataItem* mute = item("mute", 4, 0, 100, 100, 9);  // only "onAction": never hovers
    for (StillFrameScriptDataItem* it : {low, first, later}) {
        ASSERT_TRUE(StillFrameData::setEvent(EventMouseOver, "onOver", it));
        ASSERT_TRUE(StillFrameData::setEvent(EventMouseOut, "onOut", it));
    }
    ASSERT_TRUE(StillFrameData::setEvent(EventAction, "onAct", mute));
    pointerAt(50, 50);
    data().update(at(0.0));
    EXPECT_EQ(data().hovered(), later);
    EXPECT_EQ(events(), "over 3;");
    data().update(at(0.1));
    EXPECT_EQ(events(), "over 3;");  // unchanged: nothing sent
    data().deleteObject(later);
    EXPECT_EQ(data().hovered(), nullptr);
    EXPECT_EQ(events(), "over 3;");
    data().update(at(0.2));
    EXPECT_EQ(data().hovered(), first);
    EXPECT_EQ(events(), "over 3;over 2;");
    // Outside every item: the old one hears it leave.
    pointerAt(500, 500);
    data().update(at(0.3));
    EXPECT_EQ(data().hovered(), nullptr);
    EXPECT_EQ(events(), "over 3;over 2;out 2;");
    // Without a still-frame camera mode the pointer belongs to the game.
    gameCore.cameraMode = 1;
    input.virtualDevices.pointer.set(50, 50);
    data().update(at(0.4));
    EXPECT_EQ(data().hovered(), nullptr);
}

TEST_F(StillFrameDataTest, MouseButtonsReachTheHoveredAndTheDraggedItems) {
    StillFrameScriptDataItem* button = item("button", 7, 0, 100, 100);
    StillFrameScriptDataItem* dragged = item("dragged", 8, 600, 10, 10);
    ASSERT_TRUE(StillFrameData::setEvent(EventMouseDown, "onDown", button));
    ASSERT_TRUE(StillFrameData::setEvent(EventMouseUp, "onUp", dragged));
    dragged->link.flags |= 0x2;
    pointerAt(50, 50);
    EXPECT_TRUE(data().onKey(6, true));
    EXPECT_TRUE(data().onKey(6, false));
    EXPECT_FALSE(data().onKey(7, true));  // no "onMouse1Down" handler anywhere
    EXPECT_FALSE(data().onKey(20, true));
    EXPECT_EQ(events(), "down 7;up 8;");
    // The input core's device buttons reach the still frames first.
    input.virtualDevices.virtualButton.onDeviceButton(6, true, at(0.0));
    EXPECT_EQ(events(), "down 7;up 8;down 7;");
    gameCore.cameraMode = 1;
    EXPECT_FALSE(data().onKey(6, true));
}

TEST_F(StillFrameDataTest, AnItemCannotBeDeletedFromItsOwnHandler) {
    struct Case {
        const char* handler;
        const char* message;
    };
    const Case cases[] = {
        {"selfDelete", "**DELETING IGNORED** Image [me] cannot delete self inside event handler."},
        {"selfDeleteNamed", "**DELETING IGNORED** Image cannot delete self [me] inside event handler."},
    };
    for (const Case& c : cases) {
        StillFrameScriptDataItem* me = item("me", 0, 0, 100, 100);
        ASSERT_TRUE(StillFrameData::setEvent(EventMouseDown, c.handler, me));
        pointerAt(50, 50);
        EXPECT_TRUE(data().onKey(6, true)) << c.handler;
        EXPECT_TRUE(logged(c.message)) << c.handler;
        ASSERT_EQ(data().find("me"), me) << c.handler;
        EXPECT_EQ(me->flags & ItemInHandler, 0u);
        data().deleteObject(me);
        EXPECT_EQ(data().find("me"), nullptr);
    }
}

TEST_F(StillFrameDataTest, ParentLoopsBreakAndDeepChainsResolveInOneFrame) {
    // A chain of 15, each item's parent later in the table.
    std::vector<StillFrameScriptDataItem*> chain;
    for (int i = 0; i < 15; ++i) chain.push_back(data().create(("c" + std::to_string(i)).c_str()));
    for (int i = 0; i + 1 < 15; ++i) {
        chain[i]->link.flags = 1;
        chain[i]->link.parent = chain[i + 1];
    }
    StillFrameScriptDataItem* a = data().create("a");
    StillFrameScriptDataItem* b = data().create("b");
    a->link.flags = b->link.flags = 1;
    a->link.parent = b;
    b->link.parent = a;
    data().update(at(0.0, 0.02));
    EXPECT_EQ(a->link.parent, nullptr);
    EXPECT_EQ(b->link.parent, nullptr);
    EXPECT_EQ(linesWith("Found SF loop: break sf [a]"), 1);
    EXPECT_EQ(linesWith("Found SF loop: break sf [b]"), 1);
    EXPECT_EQ(linesWith("Found SF loop: break sf [c"), 0);
    for (int i = 0; i + 1 < 15; ++i) EXPECT_EQ(chain[i]->link.parent, chain[i + 1]) << i;
    for (const StillFrameScriptDataItem* it : chain) EXPECT_NE(it->flags & ItemUpdated, 0u);
}

TEST_F(StillFrameDataTest, EventsOfATextLabelRunItsParentsHandler) {
    StillFrameScriptDataItem* parent = item("parent", 11, 0, 10, 10);
    StillFrameScriptDataItem* label = item("parent_text", 12, 0, 10, 10);
    ASSERT_TRUE(StillFrameData::setEvent(EventAction, "onAct", parent));
    ASSERT_TRUE(StillFrameData::setEvent(EventAction, "onOut", label));
    label->link.flags = 1;
    label->link.parent = parent;
    label->textGlyphs = 4;
    EXPECT_EQ(data().findTextItem(*parent), label);
    data().sendEvent(label, EventAction);
    EXPECT_EQ(events(), "action 11;");
    label->textGlyphs = 0;  // no text: its own handler
    data().sendEvent(label, EventAction);
    EXPECT_EQ(events(), "action 11;out 12;");
}

TEST_F(StillFrameDataTest, AnItemIsNotDeletedWhileItsUpdateSendsItsEvents) {
    // The label's finished fade reaches its parent, whose handler deletes
    // the label.
    StillFrameScriptDataItem* parent = item("parent", 11, 0, 10, 10);
    StillFrameScriptDataItem* label = item("label", 12, 0, 10, 10);
    ASSERT_TRUE(StillFrameData::setEvent(EventAction, "deleteLabel", parent));
    label->link.flags = 1;
    label->link.parent = parent;
    label->textGlyphs = 4;
    label->animation.start(ModeShow, 0.0f);
    data().update(at(1.0));
    EXPECT_EQ(data().find("label"), label);
    EXPECT_TRUE(logged("**DELETING IGNORED** Image cannot delete self [label] inside event handler."));
    EXPECT_EQ(label->flags & ItemInHandler, 0u);
    data().deleteNamed("label");  // afterwards it goes
    EXPECT_EQ(data().find("label"), nullptr);
}

TEST_F(StillFrameDataTest, AHandlerIsSetOnceAndIndicesOutsideTheTablesAreRefused) {
    StillFrameScriptDataItem* it = item("once", 13, 0, 10, 10);
    EXPECT_TRUE(StillFrameData::setEvent(EventAction, "onAct", it));
    EXPECT_FALSE(StillFrameData::setEvent(EventAction, "onOut", it));
    EXPECT_TRUE(logged("Can't set event StillFrameScriptDataItem::[once].onAction = [onOut]: Already assigned to "
                       "[onAct]"));
    EXPECT_FALSE(StillFrameData::setEvent(EventMouseUp, "", it));
    data().sendEvent(it, EventAction);
    EXPECT_EQ(events(), "action 13;");
    for (std::int32_t bad : {24, -1}) {
        EXPECT_FALSE(StillFrameData::setEvent(bad, "onAct", it)) << bad;
        data().sendEvent(it, bad);
        EXPECT_FALSE(StillFrameData::call_event(it->handlers, bad, it)) << bad;
        EXPECT_FALSE(it->animation.start(bad == 24 ? ModeCount : bad, 1.0f)) << bad;
    }
    EXPECT_EQ(events(), "action 13;");
    EXPECT_TRUE(logged("setEvent: invalid event index 24 for sf [once]"));
    EXPECT_TRUE(logged("Invalid effect 12 for sf [once]"));
    // Without a script engine nothing is called.
    {
        testing_support::ScopedCoreMember<ScriptEngine> none(gameCore.script, nullptr);
        EXPECT_FALSE(StillFrameData::call_event(it->handlers, EventAction, it));
    }
    EXPECT_EQ(events(), "action 13;");
}

TEST_F(StillFrameDataTest, ShowAndHideFadeFromWhereTheyAreAndEndWithOneAction) {
    StillFrameScriptDataItem* it = item("fade", 14, 0, 10, 10);
    ASSERT_TRUE(StillFrameData::setEvent(EventAction, "onAct", it));
    it->color[3] = 0.5f;
    it->animation.start(ModeShow, 2.0f);
    data().update(at(10.0));
    EXPECT_FLOAT_EQ(it->color[3], 0.5f);
    data().update(at(10.5));
    EXPECT_FLOAT_EQ(it->color[3], 0.75f);
    data().update(at(11.0));
    EXPECT_FLOAT_EQ(it->color[3], 1.0f);
    EXPECT_EQ(events(), "action 14;");
    data().update(at(12.0));
    EXPECT_EQ(events(), "action 14;");
    EXPECT_EQ(it->animation.modes, 0u);

    // "Hide" clears a running "Show" and the reverse.
    it->animation.start(ModeShow, 1.0f);
    it->animation.start(ModeHide, 1.0f);
    EXPECT_EQ(it->animation.modes, 1u << ModeHide);
    it->animation.start(ModeShow, 1.0f);
    EXPECT_EQ(it->animation.modes, 1u << ModeShow);
    it->animation.start(ModeHide, 1.0f);
    data().update(at(20.0));
    data().update(at(21.0));
    EXPECT_FALSE(it->visible());
    EXPECT_EQ(it->color[3], 0.0f);
    EXPECT_EQ(events(), "action 14;action 14;");
    // A duration of 0 completes at its first update.
    it->animation.start(ModeShow, 0.0f);
    data().update(at(21.0));
    EXPECT_EQ(it->color[3], 1.0f);
    EXPECT_EQ(events(), "action 14;action 14;action 14;");
}

TEST_F(StillFrameDataTest, AnimateStepsThroughTheFrameStrip) {
    StillFrameScriptDataItem* it = item("strip", 0, 0, 10, 10);
    it->image.speed = 10;
    it->image.frameCount = 4;
    it->animation.start(ModeAnimate, 1e10f);
    const struct {
        double time;
        std::int32_t frame;
    } cases[] = {{5.0, 0}, {5.25, 2}, {5.399, 3}, {5.4, 0}, {5.55, 1}, {300000005.25, 2}};
    for (const auto& c : cases) {
        data().update(at(c.time));
        EXPECT_EQ(it->image.frame, c.frame) << c.time;
    }
}

TEST_F(StillFrameDataTest, AScrollingTextureWindowWrapsInsteadOfLeavingTheTexture) {
    env().files["stone.dds"] = texture_tools::writeDds(texture_tools::countingDds(D3DFMT_A8R8G8B8, 8, 8, 1));
    library().allocated = true;
    attachStateCache();
    StillFrameScriptDataItem* it = item("scrolled", 0, 0, 10, 10);
    ASSERT_TRUE(it->image.setSource(*it, "stone", 0));
    it->image.scrollSpeed[0] = 0.5f;   // left, to the right
    it->image.scrollSpeed[1] = -0.5f;  // top, upwards
    // The window stays within one texture's width of its place: a left of
    // 1 (the same texels as 0) is kept, one beyond the width comes back.
    const struct {
        double seconds;
        float left, top;
    } cases[] = {{1.0, 0.5f, 0.5f}, {1.0, 1.0f, 0.0f}, {2.0, 1.0f, 0.0f}, {0.5, 0.25f, 0.75f}};
    double now = 0.0;
    ASSERT_EQ(device->BeginScene(), S_OK);
    for (const auto& c : cases) {
        now += c.seconds;
        data().update(at(now, c.seconds));
        data().render(0);
        EXPECT_FLOAT_EQ(it->image.left, c.left) << now;
        EXPECT_FLOAT_EQ(it->image.top, c.top) << now;
        EXPECT_EQ(it->image.time, 0.0) << now;
    }
    device->EndScene();
}

TEST_F(StillFrameDataTest, PostEffectsByName) {
    StillFrameScriptDataItem* it = item("effect", 0, 0, 10, 10);
    EXPECT_TRUE(it->animation.setPostProces("SEPIA"));
    EXPECT_EQ(it->animation.postEffect, 2);
    EXPECT_FALSE(it->animation.setPostProces("gold"));
    EXPECT_EQ(it->animation.postEffect, 2);
    EXPECT_TRUE(logged("Invalid post-effect name for sf [effect]. POssible values: [none] [bw] [sepia]"));
}

TEST_F(StillFrameDataTest, ATurnedItemIsHitInsideItsTurnedOutlineOnly) {
    StillFrameScriptDataItem* it = item("turned", 100, 100, 100, 100);
    it->angle = 45.0f;
    // The square turned about its centre (150, 150) is a diamond reaching
    // 70.7 pixels from it.
    const struct {
        float x, y;
        bool hit;
    } cases[] = {{150, 150, true}, {150, 85, true}, {215, 150, true}, {105, 105, false},
                 {195, 195, false}, {150, 75, false}, {225, 150, false}};
    for (const auto& c : cases) EXPECT_EQ(it->hitTest(c.x, c.y), c.hit) << c.x << ", " << c.y;
    it->width = 0.0f;
    EXPECT_FALSE(it->hitTest(150, 150));
}

TEST_F(StillFrameDataTest, MediaOfAnImage) {
    env().files["stone.dds"] = texture_tools::writeDds(texture_tools::countingDds(D3DFMT_A8R8G8B8, 8, 8, 1));
    env().files["moss.dds"] = texture_tools::writeDds(texture_tools::countingDds(D3DFMT_A8R8G8B8, 8, 8, 1));
    library().allocated = true;
    StillFrameScriptDataItem* it = item("media", 0, 0, 10, 10);
    ASSERT_TRUE(it->image.setSource(*it, "Stone", 0));
    DXTextureHandler* stone = it->image.source.link.handler();
    ASSERT_NE(stone, nullptr);
    EXPECT_FALSE(it->image.setSource(*it, "", 0));
    EXPECT_TRUE(logged("Can't set empty texture name for stillframe [media]"));
    EXPECT_EQ(it->image.source.link.handler(), stone);
    const std::int32_t references = stone->refCount;
    EXPECT_TRUE(it->image.setSource(*it, "stone", 0));  // nothing reloaded
    EXPECT_EQ(it->image.source.link.handler(), stone);
    EXPECT_EQ(stone->refCount, references);
    EXPECT_TRUE(it->image.setSource(*it, "moss", 0));
    EXPECT_NE(it->image.source.link.handler(), stone);
    EXPECT_FALSE(it->image.setSource(*it, "nothing", 0));
    EXPECT_TRUE(logged("Can't allocate texture [nothing](0) for stillframe [media]"));

    // No decoder is linked: a video has ended at its first update.
    StillFrameScriptDataItem* video = item("video", 21, 0, 10, 10);
    ASSERT_TRUE(StillFrameData::setEvent(EventAction, "onAct", video));
    video->image.source.flags |= SourceVideo;
    video->image.setSource(*video, "intro", 0);
    data().update(at(1.0, 0.02));
    data().update(at(1.02, 0.02));
    EXPECT_EQ(events(), "action 21;");
}

TEST_F(StillFrameDataTest, DeviceLossReleasesAndRestoresTheItemsTextures) {
    env().files["stone.dds"] = texture_tools::writeDds(texture_tools::countingDds(D3DFMT_A8R8G8B8, 8, 8, 1));
    library().allocated = true;
    StillFrameScriptDataItem* it = item("stone", 0, 0, 10, 10);
    ASSERT_TRUE(it->image.setSource(*it, "stone", 0));
    ASSERT_TRUE(data().createVertexBuffer(device));
    render_->releaseDeviceData();
    EXPECT_EQ(it->image.source.link.handler(), nullptr);
    EXPECT_FALSE(data().vertexBufferReady());
    EXPECT_TRUE(render_->allocateDeviceData(0));
    ASSERT_NE(it->image.source.link.handler(), nullptr);
    EXPECT_STREQ(it->image.source.link.baseName(), "stone");
}

TEST_F(StillFrameDataTest, TheConsoleCatchesUpWithTheLogAfterAnUpdate) {
    const StillFrameConsole& console = render_->stillFrames().console;
    f.log().info("a line");
    data().create("one");
    data().update(at(0.0));
    EXPECT_EQ(console.shownLines, std::int64_t(f.log().recordCount()));
    EXPECT_GT(console.shownLines, 0);
}

TEST_F(StillFrameDataTest, AnAlphaTestedItemIsNotHitOverATransparentTexel) {
    // leaf: opaque on its left half only.
    TgaImage colour = solid(8, 8, 30, 180, 60);
    env().files["leaf.jpg"] = encode(colour, ImageFormatJpeg);
    TgaImage mask;
    ASSERT_TRUE(mask.create(true, 8, 8));
    mask.fillRgb(255, 255, 255);
    // The mask's transparent texels are black as well.
    for (std::uint32_t i = 0; i < 64; ++i)
        if (i % 8 >= 4) std::fill_n(mask.pixels() + i * 4, 4, std::uint8_t(0));
    env().files["leaf.png"] = encode(mask, ImageFormatPng);
    library().allocated = true;
    StillFrameScriptDataItem* it = item("leaf", 0, 0, 80, 80);
    ASSERT_TRUE(it->image.setSource(*it, "leaf", 0));
    EXPECT_TRUE(it->hitTest(60, 40));  // no alpha test: the rectangle counts
    it->flags |= ItemAlphaTest;
    EXPECT_TRUE(it->hitTest(20, 40));
    EXPECT_FALSE(it->hitTest(60, 40));
}

TEST_F(StillFrameDataTest, QuadsShareBatchesByStateAndKey) {
    TextureLink one, two;
    auto quad = [&](TextureLink* texture, std::int32_t key) {
        StillFrameQuad q;
        q.state.textures[0] = texture;
        q.key = key;
        return q;
    };
    // Without handlers both links draw untextured, so the mode tells states apart.
    StillFrameQuad other = quad(&two, 0);
    other.state.mode = 1;
    StillFrameData& d = data();
    ASSERT_TRUE(d.queueQuad(quad(&one, 0)));
    ASSERT_TRUE(d.queueQuad(quad(&one, 0)));
    EXPECT_EQ(d.batchCount(), 1u);
    ASSERT_TRUE(d.queueQuad(other));
    EXPECT_EQ(d.batchCount(), 2u);
    // Another key merges only into the last batch.
    ASSERT_TRUE(d.queueQuad(quad(&one, 5)));
    EXPECT_EQ(d.batchCount(), 3u);
    StillFrameQuad last = other;
    last.key = 7;
    ASSERT_TRUE(d.queueQuad(last));
    EXPECT_EQ(d.batchCount(), 4u);
    ASSERT_TRUE(d.queueQuad(other));  // key 0 joins the second batch
    EXPECT_EQ(d.batches()[1].size(), 2u);
    d.lockBatches();
    EXPECT_FALSE(d.queueQuad(quad(&one, 0)));
    attachStateCache();
    ASSERT_EQ(device->BeginScene(), S_OK);
    d.drawBatches(render_->quadBatch);
    device->EndScene();
    EXPECT_EQ(d.batchCount(), 0u);
    EXPECT_TRUE(d.queueQuad(quad(&one, 0)));
}

}  // namespace
