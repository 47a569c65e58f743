// The script class "Blender" over blend envelopes.
#include <gtest/gtest.h>

#include <luabind/luabind.hpp>

#include "foundation/BlenderHeader.h"
#include "foundation/TimeCore.h"
#include "script/ScriptTestFixture.h"
#include "script/lua/BlenderScript.h"

using testing_support::ScriptFixture;

TEST(BlenderScript, ScriptsConfigureAndRunTheEnvelope) {
    const ScriptClassRegistration classes[] = {{"Blender", &registerBlenderClass}};
    ScriptFixture f(classes, 1);
    luabind::globals(f.state)["b"] = BlenderHeader{};
    ASSERT_TRUE(f.load("r0 = b:classof()\n"
                       "r1 = tostring(b:low(0)) .. tostring(b:high(1)) .. tostring(b:start(0, 2))\n"
                       "r2 = tostring(b:run()) .. tostring(b:start(-1, 1))\n"));
    EXPECT_EQ(f.global("r0"), "Blender");
    EXPECT_EQ(f.global("r1"), "truetruetrue");
    EXPECT_EQ(f.global("r2"), "truefalse");
    EXPECT_TRUE(f.logged("BlenderHeader: start must be more than 0"));

    // The script's object is its own value: step it from C++ and read back.
    BlenderHeader* b = luabind::object_cast<BlenderHeader*>(luabind::globals(f.state)["b"]);
    ASSERT_TRUE(b->setStart(0.0, 2.0));
    CurrentTime sample;
    sample.game.step = 1.0;
    sample.world.step = 1.0;
    b->update(sample);
    EXPECT_NEAR(b->level, 0.5f, 1e-6);
    ASSERT_TRUE(f.load("r3 = tostring(b:enabled()); b:stop(); r4 = tostring(b:enabled())\n"
                       "r5 = tostring(b:finish(0, 1))\n"));
    EXPECT_EQ(f.global("r3"), "true");
    EXPECT_EQ(f.global("r4"), "false");
    EXPECT_EQ(f.global("r5"), "true");
}
