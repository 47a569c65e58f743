#include "game/QuestLogic.h"

void QuestLogicStack::clear() {
    pending = 0;
    flags = 0;
    stack.clear();
    backups.clear();
    targets.clear();
    current = QuestFunction{};
}

bool QuestLogic::step(QuestLogicStack& runStack, bool) {
    // Quests are not built in yet: no function ever gets on the stack, so a
    // run owed has nothing to call.
    if (runStack.pending <= 0 || (runStack.flags & 0x4) != 0) return false;
    runStack.pending = 0;
    return true;
}

std::int32_t QuestLogic::write(DataStream&) { return 0; }

std::int32_t QuestLogic::read(DataStream&) { return 0; }

void QuestLogic::clear() { stack.clear(); }
