// Sprites on a sprite resource of the packages: their elements, shown and
// hidden by name, pushed and popped with their render context, their save
// records and the script class "Sprite".
#include <gtest/gtest.h>

#include <luabind/luabind.hpp>

#include <memory>
#include <string>

#include "app/GameCore.h"
#include "effects/Sprite.h"
#include "effects/lua/EffectsScripts.h"
#include "foundation/DataStream.h"
#include "model/Y3Model.h"
#include "model/ModelWriter.h"
#include "resources/ResourceTestSupport.h"
#include "scene/ObjectRepository.h"
#include "script/ScriptTestFixture.h"
#include "support/TestSupport.h"

using namespace resource_tests;

namespace {

// The sprite resource "panel" with the elements background, bg-sky and
// door, stored as the model writer writes a sprite model.
std::string panelBytes() {
    Y3ModelSprite model;
    for (const char* name : {"background", "bg-sky", "door"}) {
        SpriteElementData element;
        copyName128(element.name, name);
        copyName128(element.texture, (std::string(name) + "_t").c_str());
        model.elements.push_back(element);
    }
    return model_tools::modelFileBytes(model, "panel", true);
}

const ScriptClassRegistration kSpriteClass[] = {{"Sprite", registerSpriteClass}};

struct SpriteWorld {
    SpriteWorld() {
        luabind::globals(lua.state)["panel"] = effectScriptObject(lua.state, &sprite);
        sprite.initialize(matrix34Identity());
    }
    bool run(const std::string& code) { return lua.load(code); }
    bool logged(const std::string& text) { return packages.log().contains(text); }

