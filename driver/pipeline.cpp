// The runlabel command, run once per invocation: parse the command line, read
// and label the input a band at a time, then write the label image and
// whatever else was asked for. Outputs are opened only once the input is
// labelled, so a failure before then leaves every existing file as it was.
#include <cstdio>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/help.h"
#include "driver/label_input.h"
#include "driver/options.h"
#include "driver/output_names.h"
#include "driver/progress.h"
#include "driver/report.h"
#include "driver/write_outputs.h"
#include "support/support.h"

namespace {

// The report's five lines, or none with --quiet.
class Report {
  public:
    explicit Report(std::FILE* stream) : stream_(stream) {}
    template <typename... Args>
    void line(const char* format, Args... args) {
        if (stream_ == nullptr) return;
        progress_end();  // a line of the report never lands inside it
        std::fprintf(stream_, format, args...);
        std::fflush(stream_);
    }
    bool complete() { return report_complete(stream_ != nullptr ? stream_ : stdout); }

  private:
    std::FILE* stream_;
};

int run(const Options& options) {
    // Always asked first: it also stands in for a closed standard output.
    std::vector<std::string> outputs = {options.output};
    if (!options.stats.empty()) outputs.push_back(options.stats);
    if (!options.color.empty()) outputs.push_back(options.color);
    std::FILE* stream = choose_report_stream(outputs);
    Report report(options.quiet ? nullptr : stream);

    bool classic = options.plain && classic_output_name(options.output);
    // Names refused outright, before any work; given no option, once the
    // input's header has told whether the run is the classic form.
    auto refused = [&] {
        const std::string refusal = classic ? "" : refuse_output_names(options);
        if (!refusal.empty()) std::fprintf(stderr, "runlabel: %s\n", refusal.c_str());
        return !refusal.empty();
    };
    if (!options.plain && refused()) return 2;

    const std::time_t t0 = std::time(nullptr);
    progress_start(!options.quiet);
    LabelledInput input;
    std::time_t t1 = 0;
    try {
        OpenedInput opened = open_labelled_input(options, &classic);
        if (options.plain && refused()) {
            progress_end();
            return 2;
        }
        input = label_input(options, std::move(opened), progress_rows_read, &t1);
    } catch (const ImageError& e) {
        progress_end();
        if (e.kind() == ImageError::Kind::kNotFound) fatal_error("Input file not found");
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        progress_end();
        fatal_error("Memory allocation failure");
    } catch (const runlabel::error& e) {
        progress_end();
        fatal_error(e.what());
    }
    const unsigned long long runs = input.labeling.run_count();
    report.line("Run ID %llu \n", runs > 0 ? runs : 1ULL);
    const std::time_t t2 = std::time(nullptr);

    report.line("Total %llu regions\n", static_cast<unsigned long long>(input.labeling.count()));
    try {
        write_outputs(options, classic, input.labeling, input.info, progress_rows_written);
        progress_end();
    } catch (const FatalFailure& failure) {
        progress_end();
        fatal_error(failure.message);
    } catch (const ImageError& e) {
        progress_end();
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        progress_end();
        fatal_error("Memory allocation failure");
    } catch (const runlabel::error& e) {
        progress_end();
        fatal_error(e.what());
    }
    input.labeling = runlabel::Labeling();
    const std::time_t t3 = std::time(nullptr);

    report.line("Time for converting the image to run-length %7.5lf sec\n", std::difftime(t1, t0));
    report.line("Time for computing connected component %7.5lf sec\n", std::difftime(t2, t1));
    report.line("Total time elapse %7.5lf sec\n", std::difftime(t3, t0));
    return report.complete() ? 0 : 1;
}

}  // namespace

int run_command_line(int argc, char** argv) {
    const ParsedCommandLine parsed = parse_command_line(argc, argv);
    const char* program = parsed.options.program.c_str();
    switch (parsed.outcome) {
        case Parse::kUsage:
            print_usage(stdout, program);
            return 1;
        case Parse::kHelp:
            print_help(stdout, program);
            return report_complete(stdout) ? 0 : 1;
        case Parse::kVersion:
            print_version(stdout);
            return report_complete(stdout) ? 0 : 1;
        case Parse::kError:
            std::fprintf(stderr, "runlabel: %s\n", parsed.error.c_str());
            std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
            return 2;
        case Parse::kRun:
            break;
    }
    return run(parsed.options);
}
