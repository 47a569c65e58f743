// The scene's dialogs, its five sound lists and the look target.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "foundation/Log.h"
#include "game/Dialog.h"
#include "game/DialogDataManager.h"
#include "scene/CameraCore.h"
#include "scene/CameraSettings.h"
#include "scene/Scene.h"
#include "scene/SceneInternal.h"
#include "scene/SceneObjectFlags.h"
#include "scene/Y3Pose.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"

using scene_detail::resolve;

namespace {

bool validList(std::uint32_t list) {
    if (list < kSceneSoundLists) return true;
    engineLog().error("INVALID SOUND INDEX");
    return false;
}

}  // namespace

GameObjectLink Scene::findDialog(const char* dialogName) const {
    if (dialogName)
        for (GameObjectLink link : dialogs)
            if (GameObject* dialog = resolve(link); dialog && std::strcmp(dialog->getName(), dialogName) == 0)
                return link;
    return GameObjectLink{};
}

GameObject* Scene::createDialog(const char* dialogName, bool main) {
    Log& log = engineLog();
    if (main && resolve(mainDialog)) {
        log.error("Can't create new main scene dialog: Delete old main scene dialog first");
        return nullptr;
    }
    if (findDialog(dialogName).index()) {
        log.error("Dialog with name [%s] already exist in scene [%s]", dialogName, name);
        return nullptr;
    }
    std::string dialogPart;
    std::string labelPart;
    if (!DialogDataManager::splitLabelName(dialogName, dialogPart, labelPart)) {
        log.error("Can't validate dialog name");
        return nullptr;
    }
    Y3DialogData* record = gameCore.dialogs ? gameCore.dialogs->getOrCreate(dialogPart.c_str(), true) : nullptr;
    Dialog* dialog = record ? record->createDialog(labelPart.c_str(), id) : nullptr;
    if (!dialog) {
        log.error("Cannot create dialog instance [%s] (in scene [%s]", dialogName, name);
        return nullptr;
    }
    dialogs.push_back(GameObjectLink::fromObject(dialog));
    if (onStack()) dialog->push();
    scene_detail::tick();
    if (main) mainDialog = GameObjectLink::fromObject(dialog);
    return dialog;
}

bool Scene::delDialog(const char* dialogName) {
    const GameObjectLink link = findDialog(dialogName);
    GameObject* dialog = resolve(link);
    if (!dialog)
        return engineLog().error("delDialog(): Can't find dialog object [%s] in scene [%s]",
                                 dialogName ? dialogName : "", name);
    if (mainDialog.index() == link.index()) mainDialog = GameObjectLink{};
    for (std::size_t i = 0; i < dialogs.size(); ++i)
        if (dialogs[i].index() == link.index()) {
            scene_detail::removeAt(dialogs, i);
            break;
        }
    if (onStack()) dialog->pop(0);
    dialog->release();
    delete dialog;
    return true;
}

std::int32_t Scene::findSound(std::uint32_t list, const char* soundName) const {
    if (!validList(list) || !soundName || !soundName[0]) return -1;
    for (std::size_t i = 0; i < sounds[list].size(); ++i)
        if (GameObject* sound = resolve(sounds[list][i]); sound && std::strcmp(sound->getName(), soundName) == 0)
            return static_cast<std::int32_t>(i);
    return -1;
}

GameObject* Scene::addSound(std::uint32_t list, const char* soundName, const char* alias, std::uint32_t flags) {
    if (!validList(list)) return nullptr;
    if (!soundName) {
        soundName = "auto-sound-id";
    } else if (findSound(list, soundName) >= 0) {
        engineLog().error("Scene sound [%s] already exist in scene [%s]", soundName, name);
        return nullptr;
    }
    auto factory = sceneFactories().sound;
    GameObject* sound = factory ? factory(*this, list, alias, soundName, flags | kSoundAllocatedFlag) : nullptr;
    if (!sound) return nullptr;
    sounds[list].push_back(GameObjectLink::fromObject(sound));
    return sound;
}

