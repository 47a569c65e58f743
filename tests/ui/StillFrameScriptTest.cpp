// The still frames as scripts see them: the global "stillframe" and its
// "Image" items on the still frames the provider hands out.
#include <gtest/gtest.h>

#include "script/ScriptEngine.h"
#include "script/ScriptTestFixture.h"
#include "ui/StillFrameData.h"
#include "ui/lua/UiScripts.h"
#include "ui/StillFrameBuilderTestSupport.h"

namespace {

StillFrameData* gData = nullptr;

class StillFrameScript : public ::testing::Test {
protected:
    StillFrameScript() : f(kClasses, 1) {
        gData = &data;
        setStillFrameDataProvider([] { return gData; });
    }
    ~StillFrameScript() override {
        setStillFrameDataProvider(nullptr);
        gData = nullptr;
    }
    static constexpr ScriptClassRegistration kClasses[] = {{"StillFrame, Image", registerStillFrameClass}};
    StillFrameData data;
    testing_support::ScriptFixture f;
};

TEST_F(StillFrameScript, AnImageShowsATextureAtAPlaceOfTheScreen) {
    ASSERT_TRUE(f.load("image = stillframe:create('Demo_Stone')\n"
                       "ok = tostring(image:set('stone'))\n"
                       "image.x = 384; image.y = 256; image.width = 256; image.height = 128; image.order = 1\n"
                       "kinds = stillframe:classof() .. ' ' .. image:classof()\n"
                       "found = stillframe:get('DEMO_stone').width\n"
                       "count = stillframe:count()\n"));
    EXPECT_EQ(f.global("kinds"), "StillFrame Image");
    EXPECT_EQ(f.global("ok"), "false");  // no device yet: the texture waits for it
    EXPECT_EQ(f.number("found"), 256);
    EXPECT_EQ(f.number("count"), 1);
    StillFrameScriptDataItem* item = data.find("demo_stone");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->name, "demo_stone");
    EXPECT_STREQ(item->image.source.link.baseName(), "stone");
    EXPECT_EQ(item->x, 384.0f);
    EXPECT_EQ(item->y, 256.0f);
    EXPECT_EQ(item->height, 128.0f);
    EXPECT_EQ(item->layer, 1);
}

TEST_F(StillFrameScript, BadNamesMissesAndDeletedItems) {
    ASSERT_TRUE(f.load("a = stillframe:create('a'); stillframe:create('b'); stillframe:create('c')\n"
                       "used = tostring(stillframe:create('A') == nil)\n"
                       "empty = tostring(stillframe:create('') == nil)\n"
                       "auto = tostring(stillframe:create('$auto') ~= nil)\n"
                       "missing = tostring(stillframe:get('nothing') == nil)\n"
                       "tested = tostring(stillframe:test('nothing'))\n"
                       "stillframe:delete(a)\n"
                       "stillframe:delete('b')\n"
                       "stillframe:delete('b')\n"
                       "count = stillframe:count()\n"
                       "gone = tostring(pcall(function() return a.x end))\n"));
    EXPECT_EQ(f.global("used"), "true");
    EXPECT_EQ(f.global("empty"), "true");
    EXPECT_EQ(f.global("auto"), "true");
    EXPECT_EQ(f.global("missing"), "true");
    EXPECT_EQ(f.global("tested"), "false");
    EXPECT_EQ(f.number("count"), 2);  // "c" and the unnamed one
    // A deleted item's script object no longer reaches it.
    EXPECT_EQ(f.global("gone"), "false");
    EXPECT_TRUE(f.logged("stillframe:create(a)  -> This name already used"));
    EXPECT_TRUE(f.logged("stillframe: SF name is EMPTY STRING"));
    EXPECT_TRUE(f.logged("stillframe:get(nothing) -> Can't find stillframe"));
    EXPECT_TRUE(f.logged("stillframe:del(b)  -> Object with requested name not found"));
}

TEST_F(StillFrameScript, WithoutStillFramesTheMethodsRaiseAScriptError) {
    setStillFrameDataProvider(nullptr);
    ASSERT_TRUE(f.load("ok = tostring(pcall(function() return stillframe:count() end))\n"));
    EXPECT_EQ(f.global("ok"), "false");
}


// The full classes: "StillFrame", "Image" and "Frame" with the variable
// and colour classes of a running game.
class StillFrameClasses : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(screens.start("fixture.ready boolean true\n")); }
    StillFrameData data;
    still_frame_test::ScreenScripts screens{data};
};

