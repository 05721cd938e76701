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
    static constexpr int kConnectivity = kSlack == 0 ? 4 : 8;

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
    static constexpr bool touches(int64_t from, int64_t to, int64_t other_from, int64_t other_to) {
        return !ends_before_reach(other_to, from) && !starts_past_reach(other_from, to);
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

// The slack of a connectivity (4 or 8).
constexpr int slack_of(int connectivity) { return connectivity == 8 ? 1 : 0; }

// Calls f with Contact<0> or Contact<1>, as the connectivity asks.
template <typename F>
decltype(auto) with_contact(int connectivity, F&& f) {
    if (connectivity == 8) return f(Contact<1>{});
    return f(Contact<0>{});
}

}  // namespace runlabel::engine
