#include "input/lua/InputScripts.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "control/ModelController.h"
#include "foundation/Log.h"
#include "input/InputCore.h"
#include "scene/GameObject.h"
#include "script/ScriptBinding.h"

namespace {

// The script objects name no engine object: each resolves the game core's
// input at every call, so a script that keeps one past the input core's
// release gets an error instead of freed memory.
InputCore& inputCore() { return requireScriptObject(gameCore.input, "InputCore"); }
InputVirtualDevices& devices() { return inputCore().virtualDevices; }
InputVirtualButton& buttons() { return devices().virtualButton; }

struct InputCoreHandle {};
struct InputSetupHandle {};
struct InputCursorHandle {};
struct InputButtonHandle {};
struct InputButtonValueHandle {
    std::int32_t id = 0;
    InputVirtualButtonValue& value() const { return buttons().values[id]; }
};

// A device button id a script may store: 0 to 155. Any other is refused
// with a script error, so the binding writer never indexes past the name
// table.
std::int32_t checkedButtonId(std::int32_t id, const char* what) {
    if (id >= 0 && id < kInputButtonNameCount) return id;
    throw std::runtime_error(std::string("Invalid device button id [") + std::to_string(id) + "] for " + what +
                             ": 0 to " + std::to_string(kInputButtonNameCount - 1));
}

// ---- "InputCore" (the global "input")

const char* coreClassof(const InputCoreHandle&) { return "InputCore"; }
InputCursorHandle coreCursor(const InputCoreHandle&) {
    devices();
    return {};
}
InputButtonHandle coreButton(const InputCoreHandle&) {
    devices();
    return {};
}
InputSetupHandle coreSetup(const InputCoreHandle&) {
    devices();
    return {};
}
void coreLock(const InputCoreHandle&) { inputCore().lock(); }
void coreUnlock(const InputCoreHandle&) { inputCore().unlock(); }

// ---- "InputButtonValue"

const char* valueClassof(const InputButtonValueHandle&) { return "InputButtonSetup"; }
std::int32_t valueAction0(const InputButtonValueHandle& h) { return h.value().action0; }
std::int32_t valueAction1(const InputButtonValueHandle& h) { return h.value().action1; }
void setValueAction0(const InputButtonValueHandle& h, std::int32_t id) {
    h.value().action0 = checkedButtonId(id, "action0");
}
void setValueAction1(const InputButtonValueHandle& h, std::int32_t id) {
    h.value().action1 = checkedButtonId(id, "action1");
}
bool valueDown(const InputButtonValueHandle& h) { return h.value().down != 0; }

// ---- "InputSetup"

const char* setupClassof(const InputSetupHandle&) { return "InputSetup"; }
float holdLimit(const InputSetupHandle&) { return devices().setup.buttonHoldLimit; }
void setHoldLimit(const InputSetupHandle&, float seconds) { devices().setup.buttonHoldLimit = seconds; }
float repeatPeriod(const InputSetupHandle&) { return devices().setup.buttonRepeatPeriod; }
void setRepeatPeriod(const InputSetupHandle&, float seconds) { devices().setup.buttonRepeatPeriod = seconds; }

// ---- "InputCursor"

const char* cursorClassof(const InputCursorHandle&) { return "InputCursor"; }
void cursorSet(const InputCursorHandle&, float x, float y) { devices().pointer.set(x, y); }
void cursorResetLimit(const InputCursorHandle&) { devices().pointer.setLimit(0.0f, 0.0f, 1024.0f, 768.0f); }
template <float InputVirtualPointer::*Field>
float cursorGet(const InputCursorHandle&) {
    return devices().pointer.*Field;
}
template <float InputVirtualPointer::*Field>
void cursorSetField(const InputCursorHandle&, float v) {
    devices().pointer.*Field = v;
}

// ---- "InputButton"

const char* buttonClassof(const InputButtonHandle&) { return "InputButton"; }
void buttonDoCatch(const InputButtonHandle&) { buttons().catchFlag = 1; }

std::string buttonGetName(const InputButtonHandle&, std::int32_t id) {
    if (id < 0 || id >= kInputButtonCount) return "undefined";
    const char* name = buttonNames()[id];
    return name ? name : "invalid";
}

luabind::object buttonGet(const InputButtonHandle&, lua_State* state, std::int32_t id) {
    buttons();
    if (id < 0 || id >= kInputVirtualButtonCount) {
        engineLog().error("getButtonValue: Button Id out of index");
        return luabind::object();
    }
    return luabind::object(state, InputButtonValueHandle{id});
}

// The main character's controller takes these; without a main character
// or a controller nothing happens, and a main character whose handle no
// longer resolves is reported by the controller query.
ModelController* mainCharacterController() {
    buttons();
    if (gameCore.scene_getMainCharacter().value == 0) return nullptr;
    return gameCore.scene_getMainController();
}
void buttonSwitchCrouch(const InputButtonHandle&) {
    if (ModelController* controller = mainCharacterController()) controller->flipCrouch();
}
void buttonSetCrouch(const InputButtonHandle&, bool on) {
    if (ModelController* controller = mainCharacterController()) controller->setCrouch(on);
}
void buttonSwitchItem(const InputButtonHandle&) {
    if (ModelController* controller = mainCharacterController()) controller->flipItem();
}
void buttonSetItem(const InputButtonHandle&, bool on) {
    if (ModelController* controller = mainCharacterController()) controller->setItem(on);
}

std::int32_t getCaughtButton(const InputButtonHandle&) { return buttons().caughtButton; }
void setCaughtButton(const InputButtonHandle&, std::int32_t id) {
    buttons().caughtButton = checkedButtonId(id, "catchedButton");
}

// Handler names are cut to 127 characters.
constexpr std::size_t kHandlerNameLength = 127;
template <std::int32_t Event>
std::string eventName(const InputButtonHandle&) {
    return buttons().eventNames[Event];
}
template <std::int32_t Event>
void setEventName(const InputButtonHandle&, const std::string& name) {
    buttons().eventNames[Event] = name.substr(0, kHandlerNameLength);
}

// The Lua names of the 60 virtual buttons (id 7, the jump, has none).
const char* const kVirtualButtonNames[kInputVirtualButtonCount] = {
    "btnSpecial0", "btnSpecial1", "btnAction", "btnMoveFw", "btnMoveBk", "btnMoveLf", "btnMoveRt", nullptr,
    "btnHint", "btnSetMoveMode", "btnCrouch", "btnCamera", "btnAlwaysRun", "btnAutoMove", "btnNextItem",
    "btnPrevItem", "btnScrollUp", "btnScrollDown", "btnMainMenu", "btnGameMenu", "btnGameMenuInventory",
    "btnGameMenuDialog", "btnGameMenuReports", "btnGameMenuDocuments", "btnGameMenuMaps", "btnQuickSave",
    "btnQuickLoad", "btnPause", "btnHotKey1", "btnHotKey2", "btnHotKey3", "btnHotKey4", "btnHotKey5",
    "btnHotKey6", "btnHotKey7", "btnHotKey8", "btnHotKey9", "btnDebug0", "btnDebug1", "btnDebug2", "btnDebug3",
    "btnDebug4", "btnDebug5", "btnDebug6", "btnDebug7", "btnDebug8", "btnDebug9", "btnF1", "btnF2", "btnF3",
    "btnF4", "btnF5", "btnF6", "btnF7", "btnF8", "btnF9", "btnF10", "btnF11", "btnF12", "btnQuitGame",
};

// The event-name properties are registered from the last name to the
// first: "onCatch", "onQuitGame", "onF12", ... "onAction".
template <std::int32_t Event>
void addEventProperties(luabind::class_<InputButtonHandle>& c) {
    c.property(buttonEventNames()[Event], &eventName<Event>, &setEventName<Event>);
    if constexpr (Event > 1) addEventProperties<Event - 1>(c);
}

}  // namespace

