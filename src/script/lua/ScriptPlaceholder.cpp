// The least registration of scripted classes whose engine side is not built:
// each class name becomes a Lua class with "classof" (and optionally a global
// instance). luabind keys classes by C++ type, so a state hands out one
// distinct tag type per class name from a fixed pool.
#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "foundation/Log.h"
#include "script/ScriptBinding.h"

namespace {

constexpr std::size_t kPoolSize = 48;
constexpr const char* kCounterKey = "engine.script.placeholders";

template <std::size_t N>
struct Placeholder {
    std::string className;
    std::string classof() const { return className; }
};

template <std::size_t N>
void registerTag(lua_State* state, const char* className, const char* globalName) {
    luabind::module(state)[(luabind::class_<Placeholder<N>>(className).def("classof", &Placeholder<N>::classof))];
    if (globalName) luabind::globals(state)[globalName] = Placeholder<N>{className};
}

using Registrar = void (*)(lua_State*, const char*, const char*);

template <std::size_t... I>
constexpr auto makePool(std::index_sequence<I...>) {
    return std::array<Registrar, sizeof...(I)>{&registerTag<I>...};
}

constexpr auto kPool = makePool(std::make_index_sequence<kPoolSize>());

}  // namespace

void registerScriptPlaceholder(lua_State* state, const char* className, const char* globalName) {
    lua_getfield(state, LUA_REGISTRYINDEX, kCounterKey);
    const std::size_t used = static_cast<std::size_t>(lua_tointeger(state, -1));
    lua_pop(state, 1);
    if (used >= kPool.size()) {
        engineLog().scriptError("Can't register script class [%s]: too many placeholder classes", className);
        return;
    }
    lua_pushinteger(state, static_cast<lua_Integer>(used + 1));
    lua_setfield(state, LUA_REGISTRYINDEX, kCounterKey);
    kPool[used](state, className, globalName);
}
