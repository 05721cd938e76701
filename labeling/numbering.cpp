// The end of a labeling: trees become regions numbered 1.. in raster order of
// their first run, which is each tree's root. An image labelled in bands has a
// forest per band; the runs that touch across a border unite their bands'
// trees in a small forest of their own over image-wide run numbers, whose
// roots are again the smallest. Dropping small regions and numbering by area
// renumber the raster order.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <span>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "labeling/engine.h"
#include "labeling/simd.h"
#include "support/workers.h"

namespace runlabel::engine {
namespace {

inline uint32_t local_root(uint32_t* parent, uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// Run i, whose parent (or root) comes before it and holds its number by now,
// takes that number; a root takes the next one. Roots and the rest follow no
// pattern on textured images: both values are had and one kept by a mask,
// not a jump.
inline void number_run(uint32_t* labels, uint64_t i, uint64_t& last) {
    const uint32_t up = labels[i];
    const uint32_t inherited = labels[up];
    const auto root = static_cast<uint32_t>(up == i);
    last += root;
    labels[i] = inherited ^ ((inherited ^ static_cast<uint32_t>(last)) & (0 - root));
}

#if RUNLABEL_SSE2
// Groups of four runs [i, i + 4) of a row of new trees: while they are all
// still roots they take the next four numbers at once.
inline void number_roots(uint32_t* labels, uint64_t& i, uint64_t end, uint64_t& last) {
    const __m128i ramp = _mm_setr_epi32(1, 2, 3, 4);
    for (; i + 4 <= end; i += 4) {
        auto* at = reinterpret_cast<__m128i*>(labels + i);
        const __m128i index = _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(i) - 1), ramp);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_loadu_si128(at), index)) == 0xFFFF) {
            _mm_storeu_si128(at, _mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(last)), ramp));
            last += 4;
        } else {
            for (uint64_t k = i; k < i + 4; ++k) number_run(labels, k, last);
        }
    }
}

// Groups of four runs of a row of stretches alike: four that hang from one
// run before them take its number at once.
inline void number_alike(uint32_t* labels, uint64_t& i, uint64_t end, uint64_t& last) {
    for (; i + 4 <= end; i += 4) {
        auto* at = reinterpret_cast<__m128i*>(labels + i);
        const uint32_t up = labels[i];
        const __m128i same =
            _mm_cmpeq_epi32(_mm_loadu_si128(at), _mm_set1_epi32(static_cast<int32_t>(up)));
        if (_mm_movemask_epi8(same) == 0xFFFF && up < i) {
            _mm_storeu_si128(at, _mm_set1_epi32(static_cast<int32_t>(labels[up])));
        } else {
            for (uint64_t k = i; k < i + 4; ++k) number_run(labels, k, last);
        }
    }
}
#endif

// The row that holds run i of a store.
int64_t row_of_run(const RunStore& store, uint64_t i) {
    return static_cast<int64_t>(
        std::upper_bound(store.row_start.begin(), store.row_start.end(), static_cast<uint32_t>(i)) -
        store.row_start.begin() - 1);
}

// The roots among runs [from, to) of a store. A row whose runs share their
// first run's entry has none: that parent comes before the row. Nor have runs
// whose parents were copied from the row above.
uint32_t count_roots(const RunStore& store, const uint32_t* labels, uint32_t from, uint32_t to) {
    uint32_t roots = 0;
    if (from >= to) return roots;
    auto roots_in = [labels](uint32_t a, uint32_t b) {
        uint32_t n = 0;
        for (uint32_t k = a; k < b; ++k) n += labels[k] == k;
        return n;
    };
    // The first copy that ends after from.
    const CopiedRuns* copy =
        std::upper_bound(store.copies.begin(), store.copies.end(), from,
                         [](uint32_t run, const CopiedRuns& k) { return run < k.run + k.count; });
    const CopiedRuns* const copies_end = store.copies.end();
    for (int64_t row = row_of_run(store, from); from < to; ++row) {
        const uint32_t stop = std::min(to, store.end_run(row));
        if (!store.row_info[row].shared_label) {
            for (; copy != copies_end && copy->run < stop; ++copy) {
                if (from < copy->run) roots += roots_in(from, copy->run);
                from = std::max(from, std::min(stop, copy->run + copy->count));
            }
            roots += roots_in(from, stop);
        }
        from = stop;
    }
    return roots;
}

