// The argument block of a script event or call request.
//
// Slot 0 names the global Lua function to call; slots 1 to 5 are its string
// arguments, in order. Every text (the label and each slot) holds at most 127
// characters. The block is a value: the event queue keeps copies. The six
// slots of a call are held in the block itself, so building, copying and
// queueing one allocates nothing; only a block of more slots (which no call
// accepts) keeps the rest outside.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ScriptEventArgs {
    static constexpr std::size_t kTextSize = 128;
    static constexpr std::int32_t kInlineSlots = 6;
    using Slot = std::array<char, kTextSize>;

    // Label used only in log messages ("Dialog.onFinished", "script event", ...).
    // Empty, zero-filled, until set.
    char name[kTextSize];

    ScriptEventArgs();
    // A block with one slot: the handler name.
    explicit ScriptEventArgs(const char* handler);
    // Copies take the label and the slots in use only.
    ScriptEventArgs(const ScriptEventArgs& other);
    ScriptEventArgs(ScriptEventArgs&& other) noexcept;
    ScriptEventArgs& operator=(const ScriptEventArgs& other);
    ScriptEventArgs& operator=(ScriptEventArgs&& other) noexcept;
    ~ScriptEventArgs() = default;

    static ScriptEventArgs fromString(const char* handler);
    static ScriptEventArgs fromTwoStrings(const char* handler, const char* argument);
    static ScriptEventArgs fromFourStrings(const char* handler, const char* first, const char* second,
                                           const char* third);

    // Appends a slot holding at most 127 characters of text (null gives "").
    void append(const char* text);
    // Sets the label, at most 127 characters, the rest zeroed.
    void setName(const char* label);
    std::int32_t count() const { return count_; }
    // Slot index (below count), NUL-terminated and zero-filled to its end.
    const char* slot(std::int32_t index) const {
        return index < kInlineSlots ? inline_[static_cast<std::size_t>(index)].data()
                                    : overflow_[static_cast<std::size_t>(index - kInlineSlots)].data();
    }
    // Null when the block has no slot.
    const char* function() const { return count_ > 0 ? inline_[0].data() : nullptr; }
    // Frees the slots.
    void release() {
        count_ = 0;
        std::vector<Slot>().swap(overflow_);
    }

    // "go('a', 'b');" for slot 0 "go" with arguments a and b; "NULL" without slots.
    std::string callText() const;

private:
    void copySlots(const ScriptEventArgs& other);

    std::int32_t count_ = 0;
    std::array<Slot, kInlineSlots> inline_;  // the first count_ are in use
    std::vector<Slot> overflow_;             // slots from the seventh on
};

// The queue of a script context: first in, first out, in a ring of blocks
// that are reused, so that posting and running events allocates nothing once
// the queue has grown to the longest length seen. A block taken from the
// front stays valid while it runs, whatever is posted meanwhile, and is then
// given back. When full the ring grows to the smallest doubling of
// max(capacity, 1) that holds one more.
class ScriptEventQueue {
public:
    ScriptEventQueue();
    ~ScriptEventQueue();
    ScriptEventQueue(const ScriptEventQueue&) = delete;
    ScriptEventQueue& operator=(const ScriptEventQueue&) = delete;

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::size_t capacity() const { return ring_.size(); }
    const ScriptEventArgs& front() const { return *ring_[head_]; }
    void push_back(const ScriptEventArgs& args);
    // Removes the first event and lends its block (null when empty); give it
    // back with recycle.
    std::unique_ptr<ScriptEventArgs> takeFront();
    void recycle(std::unique_ptr<ScriptEventArgs> block);
    // Drops every event and frees the storage.
    void clear();

private:
    std::vector<std::unique_ptr<ScriptEventArgs>> ring_;
    std::vector<std::unique_ptr<ScriptEventArgs>> spare_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

// Copies at most size - 1 bytes of text into a zeroed field of that size.
void copyScriptText(char* destination, std::size_t size, const char* text);
