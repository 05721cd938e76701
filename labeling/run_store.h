// Internal to the labeling engine: the run store, the record of what each
// pass knows of a row, and RowView, the one reader of how a row is held.
//
// A labeling goes through four passes, each a row at a time except the
// numbering:
//
//   encode   pixels -> runs: each maximal stretch of foreground in a row is
//            a run [from, to); its bounds go to the store (or, for a dense
//            row, its foreground bits), and the row's edge map to a slot
//            the labeling pass reads next.
//   label    each run joins the union-find trees of the runs of the row
//            above it touches (see contact.h) or starts a tree of its own.
//            A tree's root is its smallest run: a region's first run.
//   number   roots become regions 1, 2, ... in raster order; every other
//            run takes its root's number (a band's border joins first).
//   paint    the numbered runs are written into label rows; statistics and
//            runs() read the same numbered store.
//
//   row  pixels    runs                parents, labelling    numbers
//   0    .##..#.   r0 [1,3)  r1 [5,6)  r0: r0   r1: r1       1  2
//   1    .####..   r2 [1,5)            r2: r0                1
//   2    ...#.##   r3 [3,4)  r4 [5,7)  r3: r2   r4: r4       1  3
//
// (4-connected: r4 meets r2 only at a corner. Trees only ever link a run
// under an earlier one, so a parent is numbered before its children.)
//
// What each pass learns of a row and leaves for the later ones is a fact of
// its RowInfo (or the store's list of copies). Who sets a fact, who reads
// it, what it guarantees, and the test that pins it (besides
// PlainMode.EveryBenchmarkFamilyLabelsAsThePlainRule, which holds the fast
// store to the plain one on images that set every fact):
//
// fact            set by      read by           guarantees                               test
// kept_as_bits    encode      RowView, label,   the row's bounds are unset; its          P
//  + bits_at                  paint             foreground words are bits[bits_at]
// single_pixels   encode      paint             every run is one pixel long              P
// kNewTrees       label       number            no run touches the row above: each run   N
//  (kind)                                       is a root
// kStretchesAlike label       number            runs mostly hang, in stretches, from     S
//  (kind)                                       one node each (8-connected)
// kRepeat (kind)  label       number, paint     the row's runs are the row above's and   R
//                                               hang where those do
// copies          label       number (gives     runs [run, run + count) hang where runs  R
//                             them back)        [above, above + count) do
// one_region      label       label (next row), every run of the row is of one region    S
//                             number, paint
// shared_label    label,      RowView, label,   the row's runs share their first run's   S
//                 number      number, paint     label entry: what it holds (a parent
//                                               while labelling, the number once
//                                               numbered) holds for each; the other
//                                               entries are unset. end_labeling clears
//                                               it on the last row, which the band
//                                               join reads.
//
// Tests: P PaintRows.*; N LabelPass.RowsTouchingNothingAbove; S LabelPass.Sparse-
// RowsUnderTextureOfOneRegion; R LabelPass.RowsRepeatingTheRowAboveInStretches.
//
// A plain store (RunStore::plain) sets none of these facts: its rows are
// bounds, labelled by walking the row above, numbered and painted run by
// run. Every fast path is a specialisation of that plain rule under the
// precondition its fact states; the tests hold every one to it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "labeling/buffer.h"

namespace runlabel::engine {

// The most runs one store holds: run indices and labels are 32 bits wide, and
// label 0 means none.
constexpr std::uint64_t kMaxRuns = UINT32_MAX - 1;

// A row's edges: where its runs start and where they end (one past their
// last column), as bits. Word w holds columns 64w - 1 .. 64w + 62, bit j
// column 64w + j - 1, so that column -1 (never an edge) and column cols (the
// end of a run that reaches the last column) have places; `before` counts the
// edges in the words before. The edges at or left of a column c number 2k + 1
// when c lies in the row's run k, and 2k when it lies in the gap before run k:
// so the columns a run reaches (see contact.h) say which runs of the row
// above it touches.
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

// How the labeling pass took a row (see the table above).
enum class RowKind : std::uint8_t {
    kMixed,
    kNewTrees,
    kStretchesAlike,
    kRepeat,
};

// Runs [run, run + count) of a row hang where runs [above, above + count) of
// the row above do (store-wide indices): the labeling pass copied their
// parents, and their numbers are those runs' numbers again.
struct CopiedRuns {
    std::uint32_t run;
    std::uint32_t above;
    std::uint32_t count;
};

// What the passes know of a row without looking at its runs (see the table
// above). All false, kMixed: nothing known, the plain rule applies.
struct RowInfo {
    RowKind kind = RowKind::kMixed;
    bool single_pixels = false;
    bool kept_as_bits = false;
    bool one_region = false;
    bool shared_label = false;
    std::uint32_t bits_at = 0;
};

// The runs of consecutive image rows. Run i covers columns bounds[2i] to
// bounds[2i + 1] - 1 of its row; a row's runs are consecutive, left to right,
// and the runs of row r are row_start[r] .. row_start[r + 1] - 1. How a row
// holds its runs and labels is read through RowView.
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
    // Every fast path off: the plain rule, which tests hold the fast paths
    // to. Set before the first row is encoded.
    bool plain = false;

