#include "game/QuestData.h"

#include <climits>
#include <cstring>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "model/SharedRecords.h"

void QuestText::assign(const char* text, std::size_t length) {
    if (!text || length == 0) {
        clear();
        return;
    }
    auto buffer = std::make_unique<char[]>(length + 1);
    std::memcpy(buffer.get(), text, length);
    buffer[length] = 0;
    buffer_ = std::move(buffer);
    capacity_ = static_cast<std::uint32_t>(length + 1);
}

void QuestText::assign(const char* text) { assign(text, text ? std::strlen(text) : 0); }

void QuestText::clear() {
    buffer_.reset();
    capacity_ = 0;
}

std::size_t QuestText::length() const { return buffer_ ? strnlen(buffer_.get(), capacity_) : 0; }

namespace {

template <class T>
std::int32_t searchSorted(const std::vector<T>& items, const char* name, const char* (*key)(const T&)) {
    if (!name) return -1;
    std::size_t low = 0;
    std::size_t high = items.size();
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        const int order = std::strcmp(name, key(items[middle]));
        if (order == 0) return static_cast<std::int32_t>(middle);
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return -1;
}

}  // namespace

std::int32_t QuestObject::findName(const char* name) const {
    return searchSorted<QuestName>(names, name, [](const QuestName& n) -> const char* { return n.text; });
}

std::int32_t QuestObject::findAction(const char* name) const {
    return searchSorted<QuestAction>(actions, name, [](const QuestAction& a) -> const char* { return a.name; });
}

void QuestRecord::clear() {
    std::memset(name, 0, sizeof(name));
    events.clear();
    objects.clear();
}

const QuestEvent* QuestRecord::findEvent(const char* eventName) const {
    if (!eventName) return nullptr;
    for (const QuestEvent& event : events)
        if (std::strcmp(event.name, eventName) == 0) return &event;
    return nullptr;
}

// ---- The compiled quest list

namespace {

// The reader of one resource: every refusal names the resource and the
// record being read.
class QuestListReader {
public:
    QuestListReader(DataStream& stream, const char* resource) : s_(stream), resource_(resource ? resource : "") {}

    std::int32_t list(std::vector<QuestRecord>& quests) {
        std::int32_t count = 0;
        if (!this->count(count, 9, "quests", "the list")) return total_;
        quests.resize(static_cast<std::size_t>(count));
        for (QuestRecord& quest : quests)
            if (!this->quest(quest)) return total_;
        return total_;
    }

private:
    bool failed(const std::string& detail) {
        engineLog().questError("Can't read quest data [%s]: %s", resource_, detail.c_str());
        total_ = -1;
        return false;
    }
    bool field(std::int32_t result) { return addField(total_, result); }

    // An i32 count of records of at least minimum bytes each.
    bool count(std::int32_t& out, std::int32_t minimum, const char* what, const std::string& owner) {
        if (!field(readI32(s_, out))) return false;
        if (out < 0) return failed(owner + " has a negative count of " + what);
        const std::int64_t need = static_cast<std::int64_t>(out) * minimum;
        if (need > bytesLeft(s_))
            return failed(owner + " counts " + std::to_string(out) + " " + what + ", more than the data hold");
        return true;
    }

    // A u8 length and its bytes into a field of limit + 1 bytes.
    bool name(char* out, std::size_t limit, const char* what, const std::string& owner) {
        std::uint8_t length = 0;
        if (!field(readU8(s_, length))) return false;
        if (length > limit)
            return failed(std::string(what) + " of " + owner + " has " + std::to_string(length) +
                          " characters, more than " + std::to_string(limit));
        return length == 0 || field(readExact(s_, out, length));
    }

    bool text(QuestText& out, const std::string& owner) {
        std::uint16_t length = 0;
        if (!field(readU16(s_, length))) return false;
        if (length == 0) {
            out.clear();
            return true;
        }
        if (length > bytesLeft(s_)) return failed("an argument of " + owner + " runs past the end of the data");
        std::string bytes(length, '\0');
        if (!field(readExact(s_, bytes.data(), length))) return false;
        out.assign(bytes.data(), bytes.size());
        return true;
    }

    bool command(QuestCommand& c, const std::string& owner) {
        if (!name(c.name, kQuestShortName, "a command name", owner)) return false;
        const std::string self = "command [" + std::string(c.name) + "] of " + owner;
        return text(c.arg1, self) && text(c.arg2, self) && text(c.arg3, self);
    }

