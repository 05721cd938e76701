// Every output format read back by an independent reader (numpy.load, PIL,
// tifffile, pamtopnm in check_outputs.py, run once per test program): label
// rasters with 300 and 70 000 distinct labels, every value exact. Then the
// refusals: a layout a format cannot hold leaves no file and says which would.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "file_fixture.h"
#include "imagefiles/output_formats.h"
#include "imagefiles/raster.h"
#include "support/output_file.h"

namespace {

struct WriterCase {
    const char* name;
    const char* file;  // the output name, whose extension picks the format
    SampleType sample;
    int channels;
    int labels;            // distinct non-zero labels in the raster
    bool seekable = true;  // false: a TIFF built in a temporary and copied
};

void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }

using S = SampleType;
const WriterCase kCases[] = {
    {"Pgm8", "pgm8.pgm", S::kU8, 1, 300},
    {"Pgm16", "pgm16.pgm", S::kU16, 1, 300},
    {"Ppm", "ppm.ppm", S::kU8, 3, 300},
    {"Pam8", "pam8.pam", S::kU8, 1, 300},
    {"Pam16", "pam16.pam", S::kU16, 1, 300},
    {"PamRgb", "pamrgb.pam", S::kU8, 3, 300},
    {"Png8", "png8.png", S::kU8, 1, 300},
    {"Png16", "png16.png", S::kU16, 1, 300},
    // Labels that hardly compress: the image data spans several IDAT chunks.
    {"Png16OfChunks", "png16chunks.png", S::kU16, 1, 65535},
    {"PngRgb", "pngrgb.PNG", S::kU8, 3, 300},
    {"Tiff8", "tiff8.tif", S::kU8, 1, 300},
    {"Tiff16", "tiff16.tiff", S::kU16, 1, 300},
    {"Tiff32", "tiff32.tif", S::kU32, 1, 70000},
    {"Tiff64", "tiff64.tif", S::kU64, 1, 70000},
    {"TiffRgb", "tiffrgb.tif", S::kU8, 3, 300},
    {"TiffUnseekable", "tiffpipe.tif", S::kU32, 1, 70000, false},
    {"Npy8", "npy8.npy", S::kU8, 1, 300},
    {"Npy16", "npy16.npy", S::kU16, 1, 300},
    {"Npy32", "npy32.npy", S::kU32, 1, 70000},
    {"Npy64", "npy64.npy", S::kU64, 1, 70000},
    {"NpyRgb", "npyrgb.npy", S::kU8, 3, 300},
};

constexpr int kWidth = 300;
constexpr int kHeight = 240;  // 72 000 pixels: room for 70 000 labels and background

// Labels 0..labels spread over the raster (7919 is prime to both label
// counts, so every label appears), as the sample type holds them: the low
// bits for 8 and 16 bits, the high half used too at 64; a colour view spreads
// a label's bits over its channels.
std::vector<uint64_t> label_values(const WriterCase& c) {
    std::vector<uint64_t> values;
    for (uint64_t i = 0; i < uint64_t(kWidth) * kHeight; ++i) {
        const uint64_t label = i * 7919 % (uint64_t(c.labels) + 1);
        if (c.channels == 3) {
            values.push_back(label & 0xff);
            values.push_back((label >> 8) & 0xff);
            values.push_back(label * 7 & 0xff);
        } else if (c.sample == S::kU8) {
            values.push_back(label & 0xff);
        } else if (c.sample == S::kU16) {
            values.push_back(label & 0xffff);
        } else if (c.sample == S::kU64) {
            values.push_back(label * 0x100000001);
        } else {
            values.push_back(label);
        }
    }
    return values;
}

