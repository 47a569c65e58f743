#include "quest/QuestWriter.h"

#include <algorithm>
#include <cstdint>
#include <sstream>

namespace quest_tools {

namespace {

// Splits a line into words; quoted words keep their blanks.
bool splitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
    words.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size()) {
                    word += line[i++];
                    continue;
                }
                word += c;
            }
            if (!closed) return error = "unclosed quote", false;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
        }
        words.push_back(word);
    }
    return true;
}

bool commandOf(const std::vector<std::string>& words, Command& out, std::string& error) {
    if (words.size() < 2 || words.size() > 5) return error = "a command takes a name and up to three arguments", false;
    out = Command{words[1], words.size() > 2 ? words[2] : "", words.size() > 3 ? words[3] : "",
                  words.size() > 4 ? words[4] : ""};
    return true;
}

void put32(std::string& out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

class Writer {
public:
    Writer(std::string& out, std::string& error) : out_(out), error_(error) {}

    bool name(const std::string& text, std::size_t limit, const char* what) {
        if (text.size() > limit) return fail(std::string(what) + " [" + text + "] is longer than " + std::to_string(limit));
        out_ += static_cast<char>(text.size());
        out_ += text;
        return true;
    }
    bool argument(const std::string& text) {
        if (text.size() > 0xFFFF) return fail("an argument is longer than 65535 bytes");
        out_ += static_cast<char>(text.size() & 0xFF);
        out_ += static_cast<char>(text.size() >> 8);
        out_ += text;
        return true;
    }
    bool command(const Command& c) {
        return name(c.name, 63, "command") && argument(c.arg1) && argument(c.arg2) && argument(c.arg3);
    }
    bool commands(const std::vector<Command>& list) {
        put32(out_, static_cast<std::int32_t>(list.size()));
        for (const Command& c : list)
            if (!command(c)) return false;
        return true;
    }
    bool object(const Object& o, bool sortNames) {
        std::vector<std::string> names = o.names;
        std::vector<const Action*> actions;
        for (const Action& a : o.actions) actions.push_back(&a);
        if (sortNames) {
            std::sort(names.begin(), names.end());
            std::stable_sort(actions.begin(), actions.end(),
                             [](const Action* a, const Action* b) { return a->name < b->name; });
        }
        put32(out_, static_cast<std::int32_t>(names.size()));
        for (const std::string& n : names) {
            if (n.size() > 127) return fail("object name [" + n + "] is longer than 127");
            std::string field(128, '\0');
            field.replace(0, n.size(), n);
            out_ += field;
        }
        put32(out_, static_cast<std::int32_t>(actions.size()));
        for (const Action* a : actions) {
            if (!name(a->name, 63, "action")) return false;
            put32(out_, static_cast<std::int32_t>(a->cases.size()));
            for (const Case& c : a->cases) {
                if (!name(c.name, 63, "case")) return false;
                put32(out_, static_cast<std::int32_t>(c.rules.size()));
                for (const auto& rule : c.rules)
                    if (!commands(rule)) return false;
                if (!commands(c.commands)) return false;
            }
        }
        return true;
    }

private:
    bool fail(const std::string& message) {
        error_ = message;
        return false;
    }
    std::string& out_;
    std::string& error_;
};

}  // namespace

bool parseQuestText(const std::string& text, std::vector<Quest>& quests, std::string& error) {
    quests.clear();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    // Where "do" goes: the last event or the last case.
    std::vector<Command>* commands = nullptr;
    auto fail = [&](const std::string& message) {
        error = "line " + std::to_string(number) + ": " + message;
        return false;
    };
    std::vector<std::string> words;
    while (std::getline(lines, line)) {
        ++number;
        std::string problem;
        if (!splitWords(line, words, problem)) return fail(problem);
        if (words.empty() || words[0][0] == '#') continue;
        const std::string& word = words[0];
        Quest* quest = quests.empty() ? nullptr : &quests.back();
        Object* object = quest && !quest->objects.empty() ? &quest->objects.back() : nullptr;
        Action* action = object && !object->actions.empty() ? &object->actions.back() : nullptr;
        Case* current = action && !action->cases.empty() ? &action->cases.back() : nullptr;
        if (word == "quest") {
            if (words.size() != 2) return fail("quest takes one name");
            quests.push_back(Quest{words[1], {}, {}});
            commands = nullptr;
        } else if (word == "event") {
            if (!quest || words.size() != 2) return fail("event takes one name, inside a quest");
            quest->events.push_back(Event{words[1], {}});
            commands = &quest->events.back().commands;
        } else if (word == "object") {
            if (!quest || words.size() < 2) return fail("object takes names, inside a quest");
            quest->objects.push_back(Object{{words.begin() + 1, words.end()}, {}});
            commands = nullptr;
        } else if (word == "action") {
            if (!object || words.size() != 2) return fail("action takes one name, inside an object");
            object->actions.push_back(Action{words[1], {}});
            commands = nullptr;
        } else if (word == "case") {
            if (!action || words.size() != 2) return fail("case takes one name, inside an action");
            action->cases.push_back(Case{words[1], {}, {}});
            commands = &action->cases.back().commands;
        } else if (word == "rule") {
            if (!current || words.size() != 1) return fail("rule takes nothing, inside a case");
            current->rules.emplace_back();
        } else if (word == "if") {
            if (!current || current->rules.empty()) return fail("if belongs to a rule");
            Command c;
            if (!commandOf(words, c, problem)) return fail(problem);
            current->rules.back().push_back(c);
        } else if (word == "do") {
            if (!commands) return fail("do belongs to an event or a case");
            Command c;
            if (!commandOf(words, c, problem)) return fail(problem);
            commands->push_back(c);
        } else {
            return fail("unknown statement [" + word + "]");
        }
    }
    return true;
}

bool writeQuestBytes(const std::vector<Quest>& quests, std::string& out, std::string& error, bool sortNames) {
    out.clear();
    Writer w(out, error);
    put32(out, static_cast<std::int32_t>(quests.size()));
    for (const Quest& q : quests) {
        if (!w.name(q.name, 127, "quest")) return false;
        put32(out, static_cast<std::int32_t>(q.events.size()));
        for (const Event& e : q.events)
            if (!w.name(e.name, 63, "event") || !w.commands(e.commands)) return false;
        put32(out, static_cast<std::int32_t>(q.objects.size()));
        for (const Object& o : q.objects)
            if (!w.object(o, sortNames)) return false;
    }
    return true;
}

}  // namespace quest_tools
