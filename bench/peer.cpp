// OpenCV as the peer. Both number regions in raster order of their first
// pixel with its scan-based algorithms, so the check asks for identical
// labels; a block-based algorithm may number otherwise, which the check tells
// apart from different regions.
#include "bench/peer.h"

#include <malloc.h>

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "bench/stages.h"
#include "bench/summary.h"

namespace {

// Empty when the labels are equal; otherwise what differs, first.
std::string compare(const uint32_t* ours, const cv::Mat& theirs) {
    const int rows = theirs.rows;
    const int cols = theirs.cols;
    std::vector<int64_t> forward, backward;
    bool renumbered = false;
    for (int r = 0; r < rows; ++r) {
        const auto* row = theirs.ptr<int32_t>(r);
        for (int c = 0; c < cols; ++c) {
            const uint32_t o = ours[std::size_t(r) * cols + c];
            const auto t = static_cast<uint32_t>(row[c]);
            if (o == t) continue;
            renumbered = true;
            if ((o == 0) != (t == 0)) {
                return "MISMATCH: different regions at (" + std::to_string(r) + ", " +
                       std::to_string(c) + ")";
            }
        }
    }
    if (!renumbered) return "";
    // The same regions under other numbers: a one-to-one renaming.
    for (int r = 0; r < rows; ++r) {
        const auto* row = theirs.ptr<int32_t>(r);
        for (int c = 0; c < cols; ++c) {
            const uint32_t o = ours[std::size_t(r) * cols + c];
            const auto t = static_cast<uint32_t>(row[c]);
            if (o >= forward.size()) forward.resize(o + 1, -1);
            if (t >= backward.size()) backward.resize(t + 1, -1);
            if (forward[o] < 0) forward[o] = t;
            if (backward[t] < 0) backward[t] = o;
            if (forward[o] != t || backward[t] != o) {
                return "MISMATCH: different regions at (" + std::to_string(r) + ", " +
                       std::to_string(c) + ")";
            }
        }
    }
    return "renumbered";
}

cv::Mat input_of(const BenchImage& image) {
    return cv::Mat(image.size, image.size, CV_8U, image.grey.pixels[0]);
}

template <int kConnectivity, int kAlgorithm>
void bench_cv(benchmark::State& state, const Family& family, int size) {
    const cv::Mat input = input_of(bench_image(family, size));
    cv::Mat labels;
    auto once = [&] {
        return cv::connectedComponents(input, labels, kConnectivity, CV_32S, kAlgorithm);
    };
    once();  // sizes the label buffer, so the timed calls find it warm
    for (auto _ : state) benchmark::DoNotOptimize(once());
    count_pixels(state, size);
}

template <int kConnectivity>
void bench_cv_stats(benchmark::State& state, const Family& family, int size) {
    const cv::Mat input = input_of(bench_image(family, size));
    cv::Mat labels, stats, centroids;
    auto once = [&] {
        return cv::connectedComponentsWithStats(input, labels, stats, centroids, kConnectivity,
                                                CV_32S);
    };
    once();
    for (auto _ : state) benchmark::DoNotOptimize(once());
    count_pixels(state, size);
}

}  // namespace

void prepare_peer() {
    cv::setNumThreads(1);
    // The peer's tables come from malloc on every call. Past glibc's mapping
    // threshold (a 4096 x 4096 image) each call would map them afresh and pay
    // a page fault per page, which our engine, keeping its blocks, does not:
    // served from a heap that is never trimmed, they stay warm, as ours do.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
}

void add_peer_benchmarks(const Family& family, int size) {
    add_compared("cv-4c", bench_cv<4, cv::CCL_DEFAULT>, family, size);
    add_compared("sauf-4c", bench_cv<4, cv::CCL_SAUF>, family, size);
    add_compared("cvstats-4c", bench_cv_stats<4>, family, size);
    add_compared("cv-8c", bench_cv<8, cv::CCL_DEFAULT>, family, size);
    add_compared("sauf-8c", bench_cv<8, cv::CCL_SAUF>, family, size);
    add_compared("cvstats-8c", bench_cv_stats<8>, family, size);
}

void check_against_peer(const BenchImage& image, int connectivity, const uint32_t* ours) {
    if (is_checked(image.name, connectivity)) return;
    cv::Mat labels;
    cv::connectedComponents(input_of(image), labels, connectivity, CV_32S, cv::CCL_DEFAULT);
    note_check(image.name, connectivity, compare(ours, labels));
}
