// Raster sizes: exact where they fit, refused (never wrapped) where they do not.
#include "support/raster_size.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct SizeCase {
    int64_t width, rows, samples;
    int bits;
    bool fits;
    std::size_t bytes;
};

TEST(RasterBytes, ExactOrRefused) {
    constexpr int64_t kGiga = int64_t(1) << 30;
    const SizeCase cases[] = {
        {0, 0, 1, 8, true, 0},
        {3, 2, 1, 8, true, 6},
        {9, 2, 1, 1, true, 4},  // bitmap rows padded to two bytes
        {5, 1, 3, 4, true, 8},  // 60 bits of nibbles: 8 bytes
        {7, 3, 2, 16, true, 84},
        {kGiga, kGiga, 16, 8, false, 0},  // a PAM header's 2^64 bytes
        {INT64_MAX, 1, 1, 8, true, std::size_t(INT64_MAX)},
        {INT64_MAX, 1, 2, 8, false, 0},
        {INT64_MAX / 8 + 1, 1, 1, 64, false, 0},
        {int64_t(1) << 40, int64_t(1) << 23, 1, 8, false, 0},  // 2^63: one past PTRDIFF_MAX
        {-1, 1, 1, 8, false, 0},
        {1, -1, 1, 8, false, 0},
        {1, 1, -1, 8, false, 0},
        {1, 1, 1, 0, false, 0},
        {1, 1, 1, 65, false, 0},
    };
    for (const SizeCase& c : cases) {
        std::size_t bytes = 12345;
        EXPECT_EQ(raster_bytes(c.width, c.rows, c.samples, c.bits, &bytes), c.fits)
            << c.width << " x " << c.rows << " x " << c.samples << " x " << c.bits;
        EXPECT_EQ(bytes, c.fits ? c.bytes : 12345u) << c.width << " x " << c.rows;
    }
}

}  // namespace
