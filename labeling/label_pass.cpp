// The top-down labeling pass, one row at a time. A run p touches a run q of
// the row above unless one ends left of the other's start less the slack (0
// asks for a shared column, 1 also takes a diagonal contact):
//
//   p:  ####              p:  ####
//   q:     ####  both     q:      ####  slack 1 only
//
// p joins the tree of the first q it touches and unites the trees of the
// others; the runs p touches are consecutive in the row above. Trees are
// linked under their smaller root, so a root is always a region's first run.
// The walk is plain: where runs are many and short the pattern repeats and
// its jumps are predicted, and on noise it beat both comparing several runs
// at once with vector instructions and a merge without data-dependent jumps.
#include <cstdint>

#include "labeling/engine.h"

namespace runlabel::engine {
namespace {

inline uint32_t root_of(uint32_t* parent, uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];  // path halving
        x = parent[x];
    }
    return x;
}

// Unites the tree of run q with the tree whose root is r; returns the root of
// the union.
inline uint32_t unite(uint32_t* parent, uint32_t r, uint32_t q) {
    const uint32_t o = root_of(parent, q);
    if (o == r) return r;
    if (o < r) {
        parent[r] = o;
        return o;
    }
    parent[o] = r;
    return r;
}

template <int kSlack>
void label_row(RunStore& store) {
    const int64_t row = store.rows() - 1;
    const uint32_t first = store.first_run(row);
    const uint32_t end = store.end_run(row);
    uint32_t* parent = store.labels.data();
    const uint32_t above_first = row > 0 ? store.first_run(row - 1) : first;
    const uint32_t above_count = first - above_first;
    if (above_count == 0) {
        for (uint32_t i = first; i < end; ++i) parent[i] = i;
        return;
    }
    const int32_t* run = store.bounds.data() + 2 * std::size_t(first);
    const int32_t* const above = store.bounds.data() + 2 * std::size_t(above_first);
    const uint32_t* const above_parent = parent + above_first;
    uint32_t q = 0;  // the first run above that may still touch
    for (uint32_t i = first; i < end; ++i, run += 2) {
        const int32_t start = run[0] - kSlack;
        const int32_t stop = run[1] + kSlack;
        while (q < above_count && above[2 * q + 1] <= start) ++q;
        if (q == above_count || above[2 * q] >= stop) {
            parent[i] = i;
            continue;
        }
        uint32_t t = q + 1;
        if (t == above_count || above[2 * t] >= stop) {
            // One run touched, as along most edges: joining its parent keeps
            // the tree as shallow as it was, without a walk to the root.
            parent[i] = above_parent[q];
        } else {
            // Runs above that already hang from the same node are in one
            // tree: only the others need a walk to their roots.
            uint32_t r = above_parent[q];
            bool rooted = false;
            for (; t < above_count && above[2 * t] < stop; ++t) {
                if (above_parent[t] == r) continue;
                if (!rooted) {
                    r = root_of(parent, r);
                    rooted = true;
                }
                r = unite(parent, r, above_first + t);
            }
            parent[i] = r;
        }
        // The last run touched may touch the next run too, unless it ends
        // before this one does.
        q = above[2 * (t - 1) + 1] > run[1] ? t - 1 : t;
    }
}

}  // namespace

void label_newest_row(RunStore& store, int connectivity) {
    if (connectivity == 8) {
        label_row<1>(store);
    } else {
        label_row<0>(store);
    }
}

}  // namespace runlabel::engine
