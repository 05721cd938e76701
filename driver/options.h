// The command line, parsed once into a plain record that the rest of the
// driver reads; nothing past this file looks at argv.
#pragma once

#include <cstdint>
#include <string>

struct Options {
    std::string program = "runlabel";  // argv[0], for the usage text
    std::string input;                 // "-": standard input
    std::string output;                // "-": standard output
    int connectivity = 4;
    std::string stats;  // region table; "" none, "-" standard output
    std::string color;  // colour view; "" none
    std::uint64_t min_area = 0;
    bool sort_by_area = false;
    int depth = 0;    // label bits for the formats that choose; 0: the narrowest
    int threads = 0;  // 0: every core the process may use
    bool quiet = false;
    // An output whose directory takes no temporary is written where it is,
    // rather than refused.
    bool in_place = false;
    // No option given. With a raw greymap in and an OUTPUT of no format of its
    // own (classic_output_name) the run is the classic form, whose output
    // stays exactly as it was; any other input is read by its content.
    bool plain = true;
};

enum class Parse {
    kRun,      // options filled in
    kUsage,    // fewer than two file names: the classic usage text, status 1
    kHelp,     // --help
    kVersion,  // --version
    kError,    // a bad option or value; error says which
};

struct ParsedCommandLine {
    Parse outcome = Parse::kRun;
    Options options;
    std::string error;  // one line, without "runlabel: " or a newline
};

// Whether OUTPUT ("-" too) asks for no label format but the one written
// otherwise (a greymap): given no option, such a run on a raw greymap is the
// classic form.
bool classic_output_name(const std::string& output);

// GNU conventions: long options with a short form for the common ones,
// "--opt=value" and "--opt value", "-c8" and "-c 8", options anywhere, "--"
// ends them, "-" alone is a file name; names after the second are ignored.
ParsedCommandLine parse_command_line(int argc, const char* const* argv);
