// Raw pixmaps: red, green, blue bytes per pixel in the file, three separate
// planes in memory. Rows are moved as whole blocks through one row buffer.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imagefiles/imagefiles.h"
#include "imagefiles/netpbm_header.h"
#include "support/output_file.h"
#include "support/support.h"

namespace {

uint8_t* alloc_row_buffer(int width) {
    auto* buffer = static_cast<uint8_t*>(heap_alloc(std::size_t(width) * 3, false));
    if (buffer == nullptr) fatal_error("Memory allocation failure");
    return buffer;
}

}  // namespace

ColorImage* read_ppm(const char* file_name) {
    NetpbmHeader header{};
    std::FILE* file = open_netpbm(file_name, kPixmap, &header);
    if (file == nullptr) return nullptr;
    const int width = header.width;
    const int height = header.height;

    auto* image = static_cast<ColorImage*>(heap_alloc(sizeof(ColorImage), false));
    if (image == nullptr) fatal_error("Memory allocation failure");
    std::memcpy(image->magic, "P6", 3);
    image->width = width;
    image->height = height;
    image->maxval = header.maxval;
    image->red = alloc_byte_matrix(height, width);
    image->green = alloc_byte_matrix(height, width);
    image->blue = alloc_byte_matrix(height, width);
    uint8_t* row = alloc_row_buffer(width);
    const std::size_t row_bytes = std::size_t(width) * 3;
    bool complete = true;
    for (int r = 0; r < height && complete && width > 0; ++r) {
        complete = std::fread(row, 1, row_bytes, file) == row_bytes;
        for (int c = 0; c < width && complete; ++c) {
            image->red[r][c] = row[3 * c];
            image->green[r][c] = row[3 * c + 1];
            image->blue[r][c] = row[3 * c + 2];
        }
    }
    heap_free(row);
    if (!complete) {
        free_ppm(image);
        refuse_truncated(file);
        return nullptr;
    }
    std::fclose(file);
    return image;
}

int write_ppm(const char* file_name, const ColorImage* image) {
    const int width = image->width;
    // Taken before the output exists, so running out of memory leaves none.
    uint8_t* row = alloc_row_buffer(width);
    std::unique_ptr<OutputFile> out = OutputFile::open(file_name);
    if (out == nullptr) fatal_error("Output file open failed");
    std::FILE* file = out->stream();
    bool ok =
        write_netpbm_header(file, image->magic, file_name, width, image->height, image->maxval);
    const std::size_t row_bytes = std::size_t(width) * 3;
    for (int r = 0; r < image->height && ok && width > 0; ++r) {
        for (int c = 0; c < width; ++c) {
            row[3 * c] = image->red[r][c];
            row[3 * c + 1] = image->green[r][c];
            row[3 * c + 2] = image->blue[r][c];
        }
        ok = std::fwrite(row, 1, row_bytes, file) == row_bytes;
    }
    heap_free(row);
    if (!ok) out->fail();
    if (!out->commit()) fatal_error("Output file write failed");
    return 1;
}

void free_ppm(ColorImage* image) {
    if (image == nullptr) return;
    free_byte_matrix(image->red, image->height, image->width);
    free_byte_matrix(image->green, image->height, image->width);
    free_byte_matrix(image->blue, image->height, image->width);
    heap_free(image);
}
