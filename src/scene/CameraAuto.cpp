#include "scene/CameraAuto.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "foundation/TimeCore.h"
#include "scene/CameraCore.h"
#include "scene/CameraSettings.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"
#include "script/ScriptCall.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// The eye height of the main character above its origin.
constexpr float kEyeHeight = 1.7f;
// The slack of the flyer's distance limits.
constexpr float kFlyerSlack = 0.05f;
const char* const kFlyerName = "flyer_camera";

struct Suffix {
    const char* text;
    std::int32_t kind;
};
constexpr Suffix kSuffixes[] = {
    {".fixed", CameraAutoFixed}, {".line", CameraAutoLine}, {".pair", CameraAutoPair}, {".flyer", CameraAutoFlyer}};

bool endsWith(const std::string& text, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// Horizontal difference b - a and its length.
float horizontal(const float* a, const float* b, float* out) {
    out[0] = b[0] - a[0];
    out[1] = 0.0f;
    out[2] = b[2] - a[2];
    return vector3Length(out);
}

float distance3(const float* a, const float* b) {
    const float d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    return vector3Length(d);
}

// The point of segment a-b nearest p, as the segment's fraction.
float nearestOnSegment(const float* a, const float* b, const float* p) {
    const float ab[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float ap[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
    const float length = vector3Dot(ab, ab);
    if (length <= 0.0f) return 0.0f;
    return std::clamp(vector3Dot(ap, ab) / length, 0.0f, 1.0f);
}

bool isZero(const float* v) { return v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f; }

// The camera at its position turns toward a point keeping its own tilt
// (the vertical part of its view axis).
void turnKeepingTilt(Matrix34& pose, const float* target) {
    const float tilt = std::clamp(-pose.m[7], -1.0f, 1.0f);
    float toward[3];
    if (horizontal(pose.m + 9, target, toward) < 1e-6f) return;
    vector3Normalize(toward);
    const float flat = std::sqrt(1.0f - tilt * tilt);
    const float back[3] = {-toward[0] * flat, -tilt, -toward[2] * flat};
    const float up[3] = {0.0f, 1.0f, 0.0f};
    setCameraAxes(pose, back, up);
}

// The band of the volume test against the main character.
constexpr float kVolumeLower = -0.5f;
constexpr float kVolumeUpper = 1.5f;

void ensureStages(VectorSmoother& smoother) {
    const CameraAutoSettings& s = cameraAutoSettings;
    if (smoother.stages.empty() && s.smoothCount > 0)
        smoother.setStages(static_cast<std::uint32_t>(s.smoothCount), s.smoothDelay, s.smoothStep);
}

void postSignal(const char* event, const char* signal) {
    ScriptEventArgs args = ScriptEventArgs::fromString(signal);
    postScriptEventWithArgs(args, event);
    args.release();
}

std::int32_t writeText(DataStream& s, const char* text) {
    std::int32_t total = 0;
    const std::uint16_t length = static_cast<std::uint16_t>(std::strlen(text));
    if (!addField(total, writeU16(s, length)) || length == 0) return total;
    addField(total, s.write(text, length));
    return total;
}

std::int32_t readText(DataStream& s, char* text) {
    std::int32_t total = 0;
    std::uint16_t length = 0;
    if (!addField(total, readU16(s, length))) return total;
    if (length > 127) {
        engineLog().error("CameraAuto: saved mask of %u bytes is longer than 127", length);
        return -1;
    }
    std::memset(text, 0, 128);
    if (length) addField(total, readExact(s, text, length));
    return total;
}

std::int32_t writeCandidate(DataStream& s, const CameraAutoCandidate& c) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(s, c.index)) || !addField(total, writeF32(s, c.distance)) ||
        !addField(total, writeF32(s, c.parameter)) || !addField(total, writeI32(s, c.kind)) ||
        !addField(total, writePoseMatrix(s, c.pose)))
        return total;
    addField(total, writePoseMatrix(s, c.pose2));
    return total;
}

