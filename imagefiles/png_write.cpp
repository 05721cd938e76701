#include "imagefiles/formats.h"
std::unique_ptr<RasterWriter> make_png_writer(std::FILE*, const RasterSpec&) {
    throw ImageError(ImageError::Kind::kUnsupported, "x");
}
