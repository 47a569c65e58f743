// A fixture package holding the physics files (".fh4", ".fy3", ".mat") of a
// description, written by the physics description writer; the data root
// and physics core that install it, and the game's simulation backend.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/GameCore.h"
#include "control/PhysicsCore.h"
#include "foundation/AppPaths.h"
#include "platform/physics/bullet/BulletBackend.h"
#include "resources/PackageDatabase.h"

#include "physics/PhysicsWriter.h"
#include "support/PackageFixture.h"

namespace testing_support {

inline FixturePackage physicsPackage(const char* text) {
    physics_tools::PhysicsDescription description;
    std::string error;
    EXPECT_TRUE(physics_tools::parsePhysicsDescription(text, description, error)) << error;
    FixturePackage package;
    for (const auto& file : physics_tools::physicsFiles(description)) {
        const std::size_t dot = file.name.rfind('.');
        package.files.push_back({file.name.substr(dot), file.name.substr(0, dot), file.bytes, ""});
    }
    return package;
}

// A data root with the physics files of a description, its package
// database and a physics core, installed in the game core.
class PhysicsData {
public:
    explicit PhysicsData(const char* text)
        : usePaths_(gameCore.paths, &paths_), usePackages_(gameCore.packages, &packages_),
          usePhysics_(gameCore.physics, &physics) {
        EXPECT_TRUE(writeDataRoot(root_.path(), {physicsPackage(text)}));
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, root_.path());
        built = packages_.build();
    }

    PhysicsCore physics;
    bool built = false;

private:
    TempDir root_;
    AppPaths paths_;
    PackageDatabase packages_;
    ScopedCoreMember<AppPaths> usePaths_;
    ScopedCoreMember<PackageDatabase> usePackages_;
    ScopedCoreMember<PhysicsCore> usePhysics_;
};

// The game's simulation, installed while it exists.
class BulletWorlds {
public:
    BulletWorlds() : backend_(platform::physics::createBulletBackend()) {
        previous_ = platform::physics::installBackend(backend_.get());
    }
    ~BulletWorlds() { platform::physics::installBackend(previous_); }

private:
    std::unique_ptr<platform::physics::Backend> backend_;
    platform::physics::Backend* previous_ = nullptr;
};

}  // namespace testing_support