std::int32_t readCandidate(DataStream& s, CameraAutoCandidate& c) {
    std::int32_t total = 0;
    if (!addField(total, readI32(s, c.index)) || !addField(total, readF32(s, c.distance)) ||
        !addField(total, readF32(s, c.parameter)) || !addField(total, readI32(s, c.kind)) ||
        !addField(total, readPoseMatrix(s, c.pose)))
        return total;
    addField(total, readPoseMatrix(s, c.pose2));
    if (c.kind < CameraAutoPlain || c.kind > CameraAutoFlyer) c.kind = CameraAutoPlain;
    return total;
}

}  // namespace

CameraAuto::CameraAuto(CameraCore& owner) : owner_(owner) {
    character_ = matrix34Identity();
    current.pose = current.pose2 = working.pose = working.pose2 = matrix34Identity();
}

std::int32_t CameraAuto::kindOf(const char* name, float& parameter) {
    std::string base = name ? name : "";
    parameter = 0.0f;
    bool hasParameter = false;
    if (const std::size_t equals = base.find('='); equals != std::string::npos) {
        parameter = parseFloat(base.c_str() + equals + 1);
        hasParameter = true;
        base.resize(equals);
    }
    std::int32_t kind = CameraAutoPlain;
    for (const Suffix& suffix : kSuffixes)
        if (endsWith(base, suffix.text)) kind = suffix.kind;
    if (kind == CameraAutoFlyer && !hasParameter) parameter = cameraAutoSettings.flyerOffset;
    return kind;
}

CameraAuto::~CameraAuto() {
    lookSmoother.release();
    flyerSmoother.release();
    flyerTestSmoother.release();
}

void CameraAuto::restart() {
    cameras.clear();
    std::memset(mask, 0, sizeof(mask));
    flags |= kCameraAutoChanged;
}

bool CameraAuto::buildMask(const Matrix34* target) {
    flags &= ~kCameraAutoInArea;
    bool areaMode = false;
    std::strncpy(maskSource, gameCore.cameraMask, sizeof(maskSource) - 1);
    maskSource[sizeof(maskSource) - 1] = 0;
    std::memset(mask, 0, sizeof(mask));
    // ";"-separated parts: "auto" switches on the area mode; every other
    // part names the volumes "2d+<part>:" that may choose the cameras.
    std::vector<std::string> prefixes;
    std::string firstPart;
    const std::string source = maskSource;
    std::size_t start = 0;
    while (start <= source.size()) {
        std::size_t end = source.find(';', start);
        if (end == std::string::npos) end = source.size();
        std::string part = source.substr(start, end - start);
        part.erase(0, part.find_first_not_of(" \t"));
        part.erase(part.find_last_not_of(" \t") + 1);
        if (part == "auto") {
            areaMode = true;
        } else if (!part.empty()) {
            if (firstPart.empty()) firstPart = part;
            char prefix[160];
            std::snprintf(prefix, sizeof(prefix), "2d+%s:", part.c_str());
            prefixes.emplace_back(prefix);
        }
        start = end + 1;
    }
    // The first counted volume that holds the target gives the mask "2d>"
    // and its name after the first three characters (up to a "#"): outside
    // the area mode a volume counts when its name begins with one of the
    // prefixes, in the area mode every "2d+" volume counts.
    Scene* scene = owner_.owner();
    GameObject* character = !target && scene ? scene->mainCharacterObject() : nullptr;
    Matrix34 at;
    if (target) at = *target;
    if (scene && (target || (character && character->getWorldMatrix(at))))
        for (const std::unique_ptr<Y3Pose>& pose : scene->staticWaypoints()) {
            if (pose->type() != PoseVolume || std::strlen(pose->id) < 3) continue;
            const std::string id = pose->id;
            const bool counted = areaMode
                                     ? id.compare(0, 3, "2d+") == 0
                                     : std::any_of(prefixes.begin(), prefixes.end(), [&id](const std::string& prefix) {
                                           return id.compare(0, prefix.size(), prefix) == 0;
                                       });
            if (!counted) continue;
            const std::string name = "2d>" + id.substr(3, id.find('#', 3) == std::string::npos ? std::string::npos
                                                                                               : id.find('#', 3) - 3);
            if (name.size() >= sizeof(mask)) {
                engineLog().error("Can't add string to start : Out of pre-allocated buffer size");
                continue;
            }
            if (static_cast<const Y3Pose_Volume&>(*pose).heightAbove(at.m + 9, kVolumeLower, kVolumeUpper) >
                kVolumeLower) {
                std::strncpy(mask, name.c_str(), sizeof(mask) - 1);
                flags |= kCameraAutoInArea;
                return true;
            }
        }
    // Outside every such volume the first part is the cameras' prefix.
    std::strncpy(mask, firstPart.c_str(), sizeof(mask) - 1);
    return mask[0] != 0;
}

