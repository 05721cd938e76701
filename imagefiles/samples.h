// Internal to imagefiles: sample layouts shared by the readers and writers,
// the unpacking of samples narrower than a byte and byte-order changes.
#pragma once

#include <cstddef>
#include <cstdint>

// Spreads count samples of depth bits (1, 2 or 4), packed most significant
// first, to one byte each holding the stored value.
void unpack_samples(const uint8_t* packed, int depth, int64_t count, uint8_t* out);

// Reverses the bytes of each of count samples of width bytes (2, 4 or 8), in place.
void swap_sample_bytes(uint8_t* samples, int width, std::size_t count);

// Clears the bits past width in the last byte of a kBit row.
void clear_padding_bits(uint8_t* row, int64_t width);
