// Diagnostic listing of the labeling tables: one tab-separated line per run,
// its run-table row beside the equivalence-table row of the same index.
#include <cstdio>

#include "labeling/classic/classic.h"

void print_run_tables(int32_t* const* run_rows, int32_t* const* eq_rows, int count) {
    // EqClass is named in the heading but has no values of its own.
    std::printf("RunID\tRow\tSCol\tECol\tPLBL\t\tLBL\tNext\t\tEqClass\n");
    for (int i = 0; i < count; ++i) {
        const int32_t* run = run_rows[i];
        const int32_t* eq = eq_rows[i];
        std::printf("%3d\t%3d\t%3d\t%3d\t%3d\t\t%3d\t%3d\n", i + 1, run[0], run[1], run[2], run[3],
                    eq[kLbl], eq[kNext]);
    }
    std::printf("\n\n");
}
