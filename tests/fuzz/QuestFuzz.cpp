// Fuzz target of the quest data: the input read as a compiled quest list
// and, separately, as the quest block of a save game.
#include <cstring>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "game/QuestData.h"
#include "game/QuestDataManager.h"
#include "game/QuestLogic.h"
#include "quest/QuestWriter.h"

namespace fuzzing {

namespace {

bool textHolds(const QuestText& text) {
    // An argument may hold NUL bytes: its buffer is at least its text.
    return text.ownsBuffer() ? text.capacity() >= text.length() + 1 : text.capacity() == 0;
}

bool commandHolds(const QuestCommand& c) {
    return std::strlen(c.name) <= kQuestShortName && textHolds(c.arg1) && textHolds(c.arg2) && textHolds(c.arg3);
}

bool commandsHold(const std::vector<QuestCommand>& list) {
    for (const QuestCommand& c : list)
        if (!commandHolds(c)) return false;
    return true;
}

// Every name within its field, every argument owning exactly its text.
bool listHolds(const std::vector<QuestRecord>& quests) {
    for (const QuestRecord& q : quests) {
        if (std::strlen(q.name) > kQuestLongName) return false;
        for (const QuestEvent& e : q.events)
            if (std::strlen(e.name) > kQuestShortName || !commandsHold(e.commands)) return false;
        for (const QuestObject& o : q.objects) {
            for (const QuestName& n : o.names)
                if (std::strlen(n.text) > kQuestLongName) return false;
            for (const QuestAction& a : o.actions) {
                if (std::strlen(a.name) > kQuestShortName) return false;
                for (const QuestCase& c : a.cases) {
                    if (std::strlen(c.name) > kQuestShortName || !commandsHold(c.commands)) return false;
                    for (const auto& rule : c.rules)
                        if (!commandsHold(rule)) return false;
                }
            }
        }
    }
    return true;
}

std::string blockOf(const QuestLogic& logic) {
    MemoryStream stream;
    logic.write(stream);
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

}  // namespace

// A quest list that is accepted is no longer than the input and keeps its
// names and arguments within their fields. A quest block that is accepted
// comes back the same when written and read again, with no step or pop
// left marked as running; the saved quest is looked for in no quest data.
int fuzzQuest(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    MemoryStream list(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    std::vector<QuestRecord> quests;
    const std::int32_t read = readQuestList(list, quests, "fuzz");
    if (read >= 0) {
        fuzzCheck(read <= static_cast<std::int32_t>(size) && read == list.tell(),
                  "quest: the list's size is not the bytes read");
        fuzzCheck(listHolds(quests), "quest: an accepted list holds a field out of bounds");
    } else {
        fuzzCheck(quests.empty(), "quest: a refused list kept records");
    }

    QuestDataManager* savedData = gameCore.questData;
    gameCore.questData = nullptr;
    MemoryStream block(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    QuestLogic logic;
    if (logic.read(block) >= 0) {
        fuzzCheck((logic.stack.flags & (kQuestStackRunning | kQuestStackPopping)) == 0,
                  "quest: a loaded stack is marked as running");
        const std::string first = blockOf(logic);
        MemoryStream again(const_cast<char*>(first.data()), static_cast<std::int32_t>(first.size()));
        QuestLogic reread;
        fuzzCheck(reread.read(again) >= 0, "quest: a written block is refused");
        fuzzCheck(blockOf(reread) == first, "quest: a written block does not come back the same");
    }
    gameCore.questData = savedData;
    forgetLog();
    return 0;
}

void seedQuest(std::vector<std::string>& out) {
    const char* text =
        "quest harbour\nevent start\ndo say hello \"\" x\ndo wait\n"
        "object door gate\naction use\ncase c\nrule\nif has_key\nrule\ndo open a b c\naction use=open\n"
        "quest empty\n";
    std::vector<quest_tools::Quest> quests;
    std::string error;
    std::string bytes;
    if (quest_tools::parseQuestText(text, quests, error) && quest_tools::writeQuestBytes(quests, bytes, error))
        out.push_back(bytes);
    // A saved quest block: a selected quest, entries of an event, a saved
    // group, a current function and object states.
    QuestLogic logic;
    std::strcpy(logic.quest.name, "harbour");
    logic.flags = kQuestLogicGlobal;
    QuestEvent event;
    std::strcpy(event.name, "start");
    event.commands.resize(2);
    std::strcpy(event.commands[0].name, "say");
    event.commands[0].arg1.assign("hello");
    std::strcpy(event.commands[1].name, "wait");
    logic.pushEvent(event);
    logic.stack.pushFunction("later", "1", "");
    logic.stack.pop("g");
    logic.pushEvent(event);
    logic.stack.pending = 2;
    std::strcpy(logic.stack.current.name, "run");
    logic.state.getObject("harbour", "door")->action = 2;
    std::strcpy(logic.state.getObject("harbour", "door:handle")->mode, "open");
    out.push_back(blockOf(logic));
}

}  // namespace fuzzing
