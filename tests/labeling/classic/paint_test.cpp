// runs_to_label_image: every pixel holds the label of the run covering it (low
// 16 bits) or 0.
#include <gtest/gtest.h>

#include <vector>

#include "labeling/classic/classic.h"
#include "support/support.h"

namespace {

// Links the nodes in order; the vector keeps them alive.
const RunNode* link(std::vector<RunNode>& nodes) {
    for (std::size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
    if (!nodes.empty()) nodes.back().next = nullptr;
    return nodes.empty() ? nullptr : nodes.data();
}

std::vector<std::vector<int>> to_rows(int16_t** image, int rows, int cols) {
    std::vector<std::vector<int>> out(rows, std::vector<int>(cols));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) out[r][c] = image[r][c];
    return out;
}

TEST(RunsToLabelImage, EmptyListGivesAllZero) {
    // Leave painted blocks behind for the allocator to hand out again, so that
    // an image that is not cleared shows up.
    std::vector<RunNode> full = {
        {1, 0, 0, 3, 7, nullptr}, {2, 1, 0, 3, 7, nullptr}, {3, 2, 0, 3, 7, nullptr}};
    free_short_matrix(runs_to_label_image(link(full), 3, 4), 3, 4);
    int16_t** image = runs_to_label_image(nullptr, 3, 4);
    EXPECT_EQ(to_rows(image, 3, 4), std::vector<std::vector<int>>(3, std::vector<int>(4, 0)));
    free_short_matrix(image, 3, 4);
}

TEST(RunsToLabelImage, PaintsEachRunOverItsColumnsOnly) {
    std::vector<RunNode> nodes = {
        {1, 0, 0, 0, 1, nullptr},  // single pixel at the left edge
        {2, 0, 2, 4, 2, nullptr},  // ends at the right edge
        {3, 1, 1, 3, 1, nullptr},
        {4, 2, 0, 4, 3, nullptr},  // whole row
    };
    int16_t** image = runs_to_label_image(link(nodes), 4, 5);
    const std::vector<std::vector<int>> expected = {
        {1, 0, 2, 2, 2},
        {0, 1, 1, 1, 0},
        {3, 3, 3, 3, 3},
        {0, 0, 0, 0, 0},
    };
    EXPECT_EQ(to_rows(image, 4, 5), expected);
    free_short_matrix(image, 4, 5);
}

TEST(RunsToLabelImage, HandlesEmptyDimensions) {
    int16_t** no_rows = runs_to_label_image(nullptr, 0, 7);
    free_short_matrix(no_rows, 0, 7);
    int16_t** no_cols = runs_to_label_image(nullptr, 3, 0);
    free_short_matrix(no_cols, 3, 0);
}

struct WrapCase {
    int32_t label;
    int16_t stored;
};

class RunsToLabelImageWrap : public testing::TestWithParam<WrapCase> {};

TEST_P(RunsToLabelImageWrap, KeepsLowSixteenBits) {
    std::vector<RunNode> nodes = {{1, 0, 1, 2, GetParam().label, nullptr}};
    int16_t** image = runs_to_label_image(link(nodes), 1, 3);
    EXPECT_EQ(image[0][0], 0);
    EXPECT_EQ(image[0][1], GetParam().stored);
    EXPECT_EQ(image[0][2], GetParam().stored);
    free_short_matrix(image, 1, 3);
}

INSTANTIATE_TEST_SUITE_P(Labels, RunsToLabelImageWrap,
                         testing::Values(WrapCase{32767, 32767}, WrapCase{32768, -32768},
                                         WrapCase{65535, -1}, WrapCase{65536, 0},
                                         WrapCase{65537, 1}, WrapCase{70000, 4464}));

}  // namespace
