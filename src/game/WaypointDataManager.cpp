#include "game/WaypointDataManager.h"

WaypointDataManager::WaypointDataManager() : StoredDataManager({.className = "WaypointDataManager",
                                                          .kind = ResourceKind::Waypoints,
                                                          .exportFailure = "Can't export to file waypoint resource [%s]"}) {}
