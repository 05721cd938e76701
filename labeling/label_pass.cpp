// The top-down labeling pass, one row at a time. A run p touches the runs q
// of the row above that hold a column it reaches (contact.h). p joins the
// tree of the first q it touches and unites the trees of the others; the
// runs p touches are consecutive in the row above. Trees are
// linked under their smaller root, so a root is always a region's first run.
//
// The plain rule walks the runs above alongside the row's (label_row_by_walk).
// Its specialisations, each named below with its precondition:
// - counting (label_row_by_map): which runs above p touches is read off the
//   edge map of the row above (see EdgeWord), with no search: the edges left
//   of the first column p reaches and at or left of its last count the runs
//   before and up to them. Needs the store's width (cols > 0).
// - new trees: no foreground pixel of the row reaches one above.
// - strips (label_row_by_strips): 8-connected textured rows, where columns
//   side by side are one region (Contact::kColumnsSideBySideJoin).
// - copied stretches: words of foreground equal to the row above's hold the
//   same runs, whose parents are copied.
// All of them read foreground as one class (binary images) and the row
// above as the only neighbour (2-D).
// On textured images the number of runs above skipped between one run and
// the next follows no pattern, and a search mispredicts a jump about every
// other run; counting leaves one jump per run, taken only where runs merge.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "labeling/engine.h"
#include "labeling/simd.h"

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

// p joins the trees of the runs above from `first` (indices into the row
// above, whose first run is run above_first) to one before `end`.
inline void join(uint32_t* parent, uint32_t p, uint32_t above_first, uint32_t first, uint32_t end) {
    const uint32_t* const above_parent = parent + above_first;
    const uint32_t up = above_parent[first];
    // One run touched, as along most edges, or none: joining the parent keeps
    // the tree as shallow as it was, without a walk to the root.
    parent[p] = end > first ? up : p;
    if (end - first < 2) return;
    // Runs above that already hang from the same node are in one tree: only
    // the others need a walk to their roots.
    uint32_t r = root_of(parent, up);
    for (uint32_t t = first + 1; t < end; ++t) {
        if (above_parent[t] != up) r = unite(parent, r, above_first + t);
    }
    parent[p] = r;
}

// A row whose runs share their first run's entry gets it in every entry, for
// passes that look at them one by one.
void spread_first_label(RunStore& store, int64_t row) {
    uint32_t* labels = store.labels.data();
    std::fill(labels + store.first_run(row) + 1, labels + store.end_run(row),
              labels[store.first_run(row)]);
    store.row_info[row].shared_label = false;
}

// Rows of fewer runs are labelled one by one, without looking for stretches
// that repeat the row above.
constexpr uint32_t kFewRuns = 8;

// Edges of the row mapped at or left of column x (-1 <= x <= cols).
[[gnu::always_inline]] inline uint32_t edges_to(const EdgeWord* map, int64_t x) {
    const auto at = static_cast<uint64_t>(x + 1);
    const EdgeWord& w = map[at / 64];
    return static_cast<uint32_t>(w.before) +
           static_cast<uint32_t>(std::popcount(w.bits & ((uint64_t{2} << (at % 64)) - 1)));
}

// Whether any foreground pixel of a row reaches one of the row above. Rows of
// a 4-connected checkerboard never do, and textured rows mostly do in their
// first word.
template <typename Contact>
bool touches_above(const uint64_t* row, const uint64_t* above, std::size_t words) {
    for (std::size_t w = 0; w < words; ++w) {
        const uint64_t before = w > 0 ? above[w - 1] : 0;
        const uint64_t after = w + 1 < words ? above[w + 1] : 0;
        if ((row[w] & Contact::reached_by(before, above[w], after)) != 0) return true;
    }
    return false;
}

