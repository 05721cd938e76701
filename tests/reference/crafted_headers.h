// Headers of images far larger than the bytes that follow them, for the tests
// that check declared sizes are never trusted.
#pragma once

#include <cstdint>
#include <string>

namespace runlabel_test {

inline std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char(v >> (8 * i));
    return s;
}

// A PNG signature and 8-bit grey header, then the start of an image data chunk.
inline std::string png_header(uint32_t width, uint32_t height, char interlace) {
    std::string ihdr =
        "IHDR" + be32(width) + be32(height) + std::string("\x08\0\0\0", 4) + interlace;
    uint32_t crc = 0xffffffff;
    for (char ch : ihdr) {
        crc ^= uint8_t(ch);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    return "\x89PNG\r\n\x1a\n" + be32(13) + ihdr + be32(~crc) + be32(100000) + "IDAT";
}

// An uncompressed one-strip grey TIFF holding 8 bytes of samples.
inline std::string tiff_header(uint32_t width, uint32_t height, uint16_t bits) {
    const uint32_t fields[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, bits},
                                  {259, 3, 1},     {262, 3, 1},      {273, 4, 8},
                                  {277, 3, 1},     {278, 4, height}, {279, 4, 8}};
    std::string file = std::string("II*\0", 4) + le(16, 4) + std::string(8, '\0') + le(9, 2);
    for (const auto& f : fields)
        file += le(f[0], 2) + le(f[1], 2) + le(1, 4) + le(f[2], f[1] == 3 ? 2 : 4) +
                std::string(f[1] == 3 ? 2 : 0, '\0');
    return file + le(0, 4);
}

// An .npy of 8-bit samples with a header alone.
inline std::string npy_header(const std::string& shape) {
    std::string dict = "{'descr': '|u1', 'fortran_order': False, 'shape': " + shape + ", }";
    dict.append((64 - (11 + dict.size()) % 64) % 64, ' ');
    dict += '\n';
    return std::string("\x93NUMPY\x01\0", 8) + le(uint32_t(dict.size()), 2) + dict;
}

}  // namespace runlabel_test
