#include "script/lua/ColorScript.h"

#include <cmath>
#include <cstdint>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "foundation/ARGBColor.h"
#include "foundation/Log.h"

namespace {

const char* colorClassof(const ARGBColor&) { return "Color"; }
bool colorSetHex(ARGBColor& color, const char* text) { return color.setHex(text ? text : ""); }
// Script numbers carry packed values above 2^31: taken through 64 bits.
// Negative ones down to -2^31 give their 32-bit pattern (-1 is 0xFFFFFFFF);
// anything outside 32 bits, or no number at all, is refused unchanged.
bool colorSetInt(ARGBColor& color, double packed) {
    const double whole = std::trunc(packed);
    if (!(whole >= -2147483648.0 && whole <= 4294967295.0))
        return engineLog().scriptError("Can't set color from [%f]: not a 32-bit integer", packed);
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
