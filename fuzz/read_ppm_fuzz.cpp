// Fuzz target: any bytes as a pixmap file. A decoded image must be well
// formed, its interleaved raster must be bytes of the input, and it must
// survive a write and a read back unchanged.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "imagefiles/imagefiles.h"

namespace {

// The planes put back together as the file holds them: red, green, blue.
std::vector<uint8_t> interleave(const ColorImage& image) {
    std::vector<uint8_t> raster;
    raster.reserve(std::size_t(image.width) * std::size_t(image.height) * 3);
    for (int r = 0; r < image.height; ++r)
        for (int c = 0; c < image.width; ++c) {
            raster.push_back(image.red[r][c]);
            raster.push_back(image.green[r][c]);
            raster.push_back(image.blue[r][c]);
        }
    return raster;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    prepare_fuzz_process();
    const char* input = fuzz_input_file(data, size);
    if (!header_within_cap(input, kPixmap)) return 0;
    try {
        ColorImage* image = read_ppm(input);
        if (image == nullptr) return 0;
        const std::vector<uint8_t> raster = interleave(*image);
        FUZZ_CHECK(std::strcmp(image->magic, "P6") == 0);
        FUZZ_CHECK(opens_with_magic(data, size, "P6"));
        FUZZ_CHECK(image->width >= 0 && image->height >= 0);
        FUZZ_CHECK(image->maxval >= 1 && image->maxval <= 65535);
        FUZZ_CHECK(raster.size() <= size);
        FUZZ_CHECK(raster.empty() || memmem(data, size, raster.data(), raster.size()) != nullptr);

        write_ppm(fuzz_output_file(), image);
        ColorImage* again = read_ppm(fuzz_output_file());
        FUZZ_CHECK(again != nullptr && again->width == image->width &&
                   again->height == image->height && again->maxval == image->maxval &&
                   interleave(*again) == raster);
        free_ppm(again);
        free_ppm(image);
    } catch (const FatalStop&) {
        // Out of memory or an unopenable file: a clean stop, not a fault.
    }
    return 0;
}
