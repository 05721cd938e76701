// Pixmaps share the greymap header code, so only what differs is checked here:
// plane order, their own messages, and the 16-bit dump's byte order.
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "file_fixture.h"
#include "imagefiles/imagefiles.h"
#include "support/support.h"

namespace {

using Pixmap = TempDirTest;

TEST_F(Pixmap, SplitsSamplesIntoPlanesAndJoinsThemBack) {
    std::string raster = "\x0a\x14\x1e\x1a\x0a\xff";
    std::string in = write_file("in.ppm", "P6\n# c\n2 1\n255\n" + raster);
    ColorImage* image = read_ppm(in.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_STREQ(image->magic, "P6");
    EXPECT_EQ(image->red[0][0], 10);
    EXPECT_EQ(image->green[0][0], 20);
    EXPECT_EQ(image->blue[0][0], 30);
    EXPECT_EQ(image->red[0][1], 26);
    std::string out = path("out.ppm");
    EXPECT_EQ(write_ppm(out.c_str(), image), 1);
    EXPECT_EQ(read_file(out), "P6\n# " + out + "\n2 1\n255\n" + raster);
    free_ppm(image);
}

TEST_F(Pixmap, RefusesWithItsOwnMessages) {
    const std::pair<std::string, std::string> cases[] = {
        {"P5\n1 1\n255\na", "Input file is not a PPM raw image.\n"},
        {"P6\n1 x\n255\nabc", "Input file has an invalid PPM header.\n"},
        {"P6\n2 1\n255\nabcde", "Input file is truncated.\n"},
    };
    for (const auto& [bytes, message] : cases) {
        std::string in = write_file("in.ppm", bytes);
        testing::internal::CaptureStderr();
        EXPECT_EQ(read_ppm(in.c_str()), nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    }
}

TEST_F(Pixmap, DiskFullIsAFatalWriteFailure) {
    std::string in = write_file("in.ppm", "P6\n1 1\n255\nabc");
    ColorImage* image = read_ppm(in.c_str());
    EXPECT_EXIT(write_ppm("/dev/full", image), testing::ExitedWithCode(1),
                "\nOutput file write failed\n");
    free_ppm(image);
}

using RawDump = TempDirTest;

TEST_F(RawDump, WritesLowByteFirstRowByRow) {
    int16_t** m = alloc_short_matrix(2, 3);
    const int16_t values[] = {0x0102, -2, 3, 4, 0x7fff, -32768};
    std::memcpy(m[0], values, sizeof values);
    std::string out = path("m.raw");
    EXPECT_EQ(write_raw_matrix16(out.c_str(), m, 2, 3), 0);
    EXPECT_EQ(read_file(out), std::string("\x02\x01\xfe\xff\x03\x00\x04\x00\xff\x7f\x00\x80", 12));
    EXPECT_EQ(write_raw_matrix16(out.c_str(), m, 2, 0), 0);
    EXPECT_EQ(read_file(out), "");
    EXPECT_NE(write_raw_matrix16("/dev/full", m, 2, 3), 0);
    EXPECT_EXIT(write_raw_matrix16(path("no/m.raw").c_str(), m, 2, 3), testing::ExitedWithCode(1),
                "\nOutput file open failed\n");
    free_short_matrix(m, 2, 3);
}

TEST_F(RawDump, FollowsTheRowPointers) {
    const int16_t values[2][3] = {{0x0102, 0x0304, 0x0506}, {-1, 0x0708, 0x090a}};
    const std::string row0("\x02\x01\x04\x03\x06\x05", 6);
    const std::string row1("\xff\xff\x08\x07\x0a\x09", 6);
    std::string out = path("m.raw");

    // Rows in blocks of their own, far apart.
    std::vector<int16_t> first(values[0], values[0] + 3);
    std::vector<int16_t> gap(4096);
    std::vector<int16_t> second(values[1], values[1] + 3);
    int16_t* separate[] = {first.data(), second.data()};
    EXPECT_EQ(write_raw_matrix16(out.c_str(), separate, 2, 3), 0);
    EXPECT_EQ(read_file(out), row0 + row1);

    // One block, row pointers swapped: a vertical flip.
    int16_t** m = alloc_short_matrix(2, 3);
    std::memcpy(m[0], values, sizeof values);
    std::swap(m[0], m[1]);
    EXPECT_EQ(write_raw_matrix16(out.c_str(), m, 2, 3), 0);
    EXPECT_EQ(read_file(out), row1 + row0);
    std::swap(m[0], m[1]);  // row 0 owns the block again
    free_short_matrix(m, 2, 3);
}

TEST_F(RawDump, FailedWriteKeepsTheOldFile) {
    int16_t** m = alloc_short_matrix(100, 100);
    std::string out = write_file("m.raw", "old contents");
    EXPECT_EXIT(
        {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = 4096;
            setrlimit(RLIMIT_FSIZE, &limit);
            std::_Exit(write_raw_matrix16(out.c_str(), m, 100, 100) != 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(out), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
    free_short_matrix(m, 100, 100);
}

}  // namespace
