// Image arrays as the library reads them. Integers and bools that a view can
// describe are read where they lie; floats, misaligned arrays and broadcast
// ones (a stride of 0) are turned into a byte mask a band of rows at a time
// and labelled band by band, so that no image is ever copied whole.
#pragma once

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runlabel/runlabel.h"

namespace pixels {

namespace py = pybind11;

// str(object), for messages.
std::string text_of(py::handle object);

// Rows and columns of an array of 0 to 2 dimensions (0-D and 1-D are one
// row), with strides as a view takes them: across one element a stride means
// nothing and is given as packed.
struct Geometry {
    std::int64_t height = 0;
    std::int64_t width = 0;
    std::ptrdiff_t row_stride = 0;
    std::ptrdiff_t column_stride = 0;
    // Whether a stride of 0 repeats elements, which a view cannot say.
    bool repeats() const {
        return (height > 1 && row_stride == 0) || (width > 1 && column_stride == 0);
    }
};
Geometry geometry_of(const py::array& array);

class Image {
  public:
    // image as label() and regions() take it: anything numpy.asarray makes
    // an array of bool, integers or floats, of min_dims to 2 dimensions (0-D
    // and 1-D are one row). TypeError for other types, ValueError for other
    // dimensions.
    Image(const py::object& image, int min_dims);

    const py::array& array() const { return array_; }
    // The array's own shape, and the same as rows and columns.
    const std::vector<py::ssize_t>& shape() const { return shape_; }
    std::int64_t height() const { return view_.height; }
    std::int64_t width() const { return view_.width; }

    // Whether view() is the array's own memory, which painting may read.
    bool in_place() const { return in_place_; }
    // The array's geometry; its type only when in place.
    const runlabel::ImageView& view() const { return view_; }

    // Labels the image, and paints a labeling of it into out (its size) on
    // threads threads (0: every core); neither touches a Python object, so
    // they run without the GIL. An image not in place is labelled on one
    // thread.
    runlabel::Labeling label(const runlabel::Options& options) const;
    void paint(const runlabel::Labeling& labeling, const runlabel::LabelView& out,
               int threads) const;

  private:
    void fill_band(std::uint8_t* band, std::int64_t first_row, std::int64_t rows) const;

    py::array array_;
    std::vector<py::ssize_t> shape_;
    bool in_place_ = true;
    runlabel::ImageView view_;
    // A sample is foreground when its bits, read as an unsigned integer of
    // its size, have one set under mask (a float's all but its sign).
    int sample_size_ = 1;
    std::uint64_t mask_ = 0;
};

// The pixel types label() takes, for messages.
inline constexpr const char* kPixelTypes = "bool, integers or floats";

}  // namespace pixels
