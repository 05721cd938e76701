// Every input variant as written by an independent tool (make_inputs.py runs
// PIL, tifffile, the Netpbm programs and ImageMagick once per run): the samples
// delivered band by band equal the ones the tool was given, and the foreground
// (any sample non-zero) equals the mask read from the same image as a greymap.
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "file_fixture.h"
#include "imagefiles/raster.h"

namespace {

struct ToolCase {
    const char* name;  // the file is name + ext, the samples name + ".expected"
    const char* ext;
    const char* tool;  // what make_inputs.py needed for it
    const char* format;
    SampleType sample;
    int channels;
    bool exact;  // false: the tool picks its own depth; compare the mask only
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

using S = SampleType;
const ToolCase kCases[] = {
    {"png-grey1", ".png", "PIL", "PNG", S::kU8, 1, true},
    {"png-grey2", ".png", "pnmtopng", "PNG", S::kU8, 1, true},
    {"png-grey4", ".png", "pnmtopng", "PNG", S::kU8, 1, true},
    {"png-grey8", ".png", "PIL", "PNG", S::kU8, 1, true},
    {"png-grey16", ".png", "PIL", "PNG", S::kU16, 1, true},
    {"png-rgb", ".png", "PIL", "PNG", S::kU8, 3, true},
    {"png-rgba", ".png", "PIL", "PNG", S::kU8, 3, true},
    {"png-grey-alpha", ".png", "PIL", "PNG", S::kU8, 1, true},
    {"png-palette", ".png", "PIL", "PNG", S::kU8, 1, true},
    {"png-palette4", ".png", "PIL", "PNG", S::kU8, 1, true},
    {"png-interlaced1", ".png", "pnmtopng", "PNG", S::kU8, 1, true},
    {"png-interlaced8", ".png", "pnmtopng", "PNG", S::kU8, 1, true},
    {"png-interlaced-rgb", ".png", "pnmtopng", "PNG", S::kU8, 3, true},
    {"png-magick-interlaced", ".png", "ImageMagick convert", "PNG", S::kU8, 1, false},
    {"tiff-bilevel-minisblack", ".tif", "tifffile", "TIFF", S::kBit, 1, true},
    {"tiff-bilevel-miniswhite", ".tif", "tifffile", "TIFF", S::kBit, 1, true},
    {"tiff-grey8", ".tif", "tifffile", "TIFF", S::kU8, 1, true},
    {"tiff-grey16", ".tif", "tifffile", "TIFF", S::kU16, 1, true},
    {"tiff-grey32", ".tif", "tifffile", "TIFF", S::kU32, 1, true},
    {"tiff-int16", ".tif", "tifffile", "TIFF", S::kU16, 1, true},
    {"tiff-rgb", ".tif", "tifffile", "TIFF", S::kU8, 3, true},
    {"tiff-rgb-planar", ".tif", "tifffile", "TIFF", S::kU8, 3, true},
    {"tiff-rgba", ".tif", "tifffile", "TIFF", S::kU8, 3, true},
    {"tiff-tiled16", ".tif", "tifffile", "TIFF", S::kU16, 1, true},
    {"tiff-tiled-planar-rgb", ".tif", "tifffile", "TIFF", S::kU8, 3, true},
    {"tiff-tiled-bilevel", ".tif", "tifffile", "TIFF", S::kBit, 1, true},
    {"tiff-deflate", ".tif", "tifffile", "TIFF", S::kU16, 1, true},
    {"tiff-strips", ".tif", "tifffile", "TIFF", S::kU8, 1, true},
    {"tiff-lzw", ".tif", "PIL", "TIFF", S::kU8, 1, true},
    {"tiff-packbits", ".tif", "PIL", "TIFF", S::kU8, 3, true},
    {"tiff-palette", ".tif", "PIL", "TIFF", S::kU8, 1, true},
    {"tiff-multipage", ".tif", "PIL", "TIFF", S::kU8, 1, true},
    {"tiff-magick-multipage", ".tif", "ImageMagick convert", "TIFF", S::kU8, 1, false},
    {"pbm-raw", ".pbm", "pgmtopbm", "PBM", S::kBit, 1, true},
    {"pbm-plain", ".pbm", "pnmtoplainpnm", "PBM", S::kBit, 1, true},
    {"pgm-plain8", ".pgm", "pnmtoplainpnm", "PGM", S::kU8, 1, true},
    {"pgm-plain1000", ".pgm", "pnmtoplainpnm", "PGM", S::kU16, 1, true},
    {"ppm-plain", ".ppm", "pnmtoplainpnm", "PPM", S::kU8, 3, true},
    {"ppm-raw", ".ppm", "make_inputs.py", "PPM", S::kU8, 3, true},
    {"pgm-raw16", ".pgm", "ImageMagick convert", "PGM", S::kU16, 1, true},
    {"ppm-raw16", ".ppm", "ImageMagick convert", "PPM", S::kU16, 3, true},
    {"npy-u1", ".npy", "numpy", "NPY", S::kU8, 1, true},
    {"npy-bool", ".npy", "numpy", "NPY", S::kU8, 1, true},
    {"npy-i1", ".npy", "numpy", "NPY", S::kU8, 1, true},
    {"npy-u2", ".npy", "numpy", "NPY", S::kU16, 1, true},
    {"npy-i2", ".npy", "numpy", "NPY", S::kU16, 1, true},
    {"npy-u4", ".npy", "numpy", "NPY", S::kU32, 1, true},
    {"npy-u8", ".npy", "numpy", "NPY", S::kU64, 1, true},
    {"npy-i8", ".npy", "numpy", "NPY", S::kU64, 1, true},
    {"npy-rgb", ".npy", "numpy", "NPY", S::kU8, 3, true},
    {"npy-big-endian", ".npy", "numpy", "NPY", S::kU16, 1, true},
    {"npy-fortran", ".npy", "numpy", "NPY", S::kU16, 1, true},
    {"npy-fortran-rgb", ".npy", "numpy", "NPY", S::kU8, 3, true},
    {"npy-version2", ".npy", "numpy", "NPY", S::kU8, 1, true},
    {"npy-version3", ".npy", "numpy", "NPY", S::kU16, 1, true},
    {"pam-grey8", ".pam", "pamtopam", "PAM", S::kU8, 1, true},
    {"pam-grey1000", ".pam", "pamtopam", "PAM", S::kU16, 1, true},
    {"pam-rgb", ".pam", "pamtopam", "PAM", S::kU8, 3, true},
    {"pam-rgb-alpha", ".pam", "pamstack", "PAM", S::kU8, 3, true},
};

std::string slurp(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The rows of a reader, read seven at a time so that bands end mid-strip,
// mid-tile and mid-pass.
std::string read_all(RasterReader& reader) {
    const std::size_t row = reader.row_bytes();
    std::string samples;
    std::vector<uint8_t> band(row * 7 + 1);
    int64_t got;
    while ((got = reader.read_rows(band.data(), 7)) > 0)
        samples.append(reinterpret_cast<char*>(band.data()), std::size_t(got) * row);
    return samples;
}

// Row-major foreground flags: a pixel with any non-zero sample (a set bit).
std::vector<bool> foreground(const RasterInfo& info, const std::string& samples) {
    const std::size_t row = row_bytes(info.sample, info.channels, info.width);
    const std::size_t pixel = row_bytes(info.sample, info.channels, 1);
    std::vector<bool> mask;
    for (int64_t y = 0; y < info.height; ++y) {
        for (int64_t x = 0; x < info.width; ++x) {
            const char* at = samples.data() + std::size_t(y) * row;
            bool set = false;
            if (info.sample == SampleType::kBit) {
                set = (uint8_t(at[x / 8]) >> (7 - x % 8)) & 1;
            } else {
                for (std::size_t b = 0; b < pixel; ++b) set |= at[std::size_t(x) * pixel + b] != 0;
            }
            mask.push_back(set);
        }
    }
    return mask;
}

class ToolInputs : public testing::TestWithParam<ToolCase> {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/runlabel-inputs-XXXXXX";
        dir_ = mkdtemp(pattern);
        const std::string command = "/usr/bin/python3 " RUNLABEL_TEST_DATA
                                    "/imagefiles/make_inputs.py " +
                                    dir_ + " 20240611 2>" + dir_ + "/errors.txt";
        generated_ = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }

    static std::string file(const std::string& name) { return dir_ + "/" + name; }

    static std::string dir_;
    static bool generated_;
};
std::string ToolInputs::dir_;
bool ToolInputs::generated_ = false;

TEST_P(ToolInputs, DeliversTheToolsSamplesAndTheGreymapsMask) {
    const ToolCase& c = GetParam();
    if (!generated_)
        GTEST_SKIP() << "make_inputs.py needs /usr/bin/python3 with numpy, PIL and tifffile: "
                     << slurp(file("errors.txt"));
    const std::string input = file(std::string(c.name) + c.ext);
    if (!std::filesystem::exists(input)) GTEST_SKIP() << c.tool << " is not installed";

    auto reader = open_raster(input.c_str());
    const RasterInfo& info = reader->info();
    EXPECT_STREQ(info.format, c.format);
    EXPECT_EQ(info.sample, c.sample);
    EXPECT_EQ(info.channels, c.channels);
    const std::string samples = read_all(*reader);
    if (c.exact) {
        EXPECT_EQ(samples, slurp(file(std::string(c.name) + ".expected")));
    }

    auto greymap = open_raster(file("mask.pgm").c_str());
    ASSERT_EQ(info.width, greymap->info().width);
    ASSERT_EQ(info.height, greymap->info().height);
    EXPECT_EQ(foreground(info, samples), foreground(greymap->info(), read_all(*greymap)));
}

INSTANTIATE_TEST_SUITE_P(Formats, ToolInputs, testing::ValuesIn(kCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p != '\0'; ++p)
        if (*p != '-') name += *p;
    return name;
});

// With alpha kept, it comes as the last channel, as stored.
TEST_F(ToolInputs, KeepsAlphaAsTheLastChannelWhenAsked) {
    if (!generated_) GTEST_SKIP() << "make_inputs.py did not run";
    ReadOptions options;
    options.keep_alpha = true;
    for (const char* name : {"png-rgba.png", "png-grey-alpha.png", "tiff-rgba.tif",
                             "pam-rgb-alpha.pam", "png-rgb.png", "tiff-rgb.tif"}) {
        SCOPED_TRACE(name);
        const std::string input = file(name);
        if (!std::filesystem::exists(input)) continue;
        const int channels = open_raster(input.c_str())->info().channels;
        auto reader = open_raster(input.c_str(), options);
        const std::string stem(name, std::strrchr(name, '.'));
        const std::string kept = file(stem + "-kept.expected");
        const bool alpha = std::filesystem::exists(kept);
        EXPECT_EQ(reader->info().alpha, alpha);
        EXPECT_EQ(reader->info().channels, channels + (alpha ? 1 : 0));
        EXPECT_EQ(read_all(*reader), slurp(alpha ? kept : file(stem + ".expected")));
    }
}

// Through a pipe nothing can be rewound: the signature is replayed, and a
// TIFF goes through a temporary copy.
TEST_F(ToolInputs, ReadsFromAPipe) {
    if (!generated_) GTEST_SKIP() << "make_inputs.py did not run";
    // A reader may stop before the feeder's last bytes: its write then fails
    // instead of ending the test.
    std::signal(SIGPIPE, SIG_IGN);
    for (const char* name :
         {"png-interlaced8.png", "tiff-tiled16.tif", "pgm-plain1000.pgm", "pam-rgb-alpha.pam",
          "mask.pgm", "npy-big-endian.npy", "npy-fortran-rgb.npy", "npy-version3.npy"}) {
        SCOPED_TRACE(name);
        const std::string input = file(name);
        if (!std::filesystem::exists(input)) continue;
        const std::string fifo = file("fifo");
        std::filesystem::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const std::string bytes = slurp(input);
        std::thread feeder([&] { std::ofstream(fifo, std::ios::binary) << bytes; });
        std::string piped;
        try {
            auto reader = open_raster(fifo.c_str());
            piped = read_all(*reader);
        } catch (...) {
            feeder.join();
            throw;
        }
        feeder.join();
        auto direct = open_raster(input.c_str());
        EXPECT_EQ(piped, read_all(*direct));
    }
}

}  // namespace
