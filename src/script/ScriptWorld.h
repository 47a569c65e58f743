// The engine side of the script class "World": the world's table of event
// handlers, one script function name for each of the 24 script event kinds,
// saved with the game by the script engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class DataStream;

// The script event kinds, in their stored order.
enum S_EVENT : std::int32_t {
    onMouseOver = 0, onMouseOut, onMouseDown, onMouseUp, onMouse1Down, onMouse1Up, onAction,
    onActionOver, onActionOut, onActionLayerOver, onActionLayerOut, onPickerOver, onPickerOut,
    onPlay, onStop, onRelease, onScrollXShow, onScrollXHide, onScrollYShow, onScrollYHide,
    onScrollXLimitEnter, onScrollXLimitLeave, onScrollYLimitEnter, onScrollYLimitLeave,
    S_EVENT_COUNT
};

// The name of an event kind ("onMouseOver"), "" out of range.
const char* scriptEventName(std::int32_t event);

class ScriptEventTable;

class ScriptWorld {
public:
    ScriptWorld();
    ~ScriptWorld();

    std::int32_t time = 0;

    // Stores a handler for an empty slot; a set handler is never replaced and
    // an empty one is refused (false, logged). Events outside 0-23 are refused.
    bool setEvent(std::int32_t event, const char* handler);
    // The handler of the event, "" when unset or out of range.
    const char* getEvent(std::int32_t event) const;
    // Runs the event's handler with the world as its only argument: true
    // when the slot is empty, events are blocked or the call ran; false when
    // the world is null, the handler is missing or raised an error, or the
    // event lies outside 0-23 (refused with a script error).
    bool callEvent(std::int32_t event, ScriptWorld* object);

    // The event table as 24 names, each a u16 length and its bytes.
    std::int32_t writeEvents(DataStream& stream) const;
    // apply false only checks the block: the handlers stay as they are.
    std::int32_t readEvents(DataStream& stream, bool apply = true);

private:
    std::unique_ptr<ScriptEventTable> events_;
};
