// A device of our Direct3D 9 for a benchmark: the null or the GL backend,
// the scenes' windowed parameters, installed as the texture environment's
// device for the benchmark's scope. A device that cannot be made skips the
// benchmark with an error.
#pragma once

#include <benchmark/benchmark.h>

#include "d3d9/TestScenes.h"
#include "platform/d3d9/D3D9.h"
#include "textures/MemoryTextureEnvironment.h"

namespace bench_device {

class ScopedDevice {
public:
    // size: the back buffer's width and height (0: the scenes' own).
    ScopedDevice(benchmark::State& state, bool gl, unsigned size = 0) {
        platform::d3d9::Environment environment;
        environment.backend = gl ? platform::d3d9::BackendKind::GL : platform::d3d9::BackendKind::Null;
        platform::d3d9::setEnvironment(environment);
        direct3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p = d3d9_scenes::sceneParameters();
        if (size) p.BackBufferWidth = p.BackBufferHeight = size;
        if (!direct3d_ || FAILED(direct3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr,
                                                         D3DCREATE_HARDWARE_VERTEXPROCESSING, &p,
                                                         &textures.deviceInUse))) {
            textures.deviceInUse = nullptr;
            state.SkipWithError("no device");
            return;
        }
        setTextureEnvironment(&textures);
    }
    ~ScopedDevice() {
        if (textures.deviceInUse) {
            setTextureEnvironment(nullptr);
            textures.deviceInUse->Release();
        }
        if (direct3d_) direct3d_->Release();
        platform::d3d9::setEnvironment({});
    }
    ScopedDevice(const ScopedDevice&) = delete;
    ScopedDevice& operator=(const ScopedDevice&) = delete;

    IDirect3DDevice9* device() const { return textures.deviceInUse; }

    texture_tools::MemoryTextureEnvironment textures;

private:
    IDirect3D9* direct3d_ = nullptr;
};

}  // namespace bench_device
