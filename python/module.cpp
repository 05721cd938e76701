// The runlabel Python module: numpy arrays to and from the public C++ API.
// Arrays are viewed where they lie, through their own byte strides, and stay
// referenced while the library works on them without the GIL. New arrays live
// in the library's heap until their last view dies.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "runlabel/runlabel.h"
#include "support/support.h"

namespace py = pybind11;

namespace {

using runlabel::ImageView;
using runlabel::LabelType;
using runlabel::LabelView;
using runlabel::PixelType;

std::string text_of(py::handle object) { return py::str(object).cast<std::string>(); }

bool has_flag(const py::array& array, int flag) { return (array.flags() & flag) != 0; }

PixelType pixel_type_of(const py::dtype& dtype) {
    const char kind = dtype.kind();
    if (kind == 'b' && dtype.itemsize() == 1) return PixelType::boolean;
    if (kind == 'u' || kind == 'i') {
        const bool is_signed = kind == 'i';
        switch (dtype.itemsize()) {
            case 1:
                return is_signed ? PixelType::i8 : PixelType::u8;
            case 2:
                return is_signed ? PixelType::i16 : PixelType::u16;
            case 4:
                return is_signed ? PixelType::i32 : PixelType::u32;
            case 8:
                return is_signed ? PixelType::i64 : PixelType::u64;
            default:
                break;
        }
    }
    throw py::type_error("image pixels must be bool or integers, not " + text_of(dtype));
}

LabelType label_type_of(const py::dtype& dtype, const std::string& what) {
    const char kind = dtype.kind();
    if (kind == 'u' || kind == 'i') {
        // Labels are written in the machine's order; pixels are only tested
        // for zero, which any order answers.
        if (!dtype.attr("isnative").cast<bool>()) {
            throw py::value_error(what + " must be in the machine's byte order, not " +
                                  text_of(dtype.attr("str")));
        }
        const bool is_signed = kind == 'i';
        switch (dtype.itemsize()) {
            case 1:
                return is_signed ? LabelType::i8 : LabelType::u8;
            case 2:
                return is_signed ? LabelType::i16 : LabelType::u16;
            case 4:
                return is_signed ? LabelType::i32 : LabelType::u32;
            case 8:
                return is_signed ? LabelType::i64 : LabelType::u64;
            default:
                break;
        }
    }
    throw py::type_error(what + " must be 8- to 64-bit integers, not " + text_of(dtype));
}

py::dtype dtype_of(LabelType type) {
    switch (type) {
        case LabelType::u8:
            return py::dtype::of<std::uint8_t>();
        case LabelType::i8:
            return py::dtype::of<std::int8_t>();
        case LabelType::u16:
            return py::dtype::of<std::uint16_t>();
        case LabelType::i16:
            return py::dtype::of<std::int16_t>();
        case LabelType::u32:
            return py::dtype::of<std::uint32_t>();
        case LabelType::i32:
            return py::dtype::of<std::int32_t>();
        case LabelType::u64:
            return py::dtype::of<std::uint64_t>();
        case LabelType::i64:
            break;
    }
    return py::dtype::of<std::int64_t>();
}

// A stride of 0 across several elements (a broadcast array) has no view: 0
// means packed there. Across one element or none a stride means nothing.
bool strides_expressible(const py::array& array) {
    for (py::ssize_t d = 0; d < 2; ++d) {
        if (array.shape(d) > 1 && array.strides(d) == 0) return false;
    }
    return true;
}

template <typename View>
void set_geometry(View& view, const py::array& array) {
    view.height = array.shape(0);
    view.width = array.shape(1);
    view.column_stride = view.width > 1 ? array.strides(1) : array.itemsize();
    view.row_stride = view.height > 1 ? array.strides(0) : view.column_stride * view.width;
}

std::string dimensions_text(const py::array& array) { return std::to_string(array.ndim()) + "-D"; }

// A 2-D array to read in place, converted only when the object is not an
// array; the rare arrays a view cannot describe (broadcast, misaligned) are
// copied.
py::array readable_array(const py::object& object, const std::string& what) {
    py::array array = py::array::ensure(object);
    if (!array)
        throw py::type_error(what + " must be a 2-D array, not " + text_of(object.get_type()));
    if (array.ndim() != 2) {
        throw py::value_error(what + " must be a 2-D array, not " + dimensions_text(array));
    }
    if (array.size() > 0 && (!strides_expressible(array) ||
                             !has_flag(array, py::detail::npy_api::NPY_ARRAY_ALIGNED_))) {
        // A copy of its own is packed and aligned (ascontiguousarray keeps a
        // misaligned array that is contiguous).
        array = array.attr("copy")();
    }
    return array;
}

py::array image_array(const py::object& image) {
    py::array array = readable_array(image, "image");
    pixel_type_of(array.dtype());
    return array;
}

ImageView image_view_of(const py::array& array) {
    ImageView view;
    view.data = array.data();
    view.type = pixel_type_of(array.dtype());
    set_geometry(view, array);
    return view;
}

LabelView label_view_of(py::array& array) {
    LabelView view;
    // Only written when the array is writable (it is when it is to be painted).
    view.data = array.writeable() ? array.mutable_data() : const_cast<void*>(array.data());
    view.type = label_type_of(array.dtype(), "labels");
    set_geometry(view, array);
    return view;
}

// Blocks of the library's heap, which keeps large ones when they are freed
// and hands them out again with their pages in place: numpy's arrays come in
// fresh pages, each a fault that costs more than writing the page.
using HeapBlock = std::unique_ptr<void, void (*)(void*)>;

HeapBlock heap_block(std::size_t count, std::size_t size) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes)) throw std::bad_alloc();
    HeapBlock block(heap_alloc(bytes, false), heap_free);
    if (!block) throw std::bad_alloc();
    return block;
}

