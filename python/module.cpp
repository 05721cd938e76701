// runlabel._runlabel, the compiled half of the Python package: numpy arrays
// to and from the public C++ API. Arrays stay referenced while the library
// works on them without the GIL; new arrays live in the library's heap until
// their last view dies. Every argument is taken as a Python object and
// checked here, so that a wrong one is one clear exception.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "labeling/region_fields.h"
#include "python/pixels.h"
#include "runlabel/runlabel.h"
#include "support/raster_size.h"
#include "support/support.h"

namespace py = pybind11;

namespace {

using pixels::text_of;
using runlabel::LabelType;
using runlabel::LabelView;
using runlabel::PixelType;

std::string type_name(py::handle object) {
    return text_of(py::type::handle_of(object).attr("__name__"));
}

bool has_flag(const py::array& array, int flag) { return (array.flags() & flag) != 0; }

[[noreturn]] void raise_memory_error(const std::string& what) {
    PyErr_SetString(PyExc_MemoryError, what.c_str());
    throw py::error_already_set();
}

// work() without the GIL; memory it cannot have is a MemoryError saying what
// it was for ("to label a 3 x 4 image").
template <typename Work>
void without_gil(const std::string& purpose, Work&& work) {
    try {
        py::gil_scoped_release unlocked;
        work();
    } catch (const std::bad_alloc&) {
        raise_memory_error("not enough memory " + purpose);
    }
}

std::string size_text(std::int64_t height, std::int64_t width) {
    return std::to_string(height) + " x " + std::to_string(width);
}

// An integer argument: an int or anything with __index__ (numpy's integers).
std::uint64_t integer_of(const py::object& value, const std::string& name, std::uint64_t low,
                         std::uint64_t high, const std::string& range) {
    auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) {
        PyErr_Clear();
        throw py::type_error(name + " must be an integer, not " + type_name(value));
    }
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    std::uint64_t number = static_cast<std::uint64_t>(small);
    bool fits = overflow == 0 && small >= 0;
    if (overflow > 0) {
        number = PyLong_AsUnsignedLongLong(index.ptr());
        fits = PyErr_Occurred() == nullptr;
        PyErr_Clear();
    }
    if (!fits || number < low || number > high) {
        throw py::value_error(name + " must be " + range + ", not " + text_of(index));
    }
    return number;
}

int connectivity_of(const py::object& value) {
    // scikit-image counts the steps to a neighbour: 1 for edges, 2 for corners.
    const std::string range = "4 or 8 (or 1 or 2)";
    const std::uint64_t n = integer_of(value, "connectivity", 0, 8, range);
    if (n == 1 || n == 4) return 4;
    if (n == 2 || n == 8) return 8;
    throw py::value_error("connectivity must be " + range + ", not " + std::to_string(n));
}

runlabel::Numbering numbering_of(const py::object& sort) {
    const char* choices = "sort must be 'raster' or 'area'";
    if (!py::isinstance<py::str>(sort)) {
        throw py::type_error(std::string(choices) + ", not " + type_name(sort));
    }
    const auto name = sort.cast<std::string>();
    if (name == "raster") return runlabel::Numbering::raster;
    if (name == "area") return runlabel::Numbering::area;
    throw py::value_error(std::string(choices) + ", not " + text_of(py::repr(sort)));
}

