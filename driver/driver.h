// The runlabel command: one input greymap in, one label greymap out, with the
// region count and the stage times on standard output.
#pragma once

// Runs the command on argv[1] (input greymap) and argv[2] (output name);
// further arguments are ignored. With fewer than two names it prints the usage
// text, naming the program as invoked, and returns 1 without reading anything.
// Otherwise it labels the 4-connected foreground regions, writes every pixel's
// label mod 256 over the image, writes it under the output name, prints the
// region count and three timing lines (on standard error when the output is
// standard output's own file or pipe), and returns 0; 1 after "Standard
// output write failed" when the report could not be written. An input that is not a
// raw greymap returns 1 after the reader's message and writes no output;
// unopenable files and exhausted memory stop the process through fatal_error.
int run_command_line(int argc, char** argv);
