// What the benchmark learns per image, and the tables printed at the end:
// stage times, the whole labeling against the peer, and the label check.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

// Image names are "family/size", as BenchImage::name; benchmark names are
// "stage/family/size", with the connectivity in the stage ("label32-4c").
void note_labeling(const std::string& image, int connectivity, long long runs, long long regions);

// Records the outcome of comparing our labels with the peer's: empty when
// identical, "renumbered" for the same regions numbered otherwise, else a line
// starting "MISMATCH", which is also printed on standard error at once.
void note_check(const std::string& image, int connectivity, const std::string& problem);
bool is_checked(const std::string& image, int connectivity);
bool any_mismatch();

// The console report, trimmed: of the aggregates of a repeated benchmark only
// the median is shown, and names drop the run-setting suffixes. Every time
// shown is also kept for print_summary. Output is flushed per benchmark.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    SummaryReporter(OutputOptions options, std::size_t name_width)
        : ConsoleReporter(options), name_width_(name_width) {}
    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& reports) override;

  private:
    std::size_t name_width_;
};

// Per image size, one line per family and connectivity: milliseconds per call
// of ours and the peer's, their ratios and the check.
void print_summary(std::ostream& out);
