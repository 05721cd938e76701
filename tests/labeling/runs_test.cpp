// Run-length encoding against a pixel-by-pixel reference: run numbering in
// raster order, the RowIndex, and the guard on the run counter.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "labeling/labeling.h"
#include "labeling/run_limits.h"
#include "support/support.h"

namespace {

struct Span {
    int row, scol, ecol;
    bool operator==(const Span&) const = default;
};

// Encodes rows given as strings ('#' = foreground) and checks the list's own
// invariants; returns the runs and the RowIndex.
struct Encoded {
    std::vector<Span> runs;
    std::vector<std::pair<int, int>> index;
};

Encoded encode(const std::vector<std::vector<int16_t>>& pixels, int cols) {
    const int rows = static_cast<int>(pixels.size());
    int16_t** binary = alloc_short_matrix(rows, cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) binary[r][c] = pixels[r][c];
    RowIndex index = alloc_int_matrix(rows, 2);
    int count = -1;
    RunNode* list = image_to_runs(binary, rows, cols, index, &count);
    Encoded out;
    int expected_id = 1;
    for (RunNode* n = list; n != nullptr; n = n->next) {
        EXPECT_EQ(n->run_id, expected_id++);
        EXPECT_EQ(n->label, 0);
        out.runs.push_back({n->row, n->scol, n->ecol});
    }
    EXPECT_EQ(count, static_cast<int>(out.runs.size()));
    for (int r = 0; r < rows; ++r) out.index.emplace_back(index[r][0], index[r][1]);
    free_run_list(list);
    free_int_matrix(index, rows, 2);
    free_short_matrix(binary, rows, cols);
    return out;
}

std::vector<std::vector<int16_t>> from_strings(const std::vector<std::string>& rows) {
    std::vector<std::vector<int16_t>> pixels;
    for (const auto& row : rows) {
        pixels.emplace_back();
        for (char ch : row) pixels.back().push_back(ch == '#' ? 1 : 0);
    }
    return pixels;
}

// The plain reference: a run starts at every foreground pixel whose left
// neighbour is background.
Encoded reference(const std::vector<std::vector<int16_t>>& pixels, int cols) {
    Encoded out;
    for (int r = 0; r < static_cast<int>(pixels.size()); ++r) {
        int first = static_cast<int>(out.runs.size()) + 1;
        for (int c = 0; c < cols; ++c) {
            if (pixels[r][c] == 0) continue;
            if (c > 0 && pixels[r][c - 1] != 0)
                out.runs.back().ecol = c;
            else
                out.runs.push_back({r, c, c});
        }
        int last = static_cast<int>(out.runs.size());
        out.index.emplace_back(last >= first ? first : 0, last >= first ? last : 0);
    }
    return out;
}

TEST(ImageToRuns, EdgeRows) {
    Encoded e = encode(from_strings({"#####", "..#..", "##.#.", ".....", "....#"}), 5);
    EXPECT_EQ(e.runs, (std::vector<Span>{{0, 0, 4}, {1, 2, 2}, {2, 0, 1}, {2, 3, 3}, {4, 4, 4}}));
    EXPECT_EQ(e.index, (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 4}, {0, 0}, {5, 5}}));
}

TEST(ImageToRuns, AnyNonZeroValueIsForeground) {
    Encoded e = encode({{1, 255, -1, 0, 32767, -32768}}, 6);
    EXPECT_EQ(e.runs, (std::vector<Span>{{0, 0, 2}, {0, 4, 5}}));
}

TEST(ImageToRuns, EmptyImagesGiveNoRuns) {
    Encoded blank = encode(from_strings({"....", "....", "...."}), 4);
    EXPECT_TRUE(blank.runs.empty());
    EXPECT_EQ(blank.index, (std::vector<std::pair<int, int>>(3, {0, 0})));
    EXPECT_TRUE(encode({{}, {}}, 0).runs.empty());
    EXPECT_TRUE(encode({}, 5).runs.empty());
}

TEST(ImageToRuns, MatchesPixelReferenceOnRandomRows) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 400; ++trial) {
        const int rows = 1 + static_cast<int>(rng() % 12);
        const int cols = 1 + static_cast<int>(rng() % 150);
        std::bernoulli_distribution ink(0.05 + 0.9 * (trial % 10) / 9.0);
        std::vector<std::vector<int16_t>> pixels(rows, std::vector<int16_t>(cols));
        for (auto& row : pixels)
            for (auto& px : row) px = ink(rng) ? static_cast<int16_t>(1 + rng() % 300) : 0;
        Encoded got = encode(pixels, cols);
        Encoded want = reference(pixels, cols);
        ASSERT_EQ(got.runs, want.runs) << "trial " << trial;
        ASSERT_EQ(got.index, want.index) << "trial " << trial;
    }
}

TEST(RunPool, NodesFreedOutOfOrderAreReused) {
    std::vector<RunNode*> nodes;
    for (int i = 0; i < 20000; ++i) nodes.push_back(alloc_run_node());
    for (int i = 0; i < 20000; i += 2) free_run_node(nodes[i]);
    RunNode* again = alloc_run_node();
    EXPECT_EQ(again, nodes[19998]);
    free_run_node(again);
    for (int i = 1; i < 20000; i += 2) free_run_node(nodes[i]);
}

TEST(RunCounterDeathTest, StopsBeforeTheCounterOverflows) {
    EXPECT_EQ(next_run_number(INT_MAX - 2), INT_MAX - 1);
    EXPECT_EXIT(next_run_number(INT_MAX - 1), testing::ExitedWithCode(1),
                "\nToo many runs in image\n");
}

}  // namespace
