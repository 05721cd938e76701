"""runlabel.label against scipy.ndimage.label, label for label, over shapes,
densities, pixel types (floats too) and memory layouts; its label types, out
arrays, offsets, min_area, numbering by area and complaints; threads, both
the library's and Python's."""
import os
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest
import scipy.ndimage as ndi

import runlabel
from patterns import (FLOAT_TYPES, LABEL_TYPES, PIXEL_TYPES, STRUCTURES, float_noise,
                      isolated, noise, shapes_of_note)

SHAPES = [(0, 0), (0, 5), (5, 0), (1, 1), (1, 37), (37, 1), (2, 2), (13, 17),
          (64, 64), (100, 3), (3, 100), (129, 65)]
DENSITIES = [0.0, 0.1, 0.5, 0.9, 1.0]


def expected(image, connectivity):
    labels, count = ndi.label(image, STRUCTURES[connectivity])
    return labels, count


def check_against_scipy(image, connectivity, **kwargs):
    labels, count = runlabel.label(image, connectivity, **kwargs)
    want, want_count = expected(image, connectivity)
    assert count == want_count
    assert labels.shape == image.shape
    np.testing.assert_array_equal(labels, want)
    return labels, count


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("density", DENSITIES)
@pytest.mark.parametrize("shape", SHAPES, ids=str)
def test_noise_matches_scipy(shape, density, connectivity):
    check_against_scipy(noise(shape, density, seed=1), connectivity)


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("name,image", shapes_of_note(), ids=lambda v: v if isinstance(v, str) else "")
def test_shapes_of_note_match_scipy(name, image, connectivity):
    check_against_scipy(image, connectivity)


LAYOUTS = {
    "c": lambda a: a,
    "fortran": np.asfortranarray,
    "transposed": lambda a: a.T,
    "every-other": lambda a: a[::2, ::3],
    "flipped-rows": lambda a: a[::-1],
    "flipped-both": lambda a: a[::-1, ::-2],
    "fortran-flipped": lambda a: np.asfortranarray(a)[:, ::-1],
    "inner-slice": lambda a: a[3:-4, 5:-2],
    "broadcast-rows": lambda a: np.broadcast_to(a[:1], a.shape),
    "broadcast-columns": lambda a: np.broadcast_to(a[:, :1], a.shape),
}


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("dtype", PIXEL_TYPES, ids=lambda t: np.dtype(t).name)
def test_pixel_types_and_layouts_match_scipy(dtype, layout, connectivity):
    image = LAYOUTS[layout](noise((41, 53), 0.45, dtype, seed=2))
    check_against_scipy(image, connectivity)


def misaligned(image):
    raw = bytearray(image.nbytes + 1)
    copy = np.frombuffer(raw, image.dtype, offset=1, count=image.size).reshape(image.shape)
    assert not copy.flags.aligned
    copy[...] = image
    return copy


@pytest.mark.parametrize("dtype", [np.uint16, np.int32, np.uint64, np.float32, np.float64])
def test_misaligned_image_is_labelled(dtype):
    make = float_noise if np.dtype(dtype).kind == "f" else noise
    check_against_scipy(misaligned(make((19, 23), 0.5, dtype, seed=3)), 8)


# Floats: non-zero and NaN are foreground, -0.0 background, in either byte
# order. scipy takes native float32 and float64 only; the others are
# compared through float64, which holds their values exactly.
@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("layout", ["c", "transposed", "flipped-both", "every-other",
                                    "broadcast-rows", "broadcast-columns"])
@pytest.mark.parametrize("order", ["=", ">"])
@pytest.mark.parametrize("dtype", FLOAT_TYPES, ids=lambda t: np.dtype(t).name)
def test_floats_match_scipy(dtype, order, layout, connectivity):
    image = float_noise((41, 53), 0.45, dtype, seed=15).astype(np.dtype(dtype).newbyteorder(order))
    image = LAYOUTS[layout](image)
    labels, count = runlabel.label(image, connectivity)
    want, want_count = expected(image.astype(np.float64), connectivity)
    assert count == want_count
    np.testing.assert_array_equal(labels, want)


