// Collects per-image times from the reporter and prints them as tables, one
// per image size, in the order the images were first measured.
#include "bench/summary.h"

#include <cstdio>
#include <iostream>
#include <map>

namespace {

struct Checked {
    bool done = false;
    std::string problem;
};

struct ImageFacts {
    std::map<std::string, double> seconds;  // by stage, per call
    long long runs = -1;
    long long regions[9] = {};  // by connectivity
    Checked check[9];
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

double ms(const ImageFacts& f, const std::string& stage) {
    const auto it = f.seconds.find(stage);
    return it == f.seconds.end() ? -1 : it->second * 1e3;
}

std::string ratio(double a, double b) { return cell(a < 0 || b <= 0 ? -1 : a / b, "%.2f"); }

void print_row(std::ostream& out, const std::vector<std::string>& cells) {
    static const int widths[] = {-12, 2, 9, 7, 7, 7, 7, 7, 7, 6, 6, 7, 7, 6, 6, 7, 5, 0};
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

void note_labeling(const std::string& image, int connectivity, long long runs, long long regions) {
    ImageFacts& f = facts_of(image);
    f.runs = runs;
    f.regions[connectivity] = regions;
}

void note_check(const std::string& image, int connectivity, const std::string& problem) {
    Checked& c = facts_of(image).check[connectivity];
    c.done = true;
    c.problem = problem;
    if (problem.rfind("MISMATCH", 0) == 0) {
        std::cerr << "runlabel_bench: " << image << " " << connectivity << "c: " << problem
                  << std::endl;
    }
}

bool is_checked(const std::string& image, int connectivity) {
    const auto it = facts.find(image);
    return it != facts.end() && it->second.check[connectivity].done;
}

bool any_mismatch() {
    for (const auto& [image, f] : facts) {
        for (const Checked& c : f.check) {
            if (c.problem.rfind("MISMATCH", 0) == 0) return true;
        }
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
            print_row(out,
                      {"image", "c", "runs", "read", "write", "label8", "label32", "cv", "sauf",
                       "/cv", "/sauf", "stats", "cvstats", "/cvst", "st/l", "2thr", "x", "check"});
        }
        for (int c : {4, 8}) {
            const std::string k = "-" + std::to_string(c) + "c";
            if (ms(f, "label32" + k) < 0 && ms(f, "cv" + k) < 0) continue;
            const double l32 = ms(f, "label32" + k);
            const double st = ms(f, "stats" + k);
            std::string check = "-";
            if (f.check[c].done) check = f.check[c].problem.empty() ? "same" : f.check[c].problem;
            if (check.rfind("MISMATCH", 0) == 0) check = "MISMATCH";
            print_row(
                out,
                {image.substr(0, image.rfind('/')), std::to_string(c),
                 cell(static_cast<double>(f.runs), "%.0f"), c == 4 ? ms_cell(ms(f, "read")) : "",
                 c == 4 ? ms_cell(ms(f, "write")) : "", ms_cell(ms(f, "label8" + k)), ms_cell(l32),
                 ms_cell(ms(f, "cv" + k)), ms_cell(ms(f, "sauf" + k)), ratio(l32, ms(f, "cv" + k)),
                 ratio(l32, ms(f, "sauf" + k)), ms_cell(st), ms_cell(ms(f, "cvstats" + k)),
                 ratio(st, ms(f, "cvstats" + k)), ratio(st, l32), ms_cell(ms(f, "label32j2" + k)),
                 ratio(l32, ms(f, "label32j2" + k)), check});
        }
    }
    if (image_order.empty()) return;
    out << "\nlabel8, label32 = runlabel::label and painting 8-bit (wrapping) or 32-bit labels "
           "into a warm buffer;\n"
           "stats = label32 and the regions' statistics; cv = cv::connectedComponents (default "
           "algorithm),\nsauf = the same with CCL_SAUF, cvstats = "
           "cv::connectedComponentsWithStats, all CV_32S on one thread;\n"
           "/cv, /sauf = label32 over the peer; /cvst = stats / cvstats; st/l = stats / label32; "
           "2thr = label32\non two threads, x = label32 / 2thr; check = our labels against cv's "
           "(renumbered: the same\nregions, numbered otherwise).\n";
    out.flush();
}
