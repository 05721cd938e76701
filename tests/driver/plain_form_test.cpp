// The command given no option at all: a raw greymap with an OUTPUT of no
// format of its own is the classic form, byte for byte; any other input is
// read by its content, on a pipe too, and an OUTPUT named for a format is
// written in it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runlabel/runlabel.h"
#include "tests/driver/process.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::Outcome;
using runlabel_test::read_file;
using runlabel_test::RunOptions;
using runlabel_test::Sandbox;
using runlabel_test::write_file;

// 4 x 3, three regions under 4-connectivity:
//   1 . 2 2
//   . . . 2
//   . 3 . .
constexpr int kWidth = 4, kHeight = 3;
const std::vector<uint8_t> kMask = {1, 0, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0};
const std::vector<uint8_t> kLabels = {1, 0, 2, 2, 0, 0, 0, 2, 0, 3, 0, 0};

std::string as_p5(const std::vector<uint8_t>& pixels, const std::string& comment = "") {
    std::string bytes = "P5\n";
    if (!comment.empty()) bytes += "# " + comment + "\n";
    bytes += std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    for (uint8_t p : pixels) bytes += static_cast<char>(p);
    return bytes;
}

// The mask as a PBM (1 = ink = foreground) and through the library's writers.
void write_inputs(const Sandbox& box) {
    std::string pbm = "P4\n4 3\n";
    for (int r = 0; r < kHeight; ++r) {
        unsigned char bits = 0;
        for (int c = 0; c < kWidth; ++c)
            if (kMask[r * kWidth + c]) bits |= 0x80 >> c;
        pbm += static_cast<char>(bits);
    }
    write_file(box / "in.pbm", pbm);
    std::vector<uint8_t> mask = kMask;
    for (const char* name : {"in.png", "in.tif", "in.pam"})
        runlabel::write_labels((box / name).string(),
                               runlabel::label_view(mask.data(), kWidth, kHeight));
    write_file(box / "in.pgm", as_p5(kMask));
}

std::vector<uint8_t> labels_in(const fs::path& path) {
    const runlabel::Image image = runlabel::read_image(path.string());
    return {image.data.begin(), image.data.end()};
}

TEST(PlainForm, ReadsEveryFormatByContentFromAFileOrAPipe) {
    Sandbox box;
    write_inputs(box);
    for (const char* input : {"in.pbm", "in.png", "in.tif", "in.pam"}) {
        SCOPED_TRACE(input);
        const Outcome from_file = box.run({input, "out.pgm"});
        EXPECT_EQ(from_file.status, 0) << from_file.err;
        EXPECT_EQ(from_file.err, "");
        EXPECT_EQ(from_file.out.substr(0, 26), "Run ID 4 \nTotal 3 regions\n");
        EXPECT_EQ(read_file(box / "out.pgm"), as_p5(kLabels, "out.pgm"));
        // Standard input is opened once: its header decides the door.
        RunOptions piped;
        piped.input = read_file(box / input).value_or("");
        const Outcome from_pipe = box.run({"-", "piped.pgm"}, piped);
        EXPECT_EQ(from_pipe.status, 0) << from_pipe.err;
        EXPECT_EQ(read_file(box / "piped.pgm"), as_p5(kLabels, "piped.pgm"));
    }
}

TEST(PlainForm, AnOutputNamedForAFormatIsThatFormat) {
    Sandbox box;
    write_inputs(box);
    for (const char* input : {"in.pgm", "in.png"}) {
        for (const std::string output : {"out.png", "OUT.PNG", "out.tif", "out.tiff", "out.pam"}) {
            SCOPED_TRACE(std::string(input) + " to " + output);
            const Outcome outcome = box.run({input, output});
            EXPECT_EQ(outcome.status, 0) << outcome.err;
            EXPECT_NE(read_file(box / output).value_or("").substr(0, 2), "P5");
            EXPECT_EQ(labels_in(box / output), kLabels);
        }
        const Outcome npy = box.run({input, "out.npy"});
        EXPECT_EQ(npy.status, 0) << npy.err;
        const std::string body = read_file(box / "out.npy").value_or("");
        EXPECT_EQ(body.substr(0, 6), "\x93NUMPY");
        EXPECT_EQ(body.substr(body.size() - kLabels.size()),
                  std::string(kLabels.begin(), kLabels.end()));
    }
}

TEST(PlainForm, ARawGreymapToAnyOtherNameIsTheClassicGreymap) {
    Sandbox box;
    write_inputs(box);
    // Whatever the name says, the classic greymap, its maxval carried.
    std::string maxval_one = as_p5(kMask);
    maxval_one.replace(maxval_one.find("255"), 3, "1");
    write_file(box / "one.pgm", maxval_one);
    for (const std::string output : {"out.lab", "out.raw", "out", "out.ppm", "out.jpg"}) {
        SCOPED_TRACE(output);
        const Outcome outcome = box.run({"one.pgm", output});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        // Spliced rather than replace()d: g++ 12 at -O3 warns falsely
        // (-Wrestrict) on replace() at a position it cannot bound.
        const std::string labels = as_p5(kLabels, output);
        const std::size_t at = labels.rfind("255");
        ASSERT_NE(at, std::string::npos);
        const std::string expected = labels.substr(0, at) + "1" + labels.substr(at + 3);
        EXPECT_EQ(read_file(box / output), expected);
    }
}

}  // namespace
