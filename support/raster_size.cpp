// Raster sizes, multiplied with overflow checks at every step. A row is
// counted in whole bytes, not bits, so that no intermediate overflows first.
#include "support/raster_size.h"

bool raster_bytes(int64_t width, int64_t rows, int64_t samples, int bits, std::size_t* bytes) {
    if (width < 0 || rows < 0 || samples < 0 || bits < 1 || bits > 64) return false;
    uint64_t in_row = 0;
    if (__builtin_mul_overflow(uint64_t(width), uint64_t(samples), &in_row)) return false;
    // Eight samples take `bits` whole bytes; the last few, a partial byte.
    uint64_t row = 0;
    if (__builtin_mul_overflow(in_row / 8, uint64_t(bits), &row) ||
        __builtin_add_overflow(row, (in_row % 8 * uint64_t(bits) + 7) / 8, &row))
        return false;
    uint64_t total = 0;
    if (__builtin_mul_overflow(row, uint64_t(rows), &total) || total > uint64_t(PTRDIFF_MAX))
        return false;
    *bytes = static_cast<std::size_t>(total);
    return true;
}
