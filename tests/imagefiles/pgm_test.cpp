// Greymap reading and writing: every header form the Netpbm layout allows, the
// refusals with their one-line messages, and byte-exact output.
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

#include "file_fixture.h"
#include "imagefiles/imagefiles.h"
#include "support/support.h"

namespace {

struct HeaderCase {
    const char* name;
    std::string bytes;  // the whole file
    int width, height, maxval;
    std::string raster;   // expected pixels in row order, when read
    const char* message;  // expected stderr line, or nullptr when read
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

// Makes writes past max_bytes fail with an error instead of a signal.
void limit_file_size(rlim_t max_bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = max_bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

const std::string k12 = "abcdefghijkl";
const char* kNotPgm = "Input file is not a PGM raw image.\n";
const char* kInvalid = "Input file has an invalid PGM header.\n";
const char* kTruncated = "Input file is truncated.\n";

const HeaderCase kHeaders[] = {
    {"WriterForm", "P5\n# a.pgm\n4 3\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"TwoComments", "P5\n# one\n# two\n4 3\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"NoComments", "P5\n4 3\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"SizeOnMagicLine", "P5 4 3\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"AllOnOneLine", "P5 4 3 255\n" + k12, 4, 3, 255, k12, nullptr},
    {"EachOnItsOwnLine", "P5\n4\n3\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"BlankLinesAndTabs", "P5\n\n\t4  \n\n 3\r\n\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"CommentsBetweenTokens", "P5#a\n4#b\n#c\n3 # d\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"IndentedComment", "P5\n4 3\n   # late\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"CommentLongerThanLineBuffer", "P5\n#" + std::string(1000, 'x') + "\n4 3\n255\n" + k12, 4, 3,
     255, k12, nullptr},
    {"CarriageReturnIsTheEndByte", "P5\n4 3\n255\r\n" + k12.substr(1), 4, 3, 255,
     "\n" + k12.substr(1), nullptr},
    {"WhitespaceFirstPixelIsAPixel", "P5\n3 2\n255\n\t\n\v\f\r ", 3, 2, 255, "\t\n\v\f\r ",
     nullptr},
    {"MaxvalAboveAByteStillOneBytePerSample", "P5\n4 3\n1000\n" + k12, 4, 3, 1000, k12, nullptr},
    {"PlusSigns", "P5\n+4 +3\n+255\n" + k12, 4, 3, 255, k12, nullptr},
    {"ZeroWidth", "P5\n0 3\n255\n", 0, 3, 255, "", nullptr},
    {"ZeroHeight", "P5\n4 0\n255\n", 4, 0, 255, "", nullptr},
    {"ExtraBytesAfterRasterIgnored", "P5\n1 1\n255\nAB", 1, 1, 255, "A", nullptr},
    // The size line: text after the height is ignored to the end of the line,
    // a number there is maxval.
    {"TextAfterHeightIgnored", "P5\n4 3 junk\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"TextGluedToHeightIgnored", "P5\n4 3junk\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"TabThenTextAfterHeight", "P5\n4 3\tjunk 77\r\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"SignWithoutDigitAfterHeight", "P5\n4 3 +x\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"TextThenCommentAfterHeight", "P5\n4 3 junk # 9\n# more\n255\n" + k12, 4, 3, 255, k12,
     nullptr},
    {"CommentGluedToHeight", "P5\n4 3#c\n255\n" + k12, 4, 3, 255, k12, nullptr},
    {"MaxvalOnSizeLine", "P5\n4 3 255\n" + k12, 4, 3, 255, k12, nullptr},
    {"SignedMaxvalOnSizeLine", "P5\n4 3 +1000\n" + k12, 4, 3, 1000, k12, nullptr},
    {"MaxvalOnSizeLineAfterBlanks", "P5\n4 3 \t 7\n" + k12, 4, 3, 7, k12, nullptr},

    {"EmptyFile", "", 0, 0, 0, "", kNotPgm},
    {"Pixmap", "P6\n1 1\n255\nabc", 0, 0, 0, "", kNotPgm},
    {"PlainGreymap", "P2\n1 1\n255\n7\n", 0, 0, 0, "", kNotPgm},
    {"MagicWithTrailingJunk", "P5x\n1 1\n255\na", 0, 0, 0, "", kNotPgm},
    {"MagicLongerThanBuffer", "P5" + std::string(10000, '5'), 0, 0, 0, "", kNotPgm},
    {"MagicOnly", "P5", 0, 0, 0, "", kInvalid},
    {"MissingHeight", "P5\n4\n", 0, 0, 0, "", kInvalid},
    {"NonNumericWidth", "P5\nfour 3\n255\n" + k12, 0, 0, 0, "", kInvalid},
    {"NumberGluedToText", "P5\n4x 3\n255\n" + k12, 0, 0, 0, "", kInvalid},
    {"NegativeWidth", "P5\n-4 3\n255\n" + k12, 0, 0, 0, "", kInvalid},
    {"NegativeHeight", "P5\n4 -3\n255\n" + k12, 0, 0, 0, "", kInvalid},
    {"WidthOverflowsInt", "P5\n2147483648 1\n255\n", 0, 0, 0, "", kInvalid},
    {"HeightFarTooLarge", "P5\n1 1000000000000\n255\n", 0, 0, 0, "", kInvalid},
    {"MissingMaxval", "P5\n4 3\n", 0, 0, 0, "", kInvalid},
    {"OnlyTextAfterHeight", "P5\n4 3 junk", 0, 0, 0, "", kInvalid},
    {"MaxvalOnlyOnIgnoredText", "P5\n4 3 junk 255\n", 0, 0, 0, "", kInvalid},
    {"NegativeMaxvalOnSizeLine", "P5\n4 3 -255\n" + k12, 0, 0, 0, "", kInvalid},
    {"ZeroMaxvalOnSizeLine", "P5\n4 3 0\n" + k12, 0, 0, 0, "", kInvalid},
    {"ZeroMaxval", "P5\n4 3\n0\n" + k12, 0, 0, 0, "", kInvalid},
    {"MaxvalAboveSixteenBits", "P5\n4 3\n65536\n" + k12, 0, 0, 0, "", kInvalid},
    {"UnterminatedCommentAtEnd", "P5\n4 3\n# no end", 0, 0, 0, "", kInvalid},
    {"NulInHeader", std::string("P5\n4\0 3\n255\n", 12) + k12, 0, 0, 0, "", kInvalid},
    {"NoRaster", "P5\n4 3\n255\n", 0, 0, 0, "", kTruncated},
    {"RasterOneByteShort", "P5\n4 3\n255\n" + k12.substr(1), 0, 0, 0, "", kTruncated},
    {"HugeDeclaredRaster", "P5\n2000000000 2000000000\n255\nab", 0, 0, 0, "", kTruncated},
};

class ReadPgmHeader : public TempDirTest, public testing::WithParamInterface<HeaderCase> {};

TEST_P(ReadPgmHeader, ReadsOrRefuses) {
    const HeaderCase& c = GetParam();
    std::string file = write_file("in.pgm", c.bytes);
    testing::internal::CaptureStderr();
    GreyImage* image = read_pgm(file.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    if (c.message != nullptr) {
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(err, c.message);
        return;
    }
    ASSERT_NE(image, nullptr) << err;
    EXPECT_EQ(err, "");
    EXPECT_STREQ(image->magic, "P5");
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
    EXPECT_EQ(image->maxval, c.maxval);
    std::string pixels;
    for (int r = 0; r < image->height; ++r)
        pixels.append(reinterpret_cast<char*>(image->pixels[r]), image->width);
    EXPECT_EQ(pixels, c.raster);
    free_pgm(image);
}

INSTANTIATE_TEST_SUITE_P(Variants, ReadPgmHeader, testing::ValuesIn(kHeaders),
                         [](const auto& info) { return std::string(info.param.name); });

using WritePgm = TempDirTest;

TEST_F(WritePgm, WritesFourHeaderLinesThenTheRaster) {
    std::string in = write_file("in.pgm", "P5\n2 1\n255\n\x07\x09");
    GreyImage* image = read_pgm(in.c_str());
    ASSERT_NE(image, nullptr);
    std::string out = path("out.pgm");
    EXPECT_EQ(write_pgm(out.c_str(), image), 1);
    EXPECT_EQ(read_file(out), "P5\n# " + out + "\n2 1\n255\n\x07\x09");
    free_pgm(image);
}

TEST_F(WritePgm, RoundTripsEveryByteValue) {
    std::string raster;
    for (int v = 0; v < 256; ++v) raster += static_cast<char>(v);
    raster += "\n\x1a\n\x1a";  // 10 and 26 once more, side by side
    std::string in = write_file("in.pgm", "P5\n65 4\n1000\n" + raster);
    GreyImage* image = read_pgm(in.c_str());
    ASSERT_NE(image, nullptr);
    std::string out = path("o.pgm");
    write_pgm(out.c_str(), image);
    free_pgm(image);
    EXPECT_EQ(read_file(out), "P5\n# " + out + "\n65 4\n1000\n" + raster);
}

TEST_F(WritePgm, LineBreaksInTheNameBecomeBlanks) {
    std::string in = write_file("in.pgm", "P5\n1 1\n255\nA");
    GreyImage* image = read_pgm(in.c_str());
    std::string out = path("a\nb\rc.pgm");
    write_pgm(out.c_str(), image);
    free_pgm(image);
    EXPECT_EQ(read_file(out), "P5\n# " + path("a b c.pgm") + "\n1 1\n255\nA");
    GreyImage* back = read_pgm(out.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->pixels[0][0], 'A');
    free_pgm(back);
}

TEST_F(WritePgm, DiskFullIsAFatalWriteFailure) {
    std::string in = write_file("in.pgm", "P5\n1 1\n255\nA");
    GreyImage* image = read_pgm(in.c_str());
    EXPECT_EXIT(write_pgm("/dev/full", image), testing::ExitedWithCode(1),
                "\nOutput file write failed\n");
    free_pgm(image);
}

TEST_F(WritePgm, FailedWriteLeavesNoPartialFile) {
    std::string raster(100000, 'x');
    std::string in = write_file("in.pgm", "P5\n1000 100\n255\n" + raster);
    GreyImage* image = read_pgm(in.c_str());
    ASSERT_NE(image, nullptr);
    std::string out = path("out.pgm");
    EXPECT_EXIT(
        {
            limit_file_size(4096);
            write_pgm(out.c_str(), image);
        },
        testing::ExitedWithCode(1), "\nOutput file write failed\n");
    EXPECT_FALSE(std::filesystem::exists(out));
    free_pgm(image);
}

// A caller's matrix need not be one block in row order: rows may be blocks of
// their own, or a vertical flip may be made by swapping the row pointers.
TEST_F(WritePgm, FollowsTheRowPointers) {
    const std::string rows[] = {"abcd", "efgh", "ijkl"};
    GreyImage image{"P5", 4, 3, 255, nullptr};
    std::string out = path("out.pgm");
    const std::string header = "P5\n# " + out + "\n4 3\n255\n";

    // Rows in blocks of their own, far apart.
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint8_t*> separate;
    for (const std::string& row : rows) {
        blocks.emplace_back(row.begin(), row.end());
        blocks.emplace_back(4096, 0);  // keeps the next row away from this one
    }
    for (std::size_t i = 0; i < blocks.size(); i += 2) separate.push_back(blocks[i].data());
    image.pixels = separate.data();
    write_pgm(out.c_str(), &image);
    EXPECT_EQ(read_file(out), header + "abcdefghijkl");

    // One block, row pointers reversed.
    image.pixels = alloc_byte_matrix(3, 4);
    for (int r = 0; r < 3; ++r) std::memcpy(image.pixels[r], rows[r].data(), 4);
    std::swap(image.pixels[0], image.pixels[2]);
    write_pgm(out.c_str(), &image);
    EXPECT_EQ(read_file(out), header + "ijklefghabcd");
    std::swap(image.pixels[0], image.pixels[2]);  // row 0 owns the block again
    free_byte_matrix(image.pixels, 3, 4);
}

TEST_F(WritePgm, UnopenableOutputIsFatal) {
    std::string in = write_file("in.pgm", "P5\n1 1\n255\nA");
    GreyImage* image = read_pgm(in.c_str());
    std::string out = path("missing/out.pgm");
    EXPECT_EXIT(write_pgm(out.c_str(), image), testing::ExitedWithCode(1),
                "\nOutput file open failed\n");
    free_pgm(image);
}

TEST(ReadPgm, MissingFileIsFatal) {
    EXPECT_EXIT(read_pgm("/nonexistent/in.pgm"), testing::ExitedWithCode(1),
                "^Program encounters run-time error...\nInput file not found\n");
}

}  // namespace
