// Raw pixmaps as records: red, green, blue bytes per pixel in the file, three
// separate planes in memory. Rows go through the band reader and writer of
// every Netpbm format one at a time, by way of one interleaved row buffer.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imagefiles/formats.h"
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
    auto reader = make_netpbm_reader(InputStream(file, true), header, true);
    try {
        for (int r = 0; r < height && width > 0; ++r) {
            reader->read_rows(row, 1);
            for (int c = 0; c < width; ++c) {
                image->red[r][c] = row[3 * c];
                image->green[r][c] = row[3 * c + 1];
                image->blue[r][c] = row[3 * c + 2];
            }
        }
    } catch (const ImageError& error) {
        heap_free(row);
        free_ppm(image);
        std::fprintf(stderr, "%s\n", error.what());
        return nullptr;
    }
    heap_free(row);
    return image;
}

int write_ppm(const char* file_name, const ColorImage* image) {
    const int width = image->width;
    // Taken before the output exists, so running out of memory leaves none.
    uint8_t* row = alloc_row_buffer(width);
    std::unique_ptr<OutputFile> out = OutputFile::open(file_name);
    if (out == nullptr) fatal_error("Output file open failed");
    try {
        RasterLayout layout;
        layout.width = width;
        layout.height = image->height;
        layout.channels = 3;
        layout.maxval = image->maxval;
        layout.comment = file_name;
        auto writer = make_netpbm_writer(out->stream(), image->magic, layout);
        for (int r = 0; r < image->height; ++r) {
            for (int c = 0; c < width; ++c) {
                row[3 * c] = image->red[r][c];
                row[3 * c + 1] = image->green[r][c];
                row[3 * c + 2] = image->blue[r][c];
            }
            writer->write_rows(row, 1);
        }
        writer->finish();
    } catch (const ImageError&) {
        out->fail();
    }
    heap_free(row);
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
