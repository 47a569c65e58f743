// Save files: the screenshot, the game data of the game core and the footer
// around them; writing a slot, loading a slot or a file, and the save game's
// own block of the game data.
#include <cstring>
#include <vector>

#include "app/GameCore.h"
#include "app/GameGuards.h"
#include "app/SaveGame.h"
#include "app/SaveGameLocal.h"
#include "foundation/CrashGuard.h"
#include "foundation/DataStream.h"
#include "foundation/Image.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "render/ProcScreenShot.h"
#include "render/TextureLink.h"
#include "scene/Scene.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"
#include "script/ScriptVariable.h"
#include "sound/SoundCore.h"

namespace {

// The game data is built in a block reserved at this size up front.
constexpr std::int32_t kGameDataReserve = 0x2000000;
// Texts of the save game's block are read into buffers of this size.
constexpr std::uint32_t kBlockTextBuffer = save_local::kMaxSavedText + 1;
constexpr int kGameDataPackLevel = 6;

const char kBroken[] = "Save file is broken";

void setEventsBlocked(bool blocked) {
    if (gameCore.script) gameCore.script->eventsBlocked = blocked ? 1 : 0;
}

void setSoundScene(Scene* scene) {
    if (gameCore.sound) gameCore.sound->setScene(scene);
}

std::int32_t writeText(DataStream& stream, const std::string& text) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(text.size())))) return total;
    if (!text.empty()) addField(total, stream.write(text.data(), static_cast<std::int32_t>(text.size())));
    return total;
}

// A text of at most 2,047 bytes; a longer or cut one breaks the file. Like
// the fixed buffer it is read into, the text ends at its first zero byte.
std::int32_t readText(DataStream& stream, std::string& text) {
    std::int32_t total = 0;
    std::uint32_t length = 0;
    if (!addField(total, readU32(stream, length))) return total;
    if (length >= kBlockTextBuffer || length > static_cast<std::uint32_t>(bytesLeft(stream))) {
        engineLog().error("Can't read save game text of %u bytes: %s", length, kBroken);
        return -1;
    }
    std::string value(length, '\0');
    if (length && !addField(total, readExact(stream, value.data(), static_cast<std::int32_t>(length)))) return total;
    value.resize(std::strlen(value.c_str()));
    text = std::move(value);
    return total;
}

// Reads a whole file into an owned stream; false when it cannot be read.
bool readWholeFile(const std::string& path, MemoryStream& stream) {
    platform::FileHandle file = platform::openFile(path, platform::GENERIC_READ, platform::OPEN_EXISTING);
    if (!file) return false;
    const std::int64_t size = platform::fileSize(file);
    bool ok = size >= 0 && size < 0x7FFFFFFF && stream.allocateExact(static_cast<std::int32_t>(size));
    if (ok && size > 0) ok = platform::readFile(file, stream.data(), size) == size;
    platform::closeFile(file);
    if (!ok) return false;
    stream.setPosition(0);
    return true;
}

// Writes the bytes to a temporary file beside path and moves it over path.
// False (the temporary file removed, path untouched) on any failure; created
// tells whether the temporary file could be made at all.
bool replaceFile(const std::string& path, MemoryStream& bytes, bool& created) {
    const std::string temporary = path + ".tmp";
    created = false;
    platform::FileHandle file = platform::openFile(temporary, platform::GENERIC_WRITE, platform::CREATE_ALWAYS);
    if (!file) return false;
    created = true;
    bool ok = platform::writeFile(file, bytes.data(), bytes.size()) == bytes.size();
    platform::closeFile(file);
    // renameFile flushes the new file to the disk before it replaces the slot.
    ok = ok && platform::renameFile(temporary, path);
    if (!ok) platform::deleteFile(temporary);
    return ok;
}

}  // namespace

// ---- the file around the game data ----------------------------------------

