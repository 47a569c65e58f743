// Test support: the game's compiled-shader package written into a test's
// folder, with the paths pointing at it, as the build installs it beside the
// game.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "foundation/AppPaths.h"
#include "shaderpack/ShaderPacker.h"
#include "support/TestSupport.h"

namespace testing_support {

inline ::testing::AssertionResult installShaderPackage(ScopedGameCore& core, const TempDir& folder) {
    core.paths().setPath(PathExeFolderInput, folder.path());
    core.paths().setPath(PathShaderCacheName, "shaders.0050");
    std::string error;
    if (!packAllShaders(core.paths().get(PathShaderCacheFile), error))
        return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

}  // namespace testing_support
