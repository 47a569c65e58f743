// A frame with the sky against the same frame without it, on the GL
// backend (fixed-function path, so no shader package is needed): both sides
// clear the frame, begin and end the scene and read the frame back; the
// project draws the sky's dome in between. The ratio is what the sky costs
// a bare frame. The sky side must show the record's sky colour at the top
// of the frame, the bare side the clear colour.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchDevice.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "effects/SkyDataManager.h"
#include "effects/Y3Sky.h"
#include "foundation/DataStream.h"
#include "model/DXStreams.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "scene/SceneDescription.h"
#include "textures/DdsWriter.h"

namespace {

// A white 8 x 8 texture without stars or cover (alpha 0).
std::vector<std::uint8_t> whiteLayer() {
    texture_tools::DdsImage image;
    image.width = image.height = 8;
    std::vector<std::uint8_t> texels;
    for (int i = 0; i < 64; ++i) texels.insert(texels.end(), {255, 255, 255, 0});
    image.blocks.push_back(texels);
    return texture_tools::writeDds(image);
}

void BM_SkyFrame(benchmark::State& state) {
    bench_pairs::fixAllocator();
    bench_device::ScopedDevice scoped(state, true);
    IDirect3DDevice9* device = scoped.device();
    if (!device) return;
    scoped.textures.setup.details = 0;  // the fixed-function path
    scoped.textures.files["sky_main.dds"] = whiteLayer();
    RenderCore render;
    RenderCore* savedRender = gameCore.render;
    gameCore.render = &render;
    render.stateCache().setDevice(device);
    render.stateCache().initialize(true);
    render.stateCache().setupDeviceDefaults(false);
    render.shaders().attach(device, &render.stateCache());
    render.streamDeclarations().allocate(device);
    render.textures.allocated = true;
    render.skyDome.build();
    render.skyDome.createBuffers(device);

    // The sky table from the scene writer: a clear day without fog.
    scene_tools::SceneDescription description;
    std::string error;
    scene_tools::parseSceneDescription("scene bench\nsky\nsky day clear skycolor 0.2 0.4 0.8 skyfog 0\n",
                                       description, error);
    std::string table = scene_tools::skyTableBytes(description.skyTable);
    Y3SkyDataInstance record("bench");
    MemoryStream stream(table.data(), static_cast<std::int32_t>(table.size()));
    if (record.readHeader(stream) < 0) {
        state.SkipWithError("the sky table does not load");
        gameCore.render = savedRender;
        return;
    }
    record.flags |= kResourceHeaderLoaded;
    Y3Sky sky(&record);

    // The camera at the origin looking along +z, a 90-degree perspective
    // from 0.5 to 1000 units.
    const float n = 0.5f, f = 1000.0f, q = f / (f - n);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float projection[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, q, 1, 0, 0, -n * q, 0};
    render.cameraFrame.valid = true;
    render.shaders().setCameraFrame(identity, identity, projection, projection);

    std::vector<std::uint8_t> bytes;
    std::uint32_t skyTop = 0, bareTop = 0;
    auto frame = [&](bool withSky, std::uint32_t& top) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device->BeginScene();
        render.shaders().resetPass();
        if (withSky) sky.render();
        device->EndScene();
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        D3DSURFACE_DESC desc{};
        if (back && platform::d3d9::readSurface(back, bytes, desc) && bytes.size() >= std::size_t(desc.Width) * 8 * 4)
            std::memcpy(&top, &bytes[(std::size_t(desc.Width) * 4 + desc.Width / 2) * 4], 4);
        if (back) back->Release();
    };
    bench_pairs::runPaired(state, [&] { frame(true, skyTop); }, [&] { frame(false, bareTop); });
    // B, G, R, A in memory: the sky's colour (51, 102, 204) and black.
    const int red = int((skyTop >> 16) & 0xFF), green = int((skyTop >> 8) & 0xFF), blue = int(skyTop & 0xFF);
    if (std::abs(red - 51) > 6 || std::abs(green - 102) > 6 || std::abs(blue - 204) > 6 || (bareTop & 0xFFFFFF) != 0)
        state.SkipWithError("the frames do not show the sky and the clear colour");
    for (TextureLink& layer : sky.layers) layer.release(false);
    render.skyDome.releaseBuffers();
    render.textures.releaseAll();
    render.shaders().attach(nullptr, nullptr);
    gameCore.render = savedRender;
}

}  // namespace

BENCHMARK(BM_SkyFrame)->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
