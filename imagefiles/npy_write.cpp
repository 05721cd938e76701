#include "imagefiles/formats.h"
std::unique_ptr<RasterWriter> make_npy_writer(std::FILE*, const RasterSpec&) {
    throw ImageError(ImageError::Kind::kUnsupported, "x");
}
