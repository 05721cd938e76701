#!/usr/bin/python3
"""photo_pgm.py NAME OUT [SIZE]: one of scikit-image's photographs as a thresholded
greymap (Otsu's threshold on its grey levels), the kind of image people label
most; retina is scaled to SIZE x SIZE (default 2048) first. Prints the image's
run count."""
import sys

import numpy as np
import skimage.data
from skimage.color import rgb2gray
from skimage.filters import threshold_otsu
from skimage.transform import resize

name, out = sys.argv[1], sys.argv[2]
size = int(sys.argv[3]) if len(sys.argv) > 3 else 2048
pixels = {"hubble": skimage.data.hubble_deep_field, "retina": skimage.data.retina}[name]()
grey = rgb2gray(pixels) if pixels.ndim == 3 else pixels / 255.0
if name == "retina":
    grey = resize(grey, (size, size), order=1)
mask = grey > threshold_otsu(grey)
with open(out, "wb") as f:
    f.write(b"P5\n%d %d\n255\n" % (mask.shape[1], mask.shape[0]))
    f.write((mask * 255).astype(np.uint8).tobytes())
padded = np.pad(mask, ((0, 0), (1, 0)))
print(int(np.count_nonzero(padded[:, 1:] & ~padded[:, :-1])))