    RunStore() { row_start[0] = 0; }
    explicit RunStore(int64_t columns, bool plain_rule = false) : cols(columns), plain(plain_rule) {
        row_start[0] = 0;
    }

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

// The bounds of a row kept as bits, worked out into scratch (cols + 9
// values, the bounds first).
const int32_t* bounds_from_bits(const RunStore& store, int64_t row, Buffer<int32_t>& scratch);

// One row of a store as its readers see it: runs 0 .. count() - 1, each with
// its bounds and its label entry, however the row holds them. Valid while
// the store is not changed.
class RowView {
  public:
    RowView(const RunStore& store, int64_t row)
        : store_(&store),
          info_(&store.row_info[row]),
          row_(row),
          first_(store.first_run(row)),
          count_(store.end_run(row) - first_),
          step_(info_->shared_label ? 0 : 1) {}

    const RowInfo& info() const { return *info_; }
    // The row's first run, as an index into the store.
    std::uint32_t first() const { return first_; }
    std::uint32_t count() const { return count_; }
    bool empty() const { return count_ == 0; }

    // Run k's label entry: the parent of its tree while the store is
    // labelled, its region number (0: none) once numbered.
    std::uint32_t label(std::uint32_t k) const { return store_->labels[first_ + k * step_]; }

    // Every run's label entry, one per run: the store's own, or the row's
    // shared one spread into scratch.
    const std::uint32_t* labels(Buffer<std::uint32_t>& scratch) const {
        const std::uint32_t* own = store_->labels.data() + first_;
        if (step_ != 0) return own;
        scratch.resize(count_);
        std::fill(scratch.begin(), scratch.end(), own[0]);
        return scratch.data();
    }

    // Run k covers columns [b[2k], b[2k + 1]) of the bounds: the store's
    // own, or, for a row kept as bits, worked out into scratch (which then
    // holds them until its next use).
    const int32_t* bounds(Buffer<int32_t>& scratch) const {
        if (!info_->kept_as_bits) return store_->bounds.data() + 2 * std::size_t(first_);
        return bounds_from_bits(*store_, row_, scratch);
    }

    // The row's foreground bits (foreground_words(cols) words) when it is
    // kept as bits, else nullptr.
    const std::uint64_t* bits() const {
        if (!info_->kept_as_bits) return nullptr;
        return store_->bits.data() + std::size_t(info_->bits_at) * foreground_words(store_->cols);
    }

    // f(from, to, label) for each run in order, with scratch as for bounds().
    template <typename F>
    void for_each_run(Buffer<int32_t>& scratch, F&& f) const {
        if (count_ == 0) return;
        const int32_t* b = bounds(scratch);
        for (std::uint32_t k = 0; k < count_; ++k) f(b[2 * k], b[2 * k + 1], label(k));
    }

  private:
    const RunStore* store_;
    const RowInfo* info_;
    int64_t row_;
    std::uint32_t first_;
    std::uint32_t count_;
    std::uint32_t step_;  // 0 when the runs share their first run's entry
};

// The entries that hold a row's labels, which numbering rewrites: one per
// run, or the first run's alone for a row whose runs share it.
inline std::span<std::uint32_t> label_entries(RunStore& store, int64_t row) {
    const std::uint32_t first = store.first_run(row);
    const std::uint32_t count = store.end_run(row) - first;
    return {store.labels.data() + first,
            store.row_info[row].shared_label ? std::min(count, 1u) : count};
}

}  // namespace runlabel::engine
