// Scene resources from a readable description: the scene data
// record (".ms4": placements, lights, poses, visibility block) and the
// resources a stored scene needs beside it (its light sets ".ls", its
// waypoints ".wp", its sky ".sky" and screen actions ".as").
//
// Description lines ("#" starts a comment; a pose is "at x y z" for a
// translation or "matrix" and 12 numbers):
//   scene <name>
//   model <object> <model resource> [pose] [texture_set <n>]
//         [morning|day|evening|nighttime <light-set name>]...
//                                    (the placement's light set for that
//                                    time of day: the placement's property
//                                    block replaces the model's own, and a
//                                    time without one takes the scene's
//                                    default set)
//   sprite <name> <sprite resource> [pose]
//   light point|direct <name> [pose] [radius <r>] [distance <d>]
//         [colour <r> <g> <b>] [lightset <name>] [texture <name>]
//                                    (texture: the first projected texture)
//                                    (a light whose name begins "shadow"
//                                    casts shadows: the engine reads that
//                                    flag from the name)
//   pose <kind> <id> [pose]          (kept in the scene data; kinds point,
//                                    trigger, model, camera, particle,
//                                    light, volume)
//   waypoint <kind> <id> [pose]      (kept in "<scene>.wp")
//                                    (a particle pose or waypoint takes
//                                    "effect <name>": the effect its
//                                    particle shows; a model pose or
//                                    waypoint takes "trajectory <x> <y> <z>"
//                                    once per point of its trajectory, in
//                                    order; a volume pose or waypoint
//                                    takes "corner <x> <y> <z>" for each
//                                    corner of its ground polygon, at
//                                    least 3, in order)
//   area <name> at <x> <y> <z> extents <hx> <hy> <hz>
//                                    (a visibility area of one box)
//   lightset <name> [ambient <r> <g> <b>] [diffuse <r> <g> <b>]
//            [specular <r> <g> <b>]     (no specular colour unless given)
//   sky                                         (writes "<scene>.sky")
//   sky <time>|all <weather>|all <key> <values> ...
//                                    (sets the sky table's records of that
//                                    time of day (morning, day, evening,
//                                    nighttime) and weather (clear, clouds,
//                                    rain, fog); keys: skycolor, horizon,
//                                    starscolor, cloudscolor (r g b, 0..1),
//                                    cloudsspeed <s>, skyfog <d>,
//                                    fog <start> <end>, depth <5 values>,
//                                    bloom <threshold> <scale> <strength>:
//                                    the bright pass keeps what is above the
//                                    threshold, times scale and strength)
//   rain <rain line>                 (writes "<scene>.rain" and
//                                    "<scene>.raindata" from the rain lines
//                                    in order, each a line of the rain-map
//                                    writer's description, rain/RainWriter.h)
//   actions                          (writes "<scene>.as", compiled from
//                                    the screens and actions that follow)
//   screen <name>                    (a screen of the screen actions)
//   action <name> [order <n>] [help <x> <y>] [colour <r> <g> <b>]
//          [flags <n>] [cells <x0> <y0> <x1> <y1>]...
//                                    (an action of the last screen over
//                                    the cell rectangles, inclusive)
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "effects/LightSetLibrary.h"
#include "scene/SceneDataManager.h"
#include "scene/SceneWriter.h"

namespace scene_tools {

struct SceneDescription {
    SceneData data;
    WaypointSet waypoints;
    std::vector<LightSet> lightSets;
    bool sky = false;
    // The sky table: 16 records (4 x time of day + weather) of 27 floats.
    std::vector<float> skyTable;
    bool actions = false;
    // The source text of the screen actions.
    std::string actionSource;
    bool rain = false;
    // The rain-map description, one line of it a "rain" line.
    std::string rainSource;
};

// False, with the line and the reason in error, for a line it cannot read.
bool parseSceneDescription(std::string_view text, SceneDescription& out, std::string& error);

// The stored bytes of each resource; empty when the data cannot be stored.
std::string sceneDataBytes(const SceneData& data);
std::string lightSetBytes(const LightSet& set);
std::string waypointBytes(const WaypointSet& poses);
std::string sceneActionBytes(const SceneDescription& description);
// The 1,728 bytes of a sky table (little-endian floats).
std::string skyTableBytes(const std::vector<float>& table);

// Writes "<scene>.ms4" and the other resources of the description into
// folder; the written file names go to written.
bool writeSceneFiles(const SceneDescription& description, const std::string& folder,
                     std::vector<std::string>* written, std::string* error);

}  // namespace scene_tools
