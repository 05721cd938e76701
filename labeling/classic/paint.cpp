// Paints a classic run list back into pixel rows, reached through their row
// pointers. Every pixel starts as background; a run covers exactly its
// columns scol..ecol of its row, and a later run in the list paints over an
// earlier one.
#include <algorithm>
#include <cstdint>

#include "labeling/classic/classic.h"
#include "support/support.h"

namespace {

template <typename T>
void paint_list(const RunNode* runs, T* const* rows, int row_count, int cols) {
    if (cols <= 0) return;
    for (int r = 0; r < row_count; ++r) std::fill(rows[r], rows[r] + cols, T{0});
    for (const RunNode* run = runs; run != nullptr; run = run->next) {
        T* row = rows[run->row];
        std::fill(row + run->scol, row + run->ecol + 1, static_cast<T>(run->label));
    }
}

}  // namespace

int16_t** runs_to_label_image(const RunNode* runs, int rows, int cols) {
    int16_t** image = alloc_short_matrix(rows, cols);
    paint_list(runs, image, rows, cols);
    return image;
}