// The stretches of the strip of a row and the row above (see below).
[[gnu::always_inline]] inline uint64_t count_stretches(const uint64_t* row_fg,
                                                       const uint64_t* above_fg,
                                                       std::size_t words) {
    uint64_t starts = 0;
    uint64_t before = 0;
    for (std::size_t w = 0; w < words; ++w) {
        const uint64_t strip = row_fg[w] | above_fg[w];
        starts += static_cast<uint64_t>(std::popcount(strip & ~(strip << 1 | before)));
        before = strip >> 63;
    }
    return starts;
}

// 8-connected textured rows, a strip of two rows at a time. In the strip of
// the row and the row above, columns that hold foreground in either row
// side by side are one region (a pixel touches every pixel of the next column
// in both rows), so each stretch of such columns joins all the runs inside
// it, above and here:
//
//   above:  ##.#.###..      stretches:  ######..
//   here:   .#.###.#..                  (one region)
//
// On texture this replaces a search per run, whose outcome (one run above
// touched, or several) follows no pattern, with a few stretches per row whose
// runs mostly hang from one node already.
//
// Calls stretch(p0, p1, q0, q1) for each stretch of the strip of a row and
// the row above that holds runs of the row: runs [p0, p1) of the row and
// [q0, q1) of the row above (indices in their rows) lie wholly inside it.
template <typename Stretch>
[[gnu::always_inline]] inline void for_each_stretch(const EdgeWord* here, const EdgeWord* above,
                                                    const uint64_t* row_fg,
                                                    const uint64_t* above_fg, std::size_t words,
                                                    Stretch&& stretch) {
    uint64_t before = 0;  // 1 when the column left of the word is foreground in the strip
    int64_t start = 0;    // where the stretch under way began
    for (std::size_t w = 0; w <= words; ++w) {
        // A word past the last closes a stretch that reaches the row's end.
        const uint64_t strip = w < words ? row_fg[w] | above_fg[w] : 0;
        uint64_t edges = strip ^ (strip << 1 | before);
        before = strip >> 63;
        while (edges != 0) {
            const int64_t at = 64 * int64_t(w) + std::countr_zero(edges);
            edges &= edges - 1;
            if ((strip >> (at % 64) & 1) != 0 && w < words) {
                start = at;
                continue;
            }
            const uint32_t p0 = (edges_to(here, start - 1) + 1) / 2;
            const uint32_t p1 = edges_to(here, at) / 2;
            if (p1 == p0) continue;
            stretch(p0, p1, (edges_to(above, start - 1) + 1) / 2, edges_to(above, at) / 2);
        }
    }
}

// Labels a row a strip at a time (see above); returns whether its runs end
// up all of one region. When the row above's are (above_one_region), their
// parents are not looked at; and when every run of the row touches the row
// above, the row is of that region, which its first run's entry alone then
// records (shared_label).
[[gnu::always_inline]] inline bool label_row_by_strips(uint32_t* parent, const EdgeWord* here,
                                                       const EdgeWord* above, uint32_t first,
                                                       uint32_t above_first, const uint64_t* row_fg,
                                                       const uint64_t* above_fg, std::size_t words,
                                                       bool above_one_region, bool& shared_label) {
    const uint32_t* const above_parent = parent + above_first;
    shared_label = false;
    if (above_one_region) {
        bool alone = false;  // a run touching nothing above
        for_each_stretch(here, above, row_fg, above_fg, words,
                         [&](uint32_t, uint32_t, uint32_t q0, uint32_t q1) { alone |= q1 == q0; });
        if (!alone) {
            parent[first] = above_parent[0];
            shared_label = true;
            return true;
        }
    }
    bool uniform = true;
    uint32_t first_r = UINT32_MAX;  // the node the row's first stretch hangs from
    for_each_stretch(here, above, row_fg, above_fg, words,
                     [&](uint32_t p0, uint32_t p1, uint32_t q0, uint32_t q1) {
                         if (q1 == q0) {
                             parent[first + p0] = first + p0;  // one run alone: a tree of its own
                             uniform = false;
                             return;
                         }
                         // Runs above of one region need no look at their parents.
                         const uint32_t up = above_parent[above_one_region ? 0 : q0];
                         uint32_t differ = 0;
                         if (!above_one_region) {
                             for (uint32_t q = q0 + 1; q < q1; ++q) differ |= above_parent[q] ^ up;
                         }
                         uint32_t r = up;  // runs above hanging from one node are one tree
                         if (differ != 0) {
                             r = root_of(parent, up);
                             for (uint32_t q = q0 + 1; q < q1; ++q) {
                                 if (above_parent[q] != up) r = unite(parent, r, above_first + q);
                             }
                         }
                         for (uint32_t p = first + p0; p < first + p1; ++p) parent[p] = r;
                         if (first_r == UINT32_MAX) first_r = r;
                         uniform &= r == first_r;
                     });
    return uniform;
}

