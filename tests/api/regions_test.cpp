// Statistics from the runs against sums over the labelled pixels; dropping
// small regions and numbering by area against a renumbered flood fill; and
// statistics of bands merged into those of the whole image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <random>
#include <vector>

#include "tests/api/api_fixture.h"

namespace {

using api_test::Mask;

std::vector<uint8_t> bytes_of(const Mask& m) { return {m.pixels.begin(), m.pixels.end()}; }

TEST(Regions, MatchSumsOverTheLabelledPixels) {
    std::mt19937 rng(0x5a75);
    for (int image_no = 0; image_no < 600; ++image_no) {
        const Mask mask = api_test::random_mask(rng);
        const std::vector<uint8_t> pixels = bytes_of(mask);
        runlabel::Options options;
        options.connectivity = image_no % 2 ? 8 : 4;
        options.first_label = 1 + image_no % 4;
        const runlabel::Labeling labeling =
            runlabel::label(runlabel::image_view(pixels.data(), mask.cols, mask.rows), options);
        std::vector<uint64_t> labels(pixels.size());
        labeling.paint(runlabel::label_view(labels.data(), mask.cols, mask.rows));
        const auto expected = api_test::reference_regions(labels, mask.rows, mask.cols);
        const std::vector<runlabel::Region> got = labeling.regions();
        ASSERT_EQ(got.size(), expected.size()) << api_test::describe(mask);
        uint64_t next = options.first_label;
        for (const runlabel::Region& region : got) {
            ASSERT_EQ(region.label, next++);
            ASSERT_EQ(region, expected.at(region.label)) << api_test::describe(mask);
        }
    }
}

// Records written over the caller's memory, whatever it held, are the
// vector's: set by each region's first run in raster order, set beforehand
// when numbered by area, summed over the bands of several threads.
TEST(Regions, WrittenOverTheCallersMemoryAsIntoTheVector) {
    std::mt19937 rng(0x4e6d);
    runlabel::Region junk;
    junk.label = junk.area = junk.sum_x = junk.sum_y = 0xa5a5a5a5a5a5a5a5;
    junk.left = junk.top = junk.right = junk.bottom = -0x5a5a5a5a5a5a5a5a;
    for (int image_no = 0; image_no < 400; ++image_no) {
        const Mask mask = api_test::random_mask(rng);
        const std::vector<uint8_t> pixels = bytes_of(mask);
        runlabel::Options options;
        options.connectivity = image_no % 2 ? 8 : 4;
        options.first_label = 1 + image_no % 3;
        options.min_area = static_cast<uint64_t>(image_no % 4);
        options.numbering =
            image_no % 5 < 2 ? runlabel::Numbering::area : runlabel::Numbering::raster;
        options.threads = 1 + image_no % 3;
        const runlabel::Labeling labeling =
            runlabel::label(runlabel::image_view(pixels.data(), mask.cols, mask.rows), options);
        const std::vector<runlabel::Region> expected = labeling.regions();
        std::vector<runlabel::Region> got(expected.size() + 1, junk);
        labeling.regions(got.data());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            ASSERT_EQ(got[k], expected[k]) << api_test::describe(mask);
        }
        ASSERT_EQ(got.back(), junk) << "written past count()";
    }
}

// Reference numbering after dropping regions below min_area and, if asked,
// ordering by decreasing area (ties in raster order).
std::vector<int> renumbered(const std::vector<int>& raster, int count, uint64_t min_area,
                            bool by_area, int* kept) {
    std::vector<uint64_t> area(count + 1, 0);
    for (int label : raster) area[label] += label != 0;
    std::vector<int> order(count);
    std::iota(order.begin(), order.end(), 1);
    if (by_area) {
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return area[a] > area[b]; });
    }
    std::vector<int> number(count + 1, 0);
    *kept = 0;
    for (int label : order) {
        if (area[label] >= min_area) number[label] = ++*kept;
    }
    std::vector<int> out(raster.size());
    for (std::size_t i = 0; i < raster.size(); ++i) out[i] = number[raster[i]];
    return out;
}

// Noise of regions of all sizes over dense texture that is one region row
// after row (diagonal stripes under a full row, 8-connected), whose number
// changes as regions above it are dropped or reordered.
Mask noise_over_texture(std::mt19937& rng) {
    Mask m;
    m.rows = 20 + static_cast<int>(rng() % 40);
    m.cols = 40 + static_cast<int>(rng() % 200);
    std::bernoulli_distribution on(0.4);
    for (int r = 0; r < m.rows; ++r) {
        for (int c = 0; c < m.cols; ++c) {
            const int t = r - m.rows / 2;  // the texture's row
            m.pixels.push_back(t < 0 ? on(rng) : t == 0 || (t + c) % 2);
        }
    }
    return m;
}

