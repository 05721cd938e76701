// The label greymap outside the classic form, as other programs read it:
// maxval 255 and a byte a label while every label fits, 65535 and two bytes
// when one needs 16 bits, and a refusal before anything is written when even
// 16 bits are too few. Netpbm's own tools are the judges.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
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

// count isolated pixels in one row: count regions.
std::string dots(int count, const std::string& maxval = "255") {
    std::string image = "P5\n" + std::to_string(2 * count) + " 1\n" + maxval + "\n";
    for (int i = 0; i < 2 * count; ++i) image += i % 2 ? '\0' : '\1';
    return image;
}

struct Tool {
    int status;
    std::string output;  // standard output and error together
};

// Runs a shell command in dir; status 127 when the shell found no such tool.
Tool run_tool(const fs::path& dir, const std::string& command) {
    const std::string line = "cd '" + dir.string() + "' && " + command + " 2>&1";
    std::FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return {-1, "popen failed"};
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

bool have_netpbm(std::string* why) {
    for (const char* tool : {"pamfile", "pamtopnm", "pnmtopng"}) {
        if (run_tool(fs::temp_directory_path(), std::string("command -v ") + tool).status != 0) {
            *why = std::string(tool) + " is not installed (Debian package netpbm)";
            return false;
        }
    }
    return true;
}

struct GreymapCase {
    const char* name;
    std::string input;
    std::string maxval;  // of the output greymap
    int sample_bytes;
};

void PrintTo(const GreymapCase& c, std::ostream* os) { *os << c.name; }

// A 16-bit greymap: two bytes a sample, most significant first.
std::string wide_greymap() {
    std::string image = "P5\n4 2\n65535\n";
    for (const int sample : {0, 65535, 0, 256, 1, 0, 0, 300}) {
        image += static_cast<char>(sample >> 8);
        image += static_cast<char>(sample & 0xff);
    }
    return image;
}

class GreymapOutput : public testing::TestWithParam<GreymapCase> {};

TEST_P(GreymapOutput, IsAValidNetpbmFile) {
    const GreymapCase& c = GetParam();
    std::string why;
    if (!have_netpbm(&why)) GTEST_SKIP() << why;
    Sandbox box;
    write_file(box / "in.pgm", c.input);
    for (const bool to_stdout : {false, true}) {
        SCOPED_TRACE(to_stdout ? "on standard output" : "to a file");
        RunOptions options;
        options.stdout_kind = to_stdout ? StdoutKind::kPipe : StdoutKind::kFile;
        const Outcome outcome = box.run({"-q", "in.pgm", to_stdout ? "-" : "out.pgm"}, options);
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        if (to_stdout) write_file(box / "out.pgm", outcome.out);
        const std::string image = read_file(box / "out.pgm").value_or("");
        const std::size_t size_line = image.find('\n', image.find('\n', 3) + 1);
        const std::size_t raster = image.find('\n', size_line + 1) + 1;
        EXPECT_EQ(image.substr(size_line + 1, raster - size_line - 2), c.maxval);
        // Every sample within maxval, in the bytes maxval says.
        const std::string dimensions = image.substr(image.find('\n', 3) + 1);
        const std::size_t pixels =
            std::stoul(dimensions) * std::stoul(dimensions.substr(dimensions.find(' ') + 1));
        EXPECT_EQ(image.size() - raster, pixels * c.sample_bytes);
        const Tool pamfile = run_tool(box.dir(), "pamfile out.pgm");
        EXPECT_EQ(pamfile.status, 0) << pamfile.output;
        EXPECT_NE(pamfile.output.find("maxval " + c.maxval), std::string::npos) << pamfile.output;
        const Tool pamtopnm = run_tool(box.dir(), "pamtopnm out.pgm > back.pgm");
        EXPECT_EQ(pamtopnm.status, 0) << pamtopnm.output;
        EXPECT_EQ(pamtopnm.output, "");
        const Tool pnmtopng = run_tool(box.dir(), "pnmtopng out.pgm > out.png");
        EXPECT_EQ(pnmtopng.status, 0) << pnmtopng.output;
        EXPECT_EQ(pnmtopng.output, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Labels, GreymapOutput,
    testing::Values(GreymapCase{"ThreeRegions", dots(3), "255", 1},
                    // Labels above 255 used to wrap under a maxval of 255.
                    GreymapCase{"ThreeHundredRegions", dots(300), "65535", 2},
                    // The header used to carry the input's 1 over labels 2 and 3.
                    GreymapCase{"InputMaxvalOne", dots(3, "1"), "255", 1},
                    // The header used to say 65535 over one byte a sample: truncated.
                    GreymapCase{"SixteenBitInput", wide_greymap(), "255", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GreymapOutput, SixteenBitsHoldTheLabelsExactly) {
    Sandbox box;
    write_file(box / "in.pgm", dots(300));
    ASSERT_EQ(box.run({"-q", "in.pgm", "out.pgm"}).status, 0);
    const std::string image = read_file(box / "out.pgm").value_or("");
    const std::string header = "P5\n# out.pgm\n600 1\n65535\n";
    ASSERT_EQ(image.size(), header.size() + 1200);
    EXPECT_EQ(image.substr(0, header.size()), header);
    for (int region = 1; region <= 300; ++region) {
        const std::size_t at = header.size() + 4 * (region - 1);
        const std::string expected = {char(region >> 8), char(region & 0xff), 0, 0};
        EXPECT_EQ(image.substr(at, 4), expected) << region;
    }
    // --depth 16 asks for two bytes even when one would do.
    write_file(box / "few.pgm", dots(2));
    ASSERT_EQ(box.run({"-q", "-d", "16", "few.pgm", "wide.pgm"}).status, 0);
    EXPECT_EQ(read_file(box / "wide.pgm"),
              "P5\n# wide.pgm\n4 1\n65535\n" + std::string("\0\1\0\0\0\2\0\0", 8));
}

TEST(GreymapOutput, MoreLabelsThanSixteenBitsHoldWriteNothing) {
    Sandbox box;
    write_file(box / "in.pgm", dots(65536));
    write_file(box / "old.pgm", "earlier contents\n");
    RunOptions piped;
    piped.stdout_kind = StdoutKind::kPipe;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-q", "in.pgm", "new.pgm"},
          std::vector<std::string>{"-q", "in.pgm", "old.pgm"},
          std::vector<std::string>{"-q", "in.pgm", "-"},
          std::vector<std::string>{"-q", "-d", "8", "in.pgm", "new.pgm"}}) {
        SCOPED_TRACE(args.back());
        const Outcome outcome = box.run(args, piped);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_NE(outcome.err.find(".tif"), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_EQ(box.entries(), (std::vector<std::string>{"in.pgm", "old.pgm"}));
        EXPECT_EQ(read_file(box / "old.pgm"), "earlier contents\n");
    }
}

}  // namespace
