#include "imagefiles/formats.h"
std::unique_ptr<RasterReader> open_png_raster(InputStream) {
    throw ImageError(ImageError::Kind::kUnsupported, "x");
}