@pytest.mark.parametrize("dtype", FLOAT_TYPES, ids=lambda t: np.dtype(t).name)
def test_float_zero_tests(dtype):
    values = np.array([[0.0, -0.0, np.nan, -np.nan, np.inf, -np.inf,
                        np.finfo(dtype).smallest_subnormal, -np.finfo(dtype).smallest_subnormal]],
                      dtype)
    labels, count = runlabel.label(values)
    np.testing.assert_array_equal(labels, [[0, 0, 1, 1, 1, 1, 1, 1]])
    assert count == 1


# scipy labels arrays of any rank; 0-D and 1-D are one row here, their
# labels in the image's own shape.
@pytest.mark.parametrize("image", [
    np.uint8(0), np.uint8(3), np.float32(np.nan), np.array(True),
    np.zeros(0, np.int16), np.array([0, 1, 1, 0, 1]), noise((97,), 0.5, np.int64, seed=16),
    float_noise((61,), 0.5, np.float16, seed=17), noise((301,), 0.5, np.uint8, seed=18)[::-3],
    np.broadcast_to(np.int32(5), (9,)),
], ids=lambda a: f"{a.ndim}-D-{a.dtype}")
def test_fewer_dimensions_match_scipy(image):
    labels, count = runlabel.label(image, 8)
    want, want_count = ndi.label(image.astype(np.float64))
    assert labels.shape == image.shape and count == want_count
    np.testing.assert_array_equal(labels, want)
    out = np.full(image.shape, 99, np.int32)
    assert runlabel.label(image, out=out)[0] is out
    np.testing.assert_array_equal(out, want)


def test_input_is_not_copied():
    image = noise((40, 40), 0.5, np.uint8, seed=4)
    base = image.copy()
    labels, _ = runlabel.label(image[::-1, ::2])
    assert not np.shares_memory(labels, image)
    np.testing.assert_array_equal(image, base)


def test_sequences_are_converted():
    labels, count = runlabel.label([[1, 0, 1], [0, 0, 1]])
    assert count == 2
    np.testing.assert_array_equal(labels, [[1, 0, 2], [0, 0, 2]])


@pytest.mark.parametrize("spelling,connectivity", [(1, 4), (4, 4), (2, 8), (8, 8)])
def test_connectivity_spellings(spelling, connectivity):
    image = noise((30, 30), 0.5, seed=5)
    labels, _ = runlabel.label(image, connectivity=spelling)
    np.testing.assert_array_equal(labels, expected(image, connectivity)[0])


# The default label type: the narrowest unsigned type for offset + count - 1.
@pytest.mark.parametrize("count,offset,dtype", [
    (0, 1, np.uint8),
    (255, 1, np.uint8),
    (256, 1, np.uint16),
    (56, 200, np.uint8),
    (57, 200, np.uint16),
    (65535, 1, np.uint16),
    (65536, 1, np.uint32),
    (1, 2**32 - 1, np.uint32),
    (1, 2**32, np.uint64),
    (1, 2**64 - 1, np.uint64),
])
def test_default_dtype_is_the_narrowest(count, offset, dtype):
    image = isolated(count)
    labels, got = runlabel.label(image, offset=offset)
    assert got == count
    assert labels.dtype == dtype
    if count:
        assert int(labels[0, 0]) == offset
        assert int(labels[0, -1]) == offset + count - 1


@pytest.mark.parametrize("dtype", LABEL_TYPES, ids=lambda t: np.dtype(t).name)
def test_dtype_sets_the_label_type(dtype):
    image = noise((20, 20), 0.3, seed=6)
    labels, count = check_against_scipy(image, 4, dtype=dtype)
    assert 1 < count < 128
    assert labels.dtype == dtype


@pytest.mark.parametrize("offset", [1, 2, 17, 1000])
def test_offset_shifts_every_label(offset):
    image = noise((40, 30), 0.4, seed=7)
    labels, count = runlabel.label(image, 8, dtype=np.int64, offset=offset)
    want, want_count = expected(image, 8)
    assert count == want_count
    np.testing.assert_array_equal(labels, np.where(want > 0, want + offset - 1, 0))


def test_offset_accepts_numpy_integers():
    labels, count = runlabel.label(isolated(2), offset=np.int16(5))
    assert count == 2 and labels.max() == 6


