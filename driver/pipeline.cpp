// The runlabel command, run once per invocation: parse the command line, read
// and label the input a band at a time, then write the label image and
// whatever else was asked for. Outputs are opened only once the input is
// labelled, so a failure before then leaves every existing file as it was.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
    bool complete(bool classic) {
        return report_complete(stream_ != nullptr ? stream_ : stdout, classic);
    }

  private:
    std::FILE* stream_;
};

// Outside the classic form every failure is one line: the file, then why.
void say(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "runlabel: %s: %s\n", name.c_str(), reason.c_str());
}

std::string shown(const std::string& name, const char* stream) {
    return name == "-" ? stream : name;
}

// A reader's or writer's sentence as the reason after a file's name:
// "Input file is truncated." becomes "truncated", "Labels up to ..." "labels
// up to ...".
std::string reason_of(std::string message) {
    if (!message.empty() && message.back() == '.') message.pop_back();
    for (const char* lead :
         {"Input file is ", "Input file has an ", "Input file has ", "Input file "}) {
        if (message.rfind(lead, 0) == 0) return message.substr(std::strlen(lead));
    }
    // A capital that only starts the sentence, not a name such as PNG.
    if (message.size() > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
        !std::isupper(static_cast<unsigned char>(message[1])))
        message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    return message;
}

// Memory that ran out or a library error, told for the file at hand; called
// inside a catch block. The classic form stops as it always has.
int engine_failed(const std::string& name, bool classic) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        if (classic) fatal_error("Memory allocation failure");
        say(name, std::strerror(ENOMEM));
    } catch (const runlabel::error& e) {
        if (classic) fatal_error(e.what());
        say(name, reason_of(e.what()));
    }
    return 1;
}

// Ends a run whose input could not be opened or labelled; called inside the
// catch block, it tells the failure in the run's own voice.
int input_failed(const Options& options, bool classic) {
    progress_end();
    const std::string name = shown(options.input, "standard input");
    try {
        throw;
    } catch (const ImageError& e) {
        if (classic) {
            if (e.kind() == ImageError::Kind::kNotFound) fatal_error("Input file not found");
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        say(name, e.code() != 0 ? std::strerror(e.code()) : reason_of(e.what()));
    } catch (...) {
        return engine_failed(name, classic);
    }
    return 1;
}

// The same for the outputs.
int output_failed(const Options& options, bool classic) {
    progress_end();
    try {
        throw;
    } catch (const OutputFailure& failure) {
        if (classic && failure.classic != nullptr) fatal_error(failure.classic);
        if (classic) {
            std::fprintf(stderr, "%s\n", failure.reason.c_str());
            return 1;
        }
        say(shown(failure.name, "standard output"),
            failure.code != 0 ? std::strerror(failure.code) : reason_of(failure.reason));
    } catch (...) {
        return engine_failed(shown(options.output, "standard output"), classic);
    }
    return 1;
}

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
    } catch (...) {
        return input_failed(options, classic);
    }
    const unsigned long long runs = input.labeling.run_count();
    const unsigned long long regions = input.labeling.count();
    const std::time_t t2 = std::time(nullptr);
    auto report_count = [&] {
        report.line("Run ID %llu \n", runs > 0 ? runs : 1ULL);
        report.line("Total %llu regions\n", regions);
    };
    // The classic form reports the count before it writes, as it always has;
    // otherwise nothing is reported until every output is in place.
    if (classic) report_count();
    try {
        write_outputs(options, classic, input.labeling, input.info, progress_rows_written);
        progress_end();
    } catch (...) {
        return output_failed(options, classic);
    }
    input.labeling = runlabel::Labeling();
    const std::time_t t3 = std::time(nullptr);

    if (!classic) report_count();
    report.line("Time for converting the image to run-length %7.5lf sec\n", std::difftime(t1, t0));
    report.line("Time for computing connected component %7.5lf sec\n", std::difftime(t2, t1));
    report.line("Total time elapse %7.5lf sec\n", std::difftime(t3, t0));
    return report.complete(classic) ? 0 : 1;
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
            return report_complete(stdout, false) ? 0 : 1;
        case Parse::kVersion:
            print_version(stdout);
            return report_complete(stdout, false) ? 0 : 1;
        case Parse::kError:
            std::fprintf(stderr, "runlabel: %s\n", parsed.error.c_str());
            std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
            return 2;
        case Parse::kRun:
            break;
    }
    return run(parsed.options);
}
