#include "script/ScriptEventArgs.h"

#include <cstring>

void copyScriptText(char* destination, std::size_t size, const char* text) {
    std::memset(destination, 0, size);
    if (!text || size == 0) return;
    const std::size_t length = strnlen(text, size - 1);
    std::memcpy(destination, text, length);
}

ScriptEventArgs::ScriptEventArgs(const char* handler) { append(handler); }

ScriptEventArgs ScriptEventArgs::fromString(const char* handler) { return ScriptEventArgs(handler); }

ScriptEventArgs ScriptEventArgs::fromTwoStrings(const char* handler, const char* argument) {
    ScriptEventArgs args(handler);
    args.append(argument);
    return args;
}

ScriptEventArgs ScriptEventArgs::fromFourStrings(const char* handler, const char* first, const char* second,
                                                 const char* third) {
    ScriptEventArgs args(handler);
    args.append(first);
    args.append(second);
    args.append(third);
    return args;
}

void ScriptEventArgs::append(const char* text) {
    Slot slot;
    copyScriptText(slot.data(), slot.size(), text);
    slots.push_back(slot);
}

void ScriptEventArgs::setName(const char* label) { copyScriptText(name, sizeof(name), label); }

std::string ScriptEventArgs::callText() const {
    if (slots.empty()) return "NULL";
    std::string text = slots[0].data();
    text += "(";
    for (std::size_t i = 1; i < slots.size(); ++i) {
        if (i > 1) text += ", ";
        text += "'";
        text += slots[i].data();
        text += "'";
    }
    text += ");";
    return text;
}
