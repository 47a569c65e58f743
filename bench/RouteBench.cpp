// Route building and following paired (bench/PairedRun.h) with the same
// arithmetic written bare over the same point lists: the resampling and
// weighted smoothing of a 300-node route, and one frame of following for
// 200 walkers (advance along the points, eye and head directions, distance
// left). Each pair checks that both sides give the same numbers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "app/GameCore.h"
#include "control/ControlSettings.h"
#include "control/Grid.h"
#include "control/PathGridDataManager.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "grid/GridWriter.h"

namespace {

// The centres of a winding lane of n cells.
std::vector<float> lane(std::int32_t n) {
    std::vector<float> points;
    for (std::int32_t i = 0; i < n; ++i) {
        points.push_back(0.5f + float(i));
        points.push_back(0.0f);
        points.push_back(0.5f + float((i / 7) % 3));
    }
    return points;
}

// The resampling and smoothing, bare.
void bareSmooth(std::vector<float>& out, const std::vector<float>& in, float step, std::int32_t details,
                const std::vector<float>& w) {
    std::vector<float> r;
    const std::size_t count = in.size() / 3;
    r.reserve(count * std::size_t(details) * 3);
    const float spacing = 1.0f / (step / float(details));
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const float* a = &in[i * 3];
        const float* b = a + 3;
        const float dx = b[0] - a[0], dy = b[1] - a[1], dz = b[2] - a[2];
        const std::int32_t m = std::int32_t(std::sqrt(dx * dx + dy * dy + dz * dz) * spacing);
        for (std::int32_t j = 0; j < m; ++j) {
            const float t = float(j) / float(m);
            for (int k = 0; k < 3; ++k) r.push_back(a[k] * (1.0f - t) + b[k] * t);
        }
    }
    r.insert(r.end(), in.end() - 3, in.end());
    const std::int64_t n = std::int64_t(r.size() / 3), K = std::int64_t(w.size());
    out.assign(r.size(), 0.0f);
    for (std::int64_t i = 0; i < n; ++i) {
        float total = 0.0f;
        for (std::int64_t k = 0; k < K && i + k < n; ++k) total += w[std::size_t(k)];
        for (std::int64_t k = 1; k < K && i - k >= 0; ++k) total += w[std::size_t(k)];
        float* o = &out[std::size_t(i) * 3];
        for (std::int64_t k = 0; k < K && i + k < n; ++k)
            for (int a = 0; a < 3; ++a) o[a] += w[std::size_t(k)] / total * r[std::size_t(i + k) * 3 + std::size_t(a)];
        for (std::int64_t k = 1; k < K && i - k >= 0; ++k)
            for (int a = 0; a < 3; ++a) o[a] += w[std::size_t(k)] / total * r[std::size_t(i - k) * 3 + std::size_t(a)];
        o[1] += 0.05f;
    }
}

void BM_SmoothRoute300(benchmark::State& state) {
    IniFile settings;
    readPathfindSettings(settings);
    const std::vector<float> input = lane(300);
    std::vector<float> own, bare;
    smoothRoutePoints(own, input, 1.0f);
    bareSmooth(bare, input, 1.0f, pathfindSettings.pathDetails, pathfindSettings.weights);
    if (own != bare) state.SkipWithError("the two smoothings differ");
    bench_pairs::runPaired(
        state, [&] { smoothRoutePoints(own, input, 1.0f); benchmark::DoNotOptimize(own.data()); },
        [&] {
            bareSmooth(bare, input, 1.0f, pathfindSettings.pathDetails, pathfindSettings.weights);
            benchmark::DoNotOptimize(bare.data());
        });
    state.counters["points"] = double(own.size() / 3);
}

// One walker's frame, bare: advance, eye, head, distance left (the walkers
// stand away from the route's end, where the grid's cell size is used).
struct BareWalker {
    std::vector<float> points;
    std::int32_t progress = 0;
    float eye[3] = {}, head[3] = {};
    float endFacing[3] = {1, 0, 0};

