// Raw greymaps as records: the header reader and the band reader and writer
// of every Netpbm format. The reader fills its own matrix as one band; the
// writer goes through the row pointers, since a caller's rows may lie anywhere.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imagefiles/formats.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/input_stream.h"
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
    auto reader = make_netpbm_reader(InputStream(file, true), header, true);
    try {
        if (pixels > 0) reader->read_rows(image->pixels[0], header.height);
    } catch (const ImageError& error) {
        free_pgm(image);
        std::fprintf(stderr, "%s\n", error.what());
        return nullptr;
    }
    return image;
}

std::unique_ptr<RasterReader> open_greymap_raster(const char* path) {
    uint8_t signature[kSignatureBytes];
    std::size_t peeked = 0;
    return open_greymap_stream(open_input(path, signature, &peeked));
}

std::unique_ptr<RasterReader> open_greymap_stream(InputStream input) {
    NetpbmHeader header{};
    switch (read_netpbm_header(input.file(), kGreymap.magic, &header)) {
        case HeaderStatus::kWrongMagic:
            throw ImageError(ImageError::Kind::kNotImage, "Input file is not a PGM raw image.");
        case HeaderStatus::kInvalid:
            throw ImageError(ImageError::Kind::kInvalid, "Input file has an invalid PGM header.");
        case HeaderStatus::kOk:
            break;
    }
    if (!raster_fits_file(input.file(), netpbm_raster_bytes(header, true))) {
        throw ImageError(ImageError::Kind::kTruncated, "Input file is truncated.");
    }
    return make_netpbm_reader(std::move(input), header, true);
}

int write_pgm(const char* file_name, const GreyImage* image) {
    std::unique_ptr<OutputFile> out = OutputFile::open(file_name);
    if (out == nullptr) fatal_error("Output file open failed");
    try {
        RasterLayout layout;
        layout.width = image->width;
        layout.height = image->height;
        layout.maxval = image->maxval;
        layout.comment = file_name;
        auto writer = make_netpbm_writer(out->stream(), image->magic, layout);
        // A caller's matrix may hold its rows anywhere; rows that lie one after
        // another go out as one block.
        uint8_t* const* rows = image->pixels;
        const int height = image->height;
        bool contiguous = true;
        for (int r = 1; r < height && contiguous; ++r)
            contiguous = rows[r] == rows[0] + std::size_t(r) * std::size_t(image->width);
        if (contiguous && height > 0) {
            writer->write_rows(rows[0], height);
        } else {
            for (int r = 0; r < height; ++r) writer->write_rows(rows[r], 1);
        }
        writer->finish();
    } catch (const ImageError&) {
        out->fail();
    }
    if (!out->commit()) fatal_error("Output file write failed");
    return 1;
}

void free_pgm(GreyImage* image) {
    if (image == nullptr) return;
    free_byte_matrix(image->pixels, image->height, image->width);
    heap_free(image);
}
