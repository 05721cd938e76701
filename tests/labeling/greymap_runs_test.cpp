// Encoding and painting a byte image must give exactly what the 16-bit calls
// give: the same runs, numbers and RowIndex, and the same output bytes.
#include <gtest/gtest.h>

#include <random>

#include "labeling/labeling.h"
#include "support/support.h"

namespace {

uint8_t** make_greymap(int rows, int cols, double ink, unsigned seed) {
    uint8_t** pixels = alloc_byte_matrix(rows, cols);
    std::mt19937 rng(seed);
    std::bernoulli_distribution on(ink);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) pixels[r][c] = on(rng) ? 1 + rng() % 255 : 0;
    return pixels;
}

struct Shape {
    int rows, cols;
};

class GreymapRuns : public testing::TestWithParam<Shape> {};

TEST_P(GreymapRuns, MatchWidenedImageEncodingAndPainting) {
    const auto [rows, cols] = GetParam();
    uint8_t** pixels = make_greymap(rows, cols, 0.4, rows * 7919u + cols);
    int16_t** binary = alloc_short_matrix(rows, cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) binary[r][c] = pixels[r][c];

    RowIndex want_index = alloc_int_matrix(rows, 2);
    RowIndex got_index = alloc_int_matrix(rows, 2);
    int want_count = -1, got_count = -1, regions = 0;
    RunNode* want = image_to_runs(binary, rows, cols, want_index, &want_count);
    RunNode* got = greymap_to_runs(pixels, rows, cols, got_index, &got_count);
    ASSERT_EQ(got_count, want_count);
    for (int r = 0; r < rows; ++r) {
        ASSERT_EQ(got_index[r][0], want_index[r][0]) << "row " << r;
        ASSERT_EQ(got_index[r][1], want_index[r][1]) << "row " << r;
    }
    const RunNode* g = got;
    for (const RunNode* w = want; w != nullptr; w = w->next, g = g->next) {
        ASSERT_NE(g, nullptr);
        ASSERT_EQ(g->run_id, w->run_id);
        ASSERT_EQ(g->row, w->row);
        ASSERT_EQ(g->scol, w->scol);
        ASSERT_EQ(g->ecol, w->ecol);
    }
    ASSERT_EQ(g, nullptr);

    testing::internal::CaptureStdout();
    label_runs_4(got, got_index, got_count, rows, 1, &regions);
    testing::internal::GetCapturedStdout();
    int16_t** labels = runs_to_label_image(got, rows, cols);
    paint_label_bytes(got, pixels, rows, cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            ASSERT_EQ(pixels[r][c], static_cast<uint8_t>(labels[r][c])) << r << "," << c;

    free_short_matrix(labels, rows, cols);
    free_run_list(want);
    free_run_list(got);
    free_int_matrix(want_index, rows, 2);
    free_int_matrix(got_index, rows, 2);
    free_short_matrix(binary, rows, cols);
    free_byte_matrix(pixels, rows, cols);
}

// Empty shapes, one row or column, and widths on and off the 64-pixel word.
INSTANTIATE_TEST_SUITE_P(Shapes, GreymapRuns,
                         testing::Values(Shape{0, 5}, Shape{5, 0}, Shape{1, 1}, Shape{1, 3000},
                                         Shape{3000, 1}, Shape{2500, 3}, Shape{2048, 64},
                                         Shape{300, 700}),
                         [](const auto& info) {
                             return std::to_string(info.param.rows) + "x" +
                                    std::to_string(info.param.cols);
                         });

}  // namespace
