// Run-length encoding of one row into the run store. The row is looked at 64
// pixels at a time: a bit mask of its foreground pixels, whose edges are the
// run boundaries, which go straight into the store's bounds.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "labeling/engine.h"
#include "labeling/simd.h"

namespace runlabel::engine {
namespace {

constexpr int kWord = 64;

// Bit i is set when pixel i (i < n, n <= 64) is not zero.
template <typename Pixel>
[[gnu::always_inline]] inline uint64_t foreground_bits(const Pixel* px, int n) {
    uint64_t bits = 0;
    int i = 0;
#if RUNLABEL_SSE2
    if constexpr (sizeof(Pixel) == 1) {
        // A whole word of bytes in straight-line code; background, the most
        // of most images, is told by one compare.
        if (n == 64) {
            const auto* at = reinterpret_cast<const __m128i*>(px);
            const __m128i zero = _mm_setzero_si128();
            const __m128i a = _mm_loadu_si128(at), b = _mm_loadu_si128(at + 1);
            const __m128i c = _mm_loadu_si128(at + 2), d = _mm_loadu_si128(at + 3);
            const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) == 0xFFFF) return 0;
            auto background = [&zero](__m128i v) {
                return static_cast<uint64_t>(
                    static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))));
            };
            return ~(background(a) | background(b) << 16 | background(c) << 32 |
                     background(d) << 48);
        }
    }
    if constexpr (sizeof(Pixel) <= 4) {
        const __m128i zero = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            const auto* at = reinterpret_cast<const __m128i*>(px + i);
            __m128i background;
            if constexpr (sizeof(Pixel) == 1) {
                background = _mm_cmpeq_epi8(_mm_loadu_si128(at), zero);
            } else if constexpr (sizeof(Pixel) == 2) {
                // Packing the comparisons to bytes gives one bit per pixel.
                background = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_loadu_si128(at), zero),
                                             _mm_cmpeq_epi16(_mm_loadu_si128(at + 1), zero));
            } else {
                const __m128i low = _mm_packs_epi32(_mm_cmpeq_epi32(_mm_loadu_si128(at), zero),
                                                    _mm_cmpeq_epi32(_mm_loadu_si128(at + 1), zero));
                const __m128i high =
                    _mm_packs_epi32(_mm_cmpeq_epi32(_mm_loadu_si128(at + 2), zero),
                                    _mm_cmpeq_epi32(_mm_loadu_si128(at + 3), zero));
                background = _mm_packs_epi16(low, high);
            }
            const auto set = static_cast<uint32_t>(_mm_movemask_epi8(background)) ^ 0xFFFFu;
            bits |= static_cast<uint64_t>(set) << i;
        }
    }
#endif
    for (; i < n; ++i) bits |= static_cast<uint64_t>(px[i] != 0) << i;
    return bits;
}

// Bytes with their bit order reversed: packed rows put the first pixel in the
// most significant bit, the masks here in the least.
constexpr auto kReversed = [] {
    struct Table {
        uint8_t value[256];
    } table{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int k = 0; k < 8; ++k) r |= ((b >> k) & 1) << (7 - k);
        table.value[b] = static_cast<uint8_t>(r);
    }
    return table;
}();

[[gnu::always_inline]] inline uint64_t packed_bits(const uint8_t* bytes, int n) {
    uint64_t bits = 0;
    const int whole = (n + 7) / 8;
    for (int k = 0; k < whole; ++k)
        bits |= static_cast<uint64_t>(kReversed.value[bytes[k]]) << (8 * k);
    // Padding bits past the row's last pixel are not pixels.
    return n == kWord ? bits : bits & ((uint64_t(1) << n) - 1);
}

// Columns of the set bits of every byte, in order, as 32-bit offsets (the
// rest 0), and how many there are: a byte of edges is written with two stores
// and counted, with no loop whose trip count follows the picture.
struct BytePositions {
    alignas(16) int32_t at[256][8];
    uint8_t count[256];
};

