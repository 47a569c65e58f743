// The grid path search paired with a plain A* (bench/PairedRun.h) written
// bare here over the same grid arrays, solving the same problem: the same
// estimate (the search's own, 11 * max + min, which overestimates on
// purpose), the same moves and costs (10 straight, 11 diagonal, no diagonal
// past a missing or blocked side neighbour) in the same order, a cell
// opened again when reached for less, and the same order among equal
// totals, kept in a binary heap with a visited array indexed by cell. So
// both sides expand the same nodes and give the same paths: checked node
// by node, with the expansion counts, before the timing. Grids from the
// grid writer: open, 20 % and 35 % blocked, and a maze, at 64^2 to 1024^2
// cells. Each unit runs the same seeded start/goal pairs on both sides:
// reachable goals without and with a limit of 40 cells, and blocked
// (unreachable) goals without a limit. The counters give, per unit, the
// nodes each side expanded and the summed path cost of the reachable
// unlimited queries. After the runs a table gives per grid and size the
// paired ratio and the growth of each side's time with the cell count.
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

// A* over the grid's arrays, nothing shared with the search but the data
// and its estimate: a binary heap keyed by (total, rank), the rank giving
// the order of the search's open list among equal totals (the record that
// opened a total first, then the others newest first; when the first one
// leaves, the newest then open takes its place). A cell reached again for
// less is opened again, closed or not, its earlier heap entry left to be
// skipped; a search that ends without the goal gives the path to the
// record of the lowest estimate on a cell within 1.5 of the goal's height.
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
        total_.resize(at);
        rank_.resize(at);
        from_.resize(at);
        stamp_.resize(at, 0);
    }

    // The nodes of the path (to the goal, or to the best record reached);
    // the count, 0 when none. expanded counts the nodes expanded.
    std::int32_t run(std::uint32_t startId, std::uint32_t goalId, float limit, std::vector<std::uint32_t>& out,
                     std::uint32_t& expanded) {
        out.clear();
        expanded = 0;
        ++generation_;
        sequence_ = 0;
        opened_.clear();
        std::int32_t sr, sc, gr, gc;
        grid_.decode(startId, sr, sc);
        grid_.decode(goalId, gr, gc);
        const std::uint32_t start = rowStart_[std::size_t(sr)] + std::uint32_t(sc);
        const std::uint32_t goal = rowStart_[std::size_t(gr)] + std::uint32_t(gc);
        goalRow_ = gr;
        goalColumn_ = cell(goal).column;
        const float goalHeight = grid_.cellHeight(cell(goal));
        const float cells = limit / grid_.cellSize;
        const std::int32_t limitCost = cells >= 1.0f ? std::int32_t(cells) * 10 : 0;
        heap_.clear();
        visit(start, 0, start);
        std::uint32_t best = kNone;
        std::int32_t bestEstimate = 0;
        std::uint32_t end = kNone;
        while (!heap_.empty()) {
            const Entry top = popTop();
            const std::uint32_t k = top.node;
            if (k == goal) {
                end = k;
                break;
            }
            const std::int32_t own = total_[k] - cost_[k];
            if (best == kNone ||
                (own < bestEstimate && std::fabs(grid_.cellHeight(cell(k)) - goalHeight) < 1.5f)) {
                best = k;
                bestEstimate = own;
            }
            if (limitCost > 0 && cost_[k] > limitCost) break;
            ++expanded;
            expand(k);
        }
        if (end == kNone) end = best;
        if (end == kNone) return 0;
        for (std::uint32_t at = end;; at = from_[at]) {
            out.push_back(idOf(at));
            if (at == start) break;
        }
        std::reverse(out.begin(), out.end());
        return std::int32_t(out.size());
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    struct Entry {
        std::int32_t total;
        std::uint32_t rank;
        std::uint32_t node;
        bool operator>(const Entry& o) const { return total != o.total ? total > o.total : rank > o.rank; }
    };
    const GridCell& cell(std::uint32_t n) const {
        return grid_.rows[rowOf_[n]].cells[n - rowStart_[rowOf_[n]]];
    }
    std::uint32_t idOf(std::uint32_t n) const {
        return gridNodeId(std::int32_t(rowOf_[n]), std::int32_t(n - rowStart_[rowOf_[n]]));
    }
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
    // What the search knows of one total: its open records and its last
    // opening (index + 1 in opened_; each opening links the one before it
    // in the same total).
    struct TotalState {
        std::uint32_t stamp = 0;
        std::uint32_t open = 0;
        std::uint32_t last = 0;
    };
    struct Opening {
        std::uint32_t node;
        std::uint32_t rank;
        std::uint32_t before;
    };
    TotalState& stateOf(std::int32_t total) {
        const std::size_t at = std::size_t(total);
        if (at >= totals_.size()) totals_.resize(at * 2 + 1);
        TotalState& state = totals_[at];
        if (state.stamp != generation_) state = {generation_, 0, 0};
        return state;
    }
    std::uint32_t& openOf(std::int32_t total) { return stateOf(total).open; }
    bool valid(const Entry& e) const { return rank_[e.node] == e.rank && total_[e.node] == e.total; }
    // Leaves the stale entries on top; when the first record of a total
    // left, the top of that total is now its first.
    void settle() {
        while (!heap_.empty() && !valid(heap_.front())) {
            std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
            heap_.pop_back();
        }
    }
    Entry popTop() {
        settle();
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
        const Entry top = heap_.back();
        heap_.pop_back();
        rank_[top.node] = kClosed;
        --openOf(top.total);
        settle();
        // The newest record of the total becomes its first.
        if (!heap_.empty() && heap_.front().total == top.total && openOf(top.total) > 0) {
            rank_[heap_.front().node] = 0;
            heap_.front().rank = 0;
        }
        return top;
    }
    void visit(std::uint32_t n, std::int32_t cost, std::uint32_t from) {
        if (n == kNone) return;
        const std::int32_t total = cost + gridEstimate(cell(n).column, std::int32_t(rowOf_[n]), goalColumn_, goalRow_);
        if (stamp_[n] == generation_) {
            if (total_[n] <= total) return;
            if (rank_[n] != kClosed) {
                // Its entry goes stale; when it was the first of its total,
                // the one opened last there takes its place.
                TotalState& old = stateOf(total_[n]);
                --old.open;
                if (rank_[n] == 0 && old.open > 0) promoteNewest(total_[n], n);
            }
        }
        stamp_[n] = generation_;
        cost_[n] = cost;
        total_[n] = total;
        from_[n] = from;
        TotalState& state = stateOf(total);
        rank_[n] = state.open == 0 ? 0 : kClosed - 1 - ++sequence_;
        ++state.open;
        opened_.push_back({n, rank_[n], state.last});
        state.last = std::uint32_t(opened_.size());
        push({total, rank_[n], n});
    }
    // The open record of the total opened last (other than the one
    // leaving) becomes its first; the openings passed on the way are no
    // longer open and are dropped from the chain.
    void promoteNewest(std::int32_t total, std::uint32_t leaving) {
        TotalState& state = stateOf(total);
        std::uint32_t at = state.last;
        while (at) {
            const Opening& o = opened_[at - 1];
            if (o.node != leaving && rank_[o.node] == o.rank && total_[o.node] == total) break;
            at = o.before;
        }
        state.last = at;
        if (!at) return;
        const std::uint32_t node = opened_[at - 1].node;
        rank_[node] = 0;
        push({total, 0, node});
    }
    void push(const Entry& entry) {
        heap_.push_back(entry);
        std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
    }
    // The search's order of the neighbours.
    void expand(std::uint32_t k) {
        const std::int32_t c = cost_[k];
        const std::uint32_t n = next(k), p = prev(k), b = back(k), f = forward(k);
        std::uint32_t d1 = kNone, d2 = kNone, d3 = kNone, d4 = kNone, e;
        if (n != kNone) {
            visit(n, c + 10, k);
            if (b != kNone) visit(d1 = back(n), c + 11, k);
            if (f != kNone) visit(d2 = forward(n), c + 11, k);
        }
        if (p != kNone) {
            visit(p, c + 10, k);
            if (b != kNone) visit(d3 = back(p), c + 11, k);
            if (f != kNone) visit(d4 = forward(p), c + 11, k);
        }
        if (b != kNone) {
            visit(b, c + 10, k);
            if (n != kNone && (e = next(b)) != d1) visit(e, c + 11, k);
            if (p != kNone && (e = prev(b)) != d3) visit(e, c + 11, k);
        }
        if (f != kNone) {
            visit(f, c + 10, k);
            if (n != kNone && (e = next(f)) != d2) visit(e, c + 11, k);
            if (p != kNone && (e = prev(f)) != d4) visit(e, c + 11, k);
        }
    }

    static constexpr std::uint32_t kClosed = 0xFFFFFFFFu;
    const Y3GridData& grid_;
    std::vector<std::uint32_t> rowStart_, rowOf_, from_, stamp_, rank_;
    std::vector<TotalState> totals_;
    std::vector<Opening> opened_;
    std::vector<std::int32_t> cost_, total_;
    std::vector<Entry> heap_;
    std::uint32_t generation_ = 0;
    std::uint32_t sequence_ = 0;
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
        if (!farApart(a, b) || slot->astar->run(a, b, 0.0f, path, expanded) == 0 || path.back() != b) continue;
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
    // The check, once: the same paths (node by node) after the same
    // number of expansions.
    std::vector<std::uint32_t> basePath;
    for (const Query& q : f.queries) {
        findPath(f.grid, q.start, q.goal, path, q.limit);
        ownExpanded += f.grid.search.expanded;
        std::uint32_t expanded = 0;
        f.astar->run(q.start, q.goal, q.limit, basePath, expanded);
        baseExpanded += expanded;
        if (path != basePath || expanded != f.grid.search.expanded)
            state.SkipWithError("the two searches give different paths or expansions");
        if (q.counted) {
            ownCost += pathCost(f.grid, path);
            baseCost += pathCost(f.grid, basePath);
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
