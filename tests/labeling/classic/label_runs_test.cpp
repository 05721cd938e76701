// Two-pass run labeling on shapes where merge order matters, the start label,
// the "Run ID" line, the empty image and the guard on the start label.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/labeling/classic/label_fixture.h"

namespace {

// Expected labels as digits; the foreground is every digit. An empty eight
// means both connectivities agree.
struct Shape {
    const char* name;
    std::vector<std::string> four;
    std::vector<std::string> eight;
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.name; }

class LabelRunsShape : public testing::TestWithParam<Shape> {};

TEST_P(LabelRunsShape, LabelsEveryRun) {
    const Shape& shape = GetParam();
    const Picture image = picture(shape.four);
    for (int connectivity : {4, 8}) {
        const Picture expected =
            picture(connectivity == 8 && !shape.eight.empty() ? shape.eight : shape.four);
        testing::internal::CaptureStdout();
        const Labelling got = label_picture(image, connectivity);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(got.labels.pixels, expected.pixels) << connectivity << "-neighbour";
        EXPECT_EQ(got.regions, *std::max_element(expected.pixels.begin(), expected.pixels.end()));
        EXPECT_EQ(printed, "Run ID " + std::to_string(std::max(got.runs, 1)) + " \n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, LabelRunsShape,
    testing::Values(
        Shape{"U", {"1...1", "1...1", "11111"}, {}},
        Shape{"Spiral",
              {"111111111", "........1", ".11111..1", ".1...1..1", ".1.1.1..1", ".1.111..1",
               ".1......1", ".11111111"},
              {}},
        Shape{"CombJoinedAtBottom", {"1.1.1.1", "1.1.1.1", "1.1.1.1", "1111111"}, {}},
        Shape{"CombJoinedAtTop", {"1111111", "1.1.1.1", "1.1.1.1"}, {}},
        Shape{"CombTeethLeftOfRightEdge", {"1.1.1.1", "1.1.1.1", "1111111", "......1"}, {}},
        Shape{"StaircaseSharingColumns", {"11....", ".11...", "..11..", "...11.", "....11"}, {}},
        Shape{"StaircaseDiagonal",
              {"1...", ".2..", "..3.", "...4"},
              {"1...", ".1..", "..1.", "...1"}},
        Shape{"Checkerboard", {"1.2.", ".3.4", "5.6."}, {"1.1.", ".1.1", "1.1."}},
        Shape{"CornerTouchFalling", {"1.", ".2"}, {"1.", ".1"}},
        Shape{"CornerTouchRising", {".1", "2."}, {".1", "1."}},
        Shape{"OneSharedColumn", {"111...", "..111."}, {}},
        Shape{"OneEmptyColumnBetween", {"11....", "...22."}, {}},
        Shape{"EndsDiagonallyApart", {"11..", "..22"}, {"11..", "..11"}},
        Shape{"EmptyRowSeparates", {"111", "...", "222", "...", ".3."}, {}},
        Shape{"RingAroundDot", {"11111", "1...1", "1.2.1", "1...1", "11111"}, {}},
        Shape{"NumberedByFirstPixel", {"..1.", ".2..", "3..4"}, {"..1.", ".1..", "1..2"}},
        Shape{"LateJoinRenumbers", {"1.2.1", "1.2.1", "1...1", "11111"}, {}},
        Shape{"SingleRow", {"11.2.333"}, {}}, Shape{"SingleColumn", {"1", "1", ".", "2"}, {}},
        Shape{"AllBackground", {"...", "..."}, {}}, Shape{"AllForeground", {"111", "111"}, {}}),
    [](const testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

TEST(LabelRuns, StartLabelShiftsEveryRegion) {
    for (int connectivity : {4, 8}) {
        testing::internal::CaptureStdout();
        const Labelling got = label_picture(picture({"##..#", "....#", "#...."}), connectivity, 5);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(got.labels.pixels, picture({"55..6", "....6", "7...."}).pixels);
        EXPECT_EQ(got.regions, 3);
    }
}

TEST(LabelRuns, EmptyListPrintsRunIdOne) {
    for (int rows : {0, 3}) {
        RowIndex row_index = alloc_int_matrix(rows, 2);
        for (auto* label : {label_runs_4, label_runs_8}) {
            int regions = -1;
            testing::internal::CaptureStdout();
            EXPECT_EQ(label(nullptr, row_index, 0, rows, 1, &regions), nullptr);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "Run ID 1 \n");
            EXPECT_EQ(regions, 0);
        }
        free_int_matrix(row_index, rows, 2);
    }
}

TEST(LabelRuns, HighestStartLabelThatFits) {
    testing::internal::CaptureStdout();
    const Labelling got = label_picture(picture({"#.#"}), 4, INT_MAX - 2);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(got.labels.pixels, (std::vector<int>{INT_MAX - 2, 0, INT_MAX - 1}));
}

// A start at or below 0 would give two regions one number, and one whose last
// label would pass INT_MAX would overflow: both are refused.
TEST(LabelRuns, RefusesStartLabelOutOfRange) {
    set_fatal_handler([](const char* message) { throw std::runtime_error(message); });
    int16_t** binary = alloc_short_matrix(1, 5);
    for (int c = 0; c < 5; ++c) binary[0][c] = c % 2 == 0;  // three regions
    RowIndex row_index = alloc_int_matrix(1, 2);
    int runs = 0;
    RunNode* list = image_to_runs(binary, 1, 5, row_index, &runs);
    for (int start_label : {0, -4, INT_MAX - 1, INT_MAX}) {
        int regions = -1;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        try {
            label_runs_4(list, row_index, runs, 1, start_label, &regions);
            ADD_FAILURE() << "start label " << start_label << " accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Start label out of range");
        }
        testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
    }
    free_run_list(list);
    free_int_matrix(row_index, 1, 2);
    free_short_matrix(binary, 1, 5);
    set_fatal_handler(nullptr);
}

// Only the last label has to fit: three regions from INT_MAX - 9 end at
// INT_MAX - 7, and an empty image takes any start label.
TEST(LabelRuns, StartLabelNearIntMaxWhereTheLastLabelFits) {
    testing::internal::CaptureStdout();
    const Labelling got = label_picture(picture({"#.#.#"}), 8, INT_MAX - 9);
    const Labelling empty = label_picture(picture({"..."}), 4, INT_MAX);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(got.labels.pixels, (std::vector<int>{INT_MAX - 9, 0, INT_MAX - 8, 0, INT_MAX - 7}));
    EXPECT_EQ(got.regions, 3);
    EXPECT_EQ(empty.regions, 0);
}

}  // namespace
