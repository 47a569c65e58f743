// The waypoint sets of the scenes, one record per scene, loaded when first
// asked for; a record exports its data.
#pragma once

#include "resources/StoredDataManager.h"

class WaypointDataManager : public StoredDataManager {
public:
    WaypointDataManager();
};
