// NumPy's .npy, format version 1.0: the magic, a little-endian header length,
// a Python dict literal padded with blanks to a 64-byte boundary, then the
// samples in C order, little-endian, unsigned.
#include <bit>
#include <string>
#include <string_view>
#include <vector>

#include "imagefiles/formats.h"
#include "imagefiles/samples.h"

namespace {

class NpyWriter : public HeaderedWriter {
  public:
    NpyWriter(std::FILE* out, const RasterLayout& layout, std::string header)
        : HeaderedWriter(out, layout.height, std::move(header)), layout_(layout) {}

    void write_rows(const uint8_t* rows, int64_t n) override {
        begin_rows(n);
        const int size = sample_bytes(layout_.sample);
        const std::size_t bytes =
            std::size_t(n) * row_bytes(layout_.sample, layout_.channels, layout_.width);
        if (size == 1 || std::endian::native == std::endian::little) {
            put(rows, bytes);
            return;
        }
        scratch_.assign(rows, rows + bytes);
        swap_sample_bytes(scratch_.data(), size, bytes / size);
        put(scratch_.data(), bytes);
    }

  private:
    RasterLayout layout_;
    std::vector<uint8_t> scratch_;
};

std::string npy_header(const RasterLayout& layout) {
    std::string shape = std::to_string(layout.height) + ", " + std::to_string(layout.width);
    if (layout.channels != 1) shape += ", " + std::to_string(layout.channels);
    std::string dict = "{'descr': '<u" + std::to_string(sample_bytes(layout.sample)) +
                       "', 'fortran_order': False, 'shape': (" + shape + "), }";
    // Magic (6), version (2) and length (2) come first; the dict ends in a
    // newline, and the whole header fills a multiple of 64 bytes.
    const std::size_t unpadded = 10 + dict.size() + 1;
    dict.append((64 - unpadded % 64) % 64, ' ');
    dict += '\n';
    std::string header("\x93NUMPY\x01\x00", 8);
    header += char(dict.size() & 0xff);
    header += char(dict.size() >> 8);
    return header + dict;
}

std::unique_ptr<RasterWriter> make_npy_writer(std::FILE* out, bool, const RasterLayout& layout) {
    if (layout.sample == SampleType::kBit)
        throw ImageError(ImageError::Kind::kUnsupported, "NPY output holds 8 to 64-bit samples.");
    if (layout.width < 0 || layout.height < 0 || layout.channels < 1)
        throw ImageError(ImageError::Kind::kUnsupported, "Output size is negative.");
    return std::make_unique<NpyWriter>(out, layout, npy_header(layout));
}

constexpr std::string_view kSuffixes[] = {".npy"};

}  // namespace

extern const OutputFormat kNpyOutput = {
    .name = "NPY",
    .called = nullptr,
    .suffixes = kSuffixes,
    .about = "NumPy",
    .labels = true,
    .colour = true,
    .otherwise = false,
    .label_bits = kLabelsTo64,
    .maxval = Maxval::kNone,
    .make_writer = make_npy_writer,
};
