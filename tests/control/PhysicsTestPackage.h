// A fixture package holding the physics files (".fh4", ".fy3", ".mat") of a
// description, written by the physics description writer.
#pragma once

#include <gtest/gtest.h>

#include <string>

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

}  // namespace testing_support
