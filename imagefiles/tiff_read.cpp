// TIFF through libtiff, the first image of a file, a band of rows at a time.
// Strips are read scanline by scanline (separate planes through one libtiff
// handle per plane, so that each keeps its place in its own strips); tiles a
// row of tiles at a time. Samples are delivered as stored: bilevel as bits,
// integers of 8 to 64 bits by their bit pattern, palette images as indices,
// and alpha samples dropped unless kept.
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
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

constexpr std::size_t kMostSeparatePlanes = 64;
constexpr uint32_t kLargestTile = 4096;

// What libtiff reads through: a descriptor and a position of its own, so that
// several handles on one file never disturb each other.
struct Source {
    int fd = -1;
    uint64_t size = 0;
    uint64_t position = 0;
    bool ran_out = false;  // a read stopped short of what was asked
    std::string message;   // libtiff's first error
};

tmsize_t source_read(thandle_t handle, void* buffer, tmsize_t size) {
    auto* source = static_cast<Source*>(handle);
    tmsize_t got = 0;
    while (got < size) {
        const ssize_t n = pread(source->fd, static_cast<char*>(buffer) + got,
                                std::size_t(size - got), off_t(source->position + uint64_t(got)));
        if (n <= 0) break;
        got += n;
    }
    if (got < size) source->ran_out = true;
    source->position += uint64_t(got);
    return got;
}

tmsize_t source_write(thandle_t, void*, tmsize_t) { return 0; }

toff_t source_seek(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<Source*>(handle);
    uint64_t base = whence == SEEK_CUR ? source->position : whence == SEEK_END ? source->size : 0;
    source->position = base + offset;
    return source->position;
}

int source_close(thandle_t) { return 0; }
toff_t source_size(thandle_t handle) { return static_cast<Source*>(handle)->size; }
int source_map(thandle_t, void**, toff_t*) { return 0; }
void source_unmap(thandle_t, void*, toff_t) {}

int on_error(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* source = static_cast<Source*>(user);
    if (source->message.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        source->message = text;
    }
    return 1;  // handled: libtiff's own handler stays silent
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr open_tiff(Source* source) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, source);
    TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, source);
    // "m": no memory mapping; the source is read through its callbacks only.
    TIFF* tif = TIFFClientOpenExt("input", "rm", source, source_read, source_write, source_seek,
                                  source_close, source_size, source_map, source_unmap, options);
    TIFFOpenOptionsFree(options);
    return TiffPtr(tif);
}

[[noreturn]] void unsupported(const std::string& what) {
    throw ImageError(Kind::kUnsupported, "Input file is not a supported TIFF image: " + what + ".");
}

template <typename T>
T field_or(TIFF* tif, ttag_t tag, T fallback) {
    T value{};
    return TIFFGetFieldDefaulted(tif, tag, &value) == 1 ? value : fallback;
}

class TiffReader : public RasterReader {
  public:
    TiffReader(InputStream input, bool keep_alpha)
        : input_(std::move(input)), keep_alpha_(keep_alpha) {
        struct stat status {};
        const int fd = fileno(input_.file());
        if (fstat(fd, &status) != 0)
            throw ImageError(Kind::kInvalid, "Input file has an invalid TIFF header.");
        sources_.push_back(std::make_unique<Source>());
        sources_[0]->fd = fd;
        sources_[0]->size = uint64_t(status.st_size);
        handles_.push_back(open_tiff(sources_[0].get()));
        if (handles_[0] == nullptr) fail(*sources_[0], "Input file has an invalid TIFF header.");
        TIFF* tif = handles_[0].get();
        describe(tif);
        // Each separate plane read by strips costs a handle; more than a few
        // dozen planes is no image this tool labels.
        if (!tiled_ && separate_ && planes_.size() > kMostSeparatePlanes)
            unsupported(std::to_string(planes_.size()) + " separate planes");
        if (!tiled_ && separate_) {
            // One handle per kept plane: scanlines of different planes live in
            // different strips, and one handle would restart a strip each switch.
            for (std::size_t k = 1; k < planes_.size(); ++k) {
                sources_.push_back(std::make_unique<Source>());
                sources_.back()->fd = sources_[0]->fd;
                sources_.back()->size = sources_[0]->size;
                handles_.push_back(open_tiff(sources_.back().get()));
                if (handles_.back() == nullptr)
                    fail(*sources_.back(), "Input file has an invalid TIFF header.");
                prepare_colour(handles_.back().get());
            }
        }
    }