constexpr BytePositions kBytePositions = [] {
    BytePositions table{};
    for (int b = 0; b < 256; ++b) {
        int n = 0;
        for (int k = 0; k < 8; ++k) {
            if ((b >> k) & 1) table.at[b][n++] = k;
        }
        table.count[b] = static_cast<uint8_t>(n);
    }
    return table;
}();

// Writes the columns of a word's edges from column c at bounds + filled;
// returns the new count. May write up to 8 values past it.
[[gnu::always_inline]] inline std::size_t write_edges_by_bytes(int32_t* bounds, std::size_t filled,
                                                               int64_t c, uint64_t edges) {
    for (int k = 0; k < kWord; k += 8, edges >>= 8) {
        const auto byte = static_cast<uint8_t>(edges);
        const int32_t* at = kBytePositions.at[byte];
        const auto from = static_cast<int32_t>(c + k);
#if RUNLABEL_SSE2
        const __m128i base = _mm_set1_epi32(from);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bounds + filled),
                         _mm_add_epi32(base, _mm_load_si128(reinterpret_cast<const __m128i*>(at))));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(bounds + filled + 4),
            _mm_add_epi32(base, _mm_load_si128(reinterpret_cast<const __m128i*>(at + 4))));
#else
        for (int j = 0; j < 8; ++j) bounds[filled + j] = from + at[j];
#endif
        filled += kBytePositions.count[byte];
    }
    return filled;
}

// Writes the columns of a word's edges one at a time, four to a round: the
// count per word follows no pattern, so fewer rounds mean fewer jumps to
// mispredict. May write up to 4 values past the new count.
[[gnu::always_inline]] inline std::size_t write_edges_by_bits(int32_t* bounds, std::size_t filled,
                                                              int64_t c, uint64_t edges) {
    while (edges != 0) {
        for (int k = 0; k < 4; ++k) {
            bounds[filled] = static_cast<int32_t>(c + (std::countr_zero(edges) & (kWord - 1)));
            filled += static_cast<std::size_t>(edges != 0);
            edges &= edges - 1;
        }
    }
    return filled;
}

// Writes the bounds of the runs of a row of foreground words at bounds (room
// for cols + 9 values); returns how many values that is (twice the runs).
// Without bounds, only counts them. When map is given, the row's edge map
// goes there too. textured: a byte at a time (see write_edges_by_bytes).
[[gnu::always_inline]] inline std::size_t extract_bounds(const uint64_t* fg_words, int64_t cols,
                                                         int32_t* bounds, EdgeWord* map,
                                                         bool textured) {
    const std::size_t fg_count = foreground_words(cols);
    std::size_t filled = 0;
    uint64_t before = 0;   // 1 when the pixel left of the word is foreground
    uint64_t carried = 0;  // the last word's edge at its last column
    for (std::size_t w = 0; w < fg_count; ++w) {
        const int64_t c = int64_t(w) * kWord;
        const uint64_t fg = fg_words[w];
        // A set bit is a column where foreground starts or stops; starts and
        // stops alternate along the row. Past a short last word every pixel
        // reads as background, which closes a run at cols.
        const uint64_t edges = fg ^ (fg << 1 | before);
        before = fg >> (kWord - 1);
        if (map != nullptr) *map++ = {edges << 1 | carried, filled - carried};
        carried = edges >> (kWord - 1);
        if (bounds == nullptr) {
            filled += static_cast<std::size_t>(std::popcount(edges));
        } else {
            filled = textured ? write_edges_by_bytes(bounds, filled, c, edges)
                              : write_edges_by_bits(bounds, filled, c, edges);
        }
    }
    const std::size_t inside = filled;
    if (filled % 2 != 0) {  // ends in foreground
        if (bounds != nullptr) bounds[filled] = static_cast<int32_t>(cols);
        ++filled;
    }
    if (map != nullptr) {
        // The end of a run at cols, where no word held it (cols a multiple of 64).
        *map++ = {carried | uint64_t{filled != inside} << 1, inside - carried};
        if (cols % kWord == 0) *map = {0, filled};  // a word to spare: cols / 64 + 2 in all
    }
    return filled;
}

