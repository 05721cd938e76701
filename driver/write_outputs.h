// Writing what a run produces: the label image, the colour view and the
// region table, each through the one output path, and none of them left half
// written when any one fails.
#pragma once

#include "driver/options.h"
#include "imagefiles/raster.h"
#include "runlabel/runlabel.h"

// What ends a run through fatal_error once everything it made is cleaned up:
// "Output file open failed", "Output file write failed".
struct FatalFailure {
    const char* message;
};

// Checks that every output can take the labels, then writes them all. A
// label that does not fit, or a format that cannot hold one, is an ImageError
// (kUnsupported) before anything is written; an output that cannot be opened
// or written throws FatalFailure, its temporaries removed as it unwinds.
// rows_written, when given, hears of the rows as they go out. A classic run
// writes its greymap as the classic form always has.
void write_outputs(const Options& options, bool classic, const runlabel::Labeling& labeling,
                   const RasterInfo& input, void (*rows_written)(int64_t rows, int64_t of));
