// Failures in the tool's own voice outside the classic form: one line,
// "runlabel: FILE: reason", the system's reason where there is one, and no
// report of a count before a failed write. The classic form keeps its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/driver/process.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::fatal_report;
using runlabel_test::Outcome;
using runlabel_test::RunOptions;
using runlabel_test::Sandbox;
using runlabel_test::StdoutKind;
using runlabel_test::write_file;

const std::string kOnePixel = std::string("P5\n1 1\n255\n\1", 12);

struct VoiceCase {
    const char* name;
    std::vector<std::string> args;
    std::string err;
    std::string out = "";
    std::string in = kOnePixel;  // in.pgm's bytes
    std::string stdout_path = "";
    bool piped = false;  // in.pgm's bytes arrive on standard input too
};

void PrintTo(const VoiceCase& c, std::ostream* os) { *os << c.name; }

class Voice : public testing::TestWithParam<VoiceCase> {};

TEST_P(Voice, OneLineNamingTheFile) {
    const VoiceCase& c = GetParam();
    Sandbox box;
    write_file(box / "in.pgm", c.in);
    write_file(box / "locked.pgm", kOnePixel);
    chmod((box / "locked.pgm").c_str(), 0);
    if (geteuid() == 0 && c.args[1] == "locked.pgm") GTEST_SKIP() << "root reads any file";
    RunOptions options;
    if (c.piped) options.input = c.in;
    if (!c.stdout_path.empty()) {
        options.stdout_kind = StdoutKind::kPath;
        options.stdout_path = c.stdout_path;
    }
    const std::vector<std::string> before = box.entries();
    const Outcome outcome = box.run(c.args, options);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(box.entries(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, Voice,
    testing::Values(VoiceCase{"MissingInput",
                              {"-q", "nosuch.png", "out.png"},
                              "runlabel: nosuch.png: No such file or directory\n"},
                    VoiceCase{"MissingInputNoOption",
                              {"nosuch.png", "out.png"},
                              "runlabel: nosuch.png: No such file or directory\n"},
                    VoiceCase{"UnreadableInput",
                              {"-c8", "locked.pgm", "out.pgm"},
                              "runlabel: locked.pgm: Permission denied\n"},
                    VoiceCase{"Truncated",
                              {"-c8", "in.pgm", "out.pgm"},
                              "runlabel: in.pgm: truncated\n",
                              "",
                              "P5\n2 2\n255\n\1"},
                    VoiceCase{"InvalidHeader",
                              {"-c8", "in.pgm", "out.pgm"},
                              "runlabel: in.pgm: invalid PGM header\n",
                              "",
                              "P5\n2 x\n255\n"},
                    VoiceCase{"TruncatedOnStandardInput",
                              {"-c8", "-", "out.pgm"},
                              "runlabel: standard input: truncated\n",
                              "",
                              "P5\n2 2\n255\n\1",
                              "",
                              true},
                    // Nothing reported before a write that fails: the count used to come first.
                    VoiceCase{"OutputInMissingDirectory",
                              {"-c8", "in.pgm", "missing/out.pgm"},
                              "runlabel: missing/out.pgm: No such file or directory\n"},
                    VoiceCase{"OutputDiskFull",
                              {"-c8", "in.pgm", "/dev/full"},
                              "runlabel: /dev/full: No space left on device\n"},
                    VoiceCase{"TableDiskFull",
                              {"-c8", "-s", "/dev/full", "in.pgm", "out.pgm"},
                              "runlabel: /dev/full: No space left on device\n"},
                    VoiceCase{"StandardOutputFull",
                              {"-q", "in.pgm", "-"},
                              "runlabel: standard output: No space left on device\n",
                              "",
                              kOnePixel,
                              "/dev/full"},
                    // The classic form keeps its report and its messages.
                    VoiceCase{"ClassicMissingInput",
                              {"nosuch.pgm", "out.pgm"},
                              fatal_report("Input file not found")},
                    VoiceCase{"ClassicDiskFull",
                              {"in.pgm", "/dev/full"},
                              fatal_report("Output file write failed"),
                              "Run ID 1 \nTotal 1 regions\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
