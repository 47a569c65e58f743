#include "dialog/DialogWriter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "foundation/DataStream.h"
#include "game/Y3DialogData.h"

namespace dlgwrite {

namespace {

bool fail(std::string& error, int line, const std::string& message) {
    error = "line " + std::to_string(line) + ": " + message;
    return false;
}

bool toFloat(const std::string& text, float& value) {
    char* end = nullptr;
    value = std::strtof(text.c_str(), &end);
    return !text.empty() && end && *end == 0;
}

bool setName(char* field, const std::string& text) {
    if (text.empty() || text.size() > 127) return false;
    std::memset(field, 0, 128);
    std::memcpy(field, text.data(), text.size());
    return true;
}

}  // namespace

bool parse(const std::string& text, Y3DialogData& dialog, std::string& name, std::string& error) {
    dialog.labels.clear();
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool inSkip = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string first;
        // Blank lines and comments ("#" first; "#end" is a phrase name, not
        // a first word).
        if (!(words >> first) || first[0] == '#') continue;
        if (first == "dialog") {
            if (!(words >> name)) return fail(error, number, "dialog needs a name");
        } else if (first == "label") {
            std::string labelName;
            if (!(words >> labelName)) return fail(error, number, "label needs a name");
            DialogLabel& label = dialog.labels.emplace_back();
            if (!setName(label.name, labelName)) return fail(error, number, "label name too long");
            inSkip = false;
        } else if (first == "phrase") {
            std::string phraseName;
            std::string delay;
            if (dialog.labels.empty()) return fail(error, number, "phrase outside a label");
            if (!(words >> phraseName >> delay)) return fail(error, number, "phrase needs a name and a delay");
            DialogPhrase& phrase = dialog.labels.back().phrases.emplace_back();
            if (!setName(phrase.name, phraseName)) return fail(error, number, "phrase name too long");
            if (!toFloat(delay, phrase.delay)) return fail(error, number, "bad phrase delay");
            inSkip = false;
        } else if (first == "skip") {
            if (dialog.labels.empty() || dialog.labels.back().phrases.empty())
                return fail(error, number, "skip outside a phrase");
            inSkip = true;
        } else {
            DialogCommand command;
            if (!toFloat(first, command.delay)) return fail(error, number, "unknown statement " + first);
            if (dialog.labels.empty() || dialog.labels.back().phrases.empty())
                return fail(error, number, "command outside a phrase");
            std::string kind;
            std::string object;
            if (!(words >> kind >> object)) return fail(error, number, "command needs a kind and an object");
            command.kind = dialogCommandKind(kind.c_str());
            if (command.kind == 0) {
                char* end = nullptr;
                const unsigned long code = std::strtoul(kind.c_str(), &end, 10);
                if (!end || *end || code == 0) return fail(error, number, "unknown command kind " + kind);
                command.kind = static_cast<std::uint32_t>(code);
            }
            if (object != "-" && !setName(command.object, object))
                return fail(error, number, "object name too long");
            std::string argument;
            std::getline(words, argument);
            const std::size_t start = argument.find_first_not_of(" \t");
            command.argument = start == std::string::npos ? "" : argument.substr(start);
            DialogPhrase& phrase = dialog.labels.back().phrases.back();
            (inSkip ? phrase.skip : phrase.commands).push_back(std::move(command));
        }
    }
    std::stable_sort(dialog.labels.begin(), dialog.labels.end(),
                     [](const DialogLabel& a, const DialogLabel& b) { return std::strcmp(a.name, b.name) < 0; });
    return true;
}

std::string write(const std::string& text, std::string& error) {
    Y3DialogData dialog("dlgwrite");
    std::string name;
    if (!parse(text, dialog, name, error)) return {};
    MemoryStream stream;
    if (dialog.write(stream) < 0) {
        error = "the dialog cannot be written";
        return {};
    }
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

}  // namespace dlgwrite
