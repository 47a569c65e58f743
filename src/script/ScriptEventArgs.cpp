#include "script/ScriptEventArgs.h"

#include <algorithm>
#include <cstring>
#include <utility>

void copyScriptText(char* destination, std::size_t size, const char* text) {
    std::memset(destination, 0, size);
    if (!text || size == 0) return;
    const std::size_t length = strnlen(text, size - 1);
    std::memcpy(destination, text, length);
}

ScriptEventArgs::ScriptEventArgs(const char* handler) { append(handler); }

ScriptEventArgs::ScriptEventArgs(const ScriptEventArgs& other) { copySlots(other); }

ScriptEventArgs::ScriptEventArgs(ScriptEventArgs&& other) noexcept { *this = std::move(other); }

ScriptEventArgs& ScriptEventArgs::operator=(const ScriptEventArgs& other) {
    if (this != &other) {
        copySlots(other);
        overflow_ = other.overflow_;
    }
    return *this;
}

ScriptEventArgs& ScriptEventArgs::operator=(ScriptEventArgs&& other) noexcept {
    if (this != &other) {
        copySlots(other);
        // Swapped, so that a reused block keeps a buffer rather than freeing it.
        overflow_.swap(other.overflow_);
        other.overflow_.clear();
        other.count_ = 0;
    }
    return *this;
}

void ScriptEventArgs::copySlots(const ScriptEventArgs& other) {
    std::memcpy(name, other.name, sizeof(name));
    count_ = other.count_;
    const std::size_t held = static_cast<std::size_t>(std::min(count_, kInlineSlots));
    std::memcpy(inline_.data(), other.inline_.data(), held * sizeof(Slot));
}

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
    if (count_ < kInlineSlots) {
        copyScriptText(inline_[static_cast<std::size_t>(count_)].data(), kTextSize, text);
    } else {
        Slot slot;
        copyScriptText(slot.data(), slot.size(), text);
        overflow_.push_back(slot);
    }
    ++count_;
}

void ScriptEventArgs::setName(const char* label) { copyScriptText(name, sizeof(name), label); }

std::string ScriptEventArgs::callText() const {
    if (count_ == 0) return "NULL";
    std::string text = slot(0);
    text += "(";
    for (std::int32_t i = 1; i < count_; ++i) {
        if (i > 1) text += ", ";
        text += "'";
        text += slot(i);
        text += "'";
    }
    text += ");";
    return text;
}

void ScriptEventQueue::push_back(const ScriptEventArgs& args) {
    if (count_ == ring_.size()) {
        std::size_t capacity = std::max<std::size_t>(ring_.size(), 1);
        while (capacity < count_ + 1) capacity *= 2;
        std::vector<ScriptEventArgs> grown(capacity);
        for (std::size_t i = 0; i < count_; ++i) grown[i] = std::move(ring_[(head_ + i) % ring_.size()]);
        ring_.swap(grown);
        head_ = 0;
    }
    ring_[(head_ + count_) % ring_.size()] = args;
    ++count_;
}

void ScriptEventQueue::takeFront(ScriptEventArgs& out) {
    out = std::move(ring_[head_]);
    head_ = (head_ + 1) % ring_.size();
    --count_;
}

void ScriptEventQueue::clear() {
    std::vector<ScriptEventArgs>().swap(ring_);
    head_ = 0;
    count_ = 0;
}
