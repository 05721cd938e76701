// Raw greymaps: one byte per pixel whatever maxval says; the raster is moved
// with one block read or write, since the pixel rows share one block.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imagefiles/imagefiles.h"
#include "imagefiles/netpbm_header.h"
#include "support/support.h"

GreyImage* read_pgm(const char* file_name) {
    NetpbmHeader header{};
    std::FILE* file = open_netpbm(file_name, kGreymap, &header);
    if (file == nullptr) return nullptr;
    const uint64_t pixels = uint64_t(header.width) * uint64_t(header.height);

    auto* image = static_cast<GreyImage*>(heap_alloc(sizeof(GreyImage), false));
    if (image == nullptr) fatal_error("Memory allocation failure");
    std::memcpy(image->magic, "P5", 3);
    image->width = header.width;
    image->height = header.height;
    image->maxval = header.maxval;
    image->pixels = alloc_byte_matrix(header.height, header.width);
    if (pixels > 0 && std::fread(image->pixels[0], 1, pixels, file) != pixels) {
        free_pgm(image);
        refuse_truncated(file);
        return nullptr;
    }
    std::fclose(file);
    return image;
}

int write_pgm(const char* file_name, const GreyImage* image) {
    std::FILE* file = open_output(file_name);
    const uint64_t pixels = uint64_t(image->width) * uint64_t(image->height);
    bool ok = write_netpbm_header(file, image->magic, file_name, image->width, image->height,
                                  image->maxval);
    if (ok && pixels > 0) ok = std::fwrite(image->pixels[0], 1, pixels, file) == pixels;
    if (!close_output(file, file_name, ok)) fatal_error("Output file write failed");
    return 1;
}

void free_pgm(GreyImage* image) {
    if (image == nullptr) return;
    free_byte_matrix(image->pixels, image->height, image->width);
    heap_free(image);
}
