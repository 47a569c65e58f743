#include "ui/lua/UiScripts.h"

#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "foundation/Log.h"
#include "script/ScriptBinding.h"
#include "script/ScriptCall.h"
#include "ui/StillFrameData.h"

namespace {

StillFrameData* (*gStillFrames)() = nullptr;

// "StillFrame": the render core's still frames, found again at each call.
struct StillFrameHandle {
    lua_State* state = nullptr;
    StillFrameData& data() const { return requireScriptObject(gStillFrames ? gStillFrames() : nullptr, "StillFrame"); }
};

// "Image": a weak reference to a still-frame item.
struct ImageHandle {
    ScriptRef<StillFrameScriptDataItem> ref;
    StillFrameScriptDataItem& item() const { return ref.require("Image"); }
};

luabind::object wrapImage(lua_State* state, StillFrameScriptDataItem* item) {
    if (!item) return luabind::object();
    return luabind::object(state, ImageHandle{ScriptRef<StillFrameScriptDataItem>(item->lifeToken())});
}

const char* stillFrameClassof(const StillFrameHandle&) { return "StillFrame"; }
luabind::object stillFrameCreate(const StillFrameHandle& h, const char* name) {
    return wrapImage(h.state, h.data().create(name));
}
luabind::object stillFrameGet(const StillFrameHandle& h, const char* name) {
    return wrapImage(h.state, h.data().get(name));
}
bool stillFrameTest(const StillFrameHandle& h, const char* name) { return h.data().test(name); }
void stillFrameDelete(const StillFrameHandle& h, const ImageHandle& image) { h.data().deleteObject(image.ref.get()); }
void stillFrameDeleteNamed(const StillFrameHandle& h, const char* name) { h.data().deleteNamed(name); }
int stillFrameCount(const StillFrameHandle& h) { return h.data().itemCount(); }

const char* imageClassof(const ImageHandle&) { return "Image"; }
// The image's texture.
bool imageSet(const ImageHandle& h, const char* texture) {
    StillFrameScriptDataItem& item = h.item();
    return item.image.setSource(item, texture, 0);
}
int imageGetOrder(const ImageHandle& h) { return h.item().layer; }
void imageSetOrder(const ImageHandle& h, int v) { h.item().layer = v; }
float imageGetX(const ImageHandle& h) { return h.item().x; }
void imageSetX(const ImageHandle& h, float v) { h.item().x = v; }
float imageGetY(const ImageHandle& h) { return h.item().y; }
void imageSetY(const ImageHandle& h, float v) { h.item().y = v; }
float imageGetWidth(const ImageHandle& h) { return h.item().width; }
void imageSetWidth(const ImageHandle& h, float v) { h.item().width = v; }
float imageGetHeight(const ImageHandle& h) { return h.item().height; }
void imageSetHeight(const ImageHandle& h, float v) { h.item().height = v; }
bool imageGetVisible(const ImageHandle& h) { return h.item().visible(); }
void imageSetVisible(const ImageHandle& h, bool v) { h.item().setVisible(v); }

}  // namespace

bool callImageHandler(lua_State* state, const char* function, StillFrameScriptDataItem* item) {
    if (!state || !checkScriptFunction(function)) return false;
    const int top = lua_gettop(state);
    bool ok = false;
    try {
        lua_getglobal(state, function);
        wrapImage(state, item).push(state);
        ok = lua_pcall(state, 1, 0, 0) == 0;
        if (!ok) {
            const char* message = lua_tostring(state, -1);
            engineLog().scriptError("Lua [%s] Exception: %s", function, message ? message : "?");
        }
    } catch (...) {
        ok = false;
    }
    lua_settop(state, top);
    return ok;
}

void setStillFrameDataProvider(StillFrameData* (*provider)()) { gStillFrames = provider; }

void registerStillFrameClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<ImageHandle>("Image")
                      .def("classof", &imageClassof)
                      .property("order", &imageGetOrder, &imageSetOrder)
                      .property("x", &imageGetX, &imageSetX)
                      .property("y", &imageGetY, &imageSetY)
                      .property("width", &imageGetWidth, &imageSetWidth)
                      .property("height", &imageGetHeight, &imageSetHeight)
                      .property("visible", &imageGetVisible, &imageSetVisible)
                      .def("set", &imageSet),
                  class_<StillFrameHandle>("StillFrame")
                      .def("classof", &stillFrameClassof)
                      .def("create", &stillFrameCreate)
                      .def("get", &stillFrameGet)
                      .def("test", &stillFrameTest)
                      .def("delete", &stillFrameDelete)
                      .def("delete", &stillFrameDeleteNamed)
                      .def("count", &stillFrameCount)];
    globals(state)["stillframe"] = StillFrameHandle{state};
}

// ---- "UnicodeEdit" (the class itself in UnicodeEditScript.cpp) ----

StillFrameScriptDataItem* stillFrameItemAt(lua_State* state, int index) {
    if (!state || lua_type(state, index) != LUA_TUSERDATA) return nullptr;
    luabind::object value(luabind::from_stack(state, index));
    try {
        return luabind::object_cast<const ImageHandle*>(value)->ref.get();
    } catch (const luabind::cast_failed&) {
        return nullptr;
    }
}

void registerUnicodeEditClass(lua_State* state, ScriptEngine&) { registerUnicodeEditScript(state); }

void registerFrameClass(lua_State* state, ScriptEngine&) {
    registerScriptPlaceholder(state, "Frame", nullptr);
}
