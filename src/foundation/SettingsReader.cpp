#include "foundation/SettingsReader.h"

#include <cerrno>
#include <cstdlib>

#include "foundation/IniFile.h"
#include "foundation/Log.h"

void readSetting(IniCategory& section, const char* key, float& value, float defaultValue) {
    section.getVariable(key).getFloat(value, defaultValue);
}

void readSetting(IniCategory& section, const char* key, bool& value, bool defaultValue) {
    section.getVariable(key).getBool(value, defaultValue);
}

void readSetting(IniCategory& section, const char* key, std::string& value, const char* defaultValue) {
    section.getVariable(key).getString(value, defaultValue);
}

void readSetting(IniCategory& section, const char* key, std::int32_t& value, std::int32_t defaultValue,
                 std::int32_t minimum) {
    value = defaultValue;
    const std::string& text = section.getVariable(key).value();
    if (text.empty()) return;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno == 0 && end != text.c_str() && *end == 0 && parsed >= minimum && parsed <= INT32_MAX) {
        value = static_cast<std::int32_t>(parsed);
        return;
    }
    engineLog().error("Setting [%s] %s: invalid value [%s], %i is used", section.name().c_str(), key, text.c_str(),
                      defaultValue);
}
