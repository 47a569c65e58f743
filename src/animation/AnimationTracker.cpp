#include "animation/AnimationTracker.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "animation/AnimationMapData.h"
#include "animation/ModelAnimation.h"
#include "app/GameCore.h"
#include "control/ModelController.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

TrackerSettings trackerSettings;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TrackedBoneEntry {
    const char* name;
    std::int32_t kind;
    float weightFactor;
    float distanceFactor;
    float limit;
    std::uint32_t stages;
    float firstTimeConstant;
    float timeConstantStep;
};

// The bones the tracker turns (names compared byte by byte).
const TrackedBoneEntry kTrackedBones[] = {
    {"bip01 spine", kTrackedSpine, 0.1f, 0.4f, 10.0f, 6, 1.5f, 0.7f},
    {"bip01 spine1", kTrackedSpine, 0.2f, 0.4f, 15.0f, 6, 1.5f, 0.7f},
    {"bip01 spine2", kTrackedSpine, 0.3f, 0.4f, 20.0f, 6, 1.5f, 0.7f},
    {"bip01 head", kTrackedHead, 1.0f, 0.7f, 60.0f, 3, 0.4f, 0.2f},
    {"eyel", kTrackedEye, 1.0f, 1.0f, 40.0f, 2, 0.2f, 0.1f},
    {"eyer", kTrackedEye, 1.0f, 1.0f, 40.0f, 2, 0.2f, 0.1f},
};

const char* const kHandBones[] = {"bip01 l hand", "bip01 r hand"};

// The main character stands close enough to be looked at within this.
constexpr float kMainCharacterRange = 2.0f;
// Targets closer than this keep the model looking.
constexpr float kKeepLookingDistance = 1.5f;

void readTriple(IniCategory& section, const char* prefix, float* values) {
    static const char* const kSuffix[] = {".x", ".y", ".z"};
    for (int i = 0; i < 3; ++i) {
        const std::string key = std::string(prefix) + kSuffix[i];
        IniVariable& variable = section.getVariable(key, true);
        if (!variable.value().empty()) variable.getFloat(values[i], values[i]);
    }
}

void readFloat(IniCategory& section, const char* key, float& value) {
    IniVariable& variable = section.getVariable(key, true);
    if (!variable.value().empty()) variable.getFloat(value, value);
}

float distance3(const float* a, const float* b) {
    const float d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

// The inverse of an affine 3x4 row-vector transform; false when singular.
bool invertTransform(const Matrix34& m, Matrix34& out) {
    const float* a = m.m;
    const float c00 = a[4] * a[8] - a[5] * a[7], c01 = a[5] * a[6] - a[3] * a[8], c02 = a[3] * a[7] - a[4] * a[6];
    const float det = a[0] * c00 + a[1] * c01 + a[2] * c02;
    if (!(std::fabs(det) > 1e-12f)) return false;
    const float inv = 1.0f / det;
    float* r = out.m;
    r[0] = c00 * inv;
    r[1] = (a[2] * a[7] - a[1] * a[8]) * inv;
    r[2] = (a[1] * a[5] - a[2] * a[4]) * inv;
    r[3] = c01 * inv;
    r[4] = (a[0] * a[8] - a[2] * a[6]) * inv;
    r[5] = (a[2] * a[3] - a[0] * a[5]) * inv;
    r[6] = c02 * inv;
    r[7] = (a[1] * a[6] - a[0] * a[7]) * inv;
    r[8] = (a[0] * a[4] - a[1] * a[3]) * inv;
    for (int c = 0; c < 3; ++c) r[9 + c] = -(a[9] * r[c] + a[10] * r[3 + c] + a[11] * r[6 + c]);
    return true;
}

// The model's world matrix with its scale on the axis rows.
Matrix34 scaledWorld(const Model& model) {
    Matrix34 scaled = model.worldMatrix;
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < 3; ++k) scaled.m[row * 3 + k] *= model.scale[row];
    return scaled;
}

double rotationAngle(const Quaternion& a, const Quaternion& b) {
    const double dot = double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z + double(a.w) * b.w;
    return 2.0 * std::acos(std::clamp(std::fabs(dot), 0.0, 1.0));
}

