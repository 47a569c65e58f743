// A mesh resource of the models: its subsets, vertex streams, instances and
// device data.
//
// Meshes are not built in yet; the class keeps the mesh settings, read once
// at start.
#pragma once

#include <cstdint>

struct MeshSettings {
    // Instancing: a group forms when this many objects share a key;
    // negative switches instancing off.
    std::int32_t minInstancesPerGroup = -1;
    // Device data not drawn for longer than this (seconds) is released.
    float meshRenderCacheTime = 30.0f;
    // Lazy device allocation and the release of data not drawn for a while.
    bool enableMeshCaching = true;
};

class Y3Mesh {
public:
    // Reads section "render" of the game core's settings; missing keys are
    // added and keep their defaults.
    static void readConfig();
    static const MeshSettings& settings();
};
