// Internal to runlabel: the labeling engine behind the public API, the command
// line and the classic run-list functions. Runs live in a compact store, rows
// one after another; labeling is one top-down pass over the store that can
// follow the rows as they arrive, then a numbering of the regions.
//
// Nothing here is shared between values: a RunStore belongs to one
// labeling, so threads labeling different images never meet. Failures are
// exceptions (std::bad_alloc, std::length_error), never the end of the process.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "labeling/buffer.h"
#include "labeling/region_fields.h"

namespace runlabel::engine {

// How a row of pixels is stored. Samples are tested for zero only, so signed
// and unsigned pixels of a width are the same kind. kBitMsb: one bit per
// pixel, the first pixel in the most significant bit of the first byte.
enum class PixelKind : uint8_t { k8, k16, k32, k64, kBitMsb };

// The most runs one store holds: run indices and labels are 32 bits wide, and
// label 0 means none.
constexpr std::uint64_t kMaxRuns = UINT32_MAX - 1;

// A row's edges: where its runs start and where they end (one past their
// last column), as bits. Word w holds columns 64w - 1 .. 64w + 62, bit j
// column 64w + j - 1, so that column -1 (never an edge) and column cols (the
// end of a run that reaches the last column) have places; `before` counts the
// edges in the words before. The edges at or left of a column c number 2k + 1
// when c lies in the row's run k, and 2k when it lies in the gap before run k:
// so a run's first and last column (widened by the slack) say which runs of
// the row above it touches.
struct EdgeWord {
    std::uint64_t bits;
    std::uint64_t before;
};

// Words of one row's edge map.
inline std::size_t edge_words(std::int64_t cols) { return static_cast<std::size_t>(cols / 64 + 2); }

// Words of one row's foreground bits, 64 columns to a word, column 64w + j in
// bit j of word w.
inline std::size_t foreground_words(std::int64_t cols) {
    return static_cast<std::size_t>((cols + 63) / 64);
}

// What the labeling pass made of a row's runs, which the numbering reads to
// take whole groups of runs at once where it can.
enum class RowKind : std::uint8_t {
    kMixed,
    kNewTrees,        // every run a tree of its own
    kStretchesAlike,  // long stretches of runs hanging from one node each
    kRepeat,          // the row above again: each run hangs where its double does
};

// Runs [run, run + count) of a row hang where runs [above, above + count) of
// the row above do (store-wide indices): the labeling pass copied their
// parents, and their numbers are those runs' numbers again.
struct CopiedRuns {
    std::uint32_t run;
    std::uint32_t above;
    std::uint32_t count;
};

// What later passes know of a row without looking at its runs.
struct RowInfo {
    RowKind kind = RowKind::kMixed;
    bool single_pixels = false;  // every run one pixel long
    bool kept_as_bits = false;   // its runs are worked out from its pixels
    // Every run of the row is of one region, as the labeling pass found.
    bool uniform = false;
    // Numbered, such a row of several runs keeps its region's number in its
    // first run's entry of labels alone; the others are left unset.
    bool first_only = false;
    std::uint32_t bits_at = 0;  // which of the store's rows of bits
};

// The runs of consecutive image rows. Run i covers columns bounds[2i] to
// bounds[2i + 1] - 1 of its row; a row's runs are consecutive, left to right,
// and the runs of row r are row_start[r] .. row_start[r + 1] - 1.
//
// A dense row (see is_dense) is kept as its foreground bits instead, and its
// bounds are left unset (their pages never touched). row_bounds gives any
// row's bounds.
//
// While the rows are labelled, labels[i] is run i's parent in a union-find
// forest over the runs: every tree's root is its smallest run, so a parent is
// never after its child and the root of a region is its first run in raster
// order. Numbering then replaces each entry by the run's region number.
struct RunStore {
    Buffer<int32_t> bounds;
    Buffer<uint32_t> labels;
    Buffer<uint32_t> row_start{1};
    // Edge maps of the last two rows encoded, by the rows' parity, which the
    // labeling pass reads (see EdgeWord); given back by end_labeling.
    Buffer<EdgeWord> edge_maps;
    // The same rows' foreground bits (see foreground_words).
    Buffer<std::uint64_t> foreground;
    // One for each row, from the encoder; the labeling pass sets the kind.
    Buffer<RowInfo> row_info;
    // The labeling pass's copies, in order of run; given back by numbering.
    Buffer<CopiedRuns> copies;
    // The rows kept as bits, foreground_words(cols) words each.
    Buffer<std::uint64_t> bits;
    // The bounds of the newest row when it is kept as bits, worked out for the
    // labeling pass where it needs them; given back by end_labeling.
    Buffer<int32_t> newest;
    int64_t cols = 0;

