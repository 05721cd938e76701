// Entry point of the runlabel command; the pipeline lives in the driver library.
#include "driver/driver.h"
#include "support/file_mapping.h"
#include "support/output_file.h"

int main(int argc, char** argv) {
    // A program, unlike a library, may own these signals: an interrupted run
    // leaves no temporary and no partial output.
    remove_outputs_on_fatal_signals();
    // An input read in place may be cut short under it: an error, not SIGBUS.
    guard_file_mappings();
    return run_command_line(argc, argv);
}
