// The script class "Variable" and the variable globals, driven from Lua.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "script/ScriptTestFixture.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "script/lua/VariableScript.h"
#include "variables/VariableWriter.h"

using testing_support::ScriptFixture;

namespace {

const ScriptClassRegistration kVariableClasses[] = {{"Variable", &registerVariableClass}};

const char* const kGlobalsText =
    "# the globals of the tests\n"
    "system.SF_ui_title string Demo\n"
    "system.volume number 0.5\n"
    "system.intro boolean true\n"
    "list array\n"
    "list.a number 1\n"
    "list.b number 2\n"
    "list.c number 3\n"
    "list.d number 4\n"
    "grid 2d-array\n"
    "grid.col1.r1 number 1\n"
    "grid.col1.r2 number 2\n"
    "grid.col2.r1 number 3\n"
    "audio.volume number 0.25\n"
    "audio.music string on\n";

// Installs a VariablesCore whose global tree comes from kGlobalsText
// through the variable-file writer, then opens the script fixture.
struct VariableFixture {
    explicit VariableFixture(std::int32_t tempCount = 10) {
        setScriptTempVarsCount(tempCount);
        loadGlobals(core);
        script = std::make_unique<ScriptFixture>(kVariableClasses, 1);
    }
    ~VariableFixture() {
        script.reset();
        setScriptTempVarsCount(10);
    }
    static void loadGlobals(VariablesCore& target) {
        ScriptVariable root("root", ScriptVariable::TypeArray);
        std::string error;
        ASSERT_TRUE(variable_tools::parseVariableText(kGlobalsText, root, error)) << error;
        MemoryStream file;
        ASSERT_GT(variable_tools::writeVariableTree(root, file), 0);
        file.setPosition(0);
        ASSERT_GT(target.globals().readSingleFile(file, "globals", 0), 0);
    }
    bool run(const std::string& code) { return script->load(code); }
    std::string global(const char* name) { return script->global(name); }
    bool logged(const std::string& text) { return script->logged(text); }
    ScriptVariable* node(const char* path) { return core.globals().root()->resolvePath(path); }

    VariablesCore core;
    testing_support::ScopedCoreMember<VariablesCore> installed{gameCore.variables, &core};
    std::unique_ptr<ScriptFixture> script;
};

}  // namespace

TEST(VariableScript, ChangedGlobalsSurviveTheSaveBlock) {
    VariableFixture f;
    ASSERT_TRUE(f.run("globals:get('system.volume').value = 0.75\n"
                      "globals:get('system.SF_ui_title').value = 'Saved'\n"
                      "globals:get('system.SF_ui_title').value = 'Saved twice'\n"
                      "kind = globals:classof()\n"));
    EXPECT_EQ(f.global("kind"), "Variable");
    MemoryStream block;
    const std::int32_t size = f.core.write(block);
    ASSERT_GT(size, 4);

    // A fresh tree of the same data takes the values and their flags back;
    // a node the newer data lacks is skipped with its message.
    VariablesCore fresh;
    VariableFixture::loadGlobals(fresh);
    fresh.globals().root()->resolvePath("system")->resizeChildren(2);  // "intro" is gone
    f.node("system.intro")->setChanged(true);
    MemoryStream block2;
    const std::int32_t size2 = f.core.write(block2);
    block2.setPosition(0);
    EXPECT_EQ(fresh.read(block2), size2);
    EXPECT_TRUE(f.logged("Variable format changed: Ignoring deleted variable [system.intro]"));
    const ScriptVariable* volume = fresh.globals().root()->resolvePath("system.volume");
    EXPECT_FLOAT_EQ(volume->toFloat(), 0.75f);
    EXPECT_TRUE(volume->changed());
    EXPECT_EQ(fresh.globals().root()->resolvePath("system.SF_ui_title")->toString(), "Saved twice");
    EXPECT_FALSE(fresh.globals().root()->resolvePath("audio.volume")->changed());
    // The localised tree is never part of the block.
    MemoryStream first, second;
    const std::int32_t own = fresh.write(first);
    fresh.locales().ensureRoot()->createPath("text");
    fresh.locales().root()->resolvePath("text")->setChanged(true);
    EXPECT_EQ(fresh.write(second), own);
}

