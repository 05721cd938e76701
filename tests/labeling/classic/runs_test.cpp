// Run-length encoding against a pixel-by-pixel reference: run numbering in
// raster order, the RowIndex, and the guard on the run counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <random>
#include <thread>
#include <vector>

#include "labeling/classic/classic.h"
#include "labeling/classic/run_limits.h"
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

// Rows of thousands of columns: many words per row, more runs in a row than
// the encoder gathers at once (with a run open across the batch), and more
// nodes than the pool's first chunk holds.
TEST(ImageToRuns, MatchesPixelReferenceOnWideRows) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 12; ++trial) {
        const int rows = trial == 0 ? 12 : 1 + trial % 4;
        const int cols = 2000 + static_cast<int>(rng() % 4000);
        std::vector<std::vector<int16_t>> pixels(rows, std::vector<int16_t>(cols, 0));
        for (auto& row : pixels) {
            for (int c = 0; c < cols; ++c) {
                // Alternating pixels give a run per two columns; the rest is noise
                // with stretches of foreground longer than a word.
                const bool on = trial % 3 == 0 ? c % 2 == 0 : (c / 100) % 3 == 0 || rng() % 2 == 0;
                row[c] = on ? 1 : 0;
            }
        }
        Encoded got = encode(pixels, cols);
        Encoded want = reference(pixels, cols);
        ASSERT_EQ(got.runs, want.runs) << "trial " << trial;
        ASSERT_EQ(got.index, want.index) << "trial " << trial;
    }
}

// Nodes released while others stay alive are handed out again by the encoder
// before fresh ones, so a process that keeps a list does not grow the pool
// with every image it encodes.
TEST(RunPool, EncoderTakesReleasedNodesFirst) {
    const auto pixels = from_strings({"#.#.#.#.#.", "##..##..##"});
    RowIndex index = alloc_int_matrix(2, 2);
    int count = 0;
    RunNode* alive = alloc_run_node();  // keeps the pool from emptying
    std::vector<RunNode*> released;
    for (int i = 0; i < 4; ++i) released.push_back(alloc_run_node());
    for (RunNode* node : released) free_run_node(node);
    int16_t** binary = alloc_short_matrix(2, 10);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 10; ++c) binary[r][c] = pixels[r][c];
    RunNode* list = image_to_runs(binary, 2, 10, index, &count);
    ASSERT_EQ(count, 8);
    std::vector<RunNode*> nodes;
    std::vector<Span> spans;
    for (RunNode* n = list; n != nullptr; n = n->next) {
        nodes.push_back(n);
        spans.push_back({n->row, n->scol, n->ecol});
    }
    EXPECT_EQ(spans, encode(pixels, 10).runs);
    for (RunNode* node : released) {
        EXPECT_NE(std::find(nodes.begin(), nodes.end(), node), nodes.end());
    }
    free_run_list(list);
    free_run_node(alive);
    free_short_matrix(binary, 2, 10);
    free_int_matrix(index, 2, 2);
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

// Threads encoding at once draw from pools of their own: a node that one
// thread released is never handed to another, and no thread's list changes
// under it while the others make and release theirs.
TEST(RunPool, ThreadsDrawFromPoolsOfTheirOwn) {
    const auto pixels = from_strings({"#.#.#.#.#.", "##..##..##", "..........", "##########"});
    const std::vector<Span> want = encode(pixels, 10).runs;
    int16_t** binary = alloc_short_matrix(4, 10);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 10; ++c) binary[r][c] = pixels[r][c];
    RunNode* alive = alloc_run_node();  // keeps this thread's pool, and released, in place
    RunNode* released = alloc_run_node();
    free_run_node(released);
    std::atomic<int> wrong_runs{0};
    std::atomic<int> foreign_nodes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            RowIndex index = alloc_int_matrix(4, 2);
            for (int i = 0; i < 500; ++i) {
                int count = 0;
                RunNode* list = image_to_runs(binary, 4, 10, index, &count);
                std::vector<Span> spans;
                for (RunNode* n = list; n != nullptr; n = n->next) {
                    if (n == released) ++foreign_nodes;
                    spans.push_back({n->row, n->scol, n->ecol});
                }
                if (spans != want) ++wrong_runs;
                free_run_list(list);
            }
            free_int_matrix(index, 4, 2);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong_runs.load(), 0);
    EXPECT_EQ(foreign_nodes.load(), 0);
    EXPECT_EQ(alloc_run_node(), released);  // still waiting in this thread's pool
    free_run_node(released);
    free_run_node(alive);
    free_short_matrix(binary, 4, 10);
}

TEST(RunCounterDeathTest, StopsBeforeTheCounterOverflows) {
    EXPECT_EQ(skip_run_numbers(INT_MAX - 2, 1), INT_MAX - 1);
    EXPECT_EXIT(skip_run_numbers(INT_MAX - 1, 1), testing::ExitedWithCode(1),
                "\nToo many runs in image\n");
}

}  // namespace
