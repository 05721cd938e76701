// Memory limits that end a process by killing it (a memory cgroup) or by
// refusing its requests (RLIMIT_AS, RLIMIT_DATA): inside any of them an image
// too large for the limit must end with the memory message and status 1, not
// with the kernel's kill, and leave no output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/driver/process.h"
#include "tests/support/memory_cgroup.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::fatal_report;
using runlabel_test::MemoryCgroup;
using runlabel_test::Outcome;
using runlabel_test::RunOptions;
using runlabel_test::Sandbox;

enum class Limit { kCgroup, kAddressSpace, kData };

enum class Pattern {
    kZero,         // all background: a sparse file, no time spent writing it
    kAlternating,  // pixels on, off, on ...: one run per two pixels
    kCells,        // 4 x 4 cells, half of them foreground at random
};

struct MemoryCase {
    const char* name;
    Limit limit;
    int width;
    int height;
    Pattern pattern;
    const char* message;
    const char* out = "";                     // the report before the refusal
    unsigned long long bytes = 256ull << 20;  // the limit
};

void PrintTo(const MemoryCase& c, std::ostream* os) { *os << c.name; }

void write_image(const fs::path& path, const MemoryCase& c) {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << c.width << " " << c.height << "\n255\n";
    std::string row(static_cast<std::size_t>(c.width), '\0');
    std::mt19937 random(7);
    switch (c.pattern) {
        case Pattern::kZero:
            out.close();
            fs::resize_file(path, fs::file_size(path) + std::uintmax_t(c.width) * c.height);
            return;
        case Pattern::kAlternating:
            for (std::size_t i = 0; i < row.size(); i += 2) row[i] = '\1';
            for (int r = 0; r < c.height; ++r) out.write(row.data(), static_cast<long>(row.size()));
            return;
        case Pattern::kCells:
            for (int r = 0; r < c.height; ++r) {
                if (r % 4 == 0) {
                    for (std::size_t i = 0; i < row.size(); i += 4)
                        row.replace(i, 4, 4, static_cast<char>(random() & 1));
                }
                out.write(row.data(), static_cast<long>(row.size()));
            }
            return;
    }
}

class MemoryLimit : public testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryLimit, EndsWithTheMemoryMessageNotAKill) {
    const MemoryCase& c = GetParam();
    const unsigned long long kLimit = c.bytes;
#ifdef RUNLABEL_TEST_UNDER_ASAN
    if (c.limit != Limit::kCgroup) GTEST_SKIP() << "the sanitizer's shadow outgrows any rlimit";
    if (kLimit < (256ull << 20)) GTEST_SKIP() << "the sanitizer's own memory outgrows the limit";
#endif
    Sandbox box(fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    write_image(box / "in.pgm", c);
    RunOptions options;
    std::optional<MemoryCgroup> cgroup;
    switch (c.limit) {
        case Limit::kCgroup:
            cgroup.emplace(kLimit);
            if (!cgroup->ok()) GTEST_SKIP() << "no memory cgroup: " << cgroup->why();
            options.cgroup_procs = cgroup->procs();
            break;
        case Limit::kAddressSpace:
            options.address_space_limit = kLimit;
            break;
        case Limit::kData:
            options.data_limit = kLimit;
            break;
    }
    const Outcome outcome = box.run({"in.pgm", "out.pgm"}, options);
    EXPECT_EQ(outcome.status, 1) << (outcome.status == -SIGKILL ? "killed" : "");
    EXPECT_EQ(outcome.err, fatal_report(c.message));
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(box.entries(), std::vector<std::string>{"in.pgm"});
}

// Read a band at a time, a 268 MB raster needs no room of its own: inside an
// address-space limit of 256 MB the zero image labels and its output is whole.
TEST(MemoryLimitStreaming, NeedsNoRoomForTheRaster) {
#ifdef RUNLABEL_TEST_UNDER_ASAN
    GTEST_SKIP() << "the sanitizer's shadow outgrows any rlimit";
#endif
    const MemoryCase c{"zero", Limit::kAddressSpace, 16384, 16384, Pattern::kZero, ""};
    Sandbox box(fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    write_image(box / "in.pgm", c);
    RunOptions options;
    options.address_space_limit = 256ull << 20;
    const Outcome outcome = box.run({"in.pgm", "out.pgm"}, options);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(fs::file_size(box / "out.pgm"),
              std::string("P5\n# out.pgm\n16384 16384\n255\n").size() + 16384ull * 16384);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, MemoryLimit,
    testing::Values(
        // The image labels, but its 268 MB output in memory
        // (tmpfs) cannot be had inside 256 MB.
        MemoryCase{"CgroupRefusesAnOutputInMemory", Limit::kCgroup, 16384, 16384, Pattern::kZero,
                   "Memory allocation failure", "Run ID 1 \nTotal 0 regions\n"},
        // A 64 MB raster can, its 33 million runs cannot.
        MemoryCase{"CgroupRefusesTheRuns", Limit::kCgroup, 4096, 16384, Pattern::kAlternating,
                   "Memory allocation failure"},
        MemoryCase{"DataLimitRefusesTheRuns", Limit::kData, 4096, 16384, Pattern::kAlternating,
                   "Memory allocation failure"},
        // Bands labelled on two threads at once, each growing its
        // runs: unweighed growth of a budget per thread added up
        // past a small cgroup's limit, and the kernel killed.
        MemoryCase{"SmallCgroupRefusesRunsGrownOnEveryThread", Limit::kCgroup, 16384, 16384,
                   Pattern::kCells, "Memory allocation failure", "", 64ull << 20}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
