// Per-region statistics summed over the runs: every figure a region needs is
// a sum or an extreme over its runs, so no pixel is looked at again, and the
// sums of tiles or bands add up to the sums of the whole.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "labeling/engine.h"

namespace runlabel::engine {

void sum_regions(const RunStore& store, uint64_t count, int64_t row_offset, RegionSums& sums) {
    auto reset = [count](auto& buffer, auto value) {
        buffer.resize(count);
        std::fill(buffer.begin(), buffer.end(), value);
    };
    reset(sums.area, uint64_t{0});
    reset(sums.sum_x, uint64_t{0});
    reset(sums.sum_y, uint64_t{0});
    reset(sums.left, INT32_MAX);
    reset(sums.right, INT32_MIN);
    reset(sums.top, INT64_MAX);
    reset(sums.bottom, INT64_MIN);
    const int32_t* bounds = store.bounds.data();
    const uint32_t* labels = store.labels.data();
    for (int64_t r = 0; r < store.rows(); ++r) {
        const auto y = static_cast<uint64_t>(r + row_offset);
        for (uint32_t i = store.first_run(r); i < store.end_run(r); ++i) {
            if (labels[i] == 0) continue;
            const std::size_t k = labels[i] - 1;
            const int32_t first = bounds[2 * i];
            const int32_t last = bounds[2 * i + 1] - 1;
            const auto length = static_cast<uint64_t>(last - first + 1);
            sums.area[k] += length;
            // first + ... + last: one of length and first + last is even.
            sums.sum_x[k] +=
                (static_cast<uint64_t>(first) + static_cast<uint64_t>(last)) * length / 2;
            sums.sum_y[k] += y * length;
            sums.left[k] = std::min(sums.left[k], first);
            sums.right[k] = std::max(sums.right[k], last);
            sums.top[k] = std::min(sums.top[k], r + row_offset);
            sums.bottom[k] = r + row_offset;
        }
    }
}

}  // namespace runlabel::engine
