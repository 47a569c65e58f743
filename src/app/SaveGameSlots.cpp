// The save slots: the list of save files found in the user's and the data
// folder's save folders (footers only), the getters the load screen asks by
// index, the thumbnails and the deletion of a slot.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "app/SaveGameLocal.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "platform/FileSystem.h"
#include "platform/FileTime.h"
#include "platform/TextCodec.h"
#include "platform/Time.h"
#include "render/TextureLink.h"
#include "script/ScriptEngine.h"
#include "script/ScriptVariable.h"

namespace {

constexpr const char* kDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
// File times count 100 ns steps from 1601-01-01; the host counts seconds
// from 1970-01-01.
constexpr std::uint64_t kFileTimeStepsPerSecond = 10000000ull;
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600ll;
constexpr std::int32_t kThumbnailSlots = 4;

void logScriptPosition() {
    if (gameCore.script) gameCore.script->logCallPosition();
}

std::u16string widen(const char* text) {
    std::u16string wide;
    platform::narrowToWide(text, 0, wide);
    return wide;
}

bool hasJpgExtension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".jpg";
}

// Oldest first, then by name in byte order.
bool slotBefore(const SaveSlot& a, const SaveSlot& b) {
    const auto timeA = static_cast<std::int64_t>(a.fileTime);
    const auto timeB = static_cast<std::int64_t>(b.fileTime);
    if (timeA != timeB) return timeA < timeB;
    return a.name < b.name;
}

}  // namespace

bool formatSaveSlotTime(std::uint64_t fileTime, std::u16string& date, std::u16string& time) {
    if (fileTime > static_cast<std::uint64_t>(INT64_MAX))
        return engineLog().error("Can't convert file time to system time");
    const std::int64_t seconds = static_cast<std::int64_t>(fileTime / kFileTimeStepsPerSecond) - kFileTimeEpochSeconds;
    const platform::LocalTime local = platform::localTimeOf(seconds);
    if (local.month < 1 || local.month > 12 || local.dayOfWeek > 6)
        return engineLog().error("Can't convert file time to system time");
    char text[128];
    std::snprintf(text, sizeof(text), "%s %u %s %04u", kDayNames[local.dayOfWeek], local.day,
                  kMonthNames[local.month - 1], local.year);
    date = widen(text);
    std::snprintf(text, sizeof(text), "%02u:%02u", local.hour, local.minute);
    time = widen(text);
    return true;
}

void SaveSlot::setFileTime(std::uint64_t value) {
    fileTime = value;
    formatSaveSlotTime(value, date, time);
}

// ---- the list -------------------------------------------------------------

bool SaveGame::buildSlotList() {
    engineLog().scriptInfo("\n\n\n>\n>\n>\n>>>>>>>>>>>>>>>>>>>>>>>> Find save files ...");
    slots.clear();
    if (!gameCore.paths) return true;
    scanSaveSlots(slots, gameCore.paths->get(PathUserSaveFolder));
    scanSaveSlots(slots, gameCore.paths->get(PathDataSaveFolder));
    return true;
}

