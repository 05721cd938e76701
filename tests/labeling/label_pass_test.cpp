// The engine's labeling pass against a flood fill on rows that share parts
// with the row above: whole rows repeated, stretches of 64-column words
// repeated beside redrawn ones, so that runs meet the words' edges from either
// side; on dense texture, whose 8-connected rows are labelled a strip of two
// rows at a time; and on rows that touch nothing above (checkerboards,
// stripes).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "labeling/engine.h"
#include "tests/reference/flood_fill.h"
#include "tests/reference/random_images.h"

namespace {

using runlabel::engine::PixelKind;
using runlabel::engine::RunStore;

// Every pixel's region number, through the engine.
std::vector<int> engine_labels(const std::vector<int>& pixels, int rows, int cols,
                               int connectivity) {
    std::vector<uint8_t> bytes(pixels.begin(), pixels.end());
    RunStore store(cols);
    for (int r = 0; r < rows; ++r) {
        runlabel::engine::encode_row(store, bytes.data() + std::size_t(r) * cols, PixelKind::k8);
        runlabel::engine::label_newest_row(store, connectivity);
    }
    runlabel::engine::end_labeling(store);
    runlabel::engine::number_regions(store, {});
    std::vector<int> labels(pixels.size(), 0);
    runlabel::engine::Buffer<int32_t> scratch;
    runlabel::engine::Buffer<uint32_t> spread;
    for (int r = 0; r < rows; ++r) {
        const int32_t* bounds = runlabel::engine::RowView(store, r).bounds(scratch);
        const uint32_t* row_labels = runlabel::engine::RowView(store, r).labels(spread);
        const uint32_t first = store.first_run(r);
        for (uint32_t i = first; i < store.end_run(r); ++i) {
            for (int32_t c = bounds[2 * (i - first)]; c < bounds[2 * (i - first) + 1]; ++c) {
                labels[std::size_t(r) * cols + c] = static_cast<int>(row_labels[i - first]);
            }
        }
    }
    return labels;
}

void expect_flood_fill(const std::vector<int>& pixels, int rows, int cols, const char* what,
                       int image_no) {
    for (int connectivity : {4, 8}) {
        int regions = 0;
        const std::vector<int> want =
            flood_fill_labels(pixels, rows, cols, connectivity == 8, 1, &regions);
        ASSERT_EQ(engine_labels(pixels, rows, cols, connectivity), want)
            << what << " " << image_no << ", " << rows << "x" << cols << ", " << connectivity
            << "-connected";
    }
}

TEST(LabelPass, RowsRepeatingTheRowAboveInStretches) {
    std::mt19937 rng(0x57e7);
    for (int image_no = 0; image_no < 300; ++image_no) {
        const int rows = 2 + static_cast<int>(rng() % 40);
        const int cols = 64 + static_cast<int>(rng() % 400);
        const double density = 0.1 + 0.8 * (image_no % 9) / 8.0;
        std::vector<int> pixels(std::size_t(rows) * cols);
        repeat_in_stretches(rng, rows, cols, density, &pixels);
        expect_flood_fill(pixels, rows, cols, "image", image_no);
    }
}

TEST(LabelPass, RowsTouchingNothingAbove) {
    // Checkerboards (nothing above in 4-connectivity, corners in 8), and
    // stripes shifted by one column, which meet above only at a corner.
    for (int cols : {1, 63, 64, 65, 130}) {
        for (int shift : {0, 1}) {
            const int rows = 7;
            std::vector<int> pixels(std::size_t(rows) * cols);
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < cols; ++c) {
                    pixels[std::size_t(r) * cols + c] =
                        shift == 0 ? (r + c) % 2 : ((c + r) / 2) % 2 == 0 && (c + r) % 2 == 0;
                }
            }
            expect_flood_fill(pixels, rows, cols, "pattern", cols * 2 + shift);
        }
    }
}

// Rows of dense texture of one region keep its parent in their first run's
// entry alone; a sparse row after them, labelled run by run, must find every
// run above it. Noise on top, apart from the texture, makes any other entry
// name another region.
TEST(LabelPass, SparseRowsUnderTextureOfOneRegion) {
    std::mt19937 rng(0x5ca7);
    for (int image_no = 0; image_no < 60; ++image_no) {
        const int cols = 70 + static_cast<int>(rng() % 200);
        const int noise = 2 + image_no % 5, texture = 3 + image_no % 7, sparse = 1 + image_no % 3;
        const int rows = noise + texture + sparse;
        std::bernoulli_distribution on(0.5), sparse_on(0.05);
        std::vector<int> pixels;
        for (int r = 0; r < rows; ++r) {
            const int t = r - noise;
            for (int c = 0; c < cols; ++c) {
                pixels.push_back(t < 0         ? on(rng)
                                 : t == 0      ? 1
                                 : t < texture ? (t + c) % 2
                                               : sparse_on(rng));
            }
        }
        expect_flood_fill(pixels, rows, cols, "image", image_no);
    }
}

}  // namespace
