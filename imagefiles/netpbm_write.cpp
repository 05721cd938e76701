// Netpbm writers and their rows of the output format table: the greymap and
// pixmap (the one-comment header; one byte per sample, or two most
// significant first under a maxval above 255) and PAM (one or two bytes per
// sample by MAXVAL, most significant first). Rows go out as they come, in one
// block each call when no conversion is needed.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "imagefiles/formats.h"
#include "imagefiles/netpbm_header.h"

namespace {

using Kind = ImageError::Kind;

[[noreturn]] void unsupported(const std::string& message) {
    throw ImageError(Kind::kUnsupported, message);
}

// Two-byte samples go out most significant byte first, as Netpbm has them
// whenever maxval is above 255.
class NetpbmWriter : public HeaderedWriter {
  public:
    NetpbmWriter(std::FILE* out, const RasterLayout& layout, std::string header)
        : HeaderedWriter(out, layout.height, std::move(header)),
          row_(row_bytes(layout.sample, layout.channels, layout.width)),
          swap_(layout.sample == SampleType::kU16 && std::endian::native == std::endian::little) {}

    void write_rows(const uint8_t* rows, int64_t n) override {
        begin_rows(n);
        if (!swap_) {
            put(rows, std::size_t(n) * row_);
            return;
        }
        scratch_.resize(row_);
        for (int64_t r = 0; r < n; ++r) {
            const uint8_t* row = rows + std::size_t(r) * row_;
            for (std::size_t i = 0; i + 1 < row_; i += 2) {
                scratch_[i] = row[i + 1];
                scratch_[i + 1] = row[i];
            }
            put(scratch_.data(), scratch_.size());
        }
    }

  private:
    std::size_t row_;
    bool swap_;
    std::vector<uint8_t> scratch_;
};

// PAM with two-byte samples: most significant byte first, and a MAXVAL of 255
// or less means one byte per sample whatever the rows hold.
class PamWriter : public HeaderedWriter {
  public:
    PamWriter(std::FILE* out, const RasterLayout& layout, std::string header)
        : HeaderedWriter(out, layout.height, std::move(header)), layout_(layout) {}

    void write_rows(const uint8_t* rows, int64_t n) override {
        begin_rows(n);
        const std::size_t in_row = row_bytes(layout_.sample, layout_.channels, layout_.width);
        const std::size_t samples = std::size_t(layout_.width) * std::size_t(layout_.channels);
        const bool narrow = layout_.maxval <= 255;
        if (layout_.sample == SampleType::kU8 ||
            (!narrow && std::endian::native == std::endian::big)) {
            const std::size_t bytes = std::size_t(n) * in_row;
            put(rows, bytes);
            return;
        }
        scratch_.resize(samples * (narrow ? 1 : 2));
        for (int64_t r = 0; r < n; ++r) {
            const uint8_t* row = rows + std::size_t(r) * in_row;
            for (std::size_t i = 0; i < samples; ++i) {
                uint16_t v;
                std::memcpy(&v, row + 2 * i, 2);
                if (narrow) {
                    scratch_[i] = uint8_t(v);
                } else {
                    scratch_[2 * i] = uint8_t(v >> 8);
                    scratch_[2 * i + 1] = uint8_t(v);
                }
            }
            put(scratch_.data(), scratch_.size());
        }
    }

  private:
    RasterLayout layout_;
    std::vector<uint8_t> scratch_;
};

// The header as write_netpbm_header writes it, into memory.
std::string netpbm_header_text(const char* magic, const RasterLayout& layout) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&text, &size);
    if (memory == nullptr) throw std::bad_alloc();
    const bool ok = write_netpbm_header(memory, magic, layout.comment.c_str(), layout.width,
                                        layout.height, layout.maxval);
    std::fclose(memory);
    std::string header(text, size);
    std::free(text);
    if (!ok) throw std::bad_alloc();
    return header;
}

}  // namespace

// errno is the failed write's own where the C library set it.
void throw_write_failed() { throw ImageError(Kind::kOutput, kWriteFailed, errno); }

