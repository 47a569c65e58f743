#include "scene/SceneDataManager.h"

#include "render/RenderList.h"
#include "scene/SceneContext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "effects/LightDataManager.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/LoadingProgress.h"
#include "scene/SceneContext.h"

namespace {

SceneDataManager* installedManager = nullptr;

// The least stored size of one entry of each list, for the count checks.
constexpr std::int32_t kMinModelRecord = 2 + 48 + 4 + 4 + 4 + 4;
constexpr std::int32_t kMinSpriteRecord = 2 + 48;
constexpr std::int32_t kMinLightRecord = 4 + 4 + 12 + 4 + 60 + 2 + 48 + 4 + 8 + 1 + 52;
constexpr std::int32_t kMinPoseRecord = 4 + 4 + 1 + 48;

// Reads a u32 count and checks that the bytes left can hold that many
// entries of at least minSize bytes each.
bool readCount(DataStream& stream, std::int32_t& total, std::uint32_t& count, std::int32_t minSize,
               const char* sceneName, const char* what) {
    if (!addField(total, readU32(stream, count))) return false;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream) / minSize)) {
        engineLog().error("Can't read scene data [%s]: %u %s do not fit in the record", sceneName, count, what);
        total = -1;
        return false;
    }
    return true;
}

// A placement's two names and pose; names longer than their 128-byte
// fields are refused.
bool readPlacement(DataStream& stream, std::int32_t& total, char* name, char* second, Matrix34& pose,
                   const char* sceneName) {
    NamedPlacement placement;
    const std::int32_t result = readNamedPlacement(stream, placement);
    if (result < 0) {
        if (bytesLeft(stream) > 0)
            engineLog().error("Can't read scene data [%s]: a name is longer than 127 characters", sceneName);
        total = result;
        return false;
    }
    if (!allFinite(placement.pose.m, 12)) {
        engineLog().error("Can't read scene data [%s]: the pose of [%s] holds numbers that are not finite", sceneName,
                          placement.name);
        total = -1;
        return false;
    }
    std::memcpy(name, placement.name, sizeof(placement.name));
    std::memcpy(second, placement.second, sizeof(placement.second));
    pose = placement.pose;
    total += result;
    return true;
}

bool writePlacement(DataStream& stream, std::int32_t& total, const char* name, const char* second,
                    const Matrix34& pose) {
    NamedPlacement placement;
    copyName(placement.name, sizeof(placement.name), name);
    copyName(placement.second, sizeof(placement.second), second);
    placement.pose = pose;
    return addField(total, writeNamedPlacement(stream, placement));
}

}  // namespace

SceneDataManager* sceneDataManager() { return installedManager; }
void setSceneDataManager(SceneDataManager* manager) { installedManager = manager; }

void SceneData::release() {
    for (SceneModelPlacement& model : models) model.properties.clearRules();
    models.clear();
    sprites.clear();
    lights.clear();
    poses.clear();
    pvs.clear();
}

