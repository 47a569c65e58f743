#include "control/ControllerTarget.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "app/GameCore.h"
#include "control/ControlSettings.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"

namespace {

// The AC_ACTION names in value order.
const char* const kActionNames[kActionCount] = {
    "none",       "open",       "knock",  "glass",     "pick",      "greeting",  "sign",     "look",  "speak",
    "listen",     "take_floor", "take_table", "take_up", "open_door", "put_floor", "put_table", "put_up"};

constexpr std::size_t kNameLength = 127;

// Copies at most size - 1 characters into a cleared field.
void copyField(char* field, std::size_t size, const char* text) {
    std::memset(field, 0, size);
    if (text) std::strncpy(field, text, size - 1);
}

float squaredDistance3(const float* a, const float* b) {
    const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return dx * dx + dy * dy + dz * dz;
}

float distance3(const float* a, const float* b) { return std::sqrt(squaredDistance3(a, b)); }

// The rotation rows that face horizontally from one point towards another:
// (u.x, 0, u.z), (0, 1, 0) and their normalised cross product. False when
// the points stand on one vertical line.
bool facingRows(const float* from, const float* to, float* rows, float* direction) {
    float u[3] = {to[0] - from[0], 0.0f, to[2] - from[2]};
    if (vector3Length(u) <= 0.0f) return false;
    vector3Normalize(u);
    rows[0] = u[0];
    rows[1] = 0.0f;
    rows[2] = u[2];
    rows[3] = 0.0f;
    rows[4] = 1.0f;
    rows[5] = 0.0f;
    vector3Cross(rows, rows + 3, rows + 6);
    vector3Normalize(rows + 6);
    if (direction)
        for (int k = 0; k < 3; ++k) direction[k] = u[k];
    return true;
}

std::int32_t writePose(DataStream& s, const Matrix34& pose) {
    std::int32_t total = 0;
    for (float v : pose.m)
        if (!addField(total, writeF32(s, v))) return total;
    return total;
}

// A pose that is not finite is damaged.
std::int32_t readPose(DataStream& s, Matrix34& pose) {
    std::int32_t total = 0;
    for (float& v : pose.m)
        if (!addField(total, readF32(s, v))) return total;
    return allFinite(pose.m, 12) ? total : -1;
}

}  // namespace

std::int32_t actionByName(const char* name) {
    if (!name) return -1;
    std::string lowered(name, strnlen(name, kNameLength));
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::int32_t i = 0; i < kActionCount; ++i)
        if (lowered == kActionNames[i]) return i;
    return -1;
}

std::unique_ptr<ControllerTarget> ControllerTarget::create(std::int32_t type) {
    switch (type) {
        case kTargetNone:
            return nullptr;
        case kTargetWaypoint:
            return std::unique_ptr<ControllerTarget>(new (std::nothrow) ControllerTarget_WAYPOINT());
        case kTargetWorld:
            return std::unique_ptr<ControllerTarget>(new (std::nothrow) ControllerTarget_WORLD());
        case kTargetLocal:
            return std::unique_ptr<ControllerTarget>(new (std::nothrow) ControllerTarget_LOCAL());
        case kTargetFollow:
            return std::unique_ptr<ControllerTarget>(new (std::nothrow) ControllerTarget_FOLLOW());
        case kTargetTrajectory:
            return std::unique_ptr<ControllerTarget>(new (std::nothrow) ControllerTarget_TRAJECTORY());
        case kTargetDirectWaypoint:
            return std::unique_ptr<ControllerTarget>(new (std::nothrow) ControllerTarget_DIRECT_WAYPOINT());
        default:
            engineLog().error("Can't create INVALID controller type %i", type);
            return nullptr;
    }
}

bool ControllerTarget::updateRun(const Matrix34&, bool&) { return false; }

bool ControllerTarget::buildPath(std::vector<float>&, const Matrix34&, Matrix34&, std::int32_t, std::int32_t) {
    return false;
}

// ---------------------------------------------------------------- WAYPOINT

