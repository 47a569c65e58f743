// The procedural bone tracker: it turns the spine, head and eye bones of a
// character towards something worth looking at (a dialog's point, the main
// character close by, the nearest other model, or the camera) on top of
// what the animation stacks play, and lets eyes and head wander slightly.
//
// The target is chosen once a frame per model (ModelAnimation::
// updateTracker); every tracked bone is then turned while the bone poses
// are built (trackBone, from ModelAnimation::update). The settings are the
// section "tracker" of the game's settings, read once at start-up.
// Main thread only.
#pragma once

#include <cstdint>

#include "animation/BoneTransform.h"
#include "foundation/Smoother.h"

class Model;
class ModelAnimation;
class AnimationMapData;
struct CurrentTime;

// Process-wide tracker settings; each triple is the .x, .y, .z keys.
struct TrackerSettings {
    float ampX[3] = {0.1f, 0.05f, 0.01f};
    float ampY[3] = {0.5f, 0.1f, 0.05f};
    float phaseX[3] = {2.0f, 8.0f, 16.0f};
    float phaseY[3] = {1.0f, 3.0f, 8.0f};
    float fAmpX[3] = {0.5f, 0.5f, 1.0f};
    float fLimX[3] = {-1.0f, 1.0f, 0.0f};
    float fAmpY[3] = {1.0f, 0.5f, 1.0f};
    float fLimY[3] = {-1.5f, 1.5f, 0.0f};
    float fPhaseX[3] = {0.2f, 1.0f, 2.0f};
    float fPhaseY[3] = {0.1f, 1.0f, 1.5f};
    float headAmpX[3] = {0.05f, -0.05f, 0.04f};
    float headPhaseX[3] = {-0.8f, -2.0f, 2.0f};
    float headAmpY[3] = {0.05f, -0.05f, 0.04f};
    float headPhaseY[3] = {3.0f, -2.0f, 2.5f};
    // Largest turn, as a fraction of pi.
    float angleLimit = 0.4f;
    float minHandsDistance = 0.3f;
    float maxHandsDistance = 0.45f;
    // A blend faster than this restarts the smoothers; 0: never.
    float resetTime = 0.0f;
    bool traceControllerTarget = false;
};
extern TrackerSettings trackerSettings;

// Tracked-bone kinds.
constexpr std::int32_t kTrackedEye = 0;
constexpr std::int32_t kTrackedHead = 1;
constexpr std::int32_t kTrackedSpine = 2;

// TrackedBone::flags: the smoother started from the animated pose.
constexpr std::uint32_t kTrackedInitialized = 0x1;

struct TrackedBone {
    std::uint32_t flags = 0;
    std::int32_t kind = kTrackedEye;
    QuadSmooth smooth;
    // The map's tracker weight times the table's factor.
    float weight = 0.0f;
    float distanceFactor = 1.0f;
    float limit = 0.0f;
    std::uint32_t stages = 0;
    float firstTimeConstant = 0.0f;
    float timeConstantStep = 0.0f;
};

// The tracker state of one model (its flags, target, has-target and
// automatic-target bytes are saved with the model's animation).
struct BoneTrackerState {
    Model* owner = nullptr;
    std::uint32_t flags = 0x2;
    float target[3] = {};
    std::uint8_t hasTarget = 0;
    std::uint8_t automaticTarget = 0;
    // From the last tracked bone to the target.
    float distance = 0.0f;
    // Positive while looking, -1 while pausing, 0: start a new look.
    double lookTimer = 0.0;
    double pauseTimer = 0.0;
    // The link of the model last looked at (not saved): a new one is named
    // in the log.
    std::uint32_t lookedAt = 0;
};

class AnimationTracker {
public:
    // Reads the 47 keys of section "tracker" (missing keys are added empty
    // and fixed; an empty value keeps the default).
    static void readSettings();
    // The tracked bone of that name, weighted by the map; false when the
    // name is not a tracked bone, the map lacks it or its weight is 0.
    static bool makeTrackedBone(const char* boneName, const AnimationMapData* map, TrackedBone& out);
    // Fills the state's target for this frame.
    static void chooseTarget(BoneTrackerState& state, Model& model, double frameStep);
    // The point a bone at bonePosition looks at; false when none.
    static bool targetPoint(BoneTrackerState& state, const float* bonePosition, float maxDistance, float* out);
    // 0..1: 0 within "min_hands_distance" of a hand bone, 1 from
    // "max_hands_distance" on (model-space positions).
    static float handsFactor(const ModelAnimation& animation, const float* bonePosition);
    // The idle wander direction of a bone kind at t seconds (unit vector
    // near +z; zero for an unknown kind).
    static void wanderDirection(std::int32_t kind, double t, float* out);
    // Turns one bone's local transform towards the target; false (the
    // animated pose kept) for a bone without a parent.
    static bool trackBone(ModelAnimation& animation, TrackedBone& tracked, BoneTransform& local, std::int32_t bone,
                          const CurrentTime& frameTime, float factor);
};
