// The command's options, run as a process on seeded images: labels against a
// flood fill, the region table against sums over the labels written, dust
// removal and numbering by area against a reference, the colour view decoded
// back, standard streams, label formats and their width refusals, and the
// complaint for every kind of bad option.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runlabel/runlabel.h"
#include "tests/driver/process.h"
#include "tests/reference/flood_fill.h"

namespace {

namespace fs = std::filesystem;
using runlabel_test::Outcome;
using runlabel_test::read_file;
using runlabel_test::RunOptions;
using runlabel_test::Sandbox;
using runlabel_test::write_file;

struct Mask {
    int width = 0, height = 0;
    std::vector<int> pixels;
};

// Blobs of 1 to 4 pixels square at a density: regions of many sizes.
Mask random_mask(unsigned seed, int width, int height) {
    std::mt19937 rng(seed);
    Mask m{width, height, std::vector<int>(std::size_t(width) * height, 0)};
    const int cell = 1 + static_cast<int>(seed % 4);
    for (int r = 0; r < height; r += cell) {
        for (int c = 0; c < width; c += cell) {
            if (rng() % 100 >= 45) continue;
            for (int y = r; y < std::min(height, r + cell); ++y)
                for (int x = c; x < std::min(width, c + cell); ++x)
                    m.pixels[std::size_t(y) * width + x] = 1;
        }
    }
    return m;
}

std::string pgm(const Mask& m) {
    std::string bytes =
        "P5\n" + std::to_string(m.width) + " " + std::to_string(m.height) + "\n255\n";
    for (int p : m.pixels) bytes += static_cast<char>(p ? 255 : 0);
    return bytes;
}

// The labels of a label image the command wrote, as numbers.
std::vector<uint64_t> labels_in(const fs::path& path) {
    const runlabel::Image image = runlabel::read_image(path.string());
    std::size_t size = image.data.size() / std::max<std::size_t>(1, image.width * image.height);
    std::vector<uint64_t> labels(std::size_t(image.width) * image.height);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        uint64_t v = 0;
        std::memcpy(&v, image.data.data() + i * size, size);
        labels[i] = v;
    }
    return labels;
}

std::vector<uint64_t> reference(const Mask& m, int connectivity) {
    int count = 0;
    const std::vector<int> labels =
        flood_fill_labels(m.pixels, m.height, m.width, connectivity == 8, 1, &count);
    return {labels.begin(), labels.end()};
}

// The CSV rows a region table should hold for these labels.
std::string expected_csv(const std::vector<uint64_t>& labels, int width) {
    struct Sums {
        uint64_t area = 0, sx = 0, sy = 0;
        int64_t left = INT64_MAX, top = INT64_MAX, right = -1, bottom = -1;
    };
    std::map<uint64_t, Sums> sums;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (labels[i] == 0) continue;
        Sums& s = sums[labels[i]];
        const int64_t x = static_cast<int64_t>(i % width), y = static_cast<int64_t>(i / width);
        ++s.area, s.sx += x, s.sy += y;
        s.left = std::min(s.left, x), s.right = std::max(s.right, x);
        s.top = std::min(s.top, y), s.bottom = std::max(s.bottom, y);
    }
    std::string csv = "label,area,left,top,width,height,centroid_x,centroid_y\n";
    auto exact = [](double x) {
        char text[64];
        return std::string(
            text, std::to_chars(text, text + sizeof text, x, std::chars_format::fixed).ptr);
    };
    for (const auto& [label, s] : sums) {
        csv += std::to_string(label) + "," + std::to_string(s.area) + "," + std::to_string(s.left) +
               "," + std::to_string(s.top) + "," + std::to_string(s.right - s.left + 1) + "," +
               std::to_string(s.bottom - s.top + 1) + "," + exact(double(s.sx) / double(s.area)) +
               "," + exact(double(s.sy) / double(s.area)) + "\n";
    }
    return csv;
}

TEST(CliOptions, LabelsAndStatisticsOfBothConnectivities) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        for (int connectivity : {4, 8}) {
            Sandbox box;
            const Mask mask = random_mask(seed, 61 + seed, 40 + 3 * seed);
            write_file(box / "in.pgm", pgm(mask));
            const Outcome outcome = box.run({"-c", std::to_string(connectivity), "-q", "in.pgm",
                                             "out.tif", "--stats", "table.csv"});
            ASSERT_EQ(outcome.status, 0) << outcome.err;
            EXPECT_EQ(outcome.out, "");  // quiet
            const std::vector<uint64_t> labels = labels_in(box / "out.tif");
            EXPECT_EQ(labels, reference(mask, connectivity)) << seed;
            EXPECT_EQ(read_file(box / "table.csv").value_or(""), expected_csv(labels, mask.width));
        }
    }
}

