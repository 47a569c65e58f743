#include "scene/lua/TriggerScript.h"

#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "script/ScriptBinding.h"
#include "script/ScriptEngine.h"

namespace {

// "Trigger": the handler names of the script engine (which outlives the
// state, so it is bound by pointer); the triggers resolve through the game
// core's current scene at each call.
struct TriggerAPI {
    TriggerHandlerNames* names = nullptr;
};

const char* triggerClassof(const TriggerAPI&) { return "Trigger"; }

std::string getOnEnter(const TriggerAPI& api) { return api.names ? api.names->onEnter : std::string(); }
std::string getOnLeave(const TriggerAPI& api) { return api.names ? api.names->onLeave : std::string(); }
// A handler text longer than the save record holds is refused and the
// old one kept.
void setHandler(std::string& field, const std::string& handler, const char* which) {
    if (handler.size() > TriggerHandlerNames::kMaxText) {
        engineLog().scriptError("Can't set trigger %s handler: text of %zu characters, at most %zu", which,
                                handler.size(), TriggerHandlerNames::kMaxText);
        return;
    }
    field = handler;
}
void setOnEnter(TriggerAPI& api, const std::string& handler) {
    if (api.names) setHandler(api.names->onEnter, handler, "onEnter");
}
void setOnLeave(TriggerAPI& api, const std::string& handler) {
    if (api.names) setHandler(api.names->onLeave, handler, "onLeave");
}

// The named trigger of the current scene, or null (logged when asked).
TriggerStatic* findTrigger(const char* name, bool log) {
    Scene* scene = gameCore.currentScene();
    TriggerStatic* trigger = scene ? scene->triggers->triggerAt(scene->triggers->findTrigger(name)) : nullptr;
    if (!trigger && log) engineLog().scriptError(" Can't find trigger with name [%s]", name ? name : "");
    return trigger;
}

bool triggerEnable(const TriggerAPI&, const char* name, bool on) {
    TriggerStatic* trigger = findTrigger(name, true);
    return trigger && trigger->setEnabled(on);
}

bool triggerTest(const TriggerAPI&, const char* name) { return findTrigger(name, false) != nullptr; }

// An absent trigger counts 0.
int triggerCount(const TriggerAPI&, const char* name) {
    TriggerStatic* trigger = findTrigger(name, true);
    return trigger ? static_cast<int>(trigger->count) : 0;
}

}  // namespace

void registerTriggerClass(lua_State* state, ScriptEngine& engine) {
    using namespace luabind;
    module(state)[class_<TriggerAPI>("Trigger")
                      .def("classof", &triggerClassof)
                      .property("onEnter", &getOnEnter, &setOnEnter)
                      .property("onLeave", &getOnLeave, &setOnLeave)
                      .def("enable", &triggerEnable)
                      .def("test", &triggerTest)
                      .def("count", &triggerCount)];
    globals(state)["trigger"] = TriggerAPI{engine.triggerHandlers()};
}
