// The reference labeling that the differential tests and the pipeline fuzz
// target check the run labeling against: a plain flood fill, pixel by pixel.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// Labels the non-zero pixels of a row-major rows x cols image by flood fill,
// 4-neighbour or (diagonal) 8-neighbour, numbering regions from start_label in
// the order a raster scan first meets them; background stays 0. The region
// count goes to *regions.
template <typename Pixel>
std::vector<int> flood_fill_labels(const std::vector<Pixel>& pixels, int rows, int cols,
                                   bool diagonal, int start_label, int* regions) {
    std::vector<int> labels(pixels.size(), 0);
    std::vector<std::pair<int, int>> pending;
    int next = start_label;
    auto foreground = [&](int r, int c) {
        return r >= 0 && r < rows && c >= 0 && c < cols && pixels[std::size_t(r) * cols + c] != 0;
    };
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            if (!foreground(r, c) || labels[std::size_t(r) * cols + c] != 0) continue;
            labels[std::size_t(r) * cols + c] = next;
            pending.emplace_back(r, c);
            while (!pending.empty()) {
                const auto [y, x] = pending.back();
                pending.pop_back();
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        if ((dy == 0 && dx == 0) || (!diagonal && dy != 0 && dx != 0)) continue;
                        if (!foreground(y + dy, x + dx)) continue;
                        int& label = labels[std::size_t(y + dy) * cols + x + dx];
                        if (label != 0) continue;
                        label = next;
                        pending.emplace_back(y + dy, x + dx);
                    }
                }
            }
            ++next;
        }
    }
    *regions = next - start_label;
    return labels;
}