TEST(CliOptions, MinAreaAndSortByAreaRenumberEverything) {
    Sandbox box;
    const Mask mask = random_mask(3, 90, 70);
    write_file(box / "in.pgm", pgm(mask));
    const Outcome outcome =
        box.run({"--min-area=5", "--sort", "area", "in.pgm", "out.npy", "-s", "t.json"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // The reference: areas of the raster-order regions, small ones dropped,
    // the rest by decreasing area, ties in raster order.
    const std::vector<uint64_t> raster = reference(mask, 4);
    std::map<uint64_t, uint64_t> area;
    for (uint64_t l : raster)
        if (l) ++area[l];
    std::vector<std::pair<uint64_t, uint64_t>> order;  // (area, label)
    for (const auto& [l, a] : area)
        if (a >= 5) order.emplace_back(a, l);
    std::stable_sort(order.begin(), order.end(), [](auto a, auto b) { return a.first > b.first; });
    std::map<uint64_t, uint64_t> number;
    for (std::size_t k = 0; k < order.size(); ++k) number[order[k].second] = k + 1;
    std::vector<uint64_t> expected(raster.size());
    for (std::size_t i = 0; i < raster.size(); ++i) expected[i] = raster[i] ? number[raster[i]] : 0;
    // .npy is written by the project; read its raw little-endian body.
    const std::string npy = read_file(box / "out.npy").value_or("");
    ASSERT_GT(npy.size(), 10u);
    const std::size_t header =
        10 + static_cast<unsigned char>(npy[8]) + 256 * static_cast<unsigned char>(npy[9]);
    const std::size_t width = (npy.size() - header) / expected.size();
    ASSERT_EQ(width, 1u) << "labels up to " << order.size() << " fit a byte";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(npy[header + i]), expected[i]) << i;
    }
    EXPECT_NE(outcome.out.find("Total " + std::to_string(order.size()) + " regions"),
              std::string::npos);
    const std::string json = read_file(box / "t.json").value_or("");
    EXPECT_EQ(json.substr(0, 2), "[\n");
    EXPECT_NE(json.find("{\"label\": " + std::to_string(order.size()) + ", \"area\": "),
              std::string::npos);
}

TEST(CliOptions, ColourViewOneColourPerLabelSameEachRunBlackBackground) {
    Sandbox box;
    const Mask mask = random_mask(5, 50, 40);
    write_file(box / "in.pgm", pgm(mask));
    ASSERT_EQ(box.run({"-q", "--color", "v1.ppm", "in.pgm", "l.tif"}).status, 0);
    ASSERT_EQ(box.run({"-q", "--color=v2.ppm", "in.pgm", "l2.tif"}).status, 0);
    EXPECT_EQ(read_file(box / "v1.ppm").value_or("a").substr(16),
              read_file(box / "v2.ppm").value_or("b").substr(16));
    const runlabel::Image view = runlabel::read_image((box / "v1.ppm").string());
    const std::vector<uint64_t> labels = labels_in(box / "l.tif");
    ASSERT_EQ(view.channels, 3);
    std::map<uint64_t, uint32_t> color_of;
    std::map<uint32_t, uint64_t> label_of;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const uint32_t rgb = uint32_t(view.data[3 * i]) << 16 |
                             uint32_t(view.data[3 * i + 1]) << 8 | view.data[3 * i + 2];
        if (labels[i] == 0) {
            ASSERT_EQ(rgb, 0u) << "background at " << i;
            continue;
        }
        ASSERT_NE(rgb, 0u);
        if (color_of.count(labels[i])) {
            ASSERT_EQ(color_of[labels[i]], rgb);
        }
        color_of[labels[i]] = rgb;
        label_of[rgb] = labels[i];
    }
    EXPECT_GT(label_of.size(), color_of.size() * 9 / 10);  // colours rarely shared
    // Formats with colours write the same view; other names a pixmap. The .pam
    // and .npy names used to hold a pixmap.
    ASSERT_EQ(box.run({"-q", "--color", "v.pam", "-s", "v.csv", "in.pgm", "l3.tif"}).status, 0);
    const runlabel::Image pam = runlabel::read_image((box / "v.pam").string());
    EXPECT_EQ(read_file(box / "v.pam").value_or("").substr(0, 3), "P7\n");
    EXPECT_EQ(pam.data, view.data);
    ASSERT_EQ(box.run({"-q", "--color", "v.npy", "in.pgm", "l4.tif"}).status, 0);
    const std::string npy = read_file(box / "v.npy").value_or("");
    EXPECT_NE(npy.find("'shape': (40, 50, 3)"), std::string::npos) << npy.substr(0, 80);
    EXPECT_EQ(npy.substr(npy.size() - view.data.size()),
              std::string(view.data.begin(), view.data.end()));
}

