// Particle simulation against a plain loop: 20 layers of 600 points each,
// simulated over one second of 60 frames. The plain loop integrates, ages
// and kills the same points in the same sub-steps; both must end with the
// same live points.
//
// Particle drawing: 10,000 points of 20 pushed particles queued by their
// particle context and drawn through the render core's object pass, against
// the same points handed to the quad batch alone (null backend); both
// append the same vertices.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "BenchDevice.h"
#include "PairedRun.h"
#include "app/GameCore.h"
#include "effects/Particle.h"
#include "effects/ParticleData.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "effects/ParticleLayer.h"
#include "foundation/DataStream.h"
#include "particle/ParticleWriter.h"

namespace {

constexpr int kLayers = 20;
constexpr int kPoints = 600;
constexpr int kFrames = 60;
constexpr double kFrame = 1.0 / 60.0;

std::vector<ParticlePoint> startingPoints() {
    std::vector<ParticlePoint> points(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        ParticlePoint& p = points[static_cast<std::size_t>(i)];
        p.age = static_cast<float>(i) / kPoints;
        p.ageRate = 0.5f;
        p.velocity[0] = 0.1f * static_cast<float>(i % 7);
        p.velocity[1] = 1.0f;
        p.sizeScale = 1.0f;
        p.scale = 1.0f;
    }
    return points;
}

// The plain loop: the same sub-steps (at most 1/85 s), age, kill by moving
// the last point into place, integrate.
void plainStep(std::vector<ParticlePoint>& points, double dt) {
    const float step = static_cast<float>(dt);
    for (std::size_t i = 0; i < points.size();) {
        ParticlePoint& p = points[i];
        p.age += p.ageRate * step;
        if (p.age < 0.0f || p.age > 1.0f) {
            points[i] = points.back();
            points.pop_back();
            continue;
        }
        p.width = p.height = 0.5f * p.sizeScale;
        for (int c = 0; c < 3; ++c) p.position[c] += p.velocity[c] * step;
        ++i;
    }
}

void BM_ParticleSimulation(benchmark::State& state) {
    bench_pairs::fixAllocator();
    std::string text = "limit 600\n";
    for (int i = 0; i < kLayers; ++i) text += "layer l" + std::to_string(i) + "\nrate 0\nsize 1\n";
    std::string error;
    std::string bytes = particle_tools::effectFileBytes(text, error);
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    std::unique_ptr<ParticleEffect> effect;
    if (ParticleDataManager::createData(stream, effect, "bench") < 0) {
        state.SkipWithError("the effect does not load");
        return;
    }
    Particle particle(0, "bench", "bench", matrix34Identity());
    particle.effectData = effect.get();
    std::vector<std::unique_ptr<ParticleLayer>> layers;
    for (int i = 0; i < kLayers; ++i) layers.push_back(std::make_unique<ParticleLayer>(particle, i));
    const std::vector<ParticlePoint> start = startingPoints();
    std::vector<std::vector<ParticlePoint>> plain(kLayers);
    std::size_t projectLive = 0, baselineLive = 0;

    const auto reset = [&] {
        particle.livePointCount = kLayers * kPoints;
        for (auto& layer : layers) layer->points = start;
        for (auto& points : plain) points = start;
    };
    const auto project = [&] {
        for (int frame = 0; frame < kFrames; ++frame)
            for (auto& layer : layers) layer->update(CurrentTime(kFrame), true);
        projectLive = 0;
        for (auto& layer : layers) projectLive += layer->points.size();
    };
    const auto baseline = [&] {
        for (int frame = 0; frame < kFrames; ++frame)
            for (auto& points : plain) {
                // 1/60 s cut into sub-steps of at most 1/85 s, as the layers cut it.
                plainStep(points, 1.0 / 85.0);
                plainStep(points, kFrame - 1.0 / 85.0);
            }
        baselineLive = 0;
        for (auto& points : plain) baselineLive += points.size();
    };
    bench_pairs::runPaired(state, project, baseline, double(kLayers) * kPoints * kFrames, reset);
    // Both sides, run once more from the same start, hold the same points,
    // in the same order, at the same ages and positions.
    reset();
    project();
    baseline();
    bool same = projectLive == baselineLive && projectLive != 0;
    for (int l = 0; same && l < kLayers; ++l) {
        const auto& a = layers[std::size_t(l)]->points;
        const auto& b = plain[std::size_t(l)];
        for (std::size_t i = 0; same && i < a.size(); ++i)
            same = a[i].age == b[i].age && a[i].position[0] == b[i].position[0] &&
                   a[i].position[1] == b[i].position[1] && a[i].position[2] == b[i].position[2];
    }
    if (!same) state.SkipWithError("the live points differ");
    state.counters["live_points"] = static_cast<double>(projectLive);
    effect->release();
}

void BM_ParticleDrawing(benchmark::State& state) {
    bench_pairs::fixAllocator();
    bench_device::ScopedDevice scoped(state, false);
    IDirect3DDevice9* device = scoped.device();
    if (!device) return;
    RenderCore render;
    RenderCore* savedRender = gameCore.render;
    gameCore.render = &render;
    render.stateCache().setDevice(device);
    render.stateCache().initialize(false);
    render.shaders().attach(device, &render.stateCache());

    constexpr int kParticles = 20, kEach = 500;
    std::string error;
    std::string bytes = particle_tools::effectFileBytes("layer glow\nmaterial additive\n", error);
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    Y3ParticleData record("glow");
    if (ParticleDataManager::createData(stream, record.effect, "glow") < 0) {
        state.SkipWithError("the effect does not load");
        gameCore.render = savedRender;
        return;
    }
    record.flags |= kResourceHeaderLoaded;
    // Pushed particles whose one layer holds points in view, as the
    // visibility step leaves them under a camera that sees them all.
    std::vector<std::unique_ptr<Particle>> particles;
    for (int i = 0; i < kParticles; ++i) {
        auto particle = std::make_unique<Particle>(0, "glow", ("p" + std::to_string(i)).c_str(), matrix34Identity());
        particle->effectRecord = &record;
        particle->buildLayers();
        if (particle->layers.size() != 1 || !particle->push()) {
            state.SkipWithError("the particle does not push");
            break;
        }
        ParticleLayer& layer = *particle->layers[0];
        layer.points.assign(kEach, ParticlePoint{});
        for (int k = 0; k < kEach; ++k) {
            ParticlePoint& p = layer.points[std::size_t(k)];
            p.inView = 1;
            p.width = p.height = 0.1f;
            p.axis[1] = 1.0f;
            p.worldPosition[0] = float(k % 50) * 0.1f;
            p.worldPosition[1] = float(i) * 0.2f;
            p.texRect[2] = p.texRect[3] = 1.0f;
            for (float& c : p.color) c = 0.5f;
        }
        layer.flags |= kLayerPointInView;
        particle->state |= kParticlePointInView;
        particles.push_back(std::move(particle));
    }
    if (particles.size() == std::size_t(kParticles) && record.context) {
        record.renderObject.visible = 1;
        std::int32_t contextVertices = 0, batchVertices = 0;
        const auto context = [&] {
            render.quadBatch.resetCounters();
            device->BeginScene();
            render.renderList.clearQueues();
            record.context->update(matrix34Identity());
            render.renderObjectContexts();
            render.quadBatch.flush();
            device->EndScene();
            contextVertices = render.quadBatch.used();
        };
        const auto batch = [&] {
            render.quadBatch.resetCounters();
            device->BeginScene();
            for (const auto& particle : particles) {
                ParticleLayer& layer = *particle->layers[0];
                render.quadBatch.addSpriteQuads(layer.points.data(), std::int32_t(layer.points.size()), 0,
                                                layer.material.get(), false);
            }
            render.quadBatch.flush();
            device->EndScene();
            batchVertices = render.quadBatch.used();
        };
        bench_pairs::runPaired(state, context, batch, double(kParticles) * kEach);
        if (contextVertices != batchVertices || contextVertices == 0) state.SkipWithError("the vertices differ");
        state.counters["vertices"] = double(contextVertices);
    }
    render.renderList.clearQueues();
    for (auto& particle : particles) particle->release();
    particles.clear();
    record.effect->release();
    gameCore.render = savedRender;
}

}  // namespace

BENCHMARK(BM_ParticleDrawing)->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParticleSimulation)->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