// A new array in a heap block, which goes back when the last view of it dies.
py::array heap_array(const py::dtype& dtype, const std::vector<py::ssize_t>& shape) {
    std::size_t count = 1;
    for (const py::ssize_t n : shape) {
        if (__builtin_mul_overflow(count, static_cast<std::size_t>(n), &count)) {
            throw std::bad_alloc();
        }
    }
    HeapBlock block = heap_block(count, static_cast<std::size_t>(dtype.itemsize()));
    const py::capsule owner(block.get(), heap_free);
    return py::array(dtype, shape, block.release(), owner);
}

// The caller's out array, checked as a place to paint labels.
py::array out_array(const py::object& out, const py::array& image, const py::object& dtype) {
    if (!py::isinstance<py::array>(out)) {
        throw py::type_error("out must be a numpy array, not " + text_of(out.get_type()));
    }
    auto array = py::reinterpret_borrow<py::array>(out);
    if (array.ndim() != 2 || array.shape(0) != image.shape(0) || array.shape(1) != image.shape(1)) {
        throw py::value_error("out has shape " + text_of(array.attr("shape")) + ", the image " +
                              text_of(image.attr("shape")));
    }
    label_type_of(array.dtype(), "out");
    if (!dtype.is_none() && !array.dtype().equal(py::dtype::from_args(dtype))) {
        throw py::value_error("dtype " + text_of(py::dtype::from_args(dtype)) +
                              " differs from out's " + text_of(array.dtype()));
    }
    if (!array.writeable()) throw py::value_error("out is read-only");
    if (array.size() > 0) {
        if (!has_flag(array, py::detail::npy_api::NPY_ARRAY_ALIGNED_)) {
            throw py::value_error("out is not aligned for its dtype");
        }
        if (!strides_expressible(array)) {
            throw py::value_error("out repeats elements (a stride of 0)");
        }
    }
    return array;
}

// The bytes a view's elements span, [first, last).
template <typename View>
std::pair<const std::byte*, const std::byte*> extent(const View& view, std::size_t element) {
    const auto* first = static_cast<const std::byte*>(view.data);
    const auto* last = first + element;
    for (const auto& [count, stride] :
         {std::pair{view.height, view.row_stride}, std::pair{view.width, view.column_stride}}) {
        const std::ptrdiff_t reach = (count - 1) * stride;
        (reach < 0 ? first : last) += reach;
    }
    return {first, last};
}

