// Labels a binary image the way the program does (image_to_runs, then
// label_runs_4 or label_runs_8) and reads the labels back per pixel, so tests
// can compare whole label images.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "labeling/classic/classic.h"
#include "support/support.h"

struct Picture {
    int rows = 0;
    int cols = 0;
    std::vector<int> pixels;  // row-major; non-zero = foreground, or a label
};

// '#' or a digit is foreground (a digit also reads as that label), '.' is 0.
inline Picture picture(const std::vector<std::string>& lines) {
    Picture pic;
    pic.rows = static_cast<int>(lines.size());
    pic.cols = lines.empty() ? 0 : static_cast<int>(lines[0].size());
    for (const std::string& line : lines) {
        for (char ch : line) pic.pixels.push_back(ch == '.' ? 0 : ch == '#' ? 1 : ch - '0');
    }
    return pic;
}

struct Labelling {
    Picture labels;
    int regions = -1;
    int runs = 0;
};

// Runs the labeling on image; connectivity is 4 or 8. The "Run ID" line goes to
// standard output as usual.
inline Labelling label_picture(const Picture& image, int connectivity, int start_label = 1) {
    const int rows = image.rows;
    const int cols = image.cols;
    int16_t** binary = alloc_short_matrix(rows, cols);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) binary[r][c] = image.pixels[r * cols + c] != 0 ? 1 : 0;
    }
    RowIndex row_index = alloc_int_matrix(rows, 2);
    Labelling out;
    RunNode* list = image_to_runs(binary, rows, cols, row_index, &out.runs);
    auto* label = connectivity == 8 ? label_runs_8 : label_runs_4;
    RunNode* result = label(list, row_index, out.runs, rows, start_label, &out.regions);
    EXPECT_EQ(result, list);
    out.labels = {rows, cols, std::vector<int>(image.pixels.size(), 0)};
    for (const RunNode* node = list; node != nullptr; node = node->next) {
        for (int c = node->scol; c <= node->ecol; ++c) {
            out.labels.pixels[node->row * cols + c] = node->label;
        }
    }
    free_run_list(list);
    free_int_matrix(row_index, rows, 2);
    free_short_matrix(binary, rows, cols);
    return out;
}
