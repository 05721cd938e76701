"""Connected regions of images, labelled by runs.

Every non-zero pixel of an array of bool, integers or floats is foreground
(NaN too); regions are its 4- or 8-connected sets, numbered in the order a
row-by-row scan first meets them, as scipy.ndimage.label numbers them, or by
decreasing area. Each row is run-length encoded and labeling works on the
runs; arrays are read in place, whatever their strides, and the labeling
releases the GIL.

    label(image, connectivity=4, dtype=None, out=None, offset=1, *,
          min_area=0, sort='raster', threads=1) -> (labels, count)
    regions(image, connectivity=4, min_area=0, *, sort='raster',
            threads=1) -> dict of arrays
    read(path) -> array of samples
    write(path, labels)

Errors of the library are runlabel.Error, a ValueError; files the system
refuses are OSError (FileNotFoundError, PermissionError, ...).
"""
from ._runlabel import Error, __version__, label, read, regions, write

__all__ = ["Error", "label", "read", "regions", "write"]
