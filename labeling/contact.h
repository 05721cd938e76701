// Internal to the labeling engine: when two runs of neighbouring rows touch.
// This is the engine's one contact rule; the labeling pass, its fast paths
// and the join of bands all ask it, so a new connectivity changes this file.
//
// A run covers columns [from, to). It reaches the columns
// [from - slack, to + slack) of a neighbouring row, the slack 0 for
// 4-connectivity (a shared column) and 1 for 8 (a corner too), and touches
// every run of that row that holds a reached column:
//
//   4-connected            8-connected
//   above:  ..##.##..      above:  .##...##.
//   here:     ###            here:    ###
//   reach:    ^^^            reach:  ^^^^^      (both runs above touched)
#pragma once

#include <cstdint>

namespace runlabel::engine {

template <int kSlack>
struct Contact {
    static_assert(kSlack == 0 || kSlack == 1, "4- or 8-connectivity");

    // The first column a run starting at from reaches, and one past the last
    // a run ending before `to` reaches.
    static constexpr int64_t reach_from(int64_t from) { return from - kSlack; }
    static constexpr int64_t reach_to(int64_t to) { return to + kSlack; }

    // Whether a run of the neighbouring row lies wholly left of what run
    // [from, to) reaches (it ends at other_to), or wholly right of it (it
    // starts at other_from); a run that does neither touches it.
    static constexpr bool ends_before_reach(int64_t other_to, int64_t from) {
        return other_to <= reach_from(from);
    }
    static constexpr bool starts_past_reach(int64_t other_from, int64_t to) {
        return other_from >= reach_to(to);
    }

    // Calls f(p, first, end) for each run p of a row, in order, with the runs
    // [first, end) of the neighbouring row that it touches (first == end for
    // none). Both rows are bounds, run k at [b[2k], b[2k + 1]), ordered and
    // apart: one walk along both, each run of the other row passed once.
    template <typename F>
    static void for_each_touching(const int32_t* row, uint32_t count, const int32_t* other,
                                  uint32_t other_count, F&& f) {
        uint32_t q = 0;  // the first run of the other row that may still touch
        for (uint32_t p = 0; p < count; ++p) {
            const int32_t from = row[2 * p], to = row[2 * p + 1];
            while (q < other_count && ends_before_reach(other[2 * q + 1], from)) ++q;
            uint32_t t = q;
            while (t < other_count && !starts_past_reach(other[2 * t], to)) ++t;
            f(p, q, t);
            // The last run touched may touch the next run too, unless it ends
            // before this one does.
            q = t > q && other[2 * (t - 1) + 1] > to ? t - 1 : t;
        }
    }

    // The same rule a word of pixels at a time (column 64w + j in bit j of
    // word w): the columns of a row that reach foreground of the neighbouring
    // row, whose words w - 1, w and w + 1 are before, word and after.
    static constexpr uint64_t reached_by(uint64_t before, uint64_t word, uint64_t after) {
        if constexpr (kSlack == 0) {
            (void)before;
            (void)after;
            return word;
        } else {
            return word | word << 1 | before >> 63 | word >> 1 | after << 63;
        }
    }

    // With a corner enough to touch, a pixel touches every pixel of the next
    // column in both rows of a strip of two: in the strip's union, columns of
    // foreground side by side are one region, whatever lies in which row.
    static constexpr bool kColumnsSideBySideJoin = kSlack == 1;
};

// Calls f with Contact<0> or Contact<1>, as the connectivity asks.
template <typename F>
decltype(auto) with_contact(int connectivity, F&& f) {
    if (connectivity == 8) return f(Contact<1>{});
    return f(Contact<0>{});
}

}  // namespace runlabel::engine
