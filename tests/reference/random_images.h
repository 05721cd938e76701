// Seeded random test images of many shapes, densities and blob sizes: single
// pixels, single rows and columns, small and mid-sized images, in noise of
// cells from 1 x 1 to 8 x 8 pixels. Shared by the differential tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

// Rows that repeat the row above in stretches of whole 64-column words and
// differ elsewhere, as strokes, spirals and blocky texture do.
inline void repeat_in_stretches(std::mt19937& rng, int rows, int cols, double density,
                                std::vector<int>* pixels) {
    std::bernoulli_distribution on(density), redraw(0.35);
    for (int r = 0; r < rows; ++r) {
        for (int w = 0; w * 64 < cols; ++w) {
            const bool fresh = r == 0 || redraw(rng);
            for (int c = w * 64; c < std::min(cols, w * 64 + 64); ++c) {
                (*pixels)[std::size_t(r) * cols + c] =
                    fresh ? int(on(rng)) : (*pixels)[std::size_t(r - 1) * cols + c];
            }
        }
    }
}

// Blocks of block_rows x block_cols pixels, each foreground with the density.
inline void random_mask(std::mt19937& rng, int* rows, int* cols, std::vector<int>* pixels) {
    auto uniform = [&rng](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    struct {
        int rows = 0, cols = 0;
    } pic;
    pixels->clear();
    const int shape = uniform(0, 8);
    switch (shape) {
        case 0:
            pic.rows = pic.cols = 1;
            break;
        case 1:
            pic.rows = 1, pic.cols = uniform(1, 300);
            break;
        case 2:
            pic.rows = uniform(1, 300), pic.cols = 1;
            break;
        case 6:
            pic.rows = uniform(1, 120), pic.cols = uniform(1, 120);
            break;
        case 7:
            pic.rows = uniform(100, 300), pic.cols = uniform(100, 300);
            break;
        case 8:
            pic.rows = uniform(2, 60), pic.cols = uniform(65, 330);
            break;
        default:
            pic.rows = uniform(1, 40), pic.cols = uniform(1, 40);
            break;
    }
    const double density = std::uniform_real_distribution<double>(0.05, 0.95)(rng);
    const int block_rows = uniform(1, 8);
    const int block_cols = uniform(1, 8);
    const int grid_cols = pic.cols / block_cols + 1;
    std::vector<int> grid(static_cast<std::size_t>(pic.rows / block_rows + 1) * grid_cols);
    std::bernoulli_distribution on(density);
    for (int& cell : grid) cell = on(rng) ? 1 : 0;
    for (int r = 0; r < pic.rows; ++r) {
        for (int c = 0; c < pic.cols; ++c) {
            pixels->push_back(grid[(r / block_rows) * grid_cols + c / block_cols]);
        }
    }
    if (shape == 8) repeat_in_stretches(rng, pic.rows, pic.cols, density, pixels);
    *rows = pic.rows;
    *cols = pic.cols;
}
