// Headerless dump of a 16-bit matrix, least significant byte first whatever
// the machine's byte order.
#include <bit>
#include <cstdint>
#include <cstdio>

#include "imagefiles/imagefiles.h"
#include "imagefiles/netpbm_header.h"
#include "support/support.h"

int write_raw_matrix16(const char* file_name, int16_t** matrix, int rows, int cols) {
    std::unique_ptr<OutputFile> out = open_output(file_name);
    std::FILE* file = out->stream();
    bool ok = true;
    if (rows > 0 && cols > 0) {
        const std::size_t count = std::size_t(rows) * std::size_t(cols);
        if constexpr (std::endian::native == std::endian::little) {
            ok = std::fwrite(matrix[0], 2, count, file) == count;
        } else {
            for (std::size_t i = 0; i < count && ok; ++i) {
                auto value = static_cast<uint16_t>(matrix[0][i]);
                ok = std::fputc(value & 0xff, file) != EOF && std::fputc(value >> 8, file) != EOF;
            }
        }
    }
    if (!ok) out->fail();
    return out->commit() ? 0 : 1;
}
