// One cached benchmark image and the scratch directory its files live in.
#include "bench/cases.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "support/support.h"

namespace {

BenchImage current;
std::string scratch_dir;

void release_current() {
    if (current.grey.pixels != nullptr) {
        free_byte_matrix(current.grey.pixels, current.size, current.size);
    }
    if (!current.pgm_path.empty()) std::remove(current.pgm_path.c_str());
    current = BenchImage{};
}

}  // namespace

BenchImage& bench_image(const Family& family, int size) {
    std::string name = family.name + "/" + std::to_string(size);
    if (current.name == name) return current;
    release_current();
    current.name = std::move(name);
    current.size = size;
    std::strcpy(current.grey.magic, "P5");
    current.grey.width = size;
    current.grey.height = size;
    current.grey.maxval = 255;
    current.grey.pixels = alloc_byte_matrix(size, size);
    fill_image(family, current.grey.pixels, size);
    return current;
}

const std::string& pgm_file(BenchImage& image) {
    if (image.pgm_path.empty()) {
        image.pgm_path = scratch_path("input.pgm");
        write_pgm(image.pgm_path.c_str(), &image.grey);
    }
    return image.pgm_path;
}

std::string scratch_path(const std::string& leaf) {
    if (scratch_dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/runlabel_bench.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("runlabel_bench: cannot make a scratch directory");
            std::exit(2);
        }
        scratch_dir = pattern;
    }
    return scratch_dir + "/" + leaf;
}

void release_bench_files() {
    release_current();
    if (!scratch_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_dir, ignored);
        scratch_dir.clear();
    }
}
