// Helpers for the public API's tests: a random mask stored as pixels of any
// type in several memory layouts, and the reference labels and statistics
// computed pixel by pixel.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "labeling/region_fields.h"
#include "runlabel/runlabel.h"
#include "tests/reference/flood_fill.h"
#include "tests/reference/random_images.h"

namespace api_test {

struct Mask {
    int rows = 0;
    int cols = 0;
    std::vector<int> pixels;  // row-major, non-zero = foreground
    bool at(int r, int c) const { return pixels[std::size_t(r) * cols + c] != 0; }
};

inline Mask random_mask(std::mt19937& rng) {
    Mask m;
    ::random_mask(rng, &m.rows, &m.cols, &m.pixels);
    return m;
}

// How pixels are laid out in memory.
enum class Layout { kPacked, kPaddedRows, kSpacedPixels, kColumnMajor, kUpsideDown };
constexpr Layout kLayouts[] = {Layout::kPacked, Layout::kPaddedRows, Layout::kSpacedPixels,
                               Layout::kColumnMajor, Layout::kUpsideDown};

// A mask's pixels stored as Pixel in a layout; foreground pixels get random
// non-zero values of the type (negative ones too), background 0. The view
// points into storage, which the caller keeps.
template <typename Pixel>
runlabel::ImageView store_pixels(const Mask& m, Layout layout, std::mt19937& rng,
                                 std::vector<unsigned char>* storage) {
    const auto size = static_cast<std::ptrdiff_t>(sizeof(Pixel));
    std::ptrdiff_t row_stride = size * m.cols;
    std::ptrdiff_t column_stride = size;
    std::size_t bytes = std::size_t(size) * m.rows * m.cols;
    switch (layout) {
        case Layout::kPacked:
            break;
        case Layout::kPaddedRows:
            row_stride = size * (m.cols + 3);
            bytes = std::size_t(row_stride) * m.rows;
            break;
        case Layout::kSpacedPixels:
            column_stride = 2 * size;
            row_stride = column_stride * m.cols + size;
            bytes = std::size_t(row_stride) * m.rows;
            break;
        case Layout::kColumnMajor:
            column_stride = size * m.rows;
            row_stride = size;
            break;
        case Layout::kUpsideDown:
            row_stride = -size * m.cols;
            break;
    }
    // Anything outside the pixels is foreground, so reading it would show.
    storage->assign(bytes + 1, 0xA5);
    unsigned char* origin = storage->data();
    if (layout == Layout::kUpsideDown && m.rows > 0)
        origin += std::size_t(size) * m.cols * (m.rows - 1);
    for (int r = 0; r < m.rows; ++r) {
        for (int c = 0; c < m.cols; ++c) {
            Pixel value{};
            if (m.at(r, c)) {
                if constexpr (std::is_same_v<Pixel, bool>) {
                    value = true;
                } else {
                    do value = static_cast<Pixel>(rng());
                    while (value == Pixel{0});
                }
            }
            std::memcpy(origin + r * row_stride + c * column_stride, &value, sizeof value);
        }
    }
    return {origin, runlabel::pixel_type_of<Pixel>(), m.cols, m.rows, row_stride, column_stride};
}

// Reference labels, numbered from first in raster order; regions to *count.
inline std::vector<int> reference_labels(const Mask& m, int connectivity, int first, int* count) {
    return flood_fill_labels(m.pixels, m.rows, m.cols, connectivity == 8, first, count);
}

// Statistics of each label found in labels, summed pixel by pixel.
inline std::map<uint64_t, runlabel::Region> reference_regions(const std::vector<uint64_t>& labels,
                                                              int rows, int cols) {
    std::map<uint64_t, runlabel::Region> regions;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const uint64_t label = labels[std::size_t(r) * cols + c];
            if (label == 0) continue;
            runlabel::Region& g = regions[label];
            if (g.area == 0) {
                g.label = label;
                g.left = g.right = c;
                g.top = g.bottom = r;
            }
            ++g.area;
            g.sum_x += c;
            g.sum_y += r;
            g.left = std::min<int64_t>(g.left, c);
            g.right = std::max<int64_t>(g.right, c);
            g.top = std::min<int64_t>(g.top, r);
            g.bottom = std::max<int64_t>(g.bottom, r);
        }
    }
    return regions;
}

inline std::string describe(const Mask& m) {
    std::string text = std::to_string(m.rows) + "x" + std::to_string(m.cols) + "\n";
    if (m.rows * m.cols > 2000) return text;
    for (int r = 0; r < m.rows; ++r) {
        for (int c = 0; c < m.cols; ++c) text += m.at(r, c) ? '#' : '.';
        text += '\n';
    }
    return text;
}

}  // namespace api_test

namespace runlabel {
// Every field the statistics keep, so that a new one is compared too.
inline bool operator==(const Region& a, const Region& b) {
    return std::apply([&](auto... field) { return ((a.*field == b.*field) && ...); },
                      engine::RegionStatistics::members<Region>());
}

inline void PrintTo(const Region& r, std::ostream* os) {
    *os << "{label " << r.label << ", area " << r.area << ", box " << r.left << "," << r.top << ".."
        << r.right << "," << r.bottom << ", sums " << r.sum_x << "," << r.sum_y << "}";
}
}  // namespace runlabel
