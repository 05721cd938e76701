// Reading the input a band of rows at a time and labelling it as it comes:
// the raster is never held whole, only its runs.
#pragma once

#include <ctime>
#include <memory>

#include "driver/options.h"
#include "imagefiles/raster.h"
#include "runlabel/runlabel.h"

class InputWatch;

struct LabelledInput {
    runlabel::Labeling labeling;
    RasterInfo info;
};

// The input, opened and its header read, with what tells whether it changed.
struct OpenedInput {
    OpenedInput();
    OpenedInput(OpenedInput&&) noexcept;
    OpenedInput& operator=(OpenedInput&&) noexcept;
    ~OpenedInput();
    std::unique_ptr<InputWatch> watch;
    std::unique_ptr<RasterReader> reader;
};

// Opens options.input ("-": standard input). With no option and an OUTPUT
// name of no label format of its own, a raw greymap goes through the classic
// door (open_plain_raster) and *classic is set; any other input is read by
// its content and *classic cleared. *classic is settled before anything but
// ImageError(kNotFound) is thrown; it is left as the options suggest then.
// Throws ImageError, std::bad_alloc.
OpenedInput open_labelled_input(const Options& options, bool* classic);

// Labels the opened input as the options ask; *read_done gets the clock
// reading once the last row has arrived, before numbering. Throws ImageError
// when it cannot be read or changed while it was read, runlabel::error or
// std::bad_alloc. rows_read, when given, is told how many rows have arrived,
// band by band.
LabelledInput label_input(const Options& options, OpenedInput input,
                          void (*rows_read)(int64_t rows, int64_t of), std::time_t* read_done);
