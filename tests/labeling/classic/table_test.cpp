// print_run_tables: the exact tab-separated listing on standard output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "labeling/classic/classic.h"

namespace {

const char kHeader[] = "RunID\tRow\tSCol\tECol\tPLBL\t\tLBL\tNext\t\tEqClass\n";

std::string listing(std::vector<std::vector<int32_t>>& run_rows,
                    std::vector<std::vector<int32_t>>& eq_rows) {
    std::vector<int32_t*> runs;
    std::vector<int32_t*> eqs;
    runs.reserve(run_rows.size());
    eqs.reserve(eq_rows.size());
    for (auto& row : run_rows) runs.push_back(row.data());
    for (auto& row : eq_rows) eqs.push_back(row.data());
    testing::internal::CaptureStdout();
    print_run_tables(runs.data(), eqs.data(), static_cast<int>(runs.size()));
    return testing::internal::GetCapturedStdout();
}

TEST(PrintRunTables, CountZeroPrintsHeaderAndTwoEmptyLines) {
    std::vector<std::vector<int32_t>> none;
    EXPECT_EQ(listing(none, none), std::string(kHeader) + "\n\n");
}

TEST(PrintRunTables, PrintsOneLinePerEntryNumberedFromOne) {
    std::vector<std::vector<int32_t>> runs = {{0, 2, 5, 1}, {1, 0, 3, 2}};
    std::vector<std::vector<int32_t>> eqs = {{1, 2}, {1, 0}};
    EXPECT_EQ(listing(runs, eqs), std::string(kHeader) +
                                      "  1\t  0\t  2\t  5\t  1\t\t  1\t  2\n"
                                      "  2\t  1\t  0\t  3\t  2\t\t  1\t  0\n"
                                      "\n\n");
}

TEST(PrintRunTables, WideNumbersWidenTheirColumn) {
    std::vector<std::vector<int32_t>> runs = {{1234, 65536, -12, -1234}};
    std::vector<std::vector<int32_t>> eqs = {{2147483647, -2147483647 - 1}};
    EXPECT_EQ(listing(runs, eqs), std::string(kHeader) +
                                      "  1\t1234\t65536\t-12\t-1234\t\t2147483647\t-2147483648\n"
                                      "\n\n");
}

}  // namespace
