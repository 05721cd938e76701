// Paints labelled runs back into a pixel raster. Every pixel starts as
// background (0); a run covers exactly its columns scol..ecol of its row.
#include <algorithm>
#include <cstring>

#include "labeling/labeling.h"
#include "support/support.h"

int16_t** runs_to_label_image(const RunNode* runs, int rows, int cols) {
    int16_t** image = alloc_short_matrix(rows, cols);
    // The rows share one block, so one clear covers the whole raster.
    if (rows > 0 && cols > 0)
        std::memset(image[0], 0, sizeof(int16_t) * static_cast<std::size_t>(rows) * cols);
    for (const RunNode* run = runs; run != nullptr; run = run->next) {
        // Conversion to a 16-bit type keeps the low 16 bits of the label.
        const auto label = static_cast<int16_t>(run->label);
        std::fill(image[run->row] + run->scol, image[run->row] + run->ecol + 1, label);
    }
    return image;
}
