// The dialog command executor: the thirteen command kinds, their trace on
// the dialog channel, the end of voices and sounds, the aliases that name
// the objects commands act on, and the look rule they set.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "game/Dialog.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/CameraStack.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptEventArgs.h"
#include "sound/SoundBank.h"
#include "sound/SoundCore.h"

namespace {

// The game state in which commands resolve no objects.
constexpr std::int32_t kStateWithoutObjects = 6;
// The effective state while a camera stack has the camera.
constexpr std::int32_t kStateCameraStack = 11;
// Scene sound list (and channel) of the sounds and voices a dialog makes.
constexpr std::uint32_t kDialogSoundList = 0;
// A started voice or sound keeps its delay as -(|delay| + 100).
constexpr float kStartedShift = 100.0f;
constexpr std::size_t kTextLimit = 127;

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

bool objectsResolve() {
    const std::int32_t state = (gameCore.flags & kGameFlagCameraOverride) ? kStateCameraStack : gameCore.gameState;
    return state != kStateWithoutObjects;
}

bool isModel(const GameObject* object) { return object && object->getType() == ObjectModel; }

// A voice name: its group before the first backslash and its line after.
struct VoiceName {
    std::string group;
    std::string line;
    bool valid = true;
};

VoiceName splitVoice(const char* text) {
    VoiceName voice;
    const std::string name(text ? text : "");
    const std::size_t slash = name.find('\\');
    if (slash == std::string::npos) {
        voice.valid = false;
        return voice;
    }
    voice.group = name.substr(0, slash);
    voice.line = name.substr(slash + 1);
    return voice;
}

const char* voiceText(const PhrasePlayer& player, const DialogCommand& command) {
    return command.argument.empty() ? player.phraseName : command.argument.c_str();
}

// The seconds a voice lasts by its bank sound, 0 without one.
double voiceLength(const std::string& voice) {
    SoundCore* sound = gameCore.sound;
    BankSound* bankSound = sound && sound->bank ? sound->bank->findByAlias(SoundChannelVoice, voice.c_str()) : nullptr;
    return bankSound ? bankSound->getDuration() : 0.0;
}

// Voices are timed by their length while nothing can be heard.
bool soundIsOff() {
    const SoundCore* sound = gameCore.sound;
    if (!sound || !sound->running()) return true;
    const SoundVolumes& v = sound->volumes;
    const SoundChannelVolume& voice = v.channels[SoundChannelVoice];
    return v.master.script * v.master.setup * voice.script * voice.setup <= 0.0f;
}

// A scene sound of the dialog list, made from the resource and started;
// its link, none when it was not made or did not start.
GameObjectLink playSceneSound(const char* instance, const char* resourceName, std::uint32_t flags) {
    Scene* scene = gameCore.currentScene();
    GameObject* sound = scene ? scene->addSound(kDialogSoundList, instance, resourceName, flags) : nullptr;
    if (!sound) return GameObjectLink{};
    const GameObjectLink link = GameObjectLink::fromObject(sound);
    const SceneFactories& hooks = sceneFactories();
    if (hooks.soundPlay && !hooks.soundPlay(*sound)) {
        const auto& list = scene->sounds[kDialogSoundList];
        const auto at = std::find_if(list.begin(), list.end(),
                                     [&link](GameObjectLink entry) { return entry.index() == link.index(); });
        if (at != list.end()) scene->deleteSoundAt(kDialogSoundList, static_cast<std::int32_t>(at - list.begin()));
        return GameObjectLink{};
    }
    return link;
}

// The place in the scene's dialog sound list of the sound a command made:
// by the link kept when it was made (its name may be longer than the scene
// object keeps), else (a phrase of a restored game) by its name as kept.
std::int32_t dialogSoundIndex(GameObjectLink made, const std::string& instance) {
    Scene* scene = gameCore.currentScene();
    if (!scene) return -1;
    if (!made.index()) {
        const std::string kept = instance.substr(0, GameObject::kNameSize - 1);
        return scene->findSound(kDialogSoundList, kept.c_str());
    }
    const auto& list = scene->sounds[kDialogSoundList];
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].index() == made.index()) return static_cast<std::int32_t>(i);
    return -1;
}