OUT_LAYOUTS = {
    "c": lambda shape, dtype: np.empty(shape, dtype),
    "fortran": lambda shape, dtype: np.empty(shape, dtype, order="F"),
    "flipped": lambda shape, dtype: np.empty(shape, dtype)[::-1, ::-1],
    "strided": lambda shape, dtype: np.empty((shape[0] * 2, shape[1] * 3), dtype)[::2, 1::3],
}


@pytest.mark.parametrize("layout", OUT_LAYOUTS)
@pytest.mark.parametrize("dtype", LABEL_TYPES, ids=lambda t: np.dtype(t).name)
def test_out_receives_the_labels(dtype, layout):
    image = noise((37, 29), 0.35, np.uint16, seed=8)
    out = OUT_LAYOUTS[layout](image.shape, dtype)
    labels, count = runlabel.label(image, 8, out=out)
    assert labels is out
    np.testing.assert_array_equal(out, expected(image, 8)[0])


@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.int32, np.uint64])
def test_labelling_in_place(dtype):
    image = noise((45, 45), 0.5, dtype, seed=9)
    want, want_count = expected(image, 4)
    labels, count = runlabel.label(image, out=image)
    assert labels is image and count == want_count
    np.testing.assert_array_equal(image, want)


def test_wider_out_over_the_image():
    # Each uint32 label row lies over its image row of bytes and beyond:
    # labels written early land on pixels not yet read.
    width = 60
    buffer = np.zeros((40, 4 * width), np.uint8)
    buffer[:, :width] = noise((40, width), 0.6, seed=10)
    image = buffer[:, :width]
    want, want_count = expected(image.copy(), 8)
    labels, count = runlabel.label(image, 8, out=buffer.view(np.uint32))
    assert count == want_count
    np.testing.assert_array_equal(labels, want)


# Labels that do not fit: an error, and nothing written.
@pytest.mark.parametrize("dtype,count", [
    (np.uint8, 256), (np.int8, 128), (np.uint16, 65536), (np.int16, 32768),
])
@pytest.mark.parametrize("given", ["dtype", "out"])
def test_too_narrow_labels_are_refused(dtype, count, given):
    image = isolated(count)
    out = np.full(image.shape, 7, dtype)
    with pytest.raises(ValueError, match="do not fit"):
        if given == "dtype":
            runlabel.label(image, dtype=dtype)
        else:
            runlabel.label(image, out=out)
    assert (out == 7).all()
    # One region fewer fits.
    labels, _ = runlabel.label(isolated(count - 1), dtype=dtype)
    assert int(labels.max()) == count - 1


def test_too_narrow_with_offset():
    out = np.full((1, 5), 3, np.uint8)
    with pytest.raises(runlabel.Error, match="do not fit"):
        runlabel.label(isolated(3), out=out, offset=254)
    assert (out == 3).all()


def test_labels_past_two_to_the_64_are_refused():
    with pytest.raises(ValueError, match="2\\^64"):
        runlabel.label(isolated(2), offset=2**64 - 1)


def frozen(shape, dtype):
    out = np.zeros(shape, dtype)
    out.flags.writeable = False
    return out


def misaligned_out(shape):
    raw = bytearray(np.prod(shape) * 4 + 1)
    return np.frombuffer(raw, np.uint32, offset=1, count=int(np.prod(shape))).reshape(shape)


def repeating_out(shape):
    return np.lib.stride_tricks.as_strided(np.zeros(shape[1], np.uint32), shape,
                                           (0, 4), writeable=True)


IMAGE = noise((6, 7), 0.5, seed=11)