TEST(VariableScript, EveryScriptChangeIsMarkedAndSurvivesTheSaveBlock) {
    VariableFixture f;
    testing_support::TempDir dir;
    AppPaths paths;
    testing_support::ScopedCoreMember usePaths(gameCore.paths, &paths);
    paths.setPath(PathDataFolderInput, dir.path());
    ASSERT_TRUE(testing_support::writeFile(dir.file("tools.ini"), "[sec]\r\naudio.volume = 0.75\r\n"));
    ASSERT_TRUE(f.run("globals:get('system.SF_ui_title'):add('!')\n"
                      "globals:get('system.SF_ui_title'):add(2.5, 1)\n"
                      "globals:get('list.a'):clear()\n"
                      "globals:get('system.volume'):copy(globals:get('list.b'))\n"
                      "globals:get('audio'):tools_load('sec', '')\n"));
    for (const char* path : {"system.SF_ui_title", "list.a", "list.b", "audio.volume", "audio.music"})
        EXPECT_TRUE(f.node(path)->changed()) << path;
    EXPECT_FALSE(f.node("system.volume")->changed());  // the source of the copy

    MemoryStream block;
    ASSERT_GT(f.core.write(block), 4);
    VariablesCore fresh;
    VariableFixture::loadGlobals(fresh);
    block.setPosition(0);
    ASSERT_GT(fresh.read(block), 4);
    ScriptVariable* root = fresh.globals().root();
    EXPECT_EQ(root->resolvePath("system.SF_ui_title")->toString(), "Demo!2.5");
    EXPECT_FLOAT_EQ(root->resolvePath("list.b")->toFloat(), 0.5f);
    EXPECT_FLOAT_EQ(root->resolvePath("audio.volume")->toFloat(), 0.75f);

    // A value given to the root itself has no path to be saved under: said.
    ASSERT_TRUE(f.run("globals.value = 3"));
    MemoryStream again;
    ASSERT_GT(f.core.write(again), 4);
    EXPECT_TRUE(f.logged("value assigned to the tree's root [root] is not saved"));
}

TEST(VariableScript, ValueAssignmentReportsButAcceptsANewType) {
    VariableFixture f;
    ASSERT_TRUE(f.run("local t = globals:get('system.SF_ui_title')\n"
                      "t.value = true\n"
                      "r1 = t.type .. ':' .. tostring(t.value)\n"
                      "t.value = 'text'\n"
                      "t.value = nil\n"
                      "r2 = t.type .. ':[' .. t.value .. ']'\n"
                      "t.value = 7\n"
                      "r3 = t.type .. ':' .. t.value\n"
                      "r4 = tostring(globals:get('list').value)\n"));
    EXPECT_EQ(f.global("r1"), "boolean:true");
    EXPECT_EQ(f.global("r2"), "string:[]");
    EXPECT_EQ(f.global("r3"), "number:7");
    EXPECT_EQ(f.global("r4"), "nil");
    EXPECT_TRUE(f.logged("New cell value has another type"));
    EXPECT_TRUE(f.logged("Reached error at variable [globals.root.system.SF_ui_title]"));
    EXPECT_TRUE(f.node("system.SF_ui_title")->changed());
}

TEST(VariableScript, AddAppendsWideText) {
    VariableFixture f;
    ASSERT_TRUE(f.run("local v = globals:get('system.SF_ui_title')\n"
                      "v.value = 'abc'\n"
                      "v:add(5)\n"
                      "r1 = v.type .. ':' .. v.value\n"
                      "v:add(1.26, 1)\n"
                      "r2 = v.value\n"
                      "v:add(-2.9, 0)\n"
                      "v:add('!')\n"
                      "v:add(globals:get('system.intro'))\n"
                      "v:add(nil)\n"
                      "r3 = v.value\n"
                      "local n = globals:get('system.volume')\n"
                      "n:add(1.0, 100000)\n"
                      "r4 = string.len(n.value)\n"
                      "n:add(3.5, -4)\n"
                      "r5 = string.sub(n.value, -1)\n"));
    EXPECT_EQ(f.global("r1"), "wstring:abc5");
    EXPECT_EQ(f.global("r2"), "abc51.3");
    EXPECT_EQ(f.global("r3"), "abc51.3-2!true <<NULL>> ");
    // "0.500000" then "1." and at most 32 decimals.
    EXPECT_EQ(f.global("r4"), std::to_string(8 + 2 + 32));
    EXPECT_EQ(f.global("r5"), "3");
}

