// The script engine: its source list, chunk loading, save block, the
// registration driver and how script objects refer to engine objects.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <luabind/luabind.hpp>

#include "foundation/DataStream.h"
#include "script/ScriptBinding.h"
#include "support/PackageFixture.h"
#include "script/ScriptEngine.h"
#include "script/ScriptTestFixture.h"
#include "script/ScriptWorld.h"

using testing_support::ScriptFixture;

namespace {

std::unique_ptr<LuaSource> named(const char* name) {
    auto source = std::make_unique<LuaSource>();
    copyScriptText(source->name, sizeof(source->name), name);
    return source;
}

TEST(ScriptEngine, SourcesAreSortedByByteAndUnique) {
    LuaSourceList list;
    for (const char* name : {"b.lua", "a.lua", "B.lua", "\xE0.lua", "a.lua", "ab.lua"})
        list.insert(named(name));
    std::string order;
    for (const auto& item : list.items) order += std::string(item->name) + " ";
    EXPECT_EQ(order, "B.lua a.lua ab.lua b.lua \xE0.lua ");
    EXPECT_FALSE(list.insert(named("b.lua")));
}

TEST(ScriptEngine, ChunkFailuresLogTheLuaText) {
    ScriptFixture f;
    struct Case {
        const char* text;
        bool result;
        const char* logged;
    } cases[] = {
        {"x = 1", true, nullptr},
        {"function (", false, "Fail to load Lua file :[package\\bad.lua]: package\\bad.lua:1: '<name>' expected near '('"},
        {"error('top level')", false, "Fail to compile Lua file :[package\\bad.lua]: package\\bad.lua:1: top level"},
        {"", true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(f.load(c.text, "package\\bad.lua"), c.result);
        if (c.logged) {
            EXPECT_TRUE(f.logged(c.logged));
        }
        EXPECT_EQ(lua_gettop(f.state), 0);
    }
    // The reader without a source ends the chunk with its message.
    std::size_t size = 7;
    EXPECT_EQ(readLuaSourceChunk(f.state, nullptr, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(f.logged("Can't load lua file: source not defined"));
}

TEST(ScriptEngine, SaveBlockRoundTripsAndRefusesDamage) {
    testing_support::ScopedGameCore core;
    ScriptEngine engine;
    engine.triggerHandlers()->onEnter = "enterHandler";
    engine.world()->setEvent(onMouseOver, "overHandler");
    engine.world()->setEvent(onScrollYLimitLeave, "lastHandler");
    MemoryStream stream;
    const std::int32_t written = engine.write(stream);
    // Two u32 lengths with their text, then 24 u16 lengths with theirs.
    EXPECT_EQ(written, 4 + 12 + 4 + 24 * 2 + 11 + 11);
    EXPECT_EQ(stream.size(), written);

    ScriptEngine loaded;
    stream.setPosition(0);
    EXPECT_EQ(loaded.read(stream), written);
    EXPECT_EQ(loaded.triggerHandlers()->onEnter, "enterHandler");
    EXPECT_EQ(loaded.triggerHandlers()->onLeave, "");
    EXPECT_STREQ(loaded.world()->getEvent(onMouseOver), "overHandler");
    EXPECT_STREQ(loaded.world()->getEvent(onScrollYLimitLeave), "lastHandler");

    // Every truncation fails, and a length beyond the stream allocates nothing.
    for (std::int32_t cut = 0; cut < written; ++cut) {
        MemoryStream part;
        part.write(stream.data(), cut);
        part.setPosition(0);
        ScriptEngine target;
        EXPECT_LT(target.read(part), 0) << cut;
        EXPECT_EQ(target.triggerHandlers()->onEnter, "");
    }
    MemoryStream huge;
    writeU32(huge, 0xFFFFFFF0u);
    huge.setPosition(0);
    EXPECT_LT(loaded.read(huge), 0);
    EXPECT_EQ(loaded.triggerHandlers()->onEnter, "enterHandler");

    // A handler text holds at most 2047 characters: a longer one is never
    // written (that save could not be restored), and a longer stored one is
    // refused even when its bytes are there.
    ScriptEngine fits;
    fits.triggerHandlers()->onLeave.assign(2047, 'x');
    MemoryStream block;
    const std::int32_t size = fits.write(block);
    block.setPosition(0);
    ScriptEngine target;
    EXPECT_EQ(target.read(block), size);
    EXPECT_EQ(target.triggerHandlers()->onLeave.size(), 2047u);

    for (const std::size_t length : {2048u, 3000u}) {
        ScriptEngine source;
        source.triggerHandlers()->onEnter.assign(length, 'x');
        MemoryStream refused;
        EXPECT_LT(source.write(refused), 0) << length;
    }
    EXPECT_TRUE(core.log().contains("Can't write script engine state: trigger handler text of 3000 bytes"));
    MemoryStream stored;
    writeU32(stored, 2048);
    const std::string text(2048, 'x');
    stored.write(text.data(), 2048);
    writeU32(stored, 0);
    stored.setPosition(0);
    EXPECT_LT(target.read(stored), 0);
    EXPECT_TRUE(core.log().contains("Can't read script engine state: trigger handler text of 2048 bytes"));
}

TEST(ScriptEngine, CallPositionBannerOnAFreshEngine) {
    testing_support::ScopedGameCore core;
    ScriptEngine engine;
    engine.logCallPosition();
    const auto records = core.log().records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().text,
              "---------------------------------------------------------------------------------------------------\n"
              " () at 0: ");
    EXPECT_EQ(records.back().channel, static_cast<std::uint32_t>(LogScript));
}

// A small "World" and "Time" for the driver test; the game registers the
// full classes from the app library.
struct TestTime {};
const char* testWorldClassof(const ScriptWorld&) { return "World"; }
const char* testTimeClassof(const TestTime&) { return "Time"; }
std::string testWorldGetEvent(const ScriptWorld& world, int event) { return world.getEvent(event); }
bool testWorldSetEvent(ScriptWorld& world, int event, const char* handler) { return world.setEvent(event, handler); }
void registerTestWorld(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    lua_pushinteger(state, onMouseOver);
    lua_setglobal(state, "onMouseOver");
    module(state)[(class_<ScriptWorld>("World")
                       .def("classof", &testWorldClassof)
                       .def("setEvent", &testWorldSetEvent)
                       .def("getEvent", &testWorldGetEvent),
                   class_<TestTime>("Time").def("classof", &testTimeClassof))];
    globals(state)["world"] = engine.world();
}

// The three places of a registration table, with one that throws.
std::string gOrder;
void registerFirst(lua_State* state, ScriptEngine& engine) {
    gOrder += "1";
    registerTestWorld(state, engine);
}
void registerSecond(lua_State* state, ScriptEngine&) {
    gOrder += "2";
    registerScriptPlaceholder(state, "InputCore", "input");
    registerScriptPlaceholder(state, "InputButtonValue", nullptr);
}
void registerThrowing(lua_State*, ScriptEngine&) {
    gOrder += "3";
    throw std::runtime_error("broken binding");
}
void registerLast(lua_State* state, ScriptEngine&) {
    gOrder += "4";
    registerScriptPlaceholder(state, "Morph", "morphs");
}
const ScriptClassRegistration kTable[] = {{"World, Time", registerFirst},
                                          {"InputCore, InputButtonValue", registerSecond},
                                          {"Broken", registerThrowing},
                                          {"Morph", registerLast}};

TEST(ScriptEngine, DriverRegistersEveryClassInTableOrder) {
    gOrder.clear();
    ScriptFixture f(kTable, std::size(kTable));
    EXPECT_EQ(gOrder, "1234");
    EXPECT_TRUE(f.logged("Can't register script classes [Broken]: broken binding"));
    ASSERT_TRUE(f.load("r = world:classof() .. ' ' .. input:classof() .. ' ' .. morphs:classof()\n"
                       "kinds = type(World) .. type(Time) .. type(InputButtonValue)\n"
                       "ok1 = world:setEvent(onMouseOver, 'over')\n"
                       "ok2 = world:setEvent(onMouseOver, 'again')\n"
                       "got = world:getEvent(onMouseOver) .. '|' .. world:getEvent(3)\n"));
    EXPECT_EQ(f.global("r"), "World InputCore Morph");
    EXPECT_EQ(f.global("kinds"), "userdatauserdatauserdata");
    EXPECT_EQ(f.global("ok1"), "");  // booleans read as text give ""
    EXPECT_EQ(f.global("got"), "over|");
    EXPECT_STREQ(f.engine.world()->getEvent(onMouseOver), "over");
    EXPECT_TRUE(f.logged("Can't set event class ScriptWorld::[world].onMouseOver = [again]: Already assigned to [over]"));
    EXPECT_EQ(f.number("onMouseOver"), 0);
}

// A stand-in engine object that scripts reach through a weak reference.
struct Lamp {
    ScriptLife<Lamp> life{this};
    int brightness = 3;
};
struct LampScript {
    ScriptRef<Lamp> ref;
    int brightness() const { return ref.require("Lamp").brightness; }
    luabind::object level(lua_State* state) const {
        Lamp* lamp = ref.get();
        return lamp ? luabind::object(state, lamp->brightness) : luabind::object();
    }
};
std::map<std::string, std::unique_ptr<Lamp>> gLamps;
LampScript findLamp(const std::string& name) {
    auto it = gLamps.find(name);
    return it == gLamps.end() ? LampScript{} : LampScript{ScriptRef<Lamp>(it->second->life.token())};
}

TEST(ScriptBinding, ReferenceToARemovedObjectIsNilOrAScriptError) {
    ScriptFixture f;
    luabind::module(f.state)[(luabind::class_<LampScript>("Lamp")
                                  .def("brightness", &LampScript::brightness)
                                  .def("level", &LampScript::level),
                              luabind::def("findLamp", &findLamp))];
    gLamps["desk"] = std::make_unique<Lamp>();
    ASSERT_TRUE(f.load("lamp = findLamp('desk')\n"
                       "function before() b = lamp:brightness(); l = lamp:level() end\n"
                       "function after() l2 = lamp:level(); b2 = lamp:brightness() end\n"));
    EXPECT_TRUE(runScriptFunction(nullptr, f.context(), "before"));
    EXPECT_EQ(f.number("b"), 3);
    EXPECT_EQ(f.number("l"), 3);
    gLamps.clear();
    EXPECT_TRUE(runScriptFunction(nullptr, f.context(), "after"));
    lua_getglobal(f.state, "l2");
    EXPECT_TRUE(lua_isnil(f.state, -1));
    lua_pop(f.state, 1);
    EXPECT_EQ(f.global("b2"), "");
    EXPECT_TRUE(f.logged("[Lamp] object no longer exists"));
}

// ---- opening over packages written by the package tool ----------------------

using testing_support::FixtureFile;
using testing_support::FixturePackage;

FixtureFile lua(const char* name, const std::string& text) { return {".lua", name, text, "", true, false, 0}; }

FixturePackage scripts(std::vector<FixtureFile> files, const char* rule = "scripts.pak") {
    FixturePackage package;
    package.rule = rule;
    package.item = ".lua >> scripts";
    package.files = std::move(files);
    return package;
}

// A data root, its package database and a script engine in the game core.
struct OpenFixture {
    explicit OpenFixture(const std::vector<FixturePackage>& packages) {
        ready = testing_support::writeDataRoot(dir.path(), packages);
        db = std::make_unique<testing_support::ScopedPackageDatabase>(dir.path());
        ready = ready && db->build();
        savedScript = gameCore.script;
        gameCore.script = &engine;
    }
    ~OpenFixture() {
        engine.release();
        gameCore.script = savedScript;
    }
    bool open() { return openScriptEngine(*engine.context); }
    bool logged(const std::string& text) { return db->log().contains(text); }
    std::string global(const char* name) { return testing_support::luaGlobalText(engine.context->state, name); }

    testing_support::TempDir dir;
    std::unique_ptr<testing_support::ScopedPackageDatabase> db;
    ScriptEngine engine;
    ScriptEngine* savedScript = nullptr;
    bool ready = false;
};

const char* const kReset = "function system_reset() reset = 'done' end\n";

TEST(OpenScriptEngine, LoadsEveryScriptInNameOrderThenRunsTheStartScripts) {
    // "b.lua" needs at its top level what "a.lua" defines; "z.lua" comes from
    // a second package, and its copy of "a.lua" is the one the database serves.
    OpenFixture f({scripts({lua("b.lua", "fromB = greeting .. ' from b'\n"), lua("a.lua", "greeting = 'old'\n"),
                            lua("reset.lua", kReset)}),
                   scripts({lua("a.lua", "greeting = 'hello'\n"), lua("z.lua", "order = (order or '') .. 'z'\n")},
                           "more.pak")});
    ASSERT_TRUE(f.ready);
    EXPECT_TRUE(f.open());
    EXPECT_EQ(f.global("fromB"), "hello from b");
    EXPECT_EQ(f.global("reset"), "done");
    EXPECT_EQ(f.global("order"), "z");
    ASSERT_EQ(f.engine.context->sources->items.size(), 4u);
    EXPECT_STREQ(f.engine.context->sources->items[0]->name, "a.lua");
    EXPECT_EQ(f.engine.context->sources->items[0]->text.size(), 0);  // freed after loading
    EXPECT_TRUE(f.logged("Can't call undefined script function [system_script_precompilation]"));

    // A second opening of the connected context is refused and keeps the state.
    lua_State* state = f.engine.context->state;
    EXPECT_FALSE(f.open());
    EXPECT_TRUE(f.logged("Lua sources already connected. Use refresh to re-load Lua source run-time"));
    EXPECT_TRUE(f.logged("Cannot find script sources"));
    EXPECT_EQ(f.engine.context->state, state);
}

TEST(OpenScriptEngine, FailuresAreLoggedAndFailTheOpening) {
    struct Case {
        const char* name;
        std::vector<FixtureFile> files;
        bool opened;
        std::vector<std::string> logged;
    } cases[] = {
        {"no scripts", {}, false, {"Can't execute script system reset: system_reset() is invalid"}},
        {"no reset", {lua("a.lua", "x = 1")}, false,
         {"Can't call undefined script function [system_reset]",
          "Can't execute script system reset: system_reset() is invalid"}},
        {"syntax error",
         {lua("bad.lua", "function (\n"), lua("good.lua", "good = 'yes'\n"), lua("reset.lua", kReset)},
         false,
         {"Fail to load Lua file :[package\\bad.lua]: package\\bad.lua:1: '<name>' expected near '('",
          "Can't load script resource [bad.lua]", "Cannot find script sources"}},
        {"top-level error",
         {lua("good.lua", "good = 'yes'\n"), lua("run.lua", "local t = nil\nprint(t.field)\n"), lua("reset.lua", kReset)},
         false,
         {"Fail to compile Lua file :[package\\run.lua]: package\\run.lua:2: attempt to index local 't' (a nil value)",
          "Can't load script resource [run.lua]", "Cannot find script sources"}},
        {"error inside reset",
         {lua("reset.lua", "function system_script_precompilation() pre = 1 end\n"
                           "function system_reset() error('reset broke') end\n")},
         true,
         {"Lua [run system_reset()] Exception: package\\reset.lua:2 > package\\reset.lua:2: reset broke"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFixture f({scripts(c.files)});
        ASSERT_TRUE(f.ready);
        EXPECT_EQ(f.open(), c.opened);
        for (const std::string& text : c.logged) EXPECT_TRUE(f.logged(text)) << text;
        if (std::string(c.name) == "syntax error") {
            EXPECT_EQ(f.global("good"), "yes");  // the others still load
        }
    }
}

}  // namespace
