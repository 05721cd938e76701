// runlabel_bench: times the labeling pipeline stage by stage on generated
// images and, when built with OpenCV, against its connected-components call.
// "--write-pgm FAMILY SIZE OUT" writes one of the images as a greymap instead;
// "--write-mosaic FAMILY TILE SIZE OUT" a SIZE x SIZE greymap tiled with one,
// row by row, so that images far larger than memory can be made.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "bench/cases.h"
#include "bench/images.h"
#include "bench/peer.h"
#include "bench/quiet_stdout.h"
#include "bench/stages.h"
#include "bench/summary.h"
#include "imagefiles/imagefiles.h"
#include "support/support.h"

namespace {

constexpr int kMaxWriteSize = 32768;

void print_modes(const char* program) {
    std::printf(
        "Usage: %s [benchmark flags]     time every stage on every image family\n"
        "       %s --write-pgm FAMILY SIZE OUT\n"
        "                                  write one SIZE x SIZE image, print\n"
        "                                  \"FAMILY SIZE RUNS\" on standard output\n"
        "       %s --write-mosaic FAMILY TILE SIZE OUT\n"
        "                                  write a SIZE x SIZE image tiled with the\n"
        "                                  TILE x TILE one, a row at a time\n"
        "       %s --families            list the image families\n\n",
        program, program, program, program);
}

int list_families() {
    for (const Family& family : all_families()) std::printf("%s\n", family.name.c_str());
    return 0;
}

// A whole number from 1 to most, or -1 after saying what was wrong.
long parse_size(const char* text, long most) {
    char* end = nullptr;
    errno = 0;
    const long size = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || size < 1 || size > most) {
        std::fprintf(stderr, "runlabel_bench: size must be 1 to %ld, not \"%s\"\n", most, text);
        return -1;
    }
    return size;
}

int write_mosaic(const char* family_name, const char* tile_text, const char* size_text,
                 const char* out) {
    const Family* family = find_family(family_name);
    if (family == nullptr) {
        std::fprintf(stderr, "runlabel_bench: unknown family \"%s\" (see --families)\n",
                     family_name);
        return 2;
    }
    const long tile = parse_size(tile_text, kMaxWriteSize);
    const long size = parse_size(size_text, 1L << 30);
    if (tile < 0 || size < 0) return 2;
    const int t = static_cast<int>(tile);
    uint8_t** pixels = alloc_byte_matrix(t, t);
    fill_image(*family, pixels, t);
    std::FILE* file = std::fopen(out, "wb");
    if (file == nullptr) {
        std::perror(out);
        return 1;
    }
    std::fprintf(file, "P5\n%ld %ld\n255\n", size, size);
    // Each of the tile's rows, repeated across the width, once; the runs of
    // the image are those of its rows.
    std::vector<std::vector<uint8_t>> rows(t, std::vector<uint8_t>(static_cast<std::size_t>(size)));
    std::vector<long long> runs(t, 0);
    for (int r = 0; r < t; ++r) {
        for (long c = 0; c < size; ++c) rows[r][c] = pixels[r][c % t];
        uint8_t* row = rows[r].data();
        runs[r] = count_runs(&row, 1, static_cast<int>(size));
    }
    long long total = 0;
    bool ok = true;
    for (long r = 0; r < size && ok; ++r) {
        ok = std::fwrite(rows[r % t].data(), 1, rows[r % t].size(), file) == rows[r % t].size();
        total += runs[r % t];
    }
    ok = std::fclose(file) == 0 && ok;
    free_byte_matrix(pixels, t, t);
    if (!ok) {
        std::fprintf(stderr, "runlabel_bench: writing %s failed\n", out);
        std::remove(out);
        return 1;
    }
    std::printf("%s %ld %lld\n", family->name.c_str(), size, total);
    return 0;
}

int write_one(const char* family_name, const char* size_text, const char* out) {
    const Family* family = find_family(family_name);
    if (family == nullptr) {
        std::fprintf(stderr, "runlabel_bench: unknown family \"%s\" (see --families)\n",
                     family_name);
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    const long size = std::strtol(size_text, &end, 10);
    if (errno != 0 || end == size_text || *end != '\0' || size < 1 || size > kMaxWriteSize) {
        std::fprintf(stderr, "runlabel_bench: size must be 1 to %d, not \"%s\"\n", kMaxWriteSize,
                     size_text);
        return 2;
    }
    const int n = static_cast<int>(size);
    GreyImage image{"P5", n, n, 255, alloc_byte_matrix(n, n)};
    fill_image(*family, image.pixels, n);
    write_pgm(out, &image);
    std::printf("%s %d %lld\n", family->name.c_str(), n, count_runs(image.pixels, n, n));
    free_byte_matrix(image.pixels, n, n);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--families") == 0) return list_families();
    if (argc > 1 && std::strcmp(argv[1], "--write-pgm") == 0) {
        if (argc != 5) {
            print_modes(argv[0]);
            return 2;
        }
        return write_one(argv[2], argv[3], argv[4]);
    }
    if (argc > 1 && std::strcmp(argv[1], "--write-mosaic") == 0) {
        if (argc != 6) {
            print_modes(argv[0]);
            return 2;
        }
        return write_mosaic(argv[2], argv[3], argv[4], argv[5]);
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) print_modes(argv[0]);
    }
    benchmark::Initialize(&argc, argv);  // --help prints and exits here
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

    std::ostream& report = silence_stdout();
#ifdef RUNLABEL_BENCH_OPENCV
    prepare_peer();
#endif
    const std::size_t name_width = register_benchmarks();
    SummaryReporter reporter(report_is_terminal() ? benchmark::ConsoleReporter::OO_ColorTabular
                                                  : benchmark::ConsoleReporter::OO_Tabular,
                             name_width);
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&report);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_summary(report);
    release_bench_files();
    if (any_mismatch()) {
        std::fprintf(stderr, "runlabel_bench: our labels differ from the peer's (see above)\n");
        return 1;
    }
    return 0;
}
