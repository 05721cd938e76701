// PNG output through libpng: 8- or 16-bit grey labels, or a colour view, a row
// at a time. Nothing is written until the first rows (or finish) arrive, so a
// refused layout leaves the output empty.
#include <png.h>

#include <bit>
#include <cstdio>
#include <string>
#include <string_view>

#include "imagefiles/formats.h"

namespace {

using Kind = ImageError::Kind;

// As for reading, libpng's errors longjmp: every call that can fail sits in a
// function of its own with no C++ objects in its frame.
struct Encoder {
    Encoder() = default;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    ~Encoder() { png_destroy_write_struct(&png, info != nullptr ? &info : nullptr); }

    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE* out = nullptr;
};

void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

void write_bytes(png_structp png, png_bytep data, png_size_t size) {
    auto* encoder = static_cast<Encoder*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, size, encoder->out) != size) png_error(png, "write failed");
}

void flush_bytes(png_structp) {}

bool write_header(Encoder* e, const RasterLayout* layout) {
    if (setjmp(png_jmpbuf(e->png))) return false;
    png_set_write_fn(e->png, e, write_bytes, flush_bytes);
    png_set_user_limits(e->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    // Label images are mostly long runs of one value: the fastest level loses
    // little there and saves most of the time.
    png_set_compression_level(e->png, 1);
    // One filter, not the five libpng would try on every row: the difference
    // from the pixel to the left is 0 inside a region, which is what the
    // compression wants.
    png_set_filter(e->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    const int depth = layout->sample == SampleType::kU16 ? 16 : 8;
    png_set_IHDR(e->png, e->info, png_uint_32(layout->width), png_uint_32(layout->height), depth,
                 layout->channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(e->png, e->info);
    if (depth == 16 && std::endian::native == std::endian::little) png_set_swap(e->png);
    return true;
}

bool write_row(Encoder* e, const uint8_t* row) {
    if (setjmp(png_jmpbuf(e->png))) return false;
    // libpng takes a non-const row but, with no transformation that rewrites
    // it in place, only reads it (png_set_swap works on its own copy).
    png_write_row(e->png, const_cast<png_bytep>(row));
    return true;
}

bool write_end(Encoder* e) {
    if (setjmp(png_jmpbuf(e->png))) return false;
    png_write_end(e->png, nullptr);
    return true;
}

class PngWriter : public CountedWriter {
  public:
    PngWriter(std::FILE* out, const RasterLayout& layout)
        : CountedWriter(layout.height), layout_(layout) {
        encoder_.out = out;
        encoder_.png =
            png_create_write_struct(PNG_LIBPNG_VER_STRING, &encoder_, on_error, on_warning);
        if (encoder_.png == nullptr) throw std::bad_alloc();
        encoder_.info = png_create_info_struct(encoder_.png);
        if (encoder_.info == nullptr) throw std::bad_alloc();
    }

    void write_rows(const uint8_t* rows, int64_t n) override {
        start();
        count(n);
        const std::size_t row = row_bytes(layout_.sample, layout_.channels, layout_.width);
        for (int64_t r = 0; r < n; ++r)
            if (!write_row(&encoder_, rows + std::size_t(r) * row)) throw_write_failed();
    }

    void finish() override {
        start();
        check_complete();
        if (!write_end(&encoder_) || std::ferror(encoder_.out)) throw_write_failed();
    }

  private:
    void start() {
        if (started_) return;
        started_ = true;
        if (!write_header(&encoder_, &layout_)) throw_write_failed();
    }

    Encoder encoder_;
    RasterLayout layout_;
    bool started_ = false;
};

std::unique_ptr<RasterWriter> make_png_writer(std::FILE* out, bool, const RasterLayout& layout) {
    auto refuse = [](const char* message) { throw ImageError(Kind::kUnsupported, message); };
    if (layout.channels != 1 && layout.channels != 3)
        refuse("PNG output holds one channel or three.");
    if (layout.sample != SampleType::kU8 && layout.sample != SampleType::kU16)
        refuse("PNG holds at most 16-bit samples; name the output .tif or .npy.");
    if (layout.width < 1 || layout.height < 1)
        refuse("PNG holds no empty image; name the output .pgm, .tif or .npy.");
    if (layout.width > PNG_UINT_31_MAX || layout.height > PNG_UINT_31_MAX)
        refuse("PNG holds at most 2147483647 rows and columns; name the output .tif or .npy.");
    return std::make_unique<PngWriter>(out, layout);
}

constexpr std::string_view kSuffixes[] = {".png"};

}  // namespace

extern const OutputFormat kPngOutput = {
    .name = "PNG",
    .called = nullptr,
    .suffixes = kSuffixes,
    .about = nullptr,
    .labels = true,
    .colour = true,
    .otherwise = false,
    .label_bits = kLabelsTo16,
    .maxval = Maxval::kNone,
    .make_writer = make_png_writer,
};
