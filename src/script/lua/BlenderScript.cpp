#include "script/lua/BlenderScript.h"

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "foundation/BlenderHeader.h"

namespace {

const char* blenderClassof(const BlenderHeader&) { return "Blender"; }
bool blenderStart(BlenderHeader& b, float time, float blend) { return b.setStart(time, blend); }
bool blenderFinish(BlenderHeader& b, float time, float blend) { return b.setEnd(time, blend); }
bool blenderHigh(BlenderHeader& b, float value) { return b.setHigh(value); }
bool blenderLow(BlenderHeader& b, float value) { return b.setLow(value); }
bool blenderRun(BlenderHeader& b) { return b.run(); }
void blenderStop(BlenderHeader& b) { b.stop(); }
bool blenderEnabled(const BlenderHeader& b) { return b.isEnabled(); }

}  // namespace

void registerBlenderClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[(class_<BlenderHeader>("Blender")
                       .def("classof", &blenderClassof)
                       .def("start", &blenderStart)
                       .def("finish", &blenderFinish)
                       .def("high", &blenderHigh)
                       .def("low", &blenderLow)
                       .def("run", &blenderRun)
                       .def("stop", &blenderStop)
                       .def("enabled", &blenderEnabled))];
}
