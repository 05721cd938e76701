// label_runs_4 and label_runs_8: the engine's labeling over a classic run
// list. The list's runs are copied into a run store row by row, labelled and
// numbered there, and their region labels written back into the nodes.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

#include "labeling/classic/classic.h"
#include "labeling/engine.h"
#include "support/support.h"

namespace {

using runlabel::engine::RunStore;

// Consecutive nodes of one row make a row of the store; a row that does not
// follow the one before it in the image is kept apart from it by an empty row.
void label_list(const RunNode* list, int run_count, int connectivity, RunStore& store) {
    std::vector<int32_t> bounds;
    long long nodes = 0;
    bool first_group = true;
    long long last_row = 0;
    for (const RunNode* node = list; node != nullptr;) {
        const int row = node->row;
        bounds.clear();
        for (; node != nullptr && node->row == row; node = node->next) {
            if (++nodes > run_count) fatal_error("Run count does not match the run list");
            bounds.push_back(node->scol);
            bounds.push_back(node->ecol + 1);
        }
        if (!first_group && row != last_row + 1) {
            runlabel::engine::append_run_row(store, nullptr, 0);
            runlabel::engine::label_newest_row(store, connectivity);
        }
        runlabel::engine::append_run_row(store, bounds.data(),
                                         static_cast<uint32_t>(bounds.size() / 2));
        runlabel::engine::label_newest_row(store, connectivity);
        last_row = row;
        first_group = false;
    }
}

RunNode* label_runs(RunNode* list, int run_count, int start_label, int* region_count,
                    int connectivity) {
    if (run_count < 0) fatal_error("Run count does not match the run list");
    // 0 marks a region not numbered yet.
    if (start_label < 1) fatal_error("Start label out of range");
    // The run_id of the last run, which is N for a list that image_to_runs
    // made; 1 when there are none.
    std::printf("Run ID %d \n", run_count > 0 ? run_count : 1);
    if (list == nullptr) {
        *region_count = 0;
        return list;
    }
    RunStore store;
    uint64_t regions = 0;
    try {
        label_list(list, run_count, connectivity, store);
        regions = runlabel::engine::number_regions(store, {});
    } catch (const std::bad_alloc&) {
        fatal_error("Memory allocation failure");
    } catch (const std::length_error&) {
        fatal_error("Too many runs in image");
    }
    // The last label, start_label + regions - 1, must fit an int.
    if (regions > 0 && regions - 1 > static_cast<uint64_t>(INT_MAX - start_label)) {
        fatal_error("Start label out of range");
    }
    // Nodes and the store's runs are in the same order; the store's empty
    // separating rows hold no runs.
    const uint32_t* label = store.labels.data();
    for (RunNode* node = list; node != nullptr; node = node->next) {
        node->label = start_label - 1 + static_cast<int>(*label++);
    }
    *region_count = static_cast<int>(regions);
    return list;
}

}  // namespace

RunNode* label_runs_4(RunNode* runs, RowIndex /*row_index*/, int run_count, int /*rows*/,
                      int start_label, int* region_count) {
    return label_runs(runs, run_count, start_label, region_count, 4);
}

RunNode* label_runs_8(RunNode* runs, RowIndex /*row_index*/, int run_count, int /*rows*/,
                      int start_label, int* region_count) {
    return label_runs(runs, run_count, start_label, region_count, 8);
}
