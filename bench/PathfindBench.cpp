// The grid path search paired with a plain A* (bench/PairedRun.h) written
// bare here over the same grid arrays: a binary heap, the admissible
// estimate 10 * max + min, the same moves and costs (10 straight, 11
// diagonal, no diagonal past a missing or blocked side neighbour) and a
// visited array indexed by cell. Grids from the grid writer: open, 20 % and
// 35 % blocked, and a maze, at 64^2 to 1024^2 cells. Each unit runs the same
// seeded start/goal pairs on both sides: reachable goals without and with a
// limit of 40 cells, and blocked (unreachable) goals without a limit.
//
// The search's estimate overestimates (11 * max + min), so it is greedy:
// it expands fewer nodes than A* on open ground and its paths may cost
// more. The counters give, per unit, the nodes each side expanded and the
// summed path cost of the reachable unlimited queries; the check asserts
// that both reach exactly the same goals there and that A*'s cost is never
// higher. After the runs a table gives per grid and size the paired ratio
// and the growth of each side's time with the cell count.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "PairedRun.h"
#include "control/PathSearchReference.h"
#include "control/Y3GridData.h"
#include "grid/GridWriter.h"

namespace {

struct Query {
    std::uint32_t start;
    std::uint32_t goal;
    float limit;
    bool counted;  // reachable and unlimited: its path cost is summed
};

// A* over the grid's arrays, nothing shared with the search but the data.
class PlainAStar {
public:
    explicit PlainAStar(const Y3GridData& grid) : grid_(grid) {
        std::uint32_t at = 0;
        for (const GridRow& row : grid.rows) {
            rowStart_.push_back(at);
            at += static_cast<std::uint32_t>(row.cells.size());
        }
        rowOf_.resize(at);
        for (std::uint32_t r = 0; r < rowStart_.size(); ++r)
            for (std::uint32_t c = 0; c < grid.rows[r].cells.size(); ++c) rowOf_[rowStart_[r] + c] = r;
        cost_.resize(at);
        from_.resize(at);
        stamp_.resize(at, 0);
        closed_.resize(at, 0);
    }