std::int32_t SaveGame::writeHeader(DataStream& stream, SaveHeader& header) {
    if (!header.image.pixels()) {
        engineLog().error("Screen shot is invalid. Need insert invalid image");
        return -1;
    }
    MemoryStream jpeg;
    if (!writeImage(header.image, jpeg, kSaveScreenShotQuality)) return -1;
    header.imageSize = static_cast<std::uint32_t>(jpeg.size());
    std::int32_t total = 0;
    if (!addField(total, stream.write(jpeg.data(), jpeg.size()))) return total;
    if (!addField(total, writeU32(stream, header.magic))) return total;
    addField(total, writeF64(stream, header.gameTime));
    return total;
}

std::int32_t SaveGame::writeFooter(DataStream& stream, const SaveHeader& header) {
    if (header.displayName.empty()) {
        engineLog().error("Can't write save game footer: localized name empty");
        return -1;
    }
    std::vector<std::uint8_t> name;
    name.reserve(header.displayName.size() * 2);
    for (const char16_t unit : header.displayName) {
        name.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        name.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    std::int32_t total = 0;
    if (!addField(total, stream.write(name.data(), static_cast<std::int32_t>(name.size())))) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(header.displayName.size())))) return total;
    if (!addField(total, writeU32(stream, kSaveFooterTag))) return total;
    if (!addField(total, writeU32(stream, kSaveFileMagic))) return total;
    if (!addField(total, writeU32(stream, header.imageSize))) return total;
    addField(total, writeU32(stream, kSaveFileMagic));
    return total;
}

bool SaveGame::readFooter(DataStream& stream, SaveHeader& header) {
    const std::int64_t size = stream.size();
    if (size < kSaveFileMinimumSize) return false;
    std::uint32_t tail[5] = {};  // N, tag, magic, J, magic
    for (int i = 0; i < 5; ++i) {
        std::uint8_t bytes[4] = {};
        if (stream.readAt(static_cast<std::int32_t>(size - kSaveFooterSize + 4 * i), bytes, 4) != 4) return false;
        tail[i] = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    const std::uint32_t imageSize = tail[3];
    if (tail[4] != kSaveFileMagic || tail[2] != kSaveFileMagic) return false;
    if (static_cast<std::int64_t>(imageSize) + 4 > size) return false;
    std::uint8_t bytes[4] = {};
    if (stream.readAt(static_cast<std::int32_t>(imageSize), bytes, 4) != 4) return false;
    if ((bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24) != kSaveFileMagic)
        return false;
    header.imageSize = imageSize;
    if (tail[1] != kSaveFooterTag) return true;  // an older footer: the caller's name stays

    // The name must fit its buffer and lie behind the image's magic and time.
    const std::uint32_t units = tail[0];
    if (units > kSaveNameMaximum) return false;
    const std::int64_t nameStart = size - kSaveFooterSize - 2 * static_cast<std::int64_t>(units);
    if (nameStart < static_cast<std::int64_t>(imageSize) + 12) return false;
    std::vector<std::uint8_t> raw(2 * units);
    if (units && stream.readAt(static_cast<std::int32_t>(nameStart), raw.data(), static_cast<std::int32_t>(raw.size())) !=
                     static_cast<std::int32_t>(raw.size()))
        return false;
    std::u16string name;
    for (std::uint32_t i = 0; i < units; ++i) {
        const char16_t unit = static_cast<char16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
        if (unit == 0) break;
        name.push_back(unit);
    }
    header.displayName = std::move(name);
    return true;
}

std::int32_t SaveGame::readHeader(DataStream& stream, SaveHeader& header) {
    if (!readFooter(stream, header)) return -1;
    std::vector<std::uint8_t> jpeg(header.imageSize);
    std::int32_t total = 0;
    if (!addField(total, readExact(stream, jpeg.data(), static_cast<std::int32_t>(jpeg.size())))) return total;
    if (!decodeImage(jpeg.data(), jpeg.size(), header.image)) return -1;
    if (!addField(total, readU32(stream, header.magic))) return total;
    addField(total, readF64(stream, header.gameTime));
    return total;
}

// ---- the save game's block ----------------------------------------------

std::int32_t SaveGame::write(DataStream& stream) {
    std::int32_t total = 0;
    progress = 0.0f;
    if (!addField(total, writeF64(stream, gameTime))) return total;
    if (!addField(total, writeI32(stream, currentIndex))) return total;
    for (const std::string* text : {&scene, &onProgress, &onStartProgress, &onFinishProgress})
        if (!addField(total, writeText(stream, *text))) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(scenes.size())))) return total;
    for (const std::uint32_t handle : scenes)
        if (!addField(total, writeU32(stream, handle))) return total;
    return total;
}

