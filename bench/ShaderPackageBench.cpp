// Starting the shader core beside its baseline in the same run (see
// PairedRun.h): loading the full compiled-shader package (every standalone
// program and every family permutation, ~15,000 bodies looked up and
// checked) and creating the device shaders of the first 1,000 family
// programs, against reading the package's container alone (mapping the
// file and splitting it into entries). The first argument is the Direct3D 9
// backend: 0 the null backend (the package's parse alone), 1 the GL
// backend the game runs on (its device, where each device shader is a
// program the backend translates and compiles); the second how many family
// programs are asked for after the load and their device shaders created:
// 0 is the game's own start, which makes a program and its device shader
// only when a draw first uses it. The package is the raw record the packer
// writes, which the container maps.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "d3d9/TestScenes.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "platform/d3d9/D3D9.h"
#include "render/shaders/Container.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "shaderpack/ShaderPacker.h"

namespace {

void BM_ShaderCoreStartVsContainerRead(benchmark::State& state) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "engine_bench_shaders";
    std::filesystem::create_directories(folder);
    Log log;
    AppPaths paths;
    gameCore.log = &log;
    gameCore.paths = &paths;
    paths.setPath(PathExeFolderInput, folder.string());
    paths.setPath(PathShaderCacheName, "shaders.0050");
    std::vector<PackedShader> shaders;
    std::string error;
    if (!buildShaderBodies(shaders, error) || !writeShaderPackage(paths.get(PathShaderCacheFile), shaders, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    platform::d3d9::Environment environment;
    environment.backend = state.range(0) ? platform::d3d9::BackendKind::GL : platform::d3d9::BackendKind::Null;
    platform::d3d9::setEnvironment(environment);
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
    IDirect3DDevice9* device = nullptr;
    if (FAILED(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device))) {
        state.SkipWithError("no Direct3D device on this backend");
        direct3d->Release();
        platform::d3d9::setEnvironment({});
        return;
    }
    DXStateCache cache;
    cache.setDevice(device);
    cache.initialize(false);
    cache.setupDeviceDefaults(false);
    ShaderCore core;
    core.attach(device, &cache);

    const int toCreate = int(state.range(1));
    auto startCore = [&] {
        if (!core.initialize()) {
            state.SkipWithError("the shader package did not load");
            return;
        }
        // The first programs of each family's walks, as draws would ask
        // for them.
        int created = 0;
        for (MultyShader* family : core.families)
            for (bool pixel : {false, true})
                for (bool more = pixel ? family->nextPixel(true) : family->nextVertex(true);
                     more && created < toCreate; more = pixel ? family->nextPixel(false) : family->nextVertex(false)) {
                    ShaderProgram* program = core.familyProgram(*family, pixel);
                    if (program && program->createDeviceShader(device, &cache)) ++created;
                }
        benchmark::DoNotOptimize(created);
    };
    auto readContainer = [&] {
        Container container("render shaders", PathShaderCacheFile);
        if (!container.load()) state.SkipWithError("the container did not load");
        benchmark::DoNotOptimize(container.count());
    };
    bench_pairs::runPaired(state, startCore, readContainer, 1.0, [&] { core.release(); });
    core.release();
    state.counters["programs"] = double(shaders.size());
    state.counters["device_shaders"] = double(toCreate);
    if (device) device->Release();
    direct3d->Release();
    platform::d3d9::setEnvironment({});
    gameCore.log = nullptr;
    gameCore.paths = nullptr;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ShaderCoreStartVsContainerRead)
    ->Args({0, 1000})
    ->Args({1, 1000})
    ->Args({1, 0})
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