bool CameraAuto::buildList(const Matrix34* target) {
    Scene* scene = owner_.owner();
    if (!buildMask(target)) return engineLog().error("AutoCamera mask MUST be defined. NOW MASK IS EMPTY.");
    if (!scene || scene->staticWaypoints().empty())
        return engineLog().error("CameraAuto: Waypoint not loaded. Fail to build current camera's list");
    cameras.clear();
    const std::size_t length = std::strlen(mask);
    for (const std::unique_ptr<Y3Pose>& pose : scene->staticWaypoints())
        if (pose->type() == PoseCamera && std::strncmp(pose->id, mask, length) == 0)
            cameras.push_back(static_cast<const Y3Pose_Camera*>(pose.get()));
    return true;
}

CameraAutoCandidate CameraAuto::evaluate(std::int32_t i) const {
    const Y3Pose_Camera& waypoint = *cameras[static_cast<std::size_t>(i)];
    CameraAutoCandidate c;
    c.index = i;
    std::strncpy(c.name, waypoint.id, sizeof(c.name) - 1);
    c.kind = kindOf(waypoint.id, c.parameter);
    c.pose = waypoint.pose;
    c.pose2 = waypoint.pose2;
    const float* at = character_.m + 9;
    if (c.kind == CameraAutoLine && isZero(c.pose2.m + 9)) {
        // The segment ends at the ".pair" waypoint of the same name.
        std::string pair = waypoint.id;
        pair.resize(pair.find('=') == std::string::npos ? pair.size() : pair.find('='));
        pair.replace(pair.size() - 5, 5, ".pair");
        if (const Y3Pose* end = owner_.owner()->findWaypoint(pair.c_str(), PoseCamera)) c.pose2 = end->pose;
    }
    if (c.kind == CameraAutoLine && !isZero(c.pose2.m + 9)) {
        const float t = nearestOnSegment(c.pose.m + 9, c.pose2.m + 9, at);
        float point[3];
        for (int k = 0; k < 3; ++k) point[k] = c.pose.m[9 + k] + t * (c.pose2.m[9 + k] - c.pose.m[9 + k]);
        c.distance = distance3(point, at);
    } else {
        c.distance = distance3(c.pose.m + 9, at);
    }
    return c;
}

bool CameraAuto::choose() {
    CameraAutoCandidate chosen;
    bool found = false;
    if (cameras.size() <= 1) {
        if (cameras.empty()) {
            chosen.kind = CameraAutoFlyer;
            chosen.parameter = cameraAutoSettings.flyerOffset;
            std::strncpy(chosen.name, kFlyerName, sizeof(chosen.name) - 1);
            chosen.pose = chosen.pose2 = character_;
        } else {
            chosen = evaluate(0);
        }
        found = true;
    } else {
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(cameras.size()); ++i) {
            const CameraAutoCandidate c = evaluate(i);
            if (c.kind == CameraAutoPair || c.distance <= 0.0f) continue;
            if (!found || c.distance < chosen.distance) {
                chosen = c;
                found = true;
            }
        }
    }
    if (!found) return currentName[0] != 0;
    working = chosen;
    bestIndex = chosen.index;
    bestDistance = chosen.distance;
    if (std::strcmp(chosen.name, currentName) != 0) {
        if (!(current.kind == CameraAutoFlyer && chosen.kind == CameraAutoFlyer)) flags |= kCameraAutoChanged;
        std::memcpy(currentName, chosen.name, sizeof(currentName));
    }
    current = chosen;
    return true;
}

