// The built runlabel run as a separate process in a fresh directory: standard
// output, standard error, exit status and the output file, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/driver/process.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::fatal_report;
using runlabel_test::Outcome;
using runlabel_test::read_file;
using runlabel_test::Sandbox;
using runlabel_test::write_file;

// Each timing line is one of these, the seconds and " sec".
const char* const kTimingLabels[] = {
    "Time for converting the image to run-length ",
    "Time for computing connected component ",
    "Total time elapse ",
};

// Golden files are checked in; a missing one is a failure, never made here.
std::string golden(const std::string& name) {
    const fs::path path = fs::path(RUNLABEL_TEST_DATA) / "driver" / "golden" / name;
    std::optional<std::string> bytes = read_file(path);
    if (!bytes) ADD_FAILURE() << "missing golden file " << path;
    return bytes.value_or("");
}

// Seconds as "%7.5lf" prints them: digits, a point, five digits.
bool is_seconds(const std::string& text) {
    const std::size_t dot = text.find('.');
    if (dot == 0 || dot == std::string::npos || text.size() != dot + 6) return false;
    return text.find_first_not_of("0123456789") == dot &&
           text.find_first_not_of("0123456789", dot + 1) == std::string::npos;
}

// The exact head lines, then the three timing lines checked by format.
void expect_success_output(const std::string& out, const std::string& head) {
    ASSERT_EQ(out.substr(0, head.size()), head);
    std::size_t at = head.size();
    for (const char* label : kTimingLabels) {
        const std::size_t end = out.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "missing line: " << label;
        const std::string line = out.substr(at, end - at);
        const std::string prefix(label);
        const std::string suffix = " sec";
        ASSERT_GT(line.size(), prefix.size() + suffix.size()) << line;
        EXPECT_EQ(line.substr(0, prefix.size()), prefix);
        EXPECT_EQ(line.substr(line.size() - suffix.size()), suffix);
        EXPECT_TRUE(
            is_seconds(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size())))
            << line;
        at = end + 1;
    }
    EXPECT_EQ(at, out.size()) << "trailing output: " << out.substr(at);
}

TEST(Cli, UsageWithFewerThanTwoNames) {
    const std::vector<std::vector<std::string>> arg_lists = {{}, {"absent.pgm"}};
    for (const auto& args : arg_lists) {
        Sandbox box;
        // Naming a file that does not exist shows it is never opened.
        const Outcome outcome = box.run(args, "./tools/my-runlabel");
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out,
                  "Connected component labeling for binary images.\n"
                  "Pixels with non-zero value are labeled starting from 1.\n"
                  "Usage : ./tools/my-runlabel <Input PGM File> <Output File Name>\n\n");
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(box.entries().empty());
    }
}

struct LabelCase {
    const char* name;  // golden/<name>.pgm in, golden/<name>.labels.pgm expected
    int last_run;
    int regions;
};

void PrintTo(const LabelCase& c, std::ostream* os) { *os << c.name; }

class CliLabels : public testing::TestWithParam<LabelCase> {};

