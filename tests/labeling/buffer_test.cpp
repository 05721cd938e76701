// The engine's buffers: growth through every size, from malloc'd blocks to
// mappings advised for huge pages that grow by moving their pages, keeps
// every element; blocks kept after release serve the next buffer.
#include "labeling/buffer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>

namespace {

using runlabel::engine::Buffer;

// Well past the sizes at which blocks become mappings and then huge-page
// mappings, in the small steps a buffer filled element by element takes.
constexpr std::size_t kElements = std::size_t(24) << 20;

void fill_and_check(Buffer<uint32_t>& a, Buffer<uint64_t>& b) {
    for (std::size_t i = 0; i < kElements; ++i) {
        a.push_back(static_cast<uint32_t>(i * 2654435761u));
        if (i % 3 == 0) b.push_back(i);
    }
    for (std::size_t i = 0; i < kElements; i += 4099) {
        ASSERT_EQ(a[i], static_cast<uint32_t>(i * 2654435761u)) << i;
        if (i % 3 == 0) {
            ASSERT_EQ(b[i / 3], i);
        }
    }
    ASSERT_EQ(a[kElements - 1], static_cast<uint32_t>((kElements - 1) * 2654435761u));
}

TEST(Buffer, GrowsThroughEverySizeKeepingItsElements) {
    // Two buffers growing in turn, as a store's bounds and labels do, so that
    // their mappings move around each other.
    for (int round = 0; round < 2; ++round) {
        Buffer<uint32_t> a;
        Buffer<uint64_t> b;
        fill_and_check(a, b);
    }
}

TEST(Buffer, MovesHandOverTheirBlock) {
    Buffer<uint32_t> a(1000);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint32_t>(i);
    Buffer<uint32_t> b(std::move(a));
    EXPECT_TRUE(a.empty());
    Buffer<uint32_t> c;
    c = std::move(b);
    ASSERT_EQ(c.size(), 1000u);
    EXPECT_EQ(c[999], 999u);
    c.release();
    EXPECT_TRUE(c.empty());
    c.push_back(7);
    EXPECT_EQ(c[0], 7u);
}

// A first mapping of a few pages moves the buffers' mappings, which follow
// it, to other offsets within a huge page, where advice on part of a mapping
// would have split it.
class BufferAlignment : public testing::TestWithParam<int> {};

TEST_P(BufferAlignment, GrowsPastHugePagesFromAnyOffset) {
    const std::size_t spacer_bytes = std::size_t(GetParam()) * 4096;
    void* spacer =
        mmap(nullptr, spacer_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(spacer, MAP_FAILED);
    {
        Buffer<uint32_t> a;
        Buffer<uint64_t> b;
        fill_and_check(a, b);
    }
    munmap(spacer, spacer_bytes);
}

INSTANTIATE_TEST_SUITE_P(Spacers, BufferAlignment, testing::Values(1, 3, 17, 129, 511));

}  // namespace
