// Netpbm rasters a band of rows at a time: raw ones with block reads straight
// into the caller's rows, plain ones sample by sample. A row is delivered only
// once all its samples are in; nothing is kept between calls but one row of
// scratch for a PAM whose alpha is dropped.
#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "imagefiles/formats.h"
#include "imagefiles/samples.h"
#include "support/raster_size.h"

namespace {

using Kind = ImageError::Kind;

[[noreturn]] void throw_truncated() {
    throw ImageError(Kind::kTruncated, "Input file is truncated.");
}

class NetpbmReader : public RasterReader {
  public:
    NetpbmReader(InputStream input, const NetpbmHeader& header, bool classic, bool keep_alpha)
        : input_(std::move(input)), header_(header) {
        const char kind = header.magic;
        const int bits = netpbm_sample_bits(header, classic);
        info_.width = header.width;
        info_.height = header.height;
        info_.sample = bits == 1    ? SampleType::kBit
                       : bits == 16 ? SampleType::kU16
                                    : SampleType::kU8;
        const bool alpha = header.alpha && header.depth > 1;
        info_.channels = alpha && !keep_alpha ? header.depth - 1 : header.depth;
        info_.alpha = alpha && keep_alpha;
        info_.maxval = header.maxval;
        info_.format = netpbm_name(kind);
        info_.netpbm_magic = kind;
    }

    int64_t read_rows(uint8_t* out, int64_t max_rows) override {
        const int64_t n = std::min(max_rows, info_.height - done_);
        if (n <= 0) return 0;
        const std::size_t row = row_bytes();
        switch (header_.magic) {
            case '1':
                for (int64_t r = 0; r < n; ++r) read_plain_bits(out + r * row);
                break;
            case '2':
            case '3':
                for (int64_t r = 0; r < n; ++r) read_plain_samples(out + r * row);
                break;
            default:
                read_raw(out, n, row);
                break;
        }
        done_ += n;
        return n;
    }

    MappedRows map_rows(int64_t max_rows) override {
        const int64_t n = std::min(max_rows, info_.height - done_);
        if (n <= 0 || !rows_as_stored() || !input_.seekable()) return {};
        MappedRows rows = map_stored_rows(input_, info_, n);
        if (rows.data() != nullptr) done_ += n;
        return rows;
    }

  private:
    // Whether the file's raster bytes are the rows read_rows delivers.
    bool rows_as_stored() const {
        const char kind = header_.magic;
        return (kind == '5' || kind == '6' || (kind == '7' && info_.channels == header_.depth)) &&
               info_.sample == SampleType::kU8;
    }

    void read_raw(uint8_t* out, int64_t n, std::size_t row) {
        std::FILE* file = input_.file();
        if (header_.magic == '7' && info_.channels != header_.depth) {
            for (int64_t r = 0; r < n; ++r) read_pam_row_without_alpha(out + r * row);
            return;
        }
        const std::size_t bytes = bytes_of_rows(info_, n);
        if (bytes > 0 && std::fread(out, 1, bytes, file) != bytes) throw_truncated();
        if (header_.magic == '4') {
            for (int64_t r = 0; r < n; ++r) clear_padding_bits(out + r * row, info_.width);
        } else if (info_.sample == SampleType::kU16 && std::endian::native == std::endian::little) {
            swap_sample_bytes(out, 2, bytes / 2);
        }
    }

    // The file's row into scratch, then every sample but the last of each pixel.
    void read_pam_row_without_alpha(uint8_t* out) {
        const int size = sample_bytes(info_.sample);
        const std::size_t pixel_in = std::size_t(header_.depth) * size;
        const std::size_t pixel_out = std::size_t(info_.channels) * size;
        std::size_t stored = 0;
        if (!raster_bytes(info_.width, 1, header_.depth, 8 * size, &stored)) throw std::bad_alloc();
        scratch_.resize(stored);
        if (!scratch_.empty() &&
            std::fread(scratch_.data(), 1, scratch_.size(), input_.file()) != scratch_.size())
            throw_truncated();
        for (int64_t x = 0; x < info_.width; ++x)
            std::memcpy(out + x * pixel_out, scratch_.data() + x * pixel_in, pixel_out);
        if (size == 2 && std::endian::native == std::endian::little)
            swap_sample_bytes(out, 2, pixel_out / 2 * std::size_t(info_.width));
    }