// Runs [i, end) of a store numbered in turn, each row as its kind allows.
void number_range(RunStore& store, uint32_t* labels, uint64_t i, uint64_t end, uint64_t& last) {
    if (i >= end) return;
    int64_t row = row_of_run(store, i);
    const CopiedRuns* copy =
        std::lower_bound(store.copies.begin(), store.copies.end(), i,
                         [](const CopiedRuns& k, uint64_t run) { return k.run < run; });
    const CopiedRuns* const copies_end = store.copies.end();
    for (; i < end; ++row) {
        const uint64_t stop = std::min<uint64_t>(end, store.end_run(row));
        RowInfo& info = store.row_info[row];
        while (copy != copies_end && copy->run < i) ++copy;  // rows numbered whole
        if (info.kind == RowKind::kRepeat && i == store.first_run(row) &&
            stop == store.end_run(row)) {
            // Each run is of the region of its double above, numbered by now.
            const std::span<const uint32_t> above = label_entries(store, row - 1);
            std::memcpy(labels + i, above.data(), above.size() * sizeof(uint32_t));
            info.shared_label = store.row_info[row - 1].shared_label;
            i = stop;
            continue;
        }
        if (info.one_region && i == store.first_run(row) && stop - i >= 2 && labels[i] < i) {
            // Every run of the row is of the region of its first run's
            // parent, which comes before the row and is numbered by now: the
            // first run's entry keeps the number for all.
            labels[i] = labels[labels[i]];
            info.shared_label = true;
            i = stop;
            continue;
        }
        // Runs whose parents were copied from the row above take its numbers,
        // the runs between them theirs one by one.
        for (; copy != copies_end && copy->run < stop; ++copy) {
            for (; i < copy->run; ++i) number_run(labels, i, last);
            if (store.row_info[row - 1].shared_label) {
                std::fill(labels + i, labels + i + copy->count, labels[store.first_run(row - 1)]);
            } else {
                std::memcpy(labels + i, labels + copy->above, copy->count * sizeof(uint32_t));
            }
            i += copy->count;
        }
#if RUNLABEL_SSE2
        switch (info.kind) {
            case RowKind::kNewTrees:
                number_roots(labels, i, stop, last);
                break;
            case RowKind::kStretchesAlike:
                number_alike(labels, i, stop, last);
                break;
            case RowKind::kRepeat:
            case RowKind::kMixed:
                break;
        }
#endif
        for (; i < stop; ++i) number_run(labels, i, last);
    }
}

// Trees of different bands joined at their borders, by image-wide run number
// (a band's first run number plus the run's index in its band).
class BorderForest {
  public:
    bool empty() const { return parent_.empty(); }

    // Every run number that has joined the forest, in increasing order.
    std::vector<uint64_t> members() const {
        std::vector<uint64_t> all;
        all.reserve(parent_.size());
        for (const auto& [x, up] : parent_) all.push_back(x);
        std::sort(all.begin(), all.end());
        return all;
    }

    uint64_t find(uint64_t x) {
        for (;;) {
            const auto it = parent_.find(x);
            if (it == parent_.end() || it->second == x) return x;
            const auto up = parent_.find(it->second);
            if (up != parent_.end()) it->second = up->second;  // path halving
            x = it->second;
        }
    }

    void unite(uint64_t a, uint64_t b) {
        a = find(a);
        b = find(b);
        if (a == b) return;
        if (a > b) std::swap(a, b);
        parent_[a] = a;
        parent_[b] = a;
    }

  private:
    std::unordered_map<uint64_t, uint64_t> parent_;
};

// Unites the trees of touching runs in the last row of `above` and the first
// row of `below`.
template <typename Contact>
void join_border(Band& above, uint64_t above_base, Band& below, uint64_t below_base,
                 BorderForest& forest) {
    RunStore& a = above.store;
    RunStore& b = below.store;
    if (a.rows() == 0 || b.rows() == 0) return;
    const RowView a_row(a, a.rows() - 1);
    const RowView b_row(b, 0);
    Buffer<int32_t> a_scratch, b_scratch;
    const int32_t* a_bounds = a_row.bounds(a_scratch);
    const int32_t* b_bounds = b_row.bounds(b_scratch);
    // Neither row shares its label entries (end_labeling spread the last;
    // a first row starts trees of its own): each run's entry is its parent.
    Contact::for_each_touching(
        b_bounds, b_row.count(), a_bounds, a_row.count(),
        [&](uint32_t p, uint32_t q0, uint32_t q1) {
            for (uint32_t q = q0; q < q1; ++q) {
                forest.unite(above_base + local_root(a.labels.data(), a_row.first() + q),
                             below_base + local_root(b.labels.data(), p));
            }
        });
}