GameObject* findSceneSound(GameObjectLink made, const std::string& instance) {
    const std::int32_t index = dialogSoundIndex(made, instance);
    Scene* scene = gameCore.currentScene();
    return index < 0 ? nullptr : resolve(scene->sounds[kDialogSoundList][static_cast<std::size_t>(index)]);
}

bool sceneSoundPlays(GameObjectLink made, const std::string& instance) {
    GameObject* sound = findSceneSound(made, instance);
    const SceneFactories& hooks = sceneFactories();
    return sound && hooks.soundPlaying && hooks.soundPlaying(*sound);
}

void deleteSceneSound(GameObjectLink made, const std::string& instance) {
    const std::int32_t index = dialogSoundIndex(made, instance);
    if (index >= 0) gameCore.currentScene()->deleteSoundAt(kDialogSoundList, index);
}

// The link of the sound the command at index made, kept beside the
// phrase's commands.
GameObjectLink& madeSound(PhrasePlayer& player, std::int32_t index) {
    if (player.sounds.size() < player.commands.size()) player.sounds.resize(player.commands.size());
    return player.sounds[static_cast<std::size_t>(index)];
}

std::string soundInstanceName(const char* dialog, const DialogCommand& command, std::int32_t index) {
    char text[512];
    std::snprintf(text, sizeof(text), "%s.%s.%i", dialog, command.argument.c_str(), index);
    return text;
}

// A body or face sequence on the command's model; false with the
// command's message for no object or one that is not a model.
bool playModelSequence(GameObject* object, bool (Model::*play)(const char*), const char* sequence,
                       const char* noObject, const char* notModel) {
    if (!object) return engineLog().dialogError("%s", noObject);
    auto* model = dynamic_cast<Model*>(object);
    if (!model) return engineLog().dialogError(notModel, object->getName());
    (model->*play)(sequence);
    return true;
}

std::string lowered(const char* text) {
    std::string value(text ? text : "");
    if (value.size() > kTextLimit) value.resize(kTextLimit);
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return value;
}

}  // namespace

DialogAlias* Dialog::findAlias(const char* aliasName) {
    if (!aliasName) return nullptr;
    auto it = std::lower_bound(aliases.begin(), aliases.end(), aliasName,
                               [](const DialogAlias& a, const char* n) { return std::strcmp(a.aliasName, n) < 0; });
    return it != aliases.end() && std::strcmp(it->aliasName, aliasName) == 0 ? &*it : nullptr;
}

DialogAlias& Dialog::ensureAlias(const char* aliasName, const char* objectName) {
    if (DialogAlias* found = findAlias(aliasName)) return *found;
    DialogAlias alias;
    copyName(alias.aliasName, sizeof(alias.aliasName), aliasName);
    copyName(alias.objectName, sizeof(alias.objectName), objectName);
    // Particle systems first, then the scene's game objects.
    if (const std::uint32_t particle = gameCore.scene_findParticle(alias.objectName, false)) {
        alias.object.value = particle;
        alias.lookMode = DialogLookNone;
    } else {
        // Models carry no look weight: a game object starts looking on its own.
        alias.object.value = gameCore.scene_findObject(alias.objectName, true);
        alias.lookMode = DialogLookAuto;
    }
    auto it = std::lower_bound(aliases.begin(), aliases.end(), alias.aliasName,
                               [](const DialogAlias& a, const char* n) { return std::strcmp(a.aliasName, n) < 0; });
    return *aliases.insert(it, alias);
}

GameObjectLink Dialog::addAlias(const char* aliasName) {
    if (!aliasName || !aliasName[0]) return GameObjectLink{};
    return ensureAlias(aliasName, aliasName).object;
}

GameObjectLink Dialog::resolveObject(const char* objectName) {
    if (!objectName || !objectName[0] || !objectsResolve()) return GameObjectLink{};
    return addAlias(objectName);
}

bool Dialog::setAlias(const char* objectName, const char* aliasName, const char* target) {
    ensureAlias(aliasName, objectName);
    return lookCommand(aliasName, target);
}

bool Dialog::aim(const char* aliasName, const char* target) { return lookCommand(aliasName, target); }

