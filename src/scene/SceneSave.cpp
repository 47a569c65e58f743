// The scene's save record: its fields in a fixed order, and the blend lists
// that only this record carries.
//
// Reading runs the record twice: once into scratch objects, which refuses a
// damaged record before anything of the scene changes (the same pass checks
// a save before a restore), then into the scene.
#include <cstring>
#include <iterator>

#include "effects/RainMap.h"
#include "effects/Y3Sky.h"
#include "game/SceneActionDataManager.h"
#include "foundation/DataStream.h"
#include "foundation/Intersection.h"
#include "foundation/Log.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"
#include "scene/SceneRecordCheck.h"
#include "scene/Trigger.h"
#include "scene/Y3Pose.h"

namespace {

constexpr std::size_t kTextField = 128;
// Set after a read so that the next update pass updates every object.
constexpr std::uint32_t kSceneReadBits = kSceneRefreshGrid | kSceneUpdateAll;

// A u16 length and the bytes, no terminator.
std::int32_t writeText(DataStream& stream, const char* text) {
    const std::size_t length = strnlen(text, kTextField - 1);
    std::int32_t total = 0;
    if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(length)))) return total;
    if (length) addField(total, stream.write(text, static_cast<std::int32_t>(length)));
    return total;
}

// Clears the field first; a length that does not fit its 128 bytes is refused.
std::int32_t readText(DataStream& stream, char* field) {
    std::memset(field, 0, kTextField);
    std::int32_t total = 0;
    std::uint16_t length = 0;
    if (!addField(total, readU16(stream, length))) return total;
    if (length >= kTextField) {
        engineLog().error("Can't read scene record: text of %u characters is too long", length);
        return -1;
    }
    if (length) addField(total, readExact(stream, field, length));
    return total;
}

std::int32_t writeHandles(DataStream& stream, const std::vector<GameObjectLink>& list) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(list.size())))) return total;
    for (GameObjectLink link : list)
        if (!addField(total, writeU32(stream, link.value))) return total;
    return total;
}

std::int32_t readHandles(DataStream& stream, std::vector<GameObjectLink>* list) {
    std::vector<std::uint32_t> values;
    const std::int32_t result = readUIntArray(stream, values);
    if (result < 0 || !list) return result;
    list->clear();
    for (std::uint32_t value : values) list->push_back(GameObjectLink{value});
    // The list now holds other objects: the scene's name indexes rebuild.
    GameObject::nameChanged();
    return result;
}

std::int32_t writeArea(DataStream& stream, const LightArea& area) {
    std::int32_t total = 0;
    for (const LightSetEntry& entry : area.entries)
        if (!addField(total, writeText(stream, entry.name))) return total;
    if (!addField(total, writeText(stream, area.name))) return total;
    addField(total, area.volume.write(stream));
    return total;
}

std::int32_t readArea(DataStream& stream, LightArea& area) {
    std::int32_t total = 0;
    for (LightSetEntry& entry : area.entries)
        if (!addField(total, readText(stream, entry.name))) return total;
    if (!addField(total, readText(stream, area.name))) return total;
    addField(total, area.volume.read(stream));
    return total;
}

bool areasResolved(const SceneLighting& lighting) {
    for (const std::unique_ptr<LightArea>& area : lighting.areas)
        for (const LightSetEntry& entry : area->entries)
            if (entry.name[0] && !entry.set) return false;
    return true;
}

// A u32 count bounded by the bytes left, at least minSize bytes an entry.
std::int32_t readCount(DataStream& stream, std::uint32_t& count, std::uint32_t minSize, const char* what) {
    const std::int32_t result = readU32(stream, count);
    if (result < 0) return result;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / minSize) {
        engineLog().error("Can't read scene record: %u %s beyond the end", count, what);
        return -1;
    }
    return result;
}

// The fields from the cameras to the dialogs: read into the scene, or,
// without one, into scratch objects that are thrown away.
// The handles of a list read for a check, each with the list's type.
std::int32_t checkHandles(DataStream& stream, std::uint32_t type, std::vector<SceneListedObject>* listed) {
    std::vector<std::uint32_t> values;
    const std::int32_t result = readUIntArray(stream, values);
    if (result >= 0 && listed)
        for (std::uint32_t value : values)
            if (value) listed->push_back({type, value});
    return result;
}

