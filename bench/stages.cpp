// The library timed on in-memory images the way a caller uses it: label an
// image into a label buffer of the caller's (warm, as the peer's), optionally
// with the regions' statistics; and the greymap file reader and writer on
// their own.
#include "bench/stages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/cases.h"
#include "bench/peer.h"
#include "bench/summary.h"
#include "imagefiles/imagefiles.h"
#include "runlabel/runlabel.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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

// What one of our benchmarks asks of the library.
struct Variant {
    int connectivity;
    runlabel::LabelType type;  // u8 (wrapping, as the command line) or u32
    bool stats;
};

template <int kConnectivity, runlabel::LabelType kType, bool kStats, int kThreads = 1>
void bench_ours(benchmark::State& state, const Family& family, int size) {
    const BenchImage& image = bench_image(family, size);
    const runlabel::ImageView view = runlabel::image_view(image.grey.pixels[0], size, size);
    const std::size_t label_bytes = kType == runlabel::LabelType::u8 ? 1 : 4;
    std::vector<unsigned char> buffer(std::size_t(size) * size * label_bytes);
    const runlabel::LabelView out{buffer.data(), kType, size, size, 0, 0};
    runlabel::Options options;
    options.connectivity = kConnectivity;
    options.wrap = kType == runlabel::LabelType::u8;
    options.threads = kThreads;
    std::vector<runlabel::Region> regions;
    auto once = [&] { return runlabel::label(view, out, options, kStats ? &regions : nullptr); };
    const uint64_t count = once();  // warms the buffer, as the peer's
    note_labeling(image.name, kConnectivity,
                  static_cast<long long>(runlabel::label(view, options).run_count()),
                  static_cast<long long>(count));
#ifdef RUNLABEL_BENCH_OPENCV
    if constexpr (kType == runlabel::LabelType::u32 && !kStats && kThreads == 1) {
        check_against_peer(image, kConnectivity, reinterpret_cast<const uint32_t*>(buffer.data()));
    }
#endif
    for (auto _ : state) {
        benchmark::DoNotOptimize(once());
        benchmark::DoNotOptimize(regions.data());
    }
    count_pixels(state, size);
}

using BenchFn = void (*)(benchmark::State&, const Family&, int);

std::size_t longest_name = 0;

benchmark::internal::Benchmark* add(const std::string& stage, BenchFn fn, const Family& family,
                                    int size) {
    const std::string name = stage + "/" + family.name + "/" + std::to_string(size);
    longest_name = std::max(longest_name, name.size() + std::strlen("_median"));
    return benchmark::RegisterBenchmark(name.c_str(), fn, family, size)
        ->Unit(benchmark::kMillisecond);
}

void add_comparisons(const Family& family, int size) {
    using runlabel::LabelType;
    const struct {
        const char* stage;
        BenchFn fn;
    } ours[] = {
        {"label8-4c", bench_ours<4, LabelType::u8, false>},
        {"label32-4c", bench_ours<4, LabelType::u32, false>},
        {"stats-4c", bench_ours<4, LabelType::u32, true>},
        {"label8-8c", bench_ours<8, LabelType::u8, false>},
        {"label32-8c", bench_ours<8, LabelType::u32, false>},
        {"stats-8c", bench_ours<8, LabelType::u32, true>},
        {"label32j2-4c", bench_ours<4, LabelType::u32, false, 2>},
        {"label32j2-8c", bench_ours<8, LabelType::u32, false, 2>},
    };
    for (const auto& o : ours) add_compared(o.stage, o.fn, family, size);
#ifdef RUNLABEL_BENCH_OPENCV
    add_peer_benchmarks(family, size);
#endif
}

}  // namespace

void count_pixels(benchmark::State& state, int size) {
    state.SetItemsProcessed(state.iterations() * size * static_cast<int64_t>(size));
}

void add_compared(const char* stage, BenchFn fn, const Family& family, int size) {
    benchmark::internal::Benchmark* bench = add(stage, fn, family, size);
    if (size > 4096) {
        bench->Iterations(1)->Repetitions(3);
    } else {
        bench->MinTime(0.05)->Repetitions(5);
    }
    bench->DisplayAggregatesOnly(true);  // --benchmark_out keeps every repetition
}

std::size_t register_benchmarks() {
    for (int size : {2048, 4096}) {
        for (const Family& family : all_families()) {
            add("read", bench_read, family, size)->UseManualTime()->MinTime(0.05);
            add("write", bench_write, family, size)->UseManualTime()->MinTime(0.05);
            add_comparisons(family, size);
        }
    }
    // One very large image: noise in 4 x 4 blocks has millions of runs and
    // regions without taking minutes per call.
    add_comparisons(*find_family("noise50-b4"), 16384);
    return longest_name;
}
