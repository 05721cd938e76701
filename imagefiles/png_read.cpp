// PNG through libpng, a row at a time: grey and colour at their stored values
// (alpha stripped unless kept, palette indices kept, depths below 8 unpacked to a byte,
// 16 bits in the machine's order). An interlaced image cannot be delivered
// before its last pass, so it alone is decoded whole, its rows allocated as
// the passes reach them.
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "imagefiles/formats.h"
#include "imagefiles/samples.h"
#include "support/raster_size.h"

namespace {

using Kind = ImageError::Kind;

// An interlaced image is decoded whole before its first row is delivered.
constexpr std::size_t kMostInterlaced = std::size_t(1) << 31;

// Deflate makes at most 1032 bytes of one: a 258-byte match in two 1-bit codes.
constexpr uint64_t kMostInflation = 1032;

// Whether a regular file is long enough to hold the compressed form of
// `decoded` bytes in `rows` rows (each with its filter byte); a stream of
// unknown length always is.
bool data_can_fit(const InputStream& input, std::size_t decoded, int64_t rows) {
    struct stat status {};
    if (!input.seekable() || fstat(fileno(input.file()), &status) != 0) return true;
    const uint64_t compressed_at_least =
        uint64_t(decoded) / kMostInflation + uint64_t(rows) / kMostInflation;
    return compressed_at_least <= uint64_t(status.st_size);
}

// libpng reports through a longjmp: no C++ object with a destructor may live
// in a frame between setjmp and the libpng call that fails, so each call sits
// in a small function of its own that returns whether it succeeded.
struct Decoder {
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }

    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* file = nullptr;
    bool ran_out = false;  // the input ended inside the file
    char message[128] = {};
};

void on_error(png_structp png, png_const_charp message) {
    auto* decoder = static_cast<Decoder*>(png_get_error_ptr(png));
    std::snprintf(decoder->message, sizeof decoder->message, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep data, png_size_t size) {
    auto* decoder = static_cast<Decoder*>(png_get_io_ptr(png));
    if (std::fread(data, 1, size, decoder->file) != size) {
        decoder->ran_out = true;
        png_error(png, "input ended");
    }
}

// Reads up to the image data; false on failure.
bool read_header(Decoder* d) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    png_set_read_fn(d->png, d, read_bytes);
    // Any size PNG allows: rows are delivered as they are decoded, so size
    // alone costs no memory.
    png_set_user_limits(d->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(d->png, d->info);
    return true;
}

// Sets the transformations, which takes libpng's row buffers; false on failure.
bool start_decoding(Decoder* d, bool keep_alpha) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    const int colour = png_get_color_type(d->png, d->info);
    if ((colour & PNG_COLOR_MASK_ALPHA) && !keep_alpha) png_set_strip_alpha(d->png);
    if (png_get_bit_depth(d->png, d->info) == 16 && std::endian::native == std::endian::little)
        png_set_swap(d->png);
    if (png_get_interlace_type(d->png, d->info) != PNG_INTERLACE_NONE)
        png_set_interlace_handling(d->png);
    png_read_update_info(d->png, d->info);
    return true;
}

bool decode_row(Decoder* d, png_bytep row) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    png_read_row(d->png, row, nullptr);
    return true;
}

class PngReader : public RasterReader {
  public:
    PngReader(InputStream input, bool keep_alpha) : input_(std::move(input)) {
        decoder_.file = input_.file();
        decoder_.png =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, &decoder_, on_error, on_warning);
        if (decoder_.png == nullptr) throw std::bad_alloc();
        decoder_.info = png_create_info_struct(decoder_.png);
        if (decoder_.info == nullptr) throw std::bad_alloc();
        if (!read_header(&decoder_)) fail("Input file has an invalid PNG header.");

