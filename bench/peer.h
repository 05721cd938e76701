// The peer: OpenCV's connected-components calls, built in only when CMake
// finds OpenCV (RUNLABEL_BENCH_OPENCV is then defined).
#pragma once

#ifdef RUNLABEL_BENCH_OPENCV
#include <cstdint>

#include "bench/cases.h"
#include "bench/images.h"

// Makes OpenCV run on one thread, as the labeling does. Call before timing.
void prepare_peer();

// Registers, for both connectivities, cv::connectedComponents with its
// default algorithm, with SAUF, and connectedComponentsWithStats, all into
// 32-bit labels with a warm buffer.
void add_peer_benchmarks(const Family& family, int size);

// Compares our 32-bit labels of the image with the peer's, once per image and
// connectivity, and notes the outcome for the summary.
void check_against_peer(const BenchImage& image, int connectivity, const uint32_t* ours);
#endif