COMPLAINTS = [
    ("3-d", lambda: runlabel.label(np.zeros((2, 3, 4), np.uint8)), ValueError, "2-D"),
    ("4-d", lambda: runlabel.label(np.zeros((2, 3, 4, 5), np.uint8)), ValueError, "2-D"),
    ("complex", lambda: runlabel.label(np.zeros((2, 2), complex)), TypeError, "complex"),
    ("object", lambda: runlabel.label(np.zeros((2, 2), object)), TypeError, "object"),
    ("str", lambda: runlabel.label(np.array([["a", "b"]])), TypeError, "<U1"),
    ("bytes", lambda: runlabel.label(np.array([[b"a", b""]])), TypeError, "S1"),
    ("datetime", lambda: runlabel.label(np.zeros((2, 2), "M8[s]")), TypeError, "datetime64"),
    ("longdouble", lambda: runlabel.label(np.zeros((2, 2), np.longdouble)), TypeError,
     "float128"),
    ("not-an-array", lambda: runlabel.label(object()), TypeError, "object"),
    ("none", lambda: runlabel.label(None), TypeError, "object"),
    ("a-string", lambda: runlabel.label("image.png"), TypeError, "<U9"),
    ("ragged", lambda: runlabel.label([[1], [1, 0]]), TypeError, "list"),
    ("connectivity-3", lambda: runlabel.label(IMAGE, 3), ValueError, "connectivity"),
    ("connectivity-float", lambda: runlabel.label(IMAGE, 4.0), TypeError, "connectivity"),
    ("connectivity-str", lambda: runlabel.label(IMAGE, "4"), TypeError, "connectivity"),
    ("connectivity-0", lambda: runlabel.label(IMAGE, 0), ValueError, "connectivity"),
    ("connectivity-6", lambda: runlabel.label(IMAGE, connectivity=6), ValueError, "connectivity"),
    ("offset-0", lambda: runlabel.label(IMAGE, offset=0), ValueError, "offset"),
    ("offset-negative", lambda: runlabel.label(IMAGE, offset=-3), ValueError, "offset"),
    ("offset-huge", lambda: runlabel.label(IMAGE, offset=2**64), ValueError, "offset"),
    ("offset-float", lambda: runlabel.label(IMAGE, offset=1.5), TypeError, ""),
    ("dtype-float", lambda: runlabel.label(IMAGE, dtype=np.float32), TypeError, "float32"),
    ("dtype-bool", lambda: runlabel.label(IMAGE, dtype=bool), TypeError, "bool"),
    ("dtype-swapped", lambda: runlabel.label(IMAGE, dtype=">u4"), ValueError, "byte order"),
    ("dtype-unknown", lambda: runlabel.label(IMAGE, dtype="nonsense"), TypeError, ""),
    ("out-shape", lambda: runlabel.label(IMAGE, out=np.zeros((7, 6), np.uint32)), ValueError,
     "shape"),
    ("out-3-d", lambda: runlabel.label(IMAGE, out=np.zeros((6, 7, 1), np.uint32)), ValueError,
     "shape"),
    ("out-float", lambda: runlabel.label(IMAGE, out=np.zeros((6, 7))), TypeError, "float64"),
    ("out-list", lambda: runlabel.label(IMAGE, out=[[0] * 7] * 6), TypeError, "numpy array"),
    ("out-read-only", lambda: runlabel.label(IMAGE, out=frozen((6, 7), np.uint16)), ValueError,
     "read-only"),
    ("out-swapped", lambda: runlabel.label(IMAGE, out=np.zeros((6, 7), ">i4")), ValueError,
     "byte order"),
    ("out-misaligned", lambda: runlabel.label(IMAGE, out=misaligned_out((6, 7))), ValueError,
     "aligned"),
    ("out-repeats", lambda: runlabel.label(IMAGE, out=repeating_out((6, 7))), ValueError,
     "stride"),
    ("out-and-dtype", lambda: runlabel.label(IMAGE, dtype=np.uint8, out=np.zeros((6, 7), np.uint16)),
     ValueError, "differs"),
    ("out-1-d-for-0-d", lambda: runlabel.label(np.uint8(1), out=np.zeros(1, np.uint8)), ValueError,
     "shape"),
    ("min-area-negative", lambda: runlabel.label(IMAGE, min_area=-1), ValueError, "min_area"),
    ("min-area-float", lambda: runlabel.label(IMAGE, min_area=2.5), TypeError, "min_area"),
    ("min-area-positional", lambda: runlabel.label(IMAGE, 4, None, None, 1, 3), TypeError, ""),
    ("sort-unknown", lambda: runlabel.label(IMAGE, sort="size"), ValueError, "'raster' or 'area'"),
    ("sort-not-str", lambda: runlabel.label(IMAGE, sort=1), TypeError, "'raster' or 'area'"),
    ("threads-negative", lambda: runlabel.label(IMAGE, threads=-1), ValueError, "threads"),
    ("threads-huge", lambda: runlabel.label(IMAGE, threads=2**40), ValueError, "threads"),
    ("threads-none", lambda: runlabel.label(IMAGE, threads=None), TypeError, "threads"),
]


