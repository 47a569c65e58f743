#include "control/ControlSettings.h"

#include <cmath>

#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/SettingsReader.h"

CharacterSettings characterSettings;
BoatSettings boatSettings;
PathfindSettings pathfindSettings;
PhysicsSettings physicsSettings;

void readCharacterSettings(IniFile& settings) {
    CharacterSettings& s = characterSettings;
    IniCategory& character = settings.getCategory("character");
    readSetting(character, "angular_stay", s.angularStay, 3.0f);
    readSetting(character, "angular_stay_run", s.angularStayRun, 5.0f);
    readSetting(character, "angular_walk", s.angularWalk, 5.0f);
    readSetting(character, "angular_run", s.angularRun, 5.0f);
    readSetting(character, "distance_near", s.distanceNear, 1.2f);
    readSetting(character, "distance_close", s.distanceClose, 0.15f);
    readSetting(character, "distance_skip", s.distanceSkip, 0.25f);
    readSetting(character, "first_angle_precision", s.firstAnglePrecision, 5.0f);
    readSetting(character, "pathfind_distance", s.pathfindDistance, 30.0f);
    readSetting(character, "pathfind_companion_distance", s.pathfindCompanionDistance, 15.0f);
}

void readCompanionFollowSettings(IniFile& settings) {
    CharacterSettings& s = characterSettings;
    IniCategory& character = settings.getCategory("character");
    readSetting(character, "max_sinangle_companion", s.maxSinAngleCompanion, 0.1f);
    readSetting(character, "distance_walk_companion_coeff", s.distanceWalkCompanionCoeff, 0.25f);
    readSetting(character, "distance_run_companion_coeff", s.distanceRunCompanionCoeff, 1.5f);
    readSetting(character, "companion_update_period", s.companionUpdatePeriod, 2.0f);
}

void readBoatSettings(IniFile& settings) {
    BoatSettings& s = boatSettings;
    IniCategory& boat = settings.getCategory("boat");
    readSetting(boat, "distance_close", s.distanceClose, 0.15f);
    readSetting(boat, "distance_near", s.distanceNear, 1.5f);
    readSetting(boat, "distance_skip", s.distanceSkip, 0.25f);
    readSetting(boat, "first_angle_precision", s.firstAnglePrecision, 15.0f);
    readSetting(boat, "final_angle_precision", s.finalAnglePrecision, 15.0f);
    readSetting(boat, "stop_angle_precision", s.stopAnglePrecision, 5.0f);
    readSetting(boat, "boat_swim_angle_precision", s.swimAnglePrecision, 5.0f);
    readSetting(boat, "boat_swim_power", s.swimPower, 0.5f);
    readSetting(boat, "boat_swim_near_power", s.swimNearPower, 0.25f);
    readSetting(boat, "boat_stay_torque_power", s.stayTorquePower, 4.0f);
    readSetting(boat, "boat_swim_torque_power", s.swimTorquePower, 1.0f);
}

void readPathfindSettings(IniFile& settings) {
    PathfindSettings& s = pathfindSettings;
    IniCategory& pathfind = settings.getCategory("pathfind");
    readSetting(pathfind, "path_details", s.pathDetails, 5, 1);
    readSetting(pathfind, "path_weight_coeff", s.pathWeightCoeff, 0.9f);
    readSetting(pathfind, "path_weight_length", s.pathWeightLength, 1, 1);
    readSetting(pathfind, "path_lock_lookup", s.pathLockLookup, 2, 0);
    readSetting(pathfind, "path_eye_lookup", s.pathEyeLookup, 4, 0);
    readSetting(pathfind, "path_head_lookup", s.pathHeadLookup, 15, 0);
    readSetting(pathfind, "path_obtacles_lookup", s.pathObstaclesLookup, 3, 0);
    readSetting(pathfind, "debug_disable_pathfind", s.debugDisablePathfind, false);
    // The table's length comes from the settings: bound it before it is made.
    if (static_cast<std::int64_t>(s.pathWeightLength) * s.pathDetails > kMaxPathWeights) {
        engineLog().error("Can't build path weights: %i x %i entries exceed %i; defaults used", s.pathWeightLength,
                          s.pathDetails, kMaxPathWeights);
        s.pathWeightLength = 1;
        s.pathDetails = 5;
    }
    s.weights.assign(static_cast<std::size_t>(s.pathWeightLength * s.pathDetails), 1.0f);
    for (std::size_t k = 1; k < s.weights.size(); ++k) s.weights[k] = s.pathWeightCoeff * s.weights[k - 1];
}

void readCompanionSettings(IniFile& settings) {
    PathfindSettings& s = pathfindSettings;
    IniCategory& companion = settings.getCategory("companion");
    readSetting(companion, "near_teleport_range", s.nearTeleportRange, 10.0f);
    readSetting(companion, "closest_teleport_limit", s.closestTeleportLimit, 2.0f);
    readSetting(companion, "dead_teleport_limit", s.deadTeleportLimit, 25.0f);
    readSetting(companion, "time_dead_teleport_limit", s.timeDeadTeleportLimit, 15.0f);
    readSetting(companion, "time_dead_teleport_value", s.timeDeadTeleportValue, 30.0f);
}

void readPhysicsModelSettings(IniFile& settings) {
    readSetting(settings.getCategory("debug"), "debug_physics_model_name", physicsSettings.debugPhysicsModelName, "");
    readSetting(settings.getCategory("controller"), "controller_skin_multiplier",
                physicsSettings.controllerSkinMultiplier, 1.0f);
}

void readCharacterPhysicsSettings(IniFile& settings) {
    IniCategory& physics = settings.getCategory("physics");
    PhysicsSettings& s = physicsSettings;
    readSetting(physics, "chr_skin_width", s.chrSkinWidth, 0.05f);
    readSetting(physics, "chr_step_height", s.chrStepHeight, 0.4f);
    readSetting(physics, "chr_min_step", s.chrMinStep, 0.001f);
    readSetting(physics, "chr_teleport_step.x", s.chrTeleportStep[0], -0.002f);
    readSetting(physics, "chr_teleport_step.y", s.chrTeleportStep[1], -0.002f);
    readSetting(physics, "chr_teleport_step.z", s.chrTeleportStep[2], 0.0f);
    float slopeDegrees = 85.0f;
    readSetting(physics, "chr_slope_angle", slopeDegrees, 85.0f);
    s.chrSlopeCosine = std::cos(slopeDegrees * 0.017453292f);
}
