// The heap hands freed large blocks out again: a reused block must still honour
// the zero-fill request and never be shared by two live blocks. A block
// resized through every kind (malloc'd, mapped, remapped past its mapping,
// shrunk back) keeps every byte it still holds.
#include "support/heap.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/support/sanitized.h"

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

// Whether every whole page inside [data, data + bytes) is in memory.
bool resident(const void* data, std::size_t bytes) {
    const std::size_t page = 4096;
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t from = (at + page - 1) & ~(page - 1);
    const std::uintptr_t to = (at + bytes) & ~(page - 1);
    std::vector<unsigned char> in((to - from) / page);
    if (mincore(reinterpret_cast<void*>(from), to - from, in.data()) != 0) return false;
    return std::all_of(in.begin(), in.end(), [](unsigned char p) { return (p & 1) != 0; });
}

// A buffer of a few hundred KiB, freed at the end of every call, gets its
// warm pages back next time instead of fresh ones from the kernel (malloc
// hands such a block's pages back when it is freed).
TEST(Heap, MediumBlockIsKeptWarm) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's build keeps no freed blocks";
    heap_trim();
    const std::size_t medium = std::size_t(200) << 10;
    auto* first = static_cast<unsigned char*>(heap_alloc(medium, false));
    std::memset(first, 0x5A, medium);
    heap_free(first);
    auto* again = static_cast<unsigned char*>(heap_resize(heap_resize(nullptr, 100), medium));
    EXPECT_TRUE(resident(again, medium));
    heap_free(again);
}

TEST(Heap, GrowingBlockTakesTheLargestKept) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's build keeps no freed blocks";
    heap_trim();
    void* larger = heap_alloc(kBig * 8, false);
    void* smaller = heap_alloc(kBig, false);
    heap_free(smaller);
    heap_free(larger);
    // A block turning large is a buffer on its way up: it gets the most room.
    void* small = heap_resize(nullptr, 1000);
    void* grown = heap_resize(small, kLargeBlock);
    EXPECT_EQ(grown, larger);
    // A fixed request of the same size is left the snug one.
    void* fixed = heap_alloc(kBig, false);
    EXPECT_EQ(fixed, smaller);
    heap_free(grown);
    heap_free(fixed);
    heap_trim();
}

// Each value at offset i of a block is a function of i, so bytes copied to
// the wrong place, or pages remapped out of order, show.
uint8_t pattern(std::size_t i) { return static_cast<uint8_t>((i * 2654435761u) >> 13); }

void fill(uint8_t* block, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) block[i] = pattern(i);
}

// The first index in [0, bytes) that lost its value, or bytes.
std::size_t first_wrong(const uint8_t* block, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
        if (block[i] != pattern(i)) return i;
    return bytes;
}

struct ResizeCase {
    const char* name;
    std::vector<std::size_t> steps;  // sizes in turn, from no block
};

class HeapResize : public testing::TestWithParam<ResizeCase> {};

TEST_P(HeapResize, KeepsEveryByteItStillHolds) {
    uint8_t* block = nullptr;
    std::size_t held = 0;
    for (const std::size_t bytes : GetParam().steps) {
        auto* resized = static_cast<uint8_t*>(heap_resize(block, bytes));
        ASSERT_NE(resized, nullptr) << bytes;
        const std::size_t kept = std::min(held, bytes);
        ASSERT_EQ(first_wrong(resized, kept), kept) << "after resizing to " << bytes;
        fill(resized, bytes);
        block = resized;
        held = bytes;
    }
    heap_free(block);
}

constexpr std::size_t kMiB = std::size_t(1) << 20;

INSTANTIATE_TEST_SUITE_P(
    Steps, HeapResize,
    testing::Values(ResizeCase{"SmallGrowsSmall", {16, 1000, 100000}},
                    ResizeCase{"SmallTurnsLarge", {100, 200 * 1024, 300 * 1024}},
                    ResizeCase{"LargeGrowsPastItsMapping", {300 * 1024, 3 * kMiB, 40 * kMiB}},
                    ResizeCase{"LargeShrinksAndGrowsAgain", {40 * kMiB, kMiB, 41 * kMiB}},
                    ResizeCase{"LargeTurnsSmall", {5 * kMiB, 1000, 10}},
                    ResizeCase{"WithinOneHugePage", {kLargeBlock, kLargeBlock + 1, kMiB}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Heap, ShrinkingKeepsALargeBlockWhereItIs) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's build has no large blocks";
    void* block = heap_resize(nullptr, 8 * kMiB);
    EXPECT_EQ(heap_resize(block, kLargeBlock), block);
    EXPECT_EQ(heap_resize(block, 8 * kMiB), block);  // still its mapping
    heap_free(block);
}

TEST(Heap, RefusesSizesNoMappingCanHold) {
    EXPECT_EQ(heap_alloc(SIZE_MAX, false), nullptr);
    void* block = heap_alloc(64, false);
    EXPECT_EQ(heap_resize(block, SIZE_MAX - 64), nullptr);
    heap_free(block);  // untouched by the refusal
}

}  // namespace