ControllerTarget_WAYPOINT::ControllerTarget_WAYPOINT(const char* targetText) {
    copyField(text, sizeof(text), targetText);
    const std::size_t length = std::strlen(text);
    if (length < 2 || text[0] != '{' || text[length - 1] != '}') return;
    const char* equals = std::strstr(text, "==");
    if (!equals || equals == text) return;
    const std::size_t k = static_cast<std::size_t>(equals - text);
    // The action part runs from after "==" to the closing brace (which no
    // "=" can be, so k + 2 <= length - 1).
    std::string part(text + k + 2, length - 1 - (k + 2));
    if (part.size() > kNameLength) part.resize(kNameLength);
    if (!part.empty()) {
        const std::int32_t value = actionByName(part.c_str());
        if (value < 0)
            engineLog().error("Invalid AC_ACTION map name [%s]", part.c_str());
        else
            action = value;
    }
    // "{name==action}" becomes "{name}".
    text[k] = '}';
    std::memset(text + k + 1, 0, sizeof(text) - k - 1);
}

bool ControllerTarget_WAYPOINT::update(const CurrentTime&, Matrix34& aim, const Matrix34& modelPose,
                                       const Matrix34&, bool) {
    if (!pending) return false;
    pending = 0;
    aim = modelPose;
    if (!text[0]) return false;
    const float* position = modelPose.m + 9;
    const std::size_t length = std::strlen(text);
    if (length >= 2 && text[0] == '{' && text[length - 1] == '}') {
        std::string name(text + 1, length - 2);
        std::string aimName = "aim_" + name;
        if (aimName.size() > kNameLength) aimName.resize(kNameLength);
        if (Y3Pose* nearest = gameCore.scene_findNearestWaypoint(aimName.c_str(), position)) {
            aim = nearest->pose;
            return true;
        }
        // No aim waypoint: the bare name is looked up as a list of one.
        copyField(text, sizeof(text), name.c_str());
    }
    const std::string list = text;
    float best = 10000.0f;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find_first_of("\n;,", start);
        if (end == std::string::npos) end = list.size();
        std::string name = list.substr(start, end - start);
        start = end + 1;
        if (name.empty()) continue;
        if (name.size() > kNameLength) name.resize(kNameLength);
        Y3Pose* waypoint = gameCore.scene_findWaypoint(name.c_str());
        if (!waypoint) {
            // The target is disabled from here on; aims already taken stay.
            engineLog().error("Can't find target waypoint with name [%s]. Target DISABLED", name.c_str());
            std::memset(text, 0, sizeof(text));
            break;
        }
        const float distance = squaredDistance3(waypoint->pose.m + 9, position);
        if (distance < best) {
            best = distance;
            aim = waypoint->pose;
        }
    }
    return true;
}

std::int32_t ControllerTarget_WAYPOINT::write(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, writeString16(s, text, sizeof(text)))) return total;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(action)))) return total;
    addField(total, writeU8(s, pending));
    return total;
}

std::int32_t ControllerTarget_WAYPOINT::read(DataStream& s) {
    std::int32_t total = 0;
    std::uint32_t value = 0;
    if (!addField(total, readString16(s, text, sizeof(text)))) return total;
    if (!addField(total, readU32(s, value))) return total;
    // An action past the AC_ACTION range is damage.
    if (value >= static_cast<std::uint32_t>(kActionCount)) return -1;
    action = static_cast<std::int32_t>(value);
    addField(total, readU8(s, pending));
    return total;
}

// ------------------------------------------------------------ WORLD, LOCAL

std::int32_t ControllerTarget_WORLD::write(DataStream& s) { return writePose(s, pose); }
std::int32_t ControllerTarget_WORLD::read(DataStream& s) { return readPose(s, pose); }

std::int32_t ControllerTarget_LOCAL::write(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, reference))) return total;
    addField(total, writePose(s, pose));
    return total;
}

std::int32_t ControllerTarget_LOCAL::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readU32(s, reference))) return total;
    addField(total, readPose(s, pose));
    return total;
}

// ------------------------------------------------------------------ FOLLOW

ControllerTarget_FOLLOW::ControllerTarget_FOLLOW(const char* objectName, float nearValue, float farValue)
    : nearDistance(nearValue), farDistance(farValue) {
    object = GameObjectLink{gameCore.scene_findObject(objectName, true)};
    if (!object.value)
        engineLog().error("Expected object [%s] for character target (follow mode)", objectName ? objectName : "");
}

bool ControllerTarget_FOLLOW::followedPose(Matrix34& out) const {
    GameObject* followed = gameCore.objects && object.value ? gameCore.objects->getObject(object) : nullptr;
    return followed && followed->getWorldMatrix(out);
}