void CameraAuto::updateLook(const Matrix34& camera, const CurrentTime& time) {
    const CameraAutoSettings& s = cameraAutoSettings;
    const float* at = character_.m + 9;
    float facing[3] = {character_.m[6], 0.0f, character_.m[8]};
    vector3Normalize(facing);
    float flat[3];
    float d = std::min(horizontal(at, camera.m + 9, flat), s.eyeOffsetMaxRange) - s.eyeOffsetMinRange;
    d = std::max(d, 0.0f);
    const float c = current.kind == CameraAutoFlyer ? s.flyerOffsetCoeff : s.eyeOffsetCoeff;
    float target[3];
    for (int k = 0; k < 3; ++k) target[k] = at[k] + facing[k] * c * d;
    std::memcpy(previousLook, look, sizeof(look));
    ensureStages(lookSmoother);
    if (flags & kCameraAutoChanged) {
        lookSmoother.reset(target, time.game.time);
        std::memcpy(look, target, sizeof(look));
    } else {
        smoothVectorTo(lookSmoother, target, time.game.time);
        std::memcpy(look, lookSmoother.output, sizeof(look));
    }
}

void CameraAuto::placeByKind(Matrix34& out, const CurrentTime& time) {
    const CameraAutoSettings& s = cameraAutoSettings;
    const bool changed = (flags & kCameraAutoChanged) != 0;
    Matrix34 p = cameraPoseOfWaypoint(current.pose);
    switch (current.kind) {
    case CameraAutoPlain: turnKeepingTilt(p, look); break;
    case CameraAutoLine: {
        const float* a = current.pose.m + 9;
        const float* b = current.pose2.m + 9;
        float t = nearestOnSegment(a, b, character_.m + 9);
        float point[3];
        for (int k = 0; k < 3; ++k) point[k] = a[k] + t * (b[k] - a[k]);
        const float e = distance3(point, character_.m + 9);
        const float length = distance3(a, b);
        if (e < s.ropeLength && length > 0.0f)
            t = std::clamp(t + std::sqrt(s.ropeLength * s.ropeLength - e * e) / length, 0.0f, 1.0f);
        for (int k = 0; k < 3; ++k) p.m[9 + k] = a[k] + t * (b[k] - a[k]);
        turnKeepingTilt(p, look);
        break;
    }
    case CameraAutoFlyer: {
        const float param = current.parameter;
        const float tilt = static_cast<float>(std::tan(s.flyerAngle * kPi / 180.0));
        float eye[3] = {character_.m[9], character_.m[10] + kEyeHeight, character_.m[11]};
        float facing[3] = {character_.m[6], 0.0f, character_.m[8]};
        vector3Normalize(facing);
        float position[3];
        float d = s.flyerMaxDistance * param;
        if (changed) {
            for (int k = 0; k < 3; ++k) position[k] = eye[k] - facing[k] * d;
        } else {
            float toward[3];
            d = horizontal(lastFlyer_, eye, toward);
            vector3Normalize(toward);
            std::memcpy(position, lastFlyer_, sizeof(position));
            const float far = s.flyerMaxDistance * param;
            const float near = s.flyerMinDistance * param;
            if (d - far > kFlyerSlack) {
                float motion[3];
                horizontal(reference, eye, motion);
                vector3Normalize(motion);
                float mean[3] = {motion[0] + toward[0], 0.0f, motion[2] + toward[2]};
                vector3Normalize(mean);
                for (int k = 0; k < 3; ++k) position[k] += mean[k] * (d - far);
                d = far;
            } else if (near - d > kFlyerSlack) {
                for (int k = 0; k < 3; ++k) position[k] -= toward[k] * (near - d);
                d = near;
            } else {
                float swing[3] = {facing[0] * s.flyerAlignSpeed + toward[0], 0.0f,
                                  facing[2] * s.flyerAlignSpeed + toward[2]};
                vector3Normalize(swing);
                for (int k = 0; k < 3; ++k) position[k] = eye[k] - swing[k] * d;
            }
        }
        position[1] = eye[1] + tilt * d;
        ensureStages(flyerSmoother);
        if (changed) {
            flyerSmoother.reset(position, time.game.time);
        } else {
            smoothVectorTo(flyerSmoother, position, time.game.time);
            std::memcpy(position, flyerSmoother.output, sizeof(position));
        }
        std::memcpy(lastFlyer_, position, sizeof(lastFlyer_));
        std::memcpy(p.m + 9, position, sizeof(position));
        const float up[3] = {0.0f, 1.0f, 0.0f};
        cameraLookAt(p, look, up);
        if (s.flyerPhysicsTest && cameraServices.physicsDistance) {
            float direction[3] = {p.m[9] - look[0], p.m[10] - look[1], p.m[11] - look[2]};
            const float length = vector3Length(direction);
            if (length > 0.0f) {
                vector3Normalize(direction);
                const float free = cameraServices.physicsDistance(look, direction, length + s.flyerPhysicsOffset);
                const float placed = std::max(free - s.flyerPhysicsOffset, 0.0f);
                for (int k = 0; k < 3; ++k) p.m[9 + k] = look[k] + direction[k] * placed;
            }
        }
        break;
    }
    default: break;  // ".fixed" and ".pair": the waypoint's own view
    }
    if (current.parameter != 0.0f)
        for (int k = 0; k < 3; ++k) p.m[9 + k] += p.m[6 + k] * current.parameter;
    out = p;
}