bool SaveGame::scanSaveSlots(std::vector<SaveSlot>& list, const std::string& folder) {
    std::vector<platform::FolderEntry> entries;
    if (!platform::listFolder(folder, entries)) return false;
    bool any = false;
    for (const platform::FolderEntry& entry : entries) {
        if (!hasJpgExtension(entry.name)) continue;
        any = true;
        if (entry.folder) continue;
        std::string slotName = entry.name.substr(0, entry.name.size() - 4);
        for (char& c : slotName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const bool listed =
            std::any_of(list.begin(), list.end(), [&](const SaveSlot& slot) { return slot.name == slotName; });
        if (listed) continue;

        const std::string path = folder + "\\" + slotName + ".jpg";
        if (gameCore.paths) gameCore.paths->setPath(PathSaveName, slotName);
        SaveSlot slot;
        slot.header.displayName = widen(slotName.c_str());
        {
            std::unique_ptr<WinFileStream> file(
                WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
            if (!file) continue;
            if (!readFooter(*file, slot.header)) {
                engineLog().systemError("Ignore broken save file [%s]", logPath(path).c_str());
                continue;
            }
        }
        std::uint64_t fileTime = 0;
        platform::fileWriteTime(path, fileTime);
        slot.path = path;
        slot.name = slotName;
        slot.setFileTime(fileTime);
        const auto place = std::lower_bound(list.begin(), list.end(), slot, slotBefore);
        if (place != list.end() && place->fileTime == slot.fileTime && place->name == slot.name) continue;
        list.insert(place, std::move(slot));
    }
    return any;
}

// ---- getters by index -----------------------------------------------------

std::string SaveGame::slotName(std::int32_t index) {
    if (index < 0 || index >= slotCount()) {
        logScriptPosition();
        engineLog().error("Can't get save directory name: Invalid index in directory [0..%i]", slotCount());
        return "INVALID INDEX";
    }
    return slots[static_cast<std::size_t>(index)].name;
}

namespace {

// The getters that set a variable share their checks; text picks the field.
bool setSlotText(SaveGame& game, std::int32_t index, ScriptVariable* variable, const char* badIndex,
                 const char* nullVariable, std::u16string (*text)(const SaveSlot&)) {
    if (index < 0 || index >= game.slotCount()) {
        logScriptPosition();
        return engineLog().error(badIndex, game.slotCount());
    }
    if (!variable) {
        logScriptPosition();
        return engineLog().error("%s", nullVariable);
    }
    variable->setChanged(true);  // set for the script: saved with the game like its own changes
    variable->setWString(text(game.slots[static_cast<std::size_t>(index)]));
    return true;
}

}  // namespace

bool SaveGame::slotId(std::int32_t index, ScriptVariable* variable) {
    return setSlotText(*this, index, variable, "Can't set save directory ID: Invalid index in directory [0..%i]",
                       "Can't get directory ID: Variable NULL ptr",
                       [](const SaveSlot& slot) { return slot.header.displayName; });
}

bool SaveGame::slotDate(std::int32_t index, ScriptVariable* variable) {
    return setSlotText(*this, index, variable, "Can't set save directory data: Invalid index in directory [0..%i]",
                       "Can't get directory data: Variable NULL ptr", [](const SaveSlot& slot) { return slot.date; });
}

bool SaveGame::slotTime(std::int32_t index, ScriptVariable* variable) {
    return setSlotText(*this, index, variable, "Can't set save directory time: Invalid index in directory [0..%i]",
                       "Can't get directory time: Variable NULL ptr", [](const SaveSlot& slot) { return slot.time; });
}

bool SaveGame::slotMap(std::int32_t index, std::int32_t textureSlot) {
    if (index < 0 || index >= slotCount()) {
        logScriptPosition();
        return engineLog().error("Can't map save directory texture: Invalid index in directory [0..%i]", slotCount());
    }
    if (textureSlot < 0 || textureSlot >= kThumbnailSlots) {
        logScriptPosition();
        return engineLog().error("Can't map save directory texture: Invalid slot index [0..3]");
    }
    return mapSlotImage(slots[static_cast<std::size_t>(index)], textureSlot);
}

bool SaveGame::mapSlotImage(SaveSlot& slot, std::int32_t textureSlot) {
    Log& log = engineLog();
    std::unique_ptr<WinFileStream> file(
        WinFileStream::open(slot.path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    if (!file) return log.error("Can't open save file [%s]", logPath(slot.path).c_str());
    MemoryStream bytes;
    if (readPackedStream(-1, bytes, false, *file) < 0 || bytes.size() <= 0)
        return log.error("Fail to load file [%s]", logPath(slot.path).c_str());
    file.reset();

    bool reloaded = false;
    if (readHeader(bytes, slot.header) < 0) {
        log.error("Can't read save file header [%s]", logPath(slot.path).c_str());
    } else {
        char name[32];
        std::snprintf(name, sizeof(name), "procSaveScreenShot%i", textureSlot);
        TextureLink link;
        link.init(name);
        DXTextureHandler* handler = nullptr;
        if (!link.allocateDefault(0x200, false))
            log.error("Can't initialize save image texture %i", textureSlot);
        else if (!(handler = link.handler()))
            log.error("Can't get ProcSaveScreenShot handle for slot %i", textureSlot);
        else if (!handler->reload(slot.header.image))
            log.error("Can't import texture [%s] for save image in slot %i", link.name(), textureSlot);
        else
            reloaded = true;
        link.release(false);
    }
    // The texture keeps the pixels; the record does not.
    slot.header.image = TgaImage();
    return reloaded;
}

// ---- deleting -------------------------------------------------------------

bool SaveGame::deleteSave(const char* slotName) {
    Log& log = engineLog();
    const char* slot = slotName ? slotName : "";
    const CurrentTime sample(-1.0);
    save_local::flushInput(sample);
    if (!save_local::isPlainSlotName(slot))
        return log.error("Can't find save file [%s]: a save name is a file name without folders", slot);
    const std::string path = save_local::userSavePath(slot);
    if (path.empty() || platform::pathKind(path) != platform::PathKind::File)
        return log.error("Can't find save file [%s]", logPath(path).c_str());
    if (!platform::deleteFile(path)) return log.error("Can't delete save file [%s]: IO error", logPath(path).c_str());
    buildSlotList();
    return true;
}
