#include "control/PhysicsCore.h"

#include "platform/physics/PhysicsBackend.h"
#include "platform/physics/bullet/BulletBackend.h"

PhysicsCore::PhysicsCore()
    : unusedArray_(std::make_unique<std::vector<void*>>()),
      modelData_(std::make_unique<PhysicsModelDataManager>()),
      surfaces_(std::make_unique<SurfaceDataManager>()) {}

PhysicsCore::~PhysicsCore() {
    unusedArray_.reset();
    modelData_.reset();
    surfaces_.reset();
}

bool PhysicsCore::openSDK() { return platform::physics::backend().open(); }

void PhysicsCore::installGamePlatform() {
    static std::unique_ptr<platform::physics::Backend> game = platform::physics::createBulletBackend();
    platform::physics::installBackend(game.get());
}