bool ControllerTarget_FOLLOW::update(const CurrentTime& time, Matrix34& aim, const Matrix34& modelPose,
                                     const Matrix34& currentAim, bool notWalking) {
    // A negative timer aims now (a new or a restored target); otherwise one
    // aim per update period.
    if (timer < 0.0) {
        timer = 0.0;
    } else {
        timer += time.game.step;
        if (timer < characterSettings.companionUpdatePeriod) return false;
        timer = 0.0;
    }
    Matrix34 followed;
    if (!followedPose(followed)) return false;
    const float* target = followed.m + 9;
    const float d = distance3(target, modelPose.m + 9);
    const float t = 0.6f * (nearDistance + farDistance);
    if (!(d > t && (d >= farDistance || !notWalking))) return false;
    Scene* scene = gameCore.currentScene();
    if (!scene || !sceneFactories().gridBlockFree) return false;
    for (int k = 0; k < 32; ++k) {
        const float angle = static_cast<float>(k) * 3.14159265f / 16.0f;
        float candidate[3] = {std::sin(angle) * nearDistance, 0.0f, std::cos(angle) * nearDistance};
        vector3Rotate(candidate, followed);
        for (int i = 0; i < 3; ++i) candidate[i] += target[i];
        if (!scene->gridCellsAround(candidate)) continue;
        if (!notWalking && distance3(candidate, currentAim.m + 9) <= t) return false;
        Matrix34 made = matrix34Identity();
        facingRows(candidate, target, made.m, nullptr);
        for (int i = 0; i < 3; ++i) made.m[9 + i] = candidate[i];
        aim = made;
        return true;
    }
    return false;
}

bool ControllerTarget_FOLLOW::updateRun(const Matrix34& modelPose, bool& run) {
    Matrix34 followed;
    if (!followedPose(followed)) return false;
    const float d = distance3(followed.m + 9, modelPose.m + 9);
    if (run && d < farDistance)
        run = false;
    else if (!run && d >= characterSettings.distanceRunCompanionCoeff * farDistance)
        run = true;
    return true;
}

bool ControllerTarget_FOLLOW::getFacing(Matrix33& out, const Matrix34& pose, bool turning) {
    Matrix34 followed;
    if (!followedPose(followed)) return false;
    float rows[9];
    float u[3];
    if (!facingRows(pose.m + 9, followed.m + 9, rows, u)) return false;
    if (!turning && std::fabs(vector3Dot(u, pose.m)) > characterSettings.maxSinAngleCompanion) return false;
    std::memcpy(out.m, rows, sizeof(rows));
    return true;
}

std::int32_t ControllerTarget_FOLLOW::write(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, object.value))) return total;
    if (!addField(total, writeF32(s, nearDistance))) return total;
    addField(total, writeF32(s, farDistance));
    return total;
}

std::int32_t ControllerTarget_FOLLOW::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readU32(s, object.value))) return total;
    if (!addField(total, readF32(s, nearDistance))) return total;
    if (!addField(total, readF32(s, farDistance))) return total;
    if (!std::isfinite(nearDistance) || !std::isfinite(farDistance)) return -1;
    timer = -1.0;
    return total;
}

// -------------------------------------------------------------- TRAJECTORY

ControllerTarget_TRAJECTORY::ControllerTarget_TRAJECTORY(const char* waypointName, bool randomStart)
    : flags(kPending | (randomStart ? kRandomStart | kRandomFirstPath : 0u)) {
    copyField(waypoint, sizeof(waypoint), waypointName);
}

