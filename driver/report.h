// Where the run's report lines go, and whether they got there. The report
// never lands inside the image: when the output is standard output's own file
// or pipe, the lines go to standard error instead.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Picks the stream for the report ("Run ID", the region count, the timings):
// standard error when one of the run's outputs is "-" or names the file or
// pipe that standard output already writes to, standard output otherwise.
// Call it before any file is opened: a closed standard output or error is
// first given a descriptor that takes no bytes, so that no file opened later
// lands on it and a report written there fails instead of going into that
// file.
std::FILE* choose_report_stream(const std::vector<std::string>& outputs);

// Flushes the report and standard output. True when every byte got out;
// otherwise says "Standard output write failed" on standard error, or, for a
// run that is not the classic form, "runlabel: standard output: " and why.
bool report_complete(std::FILE* report, bool classic);

// For the length of a scope, sends what is printed on standard output to the
// report stream (at the descriptor level), for code that prints to standard
// output itself. Does nothing when the report is standard output.
class StdoutRoutedTo {
  public:
    explicit StdoutRoutedTo(std::FILE* report);
    ~StdoutRoutedTo();
    StdoutRoutedTo(const StdoutRoutedTo&) = delete;
    StdoutRoutedTo& operator=(const StdoutRoutedTo&) = delete;

  private:
    int saved_ = -1;
};
