#include "control/lua/ControllerScript.h"

#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "control/ModelController.h"
#include "script/ScriptBinding.h"

namespace {

// "Controller": a weak reference to the controller; a method called after
// the model deleted it is a script error.
struct ControllerHandle {
    ScriptRef<ModelController> ref;
    ModelController& controller() const { return ref.require("Controller"); }
};

const char* controllerClassof(const ControllerHandle&) { return "Controller"; }
bool setCharacterSpeed(const ControllerHandle& h, int index, float value) {
    return h.controller().setCharacterSpeed(index, value);
}
bool isItem(const ControllerHandle& h) { return h.controller().isItem(); }
bool isCrouch(const ControllerHandle& h) { return h.controller().isCrouch(); }
bool isRun(const ControllerHandle& h) { return h.controller().isRun(); }
void setLimits(const ControllerHandle& h, float a, float b, float c) {
    const float limits[3] = {a, b, c};
    h.controller().setLimits(limits);
}
bool setEvent(const ControllerHandle& h, const char* event, const char* handler) {
    return h.controller().setEvent(event, handler);
}
bool stay(const ControllerHandle& h) { return h.controller().stay(); }
bool go2waypoint(const ControllerHandle& h, const char* target) { return h.controller().go2waypoint(target, false); }
bool go2trajectory(const ControllerHandle& h, const char* waypoint) {
    return h.controller().go2trajectory(waypoint, 0);
}
bool follow2model(const ControllerHandle& h, const char* objectName, float nearDistance, float farDistance) {
    return h.controller().follow2model(objectName, nearDistance, farDistance);
}
std::string getState(const ControllerHandle& h, const char* attribute) {
    return h.controller().getCurrentState(attribute);
}
void setCrouch(const ControllerHandle& h, bool on) { h.controller().setCrouch(on); }
void flipCrouch(const ControllerHandle& h) { h.controller().flipCrouch(); }
void setItem(const ControllerHandle& h, bool on) { h.controller().setItem(on); }
void flipItem(const ControllerHandle& h) { h.controller().flipItem(); }
void setRun(const ControllerHandle& h, bool on) { h.controller().setRun(on); }
void flipRun(const ControllerHandle& h) { h.controller().flipRun(); }

}  // namespace

void registerControllerClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<ControllerHandle>("Controller")
                      .def("classof", &controllerClassof)
                      .def("setCharacterSpeed", &setCharacterSpeed)
                      .def("isItem", &isItem)
                      .def("isCrouch", &isCrouch)
                      .def("isRun", &isRun)
                      .def("setLimits", &setLimits)
                      .def("setEvent", &setEvent)
                      .def("stay", &stay)
                      .def("go2waypoint", &go2waypoint)
                      .def("go2trajectory", &go2trajectory)
                      .def("follow2model", &follow2model)
                      .def("getState", &getState)
                      .def("setCrouch", &setCrouch)
                      .def("flipCrouch", &flipCrouch)
                      .def("setItem", &setItem)
                      .def("flipItem", &flipItem)
                      .def("setRun", &setRun)
                      .def("flipRun", &flipRun)];
}

void pushControllerScript(lua_State* state, ModelController* controller) {
    if (!controller) {
        lua_pushnil(state);
        return;
    }
    luabind::object(state, ControllerHandle{ScriptRef<ModelController>(controller->lifeToken())}).push(state);
}
