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

    // A number outside 32 bits is refused and leaves the colour; a negative
    // one inside them gives its bit pattern.
    ASSERT_TRUE(f.load("c:set(0.25, 0.25, 0.25)\n"
                       "big = tostring(c:setInt(1e30)) .. tostring(c:setInt(-1e30)) .. tostring(c:setInt(0/0))"
                       " .. tostring(c:setInt(2^32))\n"
                       "r5 = c.r .. ' ' .. c.a\n"
                       "neg = tostring(c:setInt(-1))\n"
                       "r6 = string.format('%.1f %.1f', c.r, c.a)\n"));
    EXPECT_EQ(f.global("big"), "falsefalsefalsefalse");
    EXPECT_EQ(f.global("r5"), "0.25 0.25");
    EXPECT_TRUE(f.logged("Can't set color from ["));
    EXPECT_EQ(f.global("neg"), "true");
    EXPECT_EQ(f.global("r6"), "0.5 1.0");
}
