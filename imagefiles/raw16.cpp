// Headerless dump of a 16-bit matrix, least significant byte first whatever
// the machine's byte order. Rows are reached through their pointers; rows that
// lie one after another in memory go out as one block.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "imagefiles/imagefiles.h"
#include "support/output_file.h"
#include "support/support.h"

namespace {

bool write_row(std::FILE* file, const int16_t* row, std::size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        return std::fwrite(row, 2, count, file) == count;
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            auto value = static_cast<uint16_t>(row[i]);
            if (std::fputc(value & 0xff, file) == EOF || std::fputc(value >> 8, file) == EOF)
                return false;
        }
        return true;
    }
}

}  // namespace

int write_raw_matrix16(const char* file_name, int16_t** matrix, int rows, int cols) {
    std::unique_ptr<OutputFile> out = OutputFile::open(file_name);
    if (out == nullptr) fatal_error("Output file open failed");
    std::FILE* file = out->stream();
    bool ok = true;
    if (rows > 0 && cols > 0) {
        const std::size_t width = std::size_t(cols);
        bool contiguous = true;
        for (int r = 1; r < rows && contiguous; ++r)
            contiguous = matrix[r] == matrix[0] + std::size_t(r) * width;
        if (contiguous) {
            ok = write_row(file, matrix[0], std::size_t(rows) * width);
        } else {
            for (int r = 0; r < rows && ok; ++r) ok = write_row(file, matrix[r], width);
        }
    }
    if (!ok) out->fail();
    return out->commit() ? 0 : 1;
}
