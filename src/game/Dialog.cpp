// The dialog object's playback: the per-frame update, the phrase player,
// the script events and the save record.
#include "game/Dialog.h"

#include <cstring>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "game/DialogDataManager.h"
#include "scene/CameraCore.h"
#include "script/ScriptEventArgs.h"

namespace {

const char* const kEventNames[DialogEventCount] = {
    "Dialog.onStarted",         "Dialog.onFinished",          "Dialog.onPhraseStarted",
    "Dialog.onPhraseFinished",  "Dialog.onSubtitleStarted",   "Dialog.onSubtitleFinished"};

// A phrase starts this long after the frame that began it, so that a start
// is never 0.0 (the "loaded, not started" mark).
constexpr double kStartOffset = 1.000000013351432e-10;

const char* const kEndPhrase = "#end";

// Saved names: aliases are read into 128-byte fields, handler names through
// a 2,048-byte buffer.
constexpr std::int32_t kHandlerNameLimit = static_cast<std::int32_t>(Dialog::kMaxHandlerName) + 1;
constexpr std::int32_t kMinAliasBytes = 2 + 2 + 2 + 4 + 4;

std::int32_t writeHandler(DataStream& stream, const std::string& text) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(stream, static_cast<std::int32_t>(text.size())))) return total;
    if (!text.empty()) addField(total, stream.write(text.data(), static_cast<std::int32_t>(text.size())));
    return total;
}

// A handler name of i32 length: a negative length or one the buffer does
// not hold fails the read.
std::int32_t readHandler(DataStream& stream, std::string* text) {
    std::int32_t total = 0;
    std::int32_t length = 0;
    if (!addField(total, readI32(stream, length))) return total;
    if (length < 0 || length >= kHandlerNameLimit || length > bytesLeft(stream)) {
        engineLog().error("Can't read dialog handler name of %d bytes: at most %d, %d left in the record", length,
                          kHandlerNameLimit - 1, static_cast<int>(bytesLeft(stream)));
        return -1;
    }
    std::string value(static_cast<std::size_t>(length), '\0');
    if (length && !addField(total, readExact(stream, value.data(), length))) return total;
    if (text) *text = value.c_str();
    return total;
}

// The alias table and everything after the flags, into the dialog or, for
// a check, into nothing.
std::int32_t readBody(DataStream& stream, std::vector<DialogAlias>* aliases, GameObjectLink* speakers,
                      std::string* handlers) {
    std::int32_t total = 0;
    std::int32_t count = 0;
    if (!addField(total, readI32(stream, count))) return total;
    if (count < 0 || count > bytesLeft(stream) / kMinAliasBytes) return -1;
    std::vector<DialogAlias> read(static_cast<std::size_t>(count));
    for (DialogAlias& alias : read) {
        if (!addField(total, readString16(stream, alias.aliasName, sizeof(alias.aliasName)))) return total;
        if (!addField(total, readString16(stream, alias.objectName, sizeof(alias.objectName)))) return total;
        if (!addField(total, readString16(stream, alias.lookTarget, sizeof(alias.lookTarget)))) return total;
        if (!addField(total, readU32(stream, alias.object.value))) return total;
        if (!addField(total, readI32(stream, alias.lookMode))) return total;
    }
    std::uint32_t speaker = 0;
    std::uint32_t previous = 0;
    if (!addField(total, readU32(stream, speaker))) return total;
    if (!addField(total, readU32(stream, previous))) return total;
    std::string names[DialogEventCount];
    for (std::string& handler : names)
        if (!addField(total, readHandler(stream, &handler))) return total;
    if (aliases) aliases->swap(read);
    if (speakers) {
        speakers[0].value = speaker;
        speakers[1].value = previous;
    }
    if (handlers)
        for (int i = 0; i < DialogEventCount; ++i) handlers[i] = names[i];
    return total;
}

std::string fullNameOf(const Y3DialogData* resource, const char* labelName) {
    std::string text = resource ? resource->name : "";
    text += '.';
    text += labelName ? labelName : "";
    return text;
}

}  // namespace

Dialog::Dialog(Y3DialogData* dialogResource, const char* label, std::uint32_t scene)
    : GameObject(fullNameOf(dialogResource, label).c_str()), resource(dialogResource), sceneLink(scene) {
    copyName(labelName, sizeof(labelName), label);
    player.owner = this;
}

Dialog::~Dialog() {
    if (resourcePushed() && resource) ResourceManagerBase::pop(resource, this);
}

void Dialog::setResourcePushed(bool pushed) {
    if (pushed)
        pushedFlags |= 1;
    else
        pushedFlags &= static_cast<std::uint8_t>(~1u);
}

bool Dialog::push() {
    if (resourcePushed()) return engineLog().error("Can't push dialog [%s] twice", name);
    return ResourceManagerBase::push(resource, this);
}

bool Dialog::pop(std::uint32_t) {
    if (!resourcePushed()) return engineLog().error("Can't pop dialog [%s]: push first", name);
    return ResourceManagerBase::pop(resource, this);
}

