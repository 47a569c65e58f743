// Test support: the game's compiled-shader package written into a test's
// folder, with the paths pointing at it, as the build installs it beside the
// game.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/AppPaths.h"
#include "model/DXStreams.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
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

// The render core drawing on the device as the game's start leaves it: its
// state cache with the device's defaults, the shader core started from the
// installed package, the vertex formats' declarations.
inline ::testing::AssertionResult startRenderOnDevice(RenderCore& render, IDirect3DDevice9* device) {
    DXStateCache& cache = render.stateCache();
    cache.setDevice(device);
    cache.initialize(false);
    if (!cache.setupDeviceDefaults(false)) return ::testing::AssertionFailure() << "no device defaults";
    render.shaders().attach(device, &cache);
    if (!render.shaders().initialize()) return ::testing::AssertionFailure() << "the shader core did not start";
    if (!render.streamDeclarations().allocate(device))
        return ::testing::AssertionFailure() << "no vertex declarations";
    return ::testing::AssertionSuccess();
}

}  // namespace testing_support
