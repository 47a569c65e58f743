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

namespace {

constexpr std::size_t kTextSize = ScriptEventArgs::kTextSize;
constexpr char kZeroText[kTextSize] = {};

// copyScriptText for one field of the block. The field is cleared by
// copying zeros: a copy of a constant 128 bytes becomes a few vector moves,
// where a fill of them becomes a string instruction that costs as much as
// the rest of a script call.
void setText(char* field, const char* text) {
    std::memcpy(field, kZeroText, kTextSize);
    if (text) std::memcpy(field, text, strnlen(text, kTextSize - 1));
}

}  // namespace

ScriptEventArgs::ScriptEventArgs() { setText(name, nullptr); }

ScriptEventArgs::ScriptEventArgs(const char* handler) : ScriptEventArgs() { append(handler); }

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
    std::memcpy(name, other.name, kTextSize);
    count_ = other.count_;
    const std::size_t held = static_cast<std::size_t>(std::min(count_, kInlineSlots));
    for (std::size_t i = 0; i < held; ++i) std::memcpy(inline_[i].data(), other.inline_[i].data(), kTextSize);
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
        setText(inline_[static_cast<std::size_t>(count_)].data(), text);
    } else {
        Slot slot;
        setText(slot.data(), text);
        overflow_.push_back(slot);
    }
    ++count_;
}

void ScriptEventArgs::setName(const char* label) { setText(name, label); }

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

ScriptEventQueue::ScriptEventQueue() = default;

ScriptEventQueue::~ScriptEventQueue() = default;

void ScriptEventQueue::push_back(const ScriptEventArgs& args) {
    if (count_ == ring_.size()) {
        std::size_t capacity = std::max<std::size_t>(ring_.size(), 1);
        while (capacity < count_ + 1) capacity *= 2;
        std::vector<std::unique_ptr<ScriptEventArgs>> grown(capacity);
        for (std::size_t i = 0; i < count_; ++i) grown[i] = std::move(ring_[(head_ + i) % ring_.size()]);
        ring_.swap(grown);
        head_ = 0;
    }
    std::unique_ptr<ScriptEventArgs>& slot = ring_[(head_ + count_) % ring_.size()];
    if (!spare_.empty()) {
        slot = std::move(spare_.back());
        spare_.pop_back();
        *slot = args;
    } else {
        slot = std::make_unique<ScriptEventArgs>(args);
    }
    ++count_;
}

std::unique_ptr<ScriptEventArgs> ScriptEventQueue::takeFront() {
    if (count_ == 0) return nullptr;
    std::unique_ptr<ScriptEventArgs> block = std::move(ring_[head_]);
    head_ = (head_ + 1) % ring_.size();
    --count_;
    return block;
}

void ScriptEventQueue::recycle(std::unique_ptr<ScriptEventArgs> block) {
    // No more spares than the ring can hold: the rest are freed.
    if (block && spare_.size() < ring_.size()) spare_.push_back(std::move(block));
}

void ScriptEventQueue::clear() {
    std::vector<std::unique_ptr<ScriptEventArgs>>().swap(ring_);
    std::vector<std::unique_ptr<ScriptEventArgs>>().swap(spare_);
    head_ = 0;
    count_ = 0;
}
