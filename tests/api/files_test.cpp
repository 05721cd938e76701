// Image files through the public API: label images written in each format
// read back exactly, bitmaps read as a byte a pixel, and failures as errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runlabel/runlabel.h"

namespace {

namespace fs = std::filesystem;

class Scratch {
  public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "runlabel-api-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        dir_ = pattern;
    }
    ~Scratch() { fs::remove_all(dir_); }
    std::string operator/(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir() const { return dir_; }

  private:
    fs::path dir_;
};

template <typename Label>
std::vector<Label> labels_upto(Label largest, int count) {
    std::vector<Label> labels(count);
    for (int i = 0; i < count; ++i)
        labels[i] = static_cast<Label>((uint64_t(i) * 7919) % (uint64_t(largest) + 1));
    labels.back() = largest;
    return labels;
}

template <typename Label>
void expect_round_trip(const std::string& path, Label largest, runlabel::PixelType type) {
    const int width = 37, height = 11;
    const std::vector<Label> labels = labels_upto(largest, width * height);
    runlabel::write_labels(path,
                           runlabel::label_view(const_cast<Label*>(labels.data()), width, height));
    const runlabel::Image image = runlabel::read_image(path);
    ASSERT_EQ(image.width, width) << path;
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.channels, 1);
    ASSERT_EQ(image.type, type);
    ASSERT_EQ(image.data.size(), labels.size() * sizeof(Label));
    EXPECT_EQ(std::memcmp(image.data.data(), labels.data(), image.data.size()), 0) << path;
}

TEST(Files, LabelImagesReadBackExactly) {
    Scratch scratch;
    expect_round_trip<uint8_t>(scratch / "a.pgm", 255, runlabel::PixelType::u8);
    expect_round_trip<uint8_t>(scratch / "a.png", 200, runlabel::PixelType::u8);
    expect_round_trip<uint16_t>(scratch / "b.png", 65535, runlabel::PixelType::u16);
    expect_round_trip<uint16_t>(scratch / "c.pam", 70, runlabel::PixelType::u16);
    expect_round_trip<uint32_t>(scratch / "d.tif", 70000, runlabel::PixelType::u32);
    expect_round_trip<uint64_t>(scratch / "e.tiff", uint64_t(1) << 40, runlabel::PixelType::u64);
}

// A greymap's maxval tells its readers how wide a sample is: 255 for one
// byte, 65535 for two, most significant first. 16-bit labels were refused.
TEST(Files, GreymapsOfEightAndSixteenBitLabels) {
    Scratch scratch;
    std::vector<uint8_t> narrow = {0, 1, 255};
    std::vector<uint16_t> wide = {0, 256, 65535};
    runlabel::write_labels(scratch / "n.pgm", runlabel::label_view(narrow.data(), 3, 1));
    runlabel::write_labels(scratch / "w.pgm", runlabel::label_view(wide.data(), 3, 1));
    auto bytes = [](const std::string& path) {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        std::string text(64, '\0');
        text.resize(in ? std::fread(text.data(), 1, text.size(), in) : 0);
        if (in) std::fclose(in);
        return text;
    };
    EXPECT_EQ(bytes(scratch / "n.pgm"),
              "P5\n# " + scratch / "n.pgm" + "\n3 1\n255\n" + std::string("\0\1\xff", 3));
    EXPECT_EQ(bytes(scratch / "w.pgm"),
              "P5\n# " + scratch / "w.pgm" + "\n3 1\n65535\n" + std::string("\0\0\1\0\xff\xff", 6));
}

TEST(Files, BitmapsComeAsAByteAPixel) {
    Scratch scratch;
    const std::string path = scratch / "mask.pbm";
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::fputs("P4\n10 2\n", out);
        const unsigned char bits[] = {0xA0, 0x40, 0x01, 0xC0};  // rows padded to 2 bytes
        std::fwrite(bits, 1, sizeof bits, out);
        std::fclose(out);
    }
    const runlabel::Image image = runlabel::read_image(path);
    EXPECT_EQ(image.type, runlabel::PixelType::boolean);
    const std::vector<unsigned char> expected = {1, 0, 1, 0, 0, 0, 0, 0, 0, 1,
                                                 0, 0, 0, 0, 0, 0, 0, 1, 1, 1};
    EXPECT_EQ(image.data, expected);
}

TEST(Files, FailuresAreErrorsAndLeaveNothing) {
    Scratch scratch;
    int code = 0;
    auto message = [&code](auto&& call) -> std::string {
        code = 0;
        try {
            call();
        } catch (const runlabel::file_error& e) {
            code = e.code();
            return e.what();
        } catch (const runlabel::error& e) {
            return e.what();
        }
        return "(no error)";
    };
    const std::string absent = scratch / "absent.png";
    EXPECT_EQ(message([&] { runlabel::read_image(absent); }),
              absent + ": No such file or directory");
    EXPECT_EQ(code, ENOENT);
    std::vector<uint16_t> wide(12, 300);
    std::vector<uint32_t> wider(12, 70000);
    EXPECT_EQ(message([&] {
                  runlabel::write_labels(scratch / "w.pgm",
                                         runlabel::label_view(wider.data(), 4, 3));
              }),
              "A greymap holds 8- or 16-bit labels; write these to .tif or .npy.");
    EXPECT_EQ(
        message([&] {
            runlabel::write_labels(scratch / "x.JPG", runlabel::label_view(wide.data(), 4, 3));
        }),
        scratch / "x.JPG" + ": .JPG is not written; name it .png, .tif, .tiff, .npy, .pam or .pgm");
    EXPECT_EQ(message([&] {
                  runlabel::write_labels(scratch / "no/such/dir/x.tif",
                                         runlabel::label_view(wide.data(), 4, 3));
              }),
              scratch / "no/such/dir/x.tif" + std::string(": No such file or directory"));
    EXPECT_EQ(code, ENOENT);
    EXPECT_TRUE(fs::is_empty(scratch.dir()));
}

}  // namespace