TEST_P(CliLabels, WritesLabelImageAndReport) {
    const LabelCase& c = GetParam();
    Sandbox box;
    write_file(box / "in.pgm", golden(std::string(c.name) + ".pgm"));
    // Arguments after the output name are ignored.
    const Outcome outcome = box.run({"in.pgm", "out.pgm", "ignored.pgm"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    expect_success_output(outcome.out, "Run ID " + std::to_string(c.last_run) + " \nTotal " +
                                           std::to_string(c.regions) + " regions\n");
    EXPECT_EQ(read_file(box / "out.pgm"), golden(std::string(c.name) + ".labels.pgm"));
    EXPECT_FALSE(fs::exists(box / "ignored.pgm"));
}

INSTANTIATE_TEST_SUITE_P(
    Golden, CliLabels,
    testing::Values(LabelCase{"all_zero", 1, 0},           // empty run list still reports Run ID 1
                    LabelCase{"one_region", 7, 1},         // U shape, mixed non-zero values
                    LabelCase{"corner_touch", 2, 2},       // diagonal neighbours stay apart
                    LabelCase{"three_hundred", 300, 300},  // labels wrap at 256
                    LabelCase{"maxval_kept", 3, 3}),       // maxval 1 kept under labels 2 and 3
    [](const testing::TestParamInfo<LabelCase>& info) {
        std::string name = info.param.name;
        name.erase(std::remove(name.begin(), name.end(), '_'), name.end());
        return name;
    });

TEST(Cli, LabelsWrapModulo256) {
    // The golden bytes say so too; this states it where a reader looks first.
    const std::string labels = golden("three_hundred.labels.pgm");
    const std::string header = "P5\n# out.pgm\n599 1\n255\n";
    ASSERT_EQ(labels.size(), header.size() + 599);
    const auto region_pixel = [&](std::size_t region) {
        // Region k is the isolated pixel in column 2 (k - 1).
        return static_cast<unsigned char>(labels[header.size() + 2 * (region - 1)]);
    };
    EXPECT_EQ(region_pixel(255), 255);
    EXPECT_EQ(region_pixel(256), 0);
    EXPECT_EQ(region_pixel(257), 1);
    EXPECT_EQ(region_pixel(300), 44);
}

struct RejectCase {
    const char* name;
    std::optional<std::string> input;  // nullopt: no input file at all
    std::string err;
};

void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.name; }

class CliRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(CliRejects, FailsWithoutTouchingOutput) {
    const RejectCase& c = GetParam();
    for (const bool output_exists : {false, true}) {
        SCOPED_TRACE(output_exists ? "output exists" : "no output yet");
        Sandbox box;
        if (c.input) write_file(box / "in.pgm", *c.input);
        if (output_exists) write_file(box / "out.pgm", "earlier contents\n");
        const Outcome outcome = box.run({"in.pgm", "out.pgm"});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, c.err);
        if (output_exists)
            EXPECT_EQ(read_file(box / "out.pgm"), "earlier contents\n");
        else
            EXPECT_FALSE(fs::exists(box / "out.pgm"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, CliRejects,
    testing::Values(RejectCase{"MissingInput", std::nullopt, fatal_report("Input file not found")},
                    RejectCase{"InvalidHeader", "P5\n2 x\n255\n\1\2",
                               "Input file has an invalid PGM header.\n"},
                    RejectCase{"TruncatedRaster", std::string("P5\n4 3\n255\n\1\0\1\0\1", 16),
                               "Input file is truncated.\n"}),
    [](const testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

TEST(Cli, UnwritableOutputIsFatal) {
    Sandbox box;
    write_file(box / "in.pgm", golden("corner_touch.pgm"));
    const Outcome outcome = box.run({"in.pgm", "no-such-dir/out.pgm"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "Run ID 2 \nTotal 2 regions\n");
    EXPECT_EQ(outcome.err, fatal_report("Output file open failed"));
    EXPECT_EQ(box.entries(), std::vector<std::string>{"in.pgm"});
}

TEST(Cli, FailedWriteIsFatal) {
    // A device that refuses every byte: the open succeeds and the write fails.
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Sandbox box;
    write_file(box / "in.pgm", golden("corner_touch.pgm"));
    const Outcome outcome = box.run({"in.pgm", "/dev/full"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "Run ID 2 \nTotal 2 regions\n");
    EXPECT_EQ(outcome.err, fatal_report("Output file write failed"));
}

TEST(Cli, CommentLineCarriesOutputNameAsGiven) {
    Sandbox box;
    write_file(box / "in.pgm", golden("corner_touch.pgm"));
    fs::create_directory(box / "sub");
    const Outcome outcome = box.run({"in.pgm", "./sub/labels"});
    EXPECT_EQ(outcome.status, 0);
    std::string expected = golden("corner_touch.labels.pgm");
    expected.replace(expected.find("# out.pgm"), 9, "# ./sub/labels");
    EXPECT_EQ(read_file(box / "sub" / "labels"), expected);
}

}  // namespace
