// The quest writer: a readable text form of quests written as a compiled
// ".quest" file. The game has no writer of its own; tests, fuzz seeds and
// the demo make their quests with this one.
//
// Text form, one statement a line ("#" starts a comment line):
//   quest NAME                 a quest (at most 127 characters)
//   event NAME                 an event of the last quest
//   object NAME [NAME...]      an object of the last quest and the game
//                              objects that share it
//   action NAME                an action of the last object ("use" or
//                              "use=open" for the variant of mode "open")
//   case NAME                  a case of the last action
//   rule                       a new rule (an AND of conditions) of the last case
//   if NAME [ARG1 [ARG2 [ARG3]]]   a condition of the last rule
//   do NAME [ARG1 [ARG2 [ARG3]]]   a command of the last event or case,
//                              whichever came last
// Words are separated by blanks; a word in double quotes may hold blanks,
// \" and \\, and "" is an empty argument. Event, action, case and command
// names hold at most 63 characters.
//
// The compiled form keeps object names and actions sorted by byte order,
// which the game's look-ups need: the writer sorts them unless told not to.
#pragma once

#include <string>
#include <vector>

namespace quest_tools {

struct Command {
    std::string name, arg1, arg2, arg3;
};

struct Event {
    std::string name;
    std::vector<Command> commands;
};

struct Case {
    std::string name;
    std::vector<std::vector<Command>> rules;
    std::vector<Command> commands;
};

struct Action {
    std::string name;
    std::vector<Case> cases;
};

struct Object {
    std::vector<std::string> names;
    std::vector<Action> actions;
};

struct Quest {
    std::string name;
    std::vector<Event> events;
    std::vector<Object> objects;
};

// Parses the text form; false with a message naming the line on error.
bool parseQuestText(const std::string& text, std::vector<Quest>& quests, std::string& error);

// The compiled bytes of the quests. Names longer than the game's fields
// and arguments of 65,536 bytes or more are refused (false, error set).
// With sortNames false, object names and actions keep their given order.
bool writeQuestBytes(const std::vector<Quest>& quests, std::string& out, std::string& error, bool sortNames = true);

}  // namespace quest_tools
