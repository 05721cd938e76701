// The end of a labeling: trees become regions numbered 1.. in raster order of
// their first run, which is each tree's root. An image labelled in bands has a
// forest per band; the runs that touch across a border unite their bands'
// trees in a small forest of their own over image-wide run numbers, whose
// roots are again the smallest. Dropping small regions and numbering by area
// renumber the raster order.
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "labeling/engine.h"

namespace runlabel::engine {
namespace {

inline uint32_t local_root(uint32_t* parent, uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
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
void join_border(Band& above, uint64_t above_base, Band& below, uint64_t below_base,
                 int connectivity, BorderForest& forest) {
    RunStore& a = above.store;
    RunStore& b = below.store;
    if (a.rows() == 0 || b.rows() == 0) return;
    const int slack = connectivity == 8 ? 1 : 0;
    const uint32_t a_first = a.first_run(a.rows() - 1);
    const uint32_t a_end = a.end_run(a.rows() - 1);
    const uint32_t b_end = b.end_run(0);
    uint32_t q = a_first;
    for (uint32_t p = 0; p < b_end; ++p) {
        const int32_t start = b.bounds[2 * p] - slack;
        const int32_t stop = b.bounds[2 * p + 1] + slack;
        while (q < a_end && a.bounds[2 * q + 1] <= start) ++q;
        for (uint32_t t = q; t < a_end && a.bounds[2 * t] < stop; ++t) {
            forest.unite(above_base + local_root(a.labels.data(), t),
                         below_base + local_root(b.labels.data(), p));
        }
    }
}

// Areas of regions 1..count (entry 0 for runs of no region).
Buffer<uint64_t> region_areas(const Band* bands, std::size_t count_bands, uint32_t count) {
    Buffer<uint64_t> area(std::size_t(count) + 1);
    std::fill(area.begin(), area.end(), 0);
    for (std::size_t b = 0; b < count_bands; ++b) {
        const RunStore& store = bands[b].store;
        const int32_t* bounds = store.bounds.data();
        const uint32_t* labels = store.labels.data();
        for (uint64_t i = 0; i < store.runs(); ++i) {
            area[labels[i]] += static_cast<uint64_t>(bounds[2 * i + 1] - bounds[2 * i]);
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
        uint32_t* labels = store.labels.data();
        for (uint64_t i = 0; i < store.runs(); ++i) labels[i] = new_number[labels[i]];
    }
    return kept;
}

}  // namespace

uint64_t number_bands(Band* bands, std::size_t count_bands, int connectivity,
                      const NumberingOptions& options) {
    std::vector<uint64_t> base(count_bands + 1, 0);
    for (std::size_t b = 0; b < count_bands; ++b) base[b + 1] = base[b] + bands[b].store.runs();
    BorderForest forest;
    for (std::size_t b = 1; b < count_bands; ++b) {
        join_border(bands[b - 1], base[b - 1], bands[b], base[b], connectivity, forest);
    }
    const std::vector<uint64_t> members = forest.members();
    uint64_t count = 0;
    for (std::size_t b = 0; b < count_bands; ++b) {
        RunStore& store = bands[b].store;
        uint32_t* labels = store.labels.data();
        const uint64_t runs = store.runs();
        if (forest.empty()) {
            // A parent comes before its child, so it holds its region number
            // by the time the child is reached.
            for (uint64_t i = 0; i < runs; ++i) {
                const bool root = labels[i] == i;
                count += static_cast<uint64_t>(root);
                labels[i] = root ? static_cast<uint32_t>(count) : labels[labels[i]];
            }
        } else {
            // Only the roots in the forest ask it; the forest's members are
            // few beside the runs, so they are met in order, not looked up.
            const uint64_t* member =
                std::lower_bound(members.data(), members.data() + members.size(), base[b]);
            const uint64_t* const members_end = members.data() + members.size();
            for (uint64_t i = 0; i < runs; ++i) {
                if (labels[i] != i) {
                    labels[i] = labels[labels[i]];
                    continue;
                }
                const uint64_t g = base[b] + i;
                while (member != members_end && *member < g) ++member;
                uint64_t rep = g;
                if (member != members_end && *member == g) rep = forest.find(g);
                // A band's root joined at a border to a smaller one takes the
                // number that one got, in its own band, before.
                if (rep == g) {
                    labels[i] = static_cast<uint32_t>(++count);
                } else {
                    const std::size_t rb = static_cast<std::size_t>(
                        std::upper_bound(base.begin(), base.end(), rep) - base.begin() - 1);
                    labels[i] = bands[rb].store.labels[rep - base[rb]];
                }
            }
        }
        if (count > kMaxRuns) throw std::length_error("Too many regions in image");
    }
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
