// Collects per-image times from the reporter and prints them as tables, one
// per image size, in the order the images were first measured.
#include "bench/summary.h"

#include <cstdio>
#include <iostream>
#include <map>

namespace {

struct ImageFacts {
    std::map<std::string, double> seconds;  // by stage, per call
    long long runs = -1;
    int regions = -1;
    bool checked = false;
    std::string problem;
};

std::vector<std::string> image_order;
std::map<std::string, ImageFacts> facts;

ImageFacts& facts_of(const std::string& image) {
    auto [it, added] = facts.try_emplace(image);
    if (added) image_order.push_back(image);
    return it->second;
}

// Splits "stage/family/size" at its first slash.
bool split_name(const std::string& name, std::string* stage, std::string* image) {
    const auto slash = name.find('/');
    if (slash == std::string::npos) return false;
    *stage = name.substr(0, slash);
    *image = name.substr(slash + 1);
    return true;
}

std::string size_of(const std::string& image) { return image.substr(image.rfind('/') + 1); }

std::string cell(double value, const char* format) {
    if (value < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Milliseconds with about three significant digits, never in exponent form.
std::string ms_cell(double value) {
    if (value < 0) return "-";
    return cell(value, value >= 100 ? "%.0f" : value >= 10 ? "%.1f" : value >= 1 ? "%.2f" : "%.3f");
}

double ms(const ImageFacts& f, const char* stage) {
    const auto it = f.seconds.find(stage);
    return it == f.seconds.end() ? -1 : it->second * 1e3;
}

void print_row(std::ostream& out, const std::vector<std::string>& cells) {
    static const int widths[] = {-12, 8, 8, 8, 8, 8, 9, 7, 8, 7, 10, 0};
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const int w = widths[i];
        const std::string& text = cells[i];
        const std::size_t pad = static_cast<std::size_t>(w < 0 ? -w : w);
        if (w < 0) {
            line += text + std::string(pad > text.size() ? pad - text.size() : 0, ' ');
        } else {
            line += std::string(pad > text.size() ? pad - text.size() : 0, ' ') + text;
        }
        line += ' ';
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
}

}  // namespace

void note_labeling(const std::string& image, long long runs, int regions) {
    ImageFacts& f = facts_of(image);
    f.runs = runs;
    f.regions = regions;
}

void note_check(const std::string& image, const std::string& problem) {
    ImageFacts& f = facts_of(image);
    f.checked = true;
    f.problem = problem;
    if (!problem.empty()) std::cerr << "runlabel_bench: " << image << ": " << problem << std::endl;
}

bool is_checked(const std::string& image) {
    const auto it = facts.find(image);
    return it != facts.end() && it->second.checked;
}

bool any_mismatch() {
    for (const auto& [image, f] : facts) {
        if (!f.problem.empty()) return true;
    }
    return false;
}

bool SummaryReporter::ReportContext(const Context& context) {
    const bool go_on = ConsoleReporter::ReportContext(context);
    name_field_width_ = name_width_;  // the context counts the suffixes trimmed below
    return go_on;
}

void SummaryReporter::ReportRuns(const std::vector<Run>& reports) {
    std::vector<Run> shown;
    for (Run run : reports) {
        const bool aggregate = run.run_type == Run::RT_Aggregate;
        if (aggregate && run.aggregate_name != "median") continue;
        std::string stage, image;
        if (!run.error_occurred && split_name(run.run_name.function_name, &stage, &image)) {
            // A median outranks single repetitions of the same benchmark.
            auto& seconds = facts_of(image).seconds;
            if (aggregate || run.repetitions <= 1 || seconds.count(stage) == 0) {
                seconds[stage] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
        run.run_name.min_time.clear();
        run.run_name.iterations.clear();
        run.run_name.repetitions.clear();
        run.run_name.time_type.clear();
        shown.push_back(std::move(run));
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    GetOutputStream().flush();
}

void print_summary(std::ostream& out) {
    std::string size;
    for (const std::string& image : image_order) {
        const ImageFacts& f = facts.at(image);
        if (size != size_of(image)) {
            size = size_of(image);
            out << "\n" << size << " x " << size << ", milliseconds per call\n";
            print_row(out, {"image", "read", "encode", "label", "paint", "write", "labeling",
                            "Mpx/s", "peer", "ratio", "runs", "check"});
        }
        const double whole = ms(f, kLabelingStage);
        const double peer = ms(f, kPeerStage);
        const double pixels = std::stod(size) * std::stod(size);
        std::string check = "-";
        if (f.checked) check = f.problem.empty() ? "same labels" : "MISMATCH";
        print_row(out, {image.substr(0, image.rfind('/')), ms_cell(ms(f, "read")),
                        ms_cell(ms(f, "image_to_runs")), ms_cell(ms(f, "label_runs_4")),
                        ms_cell(ms(f, "runs_to_label_image")), ms_cell(ms(f, "write")),
                        ms_cell(whole), cell(whole < 0 ? -1 : pixels / whole / 1e3, "%.0f"),
                        ms_cell(peer), cell(whole < 0 || peer <= 0 ? -1 : whole / peer, "%.2f"),
                        cell(static_cast<double>(f.runs), "%.0f"), check});
    }
    if (image_order.empty()) return;
    bool peer_measured = false;
    for (const auto& [image, f] : facts) peer_measured |= f.seconds.count(kPeerStage) != 0;
    out << "\nencode = image_to_runs, label = label_runs_4, paint = runs_to_label_image;\n"
           "labeling = binary image to label image in memory, releases included;\n"
        << (peer_measured ? "peer = cv::connectedComponents(4, CV_32S), one thread; "
                            "ratio = labeling / peer.\n"
                          : "peer: not measured (built without OpenCV, or filtered out).\n");
    out.flush();
}
