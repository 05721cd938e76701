// Merge work stays near one relabelled label per run on the images that make
// always-absorb-the-second-class quadratic: fine noise, and a ladder whose
// rungs each meet the one long edge line last.
#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "labeling/label_tables.h"
#include "tests/labeling/label_fixture.h"

namespace {

Picture noise(int side, double density) {
    std::mt19937 rng(side);
    std::bernoulli_distribution on(density);
    Picture pic{side, side, {}};
    for (int i = 0; i < side * side; ++i) pic.pixels.push_back(on(rng) ? 1 : 0);
    return pic;
}

// Every third row is a row of dots, joined by the bar under it to the edge line
// in the last column:
//   #.#.#.#..#
//   ##########
//   .........#
Picture ladder(int side) {
    Picture pic{side, side, std::vector<int>(static_cast<std::size_t>(side) * side, 0)};
    for (int r = 0; r < side; ++r) {
        int* row = pic.pixels.data() + static_cast<std::ptrdiff_t>(r) * side;
        row[side - 1] = 1;
        for (int c = 0; c < side - 1; ++c) {
            if (r % 3 == 0) row[c] = c % 2 == 0 && c < side - 3 ? 1 : 0;
            if (r % 3 == 1) row[c] = 1;
        }
    }
    return pic;
}

struct WorkCase {
    const char* name;
    Picture (*make)(int side);
};

void PrintTo(const WorkCase& work, std::ostream* out) { *out << work.name; }

class MergeWork : public testing::TestWithParam<WorkCase> {};

TEST_P(MergeWork, StaysNearOneStepPerRun) {
    for (int side : {128, 512}) {
        const Picture image = GetParam().make(side);
        for (int connectivity : {4, 8}) {
            const int64_t before = relabel_steps;
            testing::internal::CaptureStdout();
            const Labelling got = label_picture(image, connectivity);
            testing::internal::GetCapturedStdout();
            const double per_run = static_cast<double>(relabel_steps - before) / got.runs;
            EXPECT_LT(per_run, 1.5) << side << "x" << side << ", " << connectivity
                                    << "-neighbour: " << got.runs << " runs";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Textures, MergeWork,
    testing::Values(WorkCase{"Noise", [](int side) { return noise(side, 0.6); }},
                    WorkCase{"Ladder", ladder}),
    [](const testing::TestParamInfo<WorkCase>& info) { return std::string(info.param.name); });

}  // namespace