    testing_support::ScriptFixture lua{kSpriteClass, 1};
    ScopedPackages packages{{storedFile(".sprite", "panel", panelBytes())}};
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects{gameCore.objects, &objects};
    SpriteDataManager sprites;
    testing_support::ScopedCoreMember<SpriteDataManager> useSprites{gameCore.spriteData, &sprites};
    Sprite sprite{0, "panel", "hall"};
};

TEST(Sprite, ElementsFollowTheResourceAndAreFoundLowerCased) {
    SpriteWorld w;
    ASSERT_TRUE(w.packages.built());
    ASSERT_EQ(w.sprite.elements.size(), 3u);
    const bool shown[3] = {true, true, false};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(w.sprite.elementVisible(static_cast<std::int32_t>(i)), shown[i]) << i;
    EXPECT_EQ(w.sprite.findElement("DOOR"), 2);
    EXPECT_EQ(w.sprite.findElement("window"), -1);
    EXPECT_EQ(w.sprite.findObject("bg-"), 1);
    EXPECT_EQ(w.sprite.findObject("do"), 0);
    EXPECT_EQ(w.sprite.findObject("x"), -1);
}

TEST(Sprite, AHiddenSpriteIsNotPushedAndShowingPushesIt) {
    SpriteWorld w;
    EXPECT_FALSE(w.sprite.push());
    EXPECT_TRUE(w.logged("Can't push invisible sprite: push only at visible phase"));
    EXPECT_FALSE(w.sprite.pushed());
    w.sprite.setVisible(true);
    EXPECT_TRUE(w.sprite.pushed());
    ASSERT_NE(w.sprite.resource, nullptr);
    ASSERT_NE(w.sprite.resource->context, nullptr);
    EXPECT_EQ(w.sprite.resource->context->sprites.size(), 1u);
    // The shown elements took their textures (none in the packages: they
    // are logged and the sprite stays pushed).
    EXPECT_TRUE(w.logged("Fail push sprite [hall.background]"));
    w.sprite.setVisible(false);
    EXPECT_FALSE(w.sprite.pushed());
    EXPECT_EQ(w.sprite.resource->context, nullptr);
}

// A sprite deleted while pushed leaves its resource's render list; the
// list of the others stays, and goes with the last one.
TEST(Sprite, ASpriteDeletedWhilePushedLeavesItsRenderList) {
    SpriteWorld w;
    auto other = std::make_unique<Sprite>(0, "panel", "porch");
    other->initialize(matrix34Identity());
    other->setVisible(true);
    w.sprite.setVisible(true);
    ASSERT_NE(w.sprite.resource->context, nullptr);
    ASSERT_EQ(w.sprite.resource->context->sprites.size(), 2u);
    const Sprite* gone = other.get();
    other.reset();
    EXPECT_TRUE(w.logged("Sprite Destructor: Object [porch] is registered: Unregister before release"));
    ASSERT_NE(w.sprite.resource->context, nullptr);
    ASSERT_EQ(w.sprite.resource->context->sprites.size(), 1u);
    EXPECT_NE(w.sprite.resource->context->sprites[0], gone);
    w.sprite.setVisible(false);
    EXPECT_EQ(w.sprite.resource->context, nullptr);
}

TEST(Sprite, ScriptsShowAndHideElementsByName) {
    SpriteWorld w;
    ASSERT_TRUE(w.run("first = panel:element_show('door')\n"
                      "second = panel:element_show('DOOR')\n"
                      "hidden = panel:element_hide('bg-sky')\n"
                      "visible = panel:element_visible('bg-sky')\n"
                      "missing = panel:element_show('window')\n"
                      "count = panel:element_count()\n"
                      "name = panel:element_name(1)\n"
                      "outside = panel:element_name(3)\n"
                      "objects = panel:object_count()\n"
                      "object = panel:object_name(0)\n"
                      "class = panel:classof()\n"));
    const struct {
        const char* global;
        const char* value;
    } cases[] = {
        {"first", "true"},   {"second", "false"}, {"hidden", "true"},   {"visible", "false"},
        {"missing", "false"}, {"count", "3"},      {"name", "bg-sky"},   {"outside", "none"},
        {"objects", "0"},     {"object", "none"},  {"class", "Sprite"},
    };
    for (const auto& c : cases) {
        lua_getglobal(w.lua.state, c.global);
        const char* text = lua_isboolean(w.lua.state, -1) ? (lua_toboolean(w.lua.state, -1) ? "true" : "false")
                                                           : lua_tostring(w.lua.state, -1);
        EXPECT_STREQ(text ? text : "nil", c.value) << c.global;
        lua_pop(w.lua.state, 1);
    }
    EXPECT_TRUE(w.logged("Script call: Show element [DOOR] for sprite [hall]"));
    EXPECT_TRUE(w.logged("ELEMENT_SHOW: Can't find element with name [window] in sprite [hall]"));
    EXPECT_TRUE(w.logged("Sprite [hall]: Invalid hide object list index"));
    EXPECT_TRUE(w.sprite.elementVisible(2));
}

TEST(Sprite, SavedElementsOutsideTheResourceAreRefused) {
    SpriteWorld w;
    w.sprite.setElementShown(2, true);
    MemoryStream saved;
    ASSERT_GT(w.sprite.write(saved), 0);
    Sprite restored{0, "panel", ""};
    saved.setPosition(0);
    ASSERT_EQ(restored.read(saved), saved.size());
    EXPECT_STREQ(restored.getName(), "hall");
    EXPECT_TRUE(restored.elementVisible(2));
    EXPECT_FALSE(restored.pushed());

    // The last element's index (the last nine bytes: flags, index, texture
    // byte) made 3, one past the resource's elements.
    std::string bytes(reinterpret_cast<const char*>(saved.data()), static_cast<std::size_t>(saved.size()));
    bytes[bytes.size() - 5] = 3;
    MemoryStream damaged(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    Sprite refused{0, "panel", ""};
    EXPECT_LT(refused.read(damaged), 0);
    EXPECT_TRUE(w.logged("Can't load sprite [hall]: element index 3 outside its 3 elements"));
}

}  // namespace
