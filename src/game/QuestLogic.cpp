#include "game/QuestLogic.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "game/QuestDataManager.h"

namespace {

bool questLog() { return (gameCore.debugFlags & DebugQuestLog) != 0; }

bool nameLess(const char* a, const char* b) { return std::strcmp(a, b) < 0; }

// The place of the backup of that name, or of its insertion point.
std::vector<QuestBackup>::iterator backupPlace(std::vector<QuestBackup>& backups, const char* name) {
    return std::lower_bound(backups.begin(), backups.end(), name,
                            [](const QuestBackup& b, const char* key) { return nameLess(b.name, key); });
}

QuestBackup& findOrInsertBackup(std::vector<QuestBackup>& backups, const char* name) {
    char key[128];
    copyName128(key, name);
    auto at = backupPlace(backups, key);
    if (at != backups.end() && std::strcmp(at->name, key) == 0) return *at;
    at = backups.insert(at, QuestBackup{});
    std::memcpy(at->name, key, sizeof(key));
    return *at;
}

}  // namespace

void QuestFunction::clear() { *this = QuestFunction{}; }

QuestBackup* QuestLogicStack::findBackup(const char* name) {
    if (!name) return nullptr;
    char key[128];
    copyName128(key, name);
    auto at = backupPlace(backups, key);
    return at != backups.end() && std::strcmp(at->name, key) == 0 ? &*at : nullptr;
}

bool QuestLogicStack::push(const char* name) {
    QuestBackup* backup = findBackup(name);
    if (!backup)
        return engineLog().error("Can't push quest stack function [%s]: backup functions repository lookup failed",
                                 name ? name : "");
    while (!backup->functions.empty()) {
        QuestFunction& last = backup->functions.back();
        if (questLog())
            engineLog().questInfo("PUSH quest function %s(%s,%s,%s)", last.name, last.arg1.c_str(), last.arg2.c_str(),
                                  last.arg3.c_str());
        stack.push_back(std::move(last));
        backup->functions.pop_back();
    }
    backups.erase(backups.begin() + (backup - backups.data()));
    return true;
}

bool QuestLogicStack::pop(const char* name) {
    const char* key = name ? name : "";
    Log& log = engineLog();
    if (flags & kQuestStackPopping)
        return log.error("Can't pop function [%s] : Wait until current pop gone done", key);
    flags |= kQuestStackPopping;
    if (QuestBackup* old = findBackup(key)) {
        if (questLog()) log.questInfo("Discard old function [%s]: Already in backup functions repository", key);
        backups.erase(backups.begin() + (old - backups.data()));
    }
    QuestBackup& backup = findOrInsertBackup(backups, key);
    if (stack.empty()) {
        if (questLog())
            log.questInfo("Warning: Can't pop commands [%s]: Stack is empty (create zero function backup)", key);
    }
    while (!stack.empty()) {
        QuestFunction& top = stack.back();
        if (questLog())
            log.questInfo("POP quest function %s(%s,%s,%s)", top.name, top.arg1.c_str(), top.arg2.c_str(),
                          top.arg3.c_str());
        const bool bottom = top.sequence == 0;
        backup.functions.push_back(std::move(top));
        stack.pop_back();
        if (bottom) break;
    }
    flags &= ~kQuestStackPopping;
    if (findBackup(key)) return true;
    return log.error("Failed pop function");
}

void QuestLogicStack::recordToTargets(const QuestFunction& function) {
    for (const QuestName& target : targets) findOrInsertBackup(backups, target.text).functions.push_back(function);
}

void QuestLogicStack::pushFunction(const char* name, const char* arg1, const char* arg2) {
    QuestFunction function;
    copyString64(name, function.name);
    function.arg1.assign(arg1);
    function.arg2.assign(arg2);
    std::memcpy(function.object, current.object, sizeof(function.object));
    std::memcpy(function.context, current.context, sizeof(function.context));
    function.object[127] = function.context[127] = 0;
    stack.push_back(std::move(function));
}

bool QuestLogicStack::addTarget(const char* name) {
    if (!name || !*name) return false;
    QuestName key;
    copyName128(key.text, name);
    auto at = std::lower_bound(targets.begin(), targets.end(), key.text,
                               [](const QuestName& t, const char* k) { return nameLess(t.text, k); });
    if (at != targets.end() && std::strcmp(at->text, key.text) == 0) return false;
    targets.insert(at, key);
    return true;
}

