// Stored scenes for the game's own loads: the resources of a scene with a
// light, a waypoint and two visibility areas, written into a package of a
// data root that the game's package database reads.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "game/SceneActionDataManager.h"
#include "game/WaypointDataManager.h"
#include "scene/SceneDescription.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace testing_support {

// The resources of a stored scene named name (its record, sky, default light
// set, waypoints and screen actions), the record passed through damage.
inline std::vector<FixtureFile> storedScene(const std::string& name,
                                            const std::function<std::string(std::string)>& damage,
                                            const std::string& more = "") {
    scene_tools::SceneDescription scene;
    std::string error;
    EXPECT_TRUE(scene_tools::parseSceneDescription("scene " + name + "\nsky\nactions\nlightset " + name +
                                                       "_default\nlight point lamp at 1 2 3 radius 4\n"
                                                       "waypoint point pier at 5 0 5\n"
                                                       "area water at 0 0 0 extents 40 10 40\n"
                                                       "area pier at 12 0 4 extents 3 5 3\n" + more,
                                                   scene, error))
        << error;
    return {{".ms4", name, damage(scene_tools::sceneDataBytes(scene.data)), ""},
            {".sky", name, "sky", ""},
            {".as", name, "actions", ""},
            {".wp", name, scene_tools::waypointBytes(scene.waypoints), ""},
            {".ls", name + "_default", scene_tools::lightSetBytes(scene.lightSets.front()), ""}};
}

// The packages of stored scenes installed for the game, with the waypoint
// and screen-action managers that read them.
struct StoredScenes {
    explicit StoredScenes(const FixturePackage& package)
        : written(writeDataRoot(dir.path(), {package})), packages(dir.path()),
          built(written && packages.build()) {}
    TempDir dir;
    bool written;
    ScopedPackageDatabase packages;
    bool built;
    WaypointDataManager waypoints;
    SceneActionDataManager actions;
    ScopedCoreMember<WaypointDataManager> useWaypoints{gameCore.waypoints, &waypoints};
    ScopedCoreMember<SceneActionDataManager> useActions{gameCore.screenActions, &actions};
};

}  // namespace testing_support
