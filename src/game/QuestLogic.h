// The quest engine: the selected quest, the stack of quest functions that
// the run step works through, and the quests' run-time state.
//
// Events and actions of the selected quest push the commands they run; a
// run step pops one function at a time from the top and calls the Lua
// function named after it. Only run() owes runs: each function that
// completes consumes one, a failed call costs none, and a function named
// "call" ends the step (the next frame goes on). Scripts save the top group
// of functions under a name (pop: down to and including the first entry of
// sequence 0, a group's bottom) and put it back (push), and name targets
// under which every function that runs is recorded.
//
// Built with the game core, empty. The frame step steps it once a frame as
// its last action; the save game writes it and reads it back, the check of
// a save reading into a scratch engine that touches nothing else.
#pragma once

#include <cstdint>
#include <vector>

#include "game/QuestData.h"

class DataStream;
class QuestDataManager;

// Bits of QuestLogic::flags.
constexpr std::uint32_t kQuestLogicDebug = 0x2;
constexpr std::uint32_t kQuestLogicDebugTraceRun = 0x4;
constexpr std::uint32_t kQuestLogicGlobal = 0x8;

// Bits of QuestLogicStack::flags.
constexpr std::uint32_t kQuestStackRunning = 0x4;
constexpr std::uint32_t kQuestStackPopping = 0x8;

// One entry of the quest-function stack.
struct QuestFunction {
    // 0: the bottom entry of a group; commands of an event or a case carry
    // their 1-based place in their list.
    std::int32_t sequence = 0;
    char name[64] = {};
    QuestText arg1, arg2, arg3;
    char object[128] = {};
    // The event or action whose commands pushed it.
    char context[128] = {};

    // Empties every field.
    void clear();
};

// A group of functions saved under a name, first recorded first.
struct QuestBackup {
    char name[128] = {};
    std::vector<QuestFunction> functions;
};

struct QuestLogicStack {
    std::int32_t pending = 0;
    std::uint32_t flags = 0;
    // The top is the last element.
    std::vector<QuestFunction> stack;
    // Sorted by name.
    std::vector<QuestBackup> backups;
    // Sorted, without duplicates; never saved.
    std::vector<QuestName> targets;
    // The function being run, or the condition being tested.
    QuestFunction current;

    // Moves the named backup back onto the stack, its first entry on top;
    // false (logged) when there is none.
    bool push(const char* name);
    // Saves the top group under a name, replacing an older backup of it.
    bool pop(const char* name);
    // Appends a copy of the function to the backup of every target.
    void recordToTargets(const QuestFunction& function);
    // Pushes one function of sequence 0 with the object and context of the
    // current function.
    void pushFunction(const char* name, const char* arg1, const char* arg2);
    // True when the name was newly inserted.
    bool addTarget(const char* name);
    void clearTargets() { targets.clear(); }
    // The backup of that name, or null.
    QuestBackup* findBackup(const char* name);

    // Empties the stack, the backups and the current function; pending and
    // the targets stay.
    void reset();
    // The save layout: pending, flags, the entries, the backups, then the
    // current function; the targets are not saved. Names longer than their
    // fields and counts the bytes left cannot hold are refused (logged).
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);
};

class QuestLogic {
public:
    QuestLogic() = default;
    QuestLogic(const QuestLogic&) = delete;
    QuestLogic& operator=(const QuestLogic&) = delete;

    // Owes one more run and steps unless a step is running (false then).
    bool run();
    // The run step: false when nothing was owed or a step is running.
    bool step(bool global);
    // The quest block of a save game: byte count or negative. Reading
    // selects the saved quest again into this engine only.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);
    // Empties the selected quest, the stack, the backups, the current
    // function's arguments and the run-time state (release and game over).
    void clear();

    // ---- The interpreter

    // Calls "quest_" + the function's name (or "quest_cmd" with it under
    // global); in test mode the function's boolean answer.
    bool callScript(const QuestFunction& function, bool test, bool global);
    // Selects the quest of that name from the game's quest data.
    bool selectQuest(const char* name);
    // Pushes the commands of an event, or of a case, last first.
    void pushEvent(const QuestEvent& event);
    void pushCase(const QuestCase& questCase, const char* object, const char* action);
    // True when one rule of the case holds; the current function is kept.
    bool testRules(const std::vector<std::vector<QuestCommand>>& rules, const char* object, const char* action,
                   const QuestCase& questCase, std::int32_t caseIndex);
    // Pushes the commands of the first case whose rules hold.
    bool runAction(const QuestAction& action, const char* object);
    // Runs an action on the names of one object record (all of them, or the
    // one of the filter); report lists unknown actions.
    bool doAction(const QuestObject& object, const char* actionName, const char* filter, bool report);
    // The action over the object records of the selected quest, last first
    // (filter: one object, whose first record ends the search).
    bool actionOnObjects(const char* actionName, const char* filter, bool report);
    // Pushes the commands of an event of the selected quest.
    bool fireEvent(const char* eventName);
    // Applies the action number of a state to the scene's models; only kind
    // 2 acts.
    static void applyObjectState(const ObjectState& state, std::int32_t kind);
    // True when "debug" and the game's quest_log bit are both on.
    bool tracing() const;

    std::uint32_t flags = 0;
    QuestRecord quest;
    // Above 0 while actions walk the selected quest's objects: a condition
    // that selected another quest then would free what is being walked.
    std::int32_t actionDepth = 0;
    QuestLogicStack stack;
    QuestData state;
};
