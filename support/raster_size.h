// The one overflow-checked size of a raster. Every reader, read_image and the
// Python module ask it before they take memory for rows or images, so that no
// header's numbers are multiplied unchecked.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of `rows` rows of `width` pixels, each of `samples` samples of `bits`
// bits (1 to 64; a row of samples narrower than a byte is padded to whole
// bytes, as PBM and packed PNG rows are). False, with *bytes untouched, when a
// count is negative, bits is out of range, or the size passes PTRDIFF_MAX,
// the most one allocation can take.
bool raster_bytes(int64_t width, int64_t rows, int64_t samples, int bits, std::size_t* bytes);

// The largest raster the labelling engine takes: its column bounds are
// 32-bit, and a run's end plus the one-column slack of 8-neighbour labelling
// must fit; rows are counted in 32 bits.
inline constexpr int64_t kMostColumns = INT32_MAX - 2;
inline constexpr int64_t kMostRows = INT32_MAX;