    int64_t read_rows(uint8_t* out, int64_t max_rows) override {
        const int64_t n = std::min(max_rows, info_.height - done_);
        if (n <= 0) return 0;
        const std::size_t row = row_bytes();
        for (int64_t r = 0; r < n; ++r) deliver(uint32_t(done_ + r), out + std::size_t(r) * row);
        done_ += n;
        return n;
    }

  private:
    // Reads the directory's layout and decides what is delivered.
    void describe(TIFF* tif) {
        const auto width = field_or<uint32_t>(tif, TIFFTAG_IMAGEWIDTH, 0);
        const auto height = field_or<uint32_t>(tif, TIFFTAG_IMAGELENGTH, 0);
        bits_ = field_or<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1);
        samples_ = field_or<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        const auto format = field_or<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
        const auto compression = field_or<uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        separate_ = field_or<uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) ==
                    PLANARCONFIG_SEPARATE;
        tiled_ = TIFFIsTiled(tif) != 0;

        if (!TIFFIsCODECConfigured(compression)) {
            const TIFFCodec* codec = TIFFFindCODEC(compression);
            unsupported(codec != nullptr ? std::string(codec->name) + " compression"
                                         : "compression " + std::to_string(compression));
        }
        if (format == SAMPLEFORMAT_IEEEFP)
            unsupported(std::to_string(bits_) + "-bit float samples");
        if (format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP)
            unsupported("complex samples");
        const bool whole_bytes = bits_ == 8 || bits_ == 16 || bits_ == 32 || bits_ == 64;
        const bool narrow = bits_ == 1 || bits_ == 2 || bits_ == 4;
        if (!whole_bytes && !narrow) unsupported(std::to_string(bits_) + "-bit samples");
        prepare_colour(tif);

        // Alpha among the extra samples (the last ones of a pixel) is dropped,
        // unless kept.
        uint16_t extra_count = 0;
        uint16_t* extra_types = nullptr;
        if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra_types) != 1)
            extra_count = 0;
        bool last_is_alpha = false;
        for (int s = 0; s < samples_; ++s) {
            const int extra = s - (samples_ - extra_count);
            const bool alpha = extra >= 0 && (extra_types[extra] == EXTRASAMPLE_ASSOCALPHA ||
                                              extra_types[extra] == EXTRASAMPLE_UNASSALPHA);
            if (!alpha || keep_alpha_) planes_.push_back(uint16_t(s));
            last_is_alpha = alpha;
        }
        // A lone sample is the image, whatever its extra-sample tag says.
        info_.alpha = keep_alpha_ && last_is_alpha && planes_.size() > 1;
        if (planes_.empty()) planes_.push_back(0);
        if (narrow && planes_.size() > 1)
            unsupported(std::to_string(bits_) + "-bit samples in more than one channel");
        if (!separate_) {
            in_pixel_ = samples_;
        } else {
            in_pixel_ = 1;
        }

        info_.width = width;
        info_.height = height;
        info_.channels = int(planes_.size());
        info_.sample = bits_ == 1    ? SampleType::kBit
                       : bits_ <= 8  ? SampleType::kU8
                       : bits_ == 16 ? SampleType::kU16
                       : bits_ == 32 ? SampleType::kU32
                                     : SampleType::kU64;
        info_.maxval = bits_ == 64 ? INT64_MAX : (int64_t(1) << bits_) - 1;
        info_.format = "TIFF";
        check_labelable(info_);

        // Uncompressed, every sample the directory claims is in the file;
        // claims beyond it are refused before a row's memory is taken.
        std::size_t raster = 0;
        if (compression == COMPRESSION_NONE &&
            (!raster_bytes(width, height, samples_, bits_, &raster) || raster > sources_[0]->size))
            throw ImageError(Kind::kTruncated, "Input file is truncated.");

        // Each source row: contiguous, all of a pixel's samples; separate, one.
        std::size_t stored = 0;
        if (!raster_bytes(width, 1, in_pixel_, bits_, &stored)) throw std::bad_alloc();
        if (tiled_) {
            tile_width_ = field_or<uint32_t>(tif, TIFFTAG_TILEWIDTH, 0);
            tile_length_ = field_or<uint32_t>(tif, TIFFTAG_TILELENGTH, 0);
            if (tile_width_ == 0 || tile_length_ == 0)
                throw ImageError(Kind::kInvalid, "Input file has an invalid TIFF header.");
            // A tile is decoded whole; one far past the image's edges would
            // cost memory for pixels that are not there.
            if ((tile_width_ > kLargestTile && tile_width_ - 16 >= width) ||
                (tile_length_ > kLargestTile && tile_length_ - 16 >= height))
                unsupported("tiles larger than the image");
            // Tile rows are laid side by side a byte at a time, so a tile row
            // of packed samples must end on a byte (TIFF asks for multiples
            // of 16 pixels; libtiff lets others through).
            if (uint64_t(tile_width_) * in_pixel_ * bits_ % 8 != 0)
                unsupported("tiles whose rows end inside a byte");
            const uint64_t across = (uint64_t(width) + tile_width_ - 1) / tile_width_;
            const uint64_t tile_row = TIFFTileRowSize64(tif);
            if (tile_row == 0 || tile_row > uint64_t(PTRDIFF_MAX) ||
                !raster_bytes(int64_t(across), 1, int64_t(tile_row), 8, &band_row_) ||
                !raster_bytes(int64_t(across), tile_length_, int64_t(tile_row), 8, &band_bytes_))
                throw ImageError(Kind::kInvalid, "Input file has an invalid TIFF header.");
        }
        rows_.resize(separate_ ? planes_.size() : 1);
        // libtiff fills a whole scanline, which may be longer than the samples
        // delivered from it. Allocated with the first row, not here: a header
        // alone costs no memory for its rows.
        scanline_ = tiled_ ? 0 : std::max(stored, std::size_t(TIFFScanlineSize64(tif)));
    }

    // JPEG-compressed YCbCr is delivered as the RGB libjpeg makes of it;
    // other YCbCr data is subsampled and not read.
    static void prepare_colour(TIFF* tif) {
        if (field_or<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) !=
            PHOTOMETRIC_YCBCR)
            return;
        if (field_or<uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) != COMPRESSION_JPEG)
            unsupported("YCbCr samples");
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }

    // Where row y of source k (plane planes_[k] when separate) is stored.
    const uint8_t* stored_row(std::size_t k, uint32_t y) {
        if (!tiled_) {
            TIFF* tif = handles_[separate_ ? k : 0].get();
            const uint16_t plane = separate_ ? planes_[k] : 0;
            // Not zeroed: a compressed row's memory is touched only as it is
            // decoded, and a row that does not decode whole is never delivered.
            if (!rows_[k]) rows_[k].reset(new uint8_t[scanline_]);
            if (TIFFReadScanline(tif, rows_[k].get(), y, plane) != 1)
                fail(*sources_[separate_ ? k : 0], "Input file has invalid TIFF image data.");
            return rows_[k].get();
        }
        if (y < band_start_ || y >= band_start_ + tile_length_ || !band_ready_) load_band(y);
        return bands_[k].get() + std::size_t(y - band_start_) * band_row_;
    }

    // The row of tiles holding y, every kept plane, into the band buffers.
    void load_band(uint32_t y) {
        TIFF* tif = handles_[0].get();
        band_start_ = y / tile_length_ * tile_length_;
        const std::size_t tile_row = std::size_t(TIFFTileRowSize64(tif));
        const tmsize_t tile_size = TIFFTileSize(tif);
        const int64_t across = (info_.width + tile_width_ - 1) / tile_width_;
        std::size_t tile_rows_bytes = 0, band_row = 0;
        if (tile_row == 0 || tile_size <= 0 ||
            !raster_bytes(int64_t(tile_row), tile_length_, 1, 8, &tile_rows_bytes) ||
            !raster_bytes(across, 1, int64_t(tile_row), 8, &band_row) ||
            uint64_t(tile_size) < tile_rows_bytes || band_row_ < band_row)
            throw ImageError(Kind::kInvalid, "Input file has invalid TIFF image data.");
        // Not zeroed either: a tile is touched as it is decoded.
        if (!tile_ || tile_bytes_ != std::size_t(tile_size)) {
            tile_.reset(new uint8_t[std::size_t(tile_size)]);
            tile_bytes_ = std::size_t(tile_size);
        }
        const uint32_t band_rows = tile_length_;
        if (bands_.empty()) {
            bands_.resize(rows_.size());
            // Not zeroed: the tiles fill every byte that is delivered.
            for (auto& band : bands_) band.reset(new uint8_t[band_bytes_]);
        }
        const uint32_t width = uint32_t(info_.width);
        for (std::size_t k = 0; k < bands_.size(); ++k) {
            const uint16_t plane = separate_ ? planes_[k] : 0;
            for (uint32_t x = 0, column = 0; x < width; x += tile_width_, ++column) {
                if (TIFFReadTile(tif, tile_.get(), x, band_start_, 0, plane) < 0)
                    fail(*sources_[0], "Input file has invalid TIFF image data.");
                for (uint32_t r = 0; r < band_rows; ++r)
                    std::memcpy(bands_[k].get() + r * band_row_ + column * tile_row,
                                tile_.get() + std::size_t(r) * tile_row, tile_row);
            }
        }
        band_ready_ = true;
    }

    void deliver(uint32_t y, uint8_t* out) {
        const std::size_t row = row_bytes();
        if (bits_ < 8) {
            const uint8_t* stored = stored_row(0, y);
            if (bits_ == 1) {
                std::memcpy(out, stored, row);
                clear_padding_bits(out, info_.width);
            } else {
                unpack_samples(stored, bits_, info_.width, out);
            }
            return;
        }
        const std::size_t size = bits_ / 8;
        if (!separate_ && planes_.size() == samples_) {
            std::memcpy(out, stored_row(0, y), row);
            return;
        }
        const std::size_t channels = planes_.size();
        for (std::size_t k = 0; k < channels; ++k) {
            // Contiguous: kept sample k of each pixel; separate: plane k's only one.
            const uint8_t* stored = stored_row(separate_ ? k : 0, y);
            const std::size_t offset = separate_ ? 0 : planes_[k] * size;
            const std::size_t step = std::size_t(in_pixel_) * size;
            for (int64_t x = 0; x < info_.width; ++x)
                std::memcpy(out + (std::size_t(x) * channels + k) * size,
                            stored + std::size_t(x) * step + offset, size);
        }
    }

    [[noreturn]] static void fail(const Source& source, const char* message) {
        if (source.ran_out) throw ImageError(Kind::kTruncated, "Input file is truncated.");
        throw ImageError(Kind::kInvalid, message);
    }

    InputStream input_;
    bool keep_alpha_;
    std::vector<std::unique_ptr<Source>> sources_;
    std::vector<TiffPtr> handles_;  // after sources_: closed before them
    uint16_t bits_ = 1;
    uint16_t samples_ = 1;
    int in_pixel_ = 1;
    bool separate_ = false;
    bool tiled_ = false;
    std::vector<uint16_t> planes_;  // the samples delivered, in order
    std::size_t scanline_ = 0;
    std::vector<std::unique_ptr<uint8_t[]>> rows_;
    // Tiles: one row of them per kept plane.
    uint32_t tile_width_ = 0;
    uint32_t tile_length_ = 0;
    std::size_t band_row_ = 0;
    std::size_t band_bytes_ = 0;
    uint32_t band_start_ = 0;
    bool band_ready_ = false;
    std::unique_ptr<uint8_t[]> tile_;
    std::size_t tile_bytes_ = 0;
    std::vector<std::unique_ptr<uint8_t[]>> bands_;
    int64_t done_ = 0;
};

}  // namespace

std::unique_ptr<RasterReader> open_tiff_raster(InputStream input, const ReadOptions& options) {
    return std::make_unique<TiffReader>(std::move(input), options.keep_alpha);
}
