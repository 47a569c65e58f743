// The settings of characters, companions, boats, path finding and physics, read
// once at start from the INI store into process-wide records. Missing keys
// are added without a value and keep their defaults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IniFile;

struct CharacterSettings {
    // Section "character": turn rates in radians per second.
    float angularStay = 3.0f;
    float angularStayRun = 5.0f;
    float angularWalk = 5.0f;
    float angularRun = 5.0f;
    float distanceNear = 1.2f;
    float distanceClose = 0.15f;
    float distanceSkip = 0.25f;
    // Degrees.
    float firstAnglePrecision = 5.0f;
    float pathfindDistance = 30.0f;
    float pathfindCompanionDistance = 15.0f;
    // Following a companion.
    float maxSinAngleCompanion = 0.1f;
    float distanceWalkCompanionCoeff = 0.25f;
    float distanceRunCompanionCoeff = 1.5f;
    float companionUpdatePeriod = 2.0f;
};

struct BoatSettings {
    // Section "boat": metres, degrees and factors.
    float distanceClose = 0.15f;
    float distanceNear = 1.5f;
    float distanceSkip = 0.25f;
    float firstAnglePrecision = 15.0f;
    float finalAnglePrecision = 15.0f;
    float stopAnglePrecision = 5.0f;
    float swimAnglePrecision = 5.0f;
    float swimPower = 0.5f;
    float swimNearPower = 0.25f;
    float stayTorquePower = 4.0f;
    float swimTorquePower = 1.0f;
};

struct PathfindSettings {
    // Section "pathfind".
    std::int32_t pathDetails = 5;
    float pathWeightCoeff = 0.9f;
    std::int32_t pathWeightLength = 1;
    std::int32_t pathLockLookup = 2;
    std::int32_t pathEyeLookup = 4;
    std::int32_t pathHeadLookup = 15;
    std::int32_t pathObstaclesLookup = 3;
    bool debugDisablePathfind = false;
    // The route smoothing weights, path_weight_length x path_details of
    // them: w[0] = 1, w[k] = coeff x w[k - 1].
    std::vector<float> weights;
    // Section "companion": the scene's companion queries.
    float nearTeleportRange = 10.0f;
    float closestTeleportLimit = 2.0f;
    float deadTeleportLimit = 25.0f;
    float timeDeadTeleportLimit = 15.0f;
    float timeDeadTeleportValue = 30.0f;
};

struct PhysicsSettings {
    // Section "physics": the character controller of the simulation.
    float chrSkinWidth = 0.05f;
    float chrStepHeight = 0.4f;
    float chrMinStep = 0.001f;
    float chrTeleportStep[3] = {-0.002f, -0.002f, 0.0f};
    // The cosine of the steepest walkable slope (85 degrees by default).
    float chrSlopeCosine = 0.0871557f;
    // Section "debug": a debug filter name.
    std::string debugPhysicsModelName;
    // Section "controller".
    float controllerSkinMultiplier = 1.0f;
};

extern CharacterSettings characterSettings;
extern BoatSettings boatSettings;
extern PathfindSettings pathfindSettings;
extern PhysicsSettings physicsSettings;

// The most route smoothing weights a table holds.
constexpr std::int32_t kMaxPathWeights = 4096;

void readCharacterSettings(IniFile& settings);
void readCompanionFollowSettings(IniFile& settings);
void readBoatSettings(IniFile& settings);
// Section "pathfind", then the weight table. Counts below 1, or a table
// longer than kMaxPathWeights, are refused (logged) for the defaults.
void readPathfindSettings(IniFile& settings);
void readCompanionSettings(IniFile& settings);
// Sections "debug" ("debug_physics_model_name") and "controller".
void readPhysicsModelSettings(IniFile& settings);
// Section "physics": the character-controller parameters; the slope is
// read in degrees and kept as its cosine.
void readCharacterPhysicsSettings(IniFile& settings);
