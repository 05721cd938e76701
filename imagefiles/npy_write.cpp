// NumPy's .npy, format version 1.0: the magic, a little-endian header length,
// a Python dict literal padded with blanks to a 64-byte boundary, then the
// samples in C order, little-endian, unsigned.
#include <bit>
#include <string>
#include <vector>

#include "imagefiles/formats.h"
#include "imagefiles/samples.h"

namespace {

class NpyWriter : public HeaderedWriter {
  public:
    NpyWriter(std::FILE* out, const RasterSpec& spec, std::string header)
        : HeaderedWriter(out, spec.height, std::move(header)), spec_(spec) {}

    void write_rows(const uint8_t* rows, int64_t n) override {
        begin_rows(n);
        const int size = sample_bytes(spec_.sample);
        const std::size_t bytes =
            std::size_t(n) * row_bytes(spec_.sample, spec_.channels, spec_.width);
        if (size == 1 || std::endian::native == std::endian::little) {
            put(rows, bytes);
            return;
        }
        scratch_.assign(rows, rows + bytes);
        swap_sample_bytes(scratch_.data(), size, bytes / size);
        put(scratch_.data(), bytes);
    }

  private:
    RasterSpec spec_;
    std::vector<uint8_t> scratch_;
};

std::string npy_header(const RasterSpec& spec) {
    std::string shape = std::to_string(spec.height) + ", " + std::to_string(spec.width);
    if (spec.channels != 1) shape += ", " + std::to_string(spec.channels);
    std::string dict = "{'descr': '<u" + std::to_string(sample_bytes(spec.sample)) +
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

}  // namespace

std::unique_ptr<RasterWriter> make_npy_writer(std::FILE* out, const RasterSpec& spec) {
    if (spec.sample == SampleType::kBit)
        throw ImageError(ImageError::Kind::kUnsupported, "NPY output holds 8 to 64-bit samples.");
    if (spec.width < 0 || spec.height < 0 || spec.channels < 1)
        throw ImageError(ImageError::Kind::kUnsupported, "Output size is negative.");
    return std::make_unique<NpyWriter>(out, spec, npy_header(spec));
}