std::int32_t SceneData::read(DataStream& stream) {
    Log& log = engineLog();
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(stream, magic))) return total;
    if (magic != kSceneDataMagic) return log.error("Can't read scene data: wrong magic 0x%08X", magic) ? 0 : -1;
    if (!addField(total, readString8(stream, name, sizeof(name))))
        return log.error("Can't read scene data: the name is longer than 127 characters") ? 0 : -1;

    std::uint32_t count = 0;
    if (!readCount(stream, total, count, kMinModelRecord, name, "models")) return total;
    models.resize(count);
    for (SceneModelPlacement& model : models) {
        NameTable4::init(model.properties);
        if (!readPlacement(stream, total, model.name, model.model, model.pose, name)) return total;
        if (!addField(total, model.properties.read(stream)))
            return log.error("Can't read scene data [%s]: bad properties of model [%s]", name, model.name) ? 0 : -1;
    }
    if (!readCount(stream, total, count, kMinSpriteRecord, name, "sprites")) return total;
    sprites.resize(count);
    for (SceneSpritePlacement& sprite : sprites)
        if (!readPlacement(stream, total, sprite.name, sprite.sprite, sprite.pose, name)) return total;
    if (!readCount(stream, total, count, kMinLightRecord, name, "lights")) return total;
    lights.resize(count);
    for (std::unique_ptr<Y3Light>& light : lights) {
        if (!addField(total, Y3Light::read(stream, light)))
            return log.error("Can't read scene data [%s]: bad light record", name) ? 0 : -1;
        if (!allFinite(light->pose.m, 12) || !std::isfinite(light->radius))
            return log.error("Can't read scene data [%s]: light [%s] holds numbers that are not finite", name,
                             light->name) ? 0 : -1;
    }
    if (!readCount(stream, total, count, kMinPoseRecord, name, "poses")) return total;
    poses.resize(count);
    for (std::unique_ptr<Y3Pose>& pose : poses) {
        if (!addField(total, Y3Pose::readBinary(stream, pose)))
            return log.error("Can't read scene data [%s]: bad pose record", name) ? 0 : -1;
        if (!allFinite(pose->pose.m, 12))
            return log.error("Can't read scene data [%s]: waypoint [%s] holds numbers that are not finite", name,
                             pose->id) ? 0 : -1;
    }
    if (!addField(total, pvs.read(stream, false))) {
        log.error("Can't read scene data [%s]: bad visibility block", name);
        return total;
    }
    // The record is the whole resource: what follows the visibility block
    // means a count or a length read wrong somewhere before it.
    if (const std::int32_t left = bytesLeft(stream); left > 0)
        return log.error("Can't read scene data [%s]: %i bytes left after the visibility block", name, left) ? 0 : -1;
    return total;
}

std::int32_t SceneData::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kSceneDataMagic)) || !addField(total, writeString8(stream, name)) ||
        !addField(total, writeU32(stream, static_cast<std::uint32_t>(models.size()))))
        return total;
    for (const SceneModelPlacement& model : models)
        if (!writePlacement(stream, total, model.name, model.model, model.pose) ||
            !addField(total, model.properties.write(stream)))
            return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(sprites.size())))) return total;
    for (const SceneSpritePlacement& sprite : sprites)
        if (!writePlacement(stream, total, sprite.name, sprite.sprite, sprite.pose))
            return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(lights.size())))) return total;
    for (const std::unique_ptr<Y3Light>& light : lights)
        if (!light || !addField(total, light->write(stream))) return light ? total : -1;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(poses.size())))) return total;
    for (const std::unique_ptr<Y3Pose>& pose : poses)
        if (!pose || !addField(total, pose->writeBinary(stream))) return pose ? total : -1;
    addField(total, pvs.write(stream, false));
    return total;
}

Y3SceneDataInstance::Y3SceneDataInstance(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::SceneData)) {}

Y3SceneDataInstance::~Y3SceneDataInstance() {
    // A context still held (its scenes were never popped) leaves the list
    // with the record.
    if (renderObject.list) renderObject.list->unlink(renderObject);
    delete renderObject.context;
    renderObject.context = nullptr;
    context = nullptr;
    dispose();
}

void Y3SceneDataInstance::releaseData() {
    if (data) data->release();
    data.reset();
}

std::int32_t Y3SceneDataInstance::readHeader(DataStream& stream) {
    data = std::make_unique<SceneData>();
    const std::int32_t result = data->read(stream);
    if (result < 0) {
        engineLog().error("Can't load scene data [%s]: the record is damaged", name);
        releaseData();
        return result;
    }
    allocateLights(name);
    return result;
}

bool Y3SceneDataInstance::allocateLights(const char* sceneName) {
    if (!data) return false;
    bool result = true;
    for (std::size_t i = 0; i < data->lights.size(); ++i) {
        const Y3Light* light = data->lights[i].get();
        if (!light) continue;
        if (!loadLightResource(sceneName, *light, true)->loaded()) {
            result = engineLog().error("Can't load scene [%s] light [%i:%s]", sceneName, static_cast<int>(i),
                                       light->name);
        }
    }
    return result;
}
