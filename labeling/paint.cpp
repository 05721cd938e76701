// Paints labelled runs back into a pixel raster. Every pixel starts as
// background (0); a run covers exactly its columns scol..ecol of its row.
// The raster is written in one sweep, each pixel about once: the gap before a
// run gets zeros, the run its label.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "labeling/labeling.h"
#include "support/support.h"

namespace {

#if defined(__SSE2__)
// Pixels per store, and gaps and runs up to these lengths are written without
// a loop, whose trip count would follow no pattern on textured images.
template <typename T>
constexpr std::ptrdiff_t kLanes = 16 / sizeof(T);
template <typename T>
constexpr std::ptrdiff_t kShortGap = 4 * kLanes<T>;
template <typename T>
constexpr std::ptrdiff_t kShortRun = 2 * kLanes<T>;

inline __m128i splat(int16_t label) { return _mm_set1_epi16(label); }
inline __m128i splat(uint8_t label) { return _mm_set1_epi8(static_cast<char>(label)); }

template <typename T>
inline void store(T* at, __m128i value) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), value);
}

// Writes value over [from, to) in whole stores, which may go on past `to` by
// up to one store less a pixel.
template <typename T>
inline void fill_over(T* from, const T* to, __m128i value) {
    for (; from < to; from += kLanes<T>) store(from, value);
}

// Writes zeros over [gap, start) and the label over [start, end), and
// possibly garbage over up to kShortGap pixels past them: whatever lies past
// `end` is written again by the next gap or run. Needs start >= gap.
template <typename T>
inline void paint_run(T* gap, T* start, const T* end, T label) {
    const __m128i zero = _mm_setzero_si128();
    for (std::ptrdiff_t i = 0; i < kShortGap<T>; i += kLanes<T>) store(gap + i, zero);
    fill_over(gap + kShortGap<T>, start, zero);
    const __m128i value = splat(label);
    for (std::ptrdiff_t i = 0; i < kShortRun<T>; i += kLanes<T>) store(start + i, value);
    fill_over(start + kShortRun<T>, end, value);
}
#endif

// Paints the runs into a raster of rows * cols pixels of type T, each label
// converted to T (its low bits), and zeros elsewhere.
template <typename T>
void paint_raster(const RunNode* runs, T* const pixels, int rows, int cols) {
    const auto width = static_cast<std::ptrdiff_t>(cols);
    const std::ptrdiff_t total = rows * width;
    std::ptrdiff_t written = 0;  // pixels [0, written) hold their final value
    for (const RunNode* run = runs; run != nullptr; run = run->next) {
        const std::ptrdiff_t start = run->row * width + run->scol;
        const std::ptrdiff_t end = run->row * width + run->ecol + 1;
        // Conversion to a narrower type keeps the label's low bits.
        const auto label = static_cast<T>(run->label);
#if defined(__SSE2__)
        // Near the end of the raster the plain fills below keep every store
        // inside it.
        if (start >= written && std::max(written + kShortGap<T>, end + kShortRun<T>) <= total) {
            paint_run(pixels + written, pixels + start, pixels + end, label);
            written = end;
            continue;
        }
#endif
        // A run out of raster order paints over what is there, as a later
        // run in the list does.
        if (start > written) std::fill(pixels + written, pixels + start, T{0});
        std::fill(pixels + start, pixels + end, label);
        written = std::max(written, end);
    }
    std::fill(pixels + written, pixels + total, T{0});
}

}  // namespace

// Both rasters' rows share one block, so each is one array of rows * cols.
int16_t** runs_to_label_image(const RunNode* runs, int rows, int cols) {
    int16_t** image = alloc_short_matrix(rows, cols);
    if (rows > 0 && cols > 0) paint_raster(runs, image[0], rows, cols);
    return image;
}

void paint_label_bytes(const RunNode* runs, uint8_t** pixels, int rows, int cols) {
    if (rows > 0 && cols > 0) paint_raster(runs, pixels[0], rows, cols);
}