@pytest.mark.parametrize("call,error,message", [c[1:] for c in COMPLAINTS],
                         ids=[c[0] for c in COMPLAINTS])
def test_complaints(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_library_errors_are_value_errors():
    assert issubclass(runlabel.Error, ValueError)


@pytest.mark.parametrize("call", [
    lambda image: runlabel.label(image, connectivity=[4]),
    lambda image: runlabel.label(image, offset="1"),
    lambda image: runlabel.regions(image, min_area=b"1"),
    lambda image: runlabel.label(image.astype(complex)),
], ids=["connectivity", "offset", "min-area", "complex"])
def test_type_errors_do_not_show_the_image(call):
    image = noise((300, 300), 0.5, seed=19)
    with pytest.raises(TypeError) as error:
        call(image)
    assert len(str(error.value)) < 100 and "[" not in str(error.value)


def by_area(labels):
    """scipy's labels renumbered by decreasing area, equal areas in raster order."""
    areas = np.bincount(labels.ravel())[1:]
    order = np.argsort(-areas, kind="stable")
    renumber = np.zeros(len(areas) + 1, np.int64)
    renumber[order + 1] = np.arange(1, len(areas) + 1)
    return renumber[labels]


def without_small(labels, min_area):
    """scipy's labels without regions below min_area, the rest renumbered."""
    areas = np.bincount(labels.ravel())
    kept = areas >= min_area
    kept[0] = False
    renumber = np.where(kept, np.cumsum(kept), 0)
    return renumber[labels], int(kept.sum())


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("min_area", [0, 1, 2, 4, 30, 10**6])
@pytest.mark.parametrize("sort", ["raster", "area"])
@pytest.mark.parametrize("dtype", [np.uint8, np.float32])
def test_min_area_and_sort_match_scipy(dtype, sort, min_area, connectivity):
    image = (float_noise if dtype is np.float32 else noise)((70, 90), 0.45, dtype, seed=24)
    want, count = without_small(expected(image, connectivity)[0], min_area)
    if sort == "area":
        want = by_area(want)
    for out in (None, np.empty(image.shape, np.int64)):
        labels, got = runlabel.label(image, connectivity, out=out, min_area=min_area, sort=sort)
        assert got == count
        np.testing.assert_array_equal(labels, want)


def test_sort_by_area_keeps_raster_order_among_equals():
    image = np.array([[1, 0, 1, 1, 0, 1], [0, 0, 1, 1, 0, 1]], np.uint8)
    labels, count = runlabel.label(image, sort="area", offset=10)
    np.testing.assert_array_equal(labels, [[12, 0, 10, 10, 0, 11], [0, 0, 10, 10, 0, 11]])


# The library's threads label bands of the image and join them; every
# result is the same for any number of them.
@pytest.mark.parametrize("threads", [1, 2, 3, 7, 0])
@pytest.mark.parametrize("kind", ["uint8", "float64", "broadcast", "transposed"])
def test_library_threads_give_the_same_labels(kind, threads):
    if kind == "float64":
        image = float_noise((1100, 700), 0.5, np.float64, seed=25)
    elif kind == "broadcast":
        image = np.broadcast_to(noise((1, 700), 0.5, seed=26), (1100, 700))
    else:
        image = noise((700, 1100), 0.5, seed=27)
        image = image.T if kind == "transposed" else image.T.copy()
    want, want_count = expected(image, 8)
    labels, count = runlabel.label(image, 8, threads=threads)
    assert count == want_count
    np.testing.assert_array_equal(labels, want)
    table = runlabel.regions(image, 8, threads=threads, sort="area")
    np.testing.assert_array_equal(table["area"], np.sort(np.bincount(want.ravel())[1:])[::-1])


def run_python(script):
    """Runs script in a fresh interpreter that imports this runlabel; its
    standard output."""
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("address space and resident memory are the sanitizer's")
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True,
                          text=True, timeout=300, env=dict(os.environ, PYTHONPATH=os.pathsep.join(
                              [os.path.dirname(os.path.dirname(runlabel.__file__))] + sys.path)))
    assert done.returncode == 0, done.stderr
    return done.stdout


