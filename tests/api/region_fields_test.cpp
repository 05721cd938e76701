// The statistics of a region against sums over its pixels, however its runs
// are gathered: a stretch per run or per row, rows split into parts that are
// merged afterwards in either order. Every statistic is checked at once, so a
// new one whose run update, add and merge disagree fails here.
#include "labeling/region_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/api/api_fixture.h"

namespace {

using Statistics = runlabel::engine::RegionStatistics;

struct Stretch {
    std::int64_t row;
    std::uint64_t from, to;  // columns [from, to)
};

// Runs of one region in raster order: a few rows of up to four runs apart.
std::vector<Stretch> random_runs(std::mt19937& rng) {
    std::vector<Stretch> runs;
    std::int64_t row = static_cast<std::int64_t>(rng() % 1000);
    const int rows = 1 + static_cast<int>(rng() % 12);
    for (int r = 0; r < rows; ++r, row += 1 + static_cast<std::int64_t>(rng() % 3)) {
        std::uint64_t column = rng() % 5000;
        const int count = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < count; ++k) {
            const std::uint64_t length = 1 + rng() % 300;
            runs.push_back({row, column, column + length});
            column += length + 1 + rng() % 40;
        }
    }
    return runs;
}

runlabel::Region pixel_by_pixel(const std::vector<Stretch>& runs) {
    runlabel::Region g;
    g.label = 7;
    g.left = g.top = INT64_MAX;
    g.right = g.bottom = INT64_MIN;
    for (const Stretch& run : runs) {
        for (std::uint64_t x = run.from; x < run.to; ++x) {
            ++g.area;
            g.sum_x += x;
            g.sum_y += static_cast<std::uint64_t>(run.row);
            g.left = std::min(g.left, static_cast<std::int64_t>(x));
            g.right = std::max(g.right, static_cast<std::int64_t>(x));
            g.top = std::min(g.top, run.row);
            g.bottom = std::max(g.bottom, run.row);
        }
    }
    return g;
}

// A record of the runs for which keep(index) holds, each row's runs side by
// side one stretch (by_row) or each run its own.
template <typename Keep>
runlabel::Region summed(const std::vector<Stretch>& runs, bool by_row, Keep keep) {
    runlabel::Region g;
    g.label = 7;
    Statistics::clear(g);
    for (std::size_t i = 0; i < runs.size();) {
        if (!keep(i)) {
            ++i;
            continue;
        }
        Statistics::Parts sums = Statistics::start(runs[i].from);
        const std::int64_t row = runs[i].row;
        do {
            Statistics::add_run(sums, runs[i].from, runs[i].to);
            ++i;
        } while (by_row && i < runs.size() && runs[i].row == row && keep(i));
        Statistics::add(g, sums, row);
    }
    return g;
}

enum class Gathering { kRunByRun, kRowByRow, kRowsInTwoParts, kPartsInReverse };

class RegionFields : public testing::TestWithParam<Gathering> {};

TEST_P(RegionFields, AgreeWithSumsOverThePixels) {
    std::mt19937 rng(0x3f1e + static_cast<unsigned>(GetParam()));
    for (int region_no = 0; region_no < 300; ++region_no) {
        const std::vector<Stretch> runs = random_runs(rng);
        runlabel::Region got;
        switch (GetParam()) {
            case Gathering::kRunByRun:
                got = summed(runs, false, [](std::size_t) { return true; });
                break;
            case Gathering::kRowByRow:
                got = summed(runs, true, [](std::size_t) { return true; });
                break;
            case Gathering::kRowsInTwoParts:
            case Gathering::kPartsInReverse: {
                // Rows dealt at random to two parts, each summed in row order.
                std::vector<bool> in_first(runs.size());
                for (std::size_t i = 0; i < runs.size(); ++i) {
                    in_first[i] =
                        i > 0 && runs[i].row == runs[i - 1].row ? in_first[i - 1] : rng() % 2 == 0;
                }
                runlabel::Region first =
                    summed(runs, true, [&](std::size_t i) { return in_first[i]; });
                runlabel::Region second =
                    summed(runs, true, [&](std::size_t i) { return !in_first[i]; });
                if (GetParam() == Gathering::kPartsInReverse) std::swap(first, second);
                // The public merge, which takes an empty part or record as it is.
                got.label = 7;
                runlabel::merge(got, first);
                runlabel::merge(got, second);
                break;
            }
        }
        ASSERT_EQ(got, pixel_by_pixel(runs)) << "region " << region_no;
    }
}

INSTANTIATE_TEST_SUITE_P(Gatherings, RegionFields,
                         testing::Values(Gathering::kRunByRun, Gathering::kRowByRow,
                                         Gathering::kRowsInTwoParts, Gathering::kPartsInReverse));

// The tables' columns are told apart by name.
template <typename Columns>
void expect_distinct_names(const Columns& columns) {
    std::vector<std::string> names;
    runlabel::engine::for_each_column(columns, [&](const auto& c) {
        for (const std::string& name : names) EXPECT_NE(name, c.name);
        names.emplace_back(c.name);
    });
}

TEST(RegionFields, ColumnNamesAreDistinct) {
    expect_distinct_names(Statistics::table_columns<runlabel::Region>());
    expect_distinct_names(Statistics::python_columns<runlabel::Region>());
}

}  // namespace
