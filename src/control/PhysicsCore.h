// The physics core. The system carries no physics simulation: the core
// exists so that physics objects have an owner, and keeps the physics model
// descriptions that models ask for by name.
#pragma once

#include "resources/StoredDataManager.h"

// The physics model descriptions (".fh4" header, ".fy3" data), one record
// per description, loaded when first asked for.
class PhysicsModelDataManager
    : public Y3ResourceManager<StoredRecordOf<ResourceKind::PhysicsModel>, kProgressNoReportStage,
                               kProgressNoReportStage> {};

class PhysicsCore {
public:
    PhysicsCore() = default;
    PhysicsCore(const PhysicsCore&) = delete;
    PhysicsCore& operator=(const PhysicsCore&) = delete;

    PhysicsModelDataManager& modelData() { return modelData_; }

private:
    PhysicsModelDataManager modelData_;
};