std::int32_t readFields(DataStream& stream, Scene* scene, std::vector<SceneListedObject>* listed = nullptr) {
    std::int32_t total = 0;
    std::uint32_t flags = 0;
    if (!addField(total, readU32(stream, flags))) return total;
    // Whether the scene is on stack is the scene's own state, never the
    // record's: a failed read must not leave a scene that believes it was
    // pushed (its release would pop what was never pushed).
    if (scene) scene->flags = (flags & ~kSceneOnStack) | (scene->flags & kSceneOnStack);

    SceneLighting scratchLighting(nullptr);
    SceneLighting& lighting = scene ? scene->lighting : scratchLighting;
    for (LightSetEntry& entry : lighting.defaults)
        if (!addField(total, readText(stream, entry.name))) return total;
    std::uint32_t count = 0;
    if (!addField(total, readCount(stream, count, 5 * 2, "light areas"))) return total;
    lighting.areas.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        auto area = std::make_unique<LightArea>(&lighting);
        if (!addField(total, readArea(stream, *area))) return total;
        lighting.areas.push_back(std::move(area));
    }
    // The default sets may be missing (a debug scene has none); every
    // named set of an area must come back.
    if (scene && !lighting.resolveAll() && !areasResolved(lighting)) {
        engineLog().error("Fail to restore lightset links for light areas");
        return -1;
    }

    std::uint32_t physics = 0;
    std::uint32_t word = 0;
    Matrix34 startPose{};
    std::int32_t currentCamera = -1;
    std::uint32_t mainCharacter = 0;
    if (!addField(total, readU32(stream, physics)) || !addField(total, readU32(stream, word)) ||
        !addField(total, readExact(stream, startPose.m, sizeof(startPose.m))) ||
        !addField(total, readI32(stream, currentCamera)) || !addField(total, readU32(stream, mainCharacter)))
        return total;
    if (scene) {
        scene->physicsScene = GameObjectLink{physics};
        scene->sceneWord = word;
        scene->startPose = startPose;
        scene->currentCamera = currentCamera;
        scene->mainCharacter = GameObjectLink{mainCharacter};
    }

    if (!addField(total, readCount(stream, count, 4, "cameras"))) return total;
    std::vector<std::unique_ptr<CameraCore>> scratchCameras;
    std::vector<std::unique_ptr<CameraCore>>& cameras = scene ? scene->cameras : scratchCameras;
    cameras.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        auto camera = std::make_unique<CameraCore>(scene, "");
        if (!addField(total, camera->read(stream))) return total;
        cameras.push_back(std::move(camera));
    }

    SceneShadows scratchShadows;
    if (!addField(total, (scene ? scene->shadows : scratchShadows).read(stream))) return total;
    TimerCore scratchTimers;
    const std::int32_t timerBytes = (scene ? scene->timers : scratchTimers).read(stream);
    // The check's copies of the saved timers are no leftovers of a game.
    scratchTimers.deleteAll();
    if (!addField(total, timerBytes)) return total;
    if (scene) {
        if (!addField(total, scene->triggers->read(stream))) return total;
    } else if (!addField(total, readHandles(stream, nullptr))) {
        return total;
    }
    ScenePVS scratchPvs;
    ScenePVS& pvs = scene ? scene->pvs : scratchPvs;
    if (!addField(total, pvs.read(stream, true))) return total;
    // The cameras' visibility data is checked against the areas and portals
    // this record brings, which come after the cameras.
    for (const std::unique_ptr<CameraCore>& camera : cameras)
        if (!camera->pvs.fits(pvs)) return -1;
    if (scene) {
        if (!addField(total, scene->readTeleportPoints(stream))) return total;
    } else {
        std::vector<TeleportPoint> points;
        float bands[2];
        if (!addField(total, Scene::readTeleportBlock(stream, points, bands))) return total;
    }
    Y3Sky scratchSky(nullptr);
    if (!addField(total, (scene && scene->sky ? *scene->sky : scratchSky).read(stream))) return total;

    if (!addField(total, readCount(stream, count, 8, "dynamic waypoints"))) return total;
    if (scene) scene->dynamicWaypoints.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<Y3Pose> pose;
        if (!addField(total, Y3Pose::readBinary(stream, pose))) return total;
        if (!pose) return -1;
        if (scene) scene->dynamicWaypoints.push_back(std::move(pose));
    }

    char text[kTextField];
    SceneScreenActions scratchActions(nullptr, nullptr);
    if (!addField(total, (scene ? *scene->screenActions : scratchActions).read(stream))) return total;
    if (!addField(total, readText(stream, scene ? scene->ambientSet : text))) return total;
    std::vector<GameObjectLink>* lists[] = {scene ? &scene->grids : nullptr, scene ? &scene->models : nullptr,
                                            scene ? &scene->sprites : nullptr, scene ? &scene->lights : nullptr,
                                            scene ? &scene->particles : nullptr};
    constexpr std::uint32_t kListTypes[] = {ObjectGrid, ObjectModel, ObjectSprite, ObjectLight, ObjectParticle};
    // A check reads each list's handles with the list's type.
    const auto handles = [&](std::vector<GameObjectLink>* list, std::uint32_t type) {
        return scene ? readHandles(stream, list) : checkHandles(stream, type, listed);
    };
    for (std::size_t i = 0; i < std::size(lists); ++i)
        if (!addField(total, handles(lists[i], kListTypes[i]))) return total;
    for (std::uint32_t i = 0; i < kSceneSoundLists; ++i)
        if (!addField(total, handles(scene ? &scene->sounds[i] : nullptr, ObjectSound))) return total;
    std::uint32_t mainDialog = 0;
    if (!addField(total, readU32(stream, mainDialog))) return total;
    if (scene) scene->mainDialog = GameObjectLink{mainDialog};
    if (!scene && listed && mainDialog) listed->push_back({ObjectDialog, mainDialog});
    if (!addField(total, handles(scene ? &scene->dialogs : nullptr, ObjectDialog))) return total;

    if (flags & kSceneHasBlendLists) {
        if (!addField(total, readCount(stream, count, 12, "blend lists"))) return total;
        std::vector<BlendList> lists(count);
        for (BlendList& list : lists)
            if (!addField(total, list.read(stream))) return total;
        if (scene) scene->blendLists = std::move(lists);
    } else if (scene) {
        scene->blendLists.clear();
    }
    return total;
}

}  // namespace

