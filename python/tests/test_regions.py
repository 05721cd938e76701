"""runlabel.regions against skimage.measure.regionprops_table of the same
labels: keys, types and figures; min_area; layouts; a pandas table."""
import numpy as np
import pandas as pd
import pytest
import scipy.ndimage as ndi
from skimage.measure import regionprops_table

import runlabel
from patterns import PIXEL_TYPES, STRUCTURES, noise, shapes_of_note

PROPERTIES = ("label", "area", "bbox", "centroid")


def reference(image, connectivity):
    labels, _ = ndi.label(image, STRUCTURES[connectivity])
    return regionprops_table(labels, properties=PROPERTIES)


def assert_tables_equal(got, want):
    assert list(got) == list(want)
    for key in want:
        assert got[key].dtype == want[key].dtype, key
        assert got[key].shape == want[key].shape, key
        if key.startswith("centroid"):
            np.testing.assert_allclose(got[key], want[key], rtol=1e-12, atol=1e-12, err_msg=key)
        else:
            np.testing.assert_array_equal(got[key], want[key], err_msg=key)


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("density", [0.0, 0.05, 0.5, 0.95, 1.0])
@pytest.mark.parametrize("shape", [(1, 1), (1, 50), (50, 1), (23, 31), (90, 70)],
                         ids=str)
def test_noise_matches_regionprops(shape, density, connectivity):
    image = noise(shape, density, seed=20)
    assert_tables_equal(runlabel.regions(image, connectivity), reference(image, connectivity))


@pytest.mark.parametrize("shape", [(0, 0), (0, 7), (7, 0)], ids=str)
def test_empty_images_give_an_empty_table(shape):
    # scikit-image refuses arrays without pixels; a background pixel has
    # the same table.
    want = reference(np.zeros((1, 1), np.uint8), 4)
    assert_tables_equal(runlabel.regions(np.zeros(shape, np.uint8)), want)


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("name,image", shapes_of_note(), ids=lambda v: v if isinstance(v, str) else "")
def test_shapes_of_note_match_regionprops(name, image, connectivity):
    assert_tables_equal(runlabel.regions(image, connectivity), reference(image, connectivity))


@pytest.mark.parametrize("layout", [
    np.asfortranarray, lambda a: a[::-1, ::-1], lambda a: a.T, lambda a: a[1::2, ::3],
], ids=["fortran", "flipped", "transposed", "strided"])
@pytest.mark.parametrize("dtype", PIXEL_TYPES, ids=lambda t: np.dtype(t).name)
def test_pixel_types_and_layouts(dtype, layout):
    image = layout(noise((48, 36), 0.5, dtype, seed=21))
    assert_tables_equal(runlabel.regions(image, 8), reference(image, 8))


@pytest.mark.parametrize("min_area", [0, 1, 2, 5, 40, 10**9])
@pytest.mark.parametrize("connectivity", [4, 8])
def test_min_area_drops_small_regions_and_renumbers(min_area, connectivity):
    image = noise((60, 60), 0.45, seed=22)
    want = reference(image, connectivity)
    kept = want["area"] >= min_area
    want = {key: values[kept] for key, values in want.items()}
    want["label"] = np.arange(1, kept.sum() + 1, dtype=np.int64)
    assert_tables_equal(runlabel.regions(image, connectivity, min_area=min_area), want)


def test_large_image_figures():
    # Centroids of regions of many thousand pixels far from the origin.
    image = np.zeros((1200, 1500), np.uint8)
    image[700:1150, 900:1480] = 1
    image[10:20, 10:1490] = 1
    image[800:900, 1000:1100] = 0
    assert_tables_equal(runlabel.regions(image), reference(image, 4))


def test_columns_keep_their_memory_through_later_calls():
    # Columns of 256 KiB and more come from blocks the heap hands out again:
    # one kept from each table must outlive the table and later calls.
    kept = []
    for k in range(20):
        table = runlabel.regions(noise((900, 900), 0.08, seed=30 + k), 4 + 4 * (k % 2))
        key = list(table)[k % len(table)]
        assert table[key].nbytes >= 256 << 10
        kept.append((table[key], table[key].copy()))
        del table
        runlabel.regions(noise((900, 900), 0.1, seed=k))["area"][:] = -1
    for column, want in kept:
        np.testing.assert_array_equal(column, want)


def test_a_pandas_table():
    image = noise((30, 40), 0.3, seed=23)
    table = pd.DataFrame(runlabel.regions(image))
    want = pd.DataFrame(reference(image, 4))
    pd.testing.assert_frame_equal(table, want, check_exact=False, rtol=1e-12)


@pytest.mark.parametrize("call,error,message", [
    (lambda: runlabel.regions(np.zeros((2, 2, 2), np.uint8)), ValueError, "2-D"),
    (lambda: runlabel.regions(np.zeros((2, 2), np.complex64)), TypeError, "complex64"),
    (lambda: runlabel.regions(np.zeros(4, np.uint8)), ValueError, "2-D"),
    (lambda: runlabel.regions(np.zeros((2, 2), np.uint8), sort="big"), ValueError, "sort"),
    (lambda: runlabel.regions(np.zeros((2, 2), np.uint8), threads=1.0), TypeError, "threads"),
    (lambda: runlabel.regions(np.zeros((2, 2), np.uint8), 3), ValueError, "connectivity"),
    (lambda: runlabel.regions(np.zeros((2, 2), np.uint8), min_area=-1), ValueError, "min_area"),
], ids=["3-d", "complex", "1-d", "connectivity", "min-area", "sort", "threads"])
def test_complaints(call, error, message):
    with pytest.raises(error, match=message):
        call()