# A broadcast image is read where it lies: a copy of these would take 80 GB
# and 800 MB, the labels of the second 100 MB.
def test_broadcast_images_are_not_copied():
    grown = run_python("""
        import resource, numpy as np, runlabel
        def peak():
            return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss << 10
        row = np.zeros(100000, np.uint64)
        row[10:20] = row[500:] = 1
        column = np.zeros((20000, 1))
        column[100:200] = column[5000:] = np.nan
        start = peak()
        table = runlabel.regions(np.broadcast_to(row, (100000, 100000)), threads=0)
        assert list(table["area"]) == [10 * 100000, 99500 * 100000]
        labels, count = runlabel.label(np.broadcast_to(column, (20000, 5000)))
        assert count == 2 and labels.nbytes == 100000000 and labels[-1, -1] == 2
        del labels
        print(peak() - start)
    """)
    assert int(grown) < 300 << 20


def test_memory_errors_say_what_for():
    with pytest.raises(MemoryError, match=r"^cannot allocate 4611686018427387904 bytes "
                                          r"for the uint64 labels of a 1073741824 x 536870912"):
        runlabel.label(np.broadcast_to(np.uint8(1), (2**30, 2**29)), dtype=np.uint64)
    message = run_python("""
        import resource, numpy as np, runlabel
        image = np.indices((6000, 6000)).sum(axis=0) % 2 == 0
        size = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + (64 << 20),) * 2)
        try:
            runlabel.regions(image, 8)
        except MemoryError as e:
            print(e)
    """)
    assert message.startswith("not enough memory to label a 6000 x 6000 image")


# New label arrays come from blocks that the module's heap hands out again
# once freed: each array, or a view left of it, must keep its own block
# through later calls, after its image and its parent are gone. Blocks of
# 256 KiB and more are the ones kept; more than the heap keeps are in play.
def test_labels_keep_their_memory_through_later_calls():
    kept = []
    for k in range(24):
        image = noise((600, 450), 0.25 + 0.02 * k, PIXEL_TYPES[k % 9], seed=40 + k)
        labels, _ = runlabel.label(image, 4 + 4 * (k % 2), dtype=[None, np.int32][k % 2])
        assert labels.nbytes >= 256 << 10
        assert labels.flags.c_contiguous and labels.flags.aligned and labels.flags.writeable
        view = labels[::-1, 1::2] if k % 3 else labels
        kept.append((view, view.copy()))
        del image, labels, view
        for size in (600, 450):
            runlabel.label(noise((size, 600), 0.3, seed=k), dtype=np.int32)[0][:] = -1
    for view, want in kept:
        np.testing.assert_array_equal(view, want)


def test_threads_label_at_once_as_in_turn():
    images = [noise((300 + 20 * k, 280), 0.5, PIXEL_TYPES[k % 9], seed=12 + k) for k in range(6)]
    connectivities = [4, 8] * 3
    in_turn = [runlabel.label(img, c) for img, c in zip(images, connectivities)]
    at_once = [None] * len(images)

    def work(k):
        at_once[k] = runlabel.label(images[k], connectivities[k])

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for (labels, count), (want, want_count) in zip(at_once, in_turn):
        assert count == want_count
        np.testing.assert_array_equal(labels, want)


def test_labelling_lets_other_threads_run():
    # With the GIL held through a call, no other Python thread can run
    # inside it; a ticking thread must get in while a long call is on.
    image = noise((3000, 3000), 0.5, seed=13)
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        start = time.perf_counter()
        runlabel.label(image, 8)
        end = time.perf_counter()
    finally:
        stop.set()
        ticker.join()
    margin = 0.01
    if end - start < 4 * margin:
        pytest.skip("the call was too quick to tell")
    assert any(start + margin < t < end - margin for t in ticks)


def test_dask_threads_label_chunks():
    da = pytest.importorskip("dask.array")
    image = noise((400, 300), 0.5, seed=14)
    chunks = da.from_array(image, chunks=(100, 150))
    labelled = chunks.map_blocks(lambda block: runlabel.label(block, 8, dtype=np.int32)[0],
                                 dtype=np.int32).compute(scheduler="threads")
    for r in range(0, 400, 100):
        for c in range(0, 300, 150):
            block = image[r:r + 100, c:c + 150]
            np.testing.assert_array_equal(labelled[r:r + 100, c:c + 150], expected(block, 8)[0])