    // Path cost to the goal, or -1; expanded counts the nodes expanded.
    std::int32_t run(std::uint32_t startId, std::uint32_t goalId, float limit, std::vector<std::uint32_t>& out,
                     std::uint32_t& expanded) {
        out.clear();
        expanded = 0;
        ++generation_;
        std::int32_t sr, sc, gr, gc;
        grid_.decode(startId, sr, sc);
        grid_.decode(goalId, gr, gc);
        const std::uint32_t start = rowStart_[std::size_t(sr)] + std::uint32_t(sc);
        const std::uint32_t goal = rowStart_[std::size_t(gr)] + std::uint32_t(gc);
        goalRow_ = gr;
        goalColumn_ = cell(goal).column;
        const float cells = limit / grid_.cellSize;
        const std::int32_t limitCost = cells >= 1.0f ? std::int32_t(cells) * 10 : 0;
        heap_.clear();
        visit(start, 0, start);
        while (!heap_.empty()) {
            std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
            const Entry top = heap_.back();
            heap_.pop_back();
            const std::uint32_t k = top.node;
            if (closed_[k] == generation_ || top.cost != cost_[k]) continue;
            closed_[k] = generation_;
            if (k == goal) {
                for (std::uint32_t at = goal;; at = from_[at]) {
                    out.push_back(idOf(at));
                    if (at == start) break;
                }
                std::reverse(out.begin(), out.end());
                return cost_[goal];
            }
            if (limitCost > 0 && cost_[k] > limitCost) return -1;
            ++expanded;
            expand(k);
        }
        return -1;
    }

private:
    struct Entry {
        std::int32_t total;
        std::int32_t cost;
        std::uint32_t node;
        bool operator>(const Entry& o) const { return total > o.total; }
    };
    const GridCell& cell(std::uint32_t n) const {
        return grid_.rows[rowOf_[n]].cells[n - rowStart_[rowOf_[n]]];
    }
    std::uint32_t idOf(std::uint32_t n) const {
        return gridNodeId(std::int32_t(rowOf_[n]), std::int32_t(n - rowStart_[rowOf_[n]]));
    }
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::uint32_t free(std::uint32_t n) const { return (cell(n).height & kGridBlockedBit) ? kNone : n; }
    std::uint32_t next(std::uint32_t n) const {
        if (n == kNone || cell(n).nextLink == kGridNoLink) return kNone;
        return free(rowStart_[rowOf_[n] + 1] + cell(n).nextLink);
    }
    std::uint32_t prev(std::uint32_t n) const {
        if (n == kNone || cell(n).prevLink == kGridNoLink) return kNone;
        return free(rowStart_[rowOf_[n] - 1] + cell(n).prevLink);
    }
    std::uint32_t back(std::uint32_t n) const {
        if (n == kNone || (cell(n).side >> 4) == 0) return kNone;
        return free(n - (cell(n).side >> 4));
    }
    std::uint32_t forward(std::uint32_t n) const {
        if (n == kNone || (cell(n).side & 0x0F) == 0) return kNone;
        return free(n + (cell(n).side & 0x0F));
    }
    void visit(std::uint32_t n, std::int32_t cost, std::uint32_t from) {
        if (n == kNone) return;
        if (stamp_[n] == generation_ && (closed_[n] == generation_ || cost_[n] <= cost)) return;
        stamp_[n] = generation_;
        cost_[n] = cost;
        from_[n] = from;
        const std::int32_t dc = std::abs(cell(n).column - goalColumn_);
        const std::int32_t dr = std::abs(std::int32_t(rowOf_[n]) - goalRow_);
        heap_.push_back({cost + 10 * std::max(dc, dr) + std::min(dc, dr), cost, n});
        std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
    }
    void expand(std::uint32_t k) {
        const std::int32_t c = cost_[k];
        const std::uint32_t n = next(k), p = prev(k), b = back(k), f = forward(k);
        visit(n, c + 10, k);
        visit(p, c + 10, k);
        visit(b, c + 10, k);
        visit(f, c + 10, k);
        std::uint32_t d1 = kNone, d2 = kNone, d3 = kNone, d4 = kNone;
        if (n != kNone && b != kNone) visit(d1 = back(n), c + 11, k);
        if (n != kNone && f != kNone) visit(d2 = forward(n), c + 11, k);
        if (p != kNone && b != kNone) visit(d3 = back(p), c + 11, k);
        if (p != kNone && f != kNone) visit(d4 = forward(p), c + 11, k);
        std::uint32_t e;
        if (b != kNone && n != kNone && (e = next(b)) != d1) visit(e, c + 11, k);
        if (b != kNone && p != kNone && (e = prev(b)) != d3) visit(e, c + 11, k);
        if (f != kNone && n != kNone && (e = next(f)) != d2) visit(e, c + 11, k);
        if (f != kNone && p != kNone && (e = prev(f)) != d4) visit(e, c + 11, k);
    }

