// Fuzz target: the labeling pipeline on an image decoded straight from the
// bytes (first byte the width, second the start label, the rest the pixels,
// non-zero = foreground). The runs must encode the image exactly, and both
// connectivities must give the partition a flood fill gives, numbered from the
// start label in raster order of each region's first pixel.
#include <vector>

#include "fuzz/fuzz_input.h"
#include "labeling/classic/classic.h"
#include "support/support.h"
#include "tests/reference/flood_fill.h"

namespace {

struct Image {
    int rows;
    int cols;
    std::vector<uint8_t> pixels;
    bool at(int r, int c) const {
        return r >= 0 && r < rows && c >= 0 && c < cols && pixels[std::size_t(r) * cols + c] != 0;
    }
};

// Runs numbered 1..N in raster order, each maximal, together covering exactly
// the foreground, with every row's first and last number in the RowIndex.
void check_runs(const Image& image, const RunNode* runs, RowIndex row_index, int run_count) {
    std::vector<uint8_t> covered(image.pixels.size(), 0);
    std::vector<bool> has_runs(image.rows, false);
    int id = 0;
    int prev_row = -1;
    int prev_ecol = -2;
    for (const RunNode* run = runs; run != nullptr; run = run->next) {
        FUZZ_CHECK(run->run_id == ++id);
        FUZZ_CHECK(run->row >= 0 && run->row < image.rows);
        FUZZ_CHECK(run->scol >= 0 && run->scol <= run->ecol && run->ecol < image.cols);
        FUZZ_CHECK(run->row > prev_row || run->scol > prev_ecol + 1);
        FUZZ_CHECK(run->row >= prev_row);
        FUZZ_CHECK(!image.at(run->row, run->scol - 1) && !image.at(run->row, run->ecol + 1));
        for (int c = run->scol; c <= run->ecol; ++c) {
            FUZZ_CHECK(image.at(run->row, c));
            covered[std::size_t(run->row) * image.cols + c] = 1;
        }
        if (run->row != prev_row) FUZZ_CHECK(row_index[run->row][0] == run->run_id);
        if (run->next == nullptr || run->next->row != run->row)
            FUZZ_CHECK(row_index[run->row][1] == run->run_id);
        has_runs[run->row] = true;
        prev_row = run->row;
        prev_ecol = run->ecol;
    }
    FUZZ_CHECK(id == run_count);
    for (std::size_t i = 0; i < covered.size(); ++i)
        FUZZ_CHECK(covered[i] == (image.pixels[i] != 0));
    for (int r = 0; r < image.rows; ++r)
        if (!has_runs[r]) FUZZ_CHECK(row_index[r][0] == 0 && row_index[r][1] == 0);
}

void check_labels(const Image& image, RunNode* runs, RowIndex row_index, int run_count,
                  bool diagonal, int start_label) {
    for (RunNode* run = runs; run != nullptr; run = run->next) run->label = 0;
    int expected_count = 0;
    const std::vector<int> expected = flood_fill_labels(image.pixels, image.rows, image.cols,
                                                        diagonal, start_label, &expected_count);
    int region_count = -1;
    RunNode* labelled =
        diagonal ? label_runs_8(runs, row_index, run_count, image.rows, start_label, &region_count)
                 : label_runs_4(runs, row_index, run_count, image.rows, start_label, &region_count);
    FUZZ_CHECK(labelled == runs);
    FUZZ_CHECK(region_count == expected_count);
    for (const RunNode* run = runs; run != nullptr; run = run->next)
        FUZZ_CHECK(run->label == expected[std::size_t(run->row) * image.cols + run->scol]);

    int16_t** painted = runs_to_label_image(runs, image.rows, image.cols);
    for (int r = 0; r < image.rows; ++r)
        for (int c = 0; c < image.cols; ++c)
            FUZZ_CHECK(painted[r][c] ==
                       static_cast<int16_t>(expected[std::size_t(r) * image.cols + c]));
    free_short_matrix(painted, image.rows, image.cols);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    prepare_fuzz_process();
    if (size < 2 || size - 2 > kMaxPixels) return 0;
    Image image{};
    image.cols = data[0];
    const int start_label = 1 + data[1] % 16;
    const std::size_t body = size - 2;
    // A zero width still has rows: one per remaining byte.
    image.rows = static_cast<int>(image.cols == 0 ? body : body / image.cols);
    image.pixels.assign(data + 2, data + 2 + std::size_t(image.rows) * image.cols);

    int16_t** binary = alloc_short_matrix(image.rows, image.cols);
    for (int r = 0; r < image.rows; ++r)
        for (int c = 0; c < image.cols; ++c)
            binary[r][c] = image.pixels[std::size_t(r) * image.cols + c];
    RowIndex row_index = alloc_int_matrix(image.rows, 2);
    int run_count = -1;
    RunNode* runs = image_to_runs(binary, image.rows, image.cols, row_index, &run_count);
    check_runs(image, runs, row_index, run_count);
    check_labels(image, runs, row_index, run_count, false, start_label);
    check_labels(image, runs, row_index, run_count, true, start_label);

    free_run_list(runs);
    free_int_matrix(row_index, image.rows, 2);
    free_short_matrix(binary, image.rows, image.cols);
    return 0;
}