TEST(Regions, MinAreaAndNumberingByAreaMatchTheReference) {
    std::mt19937 rng(0xd057);
    for (int image_no = 0; image_no < 800; ++image_no) {
        const Mask mask = image_no % 4 == 3 ? noise_over_texture(rng) : api_test::random_mask(rng);
        const std::vector<uint8_t> pixels = bytes_of(mask);
        runlabel::Options options;
        options.connectivity = image_no % 2 ? 8 : 4;
        options.min_area = static_cast<uint64_t>(image_no % 5) * (image_no % 7);
        options.numbering =
            image_no % 3 == 0 ? runlabel::Numbering::area : runlabel::Numbering::raster;
        int count = 0;
        const std::vector<int> raster =
            api_test::reference_labels(mask, options.connectivity, 1, &count);
        int kept = 0;
        const std::vector<int> expected = renumbered(
            raster, count, options.min_area, options.numbering == runlabel::Numbering::area, &kept);
        const auto got = runlabel::label_image<int32_t>(
            runlabel::image_view(pixels.data(), mask.cols, mask.rows), options);
        ASSERT_EQ(got.count, static_cast<uint64_t>(kept)) << api_test::describe(mask);
        ASSERT_EQ(got.labels, expected) << "min area " << options.min_area << "\n"
                                        << api_test::describe(mask);
    }
}

// Each band labelled on its own: its regions' sums, shifted to the band's
// place and merged into the regions of the whole image they belong to, give
// the whole image's statistics.
TEST(Regions, StatisticsOfBandsMergeIntoThoseOfTheWhole) {
    std::mt19937 rng(0x7113);
    for (int image_no = 0; image_no < 200; ++image_no) {
        const Mask mask = api_test::random_mask(rng);
        if (mask.rows < 2) continue;
        const std::vector<uint8_t> pixels = bytes_of(mask);
        const runlabel::Labeling whole =
            runlabel::label(runlabel::image_view(pixels.data(), mask.cols, mask.rows));
        std::vector<uint32_t> whole_labels(pixels.size());
        whole.paint(runlabel::label_view(whole_labels.data(), mask.cols, mask.rows));

        std::vector<runlabel::Region> merged(whole.count());
        for (std::size_t k = 0; k < merged.size(); ++k) merged[k].label = k + 1;
        const int split = 1 + static_cast<int>(rng() % (mask.rows - 1));
        for (const auto& [top, rows] : {std::pair{0, split}, {split, mask.rows - split}}) {
            const uint8_t* band = pixels.data() + std::size_t(top) * mask.cols;
            const runlabel::Labeling part =
                runlabel::label(runlabel::image_view(band, mask.cols, rows));
            const std::vector<runlabel::Run> runs = part.runs();
            for (runlabel::Region region : part.regions()) {
                // Any run of the band's region names the whole region it is in.
                const auto run =
                    std::find_if(runs.begin(), runs.end(),
                                 [&](const runlabel::Run& r) { return r.label == region.label; });
                ASSERT_NE(run, runs.end());
                const uint32_t owner =
                    whole_labels[std::size_t(run->row + top) * mask.cols + run->first];
                region.sum_y += region.area * static_cast<uint64_t>(top);
                region.top += top;
                region.bottom += top;
                region.label = owner;
                runlabel::merge(merged[owner - 1], region);
            }
        }
        const std::vector<runlabel::Region> expected = whole.regions();
        for (std::size_t k = 0; k < expected.size(); ++k) {
            ASSERT_EQ(merged[k], expected[k]) << api_test::describe(mask);
        }
    }
}

TEST(Regions, CentroidsAndBoxesOfAKnownShape) {
    // A 3 x 2 block at columns 2..4 of rows 1..2, then one pixel at (3, 0).
    const std::vector<uint8_t> pixels = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1,
                                         0, 0, 1, 1, 1, 9, 0, 0, 0, 0};
    const auto regions = runlabel::label(runlabel::image_view(pixels.data(), 5, 4)).regions();
    ASSERT_EQ(regions.size(), 2u);
    EXPECT_EQ(regions[0].area, 6u);
    EXPECT_EQ(regions[0].width(), 3);
    EXPECT_EQ(regions[0].height(), 2);
    EXPECT_EQ(regions[0].left, 2);
    EXPECT_EQ(regions[0].top, 1);
    EXPECT_DOUBLE_EQ(regions[0].centroid_x(), 3.0);
    EXPECT_DOUBLE_EQ(regions[0].centroid_y(), 1.5);
    EXPECT_EQ(regions[1].area, 1u);
    EXPECT_DOUBLE_EQ(regions[1].centroid_x(), 0.0);
    EXPECT_DOUBLE_EQ(regions[1].centroid_y(), 3.0);
}

}  // namespace