float threeTerms(const float* amp, const float* phase, double t, bool cosineFirst) {
    // Terms alternate sine and cosine, starting with a sine or a cosine.
    auto wave = [&](int i, bool cosine) {
        const double x = double(phase[i]) * t;
        return float(amp[i] * (cosine ? std::cos(x) : std::sin(x)));
    };
    return wave(0, cosineFirst) + wave(1, !cosineFirst) + wave(2, cosineFirst);
}

}  // namespace

void AnimationTracker::readSettings() {
    if (!gameCore.settings) return;
    IniCategory& section = gameCore.settings->getCategory("tracker");
    TrackerSettings& s = trackerSettings;
    readTriple(section, "AmpX", s.ampX);
    readTriple(section, "AmpY", s.ampY);
    readTriple(section, "PhaseX", s.phaseX);
    readTriple(section, "PhaseY", s.phaseY);
    readTriple(section, "fAmpX", s.fAmpX);
    readTriple(section, "fLimX", s.fLimX);
    readTriple(section, "fAmpY", s.fAmpY);
    readTriple(section, "fLimY", s.fLimY);
    readTriple(section, "fPhaseX", s.fPhaseX);
    readTriple(section, "fPhaseY", s.fPhaseY);
    readTriple(section, "head_AmpX", s.headAmpX);
    readTriple(section, "head_PhaseX", s.headPhaseX);
    readTriple(section, "head_AmpY", s.headAmpY);
    readTriple(section, "head_PhaseY", s.headPhaseY);
    readFloat(section, "angle_limit", s.angleLimit);
    readFloat(section, "min_hands_distance", s.minHandsDistance);
    readFloat(section, "max_hands_distance", s.maxHandsDistance);
    readFloat(section, "tracker_reset_time", s.resetTime);
    section.getVariable("trace_controller_target").getBool(s.traceControllerTarget, false);
}

bool AnimationTracker::makeTrackedBone(const char* boneName, const AnimationMapData* map, TrackedBone& out) {
    if (!boneName || !map) return false;
    for (const TrackedBoneEntry& entry : kTrackedBones) {
        if (std::strcmp(entry.name, boneName) != 0) continue;
        const float weight = map->trackerWeight(boneName, entry.weightFactor);
        if (weight == 0.0f || !std::isfinite(weight)) return false;
        out = TrackedBone();
        out.kind = entry.kind;
        out.weight = weight;
        out.distanceFactor = entry.distanceFactor;
        out.limit = entry.limit;
        out.stages = entry.stages;
        out.firstTimeConstant = entry.firstTimeConstant;
        out.timeConstantStep = entry.timeConstantStep;
        out.smooth.setStages(entry.stages, entry.firstTimeConstant, entry.timeConstantStep);
        return true;
    }
    return false;
}

