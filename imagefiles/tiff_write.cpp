#include "imagefiles/formats.h"
std::unique_ptr<RasterWriter> make_tiff_writer(std::FILE*, bool, const RasterSpec&) {
    throw ImageError(ImageError::Kind::kUnsupported, "x");
}
