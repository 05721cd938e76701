// Two-pass run labeling. The top-down pass hands labels down between touching
// runs of neighbouring rows and records equivalences; the bottom-up pass hands
// each class's representative back up; renumbering then makes the labels
// consecutive from the start label in raster order of each region's first run.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>

#include "labeling/label_tables.h"
#include "labeling/labeling.h"
#include "support/support.h"

namespace {

// RunTable columns.
constexpr int kRow = 0;
constexpr int kSCol = 1;
constexpr int kECol = 2;
constexpr int kPlbl = 3;
constexpr int kRunColumns = 4;

inline int32_t* run_entry(int32_t* runs, int n) {
    return runs + kRunColumns * static_cast<std::ptrdiff_t>(n);
}

// Pairs runs first..last of one row with runs nfirst..nlast of a neighbouring
// row in a single left-to-right walk and calls touch(p, q) for every pair that
// touches. Two runs touch unless one ends left of the other's start minus the
// slack: 0 asks for a shared column, 1 also accepts a diagonal contact.
//
//   p:  ####              p:  ####
//   q:     ####  both     q:      ####  slack 1 only
template <int kSlack, typename Touch>
void walk_touching(int32_t* runs, int first, int last, int nfirst, int nlast, Touch touch) {
    if (first == 0 || nfirst == 0) return;
    int p = first;
    int q = nfirst;
    for (;;) {
        const int32_t* run_p = run_entry(runs, p);
        const int32_t* run_q = run_entry(runs, q);
        const int end_p = run_p[kECol];
        const int end_q = run_q[kECol];
        if (end_p < run_q[kSCol] - kSlack) {
            ++p;
        } else if (end_q < run_p[kSCol] - kSlack) {
            ++q;
        } else {
            touch(p, q);
            // The run that ends first can touch nothing further right.
            if (end_q <= end_p) ++q;
            if (end_p <= end_q) ++p;
        }
        if (p > last || q > nlast) return;
    }
}

// Top-down pass: each run inherits the label of the first touching run above
// or a new one, and labels of touching runs are merged into one class. Returns
// the next unused provisional label.
template <int kSlack>
int hand_labels_down(int32_t* runs, int32_t* eq, int32_t* class_head, RowIndex row_index,
                     int rows) {
    auto take_or_merge = [runs, eq, class_head](int p, int q) {
        int32_t& mine = run_entry(runs, p)[kPlbl];
        const int above = run_entry(runs, q)[kPlbl];
        if (mine == 0) {
            mine = above;
        } else if (mine != above) {
            merge_class_lists(mine, above, eq, class_head);
        }
    };
    int next_label = 1;
    for (int r = 0; r < rows; ++r) {
        const int first = row_index[r][0];
        const int last = row_index[r][1];
        if (first == 0) continue;
        if (r > 0) {
            walk_touching<kSlack>(runs, first, last, row_index[r - 1][0], row_index[r - 1][1],
                                  take_or_merge);
        }
        for (int p = first; p <= last; ++p) {
            int32_t& label = run_entry(runs, p)[kPlbl];
            if (label == 0) {
                label = next_label++;
            } else if (const int rep = eq_entry(eq, label)[kLbl]; rep != 0) {
                label = rep;
            }
        }
    }
    return next_label;
}

// Bottom-up pass: runs take the label of touching runs below, so a run labelled
// before its class grew ends with the class's representative.
template <int kSlack>
void hand_labels_up(int32_t* runs, int32_t* eq, RowIndex row_index, int rows) {
    auto take_below = [runs, eq](int p, int q) {
        int32_t& mine = run_entry(runs, p)[kPlbl];
        const int below = run_entry(runs, q)[kPlbl];
        if (mine != below) {
            eq_entry(eq, mine)[kLbl] = below;
            mine = below;
        }
    };
    for (int r = rows - 1; r >= 0; --r) {
        const int first = row_index[r][0];
        const int last = row_index[r][1];
        if (first == 0) continue;
        if (r + 1 < rows) {
            walk_touching<kSlack>(runs, first, last, row_index[r + 1][0], row_index[r + 1][1],
                                  take_below);
        }
        for (int p = first; p <= last; ++p) {
            int32_t& label = run_entry(runs, p)[kPlbl];
            if (const int rep = eq_entry(eq, label)[kLbl]; rep != 0) label = rep;
        }
    }
}

// Gives each class its final label, start_label upwards in the order of the
// class's first run, and writes it into the list. Returns the region count.
int renumber(RunNode* list, int32_t* runs, int run_count, int provisional, int start_label) {
    // Provisional label x keeps its final label in entry x - 1; 0 means none yet.
    int32_t* final_of = alloc_int_vector(provisional);
    std::fill(final_of, final_of + provisional, 0);
    int next_final = start_label;
    for (int n = 1; n <= run_count; ++n) {
        int32_t& final_label = final_of[run_entry(runs, n)[kPlbl] - 1];
        if (final_label == 0) final_label = next_final++;
    }
    for (RunNode* node = list; node != nullptr; node = node->next) {
        node->label = final_of[run_entry(runs, node->run_id)[kPlbl] - 1];
    }
    free_int_vector(final_of, provisional);
    return next_final - start_label;
}

template <int kSlack>
RunNode* label_runs(RunNode* list, RowIndex row_index, int run_count, int rows, int start_label,
                    int* region_count) {
    // 0 marks a class not numbered yet and the last label must fit an int.
    if (start_label < 1 || start_label > INT_MAX - run_count) {
        fatal_error("Start label out of range");
    }
    const int entries = run_count + 1;
    int32_t* class_head = alloc_int_vector(entries);
    std::fill(class_head, class_head + entries, 0);
    int32_t** run_table = alloc_int_matrix(entries, kRunColumns);
    int32_t* runs = run_table[0];

    int last_id = 1;
    for (const RunNode* node = list; node != nullptr; node = node->next) {
        int32_t* run = run_entry(runs, node->run_id);
        run[kRow] = node->row;
        run[kSCol] = node->scol;
        run[kECol] = node->ecol;
        last_id = node->run_id;
    }
    std::printf("Run ID %d \n", last_id);

    int32_t** eq_table = alloc_int_matrix(entries, 2);
    int32_t* eq = eq_table[0];
    const int provisional = hand_labels_down<kSlack>(runs, eq, class_head, row_index, rows);
    hand_labels_up<kSlack>(runs, eq, row_index, rows);
    *region_count = renumber(list, runs, run_count, provisional, start_label);

    free_int_vector(class_head, entries);
    free_int_matrix(eq_table, entries, 2);
    free_int_matrix(run_table, entries, kRunColumns);
    return list;
}

}  // namespace

RunNode* label_runs_4(RunNode* runs, RowIndex row_index, int run_count, int rows, int start_label,
                      int* region_count) {
    return label_runs<0>(runs, row_index, run_count, rows, start_label, region_count);
}

RunNode* label_runs_8(RunNode* runs, RowIndex row_index, int run_count, int rows, int start_label,
                      int* region_count) {
    return label_runs<1>(runs, row_index, run_count, rows, start_label, region_count);
}
