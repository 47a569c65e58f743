// Settings of the save game (section "game") and the tools settings file
// that scripts read and write through "Game".
#include <cstdlib>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "platform/FileSystem.h"

namespace {

const std::string& valueOf(const IniCategory* section, const char* key) {
    static const std::string none;
    const IniVariable* variable = section ? section->findVariable(key) : nullptr;
    return variable ? variable->value() : none;
}

bool readText(const IniCategory* section, const char* key, std::string& value) {
    value = valueOf(section, key);
    return !value.empty();
}

// The leading decimal digits of a value; 0 when it starts with none.
std::int32_t readNumber(const IniCategory* section, const char* key, std::int32_t defaultValue) {
    const std::string& value = valueOf(section, key);
    if (value.empty()) return defaultValue;
    return static_cast<std::int32_t>(std::strtol(value.c_str(), nullptr, 10));
}

std::string toolsIniPath() { return gameCore.paths ? gameCore.paths->get(PathToolsIni) : std::string(); }

}  // namespace

void SaveGame::readSettings() {
    if (!gameCore.settings) return;
    const IniCategory* section = gameCore.settings->findCategory("game");
    hasStartQuest = readText(section, "start_quest", startQuest);
    hasPublisher = readText(section, "publisher", publisher);
    hasIntro = readText(section, "intro", intro);
    hasOutro = readText(section, "outro", outro);
    screenshotWidth = readNumber(section, "screenshot_width", 320);
    screenshotHeight = readNumber(section, "screenshot_height", 240);
}

std::string SaveGame::readToolsVar(const char* section, const char* key, const char* defaultValue) {
    const std::string fallback = defaultValue ? defaultValue : "";
    const std::string path = toolsIniPath();
    if (path.empty() || platform::pathKind(path) != platform::PathKind::File) {
        engineLog().error("Can't read tools variable: [tools.ini] NOT exist");
        return fallback;
    }
    IniFile store;
    if (readIniFile(store, path, false) < 0) {
        engineLog().error("Failed read INI data from [%s]", logPath(path).c_str());
        return fallback;
    }
    const IniCategory* category = store.findCategory(section ? section : "");
    const IniVariable* variable = category ? category->findVariable(key ? key : "") : nullptr;
    if (!variable || variable->value().empty()) return fallback;
    return variable->value();
}

bool SaveGame::writeToolsVar(const char* section, const char* key, const char* value) {
    const std::string path = toolsIniPath();
    if (path.empty()) return engineLog().error("Failed write INI data to [%s]", logPath(path).c_str());
    IniFile store;
    if (platform::pathKind(path) == platform::PathKind::File && readIniFile(store, path, false) < 0)
        return engineLog().error("Failed read INI data from [%s]", logPath(path).c_str());
    store.getCategory(section ? section : "").getVariable(key ? key : "").setString(value);
    if (!writeIniFile(store, 0, path)) return engineLog().error("Failed write INI data to [%s]", logPath(path).c_str());
    return true;
}
