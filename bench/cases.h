// The image under measurement. Generating a 4096 x 4096 image costs more than
// most calls it feeds, so the current one is kept until a benchmark asks for
// another; benchmarks are registered image by image, so each is made once.
#pragma once

#include <string>

#include "bench/images.h"
#include "imagefiles/imagefiles.h"

struct BenchImage {
    std::string name;      // "noise30-b4/4096"
    int size = 0;          // rows = cols
    GreyImage grey{};      // pixels 0 / 255, rows of one block
    std::string pgm_path;  // empty until pgm_file() writes it
};

// The generated image of that family and size; valid until the next call
// with another family or size.
BenchImage& bench_image(const Family& family, int size);

// The image written once as a greymap in the benchmark's scratch directory.
const std::string& pgm_file(BenchImage& image);

// A file name in the scratch directory, made on first use and removed, with
// everything in it, by release_bench_files().
std::string scratch_path(const std::string& leaf);
void release_bench_files();
