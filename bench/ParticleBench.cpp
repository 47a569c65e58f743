// Particle simulation against a plain loop: 20 layers of 600 points each,
// simulated over one second of 60 frames. The plain loop integrates, ages
// and kills the same points in the same sub-steps; both must end with the
// same live points.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "effects/Particle.h"
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
    if (projectLive != baselineLive || projectLive == 0) state.SkipWithError("the live points differ");
    state.counters["live_points"] = static_cast<double>(projectLive);
    effect->release();
}

}  // namespace

BENCHMARK(BM_ParticleSimulation)->UseManualTime()->MinTime(0.5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
