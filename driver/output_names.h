// What the run refuses from its file names alone, before any work: a name
// of an image format that is not written, and two outputs (or an output
// beside the labels and the input) that are one file or stream.
#pragma once

#include <string>

#include "driver/options.h"

// The one line (without "runlabel: " or a newline) that refuses the outputs
// the options name, or "" when every one can be written. Two names are one
// file when they stat to the same device and inode ("-" is standard output's
// or input's own, so /dev/stdout and /dev/fd/1 are "-" too), or, for files
// not there yet, when their normalised paths are equal; the null device
// takes any number of outputs. The labels may go over their own input. Not
// for the classic form, which takes any OUTPUT name.
std::string refuse_output_names(const Options& options);
