// Compiled quests and the quests' run-time state.
//
// A ".quest" resource holds a list of quests. A quest has events (lists of
// commands) and objects; an object names the game objects that share it and
// answers actions, each a list of cases whose rules (an OR of ANDs of
// condition commands) choose the commands to run. Every command is a Lua
// function "quest_" + its name; its three text arguments are read by the
// function through the "Quest" script class.
//
// The compiled layout is little-endian, without magic or padding: counts
// are i32, names a u8 length and their bytes, the names of an object one
// block of 128-byte fields, command arguments a u16 length and their bytes.
// Object names and actions are found by binary search, so the compiled data
// keep both sorted. The reader refuses a name longer than its field, a
// negative count and a count that the bytes left cannot hold, each with a
// line naming the record.
//
// QuestData is the run-time state that goes into a save game: per quest
// (sorted by name) its object states (sorted by name), each made on first
// access with state 0, tag 0, action -1 and an empty mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/RecordArray.h"

class DataStream;

// An owned text: no buffer and capacity 0 when empty, else a buffer of
// capacity bytes (the characters and a terminator).
class QuestText {
public:
    QuestText() = default;
    QuestText(const QuestText& other) { assign(other.c_str()); }
    QuestText(QuestText&&) noexcept = default;
    QuestText& operator=(const QuestText& other) {
        if (this != &other) assign(other.c_str());
        return *this;
    }
    QuestText& operator=(QuestText&&) noexcept = default;

    // Copies length characters (an empty text frees the buffer).
    void assign(const char* text, std::size_t length);
    void assign(const char* text);
    void clear();
    const char* c_str() const { return buffer_ ? buffer_.get() : ""; }
    std::uint32_t capacity() const { return capacity_; }
    bool ownsBuffer() const { return buffer_ != nullptr; }
    // Characters up to the terminator or the capacity.
    std::size_t length() const;

private:
    std::uint32_t capacity_ = 0;
    std::unique_ptr<char[]> buffer_;
};

// The longest names of the fixed fields.
constexpr std::size_t kQuestShortName = 63;
constexpr std::size_t kQuestLongName = 127;

// One command, also one condition of a rule.
struct QuestCommand {
    char name[64] = {};
    QuestText arg1, arg2, arg3;
};

struct QuestEvent {
    char name[64] = {};
    std::vector<QuestCommand> commands;
};

struct QuestCase {
    char name[64] = {};
    // An OR of rules, each an AND of conditions.
    std::vector<std::vector<QuestCommand>> rules;
    std::vector<QuestCommand> commands;
};

// A plain action name, or an action name and a mode joined by "=".
struct QuestAction {
    char name[64] = {};
    std::vector<QuestCase> cases;
};

struct QuestName {
    char text[128] = {};
};

struct QuestObject {
    // Sorted by byte order, as are the actions.
    std::vector<QuestName> names;
    std::vector<QuestAction> actions;

    // Binary searches: the index, or -1.
    std::int32_t findName(const char* name) const;
    std::int32_t findAction(const char* name) const;
};

struct QuestRecord {
    char name[128] = {};
    std::vector<QuestEvent> events;
    std::vector<QuestObject> objects;

    // Empties the name and both arrays.
    void clear();
    // The first event of that name, or null.
    const QuestEvent* findEvent(const char* name) const;
};

// Reads a quest list in the compiled layout into quests (replacing them):
// the bytes read, or negative (logged with the resource name) on damaged
// data, the list then empty.
std::int32_t readQuestList(DataStream& stream, std::vector<QuestRecord>& quests, const char* resourceName);

// The state of one object of one quest.
struct ObjectState {
    char name[128];
    char mode[64];
    std::int32_t state;
    std::int32_t tag;
    std::int32_t action;
};

class QuestData {
public:
    QuestData() = default;
    ~QuestData();
    QuestData(const QuestData&) = delete;
    QuestData& operator=(const QuestData&) = delete;

    // The state of (quest, object), made when absent; null for an empty
    // quest or object name or when memory runs out.
    ObjectState* getObject(const char* quest, const char* object);
    // The same without making anything.
    ObjectState* findObject(const char* quest, const char* object) const;
    // The sorted object states of a quest, or null when it has none.
    const RecordArray* objectsOf(const char* quest) const;

    // Frees every record.
    void clear();
    // The save layout: i32 quest count; per quest its name (u8 length and
    // bytes), i32 object count, per object name and mode (u16 length and
    // bytes) and state, tag, action (i32). Bytes or the first negative
    // result; read refuses names longer than their fields and counts the
    // bytes left cannot hold (logged).
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    // NamedRecord per quest, each holding ObjectState records.
    RecordArray quests;
};
