// Run-length encoding: one left-to-right scan per row turns the binary image
// into RunNodes numbered 1..N in raster order and records each row's first and
// last run number in the RowIndex.
#include <climits>

#include "labeling/labeling.h"
#include "labeling/run_limits.h"
#include "support/support.h"

int next_run_number(int run_number) {
    // Labeling sizes its tables N + 1, so N itself must stay below INT_MAX.
    if (run_number >= INT_MAX - 1) fatal_error("Too many runs in image");
    return run_number + 1;
}

RunNode* image_to_runs(int16_t** binary, int rows, int cols, RowIndex row_index, int* run_count) {
    RunNode head{};
    RunNode* tail = &head;
    int next_run = 1;
    for (int r = 0; r < rows; ++r) {
        const int16_t* px = binary[r];
        const int first = next_run;
        int c = 0;
        for (;;) {
            while (c < cols && px[c] == 0) ++c;
            if (c == cols) break;
            const int start = c;
            while (c < cols && px[c] != 0) ++c;
            RunNode* node = alloc_run_node();
            node->run_id = next_run;
            node->row = r;
            node->scol = start;
            node->ecol = c - 1;
            node->label = 0;
            node->next = nullptr;
            tail->next = node;
            tail = node;
            next_run = next_run_number(next_run);
        }
        row_index[r][0] = next_run == first ? 0 : first;
        row_index[r][1] = next_run == first ? 0 : next_run - 1;
    }
    *run_count = next_run - 1;
    return head.next;
}
