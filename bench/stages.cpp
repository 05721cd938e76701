// The pipeline's stages timed one at a time on prepared inputs, and the
// in-memory labeling (binary image to label image) timed as a whole.
// Stage timings leave out the setup and release around each call; the whole
// labeling includes everything a caller pays per image, releases too.
#include "bench/stages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/cases.h"
#include "bench/peer.h"
#include "bench/summary.h"
#include "imagefiles/imagefiles.h"
#include "labeling/labeling.h"
#include "support/support.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs and labels of one image, made outside the timed region.
struct Labelled {
    int size;
    RowIndex row_index;
    RunNode* runs;
    int run_count = 0;
    int regions = 0;

    Labelled(const BenchImage& image, bool label) : size(image.size) {
        row_index = alloc_int_matrix(size, 2);
        runs = image_to_runs(image.binary, size, size, row_index, &run_count);
        if (label) runs = label_runs_4(runs, row_index, run_count, size, 1, &regions);
    }
    ~Labelled() {
        free_run_list(runs);
        free_int_matrix(row_index, size, 2);
    }
    Labelled(const Labelled&) = delete;
    Labelled& operator=(const Labelled&) = delete;
};

void bench_read(benchmark::State& state, const Family& family, int size) {
    BenchImage& image = bench_image(family, size);
    const std::string& path = pgm_file(image);
    for (auto _ : state) {
        const auto start = Clock::now();
        GreyImage* grey = read_pgm(path.c_str());
        state.SetIterationTime(seconds_since(start));
        if (grey == nullptr) {
            state.SkipWithError("read_pgm refused the benchmark's own file");
            break;
        }
        free_pgm(grey);
    }
    count_pixels(state, size);
}

void bench_image_to_runs(benchmark::State& state, const Family& family, int size) {
    const BenchImage& image = bench_image(family, size);
    for (auto _ : state) {
        RowIndex row_index = alloc_int_matrix(size, 2);
        int run_count = 0;
        const auto start = Clock::now();
        RunNode* runs = image_to_runs(image.binary, size, size, row_index, &run_count);
        state.SetIterationTime(seconds_since(start));
        free_run_list(runs);
        free_int_matrix(row_index, size, 2);
    }
    count_pixels(state, size);
}

void bench_label_runs(benchmark::State& state, const Family& family, int size) {
    Labelled in(bench_image(family, size), false);
    for (auto _ : state) {
        const auto start = Clock::now();
        in.runs = label_runs_4(in.runs, in.row_index, in.run_count, size, 1, &in.regions);
        state.SetIterationTime(seconds_since(start));
    }
    count_pixels(state, size);
}

void bench_paint(benchmark::State& state, const Family& family, int size) {
    const Labelled in(bench_image(family, size), true);
    for (auto _ : state) {
        const auto start = Clock::now();
        int16_t** label_image = runs_to_label_image(in.runs, size, size);
        state.SetIterationTime(seconds_since(start));
        free_short_matrix(label_image, size, size);
    }
    count_pixels(state, size);
}

void bench_write(benchmark::State& state, const Family& family, int size) {
    const BenchImage& image = bench_image(family, size);
    const std::string path = scratch_path("output.pgm");
    for (auto _ : state) {
        // A new file each time: ext4 flushes a file truncated and written
        // again when it is closed, which would time the disk, not the writer.
        std::remove(path.c_str());
        const auto start = Clock::now();
        write_pgm(path.c_str(), &image.grey);
        state.SetIterationTime(seconds_since(start));
    }
    std::remove(path.c_str());
    count_pixels(state, size);
}

// Everything a caller does to turn a binary image into a label image.
int16_t** label_image_of(const BenchImage& image, int* run_count, int* regions) {
    const int size = image.size;
    RowIndex row_index = alloc_int_matrix(size, 2);
    RunNode* runs = image_to_runs(image.binary, size, size, row_index, run_count);
    runs = label_runs_4(runs, row_index, *run_count, size, 1, regions);
    int16_t** label_image = runs_to_label_image(runs, size, size);
    free_run_list(runs);
    free_int_matrix(row_index, size, 2);
    return label_image;
}

void bench_labeling(benchmark::State& state, const Family& family, int size) {
    const BenchImage& image = bench_image(family, size);
    int run_count = 0;
    int regions = 0;
    free_short_matrix(label_image_of(image, &run_count, &regions), size, size);  // warm-up
    for (auto _ : state) {
        int16_t** label_image = label_image_of(image, &run_count, &regions);
        benchmark::DoNotOptimize(label_image[0][0]);
        free_short_matrix(label_image, size, size);
    }
    note_labeling(image.name, run_count, regions);
    count_pixels(state, size);
}

using BenchFn = void (*)(benchmark::State&, const Family&, int);

std::size_t longest_name = 0;

benchmark::internal::Benchmark* add(const char* stage, BenchFn fn, const Family& family, int size) {
    const std::string name = std::string(stage) + "/" + family.name + "/" + std::to_string(size);
    longest_name = std::max(longest_name, name.size() + std::strlen("_median"));
    return benchmark::RegisterBenchmark(name.c_str(), fn, family, size)
        ->Unit(benchmark::kMillisecond);
}

// Ours and the peer are compared on medians of several repetitions.
void add_pair_member(benchmark::internal::Benchmark* bench, int size) {
    if (size > 4096) {
        bench->Iterations(1)->Repetitions(3);
    } else {
        bench->MinTime(0.05)->Repetitions(5);
    }
    bench->DisplayAggregatesOnly(true);  // --benchmark_out keeps every repetition
}

void add_comparison(const Family& family, int size) {
    add_pair_member(add(kLabelingStage, bench_labeling, family, size), size);
#ifdef RUNLABEL_BENCH_OPENCV
    add_pair_member(add(kPeerStage, bench_peer, family, size), size);
#endif
}

}  // namespace

void count_pixels(benchmark::State& state, int size) {
    state.SetItemsProcessed(state.iterations() * size * static_cast<int64_t>(size));
}

std::size_t register_benchmarks() {
    for (int size : {512, 2048, 4096}) {
        for (const Family& family : all_families()) {
            const struct {
                const char* stage;
                BenchFn fn;
            } stages[] = {{"read", bench_read},
                          {"image_to_runs", bench_image_to_runs},
                          {"label_runs_4", bench_label_runs},
                          {"runs_to_label_image", bench_paint},
                          {"write", bench_write}};
            for (const auto& stage : stages) {
                add(stage.stage, stage.fn, family, size)->UseManualTime()->MinTime(0.05);
            }
            add_comparison(family, size);
        }
    }
    // One very large image, for the labeling alone: noise in 4 x 4 blocks has
    // millions of runs and regions without taking minutes per call.
    add_comparison(*find_family("noise30-b4"), 16384);
    return longest_name;
}
