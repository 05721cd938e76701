// Sample layouts: the byte counts of raster.h, and the conversions every
// format needs between what a file stores and what a row buffer holds.
#include "imagefiles/samples.h"

#include <cstring>

#include "imagefiles/raster.h"
#include "support/raster_size.h"

namespace {

// A byte of 1-bit samples as the eight bytes it unpacks to: one lookup and an
// 8-byte copy instead of eight shifts, the bulk of a bitmap's decode time.
struct BitTable {
    uint8_t bytes[256][8];
    constexpr BitTable() : bytes{} {
        for (int v = 0; v < 256; ++v)
            for (int b = 0; b < 8; ++b) bytes[v][b] = uint8_t((v >> (7 - b)) & 1);
    }
};
constexpr BitTable kBits;

}  // namespace

int sample_bytes(SampleType sample) {
    switch (sample) {
        case SampleType::kBit:
            return 0;
        case SampleType::kU8:
            return 1;
        case SampleType::kU16:
            return 2;
        case SampleType::kU32:
            return 4;
        case SampleType::kU64:
            return 8;
    }
    return 0;
}

int sample_bits(SampleType sample) {
    return sample == SampleType::kBit ? 1 : 8 * sample_bytes(sample);
}

SampleType sample_of_bits(int bits) {
    switch (bits) {
        case 8:
            return SampleType::kU8;
        case 16:
            return SampleType::kU16;
        case 32:
            return SampleType::kU32;
        default:
            return SampleType::kU64;
    }
}

std::size_t row_bytes(SampleType sample, int channels, int64_t width) {
    std::size_t bytes = 0;
    return raster_bytes(width, 1, channels, sample_bits(sample), &bytes) ? bytes : SIZE_MAX;
}

void unpack_samples(const uint8_t* packed, int depth, int64_t count, uint8_t* out) {
    if (depth == 1) {
        const int64_t whole = count / 8;
        for (int64_t i = 0; i < whole; ++i) std::memcpy(out + 8 * i, kBits.bytes[packed[i]], 8);
        for (int64_t i = 8 * whole; i < count; ++i) out[i] = (packed[i / 8] >> (7 - i % 8)) & 1;
        return;
    }
    const int per_byte = 8 / depth;
    const int mask = (1 << depth) - 1;
    for (int64_t i = 0; i < count; ++i) {
        const int shift = 8 - depth * (1 + int(i % per_byte));
        out[i] = uint8_t((packed[i / per_byte] >> shift) & mask);
    }
}

void swap_sample_bytes(uint8_t* samples, int width, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        uint8_t* s = samples + i * width;
        for (int a = 0, b = width - 1; a < b; ++a, --b) {
            const uint8_t t = s[a];
            s[a] = s[b];
            s[b] = t;
        }
    }
}

void clear_padding_bits(uint8_t* row, int64_t width) {
    const int used = int(width % 8);
    if (used != 0) row[width / 8] &= uint8_t(0xff00 >> used);
}
