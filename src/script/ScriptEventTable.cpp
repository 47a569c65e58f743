#include "script/ScriptEventTable.h"

#include <vector>

#include <lua.hpp>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"

namespace {

bool validEvent(std::int32_t event) { return event >= 0 && event < S_EVENT_COUNT; }

}  // namespace

bool ScriptEventTable::set(std::int32_t event, const char* handler, const char* className, const char* objectName) {
    const char* text = handler ? handler : "";
    if (!validEvent(event))
        return engineLog().scriptError("Can't set event %s::[%s].%i to [%s]: invalid event", className, objectName,
                                       event, text);
    std::string& slot = events_[event];
    if (!slot.empty())
        return engineLog().scriptError("Can't set event %s::[%s].%s = [%s]: Already assigned to [%s]", className,
                                       objectName, scriptEventName(event), text, slot.c_str());
    if (!text[0])
        return engineLog().scriptError("Can't set event %s::[%s].%s to [%s]", className, objectName,
                                       scriptEventName(event), text);
    slot = text;
    return true;
}

const char* ScriptEventTable::get(std::int32_t event) const {
    return validEvent(event) ? events_[event].c_str() : "";
}

bool ScriptEventTable::call(std::int32_t event, const char* className, const char* objectName, bool objectPresent,
                            const std::function<void(lua_State*, const char*)>& call) const {
    if (!validEvent(event)) return false;
    const std::string& handler = events_[event];
    if (handler.empty()) return false;
    if (!objectPresent) return engineLog().error("Try to call NULL ptr event %s(%s NULL)", handler.c_str(), className);
    ScriptEngine* engine = gameCore.script;
    if (engine && engine->eventsBlocked) return false;
    if (!checkScriptFunction(handler.c_str())) return false;
    lua_State* state = engine && engine->context ? engine->context->state : nullptr;
    if (!state) return false;
    // A failed call leaves its error value on the stack: the stack is put
    // back to its height on every way out.
    const int top = lua_gettop(state);
    bool ok = true;
    try {
        call(state, handler.c_str());
    } catch (...) {
        ok = engineLog().scriptError("Exception %s(%s* [%s]): Unknown", handler.c_str(), className, objectName);
    }
    lua_settop(state, top);
    return ok;
}

std::int32_t ScriptEventTable::write(DataStream& stream) const {
    std::int32_t total = 0;
    for (const std::string& name : events_) {
        const std::size_t length = name.size() < 0xFFFF ? name.size() : 0xFFFF;
        if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(length)))) return total;
        if (length && !addField(total, stream.write(name.data(), static_cast<std::int32_t>(length))))
            return total;
    }
    return total;
}

std::int32_t ScriptEventTable::read(DataStream& stream, bool apply) {
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
