// TIFF output through libtiff: unsigned grey of 8 to 64 bits or an RGB colour
// view, uncompressed, in strips of about 256 KiB written as the rows come.
// libtiff seeks back to patch the header, so an output that cannot seek gets
// the file built in an anonymous temporary and copied over at finish; a file
// that would pass 4 GiB is written as BigTIFF.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "imagefiles/formats.h"

namespace {

using Kind = ImageError::Kind;

// What libtiff writes through: a stream, and where the file starts in it.
struct Sink {
    std::FILE* file = nullptr;
    off_t base = 0;
    bool failed = false;
};

tmsize_t sink_read(thandle_t handle, void* buffer, tmsize_t size) {
    auto* sink = static_cast<Sink*>(handle);
    return tmsize_t(std::fread(buffer, 1, std::size_t(size), sink->file));
}

tmsize_t sink_write(thandle_t handle, void* buffer, tmsize_t size) {
    auto* sink = static_cast<Sink*>(handle);
    const std::size_t put = std::fwrite(buffer, 1, std::size_t(size), sink->file);
    if (put != std::size_t(size)) sink->failed = true;
    return tmsize_t(put);
}

toff_t sink_seek(thandle_t handle, toff_t offset, int whence) {
    auto* sink = static_cast<Sink*>(handle);
    const off_t target = whence == SEEK_SET ? sink->base + off_t(offset) : off_t(offset);
    if (fseeko(sink->file, target, whence) != 0) {
        sink->failed = true;
        return toff_t(-1);
    }
    return toff_t(ftello(sink->file) - sink->base);
}

int sink_close(thandle_t) { return 0; }

toff_t sink_size(thandle_t handle) {
    auto* sink = static_cast<Sink*>(handle);
    const off_t here = ftello(sink->file);
    fseeko(sink->file, 0, SEEK_END);
    const off_t end = ftello(sink->file);
    fseeko(sink->file, here, SEEK_SET);
    return toff_t(end - sink->base);
}

int sink_map(thandle_t, void**, toff_t*) { return 0; }
void sink_unmap(thandle_t, void*, toff_t) {}

int on_error(TIFF*, void* user, const char*, const char*, va_list) {
    static_cast<Sink*>(user)->failed = true;
    return 1;  // handled: libtiff's own handler stays silent
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

constexpr std::size_t kStripBytes = 256 * 1024;

class TiffWriter : public CountedWriter {
  public:
    TiffWriter(std::FILE* out, bool seekable, const RasterLayout& layout)
        : CountedWriter(layout.height), out_(out), seekable_(seekable), layout_(layout) {}

    ~TiffWriter() override {
        if (tif_ != nullptr) TIFFClose(tif_);
        if (spool_ != nullptr) std::fclose(spool_);
    }

    void write_rows(const uint8_t* rows, int64_t n) override {
        start();
        count(n);
        const std::size_t row = row_bytes(layout_.sample, layout_.channels, layout_.width);
        for (int64_t r = 0; r < n; ++r, ++next_row_) {
            // Uncompressed and in the machine's byte order, the scanline is
            // only copied by libtiff, never changed.
            auto* data = const_cast<uint8_t*>(rows + std::size_t(r) * row);
            if (TIFFWriteScanline(tif_, data, uint32_t(next_row_), 0) != 1 || sink_.failed)
                throw_write_failed();
        }
    }

    void finish() override {
        start();
        check_complete();
        const bool flushed = TIFFFlush(tif_) == 1;
        TIFFClose(tif_);
        tif_ = nullptr;
        if (!flushed || sink_.failed) throw_write_failed();
        if (spool_ != nullptr) copy_spool();
        if (std::ferror(out_)) throw_write_failed();
    }

  private:
    void start() {
        if (tif_ != nullptr || started_) return;
        started_ = true;
        if (seekable_) {
            sink_.file = out_;
            sink_.base = ftello(out_);
            if (sink_.base < 0) throw_write_failed();
        } else {
            spool_ = std::tmpfile();
            if (spool_ == nullptr) throw_write_failed();
            sink_.file = spool_;
        }
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (options == nullptr) throw std::bad_alloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, &sink_);
        TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, &sink_);
        tif_ = TIFFClientOpenExt("output", big() ? "w8m" : "wm", &sink_, sink_read, sink_write,
                                 sink_seek, sink_close, sink_size, sink_map, sink_unmap, options);
        TIFFOpenOptionsFree(options);
        if (tif_ == nullptr) throw_write_failed();

        const int bits = 8 * sample_bytes(layout_.sample);
        const std::size_t row = row_bytes(layout_.sample, layout_.channels, layout_.width);
        const auto strip_rows = uint32_t(std::clamp<int64_t>(
            int64_t(kStripBytes / std::max<std::size_t>(row, 1)), 1, layout_.height));
        const bool ok =
            TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, uint32_t(layout_.width)) &&
            TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, uint32_t(layout_.height)) &&
            TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, bits) &&
            TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, layout_.channels) &&
            TIFFSetField(tif_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) &&
            TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC,
                         layout_.channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
            TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
            TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, strip_rows);
        if (!ok || sink_.failed) throw_write_failed();
    }

    // Raster, strip tables and directory past what 32-bit offsets reach.
    bool big() const {
        const uint64_t row = row_bytes(layout_.sample, layout_.channels, layout_.width);
        const uint64_t raster = row * uint64_t(layout_.height);
        const uint64_t strips =
            uint64_t(layout_.height) / std::max<uint64_t>(1, kStripBytes / row) + 1;
        return raster + strips * 8 + 4096 > UINT32_MAX;
    }

    void copy_spool() {
        std::rewind(spool_);
        char buffer[1 << 16];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, spool_)) > 0)
            if (std::fwrite(buffer, 1, got, out_) != got) throw_write_failed();
        if (std::ferror(spool_)) throw_write_failed();
    }

    std::FILE* out_;
    bool seekable_;
    RasterLayout layout_;
    Sink sink_;
    std::FILE* spool_ = nullptr;
    TIFF* tif_ = nullptr;
    bool started_ = false;
    int64_t next_row_ = 0;
};

std::unique_ptr<RasterWriter> make_tiff_writer(std::FILE* out, bool seekable,
                                               const RasterLayout& layout) {
    auto refuse = [](const char* message) { throw ImageError(Kind::kUnsupported, message); };
    if (layout.channels != 1 && layout.channels != 3)
        refuse("TIFF output holds one channel or three.");
    if (layout.sample == SampleType::kBit) refuse("TIFF output holds 8 to 64-bit samples.");
    if (layout.channels == 3 && layout.sample != SampleType::kU8 &&
        layout.sample != SampleType::kU16)
        refuse("A TIFF colour view holds at most 16-bit samples; name the output .npy.");
    if (layout.width < 1 || layout.height < 1)
        refuse("TIFF holds no empty image; name the output .pgm or .npy.");
    if (layout.width > UINT32_MAX || layout.height > UINT32_MAX)
        refuse("TIFF holds at most 4294967295 rows and columns; name the output .npy.");
    return std::make_unique<TiffWriter>(out, seekable, layout);
}

constexpr std::string_view kSuffixes[] = {".tif", ".tiff"};

}  // namespace

extern const OutputFormat kTiffOutput = {
    .name = "TIFF",
    .called = nullptr,
    .suffixes = kSuffixes,
    .about = nullptr,
    .labels = true,
    .colour = true,
    .otherwise = false,
    .label_bits = kLabelsTo64,
    .maxval = Maxval::kNone,
    .make_writer = make_tiff_writer,
};
