// The classic run-list functions: binary image -> RunNode list -> region
// labels -> label image, in C style over the support matrices and on top of the
// engine. Runs are numbered 1..N in raster order, so a row's runs carry
// consecutive numbers; run number and label 0 always mean "none".
#pragma once

#include <cstdint>

// One maximal horizontal stretch of foreground in one row.
struct RunNode {
    int32_t run_id;  // 1.. in raster order
    int32_t row;
    int32_t scol;
    int32_t ecol;   // inclusive
    int32_t label;  // 0 until labelled
    RunNode* next;  // next run in raster order
};

// Integer matrix of rows x 2: first and last run number of each image row, or
// 0 and 0 for a row without runs. Made zero-filled by the caller.
using RowIndex = int32_t**;

// Equivalence table, (N + 1) x 2 integer matrix: column 0 (LBL) names the
// representative of the label's class, 0 when unclassed; column 1 (Next) links
// the class's member list. ClassHead[R] is the first member of R's list. Its
// rows lie in one block, as alloc_int_matrix makes them.
using EqTable = int32_t**;
constexpr int kLbl = 0;
constexpr int kNext = 1;

// RunNode records come from a pool of the calling thread's own; each is
// released by its owner with free_run_node (or free_run_list for a whole list)
// on the thread that made it. A record that cannot be had stops through
// fatal_error("Memory allocation failure").
RunNode* alloc_run_node();
void free_run_node(RunNode* node);
void free_run_list(RunNode* list);

// Encodes every row of binary (rows x cols, non-zero = foreground, reached
// through its row pointers) into runs.
// Fills every row of row_index, stores the run count (the last run number, 0
// when none) in *run_count and returns the first run, or nullptr. The caller
// owns the list, whose nodes come from the calling thread's pool. Stops
// through fatal_error before the run number would overflow its 32-bit field.
RunNode* image_to_runs(int16_t** binary, int rows, int cols, RowIndex row_index, int* run_count);

// Puts provisional labels a and b (different, both >= 1) into one class. The
// smaller class is absorbed into the larger; on a tie b's class joins a's.
void merge_classes(int a, int b, EqTable eq_table, int32_t* class_head);

// merge_classes that also adds to *relabel_steps (the caller's tally, not
// null) the labels it moved from one class to another. Finding the smaller
// class walks as many members again, so the merge work is twice the tally;
// tests read it to check that the work stays near one step per label.
void merge_classes(int a, int b, EqTable eq_table, int32_t* class_head, int64_t* relabel_steps);

// Labels the runs of one image under 4- (shared column) or 8-neighbour
// (diagonal contact too) connectivity. Regions are numbered from start_label
// (>= 1) in raster order of their first run; the count goes to *region_count.
// Prints "Run ID %d \n" once; returns runs. All tables are released inside.
// Consecutive nodes of one row are that row's runs, left to right and apart.
// Stops through fatal_error with "Start label out of range" when start_label
// is below 1 or the last label would not fit an int, and with "Run count does
// not match the run list" when the list holds more than run_count runs.
RunNode* label_runs_4(RunNode* runs, RowIndex row_index, int run_count, int rows, int start_label,
                      int* region_count);
RunNode* label_runs_8(RunNode* runs, RowIndex row_index, int run_count, int rows, int start_label,
                      int* region_count);

// Paints each run's label (low 16 bits) into a new zero-filled rows x cols
// 16-bit matrix, later runs over earlier ones; the caller releases it with
// free_short_matrix.
int16_t** runs_to_label_image(const RunNode* runs, int rows, int cols);

// Tab-separated diagnostic listing of count run-table rows (Row, SCol, ECol,
// PLBL) beside count equivalence-table rows (LBL, Next) on standard output.
void print_run_tables(int32_t* const* run_rows, int32_t* const* eq_rows, int count);
