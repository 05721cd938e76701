// Paints labelled runs back into a pixel raster. Every pixel starts as
// background (0); a run covers exactly its columns scol..ecol of its row.
// The raster is written in one sweep, each pixel about once: the gap before a
// run gets zeros, the run its label.
#include <algorithm>
#include <cstddef>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "labeling/labeling.h"
#include "support/support.h"

namespace {

#if defined(__SSE2__)
constexpr std::ptrdiff_t kLanes = 8;  // 16-bit pixels per store
// Gaps and runs up to these lengths are written without a loop, whose trip
// count would follow no pattern on textured images.
constexpr std::ptrdiff_t kShortGap = 4 * kLanes;
constexpr std::ptrdiff_t kShortRun = 2 * kLanes;

inline void store(int16_t* at, __m128i value) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), value);
}

// Writes value over [from, to) in whole stores, which may go on past `to` by
// up to kLanes - 1 pixels.
inline void fill_over(int16_t* from, const int16_t* to, __m128i value) {
    for (; from < to; from += kLanes) store(from, value);
}

// Writes zeros over [gap, start) and the label over [start, end), and
// possibly garbage over up to kShortGap pixels past them: whatever lies past
// `end` is written again by the next gap or run. Needs start >= gap.
inline void paint_run(int16_t* gap, int16_t* start, const int16_t* end, int16_t label) {
    const __m128i zero = _mm_setzero_si128();
    for (std::ptrdiff_t i = 0; i < kShortGap; i += kLanes) store(gap + i, zero);
    fill_over(gap + kShortGap, start, zero);
    const __m128i value = _mm_set1_epi16(label);
    for (std::ptrdiff_t i = 0; i < kShortRun; i += kLanes) store(start + i, value);
    fill_over(start + kShortRun, end, value);
}
#endif

}  // namespace

int16_t** runs_to_label_image(const RunNode* runs, int rows, int cols) {
    int16_t** image = alloc_short_matrix(rows, cols);
    if (rows == 0 || cols == 0) return image;
    // The rows share one block, so the raster is one array of rows * cols.
    int16_t* const pixels = image[0];
    const auto width = static_cast<std::ptrdiff_t>(cols);
    const std::ptrdiff_t total = rows * width;
    std::ptrdiff_t written = 0;  // pixels [0, written) hold their final value
    for (const RunNode* run = runs; run != nullptr; run = run->next) {
        const std::ptrdiff_t start = run->row * width + run->scol;
        const std::ptrdiff_t end = run->row * width + run->ecol + 1;
        // Conversion to a 16-bit type keeps the low 16 bits of the label.
        const auto label = static_cast<int16_t>(run->label);
#if defined(__SSE2__)
        // Near the end of the raster the plain fills below keep every store
        // inside it.
        if (start >= written && std::max(written + kShortGap, end + kShortRun) <= total) {
            paint_run(pixels + written, pixels + start, pixels + end, label);
            written = end;
            continue;
        }
#endif
        // A run out of raster order paints over what is there, as a later
        // run in the list does.
        if (start > written) std::fill(pixels + written, pixels + start, int16_t{0});
        std::fill(pixels + start, pixels + end, label);
        written = std::max(written, end);
    }
    std::fill(pixels + written, pixels + total, int16_t{0});
    return image;
}
