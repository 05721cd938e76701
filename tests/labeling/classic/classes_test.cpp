// Equivalence classes: the table states of single merges, the class invariants
// after long random merge sequences, and the cost of merging two classes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "labeling/classic/classic.h"
#include "support/support.h"

namespace {

class MergeClasses : public testing::Test {
  protected:
    static constexpr int kLabels = 1000;

    void SetUp() override {
        eq_ = alloc_int_matrix(kLabels + 1, 2);
        head_ = alloc_int_vector(kLabels + 1);
        std::fill(head_, head_ + kLabels + 1, 0);
    }
    void TearDown() override {
        free_int_matrix(eq_, kLabels + 1, 2);
        free_int_vector(head_, kLabels + 1);
    }

    void merge(int a, int b) { merge_classes(a, b, eq_, head_); }
    int lbl(int x) const { return eq_[x][kLbl]; }

    // The member list of representative rep, in list order.
    std::vector<int> members(int rep) const {
        std::vector<int> list;
        for (int x = head_[rep]; x != 0 && list.size() <= kLabels; x = eq_[x][kNext]) {
            list.push_back(x);
        }
        return list;
    }

    std::vector<int> head_values(int from, int to) const { return {head_ + from, head_ + to + 1}; }

    // Every classed label is listed exactly once, under its own representative;
    // representatives name themselves; only representatives have a list.
    void expect_invariants() const {
        std::vector<int> listed(kLabels + 1, 0);
        for (int x = 1; x <= kLabels; ++x) {
            if (lbl(x) != x) {
                ASSERT_EQ(head_[x], 0) << "label " << x;
                continue;
            }
            for (int member : members(x)) {
                ASSERT_EQ(lbl(member), x) << "member " << member;
                ++listed[member];
            }
        }
        for (int x = 1; x <= kLabels; ++x) {
            ASSERT_EQ(listed[x], lbl(x) == 0 ? 0 : 1) << "label " << x;
        }
    }

    EqTable eq_ = nullptr;
    int32_t* head_ = nullptr;
};

TEST_F(MergeClasses, BuildsAndJoinsListsInDocumentedOrder) {
    merge(1, 2);
    EXPECT_EQ(lbl(1), 1);
    EXPECT_EQ(lbl(2), 1);
    EXPECT_EQ(members(1), (std::vector<int>{1, 2}));
    EXPECT_EQ(head_[1], 1);

    merge(3, 2);
    EXPECT_EQ(lbl(3), 1);
    EXPECT_EQ(members(1), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(head_[1], 3);

    merge(5, 4);
    EXPECT_EQ(members(5), (std::vector<int>{5, 4}));
    merge(1, 5);
    for (int x = 1; x <= 5; ++x) EXPECT_EQ(lbl(x), 1) << x;
    EXPECT_EQ(members(1), (std::vector<int>{5, 4, 3, 1, 2}));
    EXPECT_EQ(head_values(1, 5), (std::vector<int>{5, 0, 0, 0, 0}));
    expect_invariants();

    const std::vector<int> before = members(1);
    merge(2, 4);
    merge(4, 1);
    EXPECT_EQ(members(1), before);
    EXPECT_EQ(head_values(1, 5), (std::vector<int>{5, 0, 0, 0, 0}));
}

TEST_F(MergeClasses, UnclassedFirstLabelJoinsFrontOfOtherClass) {
    merge(1, 2);
    merge(4, 2);
    EXPECT_EQ(lbl(4), 1);
    EXPECT_EQ(members(1), (std::vector<int>{4, 1, 2}));
    expect_invariants();
}

TEST_F(MergeClasses, EqualClassesKeepFirstRepresentative) {
    merge(1, 2);
    merge(3, 4);
    merge(1, 3);
    EXPECT_EQ(members(1), (std::vector<int>{3, 4, 1, 2}));
    EXPECT_EQ(head_[3], 0);
    expect_invariants();
}

TEST_F(MergeClasses, SmallerFirstClassJoinsLargerSecond) {
    merge(1, 2);
    merge(3, 4);
    merge(5, 4);
    merge(1, 3);
    for (int x = 1; x <= 5; ++x) EXPECT_EQ(lbl(x), 3) << x;
    EXPECT_EQ(members(3), (std::vector<int>{1, 2, 5, 3, 4}));
    EXPECT_EQ(head_values(1, 5), (std::vector<int>{0, 0, 1, 0, 0}));
    expect_invariants();
}

// A growing class handed in as b, over and over: the pattern a bar on a long
// edge produces. Each merge must cost the small class only.
TEST_F(MergeClasses, MergeWorkIsSmallerClassSize) {
    for (int x = 2; x <= 500; ++x) merge(1, x);
    int joined = 500;
    for (int x = 501; x + 2 <= kLabels; x += 3, joined += 3) {
        merge(x, x + 1);
        merge(x + 2, x);
        int64_t steps = 0;
        merge_classes(x + 1, 1, eq_, head_, &steps);
        ASSERT_EQ(steps, 3) << x;
    }
    EXPECT_EQ(static_cast<int>(members(1).size()), joined);
    expect_invariants();
}

// Random merges among a window of labels that widens as new labels appear, as
// in the top-down pass; classes are checked against a plain union-find.
TEST_F(MergeClasses, RandomSequencesKeepInvariants) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        TearDown();
        SetUp();
        std::mt19937 rng(seed);
        std::vector<int> parent(kLabels + 1);
        std::iota(parent.begin(), parent.end(), 0);
        auto find = [&parent](int x) {
            while (parent[x] != x) x = parent[x] = parent[parent[x]];
            return x;
        };
        int64_t steps = 0;
        for (int step = 0; step < 6000; ++step) {
            const int window = std::min(kLabels, 2 + step / 4);
            std::uniform_int_distribution<int> pick(1, window);
            const int a = pick(rng);
            const int b = pick(rng);
            if (a == b) continue;
            merge_classes(a, b, eq_, head_, &steps);
            parent[find(a)] = find(b);
            if (step % 500 == 0) expect_invariants();
        }
        expect_invariants();
        for (int x = 1; x <= kLabels; ++x) {
            for (int y : {1, x / 2 + 1, kLabels}) {
                if (y == x) continue;
                const bool joined = lbl(x) != 0 && lbl(x) == lbl(y);
                ASSERT_EQ(joined, find(x) == find(y)) << x << " " << y;
            }
        }
        // Moving the smaller class at least doubles a label's class each time.
        EXPECT_LE(steps, kLabels * std::log2(kLabels)) << seed;
    }
}

}  // namespace
