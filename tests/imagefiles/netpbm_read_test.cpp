// Netpbm samples as the readers deliver them: above maxval 255 two bytes a
// sample, most significant first in the file, in the machine's order in the
// rows; the classic greymap read keeps one byte a sample whatever maxval.
#include <cstring>
#include <vector>

#include "file_fixture.h"
#include "imagefiles/raster.h"

namespace {

std::string operator""_b(const char* text, std::size_t size) { return std::string(text, size); }

// Samples in the machine's byte order, as a row buffer holds them.
std::string native16(std::initializer_list<uint16_t> samples) {
    std::string bytes;
    for (uint16_t s : samples) bytes.append(reinterpret_cast<const char*>(&s), 2);
    return bytes;
}

struct SampleCase {
    const char* name;
    std::string file;
    bool classic_greymap;
    SampleType sample;
    int64_t maxval;
    std::string samples;  // every row, as delivered
};

void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.name; }

class NetpbmSamples : public TempDirTest, public testing::WithParamInterface<SampleCase> {};

TEST_P(NetpbmSamples, AreDeliveredAsNetpbmDefinesThem) {
    const SampleCase& c = GetParam();
    const std::string file = write_file("in", c.file);
    ReadOptions options;
    options.classic_greymap = c.classic_greymap;
    auto reader = open_raster(file.c_str(), options);
    EXPECT_EQ(reader->info().sample, c.sample);
    EXPECT_EQ(reader->info().maxval, c.maxval);
    std::vector<uint8_t> rows(c.samples.size() + 1);
    const int64_t height = reader->info().height;
    ASSERT_EQ(reader->read_rows(rows.data(), height + 1), height);
    EXPECT_EQ(std::string(rows.begin(), rows.end() - 1), c.samples);
}

const SampleCase kSamples[] = {
    {"RawGreymap16", "P5\n3 1\n65535\n\x01\x02\x00\x00\xff\xfe"_b, false, SampleType::kU16, 65535,
     native16({0x0102, 0, 0xfffe})},
    {"RawGreymap16Classic", "P5\n3 1\n65535\n\x01\x02\x00\x00\xff\xfe"_b, true, SampleType::kU8,
     65535, "\x01\x02\x00"_b},
    {"RawGreymap256", "P5\n2 2\n256\n\x00\x01\x01\x00\x00\x00\x00\xff"_b, false, SampleType::kU16,
     256, native16({1, 256, 0, 255})},
    {"RawGreymap255", "P5\n2 1\n255\n\x07\x00"_b, false, SampleType::kU8, 255, "\x07\x00"_b},
    {"PlainGreymap1000", "P2\n2 1\n1000\n999 3\n", false, SampleType::kU16, 1000,
     native16({999, 3})},
    {"PlainGreymap1000Classic", "P2\n2 1\n1000\n999 3\n", true, SampleType::kU16, 1000,
     native16({999, 3})},
    // The classic read is a greymap's: a pixmap is two bytes a sample either way.
    {"RawPixmap16", "P6\n1 1\n4095\n\x0f\xff\x00\x01\x08\x00"_b, false, SampleType::kU16, 4095,
     native16({4095, 1, 2048})},
    {"RawPixmap16Classic", "P6\n1 1\n4095\n\x0f\xff\x00\x01\x08\x00"_b, true, SampleType::kU16,
     4095, native16({4095, 1, 2048})},
    {"Pam16", "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 65535\nENDHDR\n\x12\x34\x00\x80"_b, true,
     SampleType::kU16, 65535, native16({0x1234, 0x80})},
};
INSTANTIATE_TEST_SUITE_P(Variants, NetpbmSamples, testing::ValuesIn(kSamples),
                         [](const auto& info) { return std::string(info.param.name); });

// The classic door reads a P5 one byte a sample, as the classic command does.
TEST_F(TempDirTest, GreymapDoorKeepsOneByteASample) {
    const std::string file = write_file("in.pgm", "P5\n2 1\n65535\n\x01\x02\x03\x04"_b);
    auto reader = open_greymap_raster(file.c_str());
    EXPECT_EQ(reader->info().sample, SampleType::kU8);
    EXPECT_EQ(reader->info().width, 2);
    uint8_t row[2] = {};
    ASSERT_EQ(reader->read_rows(row, 1), 1);
    EXPECT_EQ(row[0], 1);
    EXPECT_EQ(row[1], 2);
}

// A mapping hands out the file's bytes: rows stored most significant first
// must be read (and turned), never mapped.
TEST_F(TempDirTest, SixteenBitRowsAreReadNotMapped) {
    std::string raster;
    for (int i = 0; i < 4096; ++i) raster += "\x01\x00"_b;
    const std::string file = write_file("in.pgm", "P5\n4096 1\n65535\n" + raster);
    auto reader = open_raster(file.c_str());
    EXPECT_EQ(reader->map_rows(1).data(), nullptr);
    std::vector<uint16_t> row(4096);
    ASSERT_EQ(reader->read_rows(reinterpret_cast<uint8_t*>(row.data()), 1), 1);
    EXPECT_EQ(row.front(), 256);
    EXPECT_EQ(row.back(), 256);
}

}  // namespace
