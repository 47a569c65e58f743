// "UnicodeEdit" and the global "unicode_edit": the still frames' text input
// box, found again through the render core at each call.
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"
#include "script/ScriptBinding.h"
#include "script/lua/VariableScript.h"
#include "ui/StillFrameData.h"
#include "ui/lua/UiScripts.h"

namespace {

constexpr const char* kClass = "UnicodeEdit";

UnicodeInputBox* inputBox() { return gameCore.render ? &gameCore.render->stillFrames().inputBox : nullptr; }

struct UnicodeEditHandle {
    UnicodeInputBox& box() const { return requireScriptObject(inputBox(), kClass); }
};

// The engine object behind a script argument, or null for any other value.
template <class T>
T* argumentOf(const luabind::object& value, T* (*at)(lua_State*, int)) {
    lua_State* state = value.interpreter();
    if (!state) return nullptr;
    value.push(state);
    T* object = at(state, -1);
    lua_pop(state, 1);
    return object;
}

const char* classof(const UnicodeEditHandle&) { return kClass; }
std::string getOnFinish(const UnicodeEditHandle& h) { return h.box().onFinish; }
void setOnFinish(const UnicodeEditHandle& h, const char* v) { h.box().onFinish = v ? v : ""; }
std::string getOnValidateText(const UnicodeEditHandle& h) { return h.box().onValidateText; }
void setOnValidateText(const UnicodeEditHandle& h, const char* v) { h.box().onValidateText = v ? v : ""; }
std::string getFont(const UnicodeEditHandle& h) { return h.box().font; }
void setFont(const UnicodeEditHandle& h, const char* v) { h.box().font = v ? v : ""; }
bool getEnabled(const UnicodeEditHandle& h) { return h.box().enabled; }
void setEnabled(const UnicodeEditHandle& h, bool v) { h.box().enabled = v; }
int getMaxLength(const UnicodeEditHandle& h) { return h.box().max_length; }
void setMaxLength(const UnicodeEditHandle& h, int v) { h.box().max_length = v; }

bool edit(const UnicodeEditHandle& h, const luabind::object& item, const luabind::object& variable,
          bool startEmpty) {
    return h.box().edit(argumentOf(item, stillFrameItemAt), argumentOf(variable, scriptVariableAt), startEmpty);
}
void apply(const UnicodeEditHandle& h) { h.box().apply(); }
void cancel(const UnicodeEditHandle&) {
    UnicodeInputBox* box = inputBox();
    if (!box) {
        engineLog().scriptError("Can't cancelEdit: initialize input box first");
        return;
    }
    box->cancel();
}

}  // namespace

void registerUnicodeEditScript(lua_State* state) {
    using namespace luabind;
    module(state)[class_<UnicodeEditHandle>(kClass)
                      .def("classof", &classof)
                      .property("onFinish", &getOnFinish, &setOnFinish)
                      .property("onValidateText", &getOnValidateText, &setOnValidateText)
                      .property("font", &getFont, &setFont)
                      .property("enabled", &getEnabled, &setEnabled)
                      .def("edit", &edit)
                      .def("apply", &apply)
                      .def("cancel", &cancel)
                      .property("max_length", &getMaxLength, &setMaxLength)];
    globals(state)["unicode_edit"] = UnicodeEditHandle{};
}
