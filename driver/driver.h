// The runlabel command: one input image in, one label image out, with the
// region count and the stage times on standard output.
#pragma once

// Runs the command on argv. With fewer than two file names it prints the
// usage text, naming the program as invoked, and returns 1 without reading
// anything. Given no option, a raw greymap input and an OUTPUT named for no
// format of its own make the classic form: every pixel's label mod 256
// written over the image under the output name, the region count and three
// timing lines (on standard error when the output is standard output's own
// file or pipe), 0 returned; 1 after "Standard output write failed" when the
// report could not be written, or after the reader's message for a bad input;
// unopenable files and exhausted memory stop the process through fatal_error.
// Any other run reads its input by content and writes what the options ask;
// it reports only once every output is in place, and ends any failure with
// one line, "runlabel: FILE: reason", and status 1 (2 for a name refused
// before any work).
int run_command_line(int argc, char** argv);
