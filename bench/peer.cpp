// OpenCV as the peer. Both sides number 4-connected regions in raster order
// of their first pixel, so the comparison demands identical labels, not just
// the same partition: anything else is reported as a mismatch.
#include "bench/peer.h"

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "bench/cases.h"
#include "bench/stages.h"
#include "bench/summary.h"
#include "labeling/labeling.h"
#include "support/support.h"

namespace {

std::string at(int row, int col) {
    // snprintf rather than string concatenation: g++ 12 -O3 raises a false
    // -Wrestrict on "(" + std::to_string(...).
    char text[32];
    std::snprintf(text, sizeof text, "(%d, %d)", row, col);
    return text;
}

// Walks our labelled runs over the peer's label image in raster order. A
// one-to-one renaming that makes the two agree means the same regions; the
// labels must then also be equal, as both number in raster order.
std::string compare_labels(const RunNode* runs, int regions, const cv::Mat& theirs,
                           int their_regions) {
    if (regions != their_regions) {
        return "MISMATCH: " + std::to_string(regions) + " regions, peer " +
               std::to_string(their_regions);
    }
    std::vector<int32_t> ours_to_theirs(static_cast<std::size_t>(regions) + 1, 0);
    std::vector<int32_t> theirs_to_ours(static_cast<std::size_t>(regions) + 1, 0);
    std::string renumbered_at;
    // Checks one pixel whose label is ours (0 = background) against theirs.
    auto agrees = [&](int32_t ours, int32_t t, int r, int c) {
        if (t < 0 || t > regions || (ours == 0) != (t == 0)) return false;
        if (ours == 0) return true;
        if (ours < 1 || ours > regions) return false;
        if (t != ours && renumbered_at.empty()) {
            renumbered_at =
                at(r, c) + ": ours " + std::to_string(ours) + ", theirs " + std::to_string(t);
        }
        int32_t& forward = ours_to_theirs[static_cast<std::size_t>(ours)];
        int32_t& backward = theirs_to_ours[static_cast<std::size_t>(t)];
        if (forward == 0) forward = t;
        if (backward == 0) backward = ours;
        return forward == t && backward == ours;
    };
    const RunNode* run = runs;
    for (int r = 0; r < theirs.rows; ++r) {
        const auto* row = theirs.ptr<int32_t>(r);
        for (int c = 0; c < theirs.cols; ++c) {
            while (run != nullptr && (run->row < r || (run->row == r && run->ecol < c))) {
                run = run->next;
            }
            const bool covered = run != nullptr && run->row == r && run->scol <= c;
            if (!agrees(covered ? run->label : 0, row[c], r, c)) {
                return "MISMATCH: different regions, first at " + at(r, c);
            }
        }
    }
    if (!renumbered_at.empty())
        return "MISMATCH: same regions, other numbering at " + renumbered_at;
    return "";
}

void check_against_ours(const BenchImage& image, const cv::Mat& theirs, int their_regions) {
    const int size = image.size;
    RowIndex row_index = alloc_int_matrix(size, 2);
    int run_count = 0;
    int regions = 0;
    RunNode* runs = image_to_runs(image.binary, size, size, row_index, &run_count);
    runs = label_runs_4(runs, row_index, run_count, size, 1, &regions);
    note_check(image.name, compare_labels(runs, regions, theirs, their_regions));
    free_run_list(runs);
    free_int_matrix(row_index, size, 2);
}

}  // namespace

void prepare_peer() { cv::setNumThreads(1); }

void bench_peer(benchmark::State& state, const Family& family, int size) {
    const BenchImage& image = bench_image(family, size);
    const cv::Mat input(size, size, CV_8U, image.grey.pixels[0]);
    cv::Mat labels;
    // The first call sizes the label buffer, so the timed calls find it warm.
    int count = cv::connectedComponents(input, labels, 4, CV_32S);
    if (!is_checked(image.name)) check_against_ours(image, labels, count - 1);
    for (auto _ : state) {
        count = cv::connectedComponents(input, labels, 4, CV_32S);
        benchmark::DoNotOptimize(count);
    }
    count_pixels(state, size);
}
