// runlabel: connected-component labeling of binary images, by runs.
//
// Every non-zero pixel is foreground. Regions are the 4- or 8-connected sets
// of foreground pixels, numbered first_label, first_label + 1, ... in the
// order a top-to-bottom, left-to-right scan first meets them (or by
// decreasing area). Each row is run-length encoded and labeling works on the
// runs, so statistics come from the runs too, without a second look at the
// pixels.
//
//     #include <runlabel/runlabel.h>
//
//     std::vector<uint8_t> mask = ...;  // height rows of width pixels
//     runlabel::Labeling labeling =
//         runlabel::label(runlabel::image_view(mask.data(), width, height));
//     std::vector<uint32_t> labels(mask.size());
//     labeling.paint(runlabel::label_view(labels.data(), width, height));
//     for (const runlabel::Region& r : labeling.regions())
//         std::printf("%llu: %llu pixels\n", (unsigned long long)r.label,
//                     (unsigned long long)r.area);
//
// Calls are re-entrant: any number of threads may label at once. Bad
// arguments throw runlabel::error, exhausted memory std::bad_alloc; no call
// ends the process, and nothing leaks when one throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// What the shared library exports.
#define RUNLABEL_API __attribute__((visibility("default")))

// The release this header belongs to; the build takes its version from here.
#define RUNLABEL_VERSION_MAJOR 0
#define RUNLABEL_VERSION_MINOR 2
#define RUNLABEL_VERSION_PATCH 0

namespace runlabel {

// Bad arguments, a label type too narrow for the regions, an image too large
// for the engine. The message is one line.
class RUNLABEL_API error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A file the system would not open, read or write: code() is its errno value
// (ENOENT for a missing input), and the message "PATH: " followed by the
// system's reason.
class RUNLABEL_API file_error : public error {
  public:
    file_error(const std::string& what, int code) : error(what), code_(code) {}
    int code() const noexcept { return code_; }

