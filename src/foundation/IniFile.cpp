#include "foundation/IniFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/StringHelper.h"
#include "foundation/TextFile.h"
#include "platform/FileSystem.h"

std::function<bool()> IniFile::beforeReplaceForTesting;

namespace {

constexpr std::size_t kNameLength = 127;
constexpr std::size_t kLineLength = 1023;

std::string_view cutName(std::string_view name) { return name.substr(0, std::min(name.size(), kNameLength)); }

// A variable's stored name: cut to 127 characters, then without the blanks,
// tabs and '=' that the parser drops from the end of a name, so that every
// stored name reads back as itself.
std::string_view variableName(std::string_view name) {
    name = cutName(name);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '=')) name.remove_suffix(1);
    return name;
}

// Formats into a string measured first, so no argument can overrun it.
std::string formatText(const char* format, va_list args) {
    if (!format) return {};
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void appendFormatted(std::string& out, const char* format, ...) ENGINE_PRINTF(2, 3);
void appendFormatted(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    out += formatText(format, args);
    va_end(args);
}

// The stored form of a comment: CR removed, each line behind a ';' and ended
// by CR LF.
std::string commentLines(const std::string& text) {
    std::string out = ";";
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n')
            out += "\r\n;";
        else
            out += c;
    }
    out += "\r\n";
    return out;
}

std::string lowerCopy(std::string_view text) {
    std::string out(text.substr(0, std::min(text.size(), kNameLength)));
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

template <typename T>
auto findSorted(const std::vector<std::unique_ptr<T>>& items, std::string_view name) {
    return std::lower_bound(items.begin(), items.end(), name,
                            [](const std::unique_ptr<T>& item, std::string_view key) { return item->name() < key; });
}

}  // namespace

// ---- IniVariable

IniVariable::IniVariable(std::string_view name, bool fixed) : fixed_(fixed), name_(variableName(name)) {}

bool IniVariable::getString(std::string& out, const char* defaultValue) const {
    out = value_.empty() ? std::string(defaultValue ? defaultValue : "") : value_;
    return true;
}

bool IniVariable::getFloat(float& out, float defaultValue) const {
    const float old = out;
    out = value_.empty() ? defaultValue : parseFloat(value_.c_str());
    return std::memcmp(&old, &out, sizeof(float)) != 0;
}

bool IniVariable::getBool(bool& out, bool defaultValue) const {
    const bool old = out;
    if (value_.empty()) {
        out = defaultValue;
    } else {
        static const char* const kTrueWords[] = {"yes", "true", "on", "enable", "use", "ok"};
        const std::string word = lowerCopy(value_);
        out = std::any_of(std::begin(kTrueWords), std::end(kTrueWords), [&](const char* w) { return word == w; });
    }
    return out != old;
}

bool IniVariable::getEnum(std::int32_t& out, const char* const* names, std::int32_t count,
                          std::int32_t defaultIndex) const {
    const bool defaultValid = names && defaultIndex >= 0 && defaultIndex < count;
    const std::string word =
        lowerCopy(value_.empty() ? std::string(defaultValid ? names[defaultIndex] : "") : value_);
    for (std::int32_t i = 0; names && i < count; ++i) {
        if (names[i] && lowerCopy(names[i]) == word) {
            out = i;
            return true;
        }
    }
    engineLog().error("Invalid enum value in INI variable [%s]: %s", name_.c_str(),
                      value_.empty() ? (defaultValid ? names[defaultIndex] : "") : value_.c_str());
    out = defaultIndex;
    return false;
}

bool IniVariable::setString(const char* text) {
    if (fixed_) return false;
    if (!text || !*text)
        value_.clear();
    else
        value_.assign(text);
    return true;
}

bool IniVariable::setBool(bool flag) { return setString(flag ? "YES" : "NO"); }

bool IniVariable::setFormatted(const char* format, ...) {
    if (fixed_) return false;
    va_list args;
    va_start(args, format);
    value_ = formatText(format, args);
    va_end(args);
    return true;
}

void IniVariable::setComment(const char* format, ...) {
    va_list args;
    va_start(args, format);
    comment_ = commentLines(formatText(format, args));
    va_end(args);
}

void IniVariable::prependComment(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string lines = commentLines(formatText(format, args));
    va_end(args);
    const std::size_t start = std::min(comment_.find_first_not_of("\r\n"), comment_.size());
    comment_ = lines + comment_.substr(start);
}

void IniVariable::appendComment(const char* format, ...) {
    va_list args;
    va_start(args, format);
    comment_ += commentLines(formatText(format, args));
    va_end(args);
}

// ---- IniCategory

IniCategory::IniCategory(std::string_view name) : name_(cutName(name)) {}

