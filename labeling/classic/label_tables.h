// Internal to the labeling engine: the flat view of the equivalence table that
// the labeling passes and merge_classes share, and the tally of merge work.
// An EqTable from alloc_int_matrix keeps its rows in one block, so row x starts
// at &eq_table[0][0] + 2 * x; the labeling passes lay out their own table the
// same way in a block of their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "labeling/classic/classic.h"

// Entry x of the flat EqTable: LBL at [kLbl], Next at [kNext].
inline int32_t* eq_entry(int32_t* eq, int x) { return eq + 2 * static_cast<std::ptrdiff_t>(x); }

// merge_classes over the flat EqTable; saves the labeling passes a row-pointer
// load per access.
void merge_class_lists(int a, int b, int32_t* eq, int32_t* class_head);

// Labels moved from one class to another by merges of two classes, summed over
// the process. Finding the smaller class walks as many members again, so total
// merge work is twice this. Tests and benchmarks read it to check that the work
// stays near one step per run.
extern int64_t relabel_steps;
