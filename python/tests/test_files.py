"""runlabel.read and runlabel.write: round trips through every format the
library writes, files of independent writers read (alpha kept), independent
readers of the files written, and the complaints, files the system refuses
as Python's own OSErrors."""
import errno
import os
import pathlib
import subprocess
import sys

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


# Pending the library's .npy reader (it reads the files write makes).
@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint32, np.uint64])
def test_npy_round_trip(tmp_path, dtype):
    labels = labels_of(dtype)[::-1, 1:]
    runlabel.write(tmp_path / "labels.npy", labels)
    back = runlabel.read(tmp_path / "labels.npy")
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


# Samples as stored: alpha is a channel like the others. Pending read_image
# keeping alpha, which it drops today.
@pytest.mark.parametrize("mode,channels", [("LA", 2), ("RGBA", 4)])
def test_alpha_is_read(tmp_path, mode, channels):
    PIL = pytest.importorskip("PIL.Image")
    samples = noise((12, 17, channels), 0.5, np.uint8, seed=34)
    PIL.fromarray(samples, mode).save(tmp_path / "a.png")
    back = runlabel.read(tmp_path / "a.png")
    assert back.shape == samples.shape
    np.testing.assert_array_equal(back, samples)


def test_alpha_is_read_from_pam(tmp_path):
    samples = noise((5, 7, 2), 0.5, np.uint16, seed=35) >> 4
    header = b"P7\nWIDTH 7\nHEIGHT 5\nDEPTH 2\nMAXVAL 4095\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n"
    (tmp_path / "a.pam").write_bytes(header + samples.astype(">u2").tobytes())
    np.testing.assert_array_equal(runlabel.read(tmp_path / "a.pam"), samples)


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


# A header whose sizes multiply past 2**64: an error, never an array over
# fewer bytes than its shape says.
def test_huge_declared_sizes_on_a_pipe(tmp_path):
    path = tmp_path / "huge.pam"
    path.write_bytes(b"P7\nWIDTH 1073741824\nHEIGHT 1073741824\nDEPTH 16\nMAXVAL 255\n"
                     b"TUPLTYPE GRAYSCALE\nENDHDR\n")
    script = ("import runlabel\n"
              "try:\n    print(runlabel.read('-').shape)\n"
              "except ValueError as e:\n    print('ValueError')\n")
    with open(path, "rb") as stdin:
        done = subprocess.run([sys.executable, "-c", script], stdin=stdin, capture_output=True,
                              text=True, timeout=60)
    assert (done.returncode, done.stdout) == (0, "ValueError\n"), done.stderr


# Files the system refuses: the OSError subclass of their errno, with the
# name as the caller gave it.
@pytest.mark.parametrize("name", ["missing.png", b"missing.png", pathlib.Path("missing.png")],
                         ids=["str", "bytes", "path"])
def test_missing_files_are_file_not_found(tmp_path, name):
    path = os.path.join(os.fsencode(tmp_path) if isinstance(name, bytes) else tmp_path, name)
    path = pathlib.Path(path) if isinstance(name, pathlib.Path) else path
    with pytest.raises(FileNotFoundError) as error:
        runlabel.read(path)
    assert error.value.errno == errno.ENOENT and error.value.filename == os.fspath(path)
    assert error.value.strerror == os.strerror(errno.ENOENT)
    with pytest.raises(FileNotFoundError):
        runlabel.write(os.path.join(path, name), labels_of(np.uint8))


def test_a_directory_is_not_written_over(tmp_path):
    with pytest.raises(IsADirectoryError) as error:
        runlabel.write(tmp_path, labels_of(np.uint8))
    assert error.value.filename == os.fspath(tmp_path)


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_an_unreadable_file_is_a_permission_error(tmp_path):
    path = tmp_path / "secret.pgm"
    path.write_bytes(b"P5\n1 1\n255\n\0")
    path.chmod(0)
    with pytest.raises(PermissionError):
        runlabel.read(path)


@pytest.mark.parametrize("call,error", [
    (lambda d: runlabel.read(d / "missing.pgm"), FileNotFoundError),
    (lambda d: runlabel.read(d), IsADirectoryError),
    (lambda d: (d / "junk.pgm").write_bytes(b"not an image") and runlabel.read(d / "junk.pgm"),
     ValueError),
    (lambda d: runlabel.write(d / "no" / "such" / "dir.png", labels_of(np.uint8)),
     FileNotFoundError),
    (lambda d: runlabel.write(d / "f.png", np.zeros((3, 3))), TypeError),
    (lambda d: runlabel.write(d / "f.png", np.zeros((3, 3), bool)), TypeError),
    (lambda d: runlabel.write(d / "f.png", np.zeros((3, 3, 3), np.uint8)), ValueError),
    (lambda d: runlabel.write(d / "f.png", labels_of(np.uint64)), ValueError),
], ids=["missing", "directory", "junk", "no-directory", "float", "bool", "3-d", "too-wide"])
def test_complaints(tmp_path, call, error):
    with pytest.raises(error):
        call(tmp_path)