bool Scene::deleteSoundAt(std::uint32_t list, std::int32_t index) {
    if (!validList(list)) return false;
    GameObject* sound = index >= 0 && static_cast<std::size_t>(index) < sounds[list].size()
                            ? resolve(sounds[list][static_cast<std::size_t>(index)])
                            : nullptr;
    if (!sound) return engineLog().error("Can't delete NULL scene sound %i", index);
    const SceneFactories& hooks = sceneFactories();
    if (hooks.soundInHandler && hooks.soundInHandler(*sound))
        return engineLog().error("Sound [%s] try to delete self from our event handler", sound->getName());
    if (hooks.soundPlaying && hooks.soundStop && hooks.soundPlaying(*sound)) hooks.soundStop(*sound);
    scene_detail::removeAt(sounds[list], static_cast<std::size_t>(index));
    sound->release();
    delete sound;
    return true;
}

bool Scene::deleteSound(std::uint32_t list, const char* soundName) {
    if (!validList(list)) return false;
    const std::int32_t index = findSound(list, soundName);
    // An unknown name is a failure whatever the volume: the caller asked
    // for a sound that is not there.
    if (index < 0)
        return engineLog().error("Can't find scene sound [%s]: Sound Delete failed", soundName ? soundName : "");
    return deleteSoundAt(list, index);
}

bool Scene::pushSounds() {
    Log& log = engineLog();
    bool result = true;
    for (std::uint32_t list = 0; list < kSceneSoundLists; ++list)
        for (std::size_t i = 0; i < sounds[list].size(); ++i) {
            GameObject* sound = resolve(sounds[list][i]);
            if (!sound) {
                result = log.error("The [%s] sound %i in scene [%s] has NULL ptr", sceneSoundListName(list),
                                   static_cast<int>(i), name);
                continue;
            }
            auto* state = dynamic_cast<SceneObjectFlags*>(sound);
            if (state && (state->stateFlags() & kSoundOnStackFlag)) {
                log.systemError("Sound [%s] already allocated and on stack. The sound cannot be pushed",
                                sound->getName());
                continue;
            }
            if (!sound->push())
                result = log.error("Can't push [%s] sound [%s] in scene [%s] has NULL ptr", sceneSoundListName(list),
                                   sound->getName(), name);
            scene_detail::tick();
        }
    return result;
}

bool Scene::popSounds() {
    bool result = true;
    for (std::uint32_t list = 0; list < kSceneSoundLists; ++list)
        for (std::size_t i = 0; i < sounds[list].size(); ++i) {
            if (GameObject* sound = resolve(sounds[list][i])) sound->pop(0);
            else
                result = engineLog().error("The [%s] sound %i in scene [%s] has NULL ptr", sceneSoundListName(list),
                                           static_cast<int>(i), name);
        }
    return result;
}

bool Scene::restoreSounds(const CurrentTime& time) {
    const SceneFactories& hooks = sceneFactories();
    for (std::uint32_t list = 0; list < kSceneSoundLists; ++list)
        for (std::size_t i = 0; i < sounds[list].size(); ++i) {
            GameObject* sound = resolve(sounds[list][i]);
            if (!sound)
                return engineLog().error("The [%s] sound [%i] in scene [%s] has NULL ptr", sceneSoundListName(list),
                                         static_cast<int>(i), name);
            if (hooks.soundPlaying && hooks.soundRestore && hooks.soundPlaying(*sound))
                hooks.soundRestore(*sound, time);
        }
    return true;
}