std::int32_t SaveGame::read(DataStream& stream, bool apply, std::vector<std::uint32_t>* sceneList,
                           std::int32_t* current) {
    std::int32_t total = 0;
    double time = 0.0;
    std::int32_t index = -1;
    std::string texts[4];
    std::vector<std::uint32_t> list;
    if (!addField(total, readF64(stream, time))) return total;
    if (!addField(total, readI32(stream, index))) return total;
    for (std::string& text : texts)
        if (!addField(total, readText(stream, text))) return total;
    const std::int32_t listed = readUIntArray(stream, list);
    if (listed < 0) {
        engineLog().error("Can't read the scene list of the save game: %s", kBroken);
        return -1;
    }
    total += listed;
    if (current) *current = index;
    if (sceneList) *sceneList = list;
    if (!apply) return total;
    progress = 0.0f;
    gameTime = time;
    currentIndex = index;
    scene = std::move(texts[0]);
    onProgress = std::move(texts[1]);
    onStartProgress = std::move(texts[2]);
    onFinishProgress = std::move(texts[3]);
    scenes = std::move(list);
    return total;
}

// ---- screenshot -----------------------------------------------------------

bool SaveGame::saveScreenShot(TgaImage& image, bool) {
    // Without the screenshot target there is nothing to render through:
    // nothing is drawn, and the caller finds the image empty.
    TextureLink link;
    link.init("procSaveScreenShot");
    bool rendered = true;
    if (link.allocateDefault(0x200, false)) {
        auto* target = dynamic_cast<ProcScreenShotExport*>(link.handler());
        rendered = target && target->renderSaveScreenShot(image, static_cast<std::uint32_t>(screenshotWidth),
                                                          static_cast<std::uint32_t>(screenshotHeight));
    }
    link.release(false);
    return rendered;
}

bool SaveGame::buildScreenShot() {
    screenshot = TgaImage();
    return saveScreenShot(screenshot, true);
}

// ---- saving ---------------------------------------------------------------

bool SaveGame::saveToFile(const char* slotName, ScriptVariable* displayName) {
    Log& log = engineLog();
    const char* slot = slotName ? slotName : "";
    if (!save_local::isPlainSlotName(slot))
        return log.error("Can't save game [%s]: a save name is a file name without folders", slot);
    // A restore needs a current scene: without one nothing is written.
    if (!currentScene()) return log.error("Can't save game [%s]: Current scene not selected", slot);
    const CurrentTime sample(-1.0);
    save_local::flushInput(sample);

    const std::string path = save_local::userSavePath(slot);
    if (path.empty()) return log.error("Can't save game [%s]: no save folder", slot);
    ensurePathFolders(path);

    SaveHeader header;
    if (screenshot.pixels()) {
        screenshot.copyTo(header.image);
    } else if (!saveScreenShot(header.image, true)) {
        return false;
    }
    header.gameTime = gameTime;

    MemoryStream data;
    data.reserve(kGameDataReserve);
    if (gameCore.save_all(data) < 0) return log.error("Fail to save game data");
    // What the restore would refuse is not written: the game data passes the
    // restore's own check first, and the slot keeps its previous save.
    data.setPosition(0);
    if (gameCore.check_all(data) < 0)
        return log.error("Can't save game [%s]: the game data would not load back", slot);

    // The whole file is made in memory, then replaces the slot in one step.
    MemoryStream file;
    if (writeHeader(file, header) < 0) return log.error("Can't save game header to file [%s]", logPath(path).c_str());
    if (writePackedStream(data, kGameDataPackLevel, true, file) < 0)
        return log.error("Can't save game data to file [%s]", logPath(path).c_str());
    if (displayName)
        header.displayName = displayName->toWString();
    else
        platform::narrowToWide(slot, 0, header.displayName);
    if (writeFooter(file, header) < 0) return log.error("Can't save game footer to file [%s]", logPath(path).c_str());

    bool created = false;
    if (!replaceFile(path, file, created)) {
        if (!created) return log.error("Fail to create file [%s]", logPath(path).c_str());
        return log.error("Can't save game data to file [%s]", logPath(path).c_str());
    }
    if (gameCore.input) gameCore.input->reset(sample);
    return true;
}

