#include "model/lua/ObjectScript.h"

#include <cctype>
#include <cstring>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "control/ModelController.h"
#include "control/lua/ControllerScript.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "scene/ObjectRepository.h"
#include "script/ScriptBinding.h"

namespace {

// "Object": the model's repository handle; a model that is gone makes a
// method a script error.
struct ObjectHandle {
    GameObjectLink link;
    Model& model() const {
        GameObject* object = gameCore.objects && link.value ? gameCore.objects->getObject(link) : nullptr;
        return requireScriptObject(dynamic_cast<Model*>(object), "Object");
    }
};

// The controller type names, compared lower-cased, in type order.
const char* const kControllerTypeNames[] = {"none", "character", "boat", "position"};

const char* objectClassof(const ObjectHandle&) { return "Object"; }

luabind::object objectControl(const ObjectHandle& h, lua_State* state) {
    pushControllerScript(state, h.model().controller.get());
    luabind::object result(luabind::from_stack(state, -1));
    lua_pop(state, 1);
    return result;
}

bool objectAddControl(const ObjectHandle& h, const char* typeName) {
    Model& model = h.model();
    Log& log = engineLog();
    const char* given = typeName ? typeName : "";
    std::string name(given, strnlen(given, 127));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.empty()) return log.error("Unsupported controller type [%s] for object [%s]", given, model.getName());
    for (std::int32_t type = 0; type < 4; ++type) {
        if (name != kControllerTypeNames[type]) continue;
        if (type == 0)
            model.removeController();
        else
            model.setController(type);
        return true;
    }
    log.error("Invalid ModelControllerType map name [%s]", name.c_str());
    return log.error("Unsupported controller type [%s] for object [%s]", given, model.getName());
}

bool objectSequence(const ObjectHandle& h, const char* text) { return h.model().playSequence(text); }
bool objectFaceSequence(const ObjectHandle& h, const char* text) { return h.model().playFaceSequence(text); }
bool objectSequenceIdle(const ObjectHandle& h, const char* text) { return h.model().playSequenceIdle(text); }
bool objectFaceSequenceIdle(const ObjectHandle& h, const char* text) { return h.model().playFaceSequenceIdle(text); }
float objectVoice(const ObjectHandle& h, const char* morphName) { return h.model().voice(morphName); }

}  // namespace

void registerObjectClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<ObjectHandle>("Object")
                      .def("classof", &objectClassof)
                      .def("control", &objectControl)
                      .def("add_control", &objectAddControl)
                      .def("sequence", &objectSequence)
                      .def("face_sequence", &objectFaceSequence)
                      .def("sequence_idle", &objectSequenceIdle)
                      .def("face_sequence_idle", &objectFaceSequenceIdle)
                      .def("voice", &objectVoice)];
}

bool pushObjectScript(lua_State* state, GameObject* object) {
    if (!dynamic_cast<Model*>(object)) return false;
    luabind::object(state, ObjectHandle{GameObjectLink::fromObject(object)}).push(state);
    return true;
}