namespace {

constexpr char kAmbientPrefix[] = "auto#amb@snd=";
constexpr std::size_t kAmbientPrefixLength = sizeof(kAmbientPrefix) - 1;
constexpr std::int32_t kAmbientEditorState = 9;
constexpr std::int32_t kNoAmbientState = 6;
constexpr std::uint32_t kDebugAmbientFlag = 0x10;
// Ambient sounds loop: the "ambient_loop" list.
constexpr std::uint32_t kAmbientLoopList = 3;
// Ground volumes whose id begins so name the ambient set of the ground
// beneath the camera. The band of heights tested runs from a little below
// the ground to far above it; a volume counts when the camera stands no
// more than 0.1 below its ground, and the nearest beneath it wins.
constexpr char kSoundVolumePrefix[] = "sound:";
constexpr std::size_t kSoundVolumePrefixLength = sizeof(kSoundVolumePrefix) - 1;
constexpr float kSoundVolumeLower = -1.0f;
constexpr float kSoundVolumeUpper = 1.0e6f;
constexpr float kSoundVolumeThreshold = -0.1f;

// One wanted ambient sound: read from "sounds.ambient.3d.ambient_<name>",
// either the alias itself or a table of "alias", "time" (the fade-in in
// seconds, 1.0 when absent) and "enabled" (1 when absent).
struct AmbientEntry {
    std::string name;
    std::string alias;
    bool enabled = true;
    float time = 1.0f;
    ScriptVariable* variable = nullptr;
};

bool readAmbientEntry(const std::string& name, AmbientEntry& entry) {
    ScriptVariable* root = gameCore.variables ? gameCore.variables->globals().root() : nullptr;
    const std::string path = "sounds.ambient.3d.ambient_" + name;
    if (!root || !ScriptVariable::test(root, path.c_str())) {
        engineLog().error("\n\nCan't find script variable [%s.%s]", "globals", path.c_str());
        return false;
    }
    ScriptVariable* node = ScriptVariable::resolvePath(root, path.c_str());
    entry.name = name;
    entry.variable = node;
    if (node->childCount() == 0) {
        entry.alias = node->toString();
        return true;
    }
    if (node->test("alias")) entry.alias = node->resolvePath("alias")->toString();
    if (node->test("time")) entry.time = node->resolvePath("time")->toFloat();
    if (node->test("enabled")) entry.enabled = node->resolvePath("enabled")->toFloat() != 0.0f;
    return true;
}

}  // namespace

std::string ambientSoundAlias(const char* soundName) {
    if (!soundName || std::strncmp(soundName, kAmbientPrefix, kAmbientPrefixLength) != 0) return "";
    AmbientEntry entry;
    return readAmbientEntry(soundName + kAmbientPrefixLength, entry) ? entry.alias : "";
}

void Scene::chooseAmbientSetByVolume() {
    const CameraCore* current = camera();
    if (!current) return;
    const float* at = current->position();
    const Y3Pose* chosen = nullptr;
    float nearest = 0.0f;
    for (const std::unique_ptr<Y3Pose>& pose : staticWaypoints()) {
        if (pose->type() != PoseVolume || std::strncmp(pose->id, kSoundVolumePrefix, kSoundVolumePrefixLength) != 0)
            continue;
        // How far the camera stands above the volume's ground; a volume the
        // camera is not over gives 2 x the lower bound, below the threshold.
        const float height =
            static_cast<const Y3Pose_Volume&>(*pose).heightAbove(at, kSoundVolumeLower, kSoundVolumeUpper);
        if (height >= kSoundVolumeThreshold && (!chosen || height < nearest)) {
            chosen = pose.get();
            nearest = height;
        }
    }
    if (chosen) copyName(ambientSet, sizeof(ambientSet), chosen->id + kSoundVolumePrefixLength);
}