        png_structp png = decoder_.png;
        png_infop info = decoder_.info;
        const int colour = png_get_color_type(png, info);
        depth_ = png_get_bit_depth(png, info);
        interlaced_ = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
        info_.width = png_get_image_width(png, info);
        info_.height = png_get_image_height(png, info);
        const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0;
        info_.channels = png_get_channels(png, info) - (alpha && !keep_alpha ? 1 : 0);
        info_.alpha = alpha && keep_alpha;
        info_.sample = depth_ == 16 ? SampleType::kU16 : SampleType::kU8;
        info_.maxval = (int64_t(1) << depth_) - 1;
        info_.format = "PNG";
        // Refused before libpng takes its row buffers: rows a header claims
        // cost nothing until their data is there.
        check_labelable(info_);
        if (!raster_bytes(info_.width, 1, info_.channels, depth_, &stored_row_))
            throw std::bad_alloc();
        std::size_t decoded = 0;
        if (!raster_bytes(info_.width, info_.height, info_.channels, depth_, &decoded))
            decoded = SIZE_MAX;
        if (interlaced_ && decoded > kMostInterlaced)
            throw ImageError(Kind::kUnsupported,
                             "Input file is not a supported PNG image: interlaced, and larger "
                             "than the 2 GiB an interlaced image may take decoded whole.");
        if (!data_can_fit(input_, decoded, info_.height))
            throw ImageError(Kind::kTruncated, "Input file is truncated.");
        if (!start_decoding(&decoder_, keep_alpha)) fail("Input file has an invalid PNG header.");
        // The rows libpng fills are the rows counted above.
        if (png_get_rowbytes(png, info) != stored_row_)
            throw ImageError(Kind::kInvalid, "Input file has an invalid PNG header.");
    }

    int64_t read_rows(uint8_t* out, int64_t max_rows) override {
        const int64_t n = std::min(max_rows, info_.height - done_);
        if (n <= 0) return 0;
        if (interlaced_ && image_.empty()) decode_every_pass();
        const std::size_t row = row_bytes();
        for (int64_t r = 0; r < n; ++r) {
            uint8_t* target = out + std::size_t(r) * row;
            if (interlaced_) {
                deliver(image_[done_ + r].get(), target);
                image_[done_ + r].reset();  // delivered rows are not kept
            } else if (depth_ < 8) {
                packed_.resize(stored_row_);
                decode(packed_.data());
                deliver(packed_.data(), target);
            } else {
                decode(target);
            }
        }
        done_ += n;
        return n;
    }

  private:
    void decode(uint8_t* row) {
        if (!decode_row(&decoder_, row)) fail("Input file has invalid PNG image data.");
    }

    void deliver(const uint8_t* stored, uint8_t* out) const {
        if (depth_ < 8)
            unpack_samples(stored, depth_, info_.width * info_.channels, out);
        else
            std::memcpy(out, stored, stored_row_);
    }

    // Every pass over the rows it touches; a row is allocated (zeroed, as a
    // pass fills only some of its pixels) the first time a pass reaches it.
    void decode_every_pass() {
        const int passes = png_set_interlace_handling(decoder_.png);
        image_.reserve(std::size_t(std::min<int64_t>(info_.height, 1 << 16)));
        for (int pass = 0; pass < passes; ++pass) {
            const bool has_columns = PNG_PASS_COLS(png_uint_32(info_.width), pass) != 0;
            for (int64_t y = 0; y < info_.height; ++y) {
                // libpng counts every row of every pass, those a pass skips too.
                if (!has_columns || !PNG_ROW_IN_INTERLACE_PASS(png_uint_32(y), pass)) {
                    decode(nullptr);
                    continue;
                }
                while (int64_t(image_.size()) <= y)
                    image_.push_back(std::make_unique<uint8_t[]>(stored_row_));
                decode(image_[y].get());
            }
        }
        // Rows no pass touched (a one-column image skips some): still zero.
        while (int64_t(image_.size()) < info_.height)
            image_.push_back(std::make_unique<uint8_t[]>(stored_row_));
    }

    [[noreturn]] void fail(const char* message) {
        if (decoder_.ran_out) throw ImageError(Kind::kTruncated, "Input file is truncated.");
        throw ImageError(Kind::kInvalid, message);
    }

    InputStream input_;
    Decoder decoder_;
    int depth_ = 8;
    bool interlaced_ = false;
    std::size_t stored_row_ = 0;
    int64_t done_ = 0;
    std::vector<uint8_t> packed_;
    std::vector<std::unique_ptr<uint8_t[]>> image_;
};

}  // namespace

std::unique_ptr<RasterReader> open_png_raster(InputStream input, const ReadOptions& options) {
    return std::make_unique<PngReader>(std::move(input), options.keep_alpha);
}