std::int32_t BlendListItem::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, word))) return total;
    if (!addField(total, header.write(stream))) return total;
    addField(total, writeText(stream, name));
    return total;
}

std::int32_t BlendListItem::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, word))) return total;
    if (!addField(total, header.read(stream))) return total;
    addField(total, readText(stream, name));
    return total;
}

std::int32_t BlendList::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags)) || !addField(total, writeU32(stream, second)) ||
        !addField(total, writeU32(stream, static_cast<std::uint32_t>(items.size()))))
        return total;
    for (const BlendListItem& item : items)
        if (!addField(total, item.write(stream))) return total;
    return total;
}

std::int32_t BlendList::read(DataStream& stream) {
    free();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, flags)) || !addField(total, readU32(stream, second)) ||
        !addField(total, readCount(stream, count, 4 + BlenderHeader::kRecordSize + 2, "blend items")))
        return total;
    items.resize(count);
    for (BlendListItem& item : items)
        if (!addField(total, item.read(stream))) return total;
    return total;
}

void Scene::dropFinishedBlendLists() {
    for (std::size_t i = 0; i < blendLists.size();) {
        if (blendLists[i].flags & 1u) blendLists.erase(blendLists.begin() + static_cast<std::ptrdiff_t>(i));
        else ++i;
    }
}

std::int32_t Scene::write(DataStream& stream) {
    if (rainMap && (rainMap->flags & kRainShown)) flags |= kSceneRainShown;
    if (!blendLists.empty()) flags |= kSceneHasBlendLists;
    else flags &= ~kSceneHasBlendLists;

    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags))) return total;
    for (const LightSetEntry& entry : lighting.defaults)
        if (!addField(total, writeText(stream, entry.name))) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(lighting.areas.size())))) return total;
    for (const std::unique_ptr<LightArea>& area : lighting.areas)
        if (!addField(total, writeArea(stream, *area))) return total;
    if (!addField(total, writeU32(stream, physicsScene.value)) || !addField(total, writeU32(stream, sceneWord)) ||
        !addField(total, stream.write(startPose.m, sizeof(startPose.m))) ||
        !addField(total, writeI32(stream, currentCamera)) || !addField(total, writeU32(stream, mainCharacter.value)))
        return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(cameras.size())))) return total;
    for (const std::unique_ptr<CameraCore>& camera : cameras)
        if (!addField(total, camera->write(stream))) return total;
    if (!addField(total, shadows.write(stream))) return total;
    if (!addField(total, timers.write(stream))) return total;
    if (!addField(total, triggers->write(stream))) return total;
    if (!addField(total, pvs.write(stream, true))) return total;
    if (!addField(total, writeTeleportPoints(stream))) return total;
    // The sky's five words; a scene without a sky stores those of a new one.
    const Y3Sky newSky(nullptr);
    if (!addField(total, (sky ? *sky : newSky).write(stream))) return total;
    // Dynamic waypoints with their names and poses, so that they come back.
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(dynamicWaypoints.size())))) return total;
    for (const std::unique_ptr<Y3Pose>& pose : dynamicWaypoints)
        if (!addField(total, pose->writeBinary(stream))) return total;
    if (!addField(total, screenActions->write(stream))) return total;
    if (!addField(total, writeText(stream, ambientSet))) return total;
    for (const std::vector<GameObjectLink>* list : {&grids, &models, &sprites, &lights, &particles})
        if (!addField(total, writeHandles(stream, *list))) return total;
    for (const std::vector<GameObjectLink>& list : sounds)
        if (!addField(total, writeHandles(stream, list))) return total;
    if (!addField(total, writeU32(stream, mainDialog.value))) return total;
    if (!addField(total, writeHandles(stream, dialogs))) return total;
    if (flags & kSceneHasBlendLists) {
        if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(blendLists.size())))) return total;
        for (const BlendList& list : blendLists)
            if (!addField(total, list.write(stream))) return total;
    }
    return total;
}

std::int32_t Scene::checkRecord(DataStream& stream) { return readFields(stream, nullptr); }

std::int32_t checkSceneRecord(DataStream& stream, std::vector<SceneListedObject>* listed) {
    return readFields(stream, nullptr, listed);
}

std::int32_t Scene::read(DataStream& stream) {
    const std::int32_t start = stream.tell();
    const std::int32_t checked = readFields(stream, nullptr);
    if (checked < 0) return checked;
    stream.setPosition(start);
    const std::int32_t total = readFields(stream, this);
    if (total < 0) return total;
    flags |= kSceneReadBits;
    if (flags & kSceneRainShown) showRain(true);
    return total;
}
