// Bad inputs, a table per format: truncated, badly formed, absurd sizes,
// variants not read. Each is refused with its one-line message (when opened
// or while its rows are read), never a crash, and under the sanitizers never a
// read past a buffer.
#include <cstring>
#include <vector>

#include "file_fixture.h"
#include "imagefiles/output_formats.h"
#include "imagefiles/raster.h"
#include "support/output_file.h"

namespace {

using Kind = ImageError::Kind;

struct BadInput {
    const char* name;
    std::string bytes;
    Kind kind;
    const char* message;
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class RefusedInput : public TempDirTest, public testing::WithParamInterface<BadInput> {};

// Opens the bytes and reads every row, in bands of 5.
TEST_P(RefusedInput, WithItsMessage) {
    const BadInput& c = GetParam();
    const std::string file = write_file("in", c.bytes);
    try {
        auto reader = open_raster(file.c_str());
        // Rows are asked for only as far as a small image goes: an absurd
        // size that opens must fail on its first rows, not after all of them.
        const std::size_t row = reader->row_bytes();
        ASSERT_LE(row, std::size_t(1) << 20) << "a row too wide for this test";
        std::vector<uint8_t> band(std::max<std::size_t>(row, 1) * 5);
        for (int i = 0; i < 100 && reader->read_rows(band.data(), 5) > 0; ++i) {
        }
        ADD_FAILURE() << "read without complaint";
    } catch (const ImageError& error) {
        EXPECT_STREQ(error.what(), c.message);
        EXPECT_EQ(error.kind(), c.kind);
    }
}

std::string operator""_b(const char* text, std::size_t size) { return std::string(text, size); }

const BadInput kNetpbm[] = {
    {"Empty", "", Kind::kNotImage,
     "Input file is not a PBM, PGM, PPM, PAM, PNG, TIFF or NPY image."},
    {"Text", "hello\n", Kind::kNotImage,
     "Input file is not a PBM, PGM, PPM, PAM, PNG, TIFF or NPY image."},
    {"MagicP8", "P8\n1 1\n255\na", Kind::kNotImage,
     "Input file is not a PBM, PGM, PPM, PAM, PNG, TIFF or NPY image."},
    {"GreymapNoMaxval", "P5\n4 3\n", Kind::kInvalid, "Input file has an invalid PGM header."},
    {"BitmapNegativeWidth", "P4\n-8 1\n\xff", Kind::kInvalid,
     "Input file has an invalid PBM header."},
    {"PixmapWidthOverflows", "P6\n99999999999 1\n255\n", Kind::kInvalid,
     "Input file has an invalid PPM header."},
    {"BitmapTruncated", "P4\n9 2\n\xff\x80\xff", Kind::kTruncated, "Input file is truncated."},
    // What can never be labelled is refused before the file's length is asked.
    {"GreymapAbsurdSize", "P5\n2147483647 2147483647\n255\nabc", Kind::kUnsupported,
     "Input file is wider than 2147483645 pixels, more than can be labelled."},
    {"BitmapTooWide", "P4\n2147483646 1\n\xff", Kind::kUnsupported,
     "Input file is wider than 2147483645 pixels, more than can be labelled."},
    {"PlainBitmapTooWide", "P1\n2147483646 1\n1", Kind::kUnsupported,
     "Input file is wider than 2147483645 pixels, more than can be labelled."},
    {"WidestGreymapBeyondFile", "P5\n2147483645 1\n255\nabc", Kind::kTruncated,
     "Input file is truncated."},
    {"PlainBitmapBadDigit", "P1\n2 1\n0 2\n", Kind::kInvalid,
     "Input file has an invalid PBM raster."},
    {"PlainBitmapTruncated", "P1\n3 2\n0 1 1\n1", Kind::kTruncated, "Input file is truncated."},
    {"PlainGreymapAboveMaxval", "P2\n2 1\n100\n7 101\n", Kind::kInvalid,
     "Input file has an invalid PGM raster."},
    {"PlainGreymapNotANumber", "P2\n2 1\n100\n7 x\n", Kind::kInvalid,
     "Input file has an invalid PGM raster."},
    {"PlainPixmapTruncated", "P3\n1 1\n255\n1 2", Kind::kTruncated, "Input file is truncated."},
    {"PlainGreymapAbsurdHeight", "P2\n3 2147483647\n255\n1 2 3", Kind::kTruncated,
     "Input file is truncated."},
    {"PamNoDepth", "P7\nWIDTH 1\nHEIGHT 1\nMAXVAL 255\nENDHDR\na", Kind::kInvalid,
     "Input file has an invalid PAM header."},
    {"PamDepthZero", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 0\nMAXVAL 255\nENDHDR\n", Kind::kInvalid,
     "Input file has an invalid PAM header."},
    {"PamMaxvalTooLarge", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 65536\nENDHDR\nab",
     Kind::kInvalid, "Input file has an invalid PAM header."},
    {"PamUnknownKeyword", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nCOLOUR 3\nENDHDR\na",
     Kind::kInvalid, "Input file has an invalid PAM header."},
    {"PamNoEnd", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n", Kind::kInvalid,
     "Input file has an invalid PAM header."},
    {"PamKeywordTooLong", "P7\nWIDTHWIDTHWIDTHWIDTH 1\n", Kind::kInvalid,
     "Input file has an invalid PAM header."},
    {"PamTruncated16", "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 1000\nENDHDR\nabc", Kind::kTruncated,
     "Input file is truncated."},
    {"PamAlphaTruncated",
     "P7\nWIDTH 2\nHEIGHT 2\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\nabcdefg",
     Kind::kTruncated, "Input file is truncated."},
    {"PamAbsurdDepth",
     "P7\nWIDTH 2147483647\nHEIGHT 2147483647\nDEPTH 65535\nMAXVAL 65535\nENDHDR\nab",
     Kind::kUnsupported, "Input file is wider than 2147483645 pixels, more than can be labelled."},
    {"PamSizeOverflowing64Bits",
     "P7\nWIDTH 1073741824\nHEIGHT 1073741824\nDEPTH 16\nMAXVAL 65535\nENDHDR\nab",
     Kind::kTruncated, "Input file is truncated."},
};
INSTANTIATE_TEST_SUITE_P(Netpbm, RefusedInput, testing::ValuesIn(kNetpbm),
                         [](const auto& info) { return std::string(info.param.name); });

// A valid 5 x 3 grey PNG as our own writer makes it, to be broken below.
std::string small_png() {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&text, &size);
    RasterLayout layout;
    layout.width = 5;
    layout.height = 3;
    auto writer = create_stream_writer(format_for_name(".png"), memory, false, layout);
    const uint8_t rows[15] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    writer->write_rows(rows, 3);
    writer->finish();
    std::fclose(memory);
    std::string png(text, size);
    std::free(text);
    return png;
}

std::string big_endian(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// The PNG with its IHDR fields replaced and the CRC made right (so that only
// libpng's field checks see the change).
std::string with_header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour,
                        uint8_t interlace = 0) {
    std::string png = small_png();
    std::string fields = big_endian(width) + big_endian(height) + char(depth) + char(colour);
    png.replace(16, 10, fields);
    png[28] = char(interlace);
    // CRC-32 over type and data, as PNG defines it.
    uint32_t crc = 0xffffffff;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= uint8_t(png[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    png.replace(29, 4, big_endian(~crc));
    return png;
}

std::vector<BadInput> png_cases() {
    const std::string png = small_png();
    const std::size_t idat = png.find("IDAT");
    std::string bad_crc = png;
    bad_crc[29] ^= 1;  // the IHDR's CRC
    std::string bad_data = png;
    for (std::size_t i = idat + 6; i < idat + 12; ++i) bad_data[i] ^= 0x55;
    return {
        {"SignatureOnly", png.substr(0, 8), Kind::kTruncated, "Input file is truncated."},
        {"InsideHeader", png.substr(0, 20), Kind::kTruncated, "Input file is truncated."},
        {"InsideImageData", png.substr(0, idat + 8), Kind::kTruncated, "Input file is truncated."},
        {"InsideImageDataChecksum", png.substr(0, png.size() - 14), Kind::kTruncated,
         "Input file is truncated."},
        {"HeaderChecksum", bad_crc, Kind::kInvalid, "Input file has an invalid PNG header."},
        {"CorruptImageData", bad_data, Kind::kInvalid, "Input file has invalid PNG image data."},
        {"ZeroWidth", with_header(0, 3, 8, 0), Kind::kInvalid,
         "Input file has an invalid PNG header."},
        {"ThreeBitDepth", with_header(5, 3, 3, 0), Kind::kInvalid,
         "Input file has an invalid PNG header."},
        {"SixteenBitPalette", with_header(5, 3, 16, 3), Kind::kInvalid,
         "Input file has an invalid PNG header."},
        {"WidthPastPngLimit", with_header(0x80000000u, 3, 8, 0), Kind::kInvalid,
         "Input file has an invalid PNG header."},
        // Sizes whose data could not fit in the file, compressed as tightly
        // as deflate can, are refused before their rows are asked for.
        {"AbsurdHeight", with_header(5, 0x7fffffff, 8, 0), Kind::kTruncated,
         "Input file is truncated."},
        {"HugeInterlacedHeightBeyondFile", with_header(1000, 100000, 8, 0, 1), Kind::kTruncated,
         "Input file is truncated."},
        {"WidthPastLabelling", with_header(0x7fffffff, 1, 8, 0), Kind::kUnsupported,
         "Input file is wider than 2147483645 pixels, more than can be labelled."},
        {"InterlacedPast2GiB", with_header(100000, 100000, 8, 0, 1), Kind::kUnsupported,
         "Input file is not a supported PNG image: interlaced, and larger than the 2 GiB an "
         "interlaced image may take decoded whole."},
    };
}
INSTANTIATE_TEST_SUITE_P(Png, RefusedInput, testing::ValuesIn(png_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A little-endian classic TIFF: one strip of data at offset 8, then one
// directory of SHORT and LONG fields (sorted by tag, as TIFF requires).
struct Field {
    uint16_t tag;
    uint16_t type;  // 3 SHORT, 4 LONG
    uint32_t value;
};

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char(v >> (8 * i));
    return s;
}

std::string tiff(std::vector<Field> fields, const std::string& strip) {
    const uint32_t directory = 8 + uint32_t(strip.size() + strip.size() % 2);
    std::string file = "II*\0"_b + le(directory, 4) + strip + std::string(strip.size() % 2, '\0');
    file += le(uint32_t(fields.size()), 2);
    for (const Field& f : fields)
        file += le(f.tag, 2) + le(f.type, 2) + le(1, 4) + le(f.value, f.type == 3 ? 2 : 4) +
                std::string(f.type == 3 ? 2 : 0, '\0');
    return file + le(0, 4);
}

// A w x h one-sample image of bits-bit samples in the given format, one strip.
std::string grey_tiff(uint32_t w, uint32_t h, uint16_t bits, uint16_t format,
                      const std::string& strip, uint16_t photometric = 1) {
    return tiff({{256, 4, w},
                 {257, 4, h},
                 {258, 3, bits},
                 {259, 3, 1},
                 {262, 3, photometric},
                 {273, 4, 8},
                 {277, 3, 1},
                 {278, 4, h},
                 {279, 4, uint32_t(strip.size())},
                 {339, 3, format}},
                strip);
}

std::vector<BadInput> tiff_cases() {
    const std::string four(4 * 3 * 4, '\x01');
    return {
        {"HeaderOnly", "II*\0"_b, Kind::kTruncated, "Input file is truncated."},
        {"DirectoryOutsideFile", "II*\0\xff\xff\0\0"_b, Kind::kTruncated,
         "Input file is truncated."},
        {"FloatSamples", grey_tiff(4, 3, 32, 3, four), Kind::kUnsupported,
         "Input file is not a supported TIFF image: 32-bit float samples."},
        {"ComplexSamples", grey_tiff(4, 3, 32, 5, four), Kind::kUnsupported,
         "Input file is not a supported TIFF image: complex samples."},
        {"TwelveBitSamples", grey_tiff(4, 3, 12, 1, four), Kind::kUnsupported,
         "Input file is not a supported TIFF image: 12-bit samples."},
        {"UncompressedYCbCr",
         tiff({{256, 4, 4},
               {257, 4, 3},
               {258, 3, 8},
               {259, 3, 1},
               {262, 3, 6},
               {273, 4, 8},
               {277, 3, 3},
               {278, 4, 3},
               {279, 4, 36}},
              std::string(36, 'a')),
         Kind::kUnsupported, "Input file is not a supported TIFF image: YCbCr samples."},
        {"DirectoryCutShort", grey_tiff(4, 3, 8, 1, four).substr(0, 12), Kind::kTruncated,
         "Input file is truncated."},
        {"StripPastEnd",
         tiff({{256, 4, 4},
               {257, 4, 3},
               {258, 3, 8},
               {259, 3, 1},
               {262, 3, 1},
               {273, 4, 0xfff0},
               {277, 3, 1},
               {278, 4, 3},
               {279, 4, 12}},
              std::string(12, 'a')),
         Kind::kTruncated, "Input file is truncated."},
        {"AbsurdSize", grey_tiff(0xffffffff, 0xffffffff, 8, 1, four), Kind::kInvalid,
         "Input file has an invalid TIFF header."},
        {"AbsurdHeight", grey_tiff(4, 0x7fffffff, 8, 1, four), Kind::kTruncated,
         "Input file is truncated."},
        // Uncompressed samples beyond the file are refused before a row is taken.
        {"UncompressedRowPastFile", grey_tiff(1u << 28, 1, 64, 1, std::string(8, '\0')),
         Kind::kTruncated, "Input file is truncated."},
        {"WidthPastLabelling", grey_tiff(0x80000000u, 1, 8, 1, four), Kind::kUnsupported,
         "Input file is wider than 2147483645 pixels, more than can be labelled."},
    };
}
INSTANTIATE_TEST_SUITE_P(Tiff, RefusedInput, testing::ValuesIn(tiff_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// An .npy header: magic, version, length, then the dict padded as numpy pads it.
std::string npy(const std::string& dict, int major = 1) {
    std::string text = dict;
    const std::size_t prefix = major == 1 ? 10 : 12;
    text.append((64 - (prefix + text.size() + 1) % 64) % 64, ' ');
    text += '\n';
    std::string file =
        "\x93NUMPY"_b + char(major) + '\0' + le(uint32_t(text.size()), major == 1 ? 2 : 4);
    return file + text;
}

std::string npy_of(const std::string& descr, const std::string& shape, bool fortran = false) {
    return npy("{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") +
               ", 'shape': " + shape + ", }");
}

std::vector<BadInput> npy_cases() {
    const std::string six(6, '\1');
    const auto invalid = "Input file has an invalid NPY header.";
    return {
        {"MagicOnly", "\x93NUMPY"_b, Kind::kTruncated, "Input file is truncated."},
        {"Version4", "\x93NUMPY\x04\x00\x10\x00"_b, Kind::kUnsupported,
         "Input file is not a supported NPY image: format version 4.0."},
        {"HeaderPastEnd", npy_of("|u1", "(2, 3)").substr(0, 30), Kind::kTruncated,
         "Input file is truncated."},
        {"HeaderLengthPastLimit", "\x93NUMPY\x02\x00\xff\xff\xff\xff"_b, Kind::kInvalid, invalid},
        {"NoNewline", "\x93NUMPY\x01\x00\x04\x00{}  "_b, Kind::kInvalid, invalid},
        {"NotADict", npy("['descr', '|u1']") + six, Kind::kInvalid, invalid},
        {"MissingShape", npy("{'descr': '|u1', 'fortran_order': False}") + six, Kind::kInvalid,
         invalid},
        {"KeyTwice",
         npy("{'descr': '|u1', 'descr': '|u1', 'fortran_order': False, 'shape': (2, 3)}"),
         Kind::kInvalid, invalid},
        {"UnknownKey",
         npy("{'descr': '|u1', 'fortran_order': False, 'shape': (2, 3), 'x': 1}") + six,
         Kind::kInvalid, invalid},
        {"NegativeDimension", npy_of("|u1", "(2, -3)") + six, Kind::kInvalid, invalid},
        {"DimensionPast64Bits", npy_of("|u1", "(2, 99999999999999999999)") + six, Kind::kInvalid,
         invalid},
        {"FloatSamples", npy_of("<f4", "(2, 3)") + std::string(24, '\0'), Kind::kUnsupported,
         "Input file is not a supported NPY image: floating-point samples ('<f4')."},
        {"ComplexSamples", npy_of("<c8", "(2, 3)") + std::string(48, '\0'), Kind::kUnsupported,
         "Input file is not a supported NPY image: complex samples ('<c8')."},
        {"UnicodeSamples", npy_of("<U4", "(2, 3)"), Kind::kUnsupported,
         "Input file is not a supported NPY image: samples of type '<U4'."},
        {"Structured",
         npy("{'descr': [('a', '<u1')], 'fortran_order': False, 'shape': (2, 3), }") + six,
         Kind::kUnsupported, "Input file is not a supported NPY image: structured samples."},
        {"WideSamplesWithoutByteOrder", npy_of("|u2", "(2, 3)") + six + six, Kind::kInvalid,
         invalid},
        {"OneDimension", npy_of("|u1", "(6,)") + six, Kind::kUnsupported,
         "Input file is not a supported NPY image: a 1-dimensional array."},
        {"FourDimensions", npy_of("|u1", "(1, 2, 3, 1)") + six, Kind::kUnsupported,
         "Input file is not a supported NPY image: a 4-dimensional array."},
        {"NoChannels", npy_of("|u1", "(2, 3, 0)"), Kind::kUnsupported,
         "Input file is not a supported NPY image: 0 channels."},
        {"SamplesShort", npy_of("<u2", "(2, 3)") + six, Kind::kTruncated,
         "Input file is truncated."},
        {"FortranSamplesShort", npy_of("<u2", "(2, 3)", true) + six, Kind::kTruncated,
         "Input file is truncated."},
        {"TooWide", npy_of("|u1", "(1, 2147483646)"), Kind::kUnsupported,
         "Input file is wider than 2147483645 pixels, more than can be labelled."},
        {"TooTall", npy_of("|u1", "(2147483648, 1)"), Kind::kUnsupported,
         "Input file is taller than 2147483647 rows, more than can be labelled."},
        {"SizePast64Bits", npy_of("<u8", "(2147483647, 2147483645, 65535)"), Kind::kTruncated,
         "Input file is truncated."},
    };
}
INSTANTIATE_TEST_SUITE_P(Npy, RefusedInput, testing::ValuesIn(npy_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OpenRaster, MissingFileIsNotFound) {
    try {
        open_raster("/nonexistent/in.png");
        ADD_FAILURE() << "opened";
    } catch (const ImageError& error) {
        EXPECT_EQ(error.kind(), Kind::kNotFound);
        EXPECT_STREQ(error.what(), "Input file not found");
    }
}

}  // namespace