runlabel::Options options_of(const py::object& connectivity, const py::object& min_area,
                             const py::object& sort, const py::object& threads) {
    runlabel::Options options;
    options.connectivity = connectivity_of(connectivity);
    options.min_area = integer_of(min_area, "min_area", 0, UINT64_MAX, "0 to 2**64 - 1");
    options.numbering = numbering_of(sort);
    options.threads =
        static_cast<int>(integer_of(threads, "threads", 0, 1024, "0 (every core) to 1024"));
    return options;
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

// A 2-D array of labels to write, converted when the object is not an array;
// the rare arrays a view cannot describe (broadcast, misaligned) are copied.
py::array labels_to_write(const py::object& object) {
    py::array array = py::array::ensure(object);
    if (!array) throw py::type_error("labels must be a 2-D array, not " + type_name(object));
    if (array.ndim() != 2) {
        throw py::value_error("labels must be a 2-D array, not " + std::to_string(array.ndim()) +
                              "-D");
    }
    if (array.size() > 0 && (pixels::geometry_of(array).repeats() ||
                             !has_flag(array, py::detail::npy_api::NPY_ARRAY_ALIGNED_))) {
        // A copy of its own is packed and aligned (ascontiguousarray keeps a
        // misaligned array that is contiguous).
        array = array.attr("copy")();
    }
    return array;
}

LabelView label_view_of(py::array& array) {
    LabelView view;
    // Only written when the array is writable (it is when it is to be painted).
    view.data = array.writeable() ? array.mutable_data() : const_cast<void*>(array.data());
    view.type = label_type_of(array.dtype(), "labels");
    const pixels::Geometry g = pixels::geometry_of(array);
    view.height = g.height;
    view.width = g.width;
    view.row_stride = g.row_stride;
    view.column_stride = g.column_stride;
    return view;
}

// Blocks of the library's heap, which keeps large ones when they are freed
// and hands them out again with their pages in place: numpy's arrays come in
// fresh pages, each a fault that costs more than writing the page.
using HeapBlock = std::unique_ptr<void, void (*)(void*)>;

HeapBlock heap_block(std::size_t count, std::size_t size, const std::string& what) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes)) {
        raise_memory_error("cannot allocate " + std::to_string(count) + " x " +
                           std::to_string(size) + " bytes for " + what);
    }
    HeapBlock block(heap_alloc(bytes, false), heap_free);
    if (!block)
        raise_memory_error("cannot allocate " + std::to_string(bytes) + " bytes for " + what);
    return block;
}

// A new array in a heap block, which goes back when the last view of it dies.
py::array heap_array(const py::dtype& dtype, const std::vector<py::ssize_t>& shape,
                     const std::string& what) {
    std::size_t count = 1;
    for (const py::ssize_t n : shape) count *= static_cast<std::size_t>(n);  // numpy's own sizes
    HeapBlock block = heap_block(count, static_cast<std::size_t>(dtype.itemsize()), what);
    const py::capsule owner(block.get(), heap_free);
    return py::array(dtype, shape, block.release(), owner);
}

