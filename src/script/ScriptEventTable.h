// A table of script event handlers: one script function name for each of the
// 24 script event kinds, saved with the object that owns it (the world, the
// timers, sounds). A set handler is never replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "script/ScriptWorld.h"

class DataStream;
struct lua_State;

class ScriptEventTable {
public:
    // Stores a handler for an empty slot. An event outside 0-23, a slot
    // that already has a handler and an empty name are refused (false, a
    // script error naming the class and the object).
    bool set(std::int32_t event, const char* handler, const char* className, const char* objectName);
    // The handler of the event, "" when unset or out of range.
    const char* get(std::int32_t event) const;

    // Runs the event's handler through call (which calls the named Lua
    // function with the object): false without a handler, for a null
    // object (logged), while script events are blocked, for a missing
    // function, or when the call raised an error (logged); true when it ran.
    bool call(std::int32_t event, const char* className, const char* objectName, bool objectPresent,
              const std::function<void(lua_State*, const char*)>& call) const;

    // The table as 24 names, each a u16 length and its bytes.
    std::int32_t write(DataStream& stream) const;
    // apply false only checks the block: the handlers stay as they are.
    std::int32_t read(DataStream& stream, bool apply = true);

private:
    std::string events_[S_EVENT_COUNT];
};
