// runs_to_label_image against a pixel-by-pixel painter on random run lists:
// widths on and off the store width, runs and gaps short and long, the last
// pixels of the raster, lists out of raster order, and label images handed
// out again by the allocator with old labels in them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "labeling/classic/classic.h"
#include "support/support.h"

namespace {

// Every pixel is painted by the last run in list order that covers it.
std::vector<int16_t> reference(const std::vector<RunNode>& runs, int rows, int cols) {
    std::vector<int16_t> pixels(static_cast<std::size_t>(rows) * cols, 0);
    for (const RunNode& run : runs) {
        for (int c = run.scol; c <= run.ecol; ++c) {
            pixels[static_cast<std::size_t>(run.row) * cols + c] = static_cast<int16_t>(run.label);
        }
    }
    return pixels;
}

// Runs in raster order whose lengths and gaps mix 1 pixel with long stretches.
std::vector<RunNode> random_runs(std::mt19937& rng, int rows, int cols) {
    auto length = [&rng]() {
        const int kind = std::uniform_int_distribution<int>(0, 3)(rng);
        const int longest = kind == 0 ? 2 : kind == 1 ? 9 : kind == 2 ? 40 : 300;
        return std::uniform_int_distribution<int>(1, longest)(rng);
    };
    std::vector<RunNode> runs;
    for (int r = 0; r < rows; ++r) {
        int c = std::uniform_int_distribution<int>(0, 1)(rng) == 0 ? 0 : length();
        while (c < cols) {
            const int ecol = std::min(cols - 1, c + length() - 1);
            const auto label = static_cast<int32_t>(rng() % 200000);
            runs.push_back({static_cast<int32_t>(runs.size() + 1), r, c, ecol, label, nullptr});
            c = ecol + 1 + length();
        }
    }
    return runs;
}

std::vector<int16_t> paint(std::vector<RunNode>& runs, int rows, int cols) {
    for (std::size_t i = 0; i + 1 < runs.size(); ++i) runs[i].next = &runs[i + 1];
    if (!runs.empty()) runs.back().next = nullptr;
    int16_t** image = runs_to_label_image(runs.empty() ? nullptr : runs.data(), rows, cols);
    std::vector<int16_t> pixels;
    for (int r = 0; r < rows; ++r) pixels.insert(pixels.end(), image[r], image[r] + cols);
    // Leave old labels behind for the next label image made from this block.
    for (int r = 0; r < rows; ++r) std::fill(image[r], image[r] + cols, int16_t{-7});
    free_short_matrix(image, rows, cols);
    return pixels;
}

TEST(RunsToLabelImageRandom, MatchesPixelPainter) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 600; ++trial) {
        const int rows = std::uniform_int_distribution<int>(1, trial % 3 == 0 ? 4 : 60)(rng);
        const int cols = std::uniform_int_distribution<int>(1, trial % 2 == 0 ? 40 : 700)(rng);
        std::vector<RunNode> runs = random_runs(rng, rows, cols);
        // Some lists come out of raster order: later runs then paint over
        // earlier ones wherever they overlap.
        if (trial % 5 == 4) {
            std::shuffle(runs.begin(), runs.end(), rng);
            if (!runs.empty()) runs.push_back({0, 0, 0, cols - 1, 9, nullptr});
        }
        const std::vector<int16_t> want = reference(runs, rows, cols);
        ASSERT_EQ(paint(runs, rows, cols), want)
            << "trial " << trial << ", " << rows << "x" << cols;
    }
}

}  // namespace
