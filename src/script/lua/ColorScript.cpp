#include "script/lua/ColorScript.h"

#include <cmath>
#include <cstdint>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "foundation/ARGBColor.h"

namespace {

const char* colorClassof(const ARGBColor&) { return "Color"; }
bool colorSetHex(ARGBColor& color, const char* text) { return color.setHex(text ? text : ""); }
// Script numbers carry packed values above 2^31: taken through 64 bits.
bool colorSetInt(ARGBColor& color, double packed) {
    const double whole = std::isfinite(packed) ? std::trunc(packed) : 0.0;
    return color.setInt(static_cast<std::uint32_t>(static_cast<std::int64_t>(whole)));
}

}  // namespace

void registerColorClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[(class_<ARGBColor>("Color")
                       .def("classof", &colorClassof)
                       .def_readwrite("a", &ARGBColor::alpha)
                       .def_readwrite("r", &ARGBColor::red)
                       .def_readwrite("g", &ARGBColor::green)
                       .def_readwrite("b", &ARGBColor::blue)
                       .def("set", &ARGBColor::set)
                       .def("setHex", &colorSetHex)
                       .def("setInt", &colorSetInt))];
}