    float update(const float* p, std::int32_t d, std::int32_t eyeLook, std::int32_t headLook, float cellSize) {
        const std::int64_t c = std::int64_t(points.size() / 3);
        float best = -1.0f;
        std::int64_t nearest = -1;
        for (std::int64_t i = progress; i < c; ++i) {
            const float dx = p[0] - points[std::size_t(i) * 3], dz = p[2] - points[std::size_t(i) * 3 + 2];
            const float dd = dx * dx + dz * dz;
            if (best > 0.0f && dd > best) break;
            best = dd;
            nearest = i;
        }
        if (nearest >= 0) progress = std::max<std::int32_t>(progress, std::int32_t(nearest - 1));
        const std::int64_t s = progress, eyeEnd = std::min<std::int64_t>(s + d * eyeLook, c - 1);
        const float result = float(c - s) * cellSize / float(d);
        float sum[3] = {0, 0, 0};
        float w = 0.1f;
        for (std::int64_t i = s + 1; i < eyeEnd; ++i, w *= 1.5f) {
            sum[0] += w * (points[std::size_t(i) * 3] - p[0]);
            sum[2] += w * (points[std::size_t(i) * 3 + 2] - p[2]);
        }
        const float l = std::sqrt(sum[0] * sum[0] + sum[2] * sum[2]);
        if (l > 0.0f) eye[0] = sum[0] / l, eye[1] = 0.0f, eye[2] = sum[2] / l;
        const std::int64_t h = s + d * headLook;
        float look[3] = {endFacing[0], 0.0f, endFacing[2]};
        if (h < c) look[0] = points[std::size_t(h) * 3] - p[0], look[2] = points[std::size_t(h) * 3 + 2] - p[2];
        const float lh = std::sqrt(look[0] * look[0] + look[2] * look[2]);
        if (lh > 0.0f) head[0] = look[0] / lh, head[1] = 0.0f, head[2] = look[2] / lh;
        return result;
    }
};

void BM_GridUpdate200Walkers(benchmark::State& state) {
    IniFile settings;
    readPathfindSettings(settings);
    Y3GridData shape;
    std::string error;
    grid_tools::parseGridDescription("floor 0\n|" + std::string(200, '.') + "\n|" + std::string(200, '.') + "\n|" +
                                         std::string(200, '.') + "\n",
                                     shape, error);
    std::string bytes = grid_tools::gridFileBytes(shape);
    PathGridDataManager manager;
    GameCore saved = gameCore;
    gameCore.pathGrids = &manager;
    PathGridRecord* record = manager.getOrCreate("grid_bench");
    // No package database here: the grid is read from its bytes.
    record->flags &= ~kResourceUnavailable;
    MemoryStream file(bytes.data(), std::int32_t(bytes.size()));
    if (!manager.loadHeader(record, &file)) state.SkipWithError("the grid did not load");

    const std::vector<float> route = lane(120);
    std::vector<std::unique_ptr<Grid>> grids;
    std::vector<BareWalker> bare(200);
    std::vector<float> positions;
    for (std::int32_t k = 0; k < 200; ++k) {
        grids.emplace_back(Grid::create(record, 0, nullptr, "walker"));
        grids.back()->setRoutePoints(route, 1.0f);
        bare[std::size_t(k)].points = grids.back()->points;
        const float* at = &route[std::size_t(10 + k % 80) * 3];
        positions.insert(positions.end(), {at[0] + 0.2f, 0.0f, at[2] - 0.1f});
    }
    const PathfindSettings& s = pathfindSettings;
    float own = 0.0f, plain = 0.0f;
    const auto runOwn = [&] {
        own = 0.0f;
        for (std::size_t k = 0; k < grids.size(); ++k) own += grids[k]->update(&positions[k * 3]);
        benchmark::DoNotOptimize(own);
    };
    const auto runBare = [&] {
        plain = 0.0f;
        for (std::size_t k = 0; k < bare.size(); ++k)
            plain += bare[k].update(&positions[k * 3], s.pathDetails, s.pathEyeLookup, s.pathHeadLookup, 1.0f);
        benchmark::DoNotOptimize(plain);
    };
    runOwn();
    runBare();
    if (own != plain || grids[7]->eye[0] != bare[7].eye[0] || grids[7]->head[2] != bare[7].head[2])
        state.SkipWithError("the two followings differ");
    bench_pairs::runPaired(state, runOwn, runBare, 200.0);
    grids.clear();
    record->release();
    gameCore = saved;
}

}  // namespace

BENCHMARK(BM_SmoothRoute300)->UseManualTime()->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridUpdate200Walkers)->UseManualTime()->MinTime(0.2)->Unit(benchmark::kMicrosecond);
