// Hostile and malformed input fed to the real program: every case must end
// with status 1, its one diagnostic (or the fatal report), no output file and
// no sanitizer report. Beside them, degenerate images that are valid and must
// label cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/driver/process.h"
#include "tests/reference/crafted_headers.h"

namespace {

using runlabel_test::fatal_report;
using runlabel_test::npy_header;
using runlabel_test::Outcome;
using runlabel_test::png_header;
using runlabel_test::read_file;
using runlabel_test::RunOptions;
using runlabel_test::Sandbox;
using runlabel_test::tiff_header;
using runlabel_test::write_file;

// The whole literal, NUL bytes included.
template <std::size_t N>
std::string bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// Outside the classic form, in the tool's own voice.
const std::string kNotAnImage =
    "runlabel: in.pgm: not a PBM, PGM, PPM, PAM, PNG, TIFF or NPY image\n";
const std::string kBadHeader = "Input file has an invalid PGM header.\n";
const std::string kTruncated = "Input file is truncated.\n";
// A valid one-pixel image: what a run prints before the output is written.
const std::string kOnePixel = bytes("P5\n1 1\n255\n\1");
const std::string kOnePixelReport = "Run ID 1 \nTotal 1 regions\n";

// How the input reaches the program.
enum class Source {
    kFile,        // in.pgm holds the bytes
    kMissing,     // in.pgm does not exist
    kDirectory,   // in.pgm is a directory
    kUnreadable,  // in.pgm holds the bytes but may not be read
    kPipe,        // the bytes arrive on standard input, named /dev/stdin
};

struct BadCase {
    const char* name;
    std::string bytes;
    std::string err;  // the whole of standard error
    Source source = Source::kFile;
    std::string output = "out.pgm";  // the output name given
    std::string out = "";            // the whole of standard output
    bool limit_memory = false;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class BadInput : public testing::TestWithParam<BadCase> {};

TEST_P(BadInput, FailsCleanly) {
    const BadCase& c = GetParam();
    if (c.source == Source::kUnreadable && geteuid() == 0) GTEST_SKIP() << "root reads any file";
    Sandbox box;
    RunOptions options;
    options.limit_memory = c.limit_memory;
    std::string input = "in.pgm";
    switch (c.source) {
        case Source::kFile:
            write_file(box / "in.pgm", c.bytes);
            break;
        case Source::kMissing:
            break;
        case Source::kDirectory:
            runlabel_test::fs::create_directory(box / "in.pgm");
            break;
        case Source::kUnreadable:
            write_file(box / "in.pgm", c.bytes);
            chmod((box / "in.pgm").c_str(), 0);
            break;
        case Source::kPipe:
            options.input = c.bytes;
            input = "/dev/stdin";
            break;
    }
    if (c.output == "outdir") runlabel_test::fs::create_directory(box / "outdir");
    const std::vector<std::string> before = box.entries();

    const Outcome outcome = box.run({input, c.output}, options);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err.find("Sanitizer"), std::string::npos);
    EXPECT_EQ(outcome.err.find("runtime error"), std::string::npos);
    // Nothing made, nothing removed: no output file is left behind.
    EXPECT_EQ(box.entries(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, BadInput,
    testing::Values(
        // A greymap's magic and nothing after it.
        BadCase{"MagicOnly", "P5", kBadHeader}, BadCase{"MagicAndNewlineOnly", "P5\n", kBadHeader},
        // Sizes and maxval.
        BadCase{"SizeMissing", "P5\n# nothing but a comment\n", kBadHeader},
        BadCase{"HeightMissing", "P5\n4", kBadHeader},
        BadCase{"MaxvalMissing", "P5\n4 3\n", kBadHeader},
        BadCase{"NonNumericWidth", "P5\nfour 3\n255\n", kBadHeader},
        BadCase{"NonNumericHeight", "P5\n4 x\n255\n", kBadHeader},
        BadCase{"NumberGluedToText", "P5\n4x 3\n255\n", kBadHeader},
        BadCase{"NulAfterWidth", bytes("P5\n1\0 1\n255\n\1"), kBadHeader},
        BadCase{"NegativeWidth", "P5\n-4 3\n255\n", kBadHeader},
        BadCase{"NegativeHeight", "P5\n4 -3\n255\n", kBadHeader},
        BadCase{"WidthTwoToThe31", "P5\n2147483648 1\n255\n\1", kBadHeader},
        BadCase{"HeightTenToThe12", "P5\n1 1000000000000\n255\n\1", kBadHeader},
        BadCase{"ProductOverflowing64Bits", "P5\n10000000000 10000000000\n255\n", kBadHeader},
        BadCase{"MaxvalZero", "P5\n1 1\n0\n\1", kBadHeader},
        BadCase{"Maxval65536", "P5\n1 1\n65536\n\1", kBadHeader},
        BadCase{"MaxvalNegative", "P5\n1 1\n-255\n\1", kBadHeader},
        BadCase{"CommentWithoutLineEndAtEndOfFile", "P5\n1 1\n# no end", kBadHeader},
        BadCase{"CommentAfterMagicAtEndOfFile", "P5 # no end", kBadHeader},
        // The raster.
        BadCase{"HeaderWithoutRaster", "P5\n4 3\n255\n", kTruncated},
        BadCase{"RasterOneByteShort", "P5\n4 3\n255\n" + std::string(11, '\1'), kTruncated},
        // The carriage return ends the header and the line feed is the first
        // pixel, so two bytes after the header are not enough for four pixels.
        BadCase{"CrlfHeaderRasterShort", "P5\r\n2 2\r\n255\r\n\1\1", kTruncated},
        BadCase{"CrlfHeaderNoRaster", "P5\r\n2 1\r\n255\r\n", kTruncated},
        // Sizes far beyond the file are refused before anything is allocated:
        // under a memory limit the answer is still "truncated".
        BadCase{"SizesBeyondRegularFile", "P5\n65536 65536\n255\n\1", kTruncated, Source::kFile,
                "out.pgm", "", true},
        BadCase{"LargestSizesBeyondRegularFile", "P5\n2147483647 2147483647\n255\n\1", kTruncated,
                Source::kFile, "out.pgm", "", true},
        // A pipe's size is unknown: the raster is taken, then found missing.
        BadCase{"PipeDeclaringHugeImage", "P5\n60000 60000\n255\n", kTruncated, Source::kPipe},
        // Read as it comes, the raster takes no memory for rows that never arrive.
        BadCase{"PipeDeclaringHugeImageWithoutMemory", "P5\n60000 60000\n255\n", kTruncated,
                Source::kPipe, "out.pgm", "", true},
        // The input file itself.
        BadCase{"MissingInput", "", fatal_report("Input file not found"), Source::kMissing},
        BadCase{"UnreadableInput", kOnePixel, fatal_report("Input file not found"),
                Source::kUnreadable},
        // The output: the run gets as far as writing.
        BadCase{"OutputInMissingDirectory", kOnePixel, fatal_report("Output file open failed"),
                Source::kFile, "missing/out.pgm", kOnePixelReport},
        BadCase{"OutputIsDirectory", kOnePixel, fatal_report("Output file open failed"),
                Source::kFile, "outdir", kOnePixelReport},
        BadCase{"OutputDiskFull", kOnePixel, fatal_report("Output file write failed"),
                Source::kFile, "/dev/full", kOnePixelReport}),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

// Given no option, an input whose first token is not "P5" is read by its
// content like any other, so what no format recognises has that answer.
INSTANTIATE_TEST_SUITE_P(
    NotAGreymap, BadInput,
    testing::Values(BadCase{"EmptyFile", "", kNotAnImage},
                    BadCase{"BinaryJunk", bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"),
                            "runlabel: in.pgm: truncated\n"},
                    BadCase{"TenKilobyteToken", std::string(10240, 'P'), kNotAnImage},
                    BadCase{"MagicGluedToSize", "P51 1\n255\n\1", kNotAnImage},
                    BadCase{"NulInMagic", bytes("P5\0\n1 1\n255\n\1"), kNotAnImage},
                    BadCase{"NulBeforeMagic", bytes("\0P5\n1 1\n255\n\1"), kNotAnImage},
                    // fopen accepts a directory; it used to be "not a PGM raw image".
                    BadCase{"InputIsDirectory", "", "runlabel: in.pgm: Is a directory\n",
                            Source::kDirectory}),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

// Headers declaring images far larger than their files, in every format read
// by content: each, as a file and on a pipe, fails within a second and
// 100 MB with its one line, status 1 and no output file.
struct HugeHeader {
    const char* name;
    std::string bytes;
    std::string from_file;  // the reason given for the file
    std::string from_pipe;  // on a pipe, or "" where a pipe is not tried
};

void PrintTo(const HugeHeader& c, std::ostream* os) { *os << c.name; }

const std::string kWide = "wider than 2147483645 pixels, more than can be labelled";
const std::string kShort = "truncated";

class HugeHeaderInput : public testing::TestWithParam<HugeHeader> {};

TEST_P(HugeHeaderInput, FailsFastInOneLine) {
    const HugeHeader& c = GetParam();
    for (const bool pipe : {false, true}) {
        if (pipe && c.from_pipe.empty()) continue;
        SCOPED_TRACE(pipe ? "pipe" : "file");
        Sandbox box;
        RunOptions options;
        if (pipe)
            options.input = c.bytes;
        else
            write_file(box / "in", c.bytes);
        const std::vector<std::string> before = box.entries();
        const auto start = std::chrono::steady_clock::now();
        // An option: the input is read by its content, whatever it is.
        const Outcome outcome = box.run({"-q", pipe ? "-" : "in", "out.tif"}, options);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err, std::string("runlabel: ") + (pipe ? "standard input" : "in") + ": " +
                                   (pipe ? c.from_pipe : c.from_file) + "\n");
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(box.entries(), before);
        EXPECT_LT(took.count(), 2.0);
#ifndef RUNLABEL_TEST_UNDER_ASAN
        EXPECT_LT(outcome.peak_rss_kb, 100 * 1024);
#endif
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, HugeHeaderInput,
    testing::Values(
        HugeHeader{"PlainBitmap", "P1\n2147483646 1\n1", kWide, kWide},
        HugeHeader{"PlainGreymap", "P2\n2147483647 2147483647\n65535\n1", kWide, kWide},
        HugeHeader{"PlainPixmap", "P3\n2147483646 1\n255\n1", kWide, kWide},
        HugeHeader{"Bitmap", "P4\n2147483647 2147483647\n", kWide, kWide},
        HugeHeader{"Greymap", "P5\n2147483647 2147483647\n65535\n", kWide, kWide},
        HugeHeader{"GreymapWidestLabelled", "P5\n2147483645 2147483647\n255\n", kShort, ""},
        HugeHeader{"GreymapManyRows", "P5\n60000 2147483647\n65535\n", kShort, kShort},
        HugeHeader{"Pixmap", "P6\n2147483646 2147483647\n65535\n", kWide, kWide},
        HugeHeader{"Pam", "P7\nWIDTH 2147483647\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nENDHDR\n", kWide,
                   kWide},
        HugeHeader{"PamOf2To64Bytes",
                   "P7\nWIDTH 1073741824\nHEIGHT 1073741824\nDEPTH 16\nMAXVAL 255\nENDHDR\n",
                   kShort, ""},
        HugeHeader{"PngTooWide", png_header(0x7fffffff, 1, 0), kWide, kWide},
        HugeHeader{"PngOf100000Squared", png_header(100000, 100000, 0), kShort, kShort},
        HugeHeader{"InterlacedPngOf100000Squared", png_header(100000, 100000, 1),
                   "not a supported PNG image: interlaced, and larger than the 2 GiB an "
                   "interlaced image may take decoded whole",
                   "not a supported PNG image: interlaced, and larger than the 2 GiB an "
                   "interlaced image may take decoded whole"},
        HugeHeader{"TiffTooWide", tiff_header(0x80000000u, 1, 8), kWide, kWide},
        HugeHeader{"TiffOf2To28SixtyFourBitSamples", tiff_header(1u << 28, 1, 64), kShort, kShort},
        HugeHeader{"TiffOf100000Squared", tiff_header(100000, 100000, 16), kShort, kShort},
        HugeHeader{"NpyTooWide", npy_header("(2147483647, 2147483647)"), kWide, kWide},
        HugeHeader{"NpyOf100000Squared", npy_header("(100000, 100000)"), kShort, kShort}),
    [](const testing::TestParamInfo<HugeHeader>& info) { return std::string(info.param.name); });

struct EdgeCase {
    const char* name;
    int width;
    int height;
    std::string raster;
    std::string labels;  // the expected output raster
    int regions;
};

// Pixels alternating on, off, on ...: every lit pixel its own region.
std::string alternating(int count) {
    std::string raster(count, '\0');
    for (int i = 0; i < count; i += 2) raster[i] = '\x80';
    return raster;
}

std::string alternating_labels(int count) {
    std::string labels(count, '\0');
    for (int i = 0; i < count; i += 2) labels[i] = static_cast<char>((i / 2 + 1) & 0xff);
    return labels;
}

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class EdgeImage : public testing::TestWithParam<EdgeCase> {};

TEST_P(EdgeImage, LabelsCleanly) {
    const EdgeCase& c = GetParam();
    Sandbox box;
    const std::string size_line = std::to_string(c.width) + " " + std::to_string(c.height) + "\n";
    write_file(box / "in.pgm", "P5\n" + size_line + "255\n" + c.raster);
    const Outcome outcome = box.run({"in.pgm", "out.pgm"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_NE(outcome.out.find("\nTotal " + std::to_string(c.regions) + " regions\n"),
              std::string::npos)
        << outcome.out;
    EXPECT_EQ(read_file(box / "out.pgm"), "P5\n# out.pgm\n" + size_line + "255\n" + c.labels);
}

INSTANTIATE_TEST_SUITE_P(
    Valid, EdgeImage,
    testing::Values(
        EdgeCase{"ZeroWidth", 0, 5, "", "", 0}, EdgeCase{"ZeroHeight", 7, 0, "", "", 0},
        EdgeCase{"ZeroBoth", 0, 0, "", "", 0},
        // No pixels in two billion rows: nothing to hold, and nothing to wait for.
        EdgeCase{"ZeroWidthTwoBillionRows", 0, 2147483647, "", "", 0},
        EdgeCase{"OnePixelBackground", 1, 1, std::string(1, '\0'), std::string(1, '\0'), 0},
        EdgeCase{"OnePixelForeground", 1, 1, "\xff", "\1", 1},
        EdgeCase{"Row100000", 100000, 1, alternating(100000), alternating_labels(100000), 50000},
        EdgeCase{"Column100000", 1, 100000, alternating(100000), alternating_labels(100000), 50000},
        EdgeCase{"SolidRow100000", 100000, 1, std::string(100000, '\1'), std::string(100000, '\1'),
                 1}),
    [](const testing::TestParamInfo<EdgeCase>& info) { return std::string(info.param.name); });

TEST(EdgeImage, CrlfHeaderWithFullRasterLabels) {
    // The carriage return is the one whitespace byte that ends the header; the
    // line feed after it is the first pixel (value 10, foreground), and the
    // last byte of the file is left over.
    Sandbox box;
    write_file(box / "in.pgm", bytes("P5\r\n2 2\r\n255\r\n\0\1\0\1"));
    const Outcome outcome = box.run({"in.pgm", "out.pgm"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_NE(outcome.out.find("\nTotal 1 regions\n"), std::string::npos) << outcome.out;
    EXPECT_EQ(read_file(box / "out.pgm"), bytes("P5\n# out.pgm\n2 2\n255\n\1\0\1\0"));
}

}  // namespace

// A file written while it is read (in place, mapped) would give labels of two
// images mixed with status 0; the run notices and writes nothing.
TEST(ChangedInput, FailsAndWritesNothing) {
    constexpr int kWidth = 4096, kHeight = 8192;
    Sandbox box(runlabel_test::fs::exists("/dev/shm") ? runlabel_test::fs::path("/dev/shm")
                                                      : runlabel_test::fs::temp_directory_path());
    const std::string header =
        "P5\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    std::string raster(std::size_t(kWidth) * kHeight, '\0');
    for (std::size_t i = 0; i < raster.size(); i += 3) raster[i] = '\1';
    write_file(box / "in.pgm", header + raster);
    RunOptions options;
    options.while_running = [&](pid_t pid) {
        // Pixels rewritten, over and over, until the run ends.
        const int fd = open((box / "in.pgm").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        siginfo_t info{};
        for (char value = 0;; value ^= 1) {
            info.si_pid = 0;
            if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0)
                break;
            ASSERT_EQ(pwrite(fd, &value, 1, off_t(header.size() + raster.size() / 2)), 1);
            usleep(200);
        }
        close(fd);
    };
    const Outcome outcome = box.run({"in.pgm", "out.pgm"}, options);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Input file has changed while it was read.\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(box.entries(), std::vector<std::string>{"in.pgm"});
    // Outside the classic form, in the tool's own voice.
    const Outcome with_option = box.run({"-c8", "in.pgm", "out.pgm"}, options);
    EXPECT_EQ(with_option.status, 1);
    EXPECT_EQ(with_option.err, "runlabel: in.pgm: changed while it was read\n");
    EXPECT_EQ(box.entries(), std::vector<std::string>{"in.pgm"});
}
