// The end of a labeling: trees become regions numbered 1.. in raster order of
// their first run, which is each tree's root. Dropping small regions and
// numbering by area renumber that order.
#include <algorithm>
#include <cstdint>
#include <numeric>

#include "labeling/engine.h"

namespace runlabel::engine {
namespace {

// Areas of regions 1..count (entry 0 unused).
Buffer<uint64_t> region_areas(const RunStore& store, uint32_t count) {
    Buffer<uint64_t> area(std::size_t(count) + 1);
    std::fill(area.begin(), area.end(), 0);
    const int32_t* bounds = store.bounds.data();
    const uint32_t* labels = store.labels.data();
    const uint64_t runs = store.runs();
    for (uint64_t i = 0; i < runs; ++i) {
        area[labels[i]] += static_cast<uint64_t>(bounds[2 * i + 1] - bounds[2 * i]);
    }
    return area;
}

}  // namespace

uint64_t number_regions(RunStore& store, const NumberingOptions& options) {
    uint32_t* labels = store.labels.data();
    const uint64_t runs = store.runs();
    uint32_t count = 0;
    // A parent comes before its child, so it holds its region number by the
    // time the child is reached.
    for (uint64_t i = 0; i < runs; ++i) {
        const bool root = labels[i] == i;
        count += static_cast<uint32_t>(root);
        labels[i] = root ? count : labels[labels[i]];
    }
    if (options.min_area <= 1 && !options.by_area) return count;

    const Buffer<uint64_t> area = region_areas(store, count);
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
    for (uint64_t i = 0; i < runs; ++i) labels[i] = new_number[labels[i]];
    return kept;
}

}  // namespace runlabel::engine
