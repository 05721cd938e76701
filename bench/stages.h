// Registration of every benchmark: per image, reading and writing its file,
// and per connectivity the library's labeling (8- and 32-bit labels, with and
// without statistics) beside the peer's calls.
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

// Adds a benchmark named stage/family/size to the comparisons of one image:
// repeated, compared on medians.
void add_compared(const char* stage, void (*fn)(benchmark::State&, const struct Family&, int),
                  const Family& family, int size);
