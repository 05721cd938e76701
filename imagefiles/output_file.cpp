// The record writers' way to OutputFile: an output that cannot be opened ends
// the program, as it always has; everything else is OutputFile's.
#include "imagefiles/netpbm_header.h"
#include "support/support.h"

std::unique_ptr<OutputFile> open_output(const char* file_name) {
    std::unique_ptr<OutputFile> out = OutputFile::open(file_name);
    if (out == nullptr) fatal_error("Output file open failed");
    return out;
}
