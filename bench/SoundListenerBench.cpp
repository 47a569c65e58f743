// The sound core's frame update beside a bare loop in the same run (see
// PairedRun.h): N global sounds (50, 200, 800), each waiting in its fade
// envelope for its start as automatic sounds do, updated once a frame.
// The project side is SoundCore::updateListener over its channel lists; the
// bare loop calls the same two per-frame updates of each sound of a second,
// identical set in list order. Before timing both sets are stepped once and
// their envelopes checked equal; after the timing, again. A ratio near 1 at
// every N is a frame update linear in the sounds.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "foundation/TimeCore.h"
#include "sound/Sound.h"
#include "sound/SoundCore.h"

namespace {

// A sound of no bank sound whose envelope waits far ahead: each update
// steps the envelope and nothing starts.
Sound* waitingSound(int index) {
    auto* sound = new Sound(nullptr, ("wait" + std::to_string(index)).c_str(), true, false);
    sound->startBlend(1.0e6f, 1.0f);
    return sound;
}

CurrentTime frame(double t) {
    CurrentTime sample;
    sample.game.time = t;
    sample.game.step = 0.016;
    return sample;
}

bool sameEnvelopes(const std::vector<Sound*>& a, const std::vector<Sound*>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const BlenderHeader& x = a[i]->blend();
        const BlenderHeader& y = b[i]->blend();
        if (x.elapsed != y.elapsed || x.level != y.level || x.enabled != y.enabled) return false;
    }
    return true;
}

void BM_SoundListenerUpdateVsBareLoop(benchmark::State& state) {
    bench_pairs::fixAllocator();
    const int count = static_cast<int>(state.range(0));
    SoundCore core;
    SoundCore* saved = gameCore.sound;
    gameCore.sound = &core;
    std::vector<std::unique_ptr<Sound>> bare;
    std::vector<Sound*> bareList;
    for (int i = 0; i < count; ++i) {
        core.adoptGlobalSound(waitingSound(i));
        bare.emplace_back(waitingSound(i));
        bareList.push_back(bare.back().get());
    }
    double projectTime = 0.0;
    double bareTime = 0.0;
    auto project = [&] {
        projectTime += 0.016;
        core.updateListener(frame(projectTime), 1);
    };
    auto baseline = [&] {
        bareTime += 0.016;
        const CurrentTime sample = frame(bareTime);
        for (Sound* sound : bareList) {
            sound->updatePhase1(sample, 0);
            sound->updatePhase0(sample, 0);
        }
    };
    project();
    baseline();
    if (!sameEnvelopes(core.globalSounds(0), bareList)) {
        state.SkipWithError("the two sets of sounds differ after one frame");
    } else {
        bench_pairs::runPaired(state, project, baseline, count);
        if (projectTime != bareTime || !sameEnvelopes(core.globalSounds(0), bareList))
            state.SkipWithError("the two sets of sounds differ after the timing");
    }
    core.releaseGlobalSounds();
    gameCore.sound = saved;
}
BENCHMARK(BM_SoundListenerUpdateVsBareLoop)
    ->ArgName("sounds")
    ->Arg(50)
    ->Arg(200)
    ->Arg(800)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
