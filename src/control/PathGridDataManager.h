// The path-finding grid resources of the scenes, one record per grid name.
//
// Grid resources are not read yet: the manager holds no record.
#pragma once

class PathGridDataManager {
public:
    PathGridDataManager() = default;
    ~PathGridDataManager();
    PathGridDataManager(const PathGridDataManager&) = delete;
    PathGridDataManager& operator=(const PathGridDataManager&) = delete;

    // Destroys every record.
    void releaseAll();
};