void QuestLogicStack::reset() {
    stack.clear();
    backups.clear();
    current.clear();
}

// ---- Save layout

namespace {

std::int32_t writeEntry(DataStream& s, const QuestFunction& f) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(s, f.sequence))) return total;
    if (!addField(total, writeString8(s, f.name))) return total;
    for (const QuestText* arg : {&f.arg1, &f.arg2, &f.arg3}) {
        // The record stores an argument's length in 16 bits: a longer one is refused, never cut.
        const std::size_t length = arg->length();
        if (length > 0xFFFF) {
            engineLog().questError("Can't write quest stack: argument of %zu bytes in function [%s]", length, f.name);
            return -1;
        }
        if (!addField(total, writeU16(s, static_cast<std::uint16_t>(length)))) return total;
        if (length && !addField(total, s.write(arg->c_str(), static_cast<std::int32_t>(length)))) return total;
    }
    if (!addField(total, writeString8(s, f.object))) return total;
    addField(total, writeString8(s, f.context));
    return total;
}

// Reads entries and their records, each refusal logged with what it read.
class EntryReader {
public:
    explicit EntryReader(DataStream& s) : s_(s) {}

    bool failed(const std::string& what, const char* reason) {
        engineLog().questError("Can't read quest stack: %s %s", what.c_str(), reason);
        total = -1;
        return false;
    }

    bool field(std::int32_t result) { return addField(total, result); }

    bool text8(char* field, std::size_t size, const std::string& what, const char* reason) {
        const std::int32_t result = readString8(s_, field, size);
        if (result < 0) return failed(what, reason);
        total += result;
        return true;
    }

    bool entry(QuestFunction& f, const std::string& what) {
        f.clear();
        if (!field(readI32(s_, f.sequence))) return false;
        if (!text8(f.name, sizeof(f.name), what, "has a name longer than 63 characters or cut short")) return false;
        for (QuestText* arg : {&f.arg1, &f.arg2, &f.arg3}) {
            std::uint16_t length = 0;
            if (!field(readU16(s_, length))) return false;
            if (length > bytesLeft(s_)) return failed(what, "has an argument that runs past the end of the data");
            if (length == 0) continue;
            std::string bytes(length, '\0');
            if (!field(readExact(s_, bytes.data(), length))) return false;
            arg->assign(bytes.data(), bytes.size());
        }
        if (!text8(f.object, sizeof(f.object), what, "has an object name longer than 127 characters or cut short"))
            return false;
        return text8(f.context, sizeof(f.context), what, "has a context longer than 127 characters or cut short");
    }

    // An i32 count of records of at least minimum bytes.
    bool count(std::int32_t& out, std::int32_t minimum, const std::string& what) {
        if (!field(readI32(s_, out))) return false;
        if (out < 0 || static_cast<std::int64_t>(out) * minimum > bytesLeft(s_))
            return failed(what, ("counts " + std::to_string(out) + " records, more than the data hold").c_str());
        return true;
    }

    bool entries(std::vector<QuestFunction>& out, const std::string& what) {
        std::int32_t n = 0;
        if (!count(n, kEntryMinimum, what)) return false;
        out.resize(static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i)
            if (!entry(out[static_cast<std::size_t>(i)], "entry " + std::to_string(i) + " of " + what)) return false;
        return true;
    }

    // Sequence, a name, three arguments, object and context, all empty.
    static constexpr std::int32_t kEntryMinimum = 13;
    std::int32_t total = 0;

private:
    DataStream& s_;
};

}  // namespace

std::int32_t QuestLogicStack::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeI32(stream, pending))) return total;
    if (!addField(total, writeU32(stream, flags))) return total;
    if (!addField(total, writeI32(stream, static_cast<std::int32_t>(stack.size())))) return total;
    for (const QuestFunction& f : stack)
        if (!addField(total, writeEntry(stream, f))) return total;
    if (!addField(total, writeI32(stream, static_cast<std::int32_t>(backups.size())))) return total;
    for (const QuestBackup& b : backups) {
        if (!addField(total, writeString16(stream, b.name, sizeof(b.name)))) return total;
        if (!addField(total, writeI32(stream, static_cast<std::int32_t>(b.functions.size())))) return total;
        for (const QuestFunction& f : b.functions)
            if (!addField(total, writeEntry(stream, f))) return total;
    }
    addField(total, writeEntry(stream, current));
    return total;
}