bool InputCore::registerLua(lua_State* state) {
    using namespace luabind;
    module(state)[(class_<InputCoreHandle>("InputCore")
                      .def("classof", &coreClassof)
                      .property("cursor", &coreCursor)
                      .property("button", &coreButton)
                      .property("setup", &coreSetup)
                      .def("lock", &coreLock)
                      .def("unlock", &coreUnlock),
                  class_<InputButtonValueHandle>("InputButtonValue")
                      .def("classof", &valueClassof)
                      .property("action0", &valueAction0, &setValueAction0)
                      .property("action1", &valueAction1, &setValueAction1)
                      .property("down", &valueDown))];
    globals(state)["input"] = InputCoreHandle{};
    return true;
}

bool InputSetup::registerLua(lua_State* state) {
    using namespace luabind;
    module(state)[class_<InputSetupHandle>("InputSetup")
                      .def("classof", &setupClassof)
                      .property("button_hold_limit", &holdLimit, &setHoldLimit)
                      .property("button_repeat_period", &repeatPeriod, &setRepeatPeriod)];
    return true;
}

bool InputVirtualPointer::registerLua(lua_State* state) {
    using namespace luabind;
    module(state)[class_<InputCursorHandle>("InputCursor")
                      .def("classof", &cursorClassof)
                      .def("set", &cursorSet)
                      .def("resetLimit", &cursorResetLimit)
                      .property("x", &cursorGet<&InputVirtualPointer::x>)
                      .property("y", &cursorGet<&InputVirtualPointer::y>)
                      .property("minX", &cursorGet<&InputVirtualPointer::minX>,
                                &cursorSetField<&InputVirtualPointer::minX>)
                      .property("minY", &cursorGet<&InputVirtualPointer::minY>,
                                &cursorSetField<&InputVirtualPointer::minY>)
                      .property("maxX", &cursorGet<&InputVirtualPointer::maxX>,
                                &cursorSetField<&InputVirtualPointer::maxX>)
                      .property("maxY", &cursorGet<&InputVirtualPointer::maxY>,
                                &cursorSetField<&InputVirtualPointer::maxY>)];
    return true;
}

