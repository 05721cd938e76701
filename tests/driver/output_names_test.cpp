// Output names refused before any work, with status 2 and one line: a name
// of an image format that is not written, and two outputs, or the table or
// the view and the input, that are one file or stream. The classic form
// takes any name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/driver/process.h"

namespace {

using runlabel_test::Outcome;
using runlabel_test::read_file;
using runlabel_test::Sandbox;
using runlabel_test::write_file;

const std::string kGreymap = std::string("P5\n2 1\n255\n\1\0", 13);
const std::string kBitmap = std::string("P4\n2 1\n\x80", 8);

// A command line and the one line it is refused with.
struct NameCase {
    const char* name;
    std::vector<std::string> args;
    std::string err;  // "" for a run that succeeds
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class OutputNames : public testing::TestWithParam<NameCase> {};

TEST_P(OutputNames, AreRefusedBeforeAnyWork) {
    const NameCase& c = GetParam();
    Sandbox box;
    write_file(box / "in.pgm", kGreymap);
    write_file(box / "in.pbm", kBitmap);
    const std::vector<std::string> before = box.entries();
    const Outcome outcome = box.run(c.args);
    if (c.err.empty()) {
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return;
    }
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(box.entries(), before);
}

const std::string kOutputFormats = ".png, .tif, .tiff, .npy, .pam or .pgm\n";

INSTANTIATE_TEST_SUITE_P(
    Formats, OutputNames,
    testing::Values(
        NameCase{"Jpeg",
                 {"-q", "in.pgm", "out.jpg"},
                 "runlabel: out.jpg: .jpg is not written; name OUTPUT " + kOutputFormats},
        NameCase{"UpperCaseGif",
                 {"-q", "in.pgm", "OUT.GIF"},
                 "runlabel: OUT.GIF: .GIF is not written; name OUTPUT " + kOutputFormats},
        // Refused before the input is looked for.
        NameCase{"BeforeTheInputIsOpened",
                 {"-q", "absent.pgm", "out.bmp"},
                 "runlabel: out.bmp: .bmp is not written; name OUTPUT " + kOutputFormats},
        NameCase{"ColourView",
                 {"--color", "view.webp", "in.pgm", "out.png"},
                 "runlabel: view.webp: .webp is not written; name --color .png, .tif, .tiff, "
                 ".npy, .pam or .ppm\n"},
        // Given no option, an input that is not a raw greymap is not the classic form.
        NameCase{"NoOptionBitmapInput",
                 {"in.pbm", "out.jpg"},
                 "runlabel: out.jpg: .jpg is not written; name OUTPUT " + kOutputFormats},
        // Names of no image format are greymaps, in the classic form or not.
        NameCase{"NoFormatWithAnOption", {"-q", "in.pgm", "out.lab"}, ""},
        NameCase{"NoFormatNoOptionBitmap", {"in.pbm", "out.raw"}, ""},
        NameCase{"ClassicFormTakesAnyName", {"in.pgm", "out.jpg"}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

class SameFile : public testing::TestWithParam<NameCase> {};

// Standard output is a file beside the sandbox; what it held is checked too.
TEST_P(SameFile, IsRefusedBeforeAnyWork) {
    const NameCase& c = GetParam();
    Sandbox box;
    write_file(box / "in.pgm", kGreymap);
    write_file(box / "old.png", "earlier contents\n");
    std::filesystem::create_hard_link(box / "old.png", box / "linked.ppm");
    std::filesystem::create_directory(box / "sub");
    const std::vector<std::string> before = box.entries();
    const Outcome outcome = box.run(c.args);
    if (c.err.empty()) {
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return;
    }
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(box.entries(), before);
    EXPECT_EQ(read_file(box / "old.png"), "earlier contents\n");
    EXPECT_EQ(read_file(box / "in.pgm"), kGreymap);
}

const std::string kGiveEach = " are the same file; give each its own\n";

INSTANTIATE_TEST_SUITE_P(
    Outputs, SameFile,
    testing::Values(
        // Both used to be written, one over the other, with status 0.
        NameCase{"TableToStandardOutputTwice",
                 {"-s", "/dev/stdout", "in.pgm", "-"},
                 "runlabel: /dev/stdout: --stats and OUTPUT (-)" + kGiveEach},
        NameCase{"DescriptorOneIsStandardOutput",
                 {"--color", "/dev/fd/1", "in.pgm", "-"},
                 "runlabel: /dev/fd/1: --color and OUTPUT (-)" + kGiveEach},
        NameCase{"ViewOverTheLabels",
                 {"-q", "in.pgm", "both.png", "--color", "both.png"},
                 "runlabel: both.png: --color and OUTPUT (both.png)" + kGiveEach},
        NameCase{"ViewOverExistingLabels",
                 {"-q", "in.pgm", "old.png", "--color", "./old.png"},
                 "runlabel: ./old.png: --color and OUTPUT (old.png)" + kGiveEach},
        NameCase{"HardLinks",
                 {"-q", "in.pgm", "old.png", "--color", "linked.ppm"},
                 "runlabel: linked.ppm: --color and OUTPUT (old.png)" + kGiveEach},
        NameCase{"TableOverTheLabels",
                 {"-s", "sub/../t.csv", "in.pgm", "t.csv"},
                 "runlabel: sub/../t.csv: --stats and OUTPUT (t.csv)" + kGiveEach},
        NameCase{"TableOverTheView",
                 {"-s", "v.ppm", "--color", "v.ppm", "in.pgm", "out.pgm"},
                 "runlabel: v.ppm: --color and --stats (v.ppm)" + kGiveEach},
        NameCase{"TableOverTheInput",
                 {"-s", "in.pgm", "in.pgm", "out.pgm"},
                 "runlabel: in.pgm: --stats and INPUT (in.pgm)" + kGiveEach},
        NameCase{"ViewOverTheInput",
                 {"--color", "./in.pgm", "in.pgm", "out.pgm"},
                 "runlabel: ./in.pgm: --color and INPUT (in.pgm)" + kGiveEach},
        // The labels may replace their own input, and the null device takes all.
        NameCase{"LabelsOverTheirInput", {"-q", "in.pgm", "in.pgm"}, ""},
        NameCase{"NullDeviceTakesAll",
                 {"-q", "-s", "/dev/null", "--color", "/dev/null", "in.pgm", "/dev/null"},
                 ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
