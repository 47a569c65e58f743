// The quad batch beside its baseline in the same run (see PairedRun.h):
// 10,000 screen quads of one still-frame state appended one quad at a time
// through the quad batch (which merges them into runs, locks with
// no-overwrite and discards when the 50,000-vertex buffer is full), against
// the same 60,000 vertices written into a dynamic buffer of their own with
// one discard lock and drawn with one call. Argument 0: the null backend;
// 1: the GL backend (skipped where no GL device can be made). Each unit ends
// with EndScene and Present, so that the GL work is paid in the run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "BenchDevice.h"
#include "PairedRun.h"
#include "d3d9/TestScenes.h"
#include "model/DXStreams.h"
#include "platform/d3d9/D3D9.h"
#include "render/QuadBatch.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "textures/MemoryTextureEnvironment.h"
#include "ui/StillFrameItem.h"

namespace {

constexpr int kQuads = 10000;
constexpr int kVertices = kQuads * 6;

void BM_QuadBatchVsDirect(benchmark::State& state) {
    bench_device::ScopedDevice scoped(state, state.range(0) != 0);
    IDirect3DDevice9* device = scoped.device();
    if (!device) return;
    // The batch draws through a state cache with the vertex formats'
    // declarations and a shader core, as the render core's does.
    DXStateCache cache;
    ShaderCore shaders;
    DXStreamDeclarations declarations;
    cache.setDevice(device);
    shaders.attach(device, &cache);
    declarations.attach(&cache);
    declarations.allocate(device);

    // The quads: a grid over the 1024 x 768 still-frame screen.
    std::vector<float> positions(std::size_t(kVertices) * 3), coords(std::size_t(kVertices) * 2);
    static constexpr float kCorners[6][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 1}, {1, 0}, {1, 1}};
    for (int q = 0; q < kQuads; ++q)
        for (int v = 0; v < 6; ++v) {
            const std::size_t i = std::size_t(q) * 6 + std::size_t(v);
            positions[i * 3] = float(q % 100) * 10.0f + kCorners[v][0] * 8.0f;
            positions[i * 3 + 1] = float(q / 100) * 7.0f + kCorners[v][1] * 6.0f;
            positions[i * 3 + 2] = 0.0f;
            coords[i * 2] = kCorners[v][0];
            coords[i * 2 + 1] = kCorners[v][1];
        }
    const std::uint32_t colour = 0x80FFFFFF;
    StillFrameItemState itemState;

    QuadBatch batch;
    batch.attach(&cache, &shaders);
    auto throughBatch = [&] {
        device->BeginScene();
        for (int q = 0; q < kQuads; ++q)
            batch.addVertices(QuadBatch::KindTriangles, &coords[std::size_t(q) * 12], nullptr,
                              &positions[std::size_t(q) * 18], nullptr, 6, &colour, 1, nullptr, &itemState);
        batch.flags |= QuadBatch::FlagNewRun;
        batch.flush();
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    };

    IDirect3DVertexBuffer9* buffer = nullptr;
    device->CreateVertexBuffer(kVertices * QuadBatch::kVertexBytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                               D3DPOOL_DEFAULT, &buffer, nullptr);
    IDirect3DVertexDeclaration9* declaration = nullptr;
    device->CreateVertexDeclaration(vertexFormat(std::int32_t(kQuadVertexFormat))->elements, &declaration);
    auto direct = [&] {
        device->BeginScene();
        void* data = nullptr;
        if (buffer && SUCCEEDED(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD))) {
            auto* out = static_cast<QuadVertex*>(data);
            for (int i = 0; i < kVertices; ++i, ++out) {
                std::memcpy(out->position, &positions[std::size_t(i) * 3], sizeof out->position);
                std::memset(out->normal, 0, sizeof out->normal);
                out->diffuse = colour;
                std::memcpy(out->texCoord0, &coords[std::size_t(i) * 2], sizeof out->texCoord0);
                std::memset(out->texCoord1, 0, sizeof out->texCoord1);
            }
            buffer->Unlock();
            device->SetVertexDeclaration(declaration);
            device->SetStreamSource(0, buffer, 0, QuadBatch::kVertexBytes);
            device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, kVertices / 3);
        }
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    };

    bench_pairs::runPaired(state, throughBatch, direct, kQuads);
    batch.release();
    if (declaration) declaration->Release();
    if (buffer) buffer->Release();
    declarations.release();
    shaders.attach(nullptr, nullptr);
    cache.setDevice(nullptr);
}
BENCHMARK(BM_QuadBatchVsDirect)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
