// Internal to runlabel: the labeling engine behind the public API, the command
// line and the classic run-list functions. Runs live in a compact store, rows
// one after another (run_store.h walks through the passes and what each
// leaves for the next); labeling is one top-down pass over the store that can
// follow the rows as they arrive, then a numbering of the regions.
//
// Nothing here is shared between values: a RunStore belongs to one
// labeling, so threads labeling different images never meet. Failures are
// exceptions (std::bad_alloc, std::length_error), never the end of the process.
//
// The fast paths, each a specialisation of the plain rule (RunStore::plain)
// under its precondition. "binary": it reads foreground as one class (pixels
// not zero); "2-D": it takes the row above as a row's only earlier neighbour.
//
// pass    fast path           precondition                                   binary 2-D
// encode  repeated row        foreground words equal the row above's          yes    yes
//         rows as bits        the row above is dense (is_dense)               yes
//         edges by bytes      the row above is textured (is_textured)
//         single pixels       no two foreground pixels side by side           yes
// label   counting            the store has a width (edge maps, EdgeWord)     yes    yes
//         new trees           no foreground pixel reaches the row above       yes    yes
//         strips              8-connected, textured, >= 6 runs a stretch      yes    yes
//         copied stretches    words equal the row above's, >= 8 runs          yes    yes
// number  repeat              kind kRepeat                                           yes
//         one region          one_region, parent before the row
//         copies              the label pass's copies                                yes
//         groups of four      kind kNewTrees or kStretchesAlike (SSE2)
//         bands unjoined      no run touches across a band's border
// paint   one region          runs of one region, bits or >= 8 runs' pixels   yes
//         spans               runs of one region side by side, >= 8 runs      yes
//         single pixels       single_pixels
//         textured            is_textured
//         repeat              kind kRepeat                                           yes
//         streamed rows       rows past the caches (stream)
//
// Vector code (SSE2, the population count) has scalar twins of the same
// result, built alone under RUNLABEL_NO_SIMD (simd.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "labeling/buffer.h"
#include "labeling/contact.h"
#include "labeling/region_fields.h"
#include "labeling/run_store.h"

namespace runlabel::engine {

// How a row of pixels is stored. Samples are tested for zero only, so signed
// and unsigned pixels of a width are the same kind. kBitMsb: one bit per
// pixel, the first pixel in the most significant bit of the first byte.
enum class PixelKind : uint8_t { k8, k16, k32, k64, kBitMsb };

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
        const RowView row(store, r);
        if (row.empty()) continue;
        const int32_t* bounds = row.bounds(scratch);
        Part part{row.label(0), Statistics::start(static_cast<std::uint64_t>(bounds[0]))};
        for (std::uint32_t k = 0; k < row.count(); ++k) {
            const std::uint32_t label = row.label(k);
            const auto from = static_cast<std::uint64_t>(bounds[2 * std::size_t(k)]);
            const auto to = static_cast<std::uint64_t>(bounds[2 * std::size_t(k) + 1]);
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