bool Dialog::lookCommand(const char* aliasName, const char* target) {
    Log& log = engineLog();
    const char* key = aliasName ? aliasName : "";
    DialogAlias& alias = ensureAlias(key, key);
    GameObject* object = resolve(alias.object);
    if (!object) return log.dialogError("Required object [%s] to execute LOOK dialog command", key);
    if (!isModel(object)) return log.dialogError("Can't set look for non-model object [%s]", key);
    const std::string text = lowered(target);
    if (text == "none") {
        alias.lookMode = DialogLookNone;
    } else if (text == "auto") {
        alias.lookMode = DialogLookAuto;
    } else {
        alias.lookMode = DialogLookTarget;
        copyName(alias.lookTarget, sizeof(alias.lookTarget), text.c_str());
    }
    return true;
}

bool Dialog::lookTarget(GameObject* looking, Matrix34& out) {
    if (!looking) return false;
    const GameObjectLink link = GameObjectLink::fromObject(looking);
    for (const DialogAlias& alias : aliases) {
        if (alias.object.index() != link.index()) continue;
        if (alias.lookMode != DialogLookTarget) return false;
        const std::string bone = std::string(alias.lookTarget) + ":bip01 head";
        return gameCore.scene_getPose(bone.c_str(), 0, out);
    }
    return false;
}

void Dialog::executeCommand(PhrasePlayer& runner, std::int32_t index, DialogCommand& command, const CurrentTime& time,
                            bool skipMode) {
    Log& log = engineLog();
    const double elapsed = time.game.time - runner.start;
    const std::uint32_t kind = command.kind;
    const char* argument = command.argument.c_str();
    const GameObjectLink link = resolveObject(command.object);
    GameObject* object = resolve(link);
    bool ok = false;
    switch (kind) {
    case DialogCommandCamera: {
        CameraStack stack;
        if (!stack.parseCommands(argument)) {
            log.dialogError("Can't get command camera stack data");
        } else {
            CameraCore* camera = gameCore.scene_getCamera();
            ok = camera && camera->playStack(stack, false);
            if (ok && !(options & kDialogDontRestoreCamera)) playFlags |= kDialogCameraUsed;
        }
        stack.clear();
        break;
    }
    case DialogCommandVoice: {
        if (skipMode) {
            ok = true;
            break;
        }
        const char* text = voiceText(runner, command);
        const VoiceName voice = splitVoice(text);
        if (!voice.valid) log.error("INVALID dialog phrase voice name [%s]", text);
        fireEvent(DialogOnSubtitleStarted, voice.group.c_str(), voice.line.c_str());
        const std::string full = voice.group + "\\" + voice.line;
        const std::string instance = std::string(name) + "." + voice.line;
        // While nothing can be heard a voice that does not start is timed
        // by its length all the same (the completion check), so that its
        // subtitle shows for as long as it would be heard.
        const bool silent = soundIsOff();
        if (object) {
            if (!isModel(object)) {
                log.dialogError("Can't play voice [%s] for not-model object [%s]", full.c_str(), command.object);
            } else if (gameCore.object_voice(link, full.c_str())) {
                previousSpeaker = speaker;
                speaker = link;
                ok = true;
            } else {
                ok = silent || log.error("Can't play voice [%s] for object [%s]", full.c_str(), command.object);
            }
        } else {
            madeSound(runner, index) = playSceneSound(instance.c_str(), full.c_str(), 1);
            ok = madeSound(runner, index).index() || silent || log.error("Can't play voice [%s]", full.c_str());
        }
        // A voice that cannot play ends its subtitle at once: every started
        // subtitle is finished.
        if (!ok) fireEvent(DialogOnSubtitleFinished, voice.group.c_str(), voice.line.c_str());
        command.delay = -(std::fabs(command.delay) + kStartedShift);
        break;
    }
    case DialogCommandAnim:
        ok = playModelSequence(object, &Model::playSequence, argument, "Can't play animation on zero object",
                               "Can't play animation for non-model object [%s]");
        break;
    case DialogCommandFace:
        ok = playModelSequence(object, &Model::playFaceSequence, argument, "Can't play face animation on zero object",
                               "Can't play face animation for non-model object [%s]");
        break;
    case DialogCommandTeleport: ok = gameCore.teleportObject(link, argument, 0.0f); break;
    case DialogCommandHide:
    case DialogCommandShow:
        ok = gameCore.customizeObject(link, argument[0] ? argument : nullptr, kind == DialogCommandShow);
        break;
    case DialogCommandScript: {
        std::string text = command.argument.substr(0, kTextLimit);
        const std::size_t space = text.find(' ');
        std::string function = text;
        std::string parameters = "nul";
        if (space != std::string::npos && space > 0) {
            function = text.substr(0, space);
            parameters = text.substr(space + 1, kTextLimit);
        }
        ScriptEventArgs args(("dlg_" + function).c_str());
        args.append(name);
        args.append(resource ? resource->name : "");
        args.append(parameters.c_str());
        if (object) args.append(object->getName());
        args.setName("dialog call");
        ok = gameCore.addScriptEvent(args, "dialog call");
        break;
    }
    case DialogCommandLook:
        lookCommand(command.object, argument);
        ok = true;
        break;
    case DialogCommandSound: {
        if (skipMode) {
            ok = true;
            break;
        }
        const std::string instance = soundInstanceName(name, command, index);
        const GameObjectLink made = playSceneSound(instance.c_str(), argument, 0);
        madeSound(runner, index) = made;
        ok = made.index() != 0;
        if (!ok) {
            log.error("Can't play sound [%s] for object [%s]", argument, command.object);
        } else if (object) {
            gameCore.linkObjects(made, link);
        }
        command.delay = -(std::fabs(command.delay) + kStartedShift);
        break;
    }
    case DialogCommandPlay:
    case DialogCommandStop: ok = gameCore.setObjectPlay(link, kind == DialogCommandPlay); break;
    case DialogCommandReset: ok = gameCore.resetObject(link); break;
    default: break;
    }
    if (ok && kind != DialogCommandVoice && kind != DialogCommandSound) command.kind = DialogCommandDone;
    if (ok) {
        log.dialogInfo("%3.1f#%20s >> %20s(%s)\t\t\t>>>  %s:%s[[DLG_CMD]](%i)>", elapsed, command.object,
                       dialogCommandName(kind), argument, name, labelName, phraseIndex);
        return;
    }
    log.dialogError("%3.1f#FAILED>>>    %s:%s[[DLG_CMD]](%i)>  #%s>> %s(%s)", elapsed, name, labelName, phraseIndex,
                    command.object, dialogCommandName(kind), argument);
    command.kind = DialogCommandInvalid;
}

