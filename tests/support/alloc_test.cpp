// Allocators: the zero-fill rule, the shared row block, and the fatal report
// for every way a request can fail (each checked in a child process).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <climits>

#include "support/support.h"
#include "tests/support/sanitized.h"

namespace {

// Caps the child's address space so that a large request is refused by the heap.
void limit_address_space() {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t{1} << 30;
    setrlimit(RLIMIT_AS, &limit);
}

constexpr const char* kVectorReport =
    "Program encounters run-time error...\nMemory allocation failure\n...now exiting to "
    "system...\n";

}  // namespace

TEST(FatalError, PrintsThreeLinesAndExitsWithOne) {
    EXPECT_EXIT(fatal_error("Input file not found"), testing::ExitedWithCode(1),
                "^Program encounters run-time error...\nInput file not found\n"
                "...now exiting to system...\n$");
}

TEST(AllocIntMatrix, ZeroFillsEveryElement) {
    int32_t** m = alloc_int_matrix(3, 2);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c) EXPECT_EQ(m[r][c], 0);
    free_int_matrix(m, 3, 2);
}

TEST(AllocMatrix, RowsFollowEachOtherInOneBlock) {
    int16_t** m = alloc_short_matrix(4, 5);
    for (int r = 1; r < 4; ++r) EXPECT_EQ(m[r], m[0] + 5 * r);
    free_short_matrix(m, 4, 5);
}

TEST(AllocMatrix, EmptyShapesAreValid) {
    free_byte_matrix(alloc_byte_matrix(0, 7), 0, 7);
    free_byte_matrix(alloc_byte_matrix(3, 0), 3, 0);
    free_matrix_1(alloc_matrix_1(0, 0), 0);
    free_matrix_4(alloc_matrix_4(2, 2), 2);
    free_matrix_8(alloc_matrix_8(2, 2), 2);
    free_int_vector(alloc_int_vector(0), 0);
    free_vector_1(alloc_vector_1(1));
    free_vector_2(alloc_vector_2(1));
    free_vector_4(alloc_vector_4(1));
    free_vector_8(alloc_vector_8(1));
}

TEST(AllocDeathTest, NegativeCountsNeverReachTheHeap) {
    EXPECT_EXIT(alloc_int_vector(-1), testing::ExitedWithCode(1), kVectorReport);
    EXPECT_EXIT(alloc_int_matrix(-2, 3), testing::ExitedWithCode(1), kVectorReport);
    EXPECT_EXIT(alloc_short_matrix(3, -2), testing::ExitedWithCode(1), kVectorReport);
}

TEST(AllocDeathTest, RefusedRowPointerVectorReportsAllocation) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's heap ignores the address-space limit";
    EXPECT_EXIT(
        {
            limit_address_space();
            alloc_int_matrix(INT_MAX / 2, 0);
        },
        testing::ExitedWithCode(1), kVectorReport);
}

TEST(AllocDeathTest, RefusedRowBlockReportsAlloation) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's heap ignores the address-space limit";
    EXPECT_EXIT(
        {
            limit_address_space();
            alloc_byte_matrix(4, INT_MAX / 2);
        },
        testing::ExitedWithCode(1), "\nMemory alloation failure\n");
}

TEST(AllocDeathTest, RefusedVectorReportsAllocation) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's heap ignores the address-space limit";
    EXPECT_EXIT(
        {
            limit_address_space();
            alloc_vector_8(INT_MAX);
        },
        testing::ExitedWithCode(1), kVectorReport);
}

TEST(SetFatalHandler, RunsAfterTheReportAndCanAvoidTheExit) {
    set_fatal_handler([](const char*) { throw 42; });
    testing::internal::CaptureStderr();
    EXPECT_THROW(fatal_error("Memory allocation failure"), int);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kVectorReport);
    set_fatal_handler(nullptr);
}