TEST(CliOptions, StandardInputAndOutputThroughPipes) {
    Sandbox box;
    const Mask mask = random_mask(2, 33, 21);
    RunOptions options;
    options.input = pgm(mask);
    options.stdout_kind = runlabel_test::StdoutKind::kPipe;
    const Outcome outcome = box.run({"-", "-"}, options);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // The image on standard output; the report on standard error.
    write_file(box / "piped.pgm", outcome.out);
    EXPECT_EQ(labels_in(box / "piped.pgm").size(), mask.pixels.size());
    EXPECT_NE(outcome.err.find("Total "), std::string::npos);
    // The table on standard output, the image to a file.
    const Outcome table = box.run({"-s", "-", "-", "lab.pgm"}, options);
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.substr(0, 6), "label,");
    EXPECT_NE(table.err.find("Run ID"), std::string::npos);
}

TEST(CliOptions, LabelWidthsAndTheirRefusals) {
    Sandbox box;
    // 300 single pixels: 300 regions.
    std::string dots = "P5\n600 1\n255\n";
    for (int i = 0; i < 600; ++i) dots += i % 2 ? '\0' : '\1';
    write_file(box / "dots.pgm", dots);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"dots.pgm", "a.png"}, 0, ""},  // no option: a .png name is a PNG all the same
        {{"-q", "dots.pgm", "b.png"}, 0, ""},
        {{"-q", "-d", "32", "dots.pgm", "c.tif"}, 0, ""},
        {{"-q", "-d", "8", "dots.pgm", "d.tif"},
         1,
         "runlabel: d.tif: labels up to 300 do not fit 8 bits; give --depth 16 or more\n"},
        {{"-q", "-d", "32", "dots.pgm", "e.png"}, 2, ""},
        {{"-q", "-d", "64", "dots.pgm", "f.pam"}, 2, ""},
        {{"-q", "-d", "32", "dots.pgm", "g.pgm"}, 2, ""},
        {{"-q", "dots.pgm", "h.ppm"}, 0, ""},  // a name of no label format: the greymap
        {{"-q", "dots.pgm", "i.pgm"}, 0, ""},  // 16 bits, as its maxval says
    };
    for (const auto& c : cases) {
        const Outcome outcome = box.run(c.args);
        EXPECT_EQ(outcome.status, c.status) << c.args.back() << ": " << outcome.err;
        if (c.status == 0) {
            EXPECT_TRUE(fs::exists(box / c.args.back()));
        } else {
            EXPECT_FALSE(fs::exists(box / c.args.back())) << c.args.back();
            if (!c.err.empty()) {
                EXPECT_EQ(outcome.err, c.err);
            }
            // A refusal says one line; a bad option adds the pointer to --help.
            EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), c.status)
                << outcome.err;
        }
    }
    EXPECT_EQ(read_file(box / "a.png").value_or("").substr(1, 3), "PNG");
    EXPECT_EQ(labels_in(box / "a.png")[598], 300u);
    EXPECT_EQ(labels_in(box / "b.png").back(), 0u);
    EXPECT_EQ(labels_in(box / "b.png")[598], 300u);  // 16 bits hold every label
    EXPECT_EQ(labels_in(box / "c.tif")[598], 300u);
    EXPECT_EQ(read_file(box / "h.ppm").value_or("").substr(0, 3), "P5\n");
    EXPECT_EQ(read_file(box / "i.pgm").value_or("").substr(0, 23), "P5\n# i.pgm\n600 1\n65535\n");
}

TEST(CliOptions, HelpVersionAndBadOptions) {
    Sandbox box;
    const Outcome help = box.run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--connectivity", "--stats", "--color", "--min-area", "--sort",
                               "--depth", "--threads", "--quiet", "--help", "--version"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const Outcome version = box.run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, 9), "runlabel ");
    const struct {
        std::vector<std::string> args;
        std::string first_line;
    } bad[] = {
        {{"--frobnicate", "a", "b"}, "runlabel: unrecognized option '--frobnicate'\n"},
        {{"-c", "5", "a", "b"}, "runlabel: invalid value '5' for --connectivity (4 or 8)\n"},
        {{"a", "b", "--min-area"}, "runlabel: option '--min-area' requires a value\n"},
    };
    for (const auto& c : bad) {
        const Outcome outcome = box.run(c.args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, c.first_line + "Try 'runlabel --help' for more information.\n");
        EXPECT_EQ(outcome.out, "");
    }
    EXPECT_TRUE(box.entries().empty());  // nothing read or written
}

