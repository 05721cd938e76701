// The heap hands freed large blocks out again: a reused block must still honour
// the zero-fill request and never be shared by two live blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "support/support.h"

namespace {

constexpr std::size_t kBig = std::size_t(4) << 20;

TEST(Heap, ReusedLargeBlockIsZeroedWhenAsked) {
    auto* dirty = static_cast<unsigned char*>(heap_alloc(kBig, false));
    std::memset(dirty, 0xAB, kBig);
    heap_free(dirty);
    auto* clean = static_cast<unsigned char*>(heap_alloc(kBig - 100, true));
    for (std::size_t i = 0; i < kBig - 100; i += 4093) ASSERT_EQ(clean[i], 0) << i;
    EXPECT_EQ(clean[kBig - 101], 0);
    heap_free(clean);
}

TEST(Heap, LiveBlocksNeverOverlap) {
    void* a = heap_alloc(kBig, false);
    heap_free(a);
    auto* b = static_cast<char*>(heap_alloc(kBig, false));
    auto* c = static_cast<char*>(heap_alloc(kBig, false));
    EXPECT_TRUE(b + kBig <= c || c + kBig <= b);
    heap_free(b);
    heap_free(c);
}

TEST(Heap, SmallRequestDoesNotTakeAFarLargerBlock) {
    void* big = heap_alloc(kBig * 8, false);
    heap_free(big);
    void* small = heap_alloc(kBig, false);
    void* big_again = heap_alloc(kBig * 8, false);
    EXPECT_NE(small, big);
    heap_free(small);
    heap_free(big_again);
}

}  // namespace
