// Test support: the game's compiled-shader package written into a test's
// folder, with the paths pointing at it, as the build installs it beside the
// game.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/AppPaths.h"
#include "shaderpack/ShaderPacker.h"
#include "support/TestSupport.h"

namespace testing_support {

inline ::testing::AssertionResult installShaderPackage(AppPaths& paths, const TempDir& folder) {
    paths.setPath(PathExeFolderInput, folder.path());
    paths.setPath(PathShaderCacheName, "shaders.0050");
    std::string error;
    std::vector<PackedShader> shaders;
    if (!buildShaderBodies(shaders, error)) return ::testing::AssertionFailure() << error;
    if (!writeShaderPackage(paths.get(PathShaderCacheFile), shaders, error))
        return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult installShaderPackage(ScopedGameCore& core, const TempDir& folder) {
    return installShaderPackage(core.paths(), folder);
}

}  // namespace testing_support
