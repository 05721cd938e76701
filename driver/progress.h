// A progress line for long runs: on standard error when it is a terminal and
// the run has taken more than about a second, rewritten in place as rows are
// read and written, and erased at the end.
#pragma once

#include <cstdint>

// Starts the clock; enabled is false for --quiet.
void progress_start(bool enabled);

// Rows read (of the image's height) and written so far; fit for the
// callbacks of label_input and write_outputs.
void progress_rows_read(int64_t rows, int64_t of);
void progress_rows_written(int64_t rows, int64_t of);

// Erases the line, if one was shown.
void progress_end();
