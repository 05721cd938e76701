// An image labelled in bands, each on its own and joined at their borders,
// numbers every run as the whole image labelled at once does: split at every
// row, and in several bands at once, on shapes where a region crosses a
// border many times (combs, spirals, U shapes) and on random images.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "labeling/engine.h"
#include "tests/reference/random_images.h"

namespace {

using runlabel::engine::Band;

struct Image {
    int rows = 0, cols = 0;
    std::vector<uint8_t> pixels;
};

void add_rows(runlabel::engine::RunStore& store, const Image& image, int from, int to,
              int connectivity) {
    for (int r = from; r < to; ++r) {
        runlabel::engine::encode_row(store, image.pixels.data() + std::size_t(r) * image.cols,
                                     runlabel::engine::PixelKind::k8);
        runlabel::engine::label_newest_row(store, connectivity);
    }
}

// Every run's region number, in raster order, with the image cut at splits.
std::vector<uint32_t> numbers(const Image& image, const std::vector<int>& splits, int connectivity,
                              uint64_t* count) {
    std::vector<Band> bands(splits.size() + 1);
    int from = 0;
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const int to = b < splits.size() ? splits[b] : image.rows;
        bands[b].first_row = from;
        bands[b].store.cols = image.cols;
        add_rows(bands[b].store, image, from, to, connectivity);
        from = to;
    }
    *count = runlabel::engine::number_bands(bands.data(), bands.size(), connectivity, {}, 3);
    std::vector<uint32_t> out;
    for (const Band& band : bands) {
        runlabel::engine::Buffer<uint32_t> spread;
        for (int64_t r = 0; r < band.store.rows(); ++r) {
            const uint32_t* labels = runlabel::engine::RowView(band.store, r).labels(spread);
            out.insert(out.end(), labels,
                       labels + (band.store.end_run(r) - band.store.first_run(r)));
        }
    }
    return out;
}

Image from_rows(const std::vector<std::string>& rows) {
    Image image{static_cast<int>(rows.size()), static_cast<int>(rows[0].size()), {}};
    for (const std::string& row : rows) {
        for (char c : row) image.pixels.push_back(c == '#');
    }
    return image;
}

void expect_every_split_agrees(const Image& image, int connectivity) {
    uint64_t whole_count = 0;
    const std::vector<uint32_t> whole = numbers(image, {}, connectivity, &whole_count);
    for (int split = 1; split < image.rows; ++split) {
        uint64_t count = 0;
        ASSERT_EQ(numbers(image, {split}, connectivity, &count), whole)
            << "split at row " << split << ", " << connectivity << "-connected";
        ASSERT_EQ(count, whole_count);
    }
}

TEST(Bands, ShapesSplitAtEveryRow) {
    const std::vector<std::vector<std::string>> shapes = {
        {"#.#.#.#", "#.#.#.#", "#.#.#.#", "#######"},        // comb joined at the bottom
        {"#######", "#.#.#.#", "#.#.#.#", "#.#.#.#"},        // comb joined at the top
        {"#####.", "....#.", ".##.#.", ".#..#.", ".####."},  // spiral
        {"#...#", "#...#", "#.#.#", "#.#.#", "#####"},       // nested U
        {"#.#.", ".#.#", "#.#.", ".#.#"},                    // checkerboard
        {"#..#", ".##.", "#..#", ".##."},                    // diagonal links only
    };
    for (const auto& shape : shapes) {
        for (int connectivity : {4, 8}) expect_every_split_agrees(from_rows(shape), connectivity);
    }
}

TEST(Bands, RandomImagesInTwoAndInManyBands) {
    std::mt19937 rng(0xba4d);
    for (int image_no = 0; image_no < 400; ++image_no) {
        Image image;
        std::vector<int> pixels;
        random_mask(rng, &image.rows, &image.cols, &pixels);
        image.pixels.assign(pixels.begin(), pixels.end());
        const int connectivity = image_no % 2 ? 8 : 4;
        if (image.rows < 2) continue;
        if (image.rows <= 40) {
            expect_every_split_agrees(image, connectivity);
            continue;
        }
        uint64_t whole_count = 0, count = 0;
        const std::vector<uint32_t> whole = numbers(image, {}, connectivity, &whole_count);
        std::vector<int> splits;
        for (int r = 1 + static_cast<int>(rng() % 5); r < image.rows;
             r += 1 + static_cast<int>(rng() % 9)) {
            splits.push_back(r);
        }
        ASSERT_EQ(numbers(image, splits, connectivity, &count), whole) << "image " << image_no;
        ASSERT_EQ(count, whole_count);
    }
}

}  // namespace
