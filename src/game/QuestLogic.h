// The quest engine's run-time state: its flags, the stack of quest
// functions that the run step works through, and the quest state.
//
// Built with the game core, empty: no runs owed, no functions, no backups.
// Until quests are built in, the run step has nothing to do and the quest
// block of a save game is empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DataStream;

// Bits of QuestLogic::flags.
constexpr std::uint32_t kQuestLogicDebug = 0x2;
constexpr std::uint32_t kQuestLogicDebugTraceRun = 0x4;
constexpr std::uint32_t kQuestLogicGlobal = 0x8;

// One entry of the quest-function stack.
struct QuestFunction {
    std::int32_t sequence = 0;
    char name[64] = {};
    std::string arg1, arg2, arg3;
    char object[128] = {};
    char context[128] = {};
};

// A group of functions saved under a name.
struct QuestBackup {
    char name[128] = {};
    std::vector<QuestFunction> functions;
};

struct QuestLogicStack {
    std::int32_t pending = 0;
    std::uint32_t flags = 0;
    std::vector<QuestFunction> stack;
    std::vector<QuestBackup> backups;
    std::vector<std::string> targets;
    QuestFunction current;

    // Empties the stack, the backups and the targets; nothing is owed.
    void clear();
};

class QuestLogic {
public:
    QuestLogic() = default;
    QuestLogic(const QuestLogic&) = delete;
    QuestLogic& operator=(const QuestLogic&) = delete;

    // The run step, once a frame with the "global" flag: false when nothing
    // was owed or a step is already running.
    bool step(QuestLogicStack& stack, bool global);
    // The quest block of a save game: byte count or negative.
    std::int32_t write(DataStream& stream);
    std::int32_t read(DataStream& stream);
    // Empties the stack and the quest state (release and game over).
    void clear();

    std::uint32_t flags = 0;
    QuestLogicStack stack;
};
