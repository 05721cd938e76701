// Writing what a run produces: the label image, the colour view and the
// region table, each through the one output path, and none of them left half
// written when any one fails.
#pragma once

#include <string>

#include "driver/options.h"
#include "imagefiles/raster.h"
#include "runlabel/runlabel.h"

// Why an output could not be made, for both voices of the command.
struct OutputFailure {
    std::string name;  // as given; "-": standard output
    // The classic form's fatal_error message ("Output file open failed",
    // "Output file write failed", "Memory allocation failure"), or nullptr
    // for a refusal that is no fatal error (reason says it).
    const char* classic;
    int code = 0;        // errno, when the system gave one
    std::string reason;  // otherwise: one line in the readers' style
};

// Checks that every output can take the labels, then writes them all. A
// label that does not fit, or a format that cannot hold one, is refused
// before anything is written; an output that cannot be opened or written
// throws OutputFailure, its temporaries removed as it unwinds. rows_written,
// when given, hears of the rows as they go out. A classic run writes its
// greymap as the classic form always has.
void write_outputs(const Options& options, bool classic, const runlabel::Labeling& labeling,
                   const RasterInfo& input, void (*rows_written)(int64_t rows, int64_t of));