// Appends the row's foreground words to the store's rows of bits; returns
// which row of bits it is.
uint32_t keep_bits(RunStore& store, const uint64_t* fg_words, std::size_t fg_count) {
    const std::size_t at = store.bits.size();
    store.bits.resize(at + fg_count);
    std::memcpy(store.bits.data() + at, fg_words, fg_count * sizeof(uint64_t));
    return static_cast<uint32_t>(at / fg_count);
}

// Encodes one row whose foreground mask of 64 pixels from column c is
// word(c, n). A row of cols pixels holds at most (cols + 1) / 2 runs. The
// row's edge map and foreground words go into the store's slots for its
// parity.
template <typename Word>
[[gnu::always_inline]] inline void encode_words(RunStore& store, Word word) {
    const int64_t cols = store.cols;
    const uint64_t first = store.runs();
    const uint64_t most = first + (static_cast<uint64_t>(cols) + 1) / 2;
    if (most > kMaxRuns) throw std::length_error("Too many runs in image");
    const std::size_t words = edge_words(cols);
    store.edge_maps.resize(2 * words);
    const std::size_t fg_count = foreground_words(cols);
    store.foreground.resize(2 * fg_count);
    const std::size_t parity = static_cast<std::size_t>(store.rows() & 1);
    EdgeWord* map = store.edge_maps.data() + parity * words;
    uint64_t* fg_words = store.foreground.data() + parity * fg_count;
    // Without a row above, the row is compared with itself (it then differs by
    // the count's start).
    const uint64_t* above_fg =
        store.rows() > 0 ? store.foreground.data() + (parity ^ 1) * fg_count : fg_words;
    // In the same sweep: whether the row differs from the one above, and
    // whether any two foreground pixels lie side by side (runs longer than a
    // pixel); across a word's end that is its last bit and the next's first.
    uint64_t differs = store.rows() > 0 ? 0 : 1;
    uint64_t pairs = 0;
    uint64_t last = 0;  // the word before's last pixel, as bit 0
    for (std::size_t w = 0; w < fg_count; ++w) {
        const int64_t c = int64_t(w) * kWord;
        const uint64_t fg = word(c, static_cast<int>(std::min<int64_t>(kWord, cols - c)));
        fg_words[w] = fg;
        differs |= fg ^ above_fg[w];
        pairs |= (fg & (fg << 1 | last));
        last = fg >> 63;
    }
    auto add_row = [&store, first](uint64_t count, RowInfo info) {
        store.bounds.resize(2 * (first + count));  // a row kept as bits leaves its bounds unset
        store.labels.resize(first + count);
        store.row_start.push_back(static_cast<uint32_t>(first + count));
        store.row_info.push_back(info);
    };
    if (differs == 0 && !store.plain) {
        // The row repeats the one above (blocky texture does, row after row):
        // so do its runs and its map.
        const std::size_t above = parity ^ 1;
        const RowInfo above_info = store.row_info[store.rows() - 1];
        const uint32_t above_first = store.first_run(store.rows() - 1);
        const uint64_t count = first - above_first;
        std::memcpy(map, store.edge_maps.data() + above * words, words * sizeof(EdgeWord));
        RowInfo info{.single_pixels = above_info.single_pixels,
                     .kept_as_bits = above_info.kept_as_bits};
        if (info.kept_as_bits) {
            info.bits_at = keep_bits(store, fg_words, fg_count);
        } else {
            store.bounds.reserve(2 * (first + count));
            std::memcpy(store.bounds.data() + 2 * first,
                        store.bounds.data() + 2 * std::size_t(above_first),
                        2 * count * sizeof(int32_t));
        }
        add_row(count, info);
        return;
    }
    // After a row of many runs, the next is likely textured too: its edges are
    // written a byte at a time, where one at a time would mispredict a jump
    // about once a word. After a dense row it is kept as bits, its runs only
    // counted: the labeling pass works out their bounds where it needs them.
    const bool known = store.rows() > 0 && !store.plain;
    const bool textured = known && is_textured(store, store.rows() - 1);
    const bool as_bits = known && is_dense(store, store.rows() - 1);
    int32_t* bounds = nullptr;
    if (!as_bits) {
        store.bounds.reserve(2 * most + 8);  // room for the writes past the last edge
        bounds = store.bounds.data() + 2 * first;
    }
    const std::size_t filled = extract_bounds(fg_words, cols, bounds, map, textured);
    RowInfo info{.single_pixels = !store.plain && pairs == 0, .kept_as_bits = as_bits};
    if (as_bits) info.bits_at = keep_bits(store, fg_words, fg_count);
    add_row(filled / 2, info);
}

