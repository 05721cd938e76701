// The runlabel command: one input image in, its label image out, with the
// region table and colour view the options ask for, and the region count
// and stage times on standard output.
#pragma once

// Runs the command on argv and returns its exit status.
// - Fewer than two file names and no option: the usage text, naming the
//   program as invoked, and 1, without reading anything.
// - --help, --version: the text on standard output and 0 (1 when it could
//   not be written).
// - An option or argument it cannot take: "runlabel: reason" and a line
//   pointing at --help on standard error, and 2.
// - The classic form (no option, a raw greymap input, an OUTPUT named for no
//   format of its own): every pixel's label mod 256 written over the image
//   under the output name, the region count and three timing lines (on
//   standard error when the output is standard output's own file or pipe),
//   and 0; 1 after "Standard output write failed" when the report could not
//   be written, or after the reader's message for a bad input; unopenable
//   files and exhausted memory stop the process through fatal_error.
// - Any other run reads its input by content and writes what the options
//   ask; it reports only once every output is in place, ends any failure with
//   one line, "runlabel: FILE: reason", and leaves no partial output: 1 for a
//   failure while reading, labeling or writing, 2 for a name refused before
//   any work (an unwritten extension, two outputs on one file).
int run_command_line(int argc, char** argv);