bool InputVirtualButton::registerLua(lua_State* state) {
    using namespace luabind;
    class_<InputButtonHandle> c("InputButton");
    c.def("classof", &buttonClassof)
        .def("doCatch", &buttonDoCatch)
        .def("getName", &buttonGetName)
        .def("get", &buttonGet)
        .def("switchCrouch", &buttonSwitchCrouch)
        .def("setCrouch", &buttonSetCrouch)
        .def("switchItem", &buttonSwitchItem)
        .def("setItem", &buttonSetItem)
        .property("catchedButton", &getCaughtButton, &setCaughtButton);
    // The enumeration lives in the class's scope: InputButton.btnAction.
    for (std::int32_t id = 0; id < kInputVirtualButtonCount; ++id)
        if (kVirtualButtonNames[id]) c.enum_("INPUT_VIRTUAL_BUTTONS")[value(kVirtualButtonNames[id], id)];
    c.property(buttonEventNames()[InputEventCatch], &eventName<InputEventCatch>, &setEventName<InputEventCatch>);
    c.property(buttonEventNames()[InputEventQuitGame], &eventName<InputEventQuitGame>,
               &setEventName<InputEventQuitGame>);
    addEventProperties<InputEventQuitGame - 1>(c);
    module(state)[c];
    return true;
}

void registerInputCoreClass(lua_State* state, ScriptEngine&) {
    InputCore::registerLua(state);
}

void registerInputSetupClass(lua_State* state, ScriptEngine&) { InputSetup::registerLua(state); }

void registerInputCursorClass(lua_State* state, ScriptEngine&) { InputVirtualPointer::registerLua(state); }

void registerInputButtonClass(lua_State* state, ScriptEngine&) { InputVirtualButton::registerLua(state); }
