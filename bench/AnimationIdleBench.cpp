// Idle sequences that restart faster than their blends fade, played for ten
// minutes of game time, paired (bench/PairedRun.h):
//   BM_AnimationIdleAfterTenMinutes/<kind>: one second (60 frames of the
//     model's preparation and update) of a character of 24 bones that has
//     played its idle for ten minutes and more, against the eleventh second
//     of the same idle on the same character (the baseline, made anew and
//     played for ten seconds before each of its runs, while the old one
//     plays a second untimed too). Both do the same work when the stack keeps only
//     what still weighs: the ratio stays near 1, and the counters give the
//     instances on the stack after ten minutes and the most seen in the
//     young idle's timed seconds. Kind 0: an idle of two 0.4 s elements; kind 1: one of
//     two zero-length elements (restarted every frame). Before timing, the
//     bone matrices after ten minutes are checked equal to those of a new
//     idle played to the same point of its restarts.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>

#include "BenchEngineRoot.h"
#include "BenchSkeleton.h"
#include "PairedRun.h"
#include "animation/AnimationCore.h"
#include "animation/ModelAnimation.h"
#include "foundation/TimeCore.h"
#include "model/AnimationWriter.h"
#include "model/Model.h"

namespace {

constexpr int kBones = 24;
constexpr double kStep = 1.0 / 60.0;
constexpr int kFramesASecond = 60;
constexpr int kTenMinutes = 10 * 60 * kFramesASecond;
// The age of the baseline's idle when its timed second starts.
constexpr int kYoungSeconds = 10;
const char* const kIdles[2] = {"[idle.a 0.4][idle.b 0.4]", "[idle.a 0][idle.b 0]"};

using bench_skeleton::boneName;

// Two animations of 11 frames (0.4 s) turning bones 1 to 23 about z, and
// the tracker map that lets the body drive them.
std::string animationText() {
    std::string text;
    for (int a = 0; a < 2; ++a) {
        text += std::string("anim idle.") + (a ? "b" : "a") + " 11 loop\n";
        for (int b = 1; b < kBones; ++b) {
            text += "track " + boneName(b) + " 0 10\nchannel rz 0";
            std::string w = "channel rw 0";
            for (int f = 0; f < 11; ++f) {
                const float angle = 0.3f * std::sin(float(a) + 0.3f * float(f) + 0.1f * float(b));
                text += " " + std::to_string(std::sin(angle));
                w += " " + std::to_string(std::cos(angle));
            }
            text += "\n" + w + "\n";
        }
    }
    return text + "map default\nmapbone jaw 1 0 0 1 0\n";
}

package_tool::Manifest idleManifest() {
    package_tool::Manifest manifest;
    manifest.versions.push_back("bench");
    model_tools::AnimationDescription parsed;
    std::string rest, error;
    if (!model_tools::parseAnimationLines(animationText(), parsed, rest, error)) return manifest;
    for (const auto& animation : parsed.animations)
        bench_package::addFile(manifest, "idle", ".ani4", animation.name, model_tools::animationFileBytes(animation));
    for (const auto& map : parsed.maps)
        bench_package::addFile(manifest, "idle", ".amap", map.name, model_tools::trackerMapBytes(map));
    return manifest;
}

// A character of 24 bones in a chain, on screen, playing the idle.
std::unique_ptr<Model> idler(const char* idle) {
    auto model = std::make_unique<Model>("idler", "idler", 0);
    model->stateWords[0] |= kModelDrawnThisFrame;
    bench_skeleton::makeChain(*model, kBones);
    if (!model->playSequenceIdle(idle)) return nullptr;
    return model;
}

void frames(Model& model, int count) {
    const CurrentTime time(kStep);
    for (int i = 0; i < count; ++i) {
        model.animation.prepare(time, false);
        model.animation.update(time, false, false);
    }
}

std::size_t instances(Model& model) { return model.animation.body().instances().size(); }

// The frames from one restart of the idle to the next, once it has played
// for four seconds (0 when it does not restart).
int restartPeriod(Model& model) {
    frames(model, 4 * kFramesASecond);
    double last = model.animation.body().idleEnvelope.elapsed;
    int since = 0;
    int restarts = 0;
    for (int i = 0; i < 10 * kFramesASecond; ++i) {
        frames(model, 1);
        ++since;
        const double elapsed = model.animation.body().idleEnvelope.elapsed;
        if (elapsed <= last) {
            if (restarts++ > 0) return since;
            since = 0;
        }
        last = elapsed;
    }
    return 0;
}

void BM_AnimationIdleAfterTenMinutes(benchmark::State& state) {
    bench_pairs::fixAllocator();
    bench_package::EngineRoot root("animation-idle", idleManifest());
    AnimationCore core;
    gameCore.animation = &core;
    const char* idle = kIdles[state.range(0)];
    std::unique_ptr<Model> old = root.built() ? idler(idle) : nullptr;
    if (!old) {
        gameCore.animation = nullptr;
        state.SkipWithError("the idle could not be played");
        return;
    }
    frames(*old, kTenMinutes);
    const std::size_t afterTenMinutes = instances(*old);
    std::unique_ptr<Model> young;
    std::size_t youngMost = 0;
    // Both sides hold the same pose at the same point of the idle's
    // restarts: the young one plays four seconds and then up to the phase
    // that ten minutes reach.
    std::unique_ptr<Model> probe = idler(idle);
    const int period = probe ? restartPeriod(*probe) : 0;
    probe.reset();
    young = idler(idle);
    bool same = young != nullptr && period > 0;
    if (same) {
        const int start = 4 * kFramesASecond;
        frames(*young, start + ((kTenMinutes - start) % period + period) % period);
    }
    for (int b = 0; same && b < kBones; ++b)
        for (int k = 0; k < 12; ++k)
            same = same && std::fabs(old->animation.skeleton.bones[std::size_t(b)].world.m[k] -
                                     young->animation.skeleton.bones[std::size_t(b)].world.m[k]) <= 4e-5f;
    if (!same) {
        young.reset();
        old.reset();
        gameCore.animation = nullptr;
        state.SkipWithError("the old and the young idle disagree");
        return;
    }
    double oldFrames = kTenMinutes;
    bench_pairs::runPaired(
        state, [&] { frames(*old, kFramesASecond), oldFrames += kFramesASecond; },
        [&] {
            for (int i = 0; i < kFramesASecond; ++i) {
                frames(*young, 1);
                youngMost = std::max(youngMost, instances(*young));
            }
        },
        double(kFramesASecond), [&] {
            // A new idle past its first ten seconds, when its stack has
            // settled; the old one plays a second too, so that both come
            // to their timed second equally warm.
            young = idler(idle);
            if (young) frames(*young, kYoungSeconds * kFramesASecond);
            frames(*old, kFramesASecond);
            oldFrames += kFramesASecond;
        });
    state.counters["instances_after_10min"] = double(afterTenMinutes);
    state.counters["instances_now"] = double(instances(*old));
    state.counters["old_minutes_played"] = oldFrames / (60.0 * kFramesASecond);
    state.counters["instances_young_max"] = double(youngMost);
    young.reset();
    old.reset();
    gameCore.animation = nullptr;
}

}  // namespace

BENCHMARK(BM_AnimationIdleAfterTenMinutes)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