void Scene::updateAmbientSounds() {
    const bool debug = (gameCore.debugFlags & kDebugAmbientFlag) != 0;
    if (gameCore.gameState == kAmbientEditorState && !debug) {
        ambientSet[0] = 0;
    } else {
        if (!ambientSet[0]) copyName(ambientSet, sizeof(ambientSet), "default");
        // A saved game being loaded keeps the set it saved.
        if (!(gameCore.game && gameCore.game->loading)) chooseAmbientSetByVolume();
    }
    const std::string set = ambientSet;
    // Nothing to do while the set's sound is there (also while it fades
    // out after a change of set: it is made anew once it is gone).
    const auto present = [this](const std::string& soundName) {
        for (std::uint32_t list = 0; list < kSceneSoundLists; ++list)
            if (findSound(list, soundName.c_str()) >= 0) return true;
        return false;
    };
    if (set == ambientApplied && (ambientSound.empty() || present(ambientSound))) return;
    ambientApplied = set;
    ambientSound.clear();
    const SceneFactories& hooks = sceneFactories();

    // The ambient sounds there are now.
    std::vector<GameObject*> collected;
    for (std::vector<GameObjectLink>& list : sounds)
        for (GameObjectLink link : list)
            if (GameObject* sound = resolve(link);
                sound && std::strncmp(sound->getName(), kAmbientPrefix, kAmbientPrefixLength) == 0)
                collected.push_back(sound);

    std::vector<AmbientEntry> wanted;
    AmbientEntry entry;
    if ((debug || gameCore.gameState != kNoAmbientState) && !set.empty() && readAmbientEntry(set, entry))
        wanted.push_back(entry);
    for (const AmbientEntry& want : wanted) {
        std::string soundName = kAmbientPrefix + want.name;
        if (soundName.size() > 127) soundName.resize(127);
        bool stays = false;
        for (auto it = collected.begin(); it != collected.end(); ++it)
            if (soundName == (*it)->getName()) {
                collected.erase(it);
                stays = true;
                break;
            }
        if (stays) {
            ambientSound = soundName;
            continue;
        }
        GameObject* sound = addSound(kAmbientLoopList, soundName.c_str(), want.alias.c_str(), 0);
        if (!sound) {
            want.variable->setNumber(1.0f);
            continue;
        }
        ambientSound = soundName;
        if (hooks.soundStartBlend) hooks.soundStartBlend(*sound, want.enabled ? 1.0f : 0.0f, want.time);
        if (auto* state = dynamic_cast<SceneObjectFlags*>(sound)) state->stateFlags() |= kSoundAutomaticFlag;
    }
    for (GameObject* sound : collected) {
        if (hooks.soundFade) hooks.soundFade(*sound, 1.0f);
        if (auto* state = dynamic_cast<SceneObjectFlags*>(sound)) state->stateFlags() |= kSoundFadeDeleteFlag;
    }
}

bool Scene::refreshSounds(bool skip) {
    if (skip || !sceneFactories().soundRefresh) return true;
    bool result = true;
    for (std::vector<GameObjectLink>& list : sounds)
        for (GameObjectLink link : list)
            if (GameObject* sound = resolve(link); sound && !sceneFactories().soundRefresh(*sound)) result = false;
    return result;
}

bool Scene::findLookTarget(Matrix34& out, GameObject* looking) {
    // The main dialog's look rule first; without an answer of its own the
    // scene's automatic rule decides.
    if (looking)
        if (auto* dialog = dynamic_cast<Dialog*>(resolve(mainDialog)); dialog && dialog->lookTarget(looking, out))
            return true;
    if (scene_detail::stateIndex() == 10) return false;
    if (cameras.empty()) return false;
    const CameraCore& first = *cameras.front();
    struct Candidate {
        Matrix34 head;
        float elevation;
        float depth;
    };
    std::vector<Candidate> candidates;
    for (GameObjectLink link : models) {
        GameObject* model = resolve(link);
        auto* state = dynamic_cast<SceneObjectFlags*>(model);
        if (!state) continue;
        const std::uint32_t word = state->stateFlags();
        if ((word & kLookTargetKind) != kLookTargetKind || !(word & kModelVisible)) continue;
        Matrix34 head = matrix34Identity();
        if (!model->getWorldMatrix(head)) continue;
        const float* p = head.m + 9;
        const float* v = first.viewMatrix;
        float view[3];
        for (int c = 0; c < 3; ++c) view[c] = p[0] * v[c] + p[1] * v[4 + c] + p[2] * v[8 + c] + v[12 + c];
        const float depth = -view[2];
        const float lateral = std::sqrt(view[0] * view[0] + view[1] * view[1]);
        const float elevation = std::atan2(depth, lateral);
        const float distance = std::sqrt(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
        if (distance <= cameraSettings.dofMaximumFocusAimDistance && elevation >= 0.35f)
            candidates.push_back({head, elevation, depth});
    }
    for (int pass = 0; pass < 2; ++pass) {
        const Candidate* best = nullptr;
        float bestDepth = 0.0f;
        for (const Candidate& candidate : candidates)
            if ((pass == 1 || candidate.elevation >= cameraSettings.dofMaximumFocusAngle) &&
                candidate.depth > bestDepth) {
                best = &candidate;
                bestDepth = candidate.depth;
            }
        if (best) {
            out = best->head;
            return true;
        }
    }
    return false;
}
