// Output names checked before the input is read: a name that asks for a
// format runlabel does not write is an error, not a greymap under that name.
#include "driver/output_names.h"

#include "imagefiles/raster.h"

std::string refuse_output_names(const Options& options) {
    const std::string labels = unwritten_image_extension(options.output.c_str());
    if (!labels.empty()) {
        return options.output + ": " + labels + " is not written; name OUTPUT .png, .tif, .tiff, " +
               ".npy, .pam or .pgm";
    }
    const std::string view = unwritten_image_extension(options.color.c_str());
    if (!view.empty()) {
        return options.color + ": " + view + " is not written; name --color .png, .tif, .tiff, " +
               ".npy, .pam or .ppm";
    }
    return "";
}
