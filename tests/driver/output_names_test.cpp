// Output names refused before any work, with status 2 and one line: a name
// of an image format that is not written. The classic form takes any name.
#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
