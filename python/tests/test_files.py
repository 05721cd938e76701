"""runlabel.read and runlabel.write: round trips through every format the
library writes, files of independent writers read, independent readers of
the files written, and the complaints."""
import pathlib

import numpy as np
import pytest
import scipy.ndimage as ndi

import runlabel
from patterns import noise

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "shapes.pgm"

# Each format with the label types it holds.
ROUND_TRIPS = ([("png", t) for t in (np.uint8, np.uint16)] +
               [("tif", t) for t in (np.uint8, np.uint16, np.uint32, np.uint64)] +
               [("tiff", np.int16)] +
               [("pam", t) for t in (np.uint8, np.uint16, np.int8)] +
               [("pgm", np.uint8)])


def labels_of(dtype, shape=(37, 51)):
    """Labels of a noise image; for signed types shifted to take in negative
    values, which are written as their unsigned bits."""
    if np.dtype(dtype).kind == "u":
        return runlabel.label(noise(shape, 0.5, seed=30), dtype=dtype)[0]
    labels = runlabel.label(noise(shape, 0.3, seed=30), dtype=np.int64)[0]
    return (labels - 60).astype(dtype)


def unsigned(array):
    return array.view(f"u{array.dtype.itemsize}")


@pytest.mark.parametrize("ext,dtype", ROUND_TRIPS, ids=lambda v: v if isinstance(v, str)
                         else np.dtype(v).name)
def test_round_trip(tmp_path, ext, dtype):
    labels = labels_of(dtype)
    path = tmp_path / f"labels.{ext}"
    runlabel.write(path, labels)
    back = runlabel.read(path)
    assert back.dtype == unsigned(labels).dtype
    np.testing.assert_array_equal(back, unsigned(labels))


@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint32, np.int64])
def test_npy_is_what_numpy_loads(tmp_path, dtype):
    labels = labels_of(dtype)
    runlabel.write(tmp_path / "labels.npy", labels)
    back = np.load(tmp_path / "labels.npy")
    assert back.shape == labels.shape and back.dtype.itemsize == labels.dtype.itemsize
    np.testing.assert_array_equal(unsigned(back), unsigned(labels))


@pytest.mark.parametrize("view", [lambda a: a[::-1, ::2], lambda a: a.T, np.asfortranarray],
                         ids=["flipped-strided", "transposed", "fortran"])
def test_any_layout_is_written_as_seen(tmp_path, view):
    labels = view(labels_of(np.uint16))
    runlabel.write(tmp_path / "labels.png", labels)
    np.testing.assert_array_equal(runlabel.read(tmp_path / "labels.png"), labels)


def test_independent_readers(tmp_path):
    PIL = pytest.importorskip("PIL.Image")
    tifffile = pytest.importorskip("tifffile")
    labels = labels_of(np.uint16)
    runlabel.write(tmp_path / "l.png", labels)
    np.testing.assert_array_equal(np.asarray(PIL.open(tmp_path / "l.png")), labels)
    wide = labels_of(np.uint32)
    runlabel.write(tmp_path / "l.tif", wide)
    np.testing.assert_array_equal(tifffile.imread(tmp_path / "l.tif"), wide)


def test_independent_writers(tmp_path):
    PIL = pytest.importorskip("PIL.Image")
    tifffile = pytest.importorskip("tifffile")
    grey = noise((20, 30), 0.5, np.uint8, seed=31)
    PIL.fromarray(grey).save(tmp_path / "g.png")
    np.testing.assert_array_equal(runlabel.read(tmp_path / "g.png"), grey)
    rgb = np.stack([grey, grey[::-1], 255 - grey], axis=2)
    PIL.fromarray(rgb).save(tmp_path / "c.png")
    back = runlabel.read(tmp_path / "c.png")
    assert back.shape == (20, 30, 3)
    np.testing.assert_array_equal(back, rgb)
    for dtype in (np.uint16, np.uint32, np.uint64):
        samples = noise((9, 13), 0.5, dtype, seed=32)
        tifffile.imwrite(tmp_path / "s.tif", samples)
        back = runlabel.read(tmp_path / "s.tif")
        assert back.dtype == dtype
        np.testing.assert_array_equal(back, samples)


def test_bitmaps_are_bool(tmp_path):
    bits = noise((5, 11), 0.5, np.bool_, seed=33)
    packed = np.packbits(bits, axis=1)
    (tmp_path / "b.pbm").write_bytes(b"P4\n11 5\n" + packed.tobytes())
    back = runlabel.read(tmp_path / "b.pbm")
    assert back.dtype == np.bool_
    np.testing.assert_array_equal(back, bits)


def test_the_example_labels_as_scipy_says():
    image = runlabel.read(EXAMPLE)
    labels, count = runlabel.label(image)
    want, want_count = ndi.label(image)
    assert count == want_count
    np.testing.assert_array_equal(labels, want)


def test_a_failed_write_leaves_the_file(tmp_path):
    path = tmp_path / "labels.png"
    path.write_bytes(b"before")
    with pytest.raises(ValueError):
        runlabel.write(path, labels_of(np.uint32))
    assert path.read_bytes() == b"before"


@pytest.mark.parametrize("call,error", [
    (lambda d: runlabel.read(d / "missing.pgm"), ValueError),
    (lambda d: runlabel.read(d), ValueError),
    (lambda d: (d / "junk.pgm").write_bytes(b"not an image") and runlabel.read(d / "junk.pgm"),
     ValueError),
    (lambda d: runlabel.write(d / "no" / "such" / "dir.png", labels_of(np.uint8)), ValueError),
    (lambda d: runlabel.write(d / "f.png", np.zeros((3, 3))), TypeError),
    (lambda d: runlabel.write(d / "f.png", np.zeros((3, 3), bool)), TypeError),
    (lambda d: runlabel.write(d / "f.png", np.zeros((3, 3, 3), np.uint8)), ValueError),
    (lambda d: runlabel.write(d / "f.png", labels_of(np.uint64)), ValueError),
], ids=["missing", "directory", "junk", "no-directory", "float", "bool", "3-d", "too-wide"])
def test_complaints(tmp_path, call, error):
    with pytest.raises(error):
        call(tmp_path)
