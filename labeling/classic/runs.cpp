// image_to_runs: the engine's encoder, read through the matrix's row
// pointers, with the runs handed back as the classic numbered RunNode list and
// RowIndex. Runs are numbered 1..N in raster order, so a row's runs carry
// consecutive numbers.
#include <climits>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "labeling/classic/classic.h"
#include "labeling/classic/run_limits.h"
#include "labeling/classic/run_pool.h"
#include "labeling/engine.h"
#include "support/support.h"

int skip_run_numbers(int run_number, int count) {
    // Labeling sizes its tables N + 1, so N itself must stay below INT_MAX.
    if (count > INT_MAX - 1 - run_number) fatal_error("Too many runs in image");
    return run_number + count;
}

RunNode* image_to_runs(int16_t** binary, int rows, int cols, RowIndex row_index, int* run_count) {
    using runlabel::engine::RunStore;
    RunNode head{};
    RunNode* tail = &head;
    int next_run = 1;
    // One row at a time: the store never holds more than a row of runs.
    RunStore store(cols < 0 ? 0 : cols);
    runlabel::engine::Buffer<int32_t> scratch;
    for (int r = 0; r < rows; ++r) {
        store.bounds.clear();
        store.labels.clear();
        store.row_start.resize(1);
        store.row_info.clear();
        try {
            runlabel::engine::encode_row(store, binary[r], runlabel::engine::PixelKind::k16);
        } catch (const std::bad_alloc&) {
            fatal_error("Memory allocation failure");
        }
        const int count = static_cast<int>(store.runs());
        const int first = next_run;
        next_run = skip_run_numbers(next_run, count);
        tail = append_run_nodes(tail, r, first, runlabel::engine::RowView(store, 0).bounds(scratch),
                                count);
        row_index[r][0] = count == 0 ? 0 : first;
        row_index[r][1] = count == 0 ? 0 : next_run - 1;
    }
    *run_count = next_run - 1;
    return head.next;
}
