// Fuzz target: any bytes as a greymap file. A decoded image must be well
// formed, its raster must be bytes of the input, and it must survive a write
// and a read back unchanged.
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "imagefiles/imagefiles.h"

namespace {

bool same_pixels(const GreyImage& a, const GreyImage& b) {
    const std::size_t count = std::size_t(a.width) * std::size_t(a.height);
    return count == 0 || std::memcmp(a.pixels[0], b.pixels[0], count) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    prepare_fuzz_process();
    const char* input = fuzz_input_file(data, size);
    if (!header_within_cap(input, kGreymap)) return 0;
    try {
        GreyImage* image = read_pgm(input);
        if (image == nullptr) return 0;
        const std::size_t count = std::size_t(image->width) * std::size_t(image->height);
        FUZZ_CHECK(std::strcmp(image->magic, "P5") == 0);
        FUZZ_CHECK(opens_with_magic(data, size, "P5"));
        FUZZ_CHECK(image->width >= 0 && image->height >= 0);
        FUZZ_CHECK(image->maxval >= 1 && image->maxval <= 65535);
        FUZZ_CHECK(count <= size);
        FUZZ_CHECK(count == 0 || memmem(data, size, image->pixels[0], count) != nullptr);

        write_pgm(fuzz_output_file(), image);
        GreyImage* again = read_pgm(fuzz_output_file());
        FUZZ_CHECK(again != nullptr && again->width == image->width &&
                   again->height == image->height && again->maxval == image->maxval &&
                   same_pixels(*image, *again));
        free_pgm(again);
        free_pgm(image);
    } catch (const FatalStop&) {
        // Out of memory or an unopenable file: a clean stop, not a fault.
    }
    return 0;
}
