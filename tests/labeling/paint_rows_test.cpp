// The engine's painter against the runs it paints, at every label width, into
// rows with padding between them: textured rows (a run every few columns),
// rows of one-pixel runs, sparse rows, and rows of one region (painted from
// the pixels, or from the bits a dense row is kept as), with and without the
// image's pixels at hand. The painters store whole vectors, so the padding
// must come back as it was and no row may reach into the next.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "labeling/engine.h"

namespace {

using runlabel::engine::LabelKind;
using runlabel::engine::PixelKind;
using runlabel::engine::RunStore;

constexpr std::byte kPadding{0xA5};
constexpr int kPadBytes = 48;

// Rows of random runs 1 to `longest` pixels long, gaps 1 to `gap` pixels.
std::vector<uint8_t> random_pixels(std::mt19937& rng, int rows, int cols, int longest, int gap) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(rows) * cols, 0);
    for (int r = 0; r < rows; ++r) {
        int c = std::uniform_int_distribution<int>(0, gap)(rng);
        while (c < cols) {
            const int end = std::min(cols, c + std::uniform_int_distribution<int>(1, longest)(rng));
            for (; c < end; ++c) pixels[static_cast<std::size_t>(r) * cols + c] = 1;
            c += std::uniform_int_distribution<int>(1, gap)(rng);
        }
    }
    return pixels;
}

// Each run's label as the painter must write it, from the store's runs.
std::vector<uint64_t> expected(const RunStore& store, uint64_t base, int bytes) {
    std::vector<uint64_t> want(static_cast<std::size_t>(store.rows() * store.cols), 0);
    const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
    runlabel::engine::Buffer<int32_t> scratch;
    runlabel::engine::Buffer<uint32_t> spread;
    for (int64_t r = 0; r < store.rows(); ++r) {
        const int32_t* bounds = runlabel::engine::RowView(store, r).bounds(scratch);
        const uint32_t* labels = runlabel::engine::RowView(store, r).labels(spread);
        const uint32_t first = store.first_run(r);
        for (uint32_t i = first; i < store.end_run(r); ++i) {
            const uint32_t region = labels[i - first];
            for (int32_t c = bounds[2 * (i - first)]; c < bounds[2 * (i - first) + 1]; ++c) {
                want[static_cast<std::size_t>(r * store.cols + c)] =
                    region == 0 ? 0 : (base + region) & mask;
            }
        }
    }
    return want;
}

uint64_t read_label(const std::byte* at, int bytes) {
    uint64_t value = 0;
    std::memcpy(&value, at, static_cast<std::size_t>(bytes));  // little-endian
    return value;
}

