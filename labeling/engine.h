// Internal to runlabel: the labeling engine behind the public API, the command
// line and the classic run-list functions. Runs live in a compact store, rows
// one after another; labeling is one top-down pass over the store that can
// follow the rows as they arrive, then a numbering of the regions.
//
// Nothing here is shared between values: a RunStore and its Classes belong to
// one labeling, so threads labeling different images never meet. Failures are
// exceptions (std::bad_alloc, std::length_error), never the end of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "labeling/buffer.h"

namespace runlabel::engine {

// How a row of pixels is stored. Samples are tested for zero only, so signed
// and unsigned pixels of a width are the same kind. kBitMsb: one bit per
// pixel, the first pixel in the most significant bit of the first byte.
enum class PixelKind : uint8_t { k8, k16, k32, k64, kBitMsb };

// The most runs one store holds: run indices and labels are 32 bits wide, and
// label 0 means none.
constexpr std::uint64_t kMaxRuns = UINT32_MAX - 1;

// The runs of consecutive image rows. Run i covers columns bounds[2i] to
// bounds[2i + 1] - 1 of its row; a row's runs are consecutive, left to right,
// and the runs of row r are row_start[r] .. row_start[r + 1] - 1.
struct RunStore {
    // Past the last run, eight zeroed ints may be read: the labeling pass
    // looks at the row above four runs at a time.
    Buffer<int32_t, 8> bounds;
    Buffer<uint32_t> labels;  // per run: provisional, then region numbers
    Buffer<uint32_t> row_start{1};
    int64_t cols = 0;

    RunStore() { row_start[0] = 0; }
    explicit RunStore(int64_t columns) : cols(columns) { row_start[0] = 0; }

    std::uint64_t runs() const { return row_start[row_start.size() - 1]; }
    int64_t rows() const { return static_cast<int64_t>(row_start.size()) - 1; }
    std::uint32_t first_run(int64_t row) const { return row_start[row]; }
    std::uint32_t end_run(int64_t row) const { return row_start[row + 1]; }
};

// Appends one row of cols pixels (contiguous, of the given kind) to the
// store. Throws std::length_error("Too many runs in image") past kMaxRuns.
void encode_row(RunStore& store, const void* pixels, PixelKind kind);

// Appends one row given as runs: count pairs of (first column, one past the
// last), ordered and apart, as encode_row would make them.
void append_run_row(RunStore& store, const int32_t* bounds, std::uint32_t count);

// Equivalences between provisional labels: a union-find forest in which every
// class's root is its smallest label, so a parent is always smaller than its
// child and one forward sweep resolves every label. Labels are 1.. in the
// order they are handed out.
class Classes {
  public:
    Classes() { parent_.resize(1); }

    std::uint32_t labels() const { return next_ - 1; }

    // Room for n more labels, so that take() needs no check.
    void reserve(std::uint32_t n) {
        if (std::uint64_t(next_) + n > kMaxRuns + 1)
            throw std::length_error("Too many runs in image");
        if (parent_.size() < std::size_t(next_) + n) parent_.resize(std::size_t(next_) + n);
    }

    // A new label when fresh, otherwise inherited; chosen without a jump, as
    // on textured images the choice follows no pattern.
    std::uint32_t take(bool fresh, std::uint32_t inherited) {
        parent_[next_] = next_;
        const std::uint32_t mask = 0u - static_cast<std::uint32_t>(fresh);
        const std::uint32_t label = (next_ & mask) | (inherited & ~mask);
        next_ += static_cast<std::uint32_t>(fresh);
        return label;
    }

    std::uint32_t root(std::uint32_t x) {
        std::uint32_t* parent = parent_.data();
        while (parent[x] != x) {
            parent[x] = parent[parent[x]];  // path halving
            x = parent[x];
        }
        return x;
    }

    void unite(std::uint32_t a, std::uint32_t b) {
        a = root(a);
        b = root(b);
        if (a < b) {
            parent_[b] = a;
        } else if (b < a) {
            parent_[a] = b;
        }
    }

    // Replaces each label's parent by its region number, 1.. in order of each
    // class's smallest label, and returns the count. The forest is gone then.
    std::uint32_t number_classes();

    // After number_classes: the region number of label x.
    const std::uint32_t* regions() const { return parent_.data(); }

  private:
    Buffer<std::uint32_t> parent_;
    std::uint32_t next_ = 1;
};

// The top-down pass for the newest row of the store: each of its runs takes
// the label of the first run above it touches, or a new label, and the classes
// of the other runs it touches are united. Connectivity is 4 or 8.
void label_newest_row(RunStore& store, Classes& classes, int connectivity);

// Regions numbered 1..count; how the final numbering is chosen.
struct NumberingOptions {
    std::uint64_t min_area = 0;  // smaller regions become background
    bool by_area = false;        // by decreasing area, ties in raster order
};

// Ends a labeling: every run's label becomes its region number (0 for a
// region dropped by min_area), regions in raster order of their first run
// unless by_area. Returns the region count.
std::uint64_t number_regions(RunStore& store, Classes& classes, const NumberingOptions& options);

// Per-region sums over the runs, indexed by region number - 1.
struct RegionSums {
    Buffer<std::uint64_t> area;
    Buffer<std::uint64_t> sum_x;
    Buffer<std::uint64_t> sum_y;
    Buffer<int32_t> left, right;  // columns, inclusive
    Buffer<int64_t> top, bottom;  // rows, inclusive
};

// Sums the numbered runs of rows [0, store.rows()) whose first row in the image
// is row_offset, for count regions.
void sum_regions(const RunStore& store, std::uint64_t count, int64_t row_offset, RegionSums& sums);

// Label widths a painter writes.
enum class LabelKind : uint8_t { k8, k16, k32, k64 };

// Paints rows [first_row, first_row + rows) of a numbered store into out: row
// r at out + (r - first_row) * row_stride, pixel c at + c * column_stride
// (bytes). A region numbered k is written as base + k, reduced to the label
// width (the caller has checked that it fits, or asked for the low bits);
// background is 0.
void paint_rows(const RunStore& store, int64_t first_row, int64_t rows, std::uint64_t base,
                LabelKind kind, void* out, std::ptrdiff_t row_stride, std::ptrdiff_t column_stride);

}  // namespace runlabel::engine