void AnimationTracker::chooseTarget(BoneTrackerState& state, Model& model, double frameStep) {
    state.hasTarget = 0;
    state.automaticTarget = 1;
    Matrix34 look;
    if (gameCore.scene_isDialogActive()) {
        state.automaticTarget = 0;
        if (gameCore.scene_dialogLook(look, GameObjectLink::fromObject(&model))) {
            std::memcpy(state.target, look.m + 9, sizeof(state.target));
            state.hasTarget = 1;
        }
        state.lookTimer = 0.0;
        return;
    }
    Scene* scene = model.scene();
    const float* position = model.worldMatrix.m + 9;
    GameObject* candidate = nullptr;
    if (scene) {
        GameObject* main = scene->mainCharacterObject();
        Matrix34 mainPose;
        const float mainDistance =
            main && main != &model && main->getWorldMatrix(mainPose) ? distance3(mainPose.m + 9, position) : 1000.0f;
        candidate = mainDistance < kMainCharacterRange ? main : scene->findNearestModel(position, &model, FLT_MAX);
    }
    if (state.distance < kKeepLookingDistance) state.lookTimer = 0.0;
    if (!candidate || candidate == &model) {
        // With nobody to look at, the head may follow where the movement
        // controller looks. Only characters and boats name such a point.
        ModelController* controller = model.controller.get();
        if (trackerSettings.traceControllerTarget && controller &&
            (controller->getType() == ModelController::TypeCharacter ||
             controller->getType() == ModelController::TypeBoat) &&
            controller->EyeGET(look)) {
            std::memcpy(state.target, look.m + 9, sizeof(state.target));
            state.hasTarget = 1;
            state.lookTimer = 0.0;
        }
        return;
    }
    const double c = std::clamp(double(state.distance), double(kKeepLookingDistance), 20.0);
    if (state.lookTimer < 0.0) {
        state.pauseTimer -= frameStep;
        if (state.pauseTimer <= 0.0) state.lookTimer = 7.5 / c + MersenneTwister::range(1.0, 2.0);
    } else {
        if (state.lookTimer == 0.0) state.lookTimer = 5.0 + 3.0 * MersenneTwister::nextDouble();
        state.lookTimer -= frameStep;
        if (state.lookTimer <= 0.0) {
            state.lookTimer = -1.0;
            state.pauseTimer = 0.25 * c + MersenneTwister::range(3.0, 5.0);
        }
    }
    const std::int32_t head = candidate->findBone("bip01 head");
    Matrix34 pose;
    if (head < 0 || !candidate->getBoneWorldMatrix(head, pose)) return;
    std::memcpy(state.target, pose.m + 9, sizeof(state.target));
    state.hasTarget = 1;
    const std::uint32_t lookedAt = GameObjectLink::fromObject(candidate).value;
    if (lookedAt != state.lookedAt) {
        state.lookedAt = lookedAt;
        engineLog().info("Object [%s] looks at [%s]", model.getName(), candidate->getName());
    }
    const std::int32_t gameState = (gameCore.flags & 0x10) ? 11 : gameCore.gameState;
    auto* character = dynamic_cast<Model*>(candidate);
    if (gameState == 1 && character && character->controller &&
        (character->controller->getType() == ModelController::TypeCharacter ||
         character->controller->getType() == ModelController::TypeBoat))
        state.target[1] -= 0.3f * character->getEyeHeight(false);
}

bool AnimationTracker::targetPoint(BoneTrackerState& state, const float* bonePosition, float maxDistance,
                                   float* out) {
    if (!state.hasTarget) return false;
    if (!state.automaticTarget) {
        std::memcpy(out, state.target, sizeof(state.target));
        return true;
    }
    if (maxDistance < 0.0f) {
        Scene* scene = state.owner ? state.owner->scene() : nullptr;
        CameraCore* camera = scene ? scene->camera() : gameCore.scene_getCamera();
        if (!camera) return false;
        const float* m = camera->pose.m;
        for (int k = 0; k < 3; ++k) out[k] = m[9 + k] - 100.0f * m[6 + k];
        return true;
    }
    state.distance = distance3(state.target, bonePosition);
    if (maxDistance == 0.0f || maxDistance < state.distance || state.lookTimer < 0.0) return false;
    std::memcpy(out, state.target, sizeof(state.target));
    return true;
}

float AnimationTracker::handsFactor(const ModelAnimation& animation, const float* bonePosition) {
    float nearest = 100000.0f;
    for (const char* hand : kHandBones) {
        const std::int32_t index = animation.skeleton.find(hand);
        if (index < 0) continue;
        nearest = std::min(nearest, distance3(animation.skeleton.bones[std::size_t(index)].world.m + 9, bonePosition));
    }
    const TrackerSettings& s = trackerSettings;
    if (nearest >= s.maxHandsDistance) return 1.0f;
    if (nearest < s.minHandsDistance) return 0.0f;
    return (nearest - s.minHandsDistance) / (s.maxHandsDistance - s.minHandsDistance);
}

