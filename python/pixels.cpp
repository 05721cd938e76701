#include "python/pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "support/support.h"

namespace pixels {
namespace {

using runlabel::PixelType;

// A band of mask rows: small enough to stay in the caches.
constexpr std::int64_t kBandBytes = std::int64_t(1) << 20;

PixelType integer_type(char kind, py::ssize_t size) {
    const bool is_signed = kind == 'i';
    switch (size) {
        case 1:
            return is_signed ? PixelType::i8 : PixelType::u8;
        case 2:
            return is_signed ? PixelType::i16 : PixelType::u16;
        case 4:
            return is_signed ? PixelType::i32 : PixelType::u32;
        default:
            return is_signed ? PixelType::i64 : PixelType::u64;
    }
}

std::uint64_t all_ones(py::ssize_t size) {
    return size == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * size)) - 1;
}

template <typename U>
void fill_rows(const std::byte* data, std::ptrdiff_t row_stride, std::ptrdiff_t column_stride,
               std::int64_t width, std::int64_t rows, std::uint64_t mask, std::uint8_t* out) {
    const U bits = static_cast<U>(mask);
    for (std::int64_t r = 0; r < rows; ++r, out += width) {
        const std::byte* row = data + r * row_stride;
        U value;
        if (column_stride == 0) {
            std::memcpy(&value, row, sizeof value);
            std::memset(out, (value & bits) != 0, static_cast<std::size_t>(width));
            continue;
        }
        for (std::int64_t c = 0; c < width; ++c) {
            // memcpy: the array may be misaligned.
            std::memcpy(&value, row + c * column_stride, sizeof value);
            out[c] = (value & bits) != 0;
        }
    }
}

}  // namespace

std::string text_of(py::handle object) { return py::str(object).cast<std::string>(); }

Geometry geometry_of(const py::array& array) {
    const py::ssize_t dims = array.ndim();
    Geometry g;
    g.height = dims == 2 ? array.shape(0) : 1;
    g.width = dims == 0 ? 1 : array.shape(dims - 1);
    const std::ptrdiff_t column_stride = dims == 0 ? array.itemsize() : array.strides(dims - 1);
    g.column_stride = g.width > 1 ? column_stride : array.itemsize();
    g.row_stride = g.height > 1 ? array.strides(0) : g.column_stride * g.width;
    return g;
}

Image::Image(const py::object& image, int min_dims) {
    array_ = py::array::ensure(image);
    if (!array_) {
        throw py::type_error(std::string("image must be an array of ") + kPixelTypes + ", not " +
                             text_of(image.get_type().attr("__name__")));
    }
    const py::dtype dtype = array_.dtype();
    const char kind = dtype.kind();
    const py::ssize_t size = dtype.itemsize();
    const bool whole = size == 1 || size == 2 || size == 4 || size == 8;
    bool integers = true;
    sample_size_ = static_cast<int>(size);
    mask_ = whole ? all_ones(size) : 0;
    if (kind == 'b' && size == 1) {
        view_.type = PixelType::boolean;
    } else if ((kind == 'i' || kind == 'u') && whole) {
        view_.type = integer_type(kind, size);
    } else if (kind == 'f' && size != 1 && whole) {
        // -0.0 is background, NaN foreground, as != 0 tells them.
        integers = false;
        const bool native = dtype.attr("isnative").cast<bool>();
        mask_ &= ~(std::uint64_t(1) << (native ? 8 * size - 1 : 7));
    } else {
        throw py::type_error(std::string("image pixels must be ") + kPixelTypes + ", not " +
                             text_of(dtype));
    }
    const py::ssize_t dims = array_.ndim();
    if (dims < min_dims || dims > 2) {
        throw py::value_error(std::string("image must be a 2-D array") +
                              (min_dims < 2 ? " (or 1-D or 0-D)" : "") + ", not " +
                              std::to_string(dims) + "-D");
    }
    shape_.assign(array_.shape(), array_.shape() + dims);
    const Geometry g = geometry_of(array_);
    view_.data = array_.data();
    view_.width = g.width;
    view_.height = g.height;
    view_.row_stride = g.row_stride;
    view_.column_stride = g.column_stride;
    if (array_.size() == 0) {
        // No pixel is read.
        if (!integers) view_.type = PixelType::u8;
        return;
    }
    const bool aligned = (array_.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
    in_place_ = integers && aligned && !g.repeats();
}

void Image::paint(const runlabel::Labeling& labeling, const runlabel::LabelView& out,
                  int threads) const {
    if (in_place_) return labeling.paint(out, view_);
    labeling.paint_rows(out, 0, threads > 0 ? threads : usable_cores());
}

void Image::fill_band(std::uint8_t* band, std::int64_t first_row, std::int64_t rows) const {
    const auto* data = static_cast<const std::byte*>(view_.data) + first_row * view_.row_stride;
    const std::ptrdiff_t down = view_.row_stride, across = view_.column_stride;
    const std::int64_t width = view_.width;
    switch (sample_size_) {
        case 1:
            return fill_rows<std::uint8_t>(data, down, across, width, rows, mask_, band);
        case 2:
            return fill_rows<std::uint16_t>(data, down, across, width, rows, mask_, band);
        case 4:
            return fill_rows<std::uint32_t>(data, down, across, width, rows, mask_, band);
        default:
            return fill_rows<std::uint64_t>(data, down, across, width, rows, mask_, band);
    }
}

runlabel::Labeling Image::label(const runlabel::Options& options) const {
    if (in_place_) return runlabel::label(view_, options);
    const std::int64_t width = view_.width, height = view_.height;
    // One thread: each band given to a labeler of several threads would be
    // cut into bands of their own, each holding buffers as wide as the image
    // until the end.
    runlabel::Options one_thread = options;
    one_thread.threads = 1;
    runlabel::Labeler labeler(width, one_thread);
    const std::int64_t band_rows = std::clamp<std::int64_t>(kBandBytes / width, 1, height);
    std::vector<std::uint8_t> band(static_cast<std::size_t>(band_rows * width));
    // Rows that are all one row (a stride of 0) make one band, given again.
    const bool one_row = height > 1 && view_.row_stride == 0;
    for (std::int64_t row = 0; row < height;) {
        const std::int64_t rows = std::min(band_rows, height - row);
        if (row == 0 || !one_row) fill_band(band.data(), row, rows);
        labeler.add_rows(runlabel::image_view(band.data(), width, rows));
        row += rows;
    }
    return labeler.finish();
}

}  // namespace pixels
