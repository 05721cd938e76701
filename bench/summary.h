// What the benchmark learns per image, and the tables printed at the end:
// stage times, the whole labeling against the peer, and the label check.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

// Stage names as they head benchmark names ("labeling/noise30-b4/4096").
inline constexpr const char* kLabelingStage = "labeling";
inline constexpr const char* kPeerStage = "opencv";

// Image names are "family/size", as BenchImage::name.
void note_labeling(const std::string& image, long long runs, int regions);

// Records the outcome of comparing our labels with the peer's: empty when
// identical, else a line starting "MISMATCH", which is also printed on
// standard error at once.
void note_check(const std::string& image, const std::string& problem);
bool is_checked(const std::string& image);
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

// Per image size, one line per family: milliseconds per stage, the whole
// labeling, pixels per second, the peer, ours / peer and the check.
void print_summary(std::ostream& out);