  private:
    int code_;
};

// Pixel types of the images labelled; any non-zero value is foreground.
// bits: one bit per pixel, the first pixel in the most significant bit of a
// row's first byte, rows padded to whole bytes (PBM's layout); a set bit is
// foreground, and a view of bits has no column stride.
enum class PixelType : std::uint8_t { boolean, u8, i8, u16, i16, u32, i32, u64, i64, bits };

// Label types painted. Labels must fit (or Options::wrap keeps their low bits).
enum class LabelType : std::uint8_t { u8, i8, u16, i16, u32, i32, u64, i64 };

// A 2-D image in the caller's memory: height rows of width pixels. Strides
// are in bytes and may be negative; 0 means packed (a row of width pixels, a
// pixel of its type's size; for bits, a row of (width + 7) / 8 bytes).
// Nothing is copied.
struct ImageView {
    const void* data = nullptr;
    PixelType type = PixelType::u8;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::ptrdiff_t row_stride = 0;
    std::ptrdiff_t column_stride = 0;
};

// A label buffer in the caller's memory, laid out as ImageView.
struct LabelView {
    void* data = nullptr;
    LabelType type = LabelType::u32;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::ptrdiff_t row_stride = 0;
    std::ptrdiff_t column_stride = 0;
};

template <typename T>
constexpr PixelType pixel_type_of() {
    if constexpr (std::is_same_v<T, bool>)
        return PixelType::boolean;
    else if constexpr (std::is_same_v<T, std::uint8_t>)
        return PixelType::u8;
    else if constexpr (std::is_same_v<T, std::int8_t>)
        return PixelType::i8;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return PixelType::u16;
    else if constexpr (std::is_same_v<T, std::int16_t>)
        return PixelType::i16;
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return PixelType::u32;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return PixelType::i32;
    else if constexpr (std::is_same_v<T, std::uint64_t>)
        return PixelType::u64;
    else if constexpr (std::is_same_v<T, std::int64_t>)
        return PixelType::i64;
    else
        static_assert(sizeof(T) == 0, "pixels are bool or 8- to 64-bit integers");
}

template <typename T>
constexpr LabelType label_type_of() {
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return LabelType::u8;
    else if constexpr (std::is_same_v<T, std::int8_t>)
        return LabelType::i8;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return LabelType::u16;
    else if constexpr (std::is_same_v<T, std::int16_t>)
        return LabelType::i16;
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return LabelType::u32;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return LabelType::i32;
    else if constexpr (std::is_same_v<T, std::uint64_t>)
        return LabelType::u64;
    else if constexpr (std::is_same_v<T, std::int64_t>)
        return LabelType::i64;
    else
        static_assert(sizeof(T) == 0, "labels are 8- to 64-bit integers");
}

// Views of packed or strided arrays; row_stride in bytes, 0 for packed rows.
template <typename Pixel>
ImageView image_view(const Pixel* data, std::int64_t width, std::int64_t height,
                     std::ptrdiff_t row_stride = 0) {
    return {data, pixel_type_of<Pixel>(), width, height, row_stride, 0};
}
template <typename Label>
LabelView label_view(Label* data, std::int64_t width, std::int64_t height,
                     std::ptrdiff_t row_stride = 0) {
    return {data, label_type_of<Label>(), width, height, row_stride, 0};
}

// How regions are numbered.
enum class Numbering : std::uint8_t {
    raster,  // in the order a raster scan first meets them
    area,    // by decreasing area; equal areas in raster order
};

struct Options {
    int connectivity = 4;           // 4 (shared edge) or 8 (corners too)
    std::uint64_t first_label = 1;  // the first region's label, at least 1
    std::uint64_t min_area = 0;     // regions of fewer pixels become background
    Numbering numbering = Numbering::raster;
    bool wrap = false;  // paint each label's low bits when its type is too narrow
    // Threads to label with: each labels a band of the rows added at once.
    // 0: every core the process may use, for images large enough to gain.
    int threads = 1;
};

// One region's statistics. left/top/right/bottom are inclusive pixel
// coordinates (x = column, y = row). sum_x and sum_y are the sums of its
// pixels' columns and rows: with area, the raw figures that the statistics of
// tiles of one image add up from (see merge); exact while area times the
// image's width or height stays below 2^64.
struct Region {
    std::uint64_t label = 0;
    std::uint64_t area = 0;
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = -1;
    std::int64_t bottom = -1;
    std::uint64_t sum_x = 0;
    std::uint64_t sum_y = 0;

    std::int64_t width() const { return right - left + 1; }
    std::int64_t height() const { return bottom - top + 1; }
    double centroid_x() const { return area ? double(sum_x) / double(area) : 0.0; }
    double centroid_y() const { return area ? double(sum_y) / double(area) : 0.0; }
};

// Adds the statistics of another part of the same region, given in the same
// image coordinates (a tile's sums shifted by its origin), to into.
RUNLABEL_API void merge(Region& into, const Region& part);

// One run: columns first..last (inclusive) of one row, all in one region.
struct Run {
    std::int64_t row = 0;
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::uint64_t label = 0;  // 0 for a run of a region dropped by min_area
};

// The result of labeling one image: its runs with their regions. Cheap to
// copy (copies share the runs) and safe to use from several threads at once.
class RUNLABEL_API Labeling {
  public:
    Labeling();
    std::int64_t width() const;
    std::int64_t height() const;
    // Regions labelled, after min_area.
    std::uint64_t count() const;
    // The label of the first region and of the last (first - 1 when none).
    std::uint64_t first_label() const;
    std::uint64_t last_label() const;
    // Runs in the image (those of dropped regions too).
    std::uint64_t run_count() const;
    // The narrowest unsigned label type that holds every label.
    LabelType narrowest_label_type() const;

    // Writes every pixel's label (0 for background) into out, which must have
    // the image's width and height. Throws runlabel::error, having written
    // nothing, when a label does not fit out's type and the options did not
    // ask to wrap.
    void paint(const LabelView& out) const;
    // The same, reading the labelled image's own pixels where regions span
    // many runs of a row, which is quicker; image must be the image labelled.
    void paint(const LabelView& out, const ImageView& image) const;
    // Writes out.height rows from image row first_row: a band of the image.
    void paint_rows(const LabelView& out, std::int64_t first_row) const;
    // The same on at most `threads` threads (1: the calling thread alone; 0:
    // as the options' threads say), for callers that paint the bands of one
    // image from threads of their own.
    void paint_rows(const LabelView& out, std::int64_t first_row, int threads) const;

