// The physics core, a member of the game core: it owns the physics model
// descriptions and the physics surfaces, and opens the physics backend
// (platform/physics) that simulates the physics scenes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "control/SurfaceDataManager.h"
#include "control/Y3PhysicsModelData.h"

class PhysicsCore {
public:
    PhysicsCore();
    // Deletes the array, the description manager (every record released
    // first) and the surfaces, in that order.
    ~PhysicsCore();
    PhysicsCore(const PhysicsCore&) = delete;
    PhysicsCore& operator=(const PhysicsCore&) = delete;

    // True.
    bool initialize() { return true; }
    // Whether the installed backend carries a simulation.
    bool openSDK();
    // Installs the game's physics backend (the Bullet simulation) for the
    // rest of the process.
    static void installGamePlatform();

    PhysicsModelDataManager& modelData() { return *modelData_; }
    SurfaceDataManager& surfaces() { return *surfaces_; }

private:
    std::uint32_t unused_ = 0;
    std::unique_ptr<std::vector<void*>> unusedArray_;
    std::unique_ptr<PhysicsModelDataManager> modelData_;
    std::unique_ptr<SurfaceDataManager> surfaces_;
};