void IniCategory::setComment(const char* format, ...) {
    va_list args;
    va_start(args, format);
    comment_ = commentLines(formatText(format, args));
    va_end(args);
}

IniVariable& IniCategory::getVariable(std::string_view name, bool fixed) {
    name = variableName(name);
    auto it = findSorted(variables_, name);
    if (it != variables_.end() && (*it)->name() == name) return **it;
    return **variables_.insert(it, std::make_unique<IniVariable>(name, fixed));
}

IniVariable* IniCategory::findVariable(std::string_view name) const {
    name = variableName(name);
    auto it = findSorted(variables_, name);
    return it != variables_.end() && (*it)->name() == name ? it->get() : nullptr;
}

// ---- IniFile

IniCategory& IniFile::getCategory(std::string_view name) {
    name = cutName(name);
    auto it = findSorted(categories_, name);
    if (it != categories_.end() && (*it)->name() == name) return **it;
    return **categories_.insert(it, std::make_unique<IniCategory>(name));
}

IniCategory* IniFile::findCategory(std::string_view name) const {
    name = cutName(name);
    auto it = findSorted(categories_, name);
    return it != categories_.end() && (*it)->name() == name ? it->get() : nullptr;
}

void IniFile::clear() { categories_.clear(); }

bool IniFile::readConfigFiles() {
    if (!gameCore.paths) {
        engineLog().error("Can't read configuration files: no application paths");
        return false;
    }
    const bool gameRead = readIniFile(*this, gameCore.paths->get(PathGameIni), true) >= 0;
    const std::string& user = gameCore.paths->get(PathUserIni);
    if (platform::pathKind(user) == platform::PathKind::File) readIniFile(*this, user, true);
    return gameRead;
}

void IniFile::sync() {
    if (!gameCore.paths) return;
    if (savePending) {
        savePending = false;
        writeIniFile(*this, 0, gameCore.paths->get(PathSetupIni));
    }
    if (reloadPending) {
        reloadPending = false;
        readIniFile(*this, gameCore.paths->get(PathSetupIni), false);
    }
}

// ---- Files

namespace {

// The value of a quoted text that starts at text[0]: it runs to the next
// double quote that is not doubled, and each doubled one stands for one
// double quote. False when no double quote ends it.
bool readQuoted(std::string_view text, std::string& value) {
    value.clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '"') {
            value += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
            value += '"';
            ++i;
        } else {
            return true;
        }
    }
    return false;
}

}  // namespace

std::int32_t parseIni(IniFile& store, DataStream& stream, bool force) {
    // The whole stream: a NUL byte spoils only its own line.
    std::string bytes;
    readStreamToString(bytes, stream);
    TextFile text;
    splitLines(text, std::move(bytes), false);
    IniCategory* current = nullptr;
    std::string comment;
    std::int32_t lineNumber = -1;
    for (const std::string& whole : text.lines) {
        ++lineNumber;
        const std::size_t start = whole.find_first_not_of(" \t\r\n");
        if (start == std::string::npos) continue;
        const std::string_view line = std::string_view(whole).substr(start);
        if (line.find('\0') != std::string_view::npos) {
            engineLog().warning("INI file error: NUL byte in line %i, the line is skipped", lineNumber);
            continue;
        }
        const std::string shown(line);
        if (line[0] == ';') {
            comment.append(line);
            comment += "\r\n";
            continue;
        }
        if (line[0] == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos) {
                engineLog().error("INI file error: invalid category line %i:\"%s\"", lineNumber, shown.c_str());
                continue;
            }
            current = &store.getCategory(line.substr(1, std::min(close - 1, kLineLength)));
            current->setCommentLines(std::move(comment));
            comment.clear();
            continue;
        }
        if (!current) {
            engineLog().error("INI file error: expected category before line %i:\"%s\"", lineNumber, shown.c_str());
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            engineLog().error("INI file error: expected variable value operator '='  at line %i:\"%s\"", lineNumber,
                              shown.c_str());
            continue;
        }
        // The variable's name loses its trailing blanks, tabs and '=' there.
        const std::string_view name = line.substr(0, equals);
        std::string_view rest = line.substr(equals + 1);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
        std::string value;
        if (!rest.empty() && rest.front() == '"') {
            if (!readQuoted(rest, value)) {
                engineLog().error("INI file error: expected variable value end braced [\"] at line %i:\"%s\"",
                                  lineNumber, shown.c_str());
                continue;
            }
        } else {
            value = rest.substr(0, rest.find_first_of(" \t", 1));
        }

        IniVariable& variable = current->getVariable(name, false);
        const bool wasFixed = variable.fixed();
        std::string lines = std::move(comment);
        comment.clear();
        if (wasFixed && !force) continue;
        variable.setFixed(false);
        variable.setString(value.c_str());
        if (force) variable.setFixed(true);
        if (!wasFixed && !lines.empty()) variable.setCommentLines(std::move(lines));
    }
    return 1;
}