// The values in the writer's row layout (machine byte order).
std::vector<uint8_t> rows_of(const std::vector<uint64_t>& values, SampleType sample) {
    const int size = sample_bytes(sample);
    std::vector<uint8_t> rows(values.size() * size);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const uint8_t v8 = uint8_t(values[i]);
        const uint16_t v16 = uint16_t(values[i]);
        const uint32_t v32 = uint32_t(values[i]);
        const void* from = size == 1   ? static_cast<const void*>(&v8)
                           : size == 2 ? static_cast<const void*>(&v16)
                           : size == 4 ? static_cast<const void*>(&v32)
                                       : static_cast<const void*>(&values[i]);
        std::memcpy(&rows[i * size], from, size);
    }
    return rows;
}

RasterLayout layout_of(const WriterCase& c) {
    RasterLayout layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.sample = c.sample;
    layout.channels = c.channels;
    layout.maxval = c.sample == S::kU16 ? c.labels : 255;
    layout.comment = c.file;
    return layout;
}

// Writes the case in bands of 17 rows, the last one short.
void write_case(const std::string& dir, const WriterCase& c) {
    const std::vector<uint64_t> values = label_values(c);
    const std::vector<uint8_t> rows = rows_of(values, c.sample);
    const RasterLayout layout = layout_of(c);
    const std::size_t row = row_bytes(c.sample, c.channels, kWidth);
    const std::string name = dir + "/" + c.file;
    auto out = OutputFile::open(name.c_str());
    ASSERT_NE(out, nullptr);
    std::unique_ptr<RasterWriter> writer =
        c.seekable ? create_writer(format_for_name(c.file), *out, layout)
                   : create_stream_writer(format_for_name(c.file), out->stream(), false, layout);
    for (int y = 0; y < kHeight; y += 17)
        writer->write_rows(rows.data() + std::size_t(y) * row, std::min(17, kHeight - y));
    writer->finish();
    ASSERT_TRUE(out->commit());

    std::ofstream expected(
        dir + "/" + std::string(c.file).substr(0, std::string(c.file).find('.')) + ".values",
        std::ios::binary);
    const uint64_t shape[] = {kHeight, kWidth, uint64_t(c.channels)};
    expected.write(reinterpret_cast<const char*>(values.data()), values.size() * 8);
    expected.write(reinterpret_cast<const char*>(shape), sizeof shape);
}

class WrittenFiles : public testing::TestWithParam<WriterCase> {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/runlabel-outputs-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::string names;
        for (const WriterCase& c : kCases) {
            write_case(dir_, c);
            names += " " + std::string(c.file).substr(0, std::string(c.file).find('.'));
        }
        const std::string report = dir_ + "/report.txt";
        const std::string command = "/usr/bin/python3 " RUNLABEL_TEST_DATA
                                    "/imagefiles/check_outputs.py " +
                                    dir_ + names + " >" + report + " 2>&1";
        checked_ = std::system(command.c_str()) == 0;
        std::ifstream in(report);
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t blank = line.find(' ');
            results_[line.substr(0, blank)] = line.substr(blank + 1);
            log_ += line + "\n";
        }
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }

    static std::string dir_;
    static bool checked_;
    static std::map<std::string, std::string> results_;
    static std::string log_;
};
std::string WrittenFiles::dir_;
bool WrittenFiles::checked_ = false;
std::map<std::string, std::string> WrittenFiles::results_;
std::string WrittenFiles::log_;

TEST_P(WrittenFiles, ReadBackExactlyByAnIndependentReader) {
    const WriterCase& c = GetParam();
    if (!checked_)
        GTEST_SKIP() << "check_outputs.py needs /usr/bin/python3 with numpy, PIL and tifffile: "
                     << log_;
    const std::string stem = std::string(c.file).substr(0, std::string(c.file).find('.'));
    ASSERT_EQ(results_.count(stem), 1u) << log_;
    const std::string& result = results_[stem];
    if (result.rfind("skip", 0) == 0) GTEST_SKIP() << result;
    EXPECT_EQ(result.substr(0, 2), "ok") << result;
}

