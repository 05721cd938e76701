// Internal to the driver: encoding the greymap without a full-size 16-bit copy
// of the image.
#pragma once

#include "imagefiles/imagefiles.h"
#include "labeling/labeling.h"

// Encodes the greymap's pixels (any non-zero byte is foreground) into runs
// numbered 1..N in raster order, exactly as image_to_runs does on a 16-bit
// copy of the whole image, but widening only a band of rows at a time.
RunNode* encode_greymap(const GreyImage& image, RowIndex row_index, int* run_count);
