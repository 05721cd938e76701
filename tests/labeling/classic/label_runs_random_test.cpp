// Differential test: label_runs_4 and label_runs_8 against a flood fill on
// seeded random images of many sizes, densities and blob sizes, label for label.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "tests/labeling/classic/label_fixture.h"
#include "tests/reference/flood_fill.h"
#include "tests/reference/random_images.h"

namespace {

// Numbers regions from start_label in the order a raster scan first meets them.
Picture flood_fill(const Picture& image, int connectivity, int start_label, int* regions) {
    return {image.rows, image.cols,
            flood_fill_labels(image.pixels, image.rows, image.cols, connectivity == 8, start_label,
                              regions)};
}

Picture random_picture(std::mt19937& rng) {
    Picture pic;
    random_mask(rng, &pic.rows, &pic.cols, &pic.pixels);
    return pic;
}

std::string describe(const Picture& pic) {
    std::string text = std::to_string(pic.rows) + "x" + std::to_string(pic.cols) + "\n";
    if (pic.rows * pic.cols > 2000) return text;
    for (int i = 0; i < pic.rows * pic.cols; ++i) {
        text += pic.pixels[i] != 0 ? '#' : '.';
        if ((i + 1) % pic.cols == 0) text += '\n';
    }
    return text;
}

TEST(LabelRunsRandom, MatchesFloodFillLabelForLabel) {
    std::mt19937 rng(0x5eed);
    std::string expected_lines;
    int failures = 0;
    testing::internal::CaptureStdout();
    for (int image_no = 0; image_no < 3000 && failures < 3; ++image_no) {
        const Picture image = random_picture(rng);
        const int start_label = 1 + image_no % 5;
        for (int connectivity : {4, 8}) {
            int regions = 0;
            const Picture expected = flood_fill(image, connectivity, start_label, &regions);
            const Labelling got = label_picture(image, connectivity, start_label);
            expected_lines += "Run ID " + std::to_string(std::max(got.runs, 1)) + " \n";
            if (got.labels.pixels != expected.pixels || got.regions != regions) {
                ++failures;
                ADD_FAILURE() << "image " << image_no << ", " << connectivity
                              << "-neighbour, start " << start_label << ": " << got.regions
                              << " regions, expected " << regions << "\n"
                              << describe(image);
            }
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected_lines);
}

// Rows of thousands of columns hold more runs than the labeling first keeps
// room for per row, and long runs under many short ones touch more runs above
// than one comparison covers.
TEST(LabelRunsRandom, WideRowsMatchFloodFill) {
    std::mt19937 rng(0x31de);
    for (int image_no = 0; image_no < 16; ++image_no) {
        Picture pic;
        pic.rows = 2 + image_no % 5;
        pic.cols = 3000 + static_cast<int>(rng() % 4000);
        const double density = 0.2 + 0.15 * (image_no % 5);
        std::bernoulli_distribution on(density);
        for (int r = 0; r < pic.rows; ++r) {
            for (int c = 0; c < pic.cols; ++c) {
                // Every third row has long stretches under the noise above it.
                const bool stretch = r % 3 == 2 && (c / 40) % 2 == 0;
                pic.pixels.push_back(stretch || on(rng) ? 1 : 0);
            }
        }
        for (int connectivity : {4, 8}) {
            int regions = 0;
            const Picture expected = flood_fill(pic, connectivity, 1, &regions);
            testing::internal::CaptureStdout();
            const Labelling got = label_picture(pic, connectivity);
            testing::internal::GetCapturedStdout();
            ASSERT_EQ(got.regions, regions) << "image " << image_no << ", " << connectivity;
            ASSERT_EQ(got.labels.pixels, expected.pixels)
                << "image " << image_no << ", " << connectivity;
        }
    }
}

}  // namespace
