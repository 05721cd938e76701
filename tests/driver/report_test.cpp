// Where the report goes: never into the image when the output is standard
// output's own file or pipe, and a report that cannot be written is a failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/driver/process.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::Outcome;
using runlabel_test::read_file;
using runlabel_test::RunOptions;
using runlabel_test::Sandbox;
using runlabel_test::StdoutKind;
using runlabel_test::write_file;

std::string golden(const std::string& name) {
    const fs::path path = fs::path(RUNLABEL_TEST_DATA) / "driver" / "golden" / name;
    std::optional<std::string> bytes = read_file(path);
    if (!bytes) ADD_FAILURE() << "missing golden file " << path;
    return bytes.value_or("");
}

// corner_touch's labels, with the comment line naming output.
std::string labels_named(const std::string& output) {
    std::string labels = golden("corner_touch.labels.pgm");
    return labels.replace(labels.find("# out.pgm"), 9, "# " + output);
}

// corner_touch's report: the exact head lines, then the three timing lines
// with seconds as "%7.5lf" prints them.
bool is_report(const std::string& text) {
    std::string expected_head = "Run ID 2 \nTotal 2 regions\n";
    if (text.compare(0, expected_head.size(), expected_head) != 0) return false;
    std::size_t at = expected_head.size();
    for (const std::string label :
         {"Time for converting the image to run-length ", "Time for computing connected component ",
          "Total time elapse "}) {
        const std::size_t end = text.find(" sec\n", at);
        if (end == std::string::npos || text.compare(at, label.size(), label) != 0) return false;
        const std::string seconds = text.substr(at + label.size(), end - at - label.size());
        const std::size_t dot = seconds.find('.');
        if (dot == 0 || dot == std::string::npos || seconds.size() != dot + 6 ||
            seconds.find_first_not_of("0123456789.") != std::string::npos)
            return false;
        at = end + 5;
    }
    return at == text.size();
}

struct ReportCase {
    const char* name;
    StdoutKind stdout_kind;
    std::string stdout_path;  // for StdoutKind::kPath
    std::string output;       // the output name given
    std::string image_at;     // where the image must be: "" for what reached stdout
    int status;
    std::string err;  // "" for the report itself
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class Report : public testing::TestWithParam<ReportCase> {};

TEST_P(Report, NeverLandsInTheImage) {
    const ReportCase& c = GetParam();
    Sandbox box;
    write_file(box / "in.pgm", golden("corner_touch.pgm"));
    RunOptions options;
    options.stdout_kind = c.stdout_kind;
    options.stdout_path = c.stdout_path;
    const Outcome outcome = box.run({"in.pgm", c.output}, options);
    EXPECT_EQ(outcome.status, c.status);
    if (c.err.empty())
        EXPECT_TRUE(is_report(outcome.err)) << outcome.err;
    else
        EXPECT_EQ(outcome.err, c.err);
    const std::string image =
        c.image_at.empty() ? outcome.out : read_file(box / c.image_at).value_or("");
    EXPECT_EQ(image, labels_named(c.output));
}

const std::string kStdoutFailed = "Standard output write failed\n";

INSTANTIATE_TEST_SUITE_P(
    Streams, Report,
    testing::Values(
        // The report lines used to overwrite the image's first bytes.
        ReportCase{"DevStdoutRedirectedToAFile", StdoutKind::kFile, "", "/dev/stdout", "", 0, ""},
        // ... or to come through the pipe around it.
        ReportCase{"DevStdoutOnAPipe", StdoutKind::kPipe, "", "/dev/stdout", "", 0, ""},
        ReportCase{"OutputNamesTheFileStdoutWritesTo", StdoutKind::kPath, "out.pgm", "out.pgm",
                   "out.pgm", 0, ""},
        // The count was lost and the run still reported success.
        ReportCase{"StdoutFull", StdoutKind::kPath, "/dev/full", "out.pgm", "out.pgm", 1,
                   kStdoutFailed},
        ReportCase{"StdoutClosed", StdoutKind::kClosed, "", "out.pgm", "out.pgm", 1,
                   kStdoutFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// The table and the colour view are outputs too: the report used to come
// through the pipe ahead of them.
TEST(Report, NeverLandsInTheTableOrTheColourView) {
    Sandbox box;
    write_file(box / "in.pgm", golden("corner_touch.pgm"));
    RunOptions options;
    options.stdout_kind = StdoutKind::kPipe;
    const struct {
        std::vector<std::string> args;
        const char* starts;
    } cases[] = {
        {{"--color", "-", "in.pgm", "out.pgm"}, "P6\n"},
        {{"--color", "/dev/stdout", "in.pgm", "out.pgm"}, "P6\n"},
        {{"-s", "/dev/stdout", "in.pgm", "out.pgm"}, "label,"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = box.run(c.args, options);
        EXPECT_EQ(outcome.status, 0) << c.args[1] << ": " << outcome.err;
        EXPECT_EQ(outcome.out.rfind(c.starts, 0), 0u) << c.args[1] << ": " << outcome.out;
        EXPECT_NE(outcome.err.find("Total 2 regions"), std::string::npos) << c.args[1];
    }
}

TEST(Report, StaysOnStdoutForAnotherOutput) {
    Sandbox box;
    write_file(box / "in.pgm", golden("corner_touch.pgm"));
    RunOptions options;
    options.stdout_kind = StdoutKind::kPipe;
    const Outcome outcome = box.run({"in.pgm", "/dev/null"}, options);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(is_report(outcome.out)) << outcome.out;
    EXPECT_EQ(outcome.err, "");
}

}  // namespace
