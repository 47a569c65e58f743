// The still frames as scripts see them: the global "stillframe" and its
// "Image" items on the still frames the provider hands out.
#include <gtest/gtest.h>

#include "script/ScriptEngine.h"
#include "script/ScriptTestFixture.h"
#include "ui/StillFrameData.h"
#include "ui/lua/UiScripts.h"

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

}  // namespace
