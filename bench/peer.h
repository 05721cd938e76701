// The peer: OpenCV's connected-components call, built in only when CMake
// finds OpenCV (RUNLABEL_BENCH_OPENCV is then defined).
#pragma once

#ifdef RUNLABEL_BENCH_OPENCV
#include <benchmark/benchmark.h>

#include "bench/images.h"

// Makes OpenCV run on one thread, as the labeling does. Call before timing.
void prepare_peer();

// Times cv::connectedComponents(image, labels, 4, CV_32S) with a warm label
// buffer. The first time an image is seen, the peer's labels are compared
// with ours and the outcome is noted for the summary.
void bench_peer(benchmark::State& state, const Family& family, int size);
#endif
