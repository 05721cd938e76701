// Run-length encoding: one left-to-right scan per row turns the binary image
// into RunNodes numbered 1..N in raster order and records each row's first and
// last run number in the RowIndex. The scan looks at 64 pixels at a time: a
// bit mask of foreground pixels, whose edges are the run boundaries.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "labeling/labeling.h"
#include "labeling/run_limits.h"
#include "labeling/run_pool.h"
#include "support/support.h"

int skip_run_numbers(int run_number, int count) {
    // Labeling sizes its tables N + 1, so N itself must stay below INT_MAX.
    if (count > INT_MAX - 1 - run_number) fatal_error("Too many runs in image");
    return run_number + count;
}

namespace {

constexpr int kWord = 64;

// Bit i is set when pixel i (i < n, n <= 64) is foreground.
template <typename Pixel>
uint64_t foreground_bits(const Pixel* px, int n) {
    uint64_t bits = 0;
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const auto* at = reinterpret_cast<const __m128i*>(px + i);
        __m128i background;
        if constexpr (sizeof(Pixel) == 1) {
            background = _mm_cmpeq_epi8(_mm_loadu_si128(at), zero);
        } else {
            // Packing the two 16-bit comparisons to bytes gives one bit per pixel.
            background = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_loadu_si128(at), zero),
                                         _mm_cmpeq_epi16(_mm_loadu_si128(at + 1), zero));
        }
        const auto set = static_cast<uint32_t>(_mm_movemask_epi8(background)) ^ 0xFFFFu;
        bits |= static_cast<uint64_t>(set) << i;
    }
#endif
    for (; i < n; ++i) bits |= static_cast<uint64_t>(px[i] != 0) << i;
    return bits;
}

// Column bounds of up to kBatch runs (start, one past the end) are gathered
// before their nodes are made; one extra slot holds a run still open.
constexpr int kBatch = 256;
constexpr int kBoundsSlots = 2 * kBatch + kWord + 1;

// The one encoder behind both pixel widths.
template <typename Pixel>
RunNode* encode_runs(Pixel* const* image, int rows, int cols, RowIndex row_index, int* run_count) {
    RunNode head{};
    RunNode* tail = &head;
    int next_run = 1;
    int32_t bounds[kBoundsSlots];
    // Makes nodes for the complete runs in bounds and keeps an open one.
    auto flush = [&](int row, int filled) {
        const int runs = filled / 2;
        const int first = next_run;
        next_run = skip_run_numbers(next_run, runs);
        tail = append_run_nodes(tail, row, first, bounds, runs);
        if (filled % 2 != 0) bounds[0] = bounds[filled - 1];
        return filled % 2;
    };
    for (int r = 0; r < rows; ++r) {
        const Pixel* px = image[r];
        const int first = next_run;
        int filled = 0;
        uint64_t before = 0;  // 1 when the pixel left of the word is foreground
        for (int c = 0; c < cols; c += kWord) {
            const uint64_t fg = foreground_bits(px + c, std::min(kWord, cols - c));
            // A set bit is a column where foreground starts or stops; starts
            // and stops alternate along the row. Past a short last word every
            // pixel reads as background, which closes a run at cols.
            uint64_t edges = fg ^ (fg << 1 | before);
            before = fg >> (kWord - 1);
            // Four edges per round: the count per word follows no pattern, so
            // fewer rounds mean fewer jumps to mispredict. A step past the
            // last edge stores c into bounds[filled] without counting it.
            while (edges != 0) {
                for (int k = 0; k < 4; ++k) {
                    bounds[filled] = c + (std::countr_zero(edges) & (kWord - 1));
                    filled += static_cast<int>(edges != 0);
                    edges &= edges - 1;
                }
            }
            if (filled >= 2 * kBatch) filled = flush(r, filled);
        }
        if (filled % 2 != 0) bounds[filled++] = cols;  // the row ends in foreground
        flush(r, filled);
        row_index[r][0] = next_run == first ? 0 : first;
        row_index[r][1] = next_run == first ? 0 : next_run - 1;
    }
    *run_count = next_run - 1;
    return head.next;
}

}  // namespace

RunNode* image_to_runs(int16_t** binary, int rows, int cols, RowIndex row_index, int* run_count) {
    return encode_runs(binary, rows, cols, row_index, run_count);
}

RunNode* greymap_to_runs(uint8_t** pixels, int rows, int cols, RowIndex row_index, int* run_count) {
    return encode_runs(pixels, rows, cols, row_index, run_count);
}
