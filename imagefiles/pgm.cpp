// Raw greymaps: one byte per pixel whatever maxval says. The reader fills its
// own matrix as one block; the writer goes through the row pointers, since a
// caller's matrix may hold its rows anywhere.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imagefiles/imagefiles.h"
#include "imagefiles/netpbm_header.h"
#include "support/output_file.h"
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
    std::unique_ptr<OutputFile> out = OutputFile::open(file_name);
    if (out == nullptr) fatal_error("Output file open failed");
    std::FILE* file = out->stream();
    const int width = image->width;
    const int height = image->height;
    bool ok = write_netpbm_header(file, image->magic, file_name, width, height, image->maxval);
    uint8_t* const* rows = image->pixels;
    bool contiguous = true;
    for (int r = 1; r < height && contiguous; ++r)
        contiguous = rows[r] == rows[0] + std::size_t(r) * std::size_t(width);
    if (width > 0 && height > 0 && contiguous) {
        const uint64_t pixels = uint64_t(width) * uint64_t(height);
        ok = ok && std::fwrite(rows[0], 1, pixels, file) == pixels;
    } else {
        for (int r = 0; r < height && ok && width > 0; ++r)
            ok = std::fwrite(rows[r], 1, std::size_t(width), file) == std::size_t(width);
    }
    if (!ok) out->fail();
    if (!out->commit()) fatal_error("Output file write failed");
    return 1;
}

void free_pgm(GreyImage* image) {
    if (image == nullptr) return;
    free_byte_matrix(image->pixels, image->height, image->width);
    heap_free(image);
}