TEST(VariableScript, NavigationSizesAndCopy) {
    VariableFixture f;
    ASSERT_TRUE(f.run("local l = globals:get('list')\n"
                      "r1 = l.width .. 'x' .. l.height\n"
                      "local g = globals:get('grid')\n"
                      "r2 = g.width .. 'x' .. g.height\n"
                      "r3 = tostring(l:get(0))\n"
                      "r4 = l:get(2).id .. globals:get('grid', 2):get(1).value .. globals:get(1, 'SF_ui_title').value\n"
                      "r5 = globals:get('grid', 'col1.r2').value .. globals:get(2, 1).id\n"
                      "r6 = tostring(globals:test('list.d')) .. tostring(l:test(4)) .. tostring(l:test(5))"
                      " .. tostring(globals:test(4, 2)) .. tostring(globals:test(1, 'volume'))"
                      " .. tostring(globals:test('grid', 3)) .. tostring(globals:test('grid', 'col2.r1'))\n"
                      "r7 = tostring(globals:get('no.such'))\n"
                      "r8 = tostring(globals:get('system.volume'):copy(l:get(1))) .. ':' .. l:get(1).value\n"
                      "r9 = tostring(l:copy(l:get(2)))\n"
                      "l:clear()\n"
                      "r10 = l.height\n"));
    EXPECT_EQ(f.global("r1"), "1x4");
    EXPECT_EQ(f.global("r2"), "2x2");
    EXPECT_EQ(f.global("r3"), "nil");
    EXPECT_TRUE(f.logged("Cannot find variable by index [0]"));
    EXPECT_EQ(f.global("r4"), "b3Demo");
    EXPECT_EQ(f.global("r5"), "2a");
    EXPECT_EQ(f.global("r6"), "truetruefalsetruetruefalsetrue");
    EXPECT_EQ(f.global("r7"), "nil");
    EXPECT_TRUE(f.logged("Variable path [no.such] is invalid"));
    EXPECT_EQ(f.global("r8"), "true:0.5");
    EXPECT_EQ(f.global("r9"), "false");
    EXPECT_TRUE(f.logged("Can't copy variable [list]: Type is invalid (array)"));
    EXPECT_EQ(f.global("r10"), "0");
}