// The caller's out array, checked as a place to paint labels.
py::array out_array(const py::object& out, const pixels::Image& image, const py::object& dtype) {
    if (!py::isinstance<py::array>(out)) {
        throw py::type_error("out must be a numpy array, not " + type_name(out));
    }
    auto array = py::reinterpret_borrow<py::array>(out);
    const std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
    if (shape != image.shape()) {
        throw py::value_error("out has shape " + text_of(array.attr("shape")) + ", the image " +
                              text_of(image.array().attr("shape")));
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
        if (pixels::geometry_of(array).repeats()) {
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

bool overlap(const pixels::Image& image, const LabelView& out, const py::array& labels) {
    if (image.array().size() == 0) return false;
    const auto a = extent(image.view(), static_cast<std::size_t>(image.array().itemsize()));
    const auto b = extent(out, static_cast<std::size_t>(labels.itemsize()));
    return a.first < b.second && b.first < a.second;
}

py::tuple label(const py::object& image, const py::object& connectivity, const py::object& dtype,
                const py::object& out, const py::object& offset, const py::object& min_area,
                const py::object& sort, const py::object& threads) {
    runlabel::Options options = options_of(connectivity, min_area, sort, threads);
    options.first_label = integer_of(offset, "offset", 1, UINT64_MAX, "1 to 2**64 - 1");
    const pixels::Image pixels(image, 0);
    const std::string size = size_text(pixels.height(), pixels.width());
    const std::string labelling = "to label a " + size + " image (its runs and their tables)";
    const auto labels_of = [&](const py::dtype& type) {
        return "the " + text_of(type) + " labels of a " + size + " image";
    };

    if (out.is_none() && dtype.is_none()) {
        // The narrowest type is known once the regions are counted.
        runlabel::Labeling labeling;
        without_gil(labelling, [&] { labeling = pixels.label(options); });
        const py::dtype type = dtype_of(labeling.narrowest_label_type());
        py::array labels = heap_array(type, pixels.shape(), labels_of(type));
        const LabelView into = label_view_of(labels);
        without_gil("to paint the labels", [&] { pixels.paint(labeling, into, options.threads); });
        return py::make_tuple(labels, labeling.count());
    }

    py::array labels;
    if (out.is_none()) {
        const py::dtype type = py::dtype::from_args(dtype);
        label_type_of(type, "dtype");
        labels = heap_array(type, pixels.shape(), labels_of(type));
    } else {
        labels = out_array(out, pixels, dtype);
    }
    const LabelView into = label_view_of(labels);
    std::uint64_t count = 0;
    if (pixels.in_place() && !overlap(pixels, into, labels)) {
        without_gil(labelling, [&] { count = runlabel::label(pixels.view(), into, options); });
    } else {
        // Labels written over the image come from the runs alone, once every
        // pixel has been read.
        without_gil(labelling, [&] {
            const runlabel::Labeling labeling = pixels.label(options);
            labeling.paint_rows(into, 0, options.threads > 0 ? options.threads : usable_cores());
            count = labeling.count();
        });
    }
    return py::make_tuple(labels, count);
}

template <typename T>
T* column(py::dict& table, const char* key, std::size_t rows) {
    py::array values = heap_array(py::dtype::of<T>(), {static_cast<py::ssize_t>(rows)},
                                  "a column of " + std::to_string(rows) + " regions");
    table[key] = values;
    return static_cast<T*>(values.mutable_data());
}

constexpr auto kColumns = runlabel::engine::RegionStatistics::python_columns<runlabel::Region>();

// The statistics' columns of n regions into table, in their order (a dict
// keeps it). Every array is made before any is filled, so that the records
// are read once, each region's values written to every column in turn.
template <std::size_t... I>
void fill_columns(py::dict& table, const runlabel::Region* found, std::size_t n,
                  std::index_sequence<I...>) {
    // A braced list makes the arrays, and the dict's keys, in column order.
    const std::tuple into{column<decltype(std::get<I>(kColumns).value(*found))>(
        table, std::get<I>(kColumns).name, n)...};
    for (std::size_t k = 0; k < n; ++k) {
        ((std::get<I>(into)[k] = std::get<I>(kColumns).value(found[k])), ...);
    }
}

py::dict regions(const py::object& image, const py::object& connectivity,
                 const py::object& min_area, const py::object& sort, const py::object& threads) {
    const runlabel::Options options = options_of(connectivity, min_area, sort, threads);
    const pixels::Image pixels(image, 2);
    runlabel::Labeling labeling;
    without_gil("to label a " + size_text(pixels.height(), pixels.width()) +
                    " image (its runs and their tables)",
                [&] { labeling = pixels.label(options); });
    const std::size_t n = labeling.count();
    const HeapBlock records = heap_block(n, sizeof(runlabel::Region),
                                         "the statistics of " + std::to_string(n) + " regions");
    const auto* found = static_cast<const runlabel::Region*>(records.get());
    {
        py::gil_scoped_release unlocked;
        labeling.regions(static_cast<runlabel::Region*>(records.get()));
        // Its blocks back to the heap, for the columns to take.
        labeling = {};
    }
    py::dict table;
    fill_columns(table, found, n,
                 std::make_index_sequence<std::tuple_size_v<decltype(kColumns)>>{});
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

// A file the system refused, as Python's own OSError for its errno
// (FileNotFoundError, PermissionError, ...) with the caller's path.
[[noreturn]] void raise_os_error(const runlabel::file_error& e, const py::object& path) {
    const py::object filename = py::module_::import("os").attr("fspath")(path);
    const py::tuple args = py::make_tuple(e.code(), std::strerror(e.code()), filename);
    PyErr_SetObject(PyExc_OSError, args.ptr());
    throw py::error_already_set();
}

std::string shown(const py::object& path) {
    return text_of(py::module_::import("os").attr("fsdecode")(path));
}

py::array read_file(const py::object& path) {
    const std::string name = path_of(path);
    auto image = std::make_unique<runlabel::Image>();
    try {
        without_gil("to read " + shown(path), [&] { *image = runlabel::read_image(name); });
    } catch (const runlabel::file_error& e) {
        raise_os_error(e, path);
    }
    const py::dtype dtype = dtype_of(image->type);
    std::vector<py::ssize_t> shape{image->height, image->width};
    if (image->channels != 1) shape.push_back(image->channels);
    std::size_t bytes = 0;
    if (!raster_bytes(image->width, image->height, image->channels,
                      8 * static_cast<int>(dtype.itemsize()), &bytes) ||
        image->data.size() != bytes) {
        throw py::value_error(shown(path) + ": the reader gave " +
                              std::to_string(image->data.size()) + " bytes for a " +
                              size_text(image->height, image->width) + " x " +
                              std::to_string(image->channels) + " image of " + text_of(dtype));
    }
    // The array takes the samples over as they are.
    void* data = image->data.data();
    py::capsule owner(image.get(), [](void* p) { delete static_cast<runlabel::Image*>(p); });
    image.release();
    return py::array(dtype, shape, data, owner);
}

void write_file(const py::object& path, const py::object& labels) {
    const std::string name = path_of(path);
    py::array array = labels_to_write(labels);
    const LabelView view = label_view_of(array);
    try {
        without_gil("to write " + shown(path), [&] { runlabel::write_labels(name, view); });
    } catch (const runlabel::file_error& e) {
        raise_os_error(e, path);
    }
}

// Python's name for a function of the package, whose help() and inspect
// show it as runlabel.NAME.
void belongs_to_package(py::module_& m, const char* name) {
    m.attr(name).attr("__module__") = "runlabel";
}

}  // namespace

PYBIND11_MODULE(_runlabel, m) {
    m.doc() = "The compiled half of the runlabel package; import runlabel.";
    m.attr("__version__") = std::to_string(RUNLABEL_VERSION_MAJOR) + "." +
                            std::to_string(RUNLABEL_VERSION_MINOR) + "." +
                            std::to_string(RUNLABEL_VERSION_PATCH);
    py::register_exception<runlabel::error>(m, "Error", PyExc_ValueError);
    m.attr("Error").attr("__module__") = "runlabel";

    // Each docstring opens with the signature as CPython's own built-ins
    // write it ("NAME(...)\n--\n\n"), which inspect.signature reads.
    py::options options;
    options.disable_function_signatures();

    m.def(
        "label", &label, py::arg("image"), py::arg("connectivity") = 4,
        py::arg("dtype") = py::none(), py::arg("out") = py::none(), py::arg("offset") = 1,
        py::kw_only(), py::arg("min_area") = 0, py::arg("sort") = "raster", py::arg("threads") = 1,
        R"(label(image, connectivity=4, dtype=None, out=None, offset=1, *, min_area=0, sort='raster', threads=1)
--

Label the connected regions of an image.

image         a 2-D array (a 1-D or 0-D one is one row) of bool, integers
              (8 to 64 bits, either byte order) or floats (16 to 64 bits);
              non-zero and NaN are foreground. Any strides, broadcast views
              included, read in place: floats and the rare arrays the library
              cannot read where they lie (misaligned, broadcast) are tested a
              band of rows at a time, never copied whole. Other objects are
              converted with numpy.asarray.
connectivity  4: pixels sharing an edge are neighbours (scipy.ndimage.label's
              default cross); 8: corners too (a full 3x3 structure). 1 and 2
              are scikit-image's names for 4 and 8.
dtype         the labels' integer type; by default the narrowest unsigned
              type that holds the last label (offset + count - 1).
out           a writable integer array of the image's shape (any strides) to
              paint the labels into; returned as labels. It may be the image
              itself.
offset        the first region's label, at least 1.
min_area      regions of fewer pixels are background, the others numbered
              without gaps (the command line's --min-area).
sort          'raster': regions numbered in the order a row-by-row scan first
              meets them, as scipy numbers them; 'area': by decreasing area,
              equal areas in raster order (--sort).
threads       threads to label with; 0: every core the process may use
              (--threads). Every result is the same for any number.

Returns (labels, count): labels holds each pixel's region label, 0 for
background, regions numbered offset, offset + 1, ...; count is the number of
regions.

Raises ValueError (runlabel.Error for the library's own complaints) when the
labels do not fit dtype or out (nothing is written then), for more than 2
dimensions, a bad connectivity, offset, min_area, sort or threads; TypeError
for an image, labels or argument of a type not listed; MemoryError, saying
what for, when memory runs out.

>>> import numpy as np, runlabel
>>> labels, count = runlabel.label(np.array([[1, 0, 1], [1, 0, 0], [0, 1, 1]]))
>>> count
3
>>> labels
array([[1, 0, 2],
       [1, 0, 0],
       [0, 3, 3]], dtype=uint8))");
    belongs_to_package(m, "label");

    m.def("regions", &regions, py::arg("image"), py::arg("connectivity") = 4,
          py::arg("min_area") = 0, py::kw_only(), py::arg("sort") = "raster",
          py::arg("threads") = 1,
          R"(regions(image, connectivity=4, min_area=0, *, sort='raster', threads=1)
--

Statistics of the connected regions of a 2-D image.

image, connectivity, min_area, sort, threads  as for label().

Returns a dict of 1-D arrays, one element per region in label order, with
the keys and types of skimage.measure.regionprops_table(labels,
properties=('label', 'area', 'bbox', 'centroid')), so that
pandas.DataFrame(regions(image)) is a table:

  label       int64    the region's label
  area        int64    its pixels
  bbox-0/1    int64    first row and column of its bounding box
  bbox-2/3    int64    last row and column plus one
  centroid-0  float64  mean row of its pixels
  centroid-1  float64  mean column

The figures come from the runs, without painting a label image. Raises as
label() does.

>>> runlabel.regions(np.array([[1, 1, 0], [0, 0, 1]]))['area']
array([2, 1]))");
    belongs_to_package(m, "regions");

    m.def("read", &read_file, py::arg("path"),
          R"(read(path)
--

Read an image file: PBM, PGM, PPM, PAM, PNG, TIFF or .npy, known by its
content.

path  a str, bytes or os.PathLike; "-" is standard input.

Returns a numpy array of the samples as stored, alpha included: height x
width for one channel, height x width x channels for more; uint8 to uint64
as the file's samples are wide; bool for a bitmap (PBM, bilevel TIFF), True
for a set bit. The array is the reader's own buffer, not a copy. The command
line counts a pixel as foreground when a sample other than alpha is
non-zero: image[..., :-1].any(axis=2) for grey or colour with alpha.

Raises OSError for a file the system refuses (FileNotFoundError for a
missing one, with its errno and name); ValueError (runlabel.Error) with the
reader's message for a file that is not an image it knows or is damaged;
MemoryError when its samples do not fit in memory.

>>> image = runlabel.read("examples/shapes.pgm")
>>> image.shape, image.dtype
((32, 48), dtype('uint8')))");
    belongs_to_package(m, "read");

    m.def("write", &write_file, py::arg("path"), py::arg("labels"),
          R"(write(path, labels)
--

Write a label image in the format its name asks for.

path    .png (8 or 16 bits), .tif or .tiff (8 to 64), .npy (8 to 64), .pam (8
        or 16), any other name an 8-bit PGM greymap.
labels  a 2-D array of 8- to 64-bit integers, any strides; signed labels are
        written as their unsigned bits.

The file is complete or not written at all: an existing one is left as it
was when writing fails. Raises OSError for a file the system refuses
(FileNotFoundError for a missing directory); ValueError (runlabel.Error) for
a label type the format cannot hold; TypeError for labels that are not
integers.)");
    belongs_to_package(m, "write");
}
