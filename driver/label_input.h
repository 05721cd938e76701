// Reading the input a band of rows at a time and labelling it as it comes:
// the raster is never held whole, only its runs.
#pragma once

#include <ctime>

#include "driver/options.h"
#include "imagefiles/raster.h"
#include "runlabel/runlabel.h"

struct LabelledInput {
    runlabel::Labeling labeling;
    RasterInfo info;
};

// Labels options.input ("-": standard input) as the options ask; *read_done
// gets the clock reading once the last row has arrived, before numbering.
// Throws ImageError when it cannot be read, runlabel::error or std::bad_alloc.
// rows_read, when given, is told how many rows have arrived, band by band.
LabelledInput label_input(const Options& options, void (*rows_read)(int64_t rows, int64_t of),
                          std::time_t* read_done);
