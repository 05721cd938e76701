// Internal to the library: checking the caller's views and reaching their
// rows, whatever their strides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "labeling/buffer.h"
#include "labeling/engine.h"
#include "runlabel/runlabel.h"

namespace runlabel::detail {

// Bytes of one pixel or label.
std::size_t pixel_size(PixelType type);
std::size_t label_size(LabelType type);
engine::PixelKind pixel_kind(PixelType type);
engine::LabelKind label_kind(LabelType type);
// The largest label a type holds, and its name for messages ("16-bit unsigned").
std::uint64_t largest_label(LabelType type);
const char* label_type_name(LabelType type);

// Checks the options; throws runlabel::error.
void check_options(const Options& options);
// Checks the view's size and data, fills in packed strides; throws.
ImageView checked(const ImageView& image);
LabelView checked(const LabelView& out);

// Threads for work on rows x width pixels: as many as asked for (as rows
// allow), or, asked for 0, every core the process may use when each gets
// enough to gain by it.
std::int64_t threads_for(int threads, std::int64_t rows, std::int64_t width);

// Whether a checked view's rows are contiguous pixels (or bits).
bool is_packed(const ImageView& view);

// Throws unless the label buffer is width x height.
void check_same_size(const LabelView& out, std::int64_t width, std::int64_t height);

// Hands out the rows of an image band as packed pixel rows: the caller's own
// memory when its pixels are packed, otherwise rows gathered into a buffer a
// few at a time.
class RowSource {
  public:
    explicit RowSource(const ImageView& rows);  // a checked view
    std::int64_t rows() const { return rows_; }
    // Whether rows are the caller's own memory (no gathering).
    bool packed() const { return packed_; }
    // Row r, valid until the next call.
    const void* row(std::int64_t r);

  private:
    void gather(std::int64_t first);

    ImageView view_;
    std::int64_t rows_;
    std::size_t pixel_;
    bool packed_;
    engine::Buffer<std::byte> band_;
    std::int64_t band_first_ = -1;
    std::int64_t band_rows_ = 0;
};

}  // namespace runlabel::detail