    // Regions in label order, computed from the runs.
    std::vector<Region> regions() const;
    // The same written over count() records at into, memory of the caller's
    // that it can keep warm from image to image; what was there is ignored.
    void regions(Region* into) const;
    // Every run in raster order.
    std::vector<Run> runs() const;

    struct State;

  private:
    explicit Labeling(std::shared_ptr<const State> state);
    void paint_from(const LabelView& out, std::int64_t first_row, const ImageView* image,
                    int threads) const;
    void fill_regions(std::vector<Region>& regions) const;
    friend class Labeler;
    friend std::uint64_t label(const ImageView&, const LabelView&, const Options&,
                               std::vector<Region>*);
    std::shared_ptr<const State> state_;
};

// Labels an image, keeping its runs for painting, statistics or runs.
RUNLABEL_API Labeling label(const ImageView& image, const Options& options = {});

// Labels an image into out (the image's size) and returns the region count;
// given regions, fills it with their statistics as Labeling::regions does.
// Throws before anything is written when a label does not fit out's type.
// Reading the image again while painting, this is quicker than painting a
// Labeling where regions span many runs of a row.
RUNLABEL_API std::uint64_t label(const ImageView& image, const LabelView& out,
                                 const Options& options = {},
                                 std::vector<Region>* regions = nullptr);

// A label image allocated for the caller.
template <typename Label>
struct LabelImage {
    std::vector<Label> labels;  // row after row
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint64_t count = 0;
    Label at(std::int64_t row, std::int64_t column) const {
        return labels[static_cast<std::size_t>(row * width + column)];
    }
};

template <typename Label>
LabelImage<Label> label_image(const ImageView& image, const Options& options = {}) {
    const Labeling labeling = label(image, options);
    LabelImage<Label> out;
    out.width = image.width;
    out.height = image.height;
    out.count = labeling.count();
    out.labels.resize(static_cast<std::size_t>(image.width * image.height));
    labeling.paint(label_view(out.labels.data(), image.width, image.height));
    return out;
}

// Labels an image that arrives a band of rows at a time, top to bottom, so
// that it never has to be held whole: only its runs are kept.
class RUNLABEL_API Labeler {
  public:
    explicit Labeler(std::int64_t width, const Options& options = {});
    ~Labeler();
    Labeler(Labeler&&) noexcept;
    Labeler& operator=(Labeler&&) noexcept;

    // The next rows.height rows of the image; rows.width must be the width.
    void add_rows(const ImageView& rows);
    std::int64_t rows() const;
    // Numbers the regions. The Labeler is empty afterwards.
    Labeling finish();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// An image read from a file: its samples as stored, row after row, channels
// samples per pixel in the machine's byte order. A bitmap (PBM, bilevel TIFF)
// comes as one byte per pixel, 1 for a set bit, with type boolean.
struct Image {
    std::int64_t width = 0;
    std::int64_t height = 0;
    int channels = 1;
    PixelType type = PixelType::u8;  // boolean, u8, u16, u32 or u64
    std::vector<unsigned char> data;
};

// Reads a PBM, PGM, PPM, PAM, PNG, TIFF or NPY file ("-": standard input),
// known by its content. Throws runlabel::error with the reader's one-line message.
RUNLABEL_API Image read_image(const std::string& path);

// Writes a label image in the format its name asks for: .png (8 or 16 bits),
// .tif/.tiff (8 to 64), .npy (8 to 64), .pam (8 or 16), any other name a raw
// PGM greymap (8 bits: maxval 255, a byte a label; 16 bits: maxval 65535, two
// bytes, most significant first); the name of another image format (.jpg,
// .gif, .bmp, ...) is refused. The labels' type gives the bits; signed
// labels are written as their unsigned bits. The file is complete or not written at all
// (an existing one is left as it was). Throws runlabel::error for a type the
// format cannot hold, or when the file cannot be written.
RUNLABEL_API void write_labels(const std::string& path, const LabelView& labels);

}  // namespace runlabel