    bool commands(std::vector<QuestCommand>& out, const char* what, const std::string& owner) {
        std::int32_t n = 0;
        if (!count(n, 7, what, owner)) return false;
        out.resize(static_cast<std::size_t>(n));
        for (QuestCommand& c : out)
            if (!command(c, owner)) return false;
        return true;
    }

    bool quest(QuestRecord& q) {
        if (!name(q.name, kQuestLongName, "the name", "a quest")) return false;
        const std::string self = "quest [" + std::string(q.name) + "]";
        std::int32_t n = 0;
        if (!count(n, 5, "events", self)) return false;
        q.events.resize(static_cast<std::size_t>(n));
        for (QuestEvent& e : q.events) {
            if (!name(e.name, kQuestShortName, "an event name", self)) return false;
            if (!commands(e.commands, "commands", "event [" + std::string(e.name) + "] of " + self)) return false;
        }
        if (!count(n, 8, "objects", self)) return false;
        q.objects.resize(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < q.objects.size(); ++i)
            if (!object(q.objects[i], "object " + std::to_string(i) + " of " + self)) return false;
        return true;
    }

    bool object(QuestObject& o, const std::string& self) {
        std::int32_t n = 0;
        if (!count(n, 128, "names", self)) return false;
        o.names.resize(static_cast<std::size_t>(n));
        if (n > 0 && !field(readExact(s_, o.names.data(), n * 128))) return false;
        for (QuestName& name : o.names) name.text[127] = 0;
        if (!count(n, 5, "actions", self)) return false;
        o.actions.resize(static_cast<std::size_t>(n));
        for (QuestAction& a : o.actions) {
            if (!name(a.name, kQuestShortName, "an action name", self)) return false;
            const std::string action = "action [" + std::string(a.name) + "] of " + self;
            if (!count(n, 9, "cases", action)) return false;
            a.cases.resize(static_cast<std::size_t>(n));
            for (QuestCase& c : a.cases)
                if (!questCase(c, action)) return false;
        }
        return true;
    }

    bool questCase(QuestCase& c, const std::string& action) {
        if (!name(c.name, kQuestShortName, "a case name", action)) return false;
        const std::string self = "case [" + std::string(c.name) + "] of " + action;
        std::int32_t n = 0;
        if (!count(n, 4, "rules", self)) return false;
        c.rules.resize(static_cast<std::size_t>(n));
        for (auto& rule : c.rules)
            if (!commands(rule, "conditions", self)) return false;
        return commands(c.commands, "commands", self);
    }

    DataStream& s_;
    const char* resource_;
    std::int32_t total_ = 0;
};

}  // namespace

std::int32_t readQuestList(DataStream& stream, std::vector<QuestRecord>& quests, const char* resourceName) {
    quests.clear();
    QuestListReader reader(stream, resourceName);
    const std::int32_t total = reader.list(quests);
    if (total < 0) quests.clear();
    return total;
}

// ---- Run-time state

namespace {

ObjectState* statesOf(const RecordArray& objects) { return objects.as<ObjectState>(); }

std::int32_t searchStates(const RecordArray& objects, const char* name, bool& found) {
    return searchRecordsByName<ObjectState>(objects, name, found);
}

ObjectState* insertState(RecordArray& objects, const char* name) {
    char key[128] = {};
    std::strncpy(key, name, sizeof(key) - 1);
    bool found = false;
    const std::int32_t at = searchStates(objects, key, found);
    if (found) return statesOf(objects) + at;
    if (objects.count == INT32_MAX ||
        !reserveRecords(objects, static_cast<std::int32_t>(sizeof(ObjectState)), objects.count + 1))
        return nullptr;
    ObjectState* states = statesOf(objects);
    std::memmove(states + at + 1, states + at, sizeof(ObjectState) * std::size_t(objects.count - at));
    ObjectState& fresh = states[at];
    std::memset(&fresh, 0, sizeof(fresh));
    std::memcpy(fresh.name, key, sizeof(key));
    fresh.action = -1;
    ++objects.count;
    return &fresh;
}

}  // namespace

QuestData::~QuestData() { clear(); }

void QuestData::clear() {
    NamedRecord* records = quests.as<NamedRecord>();
    for (std::int32_t i = 0; i < quests.count; ++i) records[i].records.release();
    quests.release();
}

