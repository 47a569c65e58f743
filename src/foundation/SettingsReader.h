// Typed reads of one settings key with its built-in default, the way every
// component's settings reader takes its values at start: a missing key is
// added to its section without a value, and a key without a value keeps the
// default.
#pragma once

#include <cstdint>
#include <string>

class IniCategory;

void readSetting(IniCategory& section, const char* key, float& value, float defaultValue);
void readSetting(IniCategory& section, const char* key, bool& value, bool defaultValue);
void readSetting(IniCategory& section, const char* key, std::string& value, const char* defaultValue);
// A whole number of at least minimum; text that is no whole number, or a
// number out of range, keeps the default too and is reported ("invalid
// value").
void readSetting(IniCategory& section, const char* key, std::int32_t& value, std::int32_t defaultValue,
                 std::int32_t minimum = INT32_MIN);
