// Paints numbered runs into label rows of any width and layout. A row is
// written in one sweep, each pixel about once: the gap before a run gets
// zeros, the run its label. Where the image's own pixels are at hand, runs
// of one region that follow each other in a row are painted as one span from
// the pixels (foreground takes the label, background 0), which costs the
// same whether the span holds one run or a thousand.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "labeling/engine.h"
#include "labeling/simd.h"

namespace runlabel::engine {
namespace {

#if RUNLABEL_SSE2
// Pixels per store. Gaps and runs up to a few stores long are written without
// a loop, whose trip count would follow no pattern on textured images.
template <typename T>
constexpr std::ptrdiff_t kLanes = 16 / sizeof(T);
template <typename T>
constexpr std::ptrdiff_t kShortGap = 4 * kLanes<T>;
template <typename T>
constexpr std::ptrdiff_t kShortRun = 2 * kLanes<T>;

inline __m128i splat(uint8_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
inline __m128i splat(uint16_t v) { return _mm_set1_epi16(static_cast<int16_t>(v)); }
inline __m128i splat(uint32_t v) { return _mm_set1_epi32(static_cast<int32_t>(v)); }
inline __m128i splat(uint64_t v) { return _mm_set1_epi64x(static_cast<long long>(v)); }

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

// Zeros over [gap, start), the label over [start, end), and possibly anything
// over up to kShortGap pixels past them, which the next gap or run (or the
// row's end) writes again. Needs start >= gap.
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

// Zeros over [written, start) and the label over [start, end) of a row of
// cols pixels; written becomes end.
template <typename T>
inline void paint_one(T* out, [[maybe_unused]] int64_t cols, std::ptrdiff_t& written,
                      std::ptrdiff_t start, std::ptrdiff_t end, T label) {
#if RUNLABEL_SSE2
    // A gap and a run of a store each at most: one store each, the run's
    // after the gap's, which may reach into the run.
    if (start - written <= kLanes<T> && end - start <= kLanes<T> && start + kLanes<T> <= cols) {
        store(out + written, _mm_setzero_si128());
        store(out + start, splat(label));
        written = end;
        return;
    }
    // Near the row's end the plain fills below keep every store inside it.
    if (std::max(written + kShortGap<T>, end + kShortRun<T>) <= cols) {
        paint_run(out + written, out + start, out + end, label);
        written = end;
        return;
    }
#endif
    std::fill(out + written, out + start, T{0});
    std::fill(out + start, out + end, label);
    written = end;
}

template <typename T>
inline T label_value(uint32_t region, uint64_t base) {
    return region == 0 ? T{0} : static_cast<T>(base + region);
}

// One row of cols contiguous pixels.
template <typename T>
void paint_row(T* out, int64_t cols, const int32_t* bounds, const uint32_t* labels, uint32_t count,
               uint64_t base) {
    std::ptrdiff_t written = 0;  // pixels [0, written) hold their final value
    for (uint32_t i = 0; i < count; ++i) {
        paint_one(out, cols, written, bounds[2 * i], bounds[2 * i + 1],
                  label_value<T>(labels[i], base));
    }
    std::fill(out + written, out + cols, T{0});
}

// The label, or 0, of every pixel of [from, to) by its own pixel value.
template <typename T, typename Pixel>
void paint_span(T* out, const Pixel* px, int64_t from, int64_t to, T label) {
    for (int64_t c = from; c < to; ++c) out[c] = px[c] != 0 ? label : T{0};
}

template <typename T>
void paint_span_bits(T* out, const uint8_t* bits, int64_t from, int64_t to, T label) {
    for (int64_t c = from; c < to; ++c) out[c] = (bits[c >> 3] >> (7 - (c & 7))) & 1 ? label : T{0};
}

// Runs of one pixel each (a checkerboard's): a store each into a cleared row.
template <typename T>
void paint_single_pixels(T* out, int64_t cols, const int32_t* bounds, const uint32_t* labels,
                         uint32_t count, uint64_t base) {
    std::fill(out, out + cols, T{0});
    for (uint32_t i = 0; i < count; ++i) out[bounds[2 * i]] = label_value<T>(labels[i], base);
}

// One textured row of cols contiguous pixels (see is_textured). The row is
// cleared, then each run gets two stores of its label and two of zeros after
// its end, which clear what the label's stores wrote past it: no jump on a
// run's length or its gap, which on texture follow no pattern. Narrow labels
// go 8 bytes to a store: 16-byte stores a byte or two apart cost more than
// they write.
template <typename T>
void paint_textured_row(T* out, int64_t cols, const int32_t* bounds, const uint32_t* labels,
                        uint32_t count, uint64_t base) {
    std::fill(out, out + cols, T{0});
    uint32_t i = 0;
    if constexpr (sizeof(T) <= 2) {
        constexpr std::ptrdiff_t kWordLanes = 8 / sizeof(T);
        constexpr std::ptrdiff_t kSpan = 2 * kWordLanes;
        constexpr uint64_t kEvery = sizeof(T) == 1 ? 0x0101010101010101 : 0x0001000100010001;
        constexpr uint64_t kZero = 0;
        for (; i < count; ++i) {
            const std::ptrdiff_t start = bounds[2 * i];
            const std::ptrdiff_t end = bounds[2 * i + 1];
            if (end + kSpan > cols) break;  // the stores stay inside the row
            const T label = label_value<T>(labels[i], base);
            const uint64_t value = label * kEvery;
            std::memcpy(out + start, &value, 8);
            std::memcpy(out + start + kWordLanes, &value, 8);
            if (end - start > kSpan) std::fill(out + start + kSpan, out + end, label);
            std::memcpy(out + end, &kZero, 8);
            std::memcpy(out + end + kWordLanes, &kZero, 8);
        }
    } else {
#if RUNLABEL_SSE2
        constexpr std::ptrdiff_t kSpan = 2 * kLanes<T>;
        const __m128i zero = _mm_setzero_si128();
        for (; i < count; ++i) {
            const std::ptrdiff_t start = bounds[2 * i];
            const std::ptrdiff_t end = bounds[2 * i + 1];
            if (end + kSpan > cols) break;  // the stores stay inside the row
            const __m128i value = splat(label_value<T>(labels[i], base));
            store(out + start, value);
            store(out + start + kLanes<T>, value);
            if (end - start > kSpan) fill_over(out + start + kSpan, out + end, value);
            store(out + end, zero);
            store(out + end + kLanes<T>, zero);
        }
#endif
    }
    for (; i < count; ++i) {
        std::fill(out + bounds[2 * i], out + bounds[2 * i + 1], label_value<T>(labels[i], base));
    }
}

// One past the last of the runs from i on that share run i's region: in rows
// of one region (a spiral, a dense texture) four runs are looked at a time.
inline uint32_t end_of_span(const uint32_t* labels, uint32_t i, uint32_t count) {
    uint32_t j = i + 1;
#if RUNLABEL_SSE2
    const __m128i want = _mm_set1_epi32(static_cast<int32_t>(labels[i]));
    for (; j + 4 <= count; j += 4) {
        const auto same = static_cast<uint32_t>(_mm_movemask_epi8(
            _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(labels + j)), want)));
        if (same != 0xFFFF) return j + static_cast<uint32_t>(std::countr_one(same)) / 4;
    }
#endif
    while (j < count && labels[j] == labels[i]) ++j;
    return j;
}

// One row of cols contiguous pixels, with the image's row px at hand: runs of
// one region in a row become one span.
template <typename T, typename Pixel>
void paint_row_from(T* out, int64_t cols, const int32_t* bounds, const uint32_t* labels,
                    uint32_t count, uint64_t base, const Pixel* px) {
    std::ptrdiff_t written = 0;
    uint32_t i = 0;
    while (i < count) {
        const uint32_t j = end_of_span(labels, i, count);
        const T label = label_value<T>(labels[i], base);
        if (j - i == 1) {
            // A run alone: its bounds say all.
            paint_one(out, cols, written, bounds[2 * i], bounds[2 * i + 1], label);
        } else {
            std::fill(out + written, out + bounds[2 * i], T{0});
            paint_span(out, px, bounds[2 * i], bounds[2 * j - 1], label);
            written = bounds[2 * j - 1];
        }
        i = j;
    }
    std::fill(out + written, out + cols, T{0});
}

template <typename T>
void paint_row_from_bits(T* out, int64_t cols, const int32_t* bounds, const uint32_t* labels,
                         uint32_t count, uint64_t base, const uint8_t* bits) {
    int64_t written = 0;
    uint32_t i = 0;
    while (i < count) {
        const uint32_t j = end_of_span(labels, i, count);
        const T label = label_value<T>(labels[i], base);
        std::fill(out + written, out + bounds[2 * i], T{0});
        paint_span_bits(out, bits, bounds[2 * i], bounds[2 * j - 1], label);
        written = bounds[2 * j - 1];
        i = j;
    }
    std::fill(out + written, out + cols, T{0});
}

// Masks of 8 bytes for the labels of 8 / sizeof(T) pixels, by those pixels'
// bits (the first pixel in the least significant): all ones under a set bit.
template <typename T>
constexpr auto kWordMasks = [] {
    constexpr int kPixels = 8 / sizeof(T);
    struct Table {
        uint64_t mask[1 << kPixels];
    } table{};
    for (int bits = 0; bits < (1 << kPixels); ++bits) {
        for (int k = 0; k < kPixels; ++k) {
            if ((bits >> k) & 1) table.mask[bits] |= uint64_t(T(~T{0})) << (8 * sizeof(T) * k);
        }
    }
    return table;
}();

// The label, or 0, of every pixel of [from, to) by its bit in words (column c
// in bit c % 64 of words[c / 64]); 8 bytes of labels to a store.
template <typename T>
void paint_span_words(T* out, const uint64_t* words, int64_t from, int64_t to, T label) {
    constexpr int64_t kPixels = 8 / sizeof(T);
    auto bit = [words](int64_t c) { return (words[c >> 6] >> (c & 63)) & 1; };
    int64_t c = from;
    for (; c < to && c % kPixels != 0; ++c) out[c] = bit(c) ? label : T{0};
    uint64_t every = 0;  // the label in each lane
    for (int64_t k = 0; k < kPixels; ++k) every |= uint64_t(label) << (8 * sizeof(T) * k);
    for (; c + kPixels <= to; c += kPixels) {
        const auto chunk = (words[c >> 6] >> (c & 63)) & ((uint64_t{1} << kPixels) - 1);
        const uint64_t value = every & kWordMasks<T>.mask[chunk];
        std::memcpy(out + c, &value, 8);
    }
    for (; c < to; ++c) out[c] = bit(c) ? label : T{0};
}

// A row whose runs are all of one region, painted as one span from the
// image's pixels or, without them, from the row's own bits.
template <typename T>
void paint_one_region(T* out, const RowView& view, int64_t cols, int64_t row,
                      const SourceRows* source, T label, Buffer<int32_t>& scratch) {
    const uint64_t* words = view.bits();
    int64_t from, to;
    if (words != nullptr) {
        std::size_t w = 0;
        while (words[w] == 0) ++w;
        from = int64_t(w) * 64 + std::countr_zero(words[w]);
        w = foreground_words(cols) - 1;
        while (words[w] == 0) --w;
        to = int64_t(w) * 64 + 64 - std::countl_zero(words[w]);
    } else {
        const int32_t* bounds = view.bounds(scratch);
        from = bounds[0];
        to = bounds[2 * std::size_t(view.count()) - 1];
    }
    std::fill(out, out + from, T{0});
    if (source == nullptr) {
        paint_span_words(out, words, from, to, label);
    } else {
        const std::byte* px = source->data + row * source->row_stride;
        switch (source->kind) {
            case PixelKind::k8:
                paint_span(out, reinterpret_cast<const uint8_t*>(px), from, to, label);
                break;
            case PixelKind::k16:
                paint_span(out, reinterpret_cast<const uint16_t*>(px), from, to, label);
                break;
            case PixelKind::k32:
                paint_span(out, reinterpret_cast<const uint32_t*>(px), from, to, label);
                break;
            case PixelKind::k64:
                paint_span(out, reinterpret_cast<const uint64_t*>(px), from, to, label);
                break;
            case PixelKind::kBitMsb:
                paint_span_bits(out, reinterpret_cast<const uint8_t*>(px), from, to, label);
                break;
        }
    }
    std::fill(out + to, out + cols, T{0});
}

// One row whose pixels lie column_stride bytes apart.
template <typename T>
void paint_strided_row(std::byte* out, std::ptrdiff_t column_stride, int64_t cols,
                       const int32_t* bounds, const uint32_t* labels, uint32_t count,
                       uint64_t base) {
    auto at = [out, column_stride](int64_t c) {
        return reinterpret_cast<T*>(out + c * column_stride);
    };
    int64_t c = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const T label = label_value<T>(labels[i], base);
        for (; c < bounds[2 * i]; ++c) *at(c) = T{0};
        for (; c < bounds[2 * i + 1]; ++c) *at(c) = label;
    }
    for (; c < cols; ++c) *at(c) = T{0};
}

