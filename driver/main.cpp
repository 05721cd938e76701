// Entry point of the runlabel command; the pipeline lives in the driver library.
#include "driver/driver.h"

int main(int argc, char** argv) { return run_command_line(argc, argv); }
