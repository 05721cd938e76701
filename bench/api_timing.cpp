// The C++ API's one-shot call timed on images given as raw 8-bit files, for
// the Python benchmark to weigh its binding against: the median of repeat
// calls after one to warm up, labels painted into a reused 32-bit buffer.
//   runlabel_api_timing CONNECTIVITY REPEAT (NAME WIDTH HEIGHT FILE)...
// prints "NAME SECONDS" per image.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "runlabel/runlabel.h"

int main(int argc, char** argv) {
    if (argc < 3 || (argc - 3) % 4 != 0) {
        std::fprintf(
            stderr, "usage: runlabel_api_timing CONNECTIVITY REPEAT (NAME WIDTH HEIGHT FILE)...\n");
        return 2;
    }
    runlabel::Options options;
    options.connectivity = std::atoi(argv[1]);
    const int repeat = std::max(1, std::atoi(argv[2]));
    for (int a = 3; a < argc; a += 4) {
        const long long width = std::atoll(argv[a + 1]);
        const long long height = std::atoll(argv[a + 2]);
        std::ifstream file(argv[a + 3], std::ios::binary);
        const std::vector<unsigned char> pixels{std::istreambuf_iterator<char>(file), {}};
        if (width <= 0 || height <= 0 ||
            pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
            std::fprintf(stderr, "runlabel_api_timing: %s is not %lld x %lld bytes\n", argv[a + 3],
                         width, height);
            return 1;
        }
        std::vector<std::uint32_t> labels(pixels.size());
        const auto image = runlabel::image_view(pixels.data(), width, height);
        const auto out = runlabel::label_view(labels.data(), width, height);
        std::vector<double> seconds;
        try {
            runlabel::label(image, out, options);
            for (int i = 0; i < repeat; ++i) {
                const auto start = std::chrono::steady_clock::now();
                runlabel::label(image, out, options);
                seconds.push_back(
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                        .count());
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "runlabel_api_timing: %s\n", e.what());
            return 1;
        }
        std::sort(seconds.begin(), seconds.end());
        const std::size_t n = seconds.size();
        const double median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
        std::printf("%s %.9f\n", argv[a], median);
    }
    return 0;
}
