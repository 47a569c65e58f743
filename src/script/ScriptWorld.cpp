#include "script/ScriptWorld.h"

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "script/ScriptEventTable.h"
#include "script/ScriptEngine.h"

namespace {

const char* const kEventNames[S_EVENT_COUNT] = {
    "onMouseOver", "onMouseOut", "onMouseDown", "onMouseUp", "onMouse1Down", "onMouse1Up",
    "onAction", "onActionOver", "onActionOut", "onActionLayerOver", "onActionLayerOut",
    "onPickerOver", "onPickerOut", "onPlay", "onStop", "onRelease", "onScrollXShow",
    "onScrollXHide", "onScrollYShow", "onScrollYHide", "onScrollXLimitEnter",
    "onScrollXLimitLeave", "onScrollYLimitEnter", "onScrollYLimitLeave"};

bool validEvent(std::int32_t event) { return event >= 0 && event < S_EVENT_COUNT; }

}  // namespace

const char* scriptEventName(std::int32_t event) { return validEvent(event) ? kEventNames[event] : ""; }

ScriptWorld::ScriptWorld() : events_(std::make_unique<ScriptEventTable>()) {}
ScriptWorld::~ScriptWorld() = default;

bool ScriptWorld::setEvent(std::int32_t event, const char* handler) {
    return events_->set(event, handler, "class ScriptWorld", "world");
}

const char* ScriptWorld::getEvent(std::int32_t event) const { return events_->get(event); }

bool ScriptWorld::callEvent(std::int32_t event, ScriptWorld* object) {
    if (!validEvent(event))
        return engineLog().scriptError("Can't call event %s::[%s].%i: invalid event", "class ScriptWorld", "world", event);
    if (!events_->get(event)[0]) return true;
    ScriptEngine* engine = gameCore.script;
    if (object && engine && engine->eventsBlocked) return true;
    return events_->call(event, "class ScriptWorld", "world", object != nullptr, [object](lua_State* state, const char* name) {
        luabind::call_function<void>(state, name, object);
    });
}

std::int32_t ScriptWorld::writeEvents(DataStream& stream) const { return events_->write(stream); }

std::int32_t ScriptWorld::readEvents(DataStream& stream, bool apply) { return events_->read(stream, apply); }
