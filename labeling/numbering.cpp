// The end of a labeling: classes become regions numbered 1.. in raster order
// of their first run (a region's first run got a new label, and labels were
// handed out in raster order, so that is the order of each class's smallest
// label). Dropping small regions and numbering by area renumber that order.
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

uint64_t number_regions(RunStore& store, Classes& classes, const NumberingOptions& options) {
    uint32_t count = classes.number_classes();
    const uint32_t* region = classes.regions();
    uint32_t* labels = store.labels.data();
    const uint64_t runs = store.runs();
    for (uint64_t i = 0; i < runs; ++i) labels[i] = region[labels[i]];
    if (options.min_area <= 1 && !options.by_area) return count;

    const Buffer<uint64_t> area = region_areas(store, count);
    // new_number[k]: region k's final number, 0 when it is dropped.
    Buffer<uint32_t> new_number(std::size_t(count) + 1);
    new_number[0] = 0;
    uint32_t kept = 0;
    if (options.by_area) {
        Buffer<uint32_t> order(count);
        std::iota(order.begin(), order.end(), 1u);
        std::stable_sort(order.begin(), order.end(),
                         [&area](uint32_t a, uint32_t b) { return area[a] > area[b]; });
        for (uint32_t k = 1; k <= count; ++k) new_number[k] = 0;
        for (uint32_t k : order) {
            if (area[k] >= options.min_area) new_number[k] = ++kept;
        }
    } else {
        for (uint32_t k = 1; k <= count; ++k) {
            new_number[k] = area[k] >= options.min_area ? ++kept : 0;
        }
    }
    for (uint64_t i = 0; i < runs; ++i) labels[i] = new_number[labels[i]];
    return kept;
}

}  // namespace runlabel::engine
