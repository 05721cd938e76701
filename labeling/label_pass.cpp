// The top-down labeling pass, one row at a time, and the numbering of the
// classes it leaves. A run p touches a run q of the row above unless one ends
// left of the other's start less the slack (0 asks for a shared column, 1 also
// takes a diagonal contact):
//
//   p:  ####              p:  ####
//   q:     ####  both     q:      ####  slack 1 only
//
// p takes the label of the first q it touches and unites the classes of the
// others; the runs p touches are consecutive in the row above.
#include <bit>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "labeling/engine.h"

namespace runlabel::engine {
namespace {

constexpr uint32_t kWindow = 4;

// Bits 0..3 say which of the four runs from q hold: one ending at or left of
// `start` (before), one starting left of `end` (reach). Both sets are
// prefixes, as a row's runs are ordered and apart; runs past the row's last
// (count of them) are never set. The loads may run on into the next row's
// bounds or the store's padding, which are always there to read.
struct Window {
    unsigned before;
    unsigned reach;
};

inline Window window(const int32_t* bounds, uint32_t q, uint32_t count, int32_t start,
                     int32_t end) {
    const uint32_t left = count - q;
    const unsigned valid = left >= kWindow ? 0xFu : (1u << left) - 1;
#if defined(__SSE2__)
    const __m128 v0 =
        _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bounds + 2 * q)));
    const __m128 v1 =
        _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bounds + 2 * q + 4)));
    const __m128i starts = _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i ends = _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m128i before = _mm_cmplt_epi32(ends, _mm_set1_epi32(start + 1));
    const __m128i reach = _mm_cmplt_epi32(starts, _mm_set1_epi32(end));
    return {static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(before))) & valid,
            static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(reach))) & valid};
#else
    Window w{0, 0};
    for (uint32_t k = 0; k < kWindow; ++k) {
        w.before |= static_cast<unsigned>(bounds[2 * (q + k) + 1] <= start) << k;
        w.reach |= static_cast<unsigned>(bounds[2 * (q + k)] < end) << k;
    }
    return {w.before & valid, w.reach & valid};
#endif
}

template <int kSlack>
void label_row(RunStore& store, Classes& classes) {
    const int64_t row = store.rows() - 1;
    const uint32_t first = store.first_run(row);
    const uint32_t count = store.end_run(row) - first;
    classes.reserve(count);
    uint32_t* labels = store.labels.data();
    const int32_t* cur = store.bounds.data() + 2 * std::size_t(first);
    const uint32_t above_first = row > 0 ? store.first_run(row - 1) : first;
    const uint32_t above_count = first - above_first;
    if (above_count == 0) {
        for (uint32_t p = 0; p < count; ++p) labels[first + p] = classes.take(true, 0);
        return;
    }
    const int32_t* above = store.bounds.data() + 2 * std::size_t(above_first);
    const uint32_t* above_labels = labels + above_first;
    uint32_t q = 0;
    for (uint32_t p = 0; p < count; ++p) {
        const int32_t start = cur[2 * p] - kSlack;
        const int32_t end = cur[2 * p + 1] + kSlack;
        Window w = window(above, q, above_count, start, end);
        while (w.before == 0xFu) {
            q += kWindow;
            w = window(above, q, above_count, start, end);
        }
        q += static_cast<uint32_t>(std::countr_one(w.before));
        w = window(above, q, above_count, start, end);
        uint32_t touching = static_cast<uint32_t>(std::countr_one(w.reach));
        if (touching == kWindow) {
            while (q + touching < above_count && above[2 * (q + touching)] < end) ++touching;
        }
        // A run keeps the label it was handed: any member of its class serves,
        // as unions and numbering go by roots.
        const uint32_t label = classes.take(touching == 0, above_labels[q < above_count ? q : 0]);
        for (uint32_t k = 1; k < touching; ++k) {
            const uint32_t other = above_labels[q + k];
            if (other != label) classes.unite(label, other);
        }
        labels[first + p] = label;
    }
}

}  // namespace

void label_newest_row(RunStore& store, Classes& classes, int connectivity) {
    if (connectivity == 8) {
        label_row<1>(store, classes);
    } else {
        label_row<0>(store, classes);
    }
}

uint32_t Classes::number_classes() {
    uint32_t* parent = parent_.data();
    uint32_t count = 0;
    // Parents are smaller than their children, so a parent already holds its
    // region number when its child is reached.
    for (uint32_t x = 1; x < next_; ++x) {
        const bool root = parent[x] == x;
        count += static_cast<uint32_t>(root);
        parent[x] = root ? count : parent[parent[x]];
    }
    return count;
}

}  // namespace runlabel::engine
