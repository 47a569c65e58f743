// The configuration store: name-sorted sections of name-sorted variables,
// each a text value with optional comment lines, read from and written to
// INI files.
//
// "game.ini" and then "user.ini" are read with force, which marks every
// variable they set as fixed: the setters and a later non-forcing read
// ("setup.ini") leave such a variable alone, and writing kind 0 (the
// player's setup file) skips it. Components read their settings through
// typed getters that take a built-in default; a missing variable is
// created without a value and is not written until something sets it.
// Names compare byte by byte, case-sensitively. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Log.h"

class DataStream;

class IniVariable {
public:
    IniVariable(std::string_view name, bool fixed);

    const std::string& name() const { return name_; }
    // The value; empty means no value.
    const std::string& value() const { return value_; }
    // The ';' comment lines written above the variable, each ended by CR LF.
    const std::string& comment() const { return comment_; }
    bool fixed() const { return fixed_; }
    void setFixed(bool fixed) { fixed_ = fixed; }

    // out = the value, or the default when there is none. Always true.
    bool getString(std::string& out, const char* defaultValue) const;
    // out = the value read by parseFloat (-12345.0 for a text that is no
    // number), or the default. True when out changed.
    bool getFloat(float& out, float defaultValue) const;
    // out = whether the value is one of "yes", "true", "on", "enable", "use",
    // "ok" (any case), or the default. True when out changed.
    bool getBool(bool& out, bool defaultValue) const;
    // out = the index of the first name equal to the value (any case); the
    // default's name stands for a missing value. A value that matches no
    // name is logged and gives the default index; false then.
    bool getEnum(std::int32_t& out, const char* const* names, std::int32_t count,
                 std::int32_t defaultIndex) const;

    // The setters leave a fixed variable unchanged and return false for it.
    // A null or empty text removes the value.
    bool setString(const char* text);
    // "YES" or "NO".
    bool setBool(bool flag);
    bool setFormatted(const char* format, ...) ENGINE_PRINTF(2, 3);

    // Comments are formatted, then stored as ';' lines: CR removed, each LF
    // starting a new ';' line.
    void setComment(const char* format, ...) ENGINE_PRINTF(2, 3);
    void prependComment(const char* format, ...) ENGINE_PRINTF(2, 3);
    void appendComment(const char* format, ...) ENGINE_PRINTF(2, 3);
    // Stores comment lines as they are (the parser's form).
    void setCommentLines(std::string lines) { comment_ = std::move(lines); }

private:
    friend class IniFile;
    void assign(std::string_view text) { value_.assign(text); }

    bool fixed_ = false;
    std::string name_;
    std::string comment_;
    std::string value_;
};

class IniCategory {
public:
    explicit IniCategory(std::string_view name);

    const std::string& name() const { return name_; }
    const std::string& comment() const { return comment_; }
    void setComment(const char* format, ...) ENGINE_PRINTF(2, 3);
    void setCommentLines(std::string lines) { comment_ = std::move(lines); }

    // The variable of that name (cut to 127 characters, then without
    // trailing blanks, tabs and '=', as a file line would give it); created
    // at its sorted place, with no value and the given fixed flag, when
    // missing.
    IniVariable& getVariable(std::string_view name, bool fixed = false);
    // The variable, or null; nothing is created.
    IniVariable* findVariable(std::string_view name) const;
    const std::vector<std::unique_ptr<IniVariable>>& variables() const { return variables_; }

private:
    std::string name_;
    std::string comment_;
    std::vector<std::unique_ptr<IniVariable>> variables_;
};

class IniFile {
public:
    IniFile() = default;
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // The section of that name (cut to 127 characters); created at its
    // sorted place when missing.
    IniCategory& getCategory(std::string_view name);
    // The section, or null; nothing is created.
    IniCategory* findCategory(std::string_view name) const;
    const std::vector<std::unique_ptr<IniCategory>>& categories() const { return categories_; }
    void clear();

    // Reads "game.ini", then "user.ini" when it exists, both with force, from
    // the data folder. False when "game.ini" could not be read.
    bool readConfigFiles();
    // Writes the setup file when a save is pending, then reads it again when
    // a reload is pending; each flag is cleared first.
    void sync();

    bool savePending = true;
    bool reloadPending = false;

    // Called between writing an INI file's temporary copy and moving it into
    // place; when it returns false the write stops there, as if the process
    // had died at that point. For tests.
    static std::function<bool()> beforeReplaceForTesting;

private:
    std::vector<std::unique_ptr<IniCategory>> categories_;
};

// Applies the INI grammar to the text of a stream (from its position to its
// end); bad lines, a line with a NUL byte among them, are logged and
// skipped. A value in double quotes runs to the next double quote that is
// not doubled; a doubled one stands for one double quote. With force, every variable set ends fixed; without it, fixed
// variables keep their values. Returns 1.
std::int32_t parseIni(IniFile& store, DataStream& stream, bool force);
// Reads a file into the store: the parse result, or -1 (logged) when the
// file cannot be read.
std::int32_t readIniFile(IniFile& store, std::string_view path, bool force);
// The file text of every section with variables of the kind (0: not fixed,
// 1: fixed). Every variable written reads back as the same name and value: a
// value with a blank or tab, or that starts with a double quote, is written
// in double quotes with its own double quotes doubled; a variable whose name
// or value no line can carry (a line break, a NUL byte, a name that starts
// with a blank, ';' or '[' or holds '=') is logged and left out.
std::string formatIniText(const IniFile& store, std::int32_t kind);
// Writes the variables of the kind to a file: the text goes to a temporary
// file beside it, which then replaces the file, so the old file stays whole
// until the new one is complete. False (logged) on failure.
bool writeIniFile(const IniFile& store, std::int32_t kind, std::string_view path);
