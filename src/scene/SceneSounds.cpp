// The scene's dialogs, its five sound lists and the look target.
#include <cmath>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "game/Dialog.h"
#include "game/DialogDataManager.h"
#include "scene/CameraCore.h"
#include "scene/CameraSettings.h"
#include "scene/Scene.h"
#include "scene/SceneInternal.h"
#include "scene/SceneObjectFlags.h"

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