bool ControllerTarget_TRAJECTORY::buildPath(std::vector<float>& points, const Matrix34& modelPose, Matrix34& aim,
                                            std::int32_t pathPoints, std::int32_t pathIndex) {
    if (!(flags & kPending)) {
        // A new path is due when the held one runs short.
        const std::int64_t lookAhead =
            (static_cast<std::int64_t>(pathfindSettings.pathLockLookup) + 4) * pathfindSettings.pathDetails;
        if (pathPoints <= 0 || static_cast<std::int64_t>(pathPoints) - pathIndex >= lookAhead) return false;
    }
    flags &= ~kPending;
    if (!waypoint[0]) return false;
    Y3Pose* found = gameCore.scene_findWaypoint(waypoint);
    if (!found || found->type() != PoseModel)
        return engineLog().error("Trajectory target: expected waypoint [%s] with trajectory", waypoint);
    if (!found->hasTrajectory())
        return engineLog().error("Trajectory target: expected trajectory on waypoint [%s]", waypoint);
    const std::vector<PoseVector3>& trajectory = static_cast<Y3Pose_Model*>(found)->trajectory;
    const std::int32_t count = static_cast<std::int32_t>(trajectory.size());
    bool random = (flags & kRandomFirstPath) != 0;
    flags &= ~kRandomFirstPath;

    const float* position = modelPose.m + 9;
    std::int32_t nearest = -1;
    float best = 1000.0f;
    for (std::int32_t i = 0; i < count; ++i) {
        const float* from = i == 0 ? found->pose.m + 9 : trajectory[static_cast<std::size_t>(i - 1)].v;
        const float d = distanceToSegment(position, from, trajectory[static_cast<std::size_t>(i)].v);
        if (d < best) {
            best = d;
            nearest = i;
        }
    }
    if (nearest < 0) return engineLog().error("controller [%s] out of trajectory", waypoint);

    std::int32_t direction = nearest < count / 2 ? -1 : 1;
    if (nearest < 2) random = false;
    if (random && nearest <= count - 2) {
        counter = static_cast<std::uint32_t>(std::rand() % count);
        if (std::rand() % 100 > 50) direction = -direction;
    }
    points.assign(position, position + 3);
    if (direction < 0) {
        for (std::int32_t j = nearest - 1; j >= 0; --j) {
            const float* p = trajectory[static_cast<std::size_t>(j)].v;
            points.insert(points.end(), p, p + 3);
        }
        points.insert(points.end(), found->pose.m + 9, found->pose.m + 12);
    } else {
        for (std::int32_t j = nearest; j < count; ++j) {
            const float* p = trajectory[static_cast<std::size_t>(j)].v;
            points.insert(points.end(), p, p + 3);
        }
    }
    aim = found->pose;
    return true;
}

std::int32_t ControllerTarget_TRAJECTORY::write(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, writeString16(s, waypoint, sizeof(waypoint)))) return total;
    if (!addField(total, writeU32(s, flags))) return total;
    addField(total, writeU32(s, counter));
    return total;
}

std::int32_t ControllerTarget_TRAJECTORY::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readString16(s, waypoint, sizeof(waypoint)))) return total;
    if (!addField(total, readU32(s, flags))) return total;
    addField(total, readU32(s, counter));
    return total;
}

// --------------------------------------------------------- DIRECT_WAYPOINT

ControllerTarget_DIRECT_WAYPOINT::ControllerTarget_DIRECT_WAYPOINT(const char* waypointName) {
    copyField(waypoint, sizeof(waypoint), waypointName);
}

bool ControllerTarget_DIRECT_WAYPOINT::buildPath(std::vector<float>& points, const Matrix34& modelPose, Matrix34& aim,
                                                 std::int32_t, std::int32_t) {
    if (!(flags & kPending)) return false;
    flags &= ~kPending;
    if (!waypoint[0]) return false;
    Y3Pose* found = gameCore.scene_findWaypoint(waypoint);
    if (!found) return engineLog().error("Direct waypoint target: expected waypoint [%s]", waypoint);
    points.assign(modelPose.m + 9, modelPose.m + 12);
    points.insert(points.end(), found->pose.m + 9, found->pose.m + 12);
    aim = found->pose;
    return true;
}

std::int32_t ControllerTarget_DIRECT_WAYPOINT::write(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, writeString16(s, waypoint, sizeof(waypoint)))) return total;
    addField(total, writeU32(s, flags));
    return total;
}

std::int32_t ControllerTarget_DIRECT_WAYPOINT::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readString16(s, waypoint, sizeof(waypoint)))) return total;
    addField(total, readU32(s, flags));
    return total;
}

// ------------------------------------------------------------ save records

std::int32_t writeTarget(DataStream& stream, ControllerTarget* target) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(target ? target->getType() : kTargetNone))))
        return total;
    if (target) addField(total, target->write(stream));
    return total;
}

std::int32_t readTarget(DataStream& stream, std::unique_ptr<ControllerTarget>& out) {
    out.reset();
    std::uint32_t id = 0;
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, id))) {
        engineLog().error("Can't read controller target: record too short");
        return total;
    }
    if (id == static_cast<std::uint32_t>(kTargetNone)) return total;
    // An id too large for the type's range is an unknown id as well.
    const std::int32_t type = id > 0x7FFFFFFFu ? -1 : static_cast<std::int32_t>(id);
    std::unique_ptr<ControllerTarget> made = ControllerTarget::create(type);
    if (!made) return -1;
    if (!addField(total, made->read(stream))) {
        engineLog().error("Can't read controller target [%i]: damaged record", type);
        return total < 0 ? total : -1;
    }
    out = std::move(made);
    return total;
}