// The plain rule: zeros, then each run's label over its columns.
template <typename T>
void paint_plain_row(T* out, int64_t cols, const int32_t* bounds, const uint32_t* labels,
                     uint32_t count, uint64_t base) {
    std::fill(out, out + cols, T{0});
    for (uint32_t i = 0; i < count; ++i) {
        std::fill(out + bounds[2 * i], out + bounds[2 * i + 1], label_value<T>(labels[i], base));
    }
}

// Runs a row needs before painting it from its pixels pays.
constexpr uint32_t kRunsForPixels = 8;

// One row of the store into o, cols contiguous pixels. Its specialisations
// of the plain rule, each under the precondition named:
// - one region: runs all of one region (one_region, a shared label, or
//   labels found equal) with pixels at hand (the image's, or the row's bits)
//   are one span, foreground taking the label;
// - spans: runs of one region side by side, painted from the image's pixels;
// - single pixels (single_pixels), textured rows (is_textured): stores that
//   need no jump per run.
// Painting from pixels reads foreground as one class (binary images).
template <typename T>
void paint_packed_row(T* o, const RunStore& store, int64_t row, uint64_t base,
                      const SourceRows* source, Buffer<int32_t>& scratch,
                      Buffer<uint32_t>& spread) {
    const RowView view(store, row);
    const uint32_t count = view.count();
    const RowInfo& info = view.info();
    if (store.plain) {
        return paint_plain_row(o, store.cols, view.bounds(scratch), view.labels(spread), count,
                               base);
    }
    const uint32_t* l = store.labels.data() + view.first();
    // A row of one region (a spiral's, a dense texture's) is one span,
    // painted from pixels: the image's, or its own bits where it has them.
    // A row of a few runs is painted faster from its bounds than by reading
    // its pixels again.
    const bool from_pixels = source != nullptr && count >= kRunsForPixels;
    if (count >= 2 && (from_pixels || info.kept_as_bits) &&
        (info.one_region || info.shared_label ||
         (l[0] == l[count - 1] && end_of_span(l, 0, count) == count))) {
        paint_one_region(o, view, store.cols, row, source, label_value<T>(l[0], base), scratch);
        return;
    }
    l = view.labels(spread);
    const int32_t* b = view.bounds(scratch);
    // Spans from the pixels pay where runs of one region follow each other;
    // in a textured row (a spiral, a percolating texture) its first,
    // middle and last runs are taken as the sign of it.
    const bool textured = is_textured(count, store.cols);
    const bool spans = from_pixels && (!textured || (l[0] == l[count / 2] && l[0] == l[count - 1]));
    if (!spans) {
        if (info.single_pixels) {
            paint_single_pixels(o, store.cols, b, l, count, base);
        } else if (textured) {
            paint_textured_row(o, store.cols, b, l, count, base);
        } else {
            paint_row(o, store.cols, b, l, count, base);
        }
        return;
    }
    const std::byte* px = source->data + row * source->row_stride;
    switch (source->kind) {
        case PixelKind::k8:
            return paint_row_from(o, store.cols, b, l, count, base,
                                  reinterpret_cast<const uint8_t*>(px));
        case PixelKind::k16:
            return paint_row_from(o, store.cols, b, l, count, base,
                                  reinterpret_cast<const uint16_t*>(px));
        case PixelKind::k32:
            return paint_row_from(o, store.cols, b, l, count, base,
                                  reinterpret_cast<const uint32_t*>(px));
        case PixelKind::k64:
            return paint_row_from(o, store.cols, b, l, count, base,
                                  reinterpret_cast<const uint64_t*>(px));
        case PixelKind::kBitMsb:
            return paint_row_from_bits(o, store.cols, b, l, count, base,
                                       reinterpret_cast<const uint8_t*>(px));
    }
}