template <typename Contact>
[[gnu::always_inline]] inline void label_row_by_map(RunStore& store, int64_t row) {
    const uint32_t first = store.first_run(row);
    const uint32_t end = store.end_run(row);
    uint32_t* parent = store.labels.data();
    const std::size_t words = foreground_words(store.cols);
    const uint64_t* fg = store.foreground.data();
    if (row == 0 ||
        !touches_above<Contact>(fg + (row & 1) * words, fg + ((row - 1) & 1) * words, words)) {
        // Every run starts a tree of its own.
        for (uint32_t i = first; i < end; ++i) parent[i] = i;
        store.row_info[row].kind = RowKind::kNewTrees;
        return;
    }
    const std::size_t map_words = edge_words(store.cols);
    const EdgeWord* here = store.edge_maps.data() + (row & 1) * map_words;
    const EdgeWord* above = store.edge_maps.data() + ((row - 1) & 1) * map_words;
    const uint32_t above_first = store.first_run(row - 1);
    const uint64_t* row_fg = fg + (row & 1) * words;
    const uint64_t* above_fg = fg + ((row - 1) & 1) * words;
    if constexpr (Contact::kColumnsSideBySideJoin) {
        // Worth it where the stretches hold several runs each.
        if (is_textured(store, row) || is_textured(store, row - 1)) {
            const uint64_t runs = end - above_first;
            if (runs >= 6 * count_stretches(row_fg, above_fg, words)) {
                RowInfo& info = store.row_info[row];
                info.kind = RowKind::kStretchesAlike;
                info.one_region = label_row_by_strips(
                    parent, here, above, first, above_first, row_fg, above_fg, words,
                    store.row_info[row - 1].one_region, info.shared_label);
                return;
            }
        }
    }
    // The runs below look at the parents above one by one.
    if (store.row_info[row - 1].shared_label) spread_first_label(store, row - 1);
    const int32_t* row_runs = nullptr;  // worked out when first needed
    uint32_t i = first;
    auto label_runs_to = [&](uint32_t stop) {
        // Nothing to label: the bounds may not have been worked out, and no
        // offset may be taken from their null.
        if (i >= stop) return;
        if (row_runs == nullptr) row_runs = RowView(store, row).bounds(store.newest);
        for (const int32_t* run = row_runs + 2 * std::size_t(i - first); i < stop; ++i, run += 2) {
            // The first run above at or after the first column reached, and
            // one past the last at or before the last column reached.
            const uint32_t from = edges_to(above, Contact::reach_from(run[0])) / 2;
            const uint32_t to = (edges_to(above, Contact::reach_to(run[1]) - 1) + 1) / 2;
            join(parent, i, above_first, from, to);
        }
    };
    // Where a stretch of the row's words equals the row above's, the runs
    // inside it (and the background around them) are the runs above, each
    // touching just its double: their parents are copied as a block. Rows of
    // blocky texture repeat whole; strokes and spirals repeat in parts.
    // A few runs cost less one by one than the search for stretches.
    for (std::size_t w = end - first >= kFewRuns ? 0 : words; w < words; ++w) {
        if (row_fg[w] != above_fg[w]) continue;
        const std::size_t stretch = w;
        while (w + 1 < words && row_fg[w + 1] == above_fg[w + 1]) ++w;
        // Runs that start after the stretch's first column and end (one past
        // their last) at or before its last are whole and alike in both rows.
        const int64_t lo = stretch == 0 ? 0 : 64 * int64_t(stretch) + 1;
        const int64_t hi = w + 1 == words ? store.cols : 64 * int64_t(w + 1) - 1;
        const uint32_t from = (edges_to(here, lo - 1) + 1) / 2;
        const uint32_t to = edges_to(here, hi) / 2;
        if (to < from + 2) continue;  // a run or none: as cheap one by one
        label_runs_to(first + from);
        const uint32_t above_from = above_first + (edges_to(above, lo - 1) + 1) / 2;
        std::memcpy(parent + i, parent + above_from, (to - from) * sizeof(uint32_t));
        store.copies.push_back({i, above_from, to - from});
        i = first + to;
        if (stretch == 0 && w + 1 == words) {
            store.row_info[row].kind = RowKind::kRepeat;
            store.row_info[row].one_region = store.row_info[row - 1].one_region;
        }
    }
    label_runs_to(end);
}

