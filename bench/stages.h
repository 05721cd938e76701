// Registration of every benchmark: per image, the pipeline's stages one by
// one, the in-memory labeling as a whole and, when built in, the peer.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>

// Registers the benchmarks in image order (all of one image together, so each
// image is generated once). Call once, before RunSpecifiedBenchmarks.
// Returns the width of the longest name as the report shows it.
std::size_t register_benchmarks();

// Sets the pixels of one call as the items processed, so that the report
// shows pixels per second.
void count_pixels(benchmark::State& state, int size);