std::int32_t QuestLogicStack::read(DataStream& stream) {
    reset();
    EntryReader r(stream);
    if (!r.field(readI32(stream, pending))) return r.total;
    // Runs owed are never negative: such a count would swallow later runs.
    if (pending < 0) {
        r.failed("the count of runs owed", ("is " + std::to_string(pending) + ", below zero").c_str());
        pending = 0;
        return r.total;
    }
    if (!r.field(readU32(stream, flags))) return r.total;
    // A game saved from inside a quest function stores the running bit: kept,
    // it would refuse every later step.
    flags &= ~(kQuestStackRunning | kQuestStackPopping);
    if (!r.entries(stack, "the stack")) return r.total;
    std::int32_t n = 0;
    if (!r.count(n, 6, "the backups")) return r.total;
    backups.resize(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        QuestBackup& b = backups[static_cast<std::size_t>(i)];
        const std::int32_t result = readString16(stream, b.name, sizeof(b.name));
        if (result < 0) {
            r.failed("backup " + std::to_string(i), "has a name longer than 127 characters or cut short");
            return r.total;
        }
        r.total += result;
        if (!r.entries(b.functions, "backup [" + std::string(b.name) + "]")) return r.total;
    }
    // Look-ups search the backups by name: a save not in order is put in
    // order (a repeated name keeps its first group).
    std::stable_sort(backups.begin(), backups.end(),
                     [](const QuestBackup& a, const QuestBackup& b) { return nameLess(a.name, b.name); });
    backups.erase(std::unique(backups.begin(), backups.end(),
                              [](const QuestBackup& a, const QuestBackup& b) {
                                  return std::strcmp(a.name, b.name) == 0;
                              }),
                  backups.end());
    r.entry(current, "the current function");
    return r.total;
}

// ---- The engine

bool QuestLogic::tracing() const { return (flags & kQuestLogicDebug) != 0 && questLog(); }

bool QuestLogic::run() {
    if (tracing())
        engineLog().scriptInfo("Q:run(%i cmds, %i commands on stack);", stack.pending,
                               static_cast<int>(stack.stack.size()));
    ++stack.pending;
    if (stack.flags & kQuestStackRunning) return false;
    return step((flags & kQuestLogicGlobal) != 0);
}

bool QuestLogic::step(bool global) {
    if (stack.pending == 0 || (stack.flags & kQuestStackRunning)) return false;
    stack.flags |= kQuestStackRunning;
    while (stack.pending > 0) {
        if (stack.stack.empty()) {
            stack.pending = 0;
            break;
        }
        stack.current = std::move(stack.stack.back());
        stack.stack.pop_back();
        const std::int32_t owed = stack.pending;
        stack.recordToTargets(stack.current);
        // The call may push, pop and save: it works on the stack, never on
        // a copy of the function taken here.
        const QuestFunction called = stack.current;
        if (!callScript(called, false, global)) {
            if (stack.pending == owed) ++stack.pending;
            engineLog().questError(
                "------------------------------- QUEST CRITICAL ERROR -----------------------------(%s)----",
                called.name);
        }
        --stack.pending;
        if (std::strcmp(called.name, "call") == 0) break;
    }
    stack.flags &= ~kQuestStackRunning;
    return true;
}

void QuestLogic::clear() {
    quest.clear();
    stack.reset();
    state.clear();
}

std::int32_t QuestLogic::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags))) return total;
    if (!addField(total, writeString8(stream, quest.name))) return total;
    if (!addField(total, stack.write(stream))) return total;
    addField(total, state.write(stream));
    return total;
}

std::int32_t QuestLogic::read(DataStream& stream) {
    clear();
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, flags))) return total;
    char name[256] = {};
    std::uint8_t length = 0;
    if (!addField(total, readU8(stream, length))) return total;
    if (length && !addField(total, readExact(stream, name, length))) return total;
    if (!addField(total, stack.read(stream))) return total;
    if (!addField(total, state.read(stream))) return total;
    // A game saved before any quest was selected has nothing to restore.
    if (!name[0]) return total;
    if (!selectQuest(name)) {
        engineLog().questError("Can't restore quest [%s]: NOT FOUND", name);
        return 1;
    }
    return total;
}