ObjectState* QuestData::getObject(const char* quest, const char* object) {
    if (!quest || !*quest || !object || !*object) return nullptr;
    NamedRecord* record = findOrInsertNamedRecord(quests, quest);
    return record ? insertState(record->records, object) : nullptr;
}

const RecordArray* QuestData::objectsOf(const char* quest) const {
    const NamedRecord* record = quest ? findNamedRecord(quests, quest) : nullptr;
    return record ? &record->records : nullptr;
}

ObjectState* QuestData::findObject(const char* quest, const char* object) const {
    const RecordArray* objects = objectsOf(quest);
    if (!objects || !object) return nullptr;
    char key[128] = {};
    std::strncpy(key, object, sizeof(key) - 1);
    bool found = false;
    const std::int32_t at = searchStates(*objects, key, found);
    return found ? statesOf(*objects) + at : nullptr;
}

std::int32_t QuestData::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeI32(stream, quests.count))) return total;
    const NamedRecord* records = quests.as<NamedRecord>();
    for (std::int32_t i = 0; i < quests.count; ++i) {
        const RecordArray& objects = records[i].records;
        if (!addField(total, writeString8(stream, records[i].name))) return total;
        if (!addField(total, writeI32(stream, objects.count))) return total;
        for (std::int32_t k = 0; k < objects.count; ++k) {
            const ObjectState& o = statesOf(objects)[k];
            if (!addField(total, writeString16(stream, o.name, sizeof(o.name)))) return total;
            if (!addField(total, writeString16(stream, o.mode, sizeof(o.mode)))) return total;
            if (!addField(total, writeI32(stream, o.state))) return total;
            if (!addField(total, writeI32(stream, o.tag))) return total;
            if (!addField(total, writeI32(stream, o.action))) return total;
        }
    }
    return total;
}

namespace {

// A count of records of at least minimum bytes that the stream still holds.
bool boundedCount(DataStream& stream, std::int32_t count, std::int32_t minimum) {
    return count >= 0 && static_cast<std::int64_t>(count) * minimum <= bytesLeft(stream);
}

}  // namespace

std::int32_t QuestData::read(DataStream& stream) {
    clear();
    Log& log = engineLog();
    std::int32_t total = 0;
    std::int32_t questCount = 0;
    if (!addField(total, readI32(stream, questCount))) return total;
    if (!boundedCount(stream, questCount, 5))
        return log.questError("Can't read quest state: %i quests do not fit the saved data", questCount), -1;
    for (std::int32_t i = 0; i < questCount; ++i) {
        char quest[128] = {};
        std::int32_t result = readString8(stream, quest, sizeof(quest));
        if (result < 0 || !quest[0])
            return log.questError("Can't read quest state %i: its name is missing, damaged or longer than 127 characters", i),
                   -1;
        total += result;
        std::int32_t objectCount = 0;
        if (!addField(total, readI32(stream, objectCount))) return total;
        if (!boundedCount(stream, objectCount, 16))
            return log.questError("Can't read quest state [%s]: %i objects do not fit the saved data", quest,
                                  objectCount),
                   -1;
        NamedRecord* record = findOrInsertNamedRecord(quests, quest);
        if (!record) return log.questError("Can't read quest state [%s]: out of memory", quest), -1;
        for (std::int32_t k = 0; k < objectCount; ++k) {
            ObjectState saved{};
            if ((result = readString16(stream, saved.name, sizeof(saved.name))) < 0 || !saved.name[0])
                return log.questError("Can't read object %i of quest state [%s]: its name is missing, damaged or longer "
                                      "than 127 characters",
                                      k, quest),
                       -1;
            total += result;
            if ((result = readString16(stream, saved.mode, sizeof(saved.mode))) < 0)
                return log.questError("Can't read object [%s] of quest state [%s]: its mode is damaged or longer than 63 "
                                      "characters",
                                      saved.name, quest),
                       -1;
            total += result;
            if (!addField(total, readI32(stream, saved.state))) return total;
            if (!addField(total, readI32(stream, saved.tag))) return total;
            if (!addField(total, readI32(stream, saved.action))) return total;
            ObjectState* state = insertState(record->records, saved.name);
            if (!state) return log.questError("Can't read quest state [%s]: out of memory", quest), -1;
            *state = saved;
        }
    }
    return total;
}
