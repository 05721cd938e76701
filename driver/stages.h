// Internal to the driver: the two stages that move between the greymap and the
// run list without a full-size 16-bit copy of the image on either side.
#pragma once

#include "imagefiles/imagefiles.h"
#include "labeling/labeling.h"

// Encodes the greymap's pixels (any non-zero byte is foreground) into runs
// numbered 1..N in raster order, exactly as image_to_runs does on a 16-bit
// copy of the whole image, but widening only a band of rows at a time.
RunNode* encode_greymap(const GreyImage& image, RowIndex row_index, int* run_count);

// Writes the low 8 bits of every run's label over the greymap's pixels and
// zero everywhere else; the same bytes as painting runs_to_label_image and
// storing each element's low byte.
void paint_low_bytes(const RunNode* runs, GreyImage& image);