// Areas of regions 1..count (entry 0 for runs of no region).
Buffer<uint64_t> region_areas(const Band* bands, std::size_t count_bands, uint32_t count) {
    Buffer<uint64_t> area(std::size_t(count) + 1);
    std::fill(area.begin(), area.end(), 0);
    Buffer<int32_t> scratch;
    for (std::size_t b = 0; b < count_bands; ++b) {
        const RunStore& store = bands[b].store;
        for (int64_t r = 0; r < store.rows(); ++r) {
            RowView(store, r).for_each_run(scratch,
                                           [&area](int32_t from, int32_t to, uint32_t label) {
                                               area[label] += static_cast<uint64_t>(to - from);
                                           });
        }
    }
    return area;
}

// Drops and reorders regions as the options ask; returns the count kept.
uint32_t renumber(Band* bands, std::size_t count_bands, uint32_t count,
                  const NumberingOptions& options) {
    const Buffer<uint64_t> area = region_areas(bands, count_bands, count);
    // new_number[k]: region k's final number, 0 when it is dropped.
    Buffer<uint32_t> new_number(std::size_t(count) + 1);
    std::fill(new_number.begin(), new_number.end(), 0);
    uint32_t kept = 0;
    if (options.by_area) {
        Buffer<uint32_t> order(count);
        std::iota(order.begin(), order.end(), 1u);
        std::stable_sort(order.begin(), order.end(),
                         [&area](uint32_t a, uint32_t b) { return area[a] > area[b]; });
        for (uint32_t k : order) {
            if (area[k] >= options.min_area) new_number[k] = ++kept;
        }
    } else {
        for (uint32_t k = 1; k <= count; ++k) {
            if (area[k] >= options.min_area) new_number[k] = ++kept;
        }
    }
    for (std::size_t b = 0; b < count_bands; ++b) {
        RunStore& store = bands[b].store;
        for (int64_t r = 0; r < store.rows(); ++r) {
            for (uint32_t& label : label_entries(store, r)) label = new_number[label];
        }
    }
    return kept;
}