// The counting is two population counts per run. The baseline x86-64 has no
// instruction for one (a dozen others stand in), every x86-64 processor since
// 2008 has: so there the pass is built twice and the processor picks.
#if RUNLABEL_POPCNT_DISPATCH
template <typename Contact>
[[gnu::target("popcnt")]] void label_row_by_map_popcnt(RunStore& store, int64_t row) {
    label_row_by_map<Contact>(store, row);
}

template <typename Contact>
void label_row_counting(RunStore& store, int64_t row) {
    static const bool popcnt = __builtin_cpu_supports("popcnt");
    if (popcnt) {
        label_row_by_map_popcnt<Contact>(store, row);
    } else {
        label_row_by_map<Contact>(store, row);
    }
}
#else
template <typename Contact>
void label_row_counting(RunStore& store, int64_t row) {
    label_row_by_map<Contact>(store, row);
}
#endif

// The plain rule: the runs above are walked alongside the row's to find
// those each run touches. Rows walked hold their bounds (a plain store, or
// runs whose columns no width bounds, which keep no map).
template <typename Contact>
void label_row_by_walk(RunStore& store, int64_t row) {
    const uint32_t first = store.first_run(row);
    const uint32_t end = store.end_run(row);
    uint32_t* parent = store.labels.data();
    const uint32_t above_first = row > 0 ? store.first_run(row - 1) : first;
    const uint32_t above_count = first - above_first;
    Buffer<int32_t> above_scratch;
    const int32_t* run = RowView(store, row).bounds(store.newest);
    const int32_t* const above =
        above_count > 0 ? RowView(store, row - 1).bounds(above_scratch) : nullptr;
    Contact::for_each_touching(run, end - first, above, above_count,
                               [&](uint32_t p, uint32_t q0, uint32_t q1) {
                                   join(parent, first + p, above_first, q0, q1);
                               });
}

template <typename Contact>
void label_row(RunStore& store) {
    const int64_t row = store.rows() - 1;
    if (store.cols > 0 && !store.plain) {
        label_row_counting<Contact>(store, row);
    } else {
        label_row_by_walk<Contact>(store, row);
    }
}

}  // namespace

void label_newest_row(RunStore& store, int connectivity) {
    with_contact(connectivity, [&store](auto contact) { label_row<decltype(contact)>(store); });
}

void end_labeling(RunStore& store) {
    // The last row's runs meet the next band's one by one.
    if (store.rows() > 0 && store.row_info[store.rows() - 1].shared_label) {
        spread_first_label(store, store.rows() - 1);
    }
    store.edge_maps.release();
    store.foreground.release();
    store.newest.release();
}

}  // namespace runlabel::engine