    // Plain bitmaps: one '0' or '1' per pixel, separators optional.
    void read_plain_bits(uint8_t* out) {
        // A zero-width row may come with no buffer at all.
        if (info_.width == 0) return;
        std::memset(out, 0, row_bytes());
        for (int64_t x = 0; x < info_.width; ++x) {
            int ch = next_token_byte();
            if (ch != '0' && ch != '1') invalid_raster();
            if (ch == '1') out[x / 8] |= uint8_t(0x80 >> (x % 8));
        }
    }

    void read_plain_samples(uint8_t* out) {
        const int64_t count = info_.width * info_.channels;
        for (int64_t i = 0; i < count; ++i) {
            const int value = read_plain_value();
            if (info_.sample == SampleType::kU8) {
                out[i] = uint8_t(value);
            } else {
                const auto sample = uint16_t(value);
                std::memcpy(out + 2 * i, &sample, 2);
            }
        }
    }

    // A decimal sample no greater than maxval, after separators.
    int read_plain_value() {
        int ch = next_token_byte();
        if (ch < '0' || ch > '9') invalid_raster();
        std::FILE* file = input_.file();
        int value = 0;
        while (ch >= '0' && ch <= '9') {
            value = value * 10 + (ch - '0');
            if (value > header_.maxval) invalid_raster();
            ch = std::getc(file);
        }
        if (ch != EOF) std::ungetc(ch, file);
        return value;
    }

    // The next byte that is neither whitespace nor inside a comment.
    int next_token_byte() {
        std::FILE* file = input_.file();
        for (;;) {
            int ch = std::getc(file);
            if (ch == EOF) throw_truncated();
            if (ch == '#') {
                do ch = std::getc(file);
                while (ch != '\n' && ch != '\r' && ch != EOF);
                continue;
            }
            if (ch == ' ' || (ch >= '\t' && ch <= '\r')) continue;
            return ch;
        }
    }

    [[noreturn]] void invalid_raster() const {
        throw ImageError(Kind::kInvalid,
                         std::string("Input file has an invalid ") + info_.format + " raster.");
    }

    InputStream input_;
    NetpbmHeader header_;
    int64_t done_ = 0;
    std::vector<uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<RasterReader> make_netpbm_reader(InputStream input, const NetpbmHeader& header,
                                                 bool classic, bool keep_alpha) {
    return std::make_unique<NetpbmReader>(std::move(input), header, classic, keep_alpha);
}

std::unique_ptr<RasterReader> open_netpbm_raster(InputStream input, const ReadOptions& options) {
    std::FILE* const file = input.file();
    NetpbmHeader header{};
    switch (read_netpbm_header(file, nullptr, &header)) {
        case HeaderStatus::kWrongMagic:
            throw ImageError(Kind::kNotImage,
                             "Input file is not a PBM, PGM, PPM, PAM, PNG, TIFF or NPY image.");
        case HeaderStatus::kInvalid:
            throw ImageError(Kind::kInvalid, std::string("Input file has an invalid ") +
                                                 netpbm_name(header.magic) + " header.");
        case HeaderStatus::kOk:
            break;
    }
    // The classic greymap read is a P5's alone; a pixmap is read as Netpbm has it.
    const bool classic = options.classic_greymap && header.magic == '5';
    std::unique_ptr<RasterReader> reader =
        make_netpbm_reader(std::move(input), header, classic, options.keep_alpha);
    check_labelable(reader->info());
    if (!raster_fits_file(file, netpbm_raster_bytes(header, classic))) throw_truncated();
    return reader;
}