// Numbers bands joined at their borders, each band by a thread of its own.
// The forest's members are the bands' roots joined to others; each takes the
// number of its forest root (its representative), the smallest run of the
// region. Every other root is a region of its own, numbered in raster order:
// so a band first counts its new regions, the counts give each band its
// first number, and then every band numbers its runs as one band is, the
// representatives that other bands refer to known in advance by their rank
// in their band.
uint64_t number_joined_bands(Band* bands, std::size_t count_bands,
                             const std::vector<uint64_t>& base, BorderForest& forest, int threads) {
    const std::vector<uint64_t> members = forest.members();
    std::vector<uint64_t> rep(members.size());
    for (std::size_t k = 0; k < members.size(); ++k) rep[k] = forest.find(members[k]);
    // The representatives some member refers to, each with its rank among
    // its band's new regions (filled in by that band).
    std::vector<uint64_t> referred;
    for (std::size_t k = 0; k < members.size(); ++k) {
        if (rep[k] != members[k]) referred.push_back(rep[k]);
    }
    std::sort(referred.begin(), referred.end());
    referred.erase(std::unique(referred.begin(), referred.end()), referred.end());
    std::vector<uint64_t> rank(referred.size(), 0);
    std::vector<uint64_t> new_regions(count_bands, 0);
    auto first_at_or_after = [](const std::vector<uint64_t>& v, uint64_t g) {
        return static_cast<std::size_t>(std::lower_bound(v.begin(), v.end(), g) - v.begin());
    };

    // The band-local index of the next of `sorted` in band b at or after
    // sorted[*k], or UINT64_MAX when none is left in the band.
    auto next_in_band = [&](const std::vector<uint64_t>& sorted, std::size_t k, std::size_t b) {
        return k < sorted.size() && sorted[k] < base[b + 1] ? sorted[k] - base[b] : UINT64_MAX;
    };
    // The band's new regions counted, and the representatives' ranks among
    // them. Members and representatives, a few runs along the borders, are
    // the only runs looked at one by one; between them roots are counted by a
    // compare the compiler vectorises.
    run_on_workers(static_cast<int>(count_bands), threads, [&](int band) {
        const std::size_t b = static_cast<std::size_t>(band);
        const uint32_t* labels = bands[b].store.labels.data();
        const auto runs = static_cast<uint32_t>(bands[b].store.runs());
        std::size_t m = first_at_or_after(members, base[b]);
        std::size_t r = first_at_or_after(referred, base[b]);
        uint64_t next_member = next_in_band(members, m, b);
        uint64_t next_referred = next_in_band(referred, r, b);
        uint64_t regions = 0;
        uint32_t counted = 0;  // runs [0, counted) are counted
        auto count_roots_to = [&](uint32_t end) {
            regions += count_roots(bands[b].store, labels, counted, end);
            counted = end;
        };
        while (next_member != UINT64_MAX || next_referred != UINT64_MAX) {
            const auto i = static_cast<uint32_t>(std::min(next_member, next_referred));
            count_roots_to(i + 1);
            if (i == next_member) {
                // A member is a root; one that is not its forest's
                // representative is no new region.
                regions -= static_cast<uint64_t>(rep[m] != base[b] + i);
                next_member = next_in_band(members, ++m, b);
            }
            if (i == next_referred) {
                rank[r] = regions;
                next_referred = next_in_band(referred, ++r, b);
            }
        }
        count_roots_to(runs);
        new_regions[b] = regions;
    });
    std::vector<uint64_t> first_number(count_bands + 1, 0);
    for (std::size_t b = 0; b < count_bands; ++b) {
        first_number[b + 1] = first_number[b] + new_regions[b];
    }
    const uint64_t count = first_number[count_bands];
    if (count > kMaxRuns) throw std::length_error("Too many regions in image");
    auto number_of = [&](uint64_t g) {
        const std::size_t r = first_at_or_after(referred, g);
        const std::size_t b = static_cast<std::size_t>(
            std::upper_bound(base.begin(), base.end(), g) - base.begin() - 1);
        return first_number[b] + rank[r];
    };

    // Roots take their numbers; every other run its root's.
    run_on_workers(static_cast<int>(count_bands), threads, [&](int band) {
        const std::size_t b = static_cast<std::size_t>(band);
        uint32_t* labels = bands[b].store.labels.data();
        const uint64_t runs = bands[b].store.runs();
        std::size_t m = first_at_or_after(members, base[b]);
        uint64_t next_member = next_in_band(members, m, b);
        uint64_t next = first_number[b];
        uint64_t i = 0;  // runs [0, i) are numbered
        for (; next_member != UINT64_MAX; next_member = next_in_band(members, ++m, b)) {
            number_range(bands[b].store, labels, i, next_member + 1, next);
            i = next_member + 1;
            if (rep[m] != base[b] + next_member) {
                labels[next_member] = static_cast<uint32_t>(number_of(rep[m]));
                --next;
            }
        }
        number_range(bands[b].store, labels, i, runs, next);
    });
    return count;
}

}  // namespace

uint64_t number_bands(Band* bands, std::size_t count_bands, int connectivity,
                      const NumberingOptions& options, int threads) {
    for (std::size_t b = 0; b < count_bands; ++b) end_labeling(bands[b].store);
    std::vector<uint64_t> base(count_bands + 1, 0);
    for (std::size_t b = 0; b < count_bands; ++b) base[b + 1] = base[b] + bands[b].store.runs();
    BorderForest forest;
    with_contact(connectivity, [&](auto contact) {
        for (std::size_t b = 1; b < count_bands; ++b) {
            join_border<decltype(contact)>(bands[b - 1], base[b - 1], bands[b], base[b], forest);
        }
    });
    uint64_t count = 0;
    if (forest.empty()) {
        // A parent comes before its child, so it holds its region number by
        // the time the child is reached.
        for (std::size_t b = 0; b < count_bands; ++b) {
            RunStore& store = bands[b].store;
            uint32_t* labels = store.labels.data();
            const uint64_t runs = store.runs();
            number_range(store, labels, 0, runs, count);
        }
        if (count > kMaxRuns) throw std::length_error("Too many regions in image");
    } else {
        count = number_joined_bands(bands, count_bands, base, forest, threads);
    }
    for (std::size_t b = 0; b < count_bands; ++b) bands[b].store.copies.release();
    if (options.min_area <= 1 && !options.by_area) return count;
    return renumber(bands, count_bands, static_cast<uint32_t>(count), options);
}

uint64_t number_regions(RunStore& store, const NumberingOptions& options) {
    Band band;
    std::swap(band.store, store);
    const uint64_t count = number_bands(&band, 1, 4, options);
    std::swap(band.store, store);
    return count;
}

}  // namespace runlabel::engine
