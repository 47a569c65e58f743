// Proves the toolchain: a Lua 5.1 state through luabind with a bound class.
#include <gtest/gtest.h>

#include <lua.hpp>
#include <luabind/luabind.hpp>

namespace {

struct Counter {
    int value = 0;
    void add(int n) { value += n; }
};

TEST(Luabind, BindsAClassAndCallsLuaByName) {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    luabind::open(L);
    luabind::module(L)[(luabind::class_<Counter>("Counter")
                            .def(luabind::constructor<>())
                            .def("add", &Counter::add)
                            .def_readonly("value", &Counter::value))];
    ASSERT_EQ(luaL_dostring(L, "function twice(c) c:add(2); c:add(3); return c.value end"), 0);
    Counter counter;
    const int result = luabind::call_function<int>(L, "twice", &counter);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(counter.value, 5);
    lua_getglobal(L, "_VERSION");
    EXPECT_STREQ(lua_tostring(L, -1), "Lua 5.1");
    lua_close(L);
}

}  // namespace
