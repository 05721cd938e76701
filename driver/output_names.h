// What the run refuses from its file names alone, before any work: a name
// of an image format that is not written.
#pragma once

#include <string>

#include "driver/options.h"

// The one line (without "runlabel: " or a newline) that refuses the outputs
// the options name, or "" when every one can be written. Not for the classic
// form, which takes any OUTPUT name.
std::string refuse_output_names(const Options& options);