std::int32_t readIniFile(IniFile& store, std::string_view path, bool force) {
    const std::string text(path);
    engineLog().message("Read INI file from [%s]", logPath(text).c_str());
    std::unique_ptr<WinFileStream> stream(
        WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    if (!stream) {
        engineLog().error("Can't read configuration file from  [%s]", logPath(text).c_str());
        return -1;
    }
    return parseIni(store, *stream, force);
}

namespace {

bool written(const IniVariable& v, bool fixedKind) {
    return v.fixed() == fixedKind && (fixedKind || !v.value().empty());
}

// Whether the parser reads the line written for the variable back as the same
// name and value: a line break or NUL byte would cut the line; a name that
// starts like a comment, a section or with blanks, or that holds '=', would
// read back as another line or another name.
bool readsBack(const IniVariable& v) {
    const std::string& name = v.name();
    if (name.find_first_of("=\r\n", 0) != std::string::npos || name.find('\0') != std::string::npos) return false;
    if (!name.empty() && std::strchr(" \t;[", name.front())) return false;
    return v.value().find_first_of("\r\n") == std::string::npos && v.value().find('\0') == std::string::npos;
}

bool readsBack(const IniCategory& category) {
    const std::string& name = category.name();
    return name.find_first_of("]\r\n") == std::string::npos && name.find('\0') == std::string::npos;
}

// The value as written: as it stands, or in double quotes (each double quote
// inside doubled) when a blank or tab would end it or it starts with a double
// quote.
// A value with a blank or a tab, or one that starts with a quote, is written
// quoted, with each quote inside doubled, so that it reads back unchanged.
bool valueNeedsQuotes(const std::string& value) {
    return value.find_first_of(" \t") != std::string::npos || value.front() == '"';
}

std::string doubledQuotes(const std::string& value) {
    std::string out;
    for (char c : value) {
        out += c;
        if (c == '"') out += '"';
    }
    return out;
}

}  // namespace

std::string formatIniText(const IniFile& store, std::int32_t kind) {
    const bool fixedKind = kind != 0;
    std::string out;
    std::vector<const IniVariable*> chosen;
    for (const auto& category : store.categories()) {
        chosen.clear();
        for (const auto& v : category->variables()) {
            if (!written(*v, fixedKind)) continue;
            if (readsBack(*category) && readsBack(*v))
                chosen.push_back(v.get());
            else
                engineLog().error("Can't write INI variable [%s] of section [%s]: its name or value would read back changed",
                                  v->name().c_str(), category->name().c_str());
        }
        if (chosen.empty()) continue;
        if (!category->comment().empty()) out += "\r\n" + category->comment();
        out += "[" + category->name() + "]\r\n";
        std::size_t width = 0;
        // Names pad to the longest name with a value, so that what reads
        // back writes the same again.
        for (const auto& v : category->variables())
            if (!v->value().empty()) width = std::max(width, v->name().size());
        for (const IniVariable* v : chosen) {
            if (!v->comment().empty()) out += "\r\n" + v->comment();
            if (v->value().empty()) continue;
            const std::string pad(width - v->name().size(), ' ');
            if (valueNeedsQuotes(v->value()))
                appendFormatted(out, "%s%s = \"%s\"\r\n", v->name().c_str(), pad.c_str(),
                                doubledQuotes(v->value()).c_str());
            else
                appendFormatted(out, "%s%s = %s\r\n", v->name().c_str(), pad.c_str(), v->value().c_str());
        }
        out += "\r\n";
    }
    return out;
}

bool writeIniFile(const IniFile& store, std::int32_t kind, std::string_view path) {
    const std::string target(path);
    engineLog().message("Write INI file to [%s]", logPath(target).c_str());
    const std::string temporary = target + ".tmp";
    const std::string text = formatIniText(store, kind);
    // A folder that cannot be made shows in the failed open below.
    ensurePathFolders(target);
    bool ok = true;
    {
        std::unique_ptr<WinFileStream> stream(
            WinFileStream::open(temporary, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
        ok = stream && stream->write(text.data(), static_cast<std::int32_t>(text.size())) ==
                           static_cast<std::int32_t>(text.size());
    }
    if (ok && IniFile::beforeReplaceForTesting && !IniFile::beforeReplaceForTesting()) return false;
    if (ok) ok = platform::renameFile(temporary, target);
    if (!ok) {
        platform::deleteFile(temporary);
        engineLog().error("Can't write configuration file to [%s]", logPath(target).c_str());
    }
    return ok;
}