TEST(VariableScript, ScratchTreesFollowTheSetting) {
    struct Case {
        std::int32_t count;
        const char* first;
        const char* last;
    };
    const Case cases[] = {{10, "locales_temp1", "locales_temp10"}, {0, nullptr, nullptr}, {-5, nullptr, nullptr},
                          {2, "locales_temp2", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        VariableFixture f(c.count);
        ASSERT_TRUE(f.run("r1 = locales_temp1 and locales_temp1.type or 'none'\n"
                          "r2 = tostring(locales_temp10 ~= nil)\n"
                          "r3 = tostring(locales_temp11 ~= nil)\n"));
        EXPECT_EQ(f.global("r1"), c.first ? "empty" : "none");
        EXPECT_EQ(f.global("r2"), c.last ? "true" : "false");
        EXPECT_EQ(f.global("r3"), "false");
    }
    // A scratch tree is a real tree: paths can be made and read in it.
    VariableFixture f;
    f.core.scratch(0)->createPath("menu.item");
    ASSERT_TRUE(f.run("r = locales_temp1:get('menu.item').type .. locales_temp1.id"));
    EXPECT_EQ(f.global("r"), "arraylocales_temp1");
}

TEST(VariableScript, NodesDestroyedUnderTheScriptAreNeverTouched) {
    VariableFixture f;
    ASSERT_TRUE(f.run("keep = locales_temp1\n"
                      "child = globals:get('list.a')\n"));
    f.core.makeScratchTrees(3);                      // the scratch trees are rebuilt
    f.core.globals().root()->resolvePath("list")->releaseValues();  // and a subtree dropped
    ASSERT_TRUE(f.run("r1 = tostring(keep.value) .. tostring(keep.type) .. tostring(child.id)\n"
                      "ok, err = pcall(function() return child:get(1) end)\n"
                      "r2 = tostring(ok) .. ':' .. tostring(err)\n"
                      "ok2 = pcall(function() child.value = 3 end)\n"
                      "r3 = tostring(ok2)\n"));
    EXPECT_EQ(f.global("r1"), "nilnilnil");
    EXPECT_EQ(f.global("r2").substr(0, 6), "false:");
    EXPECT_NE(f.global("r2").find("[Variable] object no longer exists"), std::string::npos);
    EXPECT_EQ(f.global("r3"), "false");
}

TEST(VariableScript, DumpAndToolsFileRoundTrip) {
    VariableFixture f;
    testing_support::TempDir dir;
    AppPaths paths;
    testing_support::ScopedCoreMember usePaths(gameCore.paths, &paths);
    paths.setPath(PathDataFolderInput, dir.path());
    paths.setPath(PathAppData, dir.path());

    ASSERT_TRUE(f.run("r1 = tostring(globals:get('system'):dump(false))"));
    EXPECT_EQ(f.global("r1"), "true");
    EXPECT_TRUE(f.logged("Dump script variable [globals.root.system]"));
    // The user folder is <application data>/Games/<game name>, here unnamed.
    const std::string xml = testing_support::readFile(dir.file("Games/.log/var/globals.root.system__value.xml"));
    EXPECT_NE(xml.find("<globals>"), std::string::npos);
    EXPECT_NE(xml.find("<var id='SF_ui_title' type='string'>"), std::string::npos);
    EXPECT_NE(xml.find("<value>Demo</value>"), std::string::npos);
    EXPECT_NE(xml.find("<value>0.500000</value>"), std::string::npos);
    EXPECT_NE(xml.find("vardump.xsl"), std::string::npos);

    ASSERT_TRUE(f.run("r2 = tostring(globals:get('audio'):tools_load('sec', ''))"));
    EXPECT_EQ(f.global("r2"), "false");
    EXPECT_TRUE(f.logged("Can't read tools variable: [tools.ini] NOT exist"));

    ASSERT_TRUE(f.run("r3 = tostring(globals:get('audio'):tools_save('sec', ''))"));
    EXPECT_EQ(f.global("r3"), "true");
    const std::string ini = testing_support::readFile(dir.file("tools.ini"));
    EXPECT_NE(ini.find("audio.volume"), std::string::npos) << ini;
    EXPECT_NE(ini.find("audio.music"), std::string::npos);

    f.node("audio.volume")->setNumber(9.0f);
    f.node("audio.music")->setString("off");
    ASSERT_TRUE(f.run("r4 = tostring(globals:get('audio'):tools_load('sec', ''))"));
    EXPECT_EQ(f.global("r4"), "true");
    EXPECT_FLOAT_EQ(f.node("audio.volume")->toFloat(), 0.25f);
    EXPECT_EQ(f.node("audio.music")->toString(), "on");
}

namespace {
std::string gBuilt;
// Records each row asked for; row 2 fails.
bool recordRow(ScriptVariable& node, const char* itemName, std::int32_t row, bool rebuildText) {
    gBuilt += std::string(node.name()) + ":" + (itemName ? itemName : "-") + ":" + std::to_string(row) + ":" +
              (rebuildText ? "t" : "f") + ";";
    return row != 2;
}
}  // namespace

TEST(VariableScript, StillFramesComeRowByRowFromTheSfTable) {
    VariableFixture f;
    ScriptVariable* root = f.core.globals().root();
    for (const char* path : {"menu.sf.name.first", "menu.sf.name.second", "menu.sf.name.third", "menu.sf.x.1"})
        root->createPath(path);
    ASSERT_TRUE(f.run("r1 = tostring(globals:get('list'):image_Create())\n"
                      "r2 = tostring(globals:get('menu'):image_Create())\n"));
    EXPECT_EQ(f.global("r1"), "false");
    EXPECT_TRUE(f.logged("Can't find variable child [sf]"));
    EXPECT_EQ(f.global("r2"), "false");  // no builder installed
    StillFrameBuilders builders;
    builders.buildRow = &recordRow;
    setStillFrameBuilders(builders);
    // Every row of the first column is built, a failed one included.
    gBuilt.clear();
    ASSERT_TRUE(f.run("r3 = tostring(globals:get('menu'):image_Create())"));
    EXPECT_EQ(f.global("r3"), "false");
    EXPECT_EQ(gBuilt, "menu:-:1:t;menu:-:2:t;menu:-:3:t;");
    // image_Replace by element name and by row number.
    gBuilt.clear();
    ASSERT_TRUE(f.run("r4 = tostring(globals:get('menu'):image_Replace('btn', 'third', false))\n"
                      "r5 = tostring(globals:get('menu'):image_Replace('btn', 2, true))\n"
                      "r6 = tostring(globals:get('menu'):image_Replace('btn', 'fourth', true))\n"));
    EXPECT_EQ(f.global("r4"), "true");
    EXPECT_EQ(f.global("r5"), "false");
    EXPECT_EQ(f.global("r6"), "false");
    EXPECT_EQ(gBuilt, "menu:btn:3:f;menu:btn:2:t;");
    EXPECT_TRUE(f.logged("Can't replace SF image [btn] : element [fourth] not found"));
    setStillFrameBuilders(StillFrameBuilders{});
}
