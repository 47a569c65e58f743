// Saving and loading the whole game through the game-core record: each
// subsystem writes its block in a fixed order and reads it back in the same
// order. A member that is absent writes and reads no block.
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/GameCore.h"
#include "app/ObjectFactories.h"
#include "app/SaveGame.h"
#include "control/PhysicsScene.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "render/RenderCore.h"
#include "game/QuestLogic.h"
#include "input/InputCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptEngine.h"
#include "script/VariablesCore.h"

std::int32_t GameCore::save_all(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags))) return total;
    const std::size_t maskLength = strnlen(cameraMask, sizeof(cameraMask) - 1);
    if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(maskLength)))) return total;
    if (maskLength > 0 && !addField(total, stream.write(cameraMask, static_cast<std::int32_t>(maskLength))))
        return total;
    if (game && !addField(total, game->write(stream))) return total;
    if (questLogic && !addField(total, questLogic->write(stream))) return total;
    if (script && !addField(total, script->write(stream))) return total;
    if (input && !addField(total, input->write(stream))) return total;
    if (clocks && !addField(total, clocks->write(stream))) return total;
    if (variables && !addField(total, variables->globals().saveState(stream))) return total;
    // Reserved block: always empty.
    if (!addField(total, writeU32(stream, 0))) return total;
    if (objects && !addField(total, objects->write(stream))) return total;
    return total;
}

namespace {

// The camera mask of the game data: a u16 length and its bytes.
std::int32_t readCameraMask(DataStream& stream, char (&mask)[128]) {
    std::int32_t total = 0;
    std::memset(mask, 0, sizeof(mask));
    std::uint16_t maskLength = 0;
    if (!addField(total, readU16(stream, maskLength))) return total;
    if (maskLength >= sizeof(mask)) {
        engineLog().error("Can't load game: camera mask of %u bytes does not fit its field",
                          static_cast<unsigned>(maskLength));
        return -1;
    }
    if (maskLength > 0) addField(total, readExact(stream, mask, maskLength));
    return total;
}

// The reserved block: a u32 length and that many bytes, skipped.
std::int32_t skipReservedBlock(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t reserved = 0;
    if (!addField(total, readU32(stream, reserved))) return total;
    if (reserved > static_cast<std::uint32_t>(bytesLeft(stream))) {
        engineLog().error("Can't load game: reserved block of %u bytes runs past the end of the data",
                          static_cast<unsigned>(reserved));
        return -1;
    }
    stream.setPosition(stream.tell() + static_cast<std::int32_t>(reserved));
    return total + static_cast<std::int32_t>(reserved);
}

}  // namespace

std::int32_t GameCore::check_all(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t savedFlags = 0;
    char mask[128];
    if (!addField(total, readU32(stream, savedFlags))) return total;
    if (!addField(total, readCameraMask(stream, mask))) return total;
    std::vector<std::uint32_t> sceneList;
    std::int32_t current = -1;
    if (game && !addField(total, game->read(stream, false, &sceneList, &current))) return total;
    if (questLogic) {
        QuestLogic scratch;
        if (!addField(total, scratch.read(stream))) return total;
    }
    if (script && !addField(total, script->read(stream, false))) return total;
    if (input) {
        InputCore scratch;
        if (!addField(total, scratch.read(stream))) return total;
    }
    if (clocks) {
        TimeCore scratch;
        if (!addField(total, scratch.read(stream))) return total;
    }
    if (variables && !addField(total, variables->globals().loadState(stream, false))) return total;
    if (!addField(total, skipReservedBlock(stream))) return total;
    std::vector<std::uint32_t> savedScenes;
    if (objects) {
        std::vector<SceneListedObject> listed;
        std::vector<ObjectRepository::SavedRecord> saved;
        PhysicsSaveCheck physics;
        const auto objectData = [&](const ObjectRepository::SavedRecord& record, DataStream& s) {
            if (record.type == ObjectScene) savedScenes.push_back(record.handle & kGameObjectHandleMask);
            saved.push_back(record);
            return checkObjectForLoading(record, s, physics, &listed);
        };
        if (!addField(total, objects->check(stream, objectData))) return total;
        if (!physics.linksHold()) return -1;
        // Every object a scene lists comes back with it: a handle that names
        // no saved object of the list's type would fail the scene's load.
        for (const SceneListedObject& object : listed) {
            const auto found = std::find_if(saved.begin(), saved.end(), [&object](const auto& record) {
                return record.handle == object.handle && record.type == object.type;
            });
            if (found == saved.end()) {
                engineLog().error("Can't load game: a scene lists %s [%u] that the save does not hold",
                                  gameObjectTypeName(object.type), static_cast<unsigned>(object.handle));
                return -1;
            }
        }
    }
    // The game comes back with a current scene among the loaded ones.
    if (game) {
        const bool listed = current >= 0 && current < static_cast<std::int32_t>(sceneList.size());
        const std::uint32_t handle = listed ? sceneList[static_cast<std::size_t>(current)] & kGameObjectHandleMask : 0;
        if (!listed || (objects && std::find(savedScenes.begin(), savedScenes.end(), handle) == savedScenes.end())) {
            engineLog().error("Current scene not selected");
            return -1;
        }
    }
    return total;
}

std::int32_t GameCore::load_all(DataStream& stream) {
    if (game && !game->releaseScenes()) {
        engineLog().error("---------Fail to release current scenes data---------");
        engineLog().flush();
        return -1;
    }
    if (variables && !variables->globals().initialize()) engineLog().info("Can't reset globals data");
    cameraMode = kCameraModeStillframe;
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, flags))) return total;
    if (!addField(total, readCameraMask(stream, cameraMask))) return total;
    if (game && !addField(total, game->read(stream))) return total;
    if (questLogic && !addField(total, questLogic->read(stream))) return total;
    if (script && !addField(total, script->read(stream))) return total;
    if (input && !addField(total, input->read(stream))) return total;
    if (clocks && !addField(total, clocks->read(stream))) return total;
    if (variables && !addField(total, variables->globals().loadState(stream))) return total;
    if (game) game->startProgress();
    if (!addField(total, skipReservedBlock(stream))) return total;
    if (objects && !addField(total, objects->read(stream))) return total;
    Scene* scene = game ? game->currentScene() : nullptr;
    if (!scene) {
        engineLog().error("Current scene not selected");
        return -1;
    }
    if (!scene->push()) {
        engineLog().error("Fail to push loaded scene");
        engineLog().flush();
        return -1;
    }
    if (ResourceManagerBase* models = render ? render->dataManager(RenderDataManager::Model) : nullptr;
        models && !models->allocateAll())
        return engineLog().error("Fail to re-allocate model textures"), -1;
    if (!game->afterGameLoad()) return engineLog().error("---------Fail to initialize new scenes data---------"), -1;
    return total;
}
