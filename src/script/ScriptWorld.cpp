#include "script/ScriptWorld.h"

#include <vector>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "script/ScriptCall.h"
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

bool ScriptWorld::setEvent(std::int32_t event, const char* handler) {
    const char* text = handler ? handler : "";
    if (!validEvent(event))
        return engineLog().scriptError("Can't set event %s::[%s].%i to [%s]: invalid event", "ScriptWorld",
                                       "world", event, text);
    std::string& slot = events_[event];
    if (!slot.empty())
        return engineLog().scriptError("Can't set event %s::[%s].%s = [%s]: Already assigned to [%s]",
                                       "class ScriptWorld", "world", kEventNames[event], text, slot.c_str());
    if (!text[0])
        return engineLog().scriptError("Can't set event %s::[%s].%s to [%s]", "class ScriptWorld", "world",
                                       kEventNames[event], text);
    slot = text;
    return true;
}

const char* ScriptWorld::getEvent(std::int32_t event) const {
    return validEvent(event) ? events_[event].c_str() : "";
}

bool ScriptWorld::callEvent(std::int32_t event, ScriptWorld* object) {
    if (!validEvent(event))
        return engineLog().scriptError("Can't call event %s::[%s].%i: invalid event", "class ScriptWorld", "world", event);
    const std::string& handler = events_[event];
    if (handler.empty()) return true;
    if (!object) return engineLog().error("Try to call NULL ptr event %s(%s NULL)", handler.c_str(), "class ScriptWorld");
    ScriptEngine* engine = gameCore.script;
    if (engine && engine->eventsBlocked) return true;
    if (!checkScriptFunction(handler.c_str())) return false;
    lua_State* state = engine && engine->context ? engine->context->state : nullptr;
    if (!state) return false;
    // A failed call leaves its error value on the stack: the stack is put
    // back to its height on every way out.
    const int top = lua_gettop(state);
    bool ok = true;
    try {
        luabind::call_function<void>(state, handler.c_str(), object);
    } catch (...) {
        ok = engineLog().scriptError("Exception %s(%s* [%s]): Unknown", handler.c_str(), "class ScriptWorld", "world");
    }
    lua_settop(state, top);
    return ok;
}

std::int32_t ScriptWorld::writeEvents(DataStream& stream) const {
    std::int32_t total = 0;
    for (const std::string& name : events_) {
        const std::size_t length = name.size() < 0xFFFF ? name.size() : 0xFFFF;
        if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(length)))) return total;
        if (length && !addField(total, stream.write(name.data(), static_cast<std::int32_t>(length))))
            return total;
    }
    return total;
}

std::int32_t ScriptWorld::readEvents(DataStream& stream, bool apply) {
    std::int32_t total = 0;
    std::string names[S_EVENT_COUNT];
    for (std::string& name : names) {
        std::uint16_t length = 0;
        if (!addField(total, readU16(stream, length))) return total;
        if (length == 0) continue;
        std::vector<char> bytes(length);
        if (!addField(total, readExact(stream, bytes.data(), length))) return total;
        name.assign(bytes.data(), length);
    }
    if (apply)
        for (int i = 0; i < S_EVENT_COUNT; ++i) events_[i] = std::move(names[i]);
    return total;
}
