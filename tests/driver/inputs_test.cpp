// Inputs through the real program: what each reader delivers is what gets
// labelled, checked against the flood-fill reference on the file's own values.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runlabel/runlabel.h"
#include "tests/driver/process.h"
#include "tests/reference/flood_fill.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::Outcome;
using runlabel_test::Sandbox;
using runlabel_test::write_file;

// The labels of a label image the command wrote, as numbers.
std::vector<int> labels_in(const fs::path& path) {
    const runlabel::Image image = runlabel::read_image(path.string());
    const std::size_t pixels = std::size_t(image.width * image.height);
    const std::size_t size = pixels == 0 ? 1 : image.data.size() / pixels;
    std::vector<int> labels(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        uint64_t v = 0;
        std::memcpy(&v, image.data.data() + i * size, size);
        labels[i] = int(v);
    }
    return labels;
}

// The count of the report's "Total N regions" line, or -1.
int total_in(const std::string& report) {
    const std::size_t at = report.find("Total ");
    return at == std::string::npos ? -1 : std::stoi(report.substr(at + 6));
}

// A 16-bit greymap whose samples are non-zero in the high byte only, the low
// byte only, both or neither: read a byte a sample, it is another picture.
TEST(SixteenBitGreymap, LabelsItsTwoByteSamples) {
    constexpr int kWidth = 61, kHeight = 43;
    std::mt19937 rng(20);
    std::vector<uint16_t> values(kWidth * kHeight);
    const uint16_t kinds[] = {0, 0, 0x0100, 0x0001, 0x8080};
    for (auto& v : values) v = kinds[rng() % 5];
    std::string file =
        "P5\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n65535\n";
    for (uint16_t v : values) file += {char(v >> 8), char(v & 0xff)};
    Sandbox box;
    write_file(box / "g.pgm", file);

    int regions = 0;
    const std::vector<int> expected =
        flood_fill_labels(values, kHeight, kWidth, false, 1, &regions);
    const Outcome outcome = box.run({"-c4", "g.pgm", "out.tif"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(total_in(outcome.out), regions);
    EXPECT_EQ(labels_in(box / "out.tif"), expected);

    // The classic form reads the first width x height bytes, a byte a sample.
    const std::vector<uint8_t> bytes(file.end() - 2 * kWidth * kHeight,
                                     file.end() - kWidth * kHeight);
    int classic_regions = 0;
    flood_fill_labels(bytes, kHeight, kWidth, false, 1, &classic_regions);
    ASSERT_NE(classic_regions, regions);
    const Outcome classic = box.run({"g.pgm", "out.pgm"});
    ASSERT_EQ(classic.status, 0) << classic.err;
    EXPECT_EQ(total_in(classic.out), classic_regions);
}

// Alpha plays no part in labelling: a transparent pixel of grey 0 is
// background and an opaque one of grey 0 too.
TEST(AlphaInput, IsIgnoredWhenLabelling) {
    const std::vector<uint8_t> grey = {0, 5, 0, 0, 0, 9, 0, 9, 0};
    const std::vector<uint8_t> alpha = {255, 0, 255, 7, 255, 0, 255, 1, 255};
    std::string file =
        "P7\nWIDTH 3\nHEIGHT 3\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n";
    for (std::size_t i = 0; i < grey.size(); ++i) file += {char(grey[i]), char(alpha[i])};
    Sandbox box;
    write_file(box / "in.pam", file);
    int regions = 0;
    const std::vector<int> expected = flood_fill_labels(grey, 3, 3, false, 1, &regions);
    const Outcome outcome = box.run({"-c4", "in.pam", "out.tif"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(total_in(outcome.out), regions);
    EXPECT_EQ(labels_in(box / "out.tif"), expected);
}

// The .npy files the library writes are inputs too, by name and on a pipe.
TEST(NpyInput, LabelsWhatTheLibraryWrote) {
    constexpr int kWidth = 53, kHeight = 37;
    std::mt19937 rng(5);
    std::vector<uint16_t> values(kWidth * kHeight);
    for (auto& v : values) v = rng() % 3 == 0 ? uint16_t(rng()) | 1 : 0;
    Sandbox box;
    runlabel::write_labels((box / "in.npy").string(),
                           runlabel::label_view(values.data(), kWidth, kHeight));
    int regions = 0;
    const std::vector<int> expected = flood_fill_labels(values, kHeight, kWidth, true, 1, &regions);
    const Outcome outcome = box.run({"in.npy", "out.tif", "-q", "-c8"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(labels_in(box / "out.tif"), expected);

    runlabel_test::RunOptions piped;
    piped.input = runlabel_test::read_file(box / "in.npy").value_or("");
    const Outcome from_pipe = box.run({"-q", "-c8", "-", "piped.tif"}, piped);
    ASSERT_EQ(from_pipe.status, 0) << from_pipe.err;
    EXPECT_EQ(labels_in(box / "piped.tif"), expected);
}

}  // namespace
