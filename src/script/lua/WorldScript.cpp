#include "script/lua/WorldScript.h"

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "script/ScriptEngine.h"
#include "script/ScriptWorld.h"

namespace {

// The class "Time" has no state of its own.
struct ScriptTime {};

const char* worldClassof(const ScriptWorld&) { return "World"; }
const char* timeClassof(const ScriptTime&) { return "Time"; }
std::string worldGetEvent(const ScriptWorld& world, int event) { return world.getEvent(event); }
bool worldSetEvent(ScriptWorld& world, int event, const char* handler) { return world.setEvent(event, handler); }

}  // namespace

void registerWorldAndTime(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    lua_pushinteger(state, onMouseOver);
    lua_setglobal(state, "onMouseOver");
    module(state)[(class_<ScriptWorld>("World")
                       .def_readonly("time", &ScriptWorld::time)
                       .def("classof", &worldClassof)
                       .def("setEvent", &worldSetEvent)
                       .def("getEvent", &worldGetEvent),
                   class_<ScriptTime>("Time").def("classof", &timeClassof))];
    globals(state)["world"] = engine.world();
}
