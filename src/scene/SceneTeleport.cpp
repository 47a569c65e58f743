// The companions' teleport trail of a scene: points dropped behind the main
// character, rated by distance each frame, and handed out out of view.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "control/ControlSettings.h"
#include "foundation/DataStream.h"
#include "foundation/Intersection.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/Scene.h"

namespace {

// A stored point closer than this to a new position keeps it from being recorded.
constexpr float kTrailSpacing = 1.0f;
// The bounding radius of the unit box a teleported companion takes.
constexpr float kTeleportBoxRadius = 1.4071248f;
// The main character leaves a trail while it is shown: bit 1 of its first
// flag word and bit 4 of its second.
constexpr std::uint32_t kTrailObjectFlag = 0x2;
constexpr std::uint32_t kTrailVisibleFlag = 0x10;

float distance(const float* a, const float* b) {
    const float d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    return vector3Length(d);
}

Matrix34 poseOf(const TeleportPoint& point) {
    Matrix34 pose;
    std::memcpy(pose.m, point.orientation, sizeof(point.orientation));
    std::memcpy(pose.m + 9, point.position, sizeof(point.position));
    return pose;
}

// True when the current camera sees the unit box standing at the pose
// (lifted 1.0).
bool seenByCamera(const Matrix34& pose) {
    IntersectionOBBox box;
    Matrix34 lifted = pose;
    lifted.m[10] += 1.0f;
    const float halfExtents[3] = {1.0f, 1.0f, 1.0f};
    orientedBoxFromMatrix(halfExtents, box.box, lifted);
    boundingSphereFromMatrix(box.sphere, lifted, kTeleportBoxRadius);
    return Scene::intersectOBB(box);
}

}  // namespace

bool Scene::intersectOBB(const IntersectionOBBox& box) {
    Scene* current = gameCore.currentScene();
    if (!current) {
        engineLog().error("Can't intersect in scene: Create scene first");
        return true;  // nothing is placed where it cannot be checked
    }
    if (gameCore.game && gameCore.game->loading) return false;
    CameraCore* camera = current->camera();
    return camera && camera->frustum.intersects(box);
}

Matrix34 makeVerticalRay(const float* point, const float* direction) {
    float horizontal[3] = {direction[0], 0.0f, direction[2]};
    if (horizontal[0] * horizontal[0] + horizontal[2] * horizontal[2] <= 0.0f) horizontal[0] = 1.0f;
    vector3Normalize(horizontal);
    Matrix34 pose;
    makeVerticalFrame(horizontal, pose.m);
    for (int k = 0; k < 3; ++k) pose.m[9 + k] = point[k];
    return pose;
}

void makeVerticalFrame(const float* direction, float* frame) {
    const float up[3] = {0.0f, 1.0f, 0.0f};
    std::memcpy(frame, direction, 3 * sizeof(float));
    std::memcpy(frame + 3, up, sizeof(up));
    vector3Cross(direction, up, frame + 6);
    vector3Normalize(frame + 6);
}

bool Scene::gridCellsAround(const float* position) const {
    const auto query = sceneFactories().gridBlockFree;
    return query && query(*this, position);
}

bool Scene::recordTeleportPoint(const float* position, double time) {
    if (!gridCellsAround(position)) return false;
    for (const TeleportPoint& point : teleportPoints)
        if (distance(point.position, position) <= kTrailSpacing) return false;
    TeleportPoint point{};
    point.time = time;
    const Matrix34 identity = matrix34Identity();
    std::memcpy(point.orientation, identity.m, sizeof(point.orientation));
    std::memcpy(point.position, position, sizeof(point.position));
    point.usable = 1;
    teleportPoints.push_back(point);
    return true;
}

bool Scene::updateTeleportPoints(const CurrentTime& time) {
    auto* character = dynamic_cast<Model*>(mainCharacterObject());
    if (!character || !(character->stateWords[0] & kTrailObjectFlag) || !(character->stateWords[1] & kTrailVisibleFlag))
        return false;
    Matrix34 world;
    character->getWorldMatrix(world);
    const float* here = world.m + 9;
    recordTeleportPoint(here, time.game.time);

    for (TeleportPoint& point : teleportPoints) {
        const float d = distance(point.position, here);
        point.distance = d;
        if (d > pathfindSettings.deadTeleportLimit) {
            point.distance = -1.0f;
        } else if (d <= pathfindSettings.timeDeadTeleportLimit) {
            float direction[3] = {here[0] - point.position[0], here[1] - point.position[1],
                                  here[2] - point.position[2]};
            if (d > 0.0f) vector3Normalize(direction);
            if (d == 0.0f || std::fabs(direction[1]) > 0.8f) {
                direction[0] = 1.0f;
                direction[1] = direction[2] = 0.0f;
            }
            makeVerticalFrame(direction, point.orientation);
            point.usable = d >= pathfindSettings.closestTeleportLimit && d <= pathfindSettings.nearTeleportRange;
        } else if (std::fabs(time.game.time - point.time) > pathfindSettings.timeDeadTeleportValue) {
            point.distance = -1.0f;
        }
    }
    for (std::size_t i = 0; i < teleportPoints.size();) {
        if (teleportPoints[i].distance >= 0.0f) {
            ++i;
            continue;
        }
        teleportPoints[i] = teleportPoints.back();
        teleportPoints.pop_back();
    }
    std::stable_sort(teleportPoints.begin(), teleportPoints.end(),
                     [](const TeleportPoint& a, const TeleportPoint& b) { return a.distance < b.distance; });
    return true;
}

bool Scene::findTeleportPoint(Matrix34& out) const {
    for (const TeleportPoint& point : teleportPoints) {
        if (!point.usable) continue;
        const Matrix34 pose = poseOf(point);
        if (seenByCamera(pose)) continue;
        out = pose;
        return true;
    }
    return false;
}

std::int32_t Scene::writeTeleportPoints(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(teleportPoints.size())))) return total;
    if (!teleportPoints.empty() &&
        !addField(total, stream.write(teleportPoints.data(),
                                      static_cast<std::int32_t>(teleportPoints.size() * sizeof(TeleportPoint)))))
        return total;
    if (!addField(total, writeF32(stream, pathfindSettings.nearTeleportRange))) return total;
    addField(total, writeF32(stream, pathfindSettings.closestTeleportLimit));
    return total;
}

std::int32_t Scene::readTeleportBlock(DataStream& stream, std::vector<TeleportPoint>& points, float* bands) {
    points.clear();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / sizeof(TeleportPoint)) {
        engineLog().error("Can't read teleport points: %u points beyond the end", count);
        return -1;
    }
    points.resize(count);
    if (count &&
        !addField(total, readExact(stream, points.data(), static_cast<std::int32_t>(count * sizeof(TeleportPoint)))))
        return total;
    if (!addField(total, readF32(stream, bands[0]))) return total;
    addField(total, readF32(stream, bands[1]));
    return total;
}

std::int32_t Scene::readTeleportPoints(DataStream& stream) {
    float bands[2] = {};
    const std::int32_t total = readTeleportBlock(stream, teleportPoints, bands);
    if (total < 0) return total;
    pathfindSettings.nearTeleportRange = bands[0];
    pathfindSettings.closestTeleportLimit = bands[1];
    return total;
}