void AnimationTracker::wanderDirection(std::int32_t kind, double t, float* out) {
    const TrackerSettings& s = trackerSettings;
    float x = 0.0f, y = 0.0f;
    if (kind == kTrackedEye) {
        const float jx = threeTerms(s.fAmpX, s.fPhaseX, t, false);
        const float jy = threeTerms(s.fAmpY, s.fPhaseY, t, true);
        const float ox = jx < s.fLimX[0] ? s.fLimX[0] : jx > s.fLimX[1] ? s.fLimX[1] : 0.0f;
        const float oy = jy < s.fLimY[0] ? s.fLimY[0] : jy > s.fLimY[1] ? s.fLimY[1] : 0.0f;
        x = threeTerms(s.ampX, s.phaseX, t, false) + ox;
        y = threeTerms(s.ampY, s.phaseY, t, true) + oy;
    } else if (kind == kTrackedHead || kind == kTrackedSpine) {
        x = threeTerms(s.headAmpX, s.headPhaseX, t, false);
        y = threeTerms(s.headAmpY, s.headPhaseY, t, true);
    } else {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    const float length = std::sqrt(x * x + y * y + 100.0f);
    out[0] = x / length;
    out[1] = y / length;
    out[2] = 10.0f / length;
}

bool AnimationTracker::trackBone(ModelAnimation& animation, TrackedBone& tracked, BoneTransform& local,
                                 std::int32_t bone, const CurrentTime&, float factor) {
    const bool enabled = factor != 0.0f;
    const double clock = animation.trackerClock;
    if (!(tracked.flags & kTrackedInitialized)) {
        tracked.smooth.reset(local.rotation, clock);
        tracked.flags |= kTrackedInitialized;
    }
    Model* model = animation.owner;
    if (!model || bone < 0 || std::size_t(bone) >= animation.skeleton.bones.size()) return false;
    const SkeletonBone& record = animation.skeleton.bones[std::size_t(bone)];
    if (record.parent < 0 || std::size_t(record.parent) >= animation.skeleton.bones.size()) return false;
    const Matrix34 parentFrame =
        multiplyTransforms(animation.skeleton.bones[std::size_t(record.parent)].world, scaledWorld(*model));
    const Matrix34 frame = multiplyTransforms(local.toMatrix(), parentFrame);

    // The look direction in the bone's own axes: its +z faces the target.
    float direction[3] = {0.0f, 0.0f, 1.0f};
    float point[3];
    const float maxDistance = model->interestDistance * tracked.distanceFactor;
    Matrix34 inverse;
    if (enabled && targetPoint(animation.tracker, frame.m + 9, maxDistance, point) && invertTransform(frame, inverse)) {
        float p[3];
        for (int c = 0; c < 3; ++c)
            p[c] = point[0] * inverse.m[c] + point[1] * inverse.m[3 + c] + point[2] * inverse.m[6 + c] + inverse.m[9 + c];
        if (vector3Dot(p, p) > 1e-5f) {
            vector3Normalize(p);
            std::memcpy(direction, p, sizeof(direction));
        }
    }
    float wander[3];
    wanderDirection(tracked.kind, clock, wander);
    for (int k = 0; k < 3; ++k) direction[k] += wander[k];
    if (vector3Dot(direction, direction) <= 1e-10f) direction[2] = 1.0f;
    vector3Normalize(direction);

    // The rotation taking +z onto the direction (rows: up, side, direction;
    // a proper rotation, the identity for +z).
    const float axisX[3] = {1.0f, 0.0f, 0.0f};
    float side[3], up[3];
    vector3Cross(direction, axisX, side);
    BoneTransform result = local;
    if (vector3Dot(side, side) > 1e-10f) {
        vector3Normalize(side);
        vector3Cross(side, direction, up);
        vector3Normalize(up);
        Matrix34 lookMatrix = matrix34Identity();
        std::memcpy(lookMatrix.m, up, sizeof(up));
        std::memcpy(lookMatrix.m + 3, side, sizeof(side));
        std::memcpy(lookMatrix.m + 6, direction, sizeof(direction));
        BoneTransform animated = local;
        animated.scale[0] = animated.scale[1] = animated.scale[2] = 1.0f;
        animated.translation[0] = animated.translation[1] = animated.translation[2] = 0.0f;
        const Matrix34 turnedMatrix = multiplyTransforms(lookMatrix, animated.toMatrix());
        Quaternion turned;
        quaternionFromMatrix(turnedMatrix, turned);
        quaternionNormalize(turned);
        Quaternion weighted;
        quaternionSlerp(local.rotation, turned, weighted, tracked.weight);
        if (rotationAngle(local.rotation, weighted) <= double(trackerSettings.angleLimit) * kPi)
            quaternionSlerp(local.rotation, weighted, result.rotation, factor);
    }
    if (!tracked.smooth.stages.empty()) {
        tracked.smooth.setTarget(result.rotation, clock);
        tracked.smooth.update(clock);
        result.rotation = tracked.smooth.output;
    }
    local = result;
    return true;
}