TEST_F(StillFrameClasses, ContainerItemAndFrameMembers) {
    ASSERT_TRUE(screens.run(
        "a = stillframe:create('a'); b = stillframe:create('b'); c = stillframe:create('c')\n"
        "stillframe:delete(b)\n"
        "count = stillframe:count()\n"
        "kinds = stillframe:classof() .. ' ' .. a:classof() .. ' ' .. a.frame:classof() .. ' ' .. Image.Show\n"
        "a.scrollX = 1.5; sx1 = a.scrollX; a.scrollX = -2; sx2 = a.scrollX; a.scrollY = 0.25\n"
        "none = '[' .. a:getEvent(3) .. ']'\n"
        "set1 = tostring(a:setEvent(3, 'up')); set2 = tostring(a:setEvent(3, 'other')); up = a:getEvent(3)\n"
        "a.physics_enable = true; physics = tostring(a.physics_enable)\n"
        "children = a:childsCount(); child = tostring(a:childsObject(1))\n"
        "a.frame.x = 0.25; a.mask_frame.sdy = 2; a.shadow_dx = 3.9; a.blur = -2.7\n"
        "a.wrap_maskV = true; wrapped = tostring(a.wrap_maskV) .. tostring(a.wrap_maskU)\n"
        "a.color.r = 1; a.shadow_color:setHex('80FF0000'); local same = a.color; same.g = 0.125; c.color = same\n"
        "stillframe.event_debug = true; stillframe.onTriggerEnter = 'enter'\n"
        "debug = tostring(stillframe.event_debug) .. ' ' .. stillframe.onTriggerEnter\n"
        "stillframe:setGravity(0, -10)\n"
        "a.x = 50; c.x = 20\n"
        "attached = tostring(a:attachImage(c)); parent = a:getAttachedImage():getName(); cc = c:childsCount()\n"
        "loose = tostring(a:attachImage(nil)); gone = tostring(a:getAttachedImage())\n"
        "kept = c.color; stillframe:delete(c); keptAfter = tostring(pcall(function() return kept.r end))\n"));
    EXPECT_EQ(screens.global("count"), "2");
    EXPECT_EQ(screens.global("kinds"), "StillFrame Image Frame 1");
    EXPECT_EQ(screens.global("sx1"), "1");
    EXPECT_EQ(screens.global("sx2"), "0");
    EXPECT_EQ(screens.global("none"), "[]");
    EXPECT_EQ(screens.global("set1") + screens.global("set2") + screens.global("up"), "truefalseup");
    EXPECT_EQ(screens.global("physics"), "false");
    EXPECT_EQ(screens.global("children"), "0");
    EXPECT_EQ(screens.global("child"), "nil");
    EXPECT_EQ(screens.global("debug"), "true enter");
    EXPECT_TRUE(screens.logged("This EXE not support physics"));
    EXPECT_EQ(screens.global("attached") + " " + screens.global("parent") + " " + screens.global("cc"), "true c 1");
    EXPECT_EQ(screens.global("loose") + " " + screens.global("gone"), "false nil");
    // A colour kept past its item is refused, not read from freed memory.
    EXPECT_EQ(screens.global("keptAfter"), "false");
    const StillFrameScriptDataItem* a = data.find("a");
    ASSERT_NE(a, nullptr);
    EXPECT_FLOAT_EQ(a->scroll.y, -0.25f);  // kept negated
    EXPECT_FLOAT_EQ(a->image.left, 0.25f);
    EXPECT_FLOAT_EQ(a->mask.scrollSpeed[3], 2.0f);
    EXPECT_EQ(a->shadow.dx, 3);
    EXPECT_EQ(screens.global("wrapped"), "truefalse");
    EXPECT_EQ(a->mask.source.link.addressV, 1u);
    EXPECT_EQ(a->animation.blur, -2);
    // The colours are the item's own: set in place, or copied in whole.
    EXPECT_FLOAT_EQ(a->color[0], 1.0f);
    EXPECT_FLOAT_EQ(a->color[1], 0.125f);
    EXPECT_FLOAT_EQ(a->shadow.color[0], 0.5f);
    EXPECT_NEAR(a->shadow.color[3], 128.0f / 255.0f, 1e-4f);
    EXPECT_EQ(a->link.parent, nullptr);
}

TEST_F(StillFrameClasses, ParticleEffectSetsSetTestAndReset) {
    ASSERT_TRUE(screens.run(
        "p = stillframe:create('p')\n"
        "function both(i) return tostring(p:testParticleEffect(i, true)) .. tostring(p:testParticleEffect(i, false)) end\n"
        "p:setParticleEffect(2, true); r1 = both(2)\n"
        "p:setParticleEffect(2, false); r2 = both(2)\n"
        "p:setParticleEffect(5, true); p:resetParticleEffect()\n"
        "any = false\n"
        "for i = 0, 11 do any = any or p:testParticleEffect(i, true) or p:testParticleEffect(i, false) end\n"
        "r3 = tostring(any); noParticle = tostring(p:resetParticle())\n"));
    EXPECT_EQ(screens.global("r1"), "truefalse");
    EXPECT_EQ(screens.global("r2"), "falsetrue");
    EXPECT_EQ(screens.global("r3"), "false");
    EXPECT_EQ(screens.global("noParticle"), "false");
}

TEST_F(StillFrameClasses, IndicesOutsideTheirTablesAreRefused) {
    ASSERT_TRUE(screens.run("i = stillframe:create('i')\n"
                            "function f(img) end\n"));
    struct Case {
        const char* call;
        const char* result;
        const char* message;
    };
    const Case cases[] = {
        {"i:setEvent(24, 'f')", "false", "Invalid event index 24 for sf [i]"},
        {"i:setEvent(-1, 'f')", "false", "Invalid event index -1 for sf [i]"},
        {"'[' .. i:getEvent(24) .. ']'", "[]", "Invalid event index 24 for sf [i]"},
        {"i:call_event(40)", "false", "Invalid event index 40 for sf [i]"},
        {"i:testEffect(32)", "false", "Invalid effect index 32 for sf [i]"},
        {"i:setEffect(32, 1)", "false", "Invalid effect index 32 for sf [i]"},
        {"i:testParticleEffect(12, true)", "false", "Invalid particle effect index 12 for sf [i]"},
        {"(function() i:setParticleEffect(-3, true) return i:testParticleEffect(0, false) end)()", "false",
         "Invalid particle effect index -3 for sf [i]"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(screens.run(std::string("r = tostring(") + c.call + ")")) << c.call;
        EXPECT_EQ(screens.global("r"), c.result) << c.call;
        EXPECT_TRUE(screens.logged(c.message)) << c.call;
    }
    const StillFrameScriptDataItem* i = data.find("i");
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->animation.modes, 0u);
    EXPECT_EQ(i->particle.playSet | i->particle.pauseSet, 0u);
}

}  // namespace
