// Image files through the public API: label images written in each format
// read back exactly, bitmaps read as a byte a pixel, and failures as errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runlabel/runlabel.h"
#include "tests/reference/crafted_headers.h"
#include "tests/support/sanitized.h"

namespace {

using runlabel_test::png_header;
using runlabel_test::tiff_header;

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
    expect_round_trip<uint8_t>(scratch / "f.npy", 255, runlabel::PixelType::u8);
    expect_round_trip<uint16_t>(scratch / "g.npy", 65535, runlabel::PixelType::u16);
    expect_round_trip<uint32_t>(scratch / "h.npy", 70000, runlabel::PixelType::u32);
    expect_round_trip<uint64_t>(scratch / "i.npy", ~uint64_t(0) - 1, runlabel::PixelType::u64);
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

TEST(Files, AlphaComesAsStored) {
    Scratch scratch;
    const std::string path = scratch / "rgba.pam";
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::fputs("P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", out);
        const unsigned char samples[] = {1, 2, 3, 255, 0, 0, 0, 7};
        std::fwrite(samples, 1, sizeof samples, out);
        std::fclose(out);
    }
    const runlabel::Image image = runlabel::read_image(path);
    EXPECT_EQ(image.channels, 4);
    EXPECT_EQ(image.type, runlabel::PixelType::u8);
    EXPECT_EQ(image.data, (std::vector<unsigned char>{1, 2, 3, 255, 0, 0, 0, 7}));
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
    // A pixmap's name is a pixmap, which holds no labels of any width.
    for (const runlabel::LabelView& labels :
         {runlabel::label_view(wide.data(), 4, 3), runlabel::label_view(wider.data(), 4, 3)}) {
        EXPECT_EQ(message([&] { runlabel::write_labels(scratch / "p.PPM", labels); }),
                  "A pixmap holds three channels; name the output .pgm or .pam.");
    }
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

// Headers claiming far more than their files hold, each as a file and on
// standard input (where its length is unknown): read_image fails within a
// second and 100 MB, taking memory only for rows that arrive.
struct Crafted {
    const char* name;
    std::string bytes;
    std::string from_file;   // the message read by name
    std::string from_stdin;  // the message read as "-"
};

void PrintTo(const Crafted& c, std::ostream* os) { *os << c.name; }

const std::string kWide = "Input file is wider than 2147483645 pixels, more than can be labelled.";

const Crafted kCrafted[] = {
    {"PamOf2To64Bytes", "P7\nWIDTH 1073741824\nHEIGHT 1073741824\nDEPTH 16\nMAXVAL 255\nENDHDR\n",
     "Input file is truncated.", "Input file is larger than memory can hold."},
    {"GreymapOf40000Squared", "P5\n40000 40000\n255\n", "Input file is truncated.",
     "Input file is truncated."},
    {"PngOf100000Squared", png_header(100000, 100000, 0), "Input file is truncated.",
     "Input file is truncated."},
    {"PngTooWide", png_header(0x7fffffff, 1, 0), kWide, kWide},
    {"InterlacedPngOf100000Squared", png_header(100000, 100000, 1),
     "Input file is not a supported PNG image: interlaced, and larger than the 2 GiB an "
     "interlaced image may take decoded whole.",
     "Input file is not a supported PNG image: interlaced, and larger than the 2 GiB an "
     "interlaced image may take decoded whole."},
    {"TiffOf2To28SixtyFourBitSamples", tiff_header(1u << 28, 1, 64), "Input file is truncated.",
     "Input file is truncated."},
};

// Runs read_image in a child limited to 100 MB more than it has mapped, and
// returns its message ("bad_alloc" when memory ran out first).
std::string read_image_limited(const std::string& path, const std::string& stdin_file) {
    int fds[2];
    if (pipe(fds) != 0) return "(no pipe)";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (!stdin_file.empty()) dup2(open(stdin_file.c_str(), O_RDONLY), 0);
        if (!kSanitized) {
            // The address space mapped now, from /proc/self/statm's first field.
            long pages = 0;
            if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
                std::fclose(statm);
            }
            const rlim_t bytes =
                rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(100) << 20);
            const rlimit limit{bytes, bytes};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::string message = "(no error)";
        try {
            runlabel::read_image(path);
        } catch (const runlabel::error& e) {
            message = e.what();
        } catch (const std::bad_alloc&) {
            message = "bad_alloc";
        }
        if (write(fds[1], message.data(), message.size()) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string message;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return "(killed by signal " + std::to_string(WTERMSIG(status)) + ")";
    return message;
}

class CraftedHeader : public testing::TestWithParam<Crafted> {};

TEST_P(CraftedHeader, FailsFastInLittleMemory) {
    const Crafted& c = GetParam();
    Scratch scratch;
    const std::string path = scratch / "crafted";
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(c.bytes.data(), 1, c.bytes.size(), out);
        std::fclose(out);
    }
    for (const bool on_stdin : {false, true}) {
        SCOPED_TRACE(on_stdin ? "standard input" : "by name");
        const auto start = std::chrono::steady_clock::now();
        const std::string message =
            on_stdin ? read_image_limited("-", path) : read_image_limited(path, "");
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(message, on_stdin ? c.from_stdin : c.from_file);
        EXPECT_LT(took.count(), 2.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CraftedHeader, testing::ValuesIn(kCrafted),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