bool CameraAuto::step(Matrix34& out, const CurrentTime& time, const Matrix34* target) {
    if (((flags >> 13) ^ (flags >> 14)) & 1u) {
        flags ^= kCameraAutoHintSignalled;
        postSignal("CameraAuto cursor hint signal",
                   (flags & kCameraAutoHintSignalled) ? "signal_cursor_hint_leave" : "signal_cursor_hint_enter");
    }
    if (!buildList(target)) return false;
    Scene* scene = owner_.owner();
    GameObject* character = !target && scene ? scene->mainCharacterObject() : nullptr;
    if (target) character_ = *target;
    else if (!character || !character->getWorldMatrix(character_)) character_ = matrix34Identity();
    if (!choose()) return false;
    if (flags & kCameraAutoChanged) postSignal("CameraAuto camera changed", "signal_area_camera_changed");
    updateLook(owner_.pose, time);
    placeByKind(out, time);
    std::memcpy(reference, character_.m + 9, sizeof(reference));
    flags &= ~kCameraAutoChanged;
    return true;
}

std::int32_t CameraAuto::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, flags))) return total;
    if (!addField(total, writePoseMatrix(s, current.pose)) || !addField(total, writePoseMatrix(s, current.pose2)))
        return total;
    if (!addField(total, writeText(s, mask))) return total;
    if (!addField(total, lookSmoother.write(s)) || !addField(total, flyerSmoother.write(s)) ||
        !addField(total, flyerTestSmoother.write(s)))
        return total;
    for (float value : reference)
        if (!addField(total, writeF32(s, value))) return total;
    if (!addField(total, writeText(s, maskSource))) return total;
    addField(total, writeCandidate(s, current));
    return total;
}

std::int32_t CameraAuto::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readU32(s, flags))) return total;
    if (!addField(total, readPoseMatrix(s, current.pose)) || !addField(total, readPoseMatrix(s, current.pose2)))
        return total;
    if (!addField(total, readText(s, mask))) return total;
    if (!addField(total, lookSmoother.read(s)) || !addField(total, flyerSmoother.read(s)) ||
        !addField(total, flyerTestSmoother.read(s)))
        return total;
    for (float& value : reference)
        if (!addField(total, readF32(s, value))) return total;
    if (!addField(total, readText(s, maskSource))) return total;
    addField(total, readCandidate(s, current));
    return total;
}