    RunStore() { row_start[0] = 0; }
    explicit RunStore(int64_t columns) : cols(columns) { row_start[0] = 0; }

    std::uint64_t runs() const { return row_start[row_start.size() - 1]; }
    int64_t rows() const { return static_cast<int64_t>(row_start.size()) - 1; }
    std::uint32_t first_run(int64_t row) const { return row_start[row]; }
    std::uint32_t end_run(int64_t row) const { return row_start[row + 1]; }
};

// Whether a row of the store is textured: a run every 16 columns or fewer on
// average. Such rows are written and painted without a jump per run, whose
// direction would follow the picture.
inline bool is_textured(std::uint64_t runs, std::int64_t cols) {
    return std::int64_t{16} * static_cast<std::int64_t>(runs) >= cols;
}
inline bool is_textured(const RunStore& store, std::int64_t row) {
    return is_textured(store.end_run(row) - store.first_run(row), store.cols);
}

// Whether a row is dense: a run every 8 columns or fewer. Its bounds take
// more memory, and more time to write and read back, than working them out
// again from its pixels' bits a byte at a time.
inline bool is_dense(const RunStore& store, std::int64_t row) {
    return std::int64_t{8} * (store.end_run(row) - store.first_run(row)) >= store.cols;
}

// The bounds of a row kept as bits, worked out into scratch.
const int32_t* bounds_from_bits(const RunStore& store, int64_t row, Buffer<int32_t>& scratch);

// The bounds of a row's runs: the store's own, or, for a row kept as bits,
// worked out into scratch (which then holds them until its next use).
inline const int32_t* row_bounds(const RunStore& store, int64_t row, Buffer<int32_t>& scratch) {
    if (!store.row_info[row].kept_as_bits) {
        return store.bounds.data() + 2 * std::size_t(store.first_run(row));
    }
    return bounds_from_bits(store, row, scratch);
}

// The labels of a row's runs: the store's own, or, for a row that keeps its
// number in its first run's entry alone, that number spread into scratch.
inline const std::uint32_t* row_labels(const RunStore& store, int64_t row,
                                       Buffer<std::uint32_t>& scratch) {
    const std::uint32_t* labels = store.labels.data() + store.first_run(row);
    if (!store.row_info[row].first_only) return labels;
    const std::size_t count = store.end_run(row) - store.first_run(row);
    scratch.resize(count);
    std::fill(scratch.begin(), scratch.end(), labels[0]);
    return scratch.data();
}

// Appends one row of cols pixels (contiguous, of the given kind) to the
// store. Throws std::length_error("Too many runs in image") past kMaxRuns.
void encode_row(RunStore& store, const void* pixels, PixelKind kind);

// Appends one row given as runs: count pairs of (first column, one past the
// last), ordered and apart. For stores of runs whose columns no width bounds
// (cols 0): the labeling pass walks such rows, keeping no edge map.
void append_run_row(RunStore& store, const int32_t* bounds, std::uint32_t count);

// The top-down pass for the newest row of the store: each of its runs joins
// the trees of the runs above it that it touches (a shared column for
// connectivity 4, a corner too for 8), or starts a tree of its own.
void label_newest_row(RunStore& store, int connectivity);

// Gives back what the labeling pass keeps between rows, once no row is to be
// added to the store.
void end_labeling(RunStore& store);

// Regions numbered 1..count; how the final numbering is chosen.
struct NumberingOptions {
    std::uint64_t min_area = 0;  // smaller regions become background
    bool by_area = false;        // by decreasing area, ties in raster order
};

// Ends a labeling: every run's label becomes its region number (0 for a
// region dropped by min_area), regions in raster order of their first run
// unless by_area. Returns the region count.
std::uint64_t number_regions(RunStore& store, const NumberingOptions& options);

// A band of consecutive image rows labelled on its own, from image row
// first_row; an image may be labelled as several, each by its own thread.
struct Band {
    int64_t first_row = 0;
    RunStore store;
};

// Ends the labeling of an image made of bands, top to bottom and together
// covering its rows: runs that touch across the border between two bands
// join one region, then every run's label becomes its region number over the
// whole image, as number_regions does for one store. Returns the region
// count; throws std::length_error("Too many regions in image") when it would
// pass 32 bits.
// Bands are numbered by up to `threads` threads at once.
std::uint64_t number_bands(Band* bands, std::size_t count, int connectivity,
                           const NumberingOptions& options, int threads = 1);

// Adds the runs of rows [0, store.rows()) of a numbered store, whose first
// row in the image is row_offset, to per-region totals: regions[k - 1] for
// region k, each with the fields of RegionStatistics (region_fields.h).
//
// Regions numbered in raster order first appear in the order of their
// numbers: then a record is cleared and labelled (base + k) by its region's
// first run, and *seen (the regions met so far, over the stores summed in
// turn) says which are. Otherwise (seen null) every record is cleared and
// labelled beforehand.
template <typename Region>
void sum_regions(const RunStore& store, int64_t row_offset, Region* regions, std::uint64_t base,
                 std::uint64_t* seen = nullptr) {
    using Statistics = RegionStatistics;
    const std::uint32_t* labels = store.labels.data();
    Buffer<int32_t> scratch;  // the bounds of rows kept as bits
    Region spare{};           // the runs of dropped regions (label 0) land here
    // What a row's runs of one region side by side add up to, in registers
    // until the next run is another region's: a region of many runs in a row
    // is then updated once, and the test is a jump predicted well both on
    // texture (the region changes at every run) and on spirals (it rarely does).
    struct Part {
        std::uint32_t label;
        Statistics::Parts sums;
    };
    auto add = [&](const Part& p, int64_t y) {
        Region& g = p.label != 0 ? regions[p.label - 1] : spare;
        if (seen != nullptr && p.label > *seen) {
            *seen = p.label;
            g.label = base + p.label;
            Statistics::clear(g);
        }
        Statistics::add(g, p.sums, y);
    };
    for (int64_t r = 0; r < store.rows(); ++r) {
        const int64_t y = r + row_offset;
        const std::uint32_t end = store.end_run(r);
        const std::uint32_t first = store.first_run(r);
        std::uint32_t i = first;
        if (i == end) continue;
        const int32_t* bounds = row_bounds(store, r, scratch);
        // A row that keeps its number in its first entry is all of one region.
        const std::uint32_t step = store.row_info[r].first_only ? 0 : 1;
        Part part{labels[i], Statistics::start(static_cast<std::uint64_t>(bounds[0]))};
        for (; i < end; ++i) {
            const std::uint32_t label = labels[first + (i - first) * step];
            const auto from = static_cast<std::uint64_t>(bounds[2 * std::size_t(i - first)]);
            const auto to = static_cast<std::uint64_t>(bounds[2 * std::size_t(i - first) + 1]);
            if (label != part.label) {
                add(part, y);
                part = {label, Statistics::start(from)};
            }
            Statistics::add_run(part.sums, from, to);
        }
        add(part, y);
    }
}

// Label widths a painter writes.
enum class LabelKind : uint8_t { k8, k16, k32, k64 };

// The labelled image's own rows, packed pixels of a kind, row r at
// data + r * row_stride (bytes): where they are at hand, painting reads them
// instead of each run's bounds for runs of one region in a row.
struct SourceRows {
    const std::byte* data;
    std::ptrdiff_t row_stride;
    PixelKind kind;
};

// Paints rows [first_row, first_row + rows) of a numbered store into out: row
// r at out + (r - first_row) * row_stride, pixel c at + c * column_stride
// (bytes). A region numbered k is written as base + k, reduced to the label
// width (the caller has checked that it fits, or asked for the low bits);
// background is 0. source, when given, is the image the store was made of.
// stream: the label image is larger than the caches hold, and its rows are
// written past them (a reader soon after finds them in memory, not cache).
void paint_rows(const RunStore& store, int64_t first_row, int64_t rows, std::uint64_t base,
                LabelKind kind, void* out, std::ptrdiff_t row_stride, std::ptrdiff_t column_stride,
                const SourceRows* source = nullptr, bool stream = false);

}  // namespace runlabel::engine