INSTANTIATE_TEST_SUITE_P(Formats, WrittenFiles, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    const char* file;
    int64_t width, height;
    SampleType sample;
    int channels;
    const char* message;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

const Refusal kRefusals[] = {
    {"PngThirtyTwoBits", "o.png", 4, 4, S::kU32, 1,
     "PNG holds at most 16-bit samples; name the output .tif or .npy."},
    {"PngTooWide", "o.png", int64_t(1) << 31, 1, S::kU8, 1,
     "PNG holds at most 2147483647 rows and columns; name the output .tif or .npy."},
    {"PngEmpty", "o.png", 0, 4, S::kU8, 1,
     "PNG holds no empty image; name the output .pgm, .tif or .npy."},
    {"TiffTooTall", "o.tif", 1, int64_t(1) << 32, S::kU8, 1,
     "TIFF holds at most 4294967295 rows and columns; name the output .npy."},
    {"TiffColourThirtyTwoBits", "o.tif", 4, 4, S::kU32, 3,
     "A TIFF colour view holds at most 16-bit samples; name the output .npy."},
    {"PamSixtyFourBits", "o.pam", 4, 4, S::kU64, 1,
     "PAM holds at most 16-bit samples; name the output .tif or .npy."},
    {"PamTooWide", "o.pam", int64_t(1) << 31, 1, S::kU8, 1,
     "PAM holds at most 2147483647 rows and columns; name the output .tif or .npy."},
    {"GreymapThirtyTwoBits", "o.pgm", 4, 4, S::kU32, 1,
     "A greymap holds at most 16-bit samples; name the output .tif or .npy."},
    // Readers take a maxval of 255 or less to mean one byte a sample.
    {"GreymapSixteenBitsUnderAByteMaxval", "o.pgm", 4, 4, S::kU16, 1,
     "A greymap of 16-bit samples needs a maxval of 256 to 65535."},
    {"GreymapTooWide", "o", int64_t(1) << 31, 1, S::kU8, 1,
     "A greymap holds at most 2147483647 rows and columns; name the output .tif or .npy."},
    {"GreymapColour", "o.pgm", 4, 4, S::kU8, 3,
     "A greymap holds one channel; name the output .ppm, .png or .tif."},
    {"PixmapGrey", "o.ppm", 4, 4, S::kU8, 1,
     "A pixmap holds three channels; name the output .pgm or .pam."},
};

class RefusedLayout : public TempDirTest, public testing::WithParamInterface<Refusal> {};

TEST_P(RefusedLayout, SaysWhichFormatWouldHoldItAndLeavesNoFile) {
    const Refusal& c = GetParam();
    RasterLayout layout;
    layout.width = c.width;
    layout.height = c.height;
    layout.sample = c.sample;
    layout.channels = c.channels;
    const std::string name = path(c.file);
    {
        auto out = OutputFile::open(name.c_str());
        ASSERT_NE(out, nullptr);
        try {
            create_writer(format_for_name(c.file), *out, layout);
            ADD_FAILURE() << "not refused";
        } catch (const ImageError& error) {
            EXPECT_EQ(error.kind(), ImageError::Kind::kUnsupported);
            EXPECT_STREQ(error.what(), c.message);
        }
        EXPECT_EQ(std::ftell(out->stream()), 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

INSTANTIATE_TEST_SUITE_P(Formats, RefusedLayout, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// Rows missing at finish, or one too many, fail the output: committing it
// then leaves no file rather than one whose header promises rows it lacks.
TEST_F(TempDirTest, WrongRowCountFailsTheOutput) {
    for (const char* file : {"a.png", "a.tif", "a.npy", "a.pam", "a.pgm"}) {
        SCOPED_TRACE(file);
        RasterLayout layout;
        layout.width = 3;
        layout.height = 2;
        const uint8_t rows[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        const std::string name = path(file);
        for (const int64_t n : {1, 3}) {
            auto out = OutputFile::open(name.c_str());
            auto writer = create_writer(format_for_name(file), *out, layout);
            try {
                writer->write_rows(rows, n);
                writer->finish();
                ADD_FAILURE() << n << " rows accepted";
            } catch (const ImageError& error) {
                EXPECT_EQ(error.kind(), ImageError::Kind::kOutput);
            }
            writer.reset();
            EXPECT_FALSE(out->commit());
            EXPECT_FALSE(std::filesystem::exists(name));
        }
    }
}

TEST(FormatForName, ExtensionsIgnoringCaseAndEverythingElseIsAGreymap) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.png", "PNG"},     {"A.PNG", "PNG"}, {"a.tif", "TIFF"}, {"a.TIFF", "TIFF"},
        {"x.npy", "NPY"},     {"x.Pam", "PAM"}, {"x.ppm", "PPM"},  {"x.pgm", "PGM"},
        {"-", "PGM"},         {"png", "PGM"},   {"", "PGM"},       {"a.png.out", "PGM"},
        {"dir.png/a", "PGM"},
    };
    for (const auto& [name, format] : cases)
        EXPECT_STREQ(format_for_name(name).name, format) << name;
}

// A name asks for a format only for what that format holds: labels named
// .ppm are a greymap, a colour view named .pgm a pixmap.
TEST(FormatFor, FallsBackToTheFormatWrittenOtherwiseForItsContent) {
    struct Case {
        const char* name;
        Content content;
        const char* format;
    };
    const Case cases[] = {
        {"a.ppm", Content::kLabels, "PGM"}, {"a.pgm", Content::kColour, "PPM"},
        {"-", Content::kLabels, "PGM"},     {"-", Content::kColour, "PPM"},
        {"a.lab", Content::kLabels, "PGM"}, {"a.lab", Content::kColour, "PPM"},
        {"a.PNG", Content::kColour, "PNG"}, {"a.tiff", Content::kLabels, "TIFF"},
        {"a.npy", Content::kColour, "NPY"}, {"a.pam", Content::kLabels, "PAM"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(format_for(c.name, c.content).name, c.format) << c.name;
}

// The lists messages and help give are the table's, in its order.
TEST(OutputFormats, ListsFollowTheTable) {
    EXPECT_EQ(suffixes_holding(Content::kLabels), ".png, .tif, .tiff, .npy, .pam or .pgm");
    EXPECT_EQ(suffixes_holding(Content::kColour), ".png, .tif, .tiff, .npy, .pam or .ppm");
    EXPECT_EQ(formats_holding_label_bits(8), ".png, .tif, .npy, .pam or .pgm");
    EXPECT_EQ(formats_holding_label_bits(32), ".tif or .npy");
    EXPECT_EQ(formats_holding_label_bits(64), ".tif or .npy");
    EXPECT_EQ(label_bits_text(format_for_name("a.png")), "8 or 16");
    EXPECT_EQ(label_bits_text(format_for_name("a.tif")), "8 to 64");
    EXPECT_EQ(widest_label_bits(format_for_name("a.pgm")), 16);
    EXPECT_EQ(widest_label_bits(format_for_name("a.ppm")), 0);
}

// Rows a new format could get wrong: a suffix claimed twice, one also
// refused as unwritten, or a content with no format (or two) to fall back on.
TEST(OutputFormats, SuffixesAreTheirsAloneAndEachContentHasOneFallback) {
    std::vector<std::string> seen;
    int labels_otherwise = 0, colour_otherwise = 0;
    for (const OutputFormat* format : output_formats()) {
        SCOPED_TRACE(format->name);
        EXPECT_FALSE(format->suffixes.empty());
        for (std::string_view suffix : format->suffixes) {
            // Appended, not "a" + suffix: g++ 12 at -O3 warns falsely
            // (-Wrestrict) on that operator+.
            std::string name = "a";
            name.append(suffix);
            EXPECT_EQ(&format_for_name(name), format) << suffix;
            EXPECT_EQ(unwritten_image_extension(name.c_str()), "") << suffix;
            EXPECT_EQ(std::count(seen.begin(), seen.end(), suffix), 0) << suffix;
            seen.emplace_back(suffix);
        }
        EXPECT_EQ(format->labels, format->label_bits != 0);
        if (format->otherwise) {
            EXPECT_NE(format->called, nullptr);
            labels_otherwise += format->labels;
            colour_otherwise += format->colour;
        }
    }
    EXPECT_EQ(labels_otherwise, 1);
    EXPECT_EQ(colour_otherwise, 1);
}

// What a row declares is what its writer takes: every label width it lists
// and a colour view when it says so, and nothing else.
TEST(OutputFormats, WritersTakeWhatTheirRowsDeclare) {
    for (const OutputFormat* format : output_formats()) {
        for (int bits = 8; bits <= 64; bits *= 2) {
            SCOPED_TRACE(std::string(format->name) + " " + std::to_string(bits) + " bits");
            RasterLayout layout;
            layout.width = 2;
            layout.height = 2;
            layout.sample = sample_of_bits(bits);
            layout.maxval = label_maxval(*format, 300, bits);
            std::FILE* out = std::tmpfile();
            ASSERT_NE(out, nullptr);
            bool taken = true;
            try {
                create_stream_writer(*format, out, true, layout);
            } catch (const ImageError& error) {
                EXPECT_EQ(error.kind(), ImageError::Kind::kUnsupported);
                taken = false;
            }
            EXPECT_EQ(taken, format->labels && holds_label_bits(*format, bits));
            if (bits != 8) {
                std::fclose(out);
                continue;
            }
            layout.channels = 3;
            layout.maxval = 255;
            taken = true;
            try {
                create_stream_writer(*format, out, true, layout);
            } catch (const ImageError& error) {
                taken = false;
            }
            EXPECT_EQ(taken, format->colour) << "colour view";
            std::fclose(out);
        }
    }
}

TEST(LabelMaxval, FollowsEachFormatsRule) {
    struct Case {
        const char* name;
        uint64_t largest;
        int bits;
        int32_t maxval;
    };
    const Case cases[] = {
        // A greymap's says how wide its samples are.
        {"a.pgm", 3, 8, 255},
        {"a.pgm", 3, 16, 65535},
        // A PAM's is the largest label, within its samples, never 0, and
        // above 255 for two-byte samples.
        {"a.pam", 0, 8, 1},
        {"a.pam", 200, 8, 200},
        {"a.pam", 300, 8, 255},
        {"a.pam", 200, 16, 65535},
        {"a.pam", 300, 16, 300},
        {"a.pam", 70000, 16, 65535},
        // Others have none.
        {"a.png", 300, 16, 255},
        {"a.tif", 70000, 32, 255},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(label_maxval(format_for_name(c.name), c.largest, c.bits), c.maxval)
            << c.name << " " << c.largest << " " << c.bits;
    }
}

// Names of formats a user may ask for and gets none of: refused, where they
// used to get a greymap under that name. Names of no format stay greymaps.
TEST(FormatForName, ImageFormatsNotWrittenAreKnownByName) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.jpg", ".jpg"},
        {"A.JPEG", ".JPEG"},
        {"a.gif", ".gif"},
        {"a.bmp", ".bmp"},
        {"a.webp", ".webp"},
        {"a.pbm", ".pbm"},
        {"dir.jpg/a.tif", ""},
        {"a.png", ""},
        {"a.pgm", ""},
        {"a.ppm", ""},
        {"a.pnm", ""},
        {"a.lab", ""},
        {"a.raw", ""},
        {"jpg", ""},
        {"-", ""},
        {"", ""},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(unwritten_image_extension(name), extension) << name;
}

}  // namespace
