// memory_headroom follows every limit in force, measured in a child process
// that sets the limit; the heap stays consistent when threads share it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "support/support.h"
#include "tests/support/memory_cgroup.h"
#include "tests/support/sanitized.h"

namespace {

constexpr std::size_t kMiB = std::size_t(1) << 20;

// Bytes mapped (statm field 0) or private writable (field 5) now.
std::size_t statm_bytes(int field) {
    std::ifstream in("/proc/self/statm");
    std::size_t pages = 0;
    for (int i = 0; i <= field; ++i) in >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Exits 0 when the headroom lies in [low, high] and the heap refuses what
// lies beyond it, with the numbers on standard error otherwise.
[[noreturn]] void check_headroom(std::size_t low, std::size_t high) {
    const std::size_t room = memory_headroom();
    const bool ok = room >= low && room <= high && !memory_can_back(high + kMiB) &&
                    memory_can_back(low) && heap_alloc(high + 64 * kMiB, false) == nullptr;
    if (!ok)
        std::fprintf(stderr, "headroom %zu MiB, expected %zu..%zu\n", room >> 20, low >> 20,
                     high >> 20);
    std::_Exit(ok ? 0 : 1);
}

struct RlimitCase {
    const char* name;
    int resource;
    int statm_field;
};

class MemoryHeadroomRlimit : public testing::TestWithParam<RlimitCase> {};

TEST_P(MemoryHeadroomRlimit, IsTheLimitLessWhatIsMapped) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's shadow outgrows any rlimit";
    const RlimitCase& c = GetParam();
    EXPECT_EXIT(
        {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = statm_bytes(c.statm_field) + 300 * kMiB;
            if (setrlimit(c.resource, &limit) != 0) std::_Exit(2);
            check_headroom(200 * kMiB, 300 * kMiB);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Limits, MemoryHeadroomRlimit,
                         testing::Values(RlimitCase{"AddressSpace", RLIMIT_AS, 0},
                                         RlimitCase{"Data", RLIMIT_DATA, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MemoryHeadroom, FollowsTheCgroupLimit) {
    runlabel_test::MemoryCgroup cgroup(300 * kMiB);
    if (!cgroup.ok()) GTEST_SKIP() << "no memory cgroup: " << cgroup.why();
    const std::string procs = cgroup.procs();
    EXPECT_EXIT(
        {
            const int fd = open(procs.c_str(), O_WRONLY);
            if (fd < 0 || write(fd, "0", 1) != 1) std::_Exit(2);
            close(fd);
            check_headroom(150 * kMiB, 300 * kMiB);
        },
        testing::ExitedWithCode(0), "");
}

TEST(MemoryHeadroom, IsKnownWithoutLimits) {
    // The machine's memory is always a bound; it is never zero on a live system.
    EXPECT_GT(memory_headroom(), 0u);
    EXPECT_TRUE(memory_can_back(0));
}

TEST(Heap, ThreadsSharingItNeverShareABlock) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's build keeps no freed blocks to share";
    // Blocks of one large size all pass through the shared cache of freed
    // blocks; small ones come in between.
    constexpr int kThreads = 8;
    constexpr std::size_t kLarge = 300 * 1024;
    std::vector<std::thread> threads;
    std::vector<int> faults(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &faults] {
            const auto mark = static_cast<unsigned char>(t + 1);
            for (int round = 0; round < 20000; ++round) {
                const std::size_t bytes = round % 4 == 0 ? 64 : kLarge;
                auto* block = static_cast<unsigned char*>(heap_alloc(bytes, false));
                if (block == nullptr) {
                    ++faults[t];
                    continue;
                }
                for (std::size_t i = 0; i < bytes; i += 4096) block[i] = mark;
                for (std::size_t i = 0; i < bytes; i += 4096) faults[t] += block[i] != mark;
                heap_free(block);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(faults[t], 0) << "thread " << t;
}

}  // namespace
