// The caller's views: every size and stride is checked before a pixel is
// touched, and rows whose pixels are not packed are gathered a band at a time
// (column by column when that follows the memory, as in a column-major array).
#include "api/views.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "support/raster_size.h"
#include "support/support.h"

namespace runlabel::detail {
namespace {

constexpr std::int64_t kMaxWidth = kMostColumns;
constexpr std::int64_t kBandRows = 64;

void check_size(std::int64_t width, std::int64_t height, const void* data, const char* what) {
    if (width < 0 || height < 0) {
        throw error(std::string(what) + " width and height must not be negative");
    }
    if (width > kMaxWidth) {
        throw error(std::string(what) + " is wider than " + std::to_string(kMaxWidth) + " pixels");
    }
    if (data == nullptr && width > 0 && height > 0) {
        throw error(std::string(what) + " data is null");
    }
}

}  // namespace

std::size_t pixel_size(PixelType type) {
    switch (type) {
        case PixelType::boolean:
        case PixelType::u8:
        case PixelType::i8:
            return 1;
        case PixelType::u16:
        case PixelType::i16:
            return 2;
        case PixelType::u32:
        case PixelType::i32:
            return 4;
        case PixelType::u64:
        case PixelType::i64:
            return 8;
        case PixelType::bits:
            return 0;
    }
    throw error("unknown pixel type");
}

std::size_t label_size(LabelType type) {
    switch (type) {
        case LabelType::u8:
        case LabelType::i8:
            return 1;
        case LabelType::u16:
        case LabelType::i16:
            return 2;
        case LabelType::u32:
        case LabelType::i32:
            return 4;
        case LabelType::u64:
        case LabelType::i64:
            return 8;
    }
    throw error("unknown label type");
}

engine::PixelKind pixel_kind(PixelType type) {
    if (type == PixelType::bits) return engine::PixelKind::kBitMsb;
    switch (pixel_size(type)) {
        case 1:
            return engine::PixelKind::k8;
        case 2:
            return engine::PixelKind::k16;
        case 4:
            return engine::PixelKind::k32;
        default:
            return engine::PixelKind::k64;
    }
}

engine::LabelKind label_kind(LabelType type) {
    switch (label_size(type)) {
        case 1:
            return engine::LabelKind::k8;
        case 2:
            return engine::LabelKind::k16;
        case 4:
            return engine::LabelKind::k32;
        default:
            return engine::LabelKind::k64;
    }
}

std::uint64_t largest_label(LabelType type) {
    const bool is_signed = type == LabelType::i8 || type == LabelType::i16 ||
                           type == LabelType::i32 || type == LabelType::i64;
    const unsigned bits = 8 * static_cast<unsigned>(label_size(type)) - (is_signed ? 1 : 0);
    return bits == 64 ? UINT64_MAX : (std::uint64_t(1) << bits) - 1;
}

const char* label_type_name(LabelType type) {
    switch (type) {
        case LabelType::u8:
            return "8-bit unsigned";
        case LabelType::i8:
            return "8-bit signed";
        case LabelType::u16:
            return "16-bit unsigned";
        case LabelType::i16:
            return "16-bit signed";
        case LabelType::u32:
            return "32-bit unsigned";
        case LabelType::i32:
            return "32-bit signed";
        case LabelType::u64:
            return "64-bit unsigned";
        case LabelType::i64:
            return "64-bit signed";
    }
    return "unknown";
}

void check_options(const Options& options) {
    if (options.connectivity != 4 && options.connectivity != 8) {
        throw error("connectivity must be 4 or 8, not " + std::to_string(options.connectivity));
    }
    if (options.first_label == 0) throw error("the first label must be at least 1");
    if (options.threads < 0) throw error("the thread count must not be negative");
}

ImageView checked(const ImageView& image) {
    ImageView view = image;
    check_size(view.width, view.height, view.data, "image");
    if (view.type == PixelType::bits) {
        if (view.column_stride != 0) throw error("a view of bits has no column stride");
        if (view.row_stride == 0) view.row_stride = (view.width + 7) / 8;
        return view;
    }
    const auto size = static_cast<std::ptrdiff_t>(pixel_size(view.type));
    if (view.column_stride == 0) view.column_stride = size;
    if (view.row_stride == 0) view.row_stride = view.column_stride * view.width;
    return view;
}

bool is_packed(const ImageView& view) {
    return view.type == PixelType::bits ||
           view.column_stride == static_cast<std::ptrdiff_t>(pixel_size(view.type));
}

LabelView checked(const LabelView& out) {
    LabelView view = out;
    check_size(view.width, view.height, view.data, "label buffer");
    const auto size = static_cast<std::ptrdiff_t>(label_size(view.type));
    if (view.column_stride == 0) view.column_stride = size;
    if (view.row_stride == 0) view.row_stride = view.column_stride * view.width;
    return view;
}

std::int64_t threads_for(int threads, std::int64_t rows, std::int64_t width) {
    // Below these a part costs less than a thread costs to start.
    constexpr std::int64_t kMinRows = 32;
    constexpr std::int64_t kMinPixels = std::int64_t(1) << 18;
    if (threads > 0) return std::max<std::int64_t>(1, std::min<std::int64_t>(threads, rows));
    return std::max<std::int64_t>(
        1, std::min<std::int64_t>({usable_cores(), rows / kMinRows,
                                   rows * std::max<std::int64_t>(width, 1) / kMinPixels}));
}

void check_same_size(const LabelView& out, std::int64_t width, std::int64_t height) {
    if (out.width != width || out.height != height) {
        throw error("the label buffer is " + std::to_string(out.width) + " x " +
                    std::to_string(out.height) + ", the image " + std::to_string(width) + " x " +
                    std::to_string(height));
    }
}

RowSource::RowSource(const ImageView& rows)
    : view_(rows), rows_(rows.height), pixel_(pixel_size(rows.type)), packed_(is_packed(rows)) {}

const void* RowSource::row(std::int64_t r) {
    const auto* data = static_cast<const std::byte*>(view_.data);
    if (packed_) return data + r * view_.row_stride;
    if (r < band_first_ || r >= band_first_ + band_rows_) gather(r);
    return band_.data() + static_cast<std::size_t>(r - band_first_) * view_.width * pixel_;
}

void RowSource::gather(std::int64_t first) {
    const auto* data = static_cast<const std::byte*>(view_.data);
    band_first_ = first;
    band_rows_ = std::min(kBandRows, rows_ - first);
    const auto width = static_cast<std::size_t>(view_.width);
    band_.resize(static_cast<std::size_t>(band_rows_) * width * pixel_);
    std::byte* out = band_.data();
    const std::ptrdiff_t rs = view_.row_stride;
    const std::ptrdiff_t cs = view_.column_stride;
    auto copy = [&](std::int64_t i, std::size_t c) {
        std::memcpy(out + (static_cast<std::size_t>(i) * width + c) * pixel_,
                    data + (first + i) * rs + static_cast<std::ptrdiff_t>(c) * cs, pixel_);
    };
    // Walk the source in the order its memory runs.
    if (std::abs(rs) < std::abs(cs)) {
        for (std::size_t c = 0; c < width; ++c) {
            for (std::int64_t i = 0; i < band_rows_; ++i) copy(i, c);
        }
    } else {
        for (std::int64_t i = 0; i < band_rows_; ++i) {
            for (std::size_t c = 0; c < width; ++c) copy(i, c);
        }
    }
}

}  // namespace runlabel::detail