template <typename Pixel>
[[gnu::always_inline]] inline void encode_pixels(RunStore& store, const Pixel* px) {
    encode_words(store, [px](int64_t c, int n) { return foreground_bits(px + c, n); });
}

[[gnu::always_inline]] inline void encode_any(RunStore& store, const void* pixels, PixelKind kind) {
    switch (kind) {
        case PixelKind::k8:
            return encode_pixels(store, static_cast<const uint8_t*>(pixels));
        case PixelKind::k16:
            return encode_pixels(store, static_cast<const uint16_t*>(pixels));
        case PixelKind::k32:
            return encode_pixels(store, static_cast<const uint32_t*>(pixels));
        case PixelKind::k64:
            return encode_pixels(store, static_cast<const uint64_t*>(pixels));
        case PixelKind::kBitMsb: {
            const auto* bytes = static_cast<const uint8_t*>(pixels);
            return encode_words(
                store, [bytes](int64_t c, int n) { return packed_bits(bytes + c / 8, n); });
        }
    }
}

// Edge maps count edges a word at a time: as the labeling pass, the encoder
// is built twice, once for processors that count bits in one instruction.
#if RUNLABEL_POPCNT_DISPATCH
[[gnu::target("popcnt")]] void encode_row_popcnt(RunStore& store, const void* pixels,
                                                 PixelKind kind) {
    encode_any(store, pixels, kind);
}
#endif

}  // namespace

void encode_row(RunStore& store, const void* pixels, PixelKind kind) {
#if RUNLABEL_POPCNT_DISPATCH
    static const bool popcnt = __builtin_cpu_supports("popcnt");
    if (popcnt) return encode_row_popcnt(store, pixels, kind);
#endif
    encode_any(store, pixels, kind);
}

const int32_t* bounds_from_bits(const RunStore& store, int64_t row, Buffer<int32_t>& scratch) {
    const RowInfo& info = store.row_info[row];
    scratch.resize(static_cast<std::size_t>(store.cols) + 9);
    const std::size_t fg_count = foreground_words(store.cols);
    extract_bounds(store.bits.data() + std::size_t(info.bits_at) * fg_count, store.cols,
                   scratch.data(), nullptr, true);
    return scratch.data();
}

void append_run_row(RunStore& store, const int32_t* bounds, uint32_t count) {
    assert(store.cols == 0);
    const uint64_t first = store.runs();
    if (first + count > kMaxRuns) throw std::length_error("Too many runs in image");
    const uint64_t runs = first + count;
    store.bounds.resize(2 * runs);
    if (count > 0)
        std::memcpy(store.bounds.data() + 2 * first, bounds, 2 * count * sizeof(int32_t));
    store.labels.resize(runs);
    store.row_start.push_back(static_cast<uint32_t>(runs));
    store.row_info.push_back({});
}

}  // namespace runlabel::engine
