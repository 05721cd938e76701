// The engine's buffers grow past many huge pages from a mapping at any
// alignment, keeping what they hold, however the kernel lays the process out.
#include "labeling/buffer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <vector>

namespace {

// A first mapping of a few pages moves the buffers' mappings, which follow
// it, to other offsets within a huge page.
class BufferAlignment : public testing::TestWithParam<int> {};

TEST_P(BufferAlignment, GrowsPastHugePagesKeepingItsContents) {
    const std::size_t spacer_bytes = std::size_t(GetParam()) * 4096;
    void* spacer =
        mmap(nullptr, spacer_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(spacer, MAP_FAILED);
    {
        // Two buffers growing in turn, as the runs' bounds and labels do.
        runlabel::engine::Buffer<std::uint32_t> first;
        runlabel::engine::Buffer<std::uint32_t> second;
        for (std::uint32_t i = 0; i < (std::uint32_t(48) << 20) / 4; ++i) {
            first.push_back(i);
            if (i % 2 == 0) second.push_back(~i);
        }
        for (std::uint32_t i = 0; i < first.size(); i += 4099) ASSERT_EQ(first[i], i) << i;
        for (std::uint32_t i = 0; i < second.size(); i += 4099) ASSERT_EQ(second[i], ~(2 * i));
    }
    munmap(spacer, spacer_bytes);
}

INSTANTIATE_TEST_SUITE_P(Spacers, BufferAlignment, testing::Values(1, 3, 17, 129, 511));

}  // namespace
