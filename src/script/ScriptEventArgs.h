// The argument block of a script event or call request.
//
// Slot 0 names the global Lua function to call; slots 1 to 5 are its string
// arguments, in order. Every text (the label and each slot) holds at most 127
// characters. The block is a value: the event queue keeps copies.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct ScriptEventArgs {
    static constexpr std::size_t kTextSize = 128;
    using Slot = std::array<char, kTextSize>;

    // Label used only in log messages ("Dialog.onFinished", "script event", ...).
    char name[kTextSize] = {};
    std::vector<Slot> slots;

    ScriptEventArgs() = default;
    // A block with one slot: the handler name.
    explicit ScriptEventArgs(const char* handler);
    static ScriptEventArgs fromString(const char* handler);
    static ScriptEventArgs fromTwoStrings(const char* handler, const char* argument);
    static ScriptEventArgs fromFourStrings(const char* handler, const char* first, const char* second,
                                           const char* third);

    // Appends a slot holding at most 127 characters of text (null gives "").
    void append(const char* text);
    // Sets the label, at most 127 characters, the rest zeroed.
    void setName(const char* label);
    std::int32_t count() const { return static_cast<std::int32_t>(slots.size()); }
    const char* slot(std::int32_t index) const { return slots[static_cast<std::size_t>(index)].data(); }
    // Null when the block has no slot.
    const char* function() const { return slots.empty() ? nullptr : slots[0].data(); }
    // Frees the slots.
    void release() { std::vector<Slot>().swap(slots); }

    // "go('a', 'b');" for slot 0 "go" with arguments a and b; "NULL" without slots.
    std::string callText() const;
};

// Copies at most size - 1 bytes of text into a zeroed field of that size.
void copyScriptText(char* destination, std::size_t size, const char* text);