#if RUNLABEL_SSE2
// Copies a row painted aside to out with stores that bypass the caches, which
// would otherwise first read every line of it only to have it written over.
void stream_row(std::byte* out, const std::byte* from, std::size_t bytes) {
    const std::size_t head = std::min(bytes, (16 - reinterpret_cast<uintptr_t>(out) % 16) % 16);
    std::memcpy(out, from, head);
    std::size_t k = head;
    for (; k + 16 <= bytes; k += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
    }
    std::memcpy(out + k, from + k, bytes - k);
}
#endif

template <typename T>
void paint(const RunStore& store, int64_t first_row, int64_t rows, uint64_t base, std::byte* out,
           std::ptrdiff_t row_stride, std::ptrdiff_t column_stride, const SourceRows* source,
           bool stream) {
    Buffer<int32_t> scratch;  // the bounds of rows kept as bits
    Buffer<uint32_t> spread;  // the labels of rows that keep one for all
    if (column_stride != static_cast<std::ptrdiff_t>(sizeof(T))) {
        for (int64_t r = 0; r < rows; ++r) {
            const RowView view(store, first_row + r);
            paint_strided_row<T>(out + r * row_stride, column_stride, store.cols,
                                 view.bounds(scratch), view.labels(spread), view.count(), base);
        }
        return;
    }
    const auto row_bytes = static_cast<std::size_t>(store.cols) * sizeof(T);
#if RUNLABEL_SSE2
    // Rows of at most kRowAside bytes, painted aside a row at a time.
    constexpr std::size_t kRowAside = std::size_t(256) << 10;
    if (stream && row_bytes <= kRowAside) {
        Buffer<T> aside(static_cast<std::size_t>(store.cols));
        for (int64_t r = 0; r < rows; ++r) {
            // A row that repeats the one above is painted already.
            if (r == 0 || store.row_info[first_row + r].kind != RowKind::kRepeat) {
                paint_packed_row(aside.data(), store, first_row + r, base, source, scratch, spread);
            }
            stream_row(out + r * row_stride, reinterpret_cast<const std::byte*>(aside.data()),
                       row_bytes);
        }
        _mm_sfence();  // streamed stores are seen by other threads only after this
        return;
    }
#else
    (void)stream;
#endif
    for (int64_t r = 0; r < rows; ++r) {
        // A row that repeats the one above takes its labels.
        if (r > 0 && store.row_info[first_row + r].kind == RowKind::kRepeat) {
            std::memcpy(out + r * row_stride, out + (r - 1) * row_stride, row_bytes);
            continue;
        }
        paint_packed_row(reinterpret_cast<T*>(out + r * row_stride), store, first_row + r, base,
                         source, scratch, spread);
    }
}

}  // namespace

void paint_rows(const RunStore& store, int64_t first_row, int64_t rows, uint64_t base,
                LabelKind kind, void* out, std::ptrdiff_t row_stride, std::ptrdiff_t column_stride,
                const SourceRows* source, bool stream) {
    auto* bytes = static_cast<std::byte*>(out);
    switch (kind) {
        case LabelKind::k8:
            return paint<uint8_t>(store, first_row, rows, base, bytes, row_stride, column_stride,
                                  source, stream);
        case LabelKind::k16:
            return paint<uint16_t>(store, first_row, rows, base, bytes, row_stride, column_stride,
                                   source, stream);
        case LabelKind::k32:
            return paint<uint32_t>(store, first_row, rows, base, bytes, row_stride, column_stride,
                                   source, stream);
        case LabelKind::k64:
            return paint<uint64_t>(store, first_row, rows, base, bytes, row_stride, column_stride,
                                   source, stream);
    }
}

}  // namespace runlabel::engine