// ---- loading --------------------------------------------------------------

void SaveGame::loadSavedGame(const char* nameOrPath) {
    Log& log = engineLog();
    const char* name = nameOrPath ? nameOrPath : "";
    flags &= ~kSaveGameLoadSucceeded;
    if (!(flags & kSaveGameLoadAllowed))
        log.error("Load SAVED GAME NOT enabled from this execution point (called from SCENE object event handler), "
                  "use delayed call instead)");
    if (gameCore.script && gameCore.script->context) gameCore.script->context->processEvents();
    setSoundScene(nullptr);
    setEventsBlocked(true);
    loading = 1;

    // Every failure before the game is replaced leaves it as it was, the
    // current scene given back to the sound core.
    auto fail = [this] {
        loading = 0;
        setSoundScene(currentScene());
        setEventsBlocked(false);
    };

    std::string path;
    if (fileExists(name)) {
        path = name;
    } else if (!save_local::isPlainSlotName(name)) {
        log.error("Fail to open save file [%s]: a save name is a file name without folders", name);
        fail();
        return;
    } else {
        path = save_local::userSavePath(name);
    }

    MemoryStream file;
    if (path.empty() || !readWholeFile(path, file)) {
        log.error("Fail to open save file [%s]", logPath(path).c_str());
        log.flush();
        fail();
        return;
    }
    SaveHeader header;
    if (readHeader(file, header) < 0) {
        log.error("Can't load game header [%s]: Save file is broken", logPath(path).c_str());
        fail();
        return;
    }
    MemoryStream data;
    if (readPackedStream(0, data, true, file) < 0) {
        releaseUnreferencedData();
        log.error("Can't read save data");
        fail();
        return;
    }
    // The whole game data is checked before anything of the running game is
    // released: a damaged save is refused with the game as it was.
    const std::int32_t start = data.tell();
    if (gameCore.check_all(data) < 0) {
        log.error("Fail to load game from file [%s]", logPath(path).c_str());
        fail();
        return;
    }
    data.setPosition(start);
    gameTime = header.gameTime;

    log.info("----------------------------------- LOAD GAME [%s] ---------------------------------------------", name);
    if (gameCore.load_all(data) < 0) {
        log.error("Fail to load game from file [%s]", logPath(path).c_str());
        // A load that opened the progress closes it.
        if (flags & kSaveGameProgressActive) finishProgress();
        releaseScenes();
        releaseUnreferencedData();
        fail();
        return;
    }
    log.info("----------------------------------- SUCCESS LOADED GAME [%s] ---------------------------------------------",
             name);
    loading = 0;
    setSoundScene(currentScene());
    flags |= kSaveGameLoadSucceeded;
    setEventsBlocked(false);
}

bool safeLoadGame(SaveGame& game, const char* nameOrPath) {
    return runGuardedCaught(kGuardLoadGame, [&] { game.loadSavedGame(nameOrPath); });
}

void SaveGame::restore(const char* nameOrPath) {
    if (!safeLoadGame(*this, nameOrPath)) flags &= ~kSaveGameLoadSucceeded;
}