void Dialog::checkCommandEnd(PhrasePlayer& runner, std::int32_t index, DialogCommand& command, const CurrentTime& time,
                             bool force) {
    Log& log = engineLog();
    if (command.kind == DialogCommandSound) {
        const std::string instance = soundInstanceName(name, command, index);
        const GameObjectLink made = madeSound(runner, index);
        if (!force && sceneSoundPlays(made, instance)) return;
        deleteSceneSound(made, instance);
        command.kind = DialogCommandDone;
        log.dialogInfo("Dialog: Stopped sound [%s]", instance.c_str());
        return;
    }
    if (command.kind != DialogCommandVoice) return;
    const VoiceName voice = splitVoice(voiceText(runner, command));
    const std::string full = voice.group + "\\" + voice.line;
    const std::string instance = std::string(name) + "." + voice.line;
    const GameObjectLink link = resolveObject(command.object);
    GameObject* object = resolve(link);
    if (!force) {
        bool playing = false;
        if (soundIsOff()) {
            const double elapsed = time.game.time - runner.start;
            const double delay = command.delay < 0.0f ? -static_cast<double>(command.delay) - kStartedShift
                                                      : static_cast<double>(command.delay);
            playing = elapsed >= 0.0 && elapsed < delay + voiceLength(full);
        } else if (object) {
            playing = gameCore.test_voice(link);
        } else {
            playing = sceneSoundPlays(madeSound(runner, index), instance);
        }
        if (playing) return;
    }
    if (object)
        gameCore.stop_voice(link);
    else
        deleteSceneSound(madeSound(runner, index), instance);
    fireEvent(DialogOnSubtitleFinished, voice.group.c_str(), voice.line.c_str());
    command.kind = DialogCommandDone;
    log.dialogInfo("Dialog: Stopped voice [%s]", full.c_str());
}