TEST(PaintRows, EveryWidthMatchesTheRunsAndKeepsThePadding) {
    std::mt19937 rng(91);
    const struct {
        LabelKind kind;
        int bytes;
    } widths[] = {
        {LabelKind::k8, 1}, {LabelKind::k16, 2}, {LabelKind::k32, 4}, {LabelKind::k64, 8}};
    for (int trial = 0; trial < 300; ++trial) {
        const int rows = std::uniform_int_distribution<int>(1, 12)(rng);
        const int cols = std::uniform_int_distribution<int>(5, 300)(rng);
        // Textured, sparse with long runs, mixed, runs of one pixel, and rows
        // of one region (a full row over diagonal stripes, 8-connected).
        const int pattern = trial % 5;
        const int longest = pattern == 0 ? 3 : pattern == 1 ? 60 : pattern == 2 ? 20 : 1;
        const int gap = pattern == 0 ? 3 : pattern == 1 ? 40 : pattern == 2 ? 6 : 2;
        std::vector<uint8_t> pixels = random_pixels(rng, rows, cols, longest, gap);
        if (pattern == 4) {
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < cols; ++c)
                    pixels[std::size_t(r) * cols + c] = r == 0 || (r + c) % 2;
            }
        }
        const int connectivity = pattern == 4 || trial % 2 == 1 ? 8 : 4;
        RunStore store(cols);
        for (int r = 0; r < rows; ++r) {
            runlabel::engine::encode_row(store, pixels.data() + std::size_t(r) * cols,
                                         PixelKind::k8);
            runlabel::engine::label_newest_row(store, connectivity);
        }
        runlabel::engine::end_labeling(store);
        // Some regions dropped, as min_area does: their runs paint 0.
        runlabel::engine::number_regions(store, {pattern == 3 ? 3u : 0u, false});
        const uint64_t base = trial % 5 == 0 ? 250 : 0;
        const runlabel::engine::SourceRows source{reinterpret_cast<const std::byte*>(pixels.data()),
                                                  cols, PixelKind::k8};
        for (const auto& w : widths) {
            const std::vector<uint64_t> want = expected(store, base, w.bytes);
            const std::ptrdiff_t stride = std::ptrdiff_t(cols) * w.bytes + kPadBytes;
            for (const bool with_pixels : {false, true}) {
                std::vector<std::byte> out(static_cast<std::size_t>(stride * rows + kPadBytes),
                                           kPadding);
                runlabel::engine::paint_rows(store, 0, rows, base, w.kind, out.data() + kPadBytes,
                                             stride, w.bytes, with_pixels ? &source : nullptr);
                for (int r = 0; r < rows; ++r) {
                    const std::byte* row = out.data() + kPadBytes + r * stride;
                    for (int c = 0; c < cols; ++c) {
                        ASSERT_EQ(read_label(row + c * w.bytes, w.bytes),
                                  want[std::size_t(r) * cols + c])
                            << "trial " << trial << ", " << w.bytes << "-byte labels, row " << r
                            << ", column " << c << (with_pixels ? ", with pixels" : "");
                    }
                    // The padding before the row (after the row before).
                    for (int k = 0; k < kPadBytes; ++k) {
                        ASSERT_EQ(row[-kPadBytes + k], kPadding)
                            << "trial " << trial << ", padding before row " << r;
                    }
                }
                for (int k = 0; k < kPadBytes; ++k) {
                    ASSERT_EQ(out[out.size() - kPadBytes + k], kPadding)
                        << "trial " << trial << ", padding after the last row";
                }
            }
        }
    }
}

// Labels streamed past the caches are painted a row at a time aside: rows
// whose start is not aligned, and padding between them, come out the same.
TEST(PaintRows, StreamedRowsMatchTheRunsAndKeepThePadding) {
    std::mt19937 rng(17);
    const int rows = 60, cols = 2300;
    const std::vector<uint8_t> pixels = random_pixels(rng, rows, cols, 9, 7);
    RunStore store(cols);
    for (int r = 0; r < rows; ++r) {
        runlabel::engine::encode_row(store, pixels.data() + std::size_t(r) * cols, PixelKind::k8);
        runlabel::engine::label_newest_row(store, 8);
    }
    runlabel::engine::end_labeling(store);
    runlabel::engine::number_regions(store, {});
    const runlabel::engine::SourceRows source{reinterpret_cast<const std::byte*>(pixels.data()),
                                              cols, PixelKind::k8};
    for (const auto& [kind, bytes] : {std::pair{LabelKind::k8, 1}, std::pair{LabelKind::k32, 4}}) {
        const std::vector<uint64_t> want = expected(store, 0, bytes);
        const std::ptrdiff_t stride = std::ptrdiff_t(cols) * bytes + 7;  // rows start unaligned
        for (const bool with_pixels : {false, true}) {
            std::vector<std::byte> out(static_cast<std::size_t>(stride * rows + 16), kPadding);
            runlabel::engine::paint_rows(store, 0, rows, 0, kind, out.data() + 3, stride, bytes,
                                         with_pixels ? &source : nullptr, true);
            for (int r = 0; r < rows; ++r) {
                const std::byte* row = out.data() + 3 + r * stride;
                for (int c = 0; c < cols; ++c) {
                    ASSERT_EQ(read_label(row + c * bytes, bytes), want[std::size_t(r) * cols + c])
                        << bytes << "-byte labels, row " << r << ", column " << c;
                }
                for (int k = 0; k < 7; ++k) ASSERT_EQ(row[cols * bytes + k], kPadding);
            }
            for (int k = 0; k < 3; ++k) ASSERT_EQ(out[k], kPadding);
        }
    }
}

}  // namespace
