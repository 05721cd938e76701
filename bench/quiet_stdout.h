// The labeling prints a line on standard output per call, thousands of times
// in a benchmark run. The benchmark therefore points file descriptor 1 at
// /dev/null and writes its own report through a stream on a copy of the
// original descriptor.
#pragma once

#include <ostream>

// Flushes stdout, silences descriptor 1 and returns a stream on the original
// standard output. Call once, before anything that may print; the stream
// lives until the process ends. Stops the program when a descriptor cannot be
// duplicated.
std::ostream& silence_stdout();

// Whether the stream returned by silence_stdout() goes to a terminal.
bool report_is_terminal();