bool overlap(const ImageView& image, const py::array& pixels, const LabelView& out,
             const py::array& labels) {
    if (pixels.size() == 0) return false;
    const auto a = extent(image, static_cast<std::size_t>(pixels.itemsize()));
    const auto b = extent(out, static_cast<std::size_t>(labels.itemsize()));
    return a.first < b.second && b.first < a.second;
}

int connectivity_of(int connectivity) {
    // scikit-image counts the steps to a neighbour: 1 for edges, 2 for corners.
    if (connectivity == 1 || connectivity == 4) return 4;
    if (connectivity == 2 || connectivity == 8) return 8;
    throw py::value_error("connectivity must be 4 or 8 (or 1 or 2), not " +
                          std::to_string(connectivity));
}

std::uint64_t first_label_of(const py::object& offset) {
    auto index = py::reinterpret_steal<py::object>(PyNumber_Index(offset.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow < 0 || (overflow == 0 && small < 1)) {
        throw py::value_error("offset must be at least 1, not " + text_of(index));
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.ptr());
    if (PyErr_Occurred() != nullptr) {
        PyErr_Clear();
        throw py::value_error("offset must be below 2**64, not " + text_of(index));
    }
    return value;
}

py::tuple label(const py::object& image, int connectivity, const py::object& dtype,
                const py::object& out, const py::object& offset) {
    runlabel::Options options;
    options.connectivity = connectivity_of(connectivity);
    options.first_label = first_label_of(offset);
    const py::array pixels = image_array(image);
    const ImageView view = image_view_of(pixels);
    const std::vector<py::ssize_t> shape{pixels.shape(0), pixels.shape(1)};
    std::uint64_t count = 0;

    if (out.is_none() && dtype.is_none()) {
        // The narrowest type is known once the regions are counted.
        runlabel::Labeling labeling;
        {
            py::gil_scoped_release unlocked;
            labeling = runlabel::label(view, options);
        }
        py::array labels = heap_array(dtype_of(labeling.narrowest_label_type()), shape);
        const LabelView into = label_view_of(labels);
        {
            py::gil_scoped_release unlocked;
            labeling.paint(into, view);
        }
        return py::make_tuple(labels, labeling.count());
    }

    py::array labels;
    if (out.is_none()) {
        const py::dtype type = py::dtype::from_args(dtype);
        label_type_of(type, "dtype");
        labels = heap_array(type, shape);
    } else {
        labels = out_array(out, pixels, dtype);
    }
    const LabelView into = label_view_of(labels);
    if (overlap(view, pixels, into, labels)) {
        // Painting reads the image's pixels as it writes labels; labels
        // written over the image come from the runs alone.
        py::gil_scoped_release unlocked;
        const runlabel::Labeling labeling = runlabel::label(view, options);
        labeling.paint(into);
        count = labeling.count();
    } else {
        py::gil_scoped_release unlocked;
        count = runlabel::label(view, into, options);
    }
    return py::make_tuple(labels, count);
}

template <typename T>
T* column(py::dict& table, const char* key, std::size_t rows) {
    py::array values = heap_array(py::dtype::of<T>(), {static_cast<py::ssize_t>(rows)});
    table[key] = values;
    return static_cast<T*>(values.mutable_data());
}

py::dict regions(const py::object& image, int connectivity, std::int64_t min_area) {
    runlabel::Options options;
    options.connectivity = connectivity_of(connectivity);
    if (min_area < 0) {
        throw py::value_error("min_area must not be negative, not " + std::to_string(min_area));
    }
    options.min_area = static_cast<std::uint64_t>(min_area);
    const py::array pixels = image_array(image);
    const ImageView view = image_view_of(pixels);
    runlabel::Labeling labeling;
    {
        py::gil_scoped_release unlocked;
        labeling = runlabel::label(view, options);
    }
    const std::size_t n = labeling.count();
    const HeapBlock records = heap_block(n, sizeof(runlabel::Region));
    const auto* found = static_cast<const runlabel::Region*>(records.get());
    {
        py::gil_scoped_release unlocked;
        labeling.regions(static_cast<runlabel::Region*>(records.get()));
        // Its blocks back to the heap, for the columns to take.
        labeling = {};
    }
    py::dict table;
    auto* label = column<std::int64_t>(table, "label", n);
    auto* area = column<std::int64_t>(table, "area", n);
    auto* top = column<std::int64_t>(table, "bbox-0", n);
    auto* left = column<std::int64_t>(table, "bbox-1", n);
    auto* bottom = column<std::int64_t>(table, "bbox-2", n);
    auto* right = column<std::int64_t>(table, "bbox-3", n);
    auto* row = column<double>(table, "centroid-0", n);
    auto* col = column<double>(table, "centroid-1", n);
    for (std::size_t k = 0; k < n; ++k) {
        const runlabel::Region& r = found[k];
        label[k] = static_cast<std::int64_t>(r.label);
        area[k] = static_cast<std::int64_t>(r.area);
        // Boxes as scikit-image gives them: the far edges one past the last pixel.
        top[k] = r.top;
        left[k] = r.left;
        bottom[k] = r.bottom + 1;
        right[k] = r.right + 1;
        row[k] = r.centroid_y();
        col[k] = r.centroid_x();
    }
    return table;
}

py::dtype dtype_of(PixelType type) {
    switch (type) {
        case PixelType::boolean:
            return py::dtype::of<bool>();
        case PixelType::u16:
            return py::dtype::of<std::uint16_t>();
        case PixelType::u32:
            return py::dtype::of<std::uint32_t>();
        case PixelType::u64:
            return py::dtype::of<std::uint64_t>();
        default:
            return py::dtype::of<std::uint8_t>();
    }
}

// A str, bytes or os.PathLike path as the file system's bytes.
std::string path_of(const py::object& path) {
    return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

py::array read_file(const py::object& path) {
    const std::string name = path_of(path);
    auto image = std::make_unique<runlabel::Image>();
    {
        py::gil_scoped_release unlocked;
        *image = runlabel::read_image(name);
    }
    const py::dtype dtype = dtype_of(image->type);
    std::vector<py::ssize_t> shape{image->height, image->width};
    if (image->channels != 1) shape.push_back(image->channels);
    const auto bytes =
        static_cast<std::size_t>(image->height * image->width * image->channels * dtype.itemsize());
    if (image->data.size() != bytes) {
        throw py::value_error(text_of(path) + ": the reader gave " +
                              std::to_string(image->data.size()) + " bytes for " +
                              std::to_string(bytes));
    }
    // The array takes the samples over as they are.
    void* data = image->data.data();
    py::capsule owner(image.get(), [](void* p) { delete static_cast<runlabel::Image*>(p); });
    image.release();
    return py::array(dtype, shape, data, owner);
}

void write_file(const py::object& path, const py::object& labels) {
    const std::string name = path_of(path);
    py::array array = readable_array(labels, "labels");
    const LabelView view = label_view_of(array);
    py::gil_scoped_release unlocked;
    runlabel::write_labels(name, view);
}

}  // namespace

PYBIND11_MODULE(runlabel, m) {
    m.doc() = R"(Connected regions of binary images, labelled by runs.

Every non-zero pixel of a 2-D array of bool or integers is foreground; regions
are its 4- or 8-connected sets, numbered in the order a row-by-row scan first
meets them, as scipy.ndimage.label numbers them. Each row is run-length
encoded and labeling works on the runs; the arrays are read in place, whatever
their strides, and the labeling releases the GIL.

    label(image, connectivity=4, dtype=None, out=None, offset=1) -> (labels, count)
    regions(image, connectivity=4, min_area=0) -> dict of arrays

Errors of the library are runlabel.Error, a ValueError.)";
    m.attr("__version__") = RUNLABEL_VERSION;
    py::register_exception<runlabel::error>(m, "Error", PyExc_ValueError);

    m.def("label", &label, py::arg("image"), py::arg("connectivity") = 4,
          py::arg("dtype") = py::none(), py::arg("out") = py::none(), py::arg("offset") = 1,
          R"(Label the connected regions of a 2-D image.

image         2-D array of bool or 8- to 64-bit integers; non-zero is
              foreground. C- or Fortran-ordered or any strided view, read in
              place. Other objects are converted with numpy.asarray.
connectivity  4: pixels sharing an edge are neighbours (scipy.ndimage.label's
              default cross); 8: corners too (a full 3x3 structure). 1 and 2
              are scikit-image's names for 4 and 8.
dtype         the labels' integer type; by default the narrowest unsigned
              type that holds the last label (offset + count - 1).
out           a writable 2-D integer array of the image's shape (any strides)
              to paint the labels into; returned as labels. It may be the
              image itself.
offset        the first region's label, at least 1.

Returns (labels, count): labels holds each pixel's region label, 0 for
background, regions numbered offset, offset + 1, ... in raster order of their
first pixel; count is the number of regions.

Raises ValueError (runlabel.Error for the library's own complaints) when the
labels do not fit dtype or out (nothing is written then), for a shape that is
not 2-D, a bad connectivity or offset; TypeError for pixels or labels of a type
not listed; MemoryError when memory runs out.

>>> import numpy as np, runlabel
>>> labels, count = runlabel.label(np.array([[1, 0, 1], [1, 0, 0], [0, 1, 1]]))
>>> count
3
>>> labels
array([[1, 0, 2],
       [1, 0, 0],
       [0, 3, 3]], dtype=uint8))");

    m.def("regions", &regions, py::arg("image"), py::arg("connectivity") = 4,
          py::arg("min_area") = 0,
          R"(Statistics of the connected regions of a 2-D image.

image, connectivity  as for label(); min_area drops regions of fewer pixels,
the others numbered 1, 2, ... in raster order.

Returns a dict of 1-D arrays, one element per region, with the keys and types
of skimage.measure.regionprops_table(labels, properties=('label', 'area',
'bbox', 'centroid')), so that pandas.DataFrame(regions(image)) is a table:

  label       int64    the region's label
  area        int64    its pixels
  bbox-0/1    int64    first row and column of its bounding box
  bbox-2/3    int64    last row and column plus one
  centroid-0  float64  mean row of its pixels
  centroid-1  float64  mean column

The figures come from the runs, without painting a label image.

>>> runlabel.regions(np.array([[1, 1, 0], [0, 0, 1]]))['area']
array([2, 1]))");
    m.def("read", &read_file, py::arg("path"),
          R"(Read an image file: PBM, PGM, PPM, PAM, PNG or TIFF, known by its content.

path  a str, bytes or os.PathLike; "-" is standard input.

Returns a numpy array of the samples as stored: height x width for one
channel, height x width x channels for more; uint8 to uint64 as the file's
samples are wide; bool for a bitmap (PBM, bilevel TIFF), True for a set bit.
The array is the reader's own buffer, not a copy.

Raises ValueError (runlabel.Error) with the reader's message when the file
cannot be read or is not an image it knows.

>>> image = runlabel.read("examples/shapes.pgm")
>>> image.shape, image.dtype
((32, 48), dtype('uint8')))");

    m.def("write", &write_file, py::arg("path"), py::arg("labels"),
          R"(Write a label image in the format its name asks for.

path    .png (8 or 16 bits), .tif or .tiff (8 to 64), .npy (8 to 64), .pam (8
        or 16), any other name an 8-bit PGM greymap.
labels  a 2-D array of 8- to 64-bit integers, any strides; signed labels are
        written as their unsigned bits.

The file is complete or not written at all: an existing one is left as it
was when writing fails. Raises ValueError (runlabel.Error) for a label type
the format cannot hold or a file that cannot be written, TypeError for labels
that are not integers.)");
}