    const Y3GridData& grid_;
    std::vector<std::uint32_t> rowStart_, rowOf_, from_, stamp_, closed_;
    std::vector<std::int32_t> cost_;
    std::vector<Entry> heap_;
    std::uint32_t generation_ = 0;
    std::int32_t goalRow_ = 0;
    std::int32_t goalColumn_ = 0;
};

// The cost of a path by its steps: 10 within a row or column, 11 across.
std::int32_t pathCost(const Y3GridData& grid, const std::vector<std::uint32_t>& path) {
    std::int32_t cost = 0;
    for (std::size_t i = 1; i < path.size(); ++i) {
        const bool sameRow = (path[i] & 0xFFFF) == (path[i - 1] & 0xFFFF);
        const bool sameColumn = grid.cellOf(path[i])->column == grid.cellOf(path[i - 1])->column;
        cost += sameRow || sameColumn ? 10 : 11;
    }
    return cost;
}

enum Kind { Open, Blocked20, Blocked35, Maze };
const char* const kKindNames[] = {"open", "blocked20", "blocked35", "maze"};

struct Fixture {
    Y3GridData grid;
    std::vector<Query> queries;
    std::unique_ptr<PlainAStar> astar;
};

Fixture& fixture(Kind kind, std::int32_t size) {
    static std::map<std::pair<int, int>, std::unique_ptr<Fixture>> made;
    std::unique_ptr<Fixture>& slot = made[{kind, size}];
    if (slot) return *slot;
    slot = std::make_unique<Fixture>();
    grid_tools::GridShape shape;
    shape.width = shape.height = size;
    shape.blockedPercent = kind == Blocked20 ? 20 : kind == Blocked35 ? 35 : 0;
    shape.maze = kind == Maze;
    shape.seed = std::uint32_t(1000 + kind * 17 + size);
    std::string error;
    if (!grid_tools::parseGridDescription(grid_tools::sampleGridText(shape), slot->grid, error)) {
        std::fprintf(stderr, "grid: %s\n", error.c_str());
        std::abort();
    }
    slot->astar = std::make_unique<PlainAStar>(slot->grid);
    // Walkable and blocked cells; goals far apart (a quarter of the size at least).
    std::vector<std::uint32_t> walkable, blocked;
    for (std::int32_t r = 0; r < slot->grid.rowCount(); ++r)
        for (std::size_t c = 0; c < slot->grid.rows[std::size_t(r)].cells.size(); ++c)
            ((slot->grid.rows[std::size_t(r)].cells[c].height & kGridBlockedBit) ? blocked : walkable)
                .push_back(gridNodeId(r, std::int32_t(c)));
    std::mt19937 random(shape.seed);
    std::vector<std::uint32_t> path;
    std::uint32_t expanded = 0;
    const auto farApart = [&](std::uint32_t a, std::uint32_t b) {
        const std::int32_t dr = std::abs(std::int32_t(a & 0xFFFF) - std::int32_t(b & 0xFFFF));
        const std::int32_t dc = std::abs(slot->grid.cellOf(a)->column - slot->grid.cellOf(b)->column);
        return std::max(dr, dc) >= size / 4;
    };
    std::int32_t reachable = 0, tries = 0;
    while (reachable < 8 && tries++ < 1000) {
        const std::uint32_t a = walkable[random() % walkable.size()], b = walkable[random() % walkable.size()];
        if (!farApart(a, b) || slot->astar->run(a, b, 0.0f, path, expanded) < 0) continue;
        slot->queries.push_back({a, b, reachable < 4 ? 0.0f : 40.0f, reachable < 4});
        ++reachable;
    }
    for (std::int32_t i = 0; i < 2 && !blocked.empty(); ++i)
        slot->queries.push_back(
            {walkable[random() % walkable.size()], blocked[random() % blocked.size()], 0.0f, false});
    return *slot;
}

struct Figures {
    double project = 0, baseline = 0;
    double ownExpanded = 0, baseExpanded = 0, ownCost = 0, baseCost = 0;
};
std::map<std::pair<int, int>, Figures> results;
std::map<std::pair<int, int>, Figures> literalResults;

void BM_PathSearch(benchmark::State& state) {
    const Kind kind = Kind(state.range(0));
    const std::int32_t size = std::int32_t(state.range(1));
    Fixture& f = fixture(kind, size);
    std::vector<std::uint32_t> path;
    std::uint64_t ownExpanded = 0, baseExpanded = 0;
    std::int64_t ownCost = 0, baseCost = 0;
    // The check, once: the same goals reached, A* never dearer.
    for (const Query& q : f.queries) {
        findPath(f.grid, q.start, q.goal, path, q.limit);
        ownExpanded += f.grid.search.expanded;
        const bool ownReached = !path.empty() && path.back() == q.goal;
        const std::int32_t own = pathCost(f.grid, path);
        std::uint32_t expanded = 0;
        const std::int32_t base = f.astar->run(q.start, q.goal, q.limit, path, expanded);
        baseExpanded += expanded;
        if (q.limit == 0.0f && ownReached != (base >= 0)) state.SkipWithError("the two searches reach different goals");
        if (q.counted) {
            ownCost += own;
            baseCost += base;
            if (base > own) state.SkipWithError("A* found a dearer path");
        }
    }
    bench_pairs::runPaired(
        state,
        [&] {
            for (const Query& q : f.queries) benchmark::DoNotOptimize(findPath(f.grid, q.start, q.goal, path, q.limit));
        },
        [&] {
            std::uint32_t expanded = 0;
            for (const Query& q : f.queries)
                benchmark::DoNotOptimize(f.astar->run(q.start, q.goal, q.limit, path, expanded));
        },
        double(f.queries.size()));
    state.counters["own_expanded"] = double(ownExpanded);
    state.counters["astar_expanded"] = double(baseExpanded);
    state.counters["own_cost"] = double(ownCost);
    state.counters["astar_cost"] = double(baseCost);
    results[{kind, size}] = {state.counters["project_ns"], state.counters["baseline_ns"], double(ownExpanded),
                             double(baseExpanded), double(ownCost), double(baseCost)};
    state.SetLabel(std::string(kKindNames[kind]) + " " + std::to_string(size) + "^2");
}

// The literal form of the search (the tests' reference: a linear open list
// and an AVL tree of records allocated one by one) against the same A*, to
// show how a linear open list grows; small sizes only.
void BM_LiteralSearch(benchmark::State& state) {
    const Kind kind = Kind(state.range(0));
    const std::int32_t size = std::int32_t(state.range(1));
    Fixture& f = fixture(kind, size);
    std::vector<std::uint32_t> path;
    bench_pairs::runPaired(
        state,
        [&] {
            for (const Query& q : f.queries)
                benchmark::DoNotOptimize(path_reference::findPath(f.grid, q.start, q.goal, path, q.limit));
        },
        [&] {
            std::uint32_t expanded = 0;
            for (const Query& q : f.queries)
                benchmark::DoNotOptimize(f.astar->run(q.start, q.goal, q.limit, path, expanded));
        },
        double(f.queries.size()));
    literalResults[{kind, size}] = {state.counters["project_ns"], state.counters["baseline_ns"]};
    state.SetLabel(std::string("literal ") + kKindNames[kind] + " " + std::to_string(size) + "^2");
}

void literalSizes(benchmark::internal::Benchmark* b) {
    for (std::int64_t kind = 0; kind < 4; ++kind)
        for (std::int64_t size : {64, 128, 256}) b->Args({kind, size});
}

void sizes(benchmark::internal::Benchmark* b) {
    for (std::int64_t kind = 0; kind < 4; ++kind)
        for (std::int64_t size : {64, 128, 256, 512, 1024}) b->Args({kind, size});
}

BENCHMARK(BM_PathSearch)->Apply(sizes)->UseManualTime()->MinTime(0.2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiteralSearch)->Apply(literalSizes)->UseManualTime()->MinTime(0.2)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    bench_pairs::fixAllocator();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Per grid and size: the time of one query on each side, the paired rate
    // (A* time / search time), the nodes each expanded and the summed cost
    // of the reachable unlimited paths, and the growth of each side's time.
    std::printf("\n%-10s %5s %11s %11s %6s %9s %9s %8s %8s %7s %7s\n", "grid", "size", "search_ns", "astar_ns", "rate",
                "expanded", "astar_exp", "cost", "astar_c", "growth", "astar_g");
    for (int kind = 0; kind < 4; ++kind) {
        const Figures* last = nullptr;
        int lastSize = 0;
        for (int size : {64, 128, 256, 512, 1024}) {
            const auto found = results.find({kind, size});
            if (found == results.end()) continue;
            const Figures& f = found->second;
            // Growth: the exponent of the cell count, time ~ cells^growth.
            const double cells = std::log(double(size) * size / (double(lastSize) * lastSize));
            std::printf("%-10s %5d %11.0f %11.0f %6.2f %9.0f %9.0f %8.0f %8.0f", kKindNames[kind], size, f.project,
                        f.baseline, f.project > 0 ? f.baseline / f.project : 0.0, f.ownExpanded, f.baseExpanded,
                        f.ownCost, f.baseCost);
            if (last)
                std::printf(" %7.2f %7.2f\n", std::log(f.project / last->project) / cells,
                            std::log(f.baseline / last->baseline) / cells);
            else
                std::printf(" %7s %7s\n", "-", "-");
            last = &f;
            lastSize = size;
        }
    }
    std::printf("\nliteral form (linear open list, AVL tree) against the same A*\n");
    std::printf("%-10s %5s %11s %11s %6s %7s\n", "grid", "size", "literal_ns", "astar_ns", "rate", "growth");
    for (int kind = 0; kind < 4; ++kind) {
        const Figures* last = nullptr;
        int lastSize = 0;
        for (int size : {64, 128, 256}) {
            const auto found = literalResults.find({kind, size});
            if (found == literalResults.end()) continue;
            const Figures& f = found->second;
            const double cells = std::log(double(size) * size / (double(lastSize) * lastSize));
            std::printf("%-10s %5d %11.0f %11.0f %6.2f", kKindNames[kind], size, f.project, f.baseline,
                        f.project > 0 ? f.baseline / f.project : 0.0);
            if (last)
                std::printf(" %7.2f\n", std::log(f.project / last->project) / cells);
            else
                std::printf(" %7s\n", "-");
            last = &f;
            lastSize = size;
        }
    }
    return 0;
}