TEST(CliOptions, EveryInputFormatLabelsAsItsMaskInP5) {
    Sandbox box;
    const Mask mask = random_mask(4, 45, 30);
    write_file(box / "in.pgm", pgm(mask));
    // P4 (bits, 1 = ink = foreground) and P7 written here; the rest by their
    // own libraries through the API's writer.
    std::string pbm = "P4\n45 30\n";
    for (int r = 0; r < 30; ++r) {
        for (int byte = 0; byte < 6; ++byte) {
            unsigned char b = 0;
            for (int k = 0; k < 8; ++k) {
                const int c = byte * 8 + k;
                if (c < 45 && mask.pixels[r * 45 + c]) b |= 0x80 >> k;
            }
            pbm += static_cast<char>(b);
        }
    }
    write_file(box / "in.pbm", pbm);
    std::vector<uint16_t> wide(mask.pixels.begin(), mask.pixels.end());
    for (auto& w : wide) w *= 1000;
    runlabel::write_labels((box / "in.png").string(), runlabel::label_view(wide.data(), 45, 30));
    runlabel::write_labels((box / "in.tif").string(), runlabel::label_view(wide.data(), 45, 30));
    ASSERT_EQ(box.run({"-q", "in.pgm", "ref.tif"}).status, 0);
    const std::vector<uint64_t> expected = labels_in(box / "ref.tif");
    // Given no option, the classic form's greymap of the P5 is what every
    // other format gives too (fewer than 256 labels, so no wrap).
    ASSERT_EQ(box.run({"in.pgm", "plain.pgm"}).status, 0);
    const std::string classic = read_file(box / "plain.pgm").value_or("");
    for (const char* input : {"in.pbm", "in.png", "in.tif"}) {
        const Outcome outcome = box.run({"-q", input, "out.tif"});
        ASSERT_EQ(outcome.status, 0) << input << ": " << outcome.err;
        EXPECT_EQ(labels_in(box / "out.tif"), expected) << input;
        // The command a new user types first: no option at all.
        const Outcome plain = box.run({input, "plain.pgm"});
        EXPECT_EQ(plain.status, 0) << input << ": " << plain.err;
        EXPECT_EQ(plain.err, "");
        EXPECT_NE(plain.out.find("regions\n"), std::string::npos) << plain.out;
        EXPECT_EQ(read_file(box / "plain.pgm"), classic) << input;
        const Outcome png = box.run({input, "plain.png"});
        EXPECT_EQ(png.status, 0) << input << ": " << png.err;
        EXPECT_EQ(labels_in(box / "plain.png"), expected) << input;
    }
}

}  // namespace

namespace {

// Every output is the same for any number of threads, and for an input that
// arrives through a pipe in odd-sized pieces; a stream that stops early is
// "truncated", with no output.
TEST(CliStreaming, ThreadsAndPipesChangeNoByte) {
    Sandbox box;
    const Mask mask = random_mask(6, 700, 420);
    write_file(box / "in.pgm", pgm(mask));
    ASSERT_EQ(box.run({"-q", "-j1", "in.pgm", "one.tif", "-s", "one.csv"}).status, 0);
    const std::string labels = read_file(box / "one.tif").value_or("");
    const std::string table = read_file(box / "one.csv").value_or("");
    for (const char* threads : {"2", "3", "7"}) {
        ASSERT_EQ(box.run({"-q", "-j", threads, "in.pgm", "many.tif", "-s", "many.csv"}).status, 0);
        EXPECT_EQ(read_file(box / "many.tif").value_or(""), labels) << threads;
        EXPECT_EQ(read_file(box / "many.csv").value_or(""), table) << threads;
    }
    RunOptions piped;
    piped.input = pgm(mask);
    piped.input_piece = 997;
    ASSERT_EQ(box.run({"-q", "-j2", "-", "piped.tif", "-s", "piped.csv"}, piped).status, 0);
    EXPECT_EQ(read_file(box / "piped.tif").value_or(""), labels);
    EXPECT_EQ(read_file(box / "piped.csv").value_or(""), table);
    // The same stream cut short, in the classic form and with options.
    piped.input = pgm(mask).substr(0, 100000);
    const Outcome classic = box.run({"-", "cut.pgm"}, piped);
    EXPECT_EQ(classic.status, 1);
    EXPECT_EQ(classic.err, "Input file is truncated.\n");
    const Outcome with_options = box.run({"-j2", "-", "cut.tif"}, piped);
    EXPECT_EQ(with_options.status, 1);
    EXPECT_EQ(with_options.err, "runlabel: standard input: truncated\n");
    EXPECT_EQ(box.entries(), (std::vector<std::string>{"in.pgm", "many.csv", "many.tif", "one.csv",
                                                       "one.tif", "piped.csv", "piped.tif"}));
}

}  // namespace
