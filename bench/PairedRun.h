// Side-by-side figures: the project's operation and its baseline run
// alternately in one process (which of the two goes first alternates too),
// so that both see the same machine state. Each benchmark iteration times
// one pair; the iteration time shown is the project's, and the counters give
// the medians of both and their ratio:
//   x_baseline    project time / baseline time (lower is better; builds)
//   rate_vs_base  baseline time / project time (the project's share of the
//                 baseline's rate; higher is better; calls and loads)
// Register such benchmarks with UseManualTime().
#pragma once

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <type_traits>
#include <vector>

namespace bench_pairs {

// glibc gives the top of its heap back to the system once more than 128 KiB
// lie free there, and serves blocks from 128 KiB up (the threshold moving
// with what was freed) with fresh mappings: a side that frees such a block
// each iteration then pays page faults the other does not. Set once at the
// start of a process, the same fixed thresholds hold for both sides.
inline void fixAllocator() {
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// project and baseline each run one unit of work (for instance a whole
// build, or a batch of calls); units is how many items one unit holds, for
// the per-item figures. untimed runs before each of them, outside the
// measured time (to free what the previous run made, for instance). A unit
// that answers a double has measured itself: the answer, in seconds, is
// its time (a launched process timed to an event it reports, for one).
// Runs a unit; its own time when it answers one, else -1.
template <class Unit>
double timedBy(Unit& unit) {
    if constexpr (std::is_same_v<std::invoke_result_t<Unit&>, double>) {
        return unit();
    } else {
        unit();
        return -1.0;
    }
}

template <class Project, class Baseline, class Untimed = void (*)()>
void runPaired(benchmark::State& state, Project&& project, Baseline&& baseline, double units = 1.0,
               Untimed&& untimed = [] {}) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> mine;
    std::vector<double> base;
    bool baseFirst = true;
    for (auto _ : state) {
        double p = 0.0;
        double b = 0.0;
        for (int half = 0; half < 2; ++half) {
            const bool runBase = (half == 0) == baseFirst;
            untimed();
            const auto start = Clock::now();
            double measured = -1.0;
            if (runBase)
                measured = timedBy(baseline);
            else
                measured = timedBy(project);
            const double seconds =
                measured >= 0.0 ? measured : std::chrono::duration<double>(Clock::now() - start).count();
            (runBase ? b : p) = seconds;
        }
        baseFirst = !baseFirst;
        mine.push_back(p);
        base.push_back(b);
        state.SetIterationTime(p);
    }
    const double p = median(mine);
    const double b = median(base);
    state.counters["project_ns"] = p * 1e9 / units;
    state.counters["baseline_ns"] = b * 1e9 / units;
    state.counters["x_baseline"] = b > 0.0 ? p / b : 0.0;
    state.counters["rate_vs_base"] = p > 0.0 ? b / p : 0.0;
}

}  // namespace bench_pairs
