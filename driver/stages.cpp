// A 4096 x 4096 image would need 32 MB for each of a 16-bit binary image and a
// 16-bit label image, and first-touch page faults on fresh memory cost more
// than the labeling itself. The encoder therefore widens a small band of rows
// at a time into one reused buffer (and the driver paints the labels straight
// into the greymap), so the only full-size block is the one the reader made.
#include "driver/stages.h"

#include <algorithm>
#include <climits>

#include "support/support.h"

namespace {

// About 256 KB of 16-bit pixels per band: small enough to stay in cache.
int band_rows(int cols) { return std::clamp((1 << 17) / std::max(cols, 1), 1, 1024); }

}  // namespace

RunNode* encode_greymap(const GreyImage& image, RowIndex row_index, int* run_count) {
    const int rows = image.height;
    const int cols = image.width;
    const int band = std::min(band_rows(cols), std::max(rows, 1));
    int16_t** binary = alloc_short_matrix(band, cols);
    RunNode head{};
    RunNode* tail = &head;
    int total = 0;
    for (int r0 = 0; r0 < rows; r0 += band) {
        const int n = std::min(band, rows - r0);
        for (int r = 0; r < n; ++r)
            std::copy(image.pixels[r0 + r], image.pixels[r0 + r] + cols, binary[r]);
        int count = 0;
        RunNode* runs = image_to_runs(binary, n, cols, row_index + r0, &count);
        // The band's runs and rows count from its own start; shift them to the image's.
        if (count > INT_MAX - 2 - total) fatal_error("Too many runs in image");
        tail->next = runs;
        for (RunNode* node = runs; node != nullptr; node = node->next) {
            node->run_id += total;
            node->row += r0;
            tail = node;
        }
        for (int r = r0; r < r0 + n; ++r) {
            if (row_index[r][0] == 0) continue;
            row_index[r][0] += total;
            row_index[r][1] += total;
        }
        total += count;
    }
    free_short_matrix(binary, band, cols);
    *run_count = total;
    return head.next;
}
