// The engine's buffers and the classic allocators live on one heap: a large
// block either side frees serves the other, and the memory budget counts the
// mappings of both, so neither can promise memory the other has mapped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "labeling/buffer.h"
#include "support/support.h"
#include "tests/support/memory_cgroup.h"
#include "tests/support/sanitized.h"

namespace {

using runlabel::engine::Buffer;

constexpr std::size_t kMiB = std::size_t(1) << 20;
constexpr int kElements = 10 << 20;  // 40 MiB of int32

TEST(SharedHeap, BufferBlockServesAClassicVector) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's build keeps no freed blocks";
    heap_trim();
    Buffer<uint32_t> buffer;
    buffer.resize(kElements);
    const void* block = buffer.data();
    buffer.release();
    int32_t* vector = alloc_int_vector(kElements);
    EXPECT_EQ(static_cast<const void*>(vector), block);
    free_int_vector(vector, kElements);
    heap_trim();
}

TEST(SharedHeap, ClassicMatrixBlockServesABuffer) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's build keeps no freed blocks";
    heap_trim();
    int32_t** matrix = alloc_int_matrix(1 << 10, 10 << 10);
    const void* block = matrix[0];
    free_int_matrix(matrix, 1 << 10, 10 << 10);
    // From small, as a table grows while rows arrive.
    Buffer<uint32_t> buffer;
    for (int i = 0; i < 1000; ++i) buffer.push_back(static_cast<uint32_t>(i));
    buffer.resize(kElements);
    EXPECT_EQ(static_cast<const void*>(buffer.data()), block);
    EXPECT_EQ(buffer[999], 999u);
    heap_trim();
}

// In a child inside a memory cgroup of 300 MiB, nothing touched: a buffer's
// and a vector's mappings together leave no room for a third request from
// either side, though either mapping alone would.
TEST(SharedHeap, BudgetCountsTheMappingsOfBothSides) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's build maps no blocks of its own";
    runlabel_test::MemoryCgroup cgroup(300 * kMiB);
    if (!cgroup.ok()) GTEST_SKIP() << "no memory cgroup: " << cgroup.why();
    const std::string procs = cgroup.procs();
    EXPECT_EXIT(
        {
            const int fd = open(procs.c_str(), O_WRONLY);
            if (fd < 0 || write(fd, "0", 1) != 1) std::_Exit(2);
            close(fd);
            heap_trim();
            Buffer<uint8_t> engine;
            engine.reserve(120 * kMiB);
            // One side's mapping alone leaves room.
            void* classic = heap_alloc(120 * kMiB, false);
            if (classic == nullptr) std::_Exit(3);
            if (heap_alloc(100 * kMiB, false) != nullptr) std::_Exit(4);
            try {
                Buffer<uint8_t> more;
                more.reserve(100 * kMiB);
                std::_Exit(5);
            } catch (const std::bad_alloc&) {
            }
            // A kept block is in the account already: taking it back costs none.
            heap_free(classic);
            if (heap_alloc(100 * kMiB, false) == nullptr) std::_Exit(6);
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