std::unique_ptr<RasterWriter> make_netpbm_writer(std::FILE* out, const char* magic,
                                                 const RasterLayout& layout) {
    const bool pixmap = layout.channels == 3;
    const char* name = pixmap ? "A pixmap" : "A greymap";
    if (layout.channels != 1 && layout.channels != 3) unsupported("A greymap holds one channel.");
    // One byte a sample whatever maxval says (the classic greymap carries a
    // maxval it does not hold), two only where maxval says so.
    if (layout.sample == SampleType::kU16 && (layout.maxval < 256 || layout.maxval > 65535))
        unsupported(std::string(name) + " of 16-bit samples needs a maxval of 256 to 65535.");
    if (layout.sample != SampleType::kU8 && layout.sample != SampleType::kU16)
        unsupported(std::string(name) +
                    " holds at most 16-bit samples; name the output .tif or .npy.");
    // Our own readers, and most others, read no size beyond an int.
    if (layout.width > INT_MAX || layout.height > INT_MAX)
        unsupported(std::string(name) + " holds at most 2147483647 rows and columns; name the " +
                    "output .tif or .npy.");
    if (layout.width < 0 || layout.height < 0) unsupported("Output size is negative.");
    return std::make_unique<NetpbmWriter>(out, layout, netpbm_header_text(magic, layout));
}

namespace {

std::unique_ptr<RasterWriter> make_pam_writer(std::FILE* out, bool, const RasterLayout& layout) {
    if (layout.channels != 1 && layout.channels != 3)
        unsupported("PAM output holds one channel or three.");
    if (layout.sample != SampleType::kU8 && layout.sample != SampleType::kU16)
        unsupported("PAM holds at most 16-bit samples; name the output .tif or .npy.");
    if (layout.width > INT_MAX || layout.height > INT_MAX)
        unsupported("PAM holds at most 2147483647 rows and columns; name the output .tif or .npy.");
    if (layout.width < 0 || layout.height < 0) unsupported("Output size is negative.");
    const int32_t widest = layout.sample == SampleType::kU8 ? 255 : 65535;
    if (layout.maxval < 1 || layout.maxval > widest)
        unsupported("PAM MAXVAL " + std::to_string(layout.maxval) + " does not fit the samples.");
    const std::string header =
        "P7\nWIDTH " + std::to_string(layout.width) + "\nHEIGHT " + std::to_string(layout.height) +
        "\nDEPTH " + std::to_string(layout.channels) + "\nMAXVAL " + std::to_string(layout.maxval) +
        "\nTUPLTYPE " + (layout.channels == 3 ? "RGB" : "GRAYSCALE") + "\nENDHDR\n";
    return std::make_unique<PamWriter>(out, layout, header);
}

std::unique_ptr<RasterWriter> make_greymap_writer(std::FILE* out, bool,
                                                  const RasterLayout& layout) {
    if (layout.channels == 3)
        unsupported("A greymap holds one channel; name the output .ppm, .png or .tif.");
    return make_netpbm_writer(out, "P5", layout);
}

std::unique_ptr<RasterWriter> make_pixmap_writer(std::FILE* out, bool, const RasterLayout& layout) {
    if (layout.channels != 3)
        unsupported("A pixmap holds three channels; name the output .pgm or .pam.");
    return make_netpbm_writer(out, "P6", layout);
}

constexpr std::string_view kPamSuffixes[] = {".pam"};
constexpr std::string_view kGreymapSuffixes[] = {".pgm"};
constexpr std::string_view kPixmapSuffixes[] = {".ppm"};

}  // namespace

extern const OutputFormat kPamOutput = {
    .name = "PAM",
    .called = nullptr,
    .suffixes = kPamSuffixes,
    .about = nullptr,
    .labels = true,
    .colour = true,
    .otherwise = false,
    .label_bits = kLabelsTo16,
    .maxval = Maxval::kLargestLabel,
    .make_writer = make_pam_writer,
};

extern const OutputFormat kPgmOutput = {
    .name = "PGM",
    .called = "greymap",
    .suffixes = kGreymapSuffixes,
    .about = nullptr,
    .labels = true,
    .colour = false,
    .otherwise = true,
    .label_bits = kLabelsTo16,
    .maxval = Maxval::kSampleWidth,
    .make_writer = make_greymap_writer,
};

// A pixmap holds no labels: a label image named .ppm is a greymap.
extern const OutputFormat kPpmOutput = {
    .name = "PPM",
    .called = "pixmap",
    .suffixes = kPixmapSuffixes,
    .about = nullptr,
    .labels = false,
    .colour = true,
    .otherwise = true,
    .label_bits = 0,
    .maxval = Maxval::kNone,
    .make_writer = make_pixmap_writer,
};