void Dialog::release() {
    player.clear();
    player.start = -1.0;
    std::vector<DialogAlias>().swap(aliases);
}

void Dialog::fireEvent(DialogEvent event, const char* first, const char* second) {
    const char* eventName = kEventNames[event];
    if (event == DialogOnStarted) playFlags &= static_cast<std::uint8_t>(~kDialogCameraUsed);
    if (handlers[event].empty()) {
        engineLog().dialogInfo("%s (skip event)", eventName);
    } else {
        ScriptEventArgs args(handlers[event].c_str());
        args.append(name);
        if (first) args.append(first);
        if (second) args.append(second);
        args.setName(eventName);
        gameCore.addScriptEvent(args, eventName);
    }
    if (event == DialogOnFinished) restoreCamera();
}

void Dialog::restoreCamera() {
    if (!(playFlags & kDialogCameraUsed)) return;
    if (gameCore.game && gameCore.game->loading) return;
    CameraCore* camera = gameCore.currentScene() ? gameCore.scene_getCamera() : nullptr;
    if (!camera || camera->blender.empty()) return;
    camera->stopStack();
    gameCore.selectCameraMode(true, CurrentTime(-1.0));
}

bool Dialog::play(std::int32_t first) {
    if (phraseIndex >= 0) return engineLog().scriptError("Dialog[%s]: Can't play: Stop first", name);
    // A first phrase below 1 would leave the dialog idle for ever, or forge
    // the stop request.
    if (first < 1) return engineLog().scriptError("Dialog[%s]: Can't play from phrase %i", name, first);
    phraseIndex = first - 1;
    fireEvent(DialogOnStarted);
    return true;
}

bool Dialog::stop() {
    if (phraseIndex < 0) return engineLog().error("Can't stop dialog: play first");
    if (playFlags & kDialogUnstoppable) return false;
    stopPhrase(CurrentTime(-1.0));
    phraseIndex = kDialogStopRequest;
    advancePhrase(true);
    return true;
}

bool Dialog::skip() {
    if (playFlags & kDialogUnstoppable) return false;
    if (player.start >= 0.0 && !advancePhrase(true))
        engineLog().scriptError("Can't skip phrase [%i] in dialog [%s]", phraseIndex, name);
    return true;
}

bool Dialog::update(const CurrentTime& time) {
    while (phraseIndex >= 0) {
        if (player.start < 0.0 && !advancePhrase(false)) return false;
        if (phraseIndex < 0) break;
        advancePlayer(time);
        if (player.start >= 0.0) return true;
    }
    return true;
}

void Dialog::finish() {
    stopPhrase(CurrentTime(-1.0));
    phraseIndex = kDialogFinished;
    fireEvent(DialogOnFinished);
}

bool Dialog::advancePhrase(bool skipMode) {
    Log& log = engineLog();
    if (!skipMode) {
        phraseIndex += 1;
        playFlags &= static_cast<std::uint8_t>(~kDialogUnstoppable);
    } else if (phraseIndex == 0) {
        phraseIndex = 1;
    }
    const bool loaded = resource && (resource->has(kResourceHeaderLoaded) ||
                                     (gameCore.dialogs && gameCore.dialogs->ensureLoaded(resource)));
    if (!loaded) {
        finish();
        return log.dialogError("Can't read dialog [%s] data", name);
    }
    const DialogLabel* label = Y3DialogData::findLabel(resource->labels, labelName);
    if (!label) {
        finish();
        return log.dialogError("Can't play dialog [%s] label %s: Label not found", name, labelName);
    }
    const std::int32_t count = static_cast<std::int32_t>(label->phrases.size());
    if (!skipMode && count == 0) {
        finish();
        return log.dialogError("Can't play dialog [%s] label %s: Label is EMPTY", name, labelName);
    }
    const bool hasEnd = count > 0 && std::strcmp(label->phrases.back().name, kEndPhrase) == 0;
    if (phraseIndex == kDialogStopRequest) {
        if (!hasEnd) {
            finish();
            return false;
        }
        phraseIndex = count;
    }
    if (phraseIndex > count || phraseIndex < 1) {
        finish();
        return phraseIndex > 0;
    }
    const DialogPhrase& phrase = label->phrases[static_cast<std::size_t>(phraseIndex - 1)];
    if (hasEnd && phraseIndex == count) {
        playFlags |= kDialogUnstoppable;
        loadPhrase(phrase.commands, phrase.name, phrase.delay);
        return true;
    }
    if (skipMode) {
        stopPhrase(CurrentTime(-1.0));
        if (!phrase.skip.empty()) {
            loadPhrase(phrase.skip, phrase.name, 0.0);
            playFlags |= kDialogUnstoppable;
        } else {
            log.dialogInfo("Warning: Can't play skip phrase %i in dialog [%s]: Skip program NOT defined", phraseIndex,
                           name);
        }
        return true;
    }
    loadPhrase(phrase.commands, phrase.name, phrase.delay);
    return true;
}

