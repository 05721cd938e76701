// Rows mapped in place from the input file: the bytes read_rows would give,
// the two mixed in any order, nothing mapped where the rows need converting,
// and a file cut short under the mapping an error rather than SIGBUS.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "imagefiles/raster.h"
#include "support/file_mapping.h"

namespace {

class MappedRowsTest : public TempDirTest {
  protected:
    static void SetUpTestSuite() { guard_file_mappings(); }
};

// A header and rows x row_bytes raster bytes 1, 2, 3 ... (mod 251).
std::string image(const std::string& header, std::size_t raster_bytes) {
    std::string bytes = header;
    for (std::size_t i = 0; i < raster_bytes; ++i) bytes += static_cast<char>(1 + i % 251);
    return bytes;
}

// An .npy header for 6 rows of 1000 samples.
std::string npy(const std::string& descr, bool fortran = false) {
    std::string dict = "{'descr': '" + descr +
                       "', 'fortran_order': " + (fortran ? "True" : "False") +
                       ", 'shape': (6, 1000), }";
    dict.append((64 - (11 + dict.size()) % 64) % 64, ' ');
    dict += '\n';
    return std::string("\x93NUMPY\x01\0", 8) + char(dict.size() & 0xff) + char(dict.size() >> 8) +
           dict;
}

struct MapCase {
    const char* name;
    std::string header;
    std::size_t raster_bytes;  // in the file, for 6 rows
    bool mapped;
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << c.name; }

class MapsRowsAsStored : public MappedRowsTest, public testing::WithParamInterface<MapCase> {};

// Rows 0-1 mapped (where they can be), 2-3 read, 4-5 mapped: the bytes of six
// rows read in one go.
TEST_P(MapsRowsAsStored, MixedWithReadRows) {
    const MapCase& c = GetParam();
    const std::string file = write_file("in", image(c.header, c.raster_bytes));
    const std::unique_ptr<RasterReader> whole = open_raster(file.c_str());
    const std::size_t row = whole->row_bytes();
    std::vector<uint8_t> expected(6 * row);
    ASSERT_EQ(whole->read_rows(expected.data(), 6), 6);

    const std::unique_ptr<RasterReader> reader = open_raster(file.c_str());
    std::vector<uint8_t> got(6 * row);
    for (int64_t first = 0; first < 6; first += 2) {
        if (first != 2) {
            const MappedRows mapped = reader->map_rows(2);
            EXPECT_EQ(mapped.data() != nullptr, c.mapped) << first;
            if (mapped.data() != nullptr) {
                ASSERT_EQ(mapped.rows(), 2);
                std::copy_n(mapped.data(), 2 * row, got.data() + first * row);
                EXPECT_NO_THROW(mapped.check_intact());
                continue;
            }
        }
        ASSERT_EQ(reader->read_rows(got.data() + first * row, 2), 2);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(reader->map_rows(2).data(), nullptr);  // past the last row
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MapsRowsAsStored,
    testing::Values(
        MapCase{"Greymap", "P5\n# c\n1000 6\n255\n", 6000, true},
        MapCase{"GreymapWideMaxval", "P5 1000 6 65535\n", 12000, false},
        MapCase{"Pixmap", "P6 1000 6 255\n", 18000, true},
        MapCase{"PamGrey", "P7\nWIDTH 1000\nHEIGHT 6\nDEPTH 1\nMAXVAL 255\nENDHDR\n", 6000, true},
        MapCase{"PamWithAlpha",
                "P7\nWIDTH 1000\nHEIGHT 6\nDEPTH 2\nMAXVAL 255\n"
                "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n",
                12000, false},
        MapCase{"Pam16", "P7\nWIDTH 1000\nHEIGHT 6\nDEPTH 1\nMAXVAL 65535\nENDHDR\n", 12000, false},
        MapCase{"Bitmap", "P4 1000 6\n", 750, false}, MapCase{"Npy", npy("|u1"), 6000, true},
        MapCase{"NpyLittleEndian", npy("<u2"), 12000, true},
        MapCase{"NpyBigEndian", npy(">u2"), 12000, false},
        MapCase{"NpyFortranOrder", npy("|u1", true), 6000, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MappedRowsTest, FileCutShortUnderTheMappingIsTruncated) {
    const std::string header = "P5 8192 4 255\n";
    const std::string file = write_file("in", image(header, 4 * 8192));
    const std::unique_ptr<RasterReader> reader = open_raster(file.c_str());
    const MappedRows mapped = reader->map_rows(4);
    ASSERT_NE(mapped.data(), nullptr);
    std::filesystem::resize_file(file, header.size() + 8192);
    unsigned sum = 0;
    for (std::size_t i = 0; i < 4 * 8192; ++i)
        sum += static_cast<const volatile uint8_t*>(mapped.data())[i];
    EXPECT_GT(sum, 0u);
    try {
        mapped.check_intact();
        FAIL() << "no error";
    } catch (const ImageError& e) {
        EXPECT_EQ(e.kind(), ImageError::Kind::kTruncated);
        EXPECT_STREQ(e.what(), "Input file is truncated.");
    }
}

TEST_F(MappedRowsTest, FileCutShortBeforeMappingIsReadAndTruncated) {
    const std::string header = "P5 8192 4 255\n";
    const std::string file = write_file("in", image(header, 4 * 8192));
    const std::unique_ptr<RasterReader> reader = open_raster(file.c_str());
    std::filesystem::resize_file(file, header.size() + 8192);
    EXPECT_EQ(reader->map_rows(4).data(), nullptr);
    std::vector<uint8_t> rows(4 * 8192);
    EXPECT_THROW(reader->read_rows(rows.data(), 4), ImageError);
}

}  // namespace
