// The script class "Color" over colour values.
#include <gtest/gtest.h>

#include <luabind/luabind.hpp>

#include "foundation/ARGBColor.h"
#include "script/ScriptTestFixture.h"
#include "script/lua/ColorScript.h"

using testing_support::ScriptFixture;

TEST(ColorScript, SettersFromLuaFollowTheColourRules) {
    const ScriptClassRegistration classes[] = {{"Color", &registerColorClass}};
    ScriptFixture f(classes, 1);
    luabind::globals(f.state)["c"] = ARGBColor{};
    ASSERT_TRUE(f.load("r0 = c:classof()\n"
                       "ok1 = c:setHex('FF8000')\n"
                       "r1 = string.format('%.7f %.7f %.7f %.1f', c.r, c.g, c.b, c.a)\n"
                       "ok2 = c:setHex('80FF0000')\n"
                       "r2 = string.format('%.7f %.1f', c.a, c.r)\n"
                       "bad1 = c:setHex('FF80G0'); bad2 = c:setHex('1234567')\n"
                       "c:setInt(0xFF204080)\n"
                       "r3 = string.format('%.7f %.7f %.7f %.1f', c.r, c.g, c.b, c.a)\n"
                       "c:set(1, 1, 1); c.a = 0.25\n"
                       "r4 = c.r .. c.g .. c.b .. ' ' .. c.a\n"));
    EXPECT_EQ(f.global("r0"), "Color");
    EXPECT_EQ(f.global("r1"), "0.5000000 0.2509804 0.0000000 1.0");
    EXPECT_EQ(f.global("r2"), "0.5019608 0.5");
    EXPECT_EQ(f.global("bad1"), "");  // false reads as no text
    EXPECT_TRUE(f.logged("Unexpected symbol [g] in color value string"));
    EXPECT_EQ(f.global("r3"), "0.0627451 0.1254902 0.2509804 1.0");
    EXPECT_EQ(f.global("r4"), "111 0.25");
}