void Dialog::loadPhrase(const std::vector<DialogCommand>& commands, const char* phraseName, double pause) {
    player.clear();
    player.commands.resize(commands.size());
    for (std::size_t i = 0; i < commands.size(); ++i) player.commands[i].copy(commands[i]);
    copyName(player.phraseName, sizeof(player.phraseName), phraseName);
    player.start = 0.0;
    player.pendingPause = pause;
}

void Dialog::advancePlayer(const CurrentTime& time) {
    if (player.start < 0.0) return;
    const double now = time.game.time;
    if (player.start == 0.0) {
        engineLog().dialogInfo("--------- phrase %i -------", phraseIndex);
        fireEvent(DialogOnPhraseStarted);
        player.start = now + kStartOffset;
        player.end = kPhraseNever;
    }
    const double elapsed = now - player.start;
    if (elapsed < 0.0) return;
    if (elapsed <= player.end) {
        bool open = false;
        // By index: a command may not change the list, but its effects
        // reach script code that could.
        for (std::size_t i = 0; i < player.commands.size(); ++i) {
            DialogCommand& command = player.commands[i];
            if (command.kind == DialogCommandInvalid || command.kind == DialogCommandDone) continue;
            if (command.delay > elapsed) {
                open = true;
                continue;
            }
            const std::int32_t index = static_cast<std::int32_t>(i);
            if (command.delay >= 0.0f) executeCommand(player, index, command, time, false);
            checkCommandEnd(player, index, command, time, false);
            if (command.kind != DialogCommandInvalid && command.kind != DialogCommandDone) open = true;
        }
        if (!open && player.pendingPause >= 0.0) {
            player.end = elapsed + player.pendingPause;
            player.pendingPause = -1.0;
        }
    }
    if (player.end <= elapsed) {
        player.start = -1.0;
        fireEvent(DialogOnPhraseFinished);
    }
}

void Dialog::stopPhrase(const CurrentTime& time) {
    if (player.start < 0.0) return;
    for (std::size_t i = 0; i < player.commands.size(); ++i) {
        DialogCommand& command = player.commands[i];
        if (command.kind == DialogCommandInvalid || command.kind == DialogCommandDone) continue;
        const std::int32_t index = static_cast<std::int32_t>(i);
        if (command.delay >= 0.0f) executeCommand(player, index, command, time, true);
        if (command.delay < 0.0f) checkCommandEnd(player, index, command, time, true);
    }
    player.start = -1.0;
    fireEvent(DialogOnPhraseFinished);
}

std::int32_t Dialog::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(stream, phraseIndex))) return total;
    const std::uint8_t flags[4] = {pushedFlags, playFlags, options, spare};
    if (!addField(total, stream.write(flags, 4))) return total;
    if (!addField(total, writeI32(stream, static_cast<std::int32_t>(aliases.size())))) return total;
    for (const DialogAlias& alias : aliases) {
        if (!addField(total, writeString16(stream, alias.aliasName, sizeof(alias.aliasName)))) return total;
        if (!addField(total, writeString16(stream, alias.objectName, sizeof(alias.objectName)))) return total;
        if (!addField(total, writeString16(stream, alias.lookTarget, sizeof(alias.lookTarget)))) return total;
        if (!addField(total, writeU32(stream, alias.object.value))) return total;
        if (!addField(total, writeI32(stream, alias.lookMode))) return total;
    }
    if (!addField(total, writeU32(stream, speaker.value))) return total;
    if (!addField(total, writeU32(stream, previousSpeaker.value))) return total;
    for (const std::string& handler : handlers)
        if (!addField(total, writeHandler(stream, handler))) return total;
    return total;
}

std::int32_t Dialog::read(DataStream& stream) {
    std::int32_t total = 0;
    std::int32_t index = 0;
    std::uint8_t flags[4] = {};
    if (!addField(total, readI32(stream, index))) return total;
    if (!addField(total, readExact(stream, flags, 4))) return total;
    GameObjectLink speakers[2];
    if (!addField(total, readBody(stream, &aliases, speakers, handlers))) return total;
    phraseIndex = index;
    // The pushed bit is the object's own state now, not the saved one's.
    playFlags = flags[1];
    options = flags[2];
    spare = flags[3];
    speaker = speakers[0];
    previousSpeaker = speakers[1];
    // The player is not saved: the next update moves on to the next phrase.
    player.clear();
    player.start = -1.0;
    return total;
}

std::int32_t checkDialogRecord(DataStream& stream) {
    std::int32_t total = 0;
    std::int32_t index = 0;
    std::uint8_t flags[4] = {};
    if (!addField(total, readI32(stream, index))) return total;
    if (!addField(total, readExact(stream, flags, 4))) return total;
    addField(total, readBody(stream, nullptr, nullptr, nullptr));
    return total;
}
