// The path search in its literal form, the reference the built search is
// held to: records that point at each other, a linear open list with
// head-first insertion, and the visited set as an AVL tree keyed by node id.
// Slow on purpose: the tests, the grid fuzz target and the benchmark use it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "control/Y3GridData.h"

namespace path_reference {

struct Record {
    Record* left = nullptr;
    Record* right = nullptr;
    std::int8_t height = 0;
    Record* next = nullptr;
    Record* prev = nullptr;
    bool open = false;
    std::uint32_t id = 0;
    Record* from = nullptr;
    std::int32_t cost = 0;
    std::int32_t total = 0;
};

class LinearOpenList {
public:
    bool empty() const { return head_ == nullptr; }
    void insert(Record* r) {
        r->open = true;
        r->prev = r->next = nullptr;
        if (!head_) {
            head_ = r;
            return;
        }
        if (r->total < head_->total) {
            r->next = head_;
            head_->prev = r;
            head_ = r;
            return;
        }
        Record* at = head_;
        Record* last = nullptr;
        while (at && at->total < r->total) {
            last = at;
            at = at->next;
        }
        if (!at) {
            last->next = r;
            r->prev = last;
        } else if (at->total == r->total) {
            r->prev = at;
            r->next = at->next;
            if (at->next) at->next->prev = r;
            at->next = r;
        } else {
            r->next = at;
            r->prev = at->prev;
            at->prev->next = r;
            at->prev = r;
        }
    }
    void remove(Record* r) {
        if (r->prev)
            r->prev->next = r->next;
        else
            head_ = r->next;
        if (r->next) r->next->prev = r->prev;
        r->prev = r->next = nullptr;
        r->open = false;
    }
    Record* pop() {
        Record* r = head_;
        remove(r);
        return r;
    }

private:
    Record* head_ = nullptr;
};

// AVL tree by node id, compared unsigned.
class VisitedTree {
public:
    Record* find(std::uint32_t id) const {
        Record* at = root_;
        while (at && at->id != id) at = at->id > id ? at->left : at->right;
        return at;
    }
    void insert(Record* r) { root_ = insertAt(root_, r); }

private:
    static int h(Record* r) { return r ? r->height : -1; }
    static void update(Record* r) { r->height = static_cast<std::int8_t>(1 + std::max(h(r->left), h(r->right))); }
    static Record* rotateRight(Record* r) {
        Record* l = r->left;
        r->left = l->right;
        l->right = r;
        update(r);
        update(l);
        return l;
    }
    static Record* rotateLeft(Record* r) {
        Record* g = r->right;
        r->right = g->left;
        g->left = r;
        update(r);
        update(g);
        return g;
    }
    static Record* insertAt(Record* at, Record* r) {
        if (!at) return r;
        if (at->id > r->id)
            at->left = insertAt(at->left, r);
        else
            at->right = insertAt(at->right, r);
        update(at);
        const int balance = h(at->right) - h(at->left);
        if (balance < -1) {
            if (h(at->left->right) > h(at->left->left)) at->left = rotateLeft(at->left);
            return rotateRight(at);
        }
        if (balance > 1) {
            if (h(at->right->left) > h(at->right->right)) at->right = rotateRight(at->right);
            return rotateLeft(at);
        }
        return at;
    }
    Record* root_ = nullptr;
};

inline std::int32_t estimate(const Y3GridData& grid, std::uint32_t id, std::uint32_t goal) {
    std::int32_t r, c, gr, gc;
    grid.decode(id, r, c);
    grid.decode(goal, gr, gc);
    return gridEstimate(grid.rows[std::size_t(r)].cells[std::size_t(c)].column, r,
                        grid.rows[std::size_t(gr)].cells[std::size_t(gc)].column, gr);
}

// The search as written: the steps by node id, the twelve candidates in
// their order, the best record, the limit after the goal test.
inline std::int32_t findPath(const Y3GridData& grid, std::uint32_t start, std::uint32_t goal,
                             std::vector<std::uint32_t>& out, float maxDistance) {
    out.clear();
    std::vector<std::unique_ptr<Record>> pool;
    const float cells = maxDistance / grid.cellSize;
    // Distances beyond 10^8 cells are held there so that the limit in tenths fits.
    const std::int32_t limitCells = cells >= 1.0f ? (cells < 1e8f ? static_cast<std::int32_t>(cells) : 100000000) : 0;
    const std::int32_t limit = limitCells * 10;
    const float goalHeight = grid.cellHeight(*grid.cellOf(goal));
    LinearOpenList open;
    VisitedTree visited;
    auto make = [&](std::uint32_t id, Record* from, std::int32_t cost, std::int32_t total) {
        pool.push_back(std::make_unique<Record>());
        Record* r = pool.back().get();
        r->id = id;
        r->from = from;
        r->cost = cost;
        r->total = total;
        return r;
    };
    Record* first = make(start, nullptr, 0, estimate(grid, start, goal));
    visited.insert(first);
    open.insert(first);
    auto process = [&](Record* k, std::uint32_t n, std::int32_t step) {
        const std::int32_t cost = k->cost + step;
        const std::int32_t total = cost + estimate(grid, n, goal);
        Record* r = visited.find(n);
        if (!r) {
            r = make(n, k, cost, total);
            visited.insert(r);
            open.insert(r);
        } else if (r->total > total) {
            r->total = total;
            r->cost = cost;
            r->from = k;
            if (r->open) open.remove(r);
            open.insert(r);
        }
    };
    Record* best = nullptr;
    Record* end = nullptr;
    while (true) {
        if (open.empty()) {
            end = best;
            break;
        }
        Record* k = open.pop();
        if (k->id == goal) {
            end = k;
            break;
        }
        if (!best || (k->total - k->cost < best->total - best->cost &&
                      std::fabs(grid.cellHeight(*grid.cellOf(k->id)) - goalHeight) < 1.5f))
            best = k;
        if (limitCells > 0 && k->cost > limit) {
            end = best;
            break;
        }
        const std::uint32_t n = grid.stepNextRow(k->id);
        const std::uint32_t p = grid.stepPrevRow(k->id);
        const std::uint32_t b = grid.stepBack(k->id);
        const std::uint32_t f = grid.stepForward(k->id);
        std::uint32_t d1 = 0, d2 = 0, d3 = 0, d4 = 0, e = 0;
        if (n) process(k, n, 10);
        if (n && b && (d1 = grid.stepBack(n))) process(k, d1, 11);
        if (n && f && (d2 = grid.stepForward(n))) process(k, d2, 11);
        if (p) process(k, p, 10);
        if (p && b && (d3 = grid.stepBack(p))) process(k, d3, 11);
        if (p && f && (d4 = grid.stepForward(p))) process(k, d4, 11);
        if (b) process(k, b, 10);
        if (b && n && (e = grid.stepNextRow(b)) && e != d1) process(k, e, 11);
        if (b && p && (e = grid.stepPrevRow(b)) && e != d3) process(k, e, 11);
        if (f) process(k, f, 10);
        if (f && n && (e = grid.stepNextRow(f)) && e != d2) process(k, e, 11);
        if (f && p && (e = grid.stepPrevRow(f)) && e != d4) process(k, e, 11);
    }
    if (!end) return 0;
    std::int32_t count = 0;
    for (Record* at = end; at; at = at->from) ++count;
    out.assign(std::size_t(count), 0);
    std::int32_t slot = count;
    for (Record* at = end; at; at = at->from) out[std::size_t(--slot)] = at->id;
    return count;
}

}  // namespace path_reference
