#!/usr/bin/python3
"""Reads back the writers' outputs with independent readers and compares every
sample with the values the test meant to write.

usage: check_outputs.py DIR NAME...

For each NAME, DIR holds NAME.<ext> (the output) and NAME.values: the samples
as little-endian uint64 in C order, then three uint64: height, width and
channels. Prints one line per NAME: "NAME ok", "NAME skip REASON" or
"NAME fail REASON".
"""
import os
import re
import shutil
import subprocess
import sys

import numpy as np
from PIL import Image
import tifffile

out = sys.argv[1]


def decoded(path):
    ext = os.path.splitext(path)[1].lower()
    if ext == ".npy":
        return np.load(path)
    if ext in (".tif", ".tiff"):
        return tifffile.imread(path)
    if ext in (".pam", ".pgm"):
        if shutil.which("pamtopnm") is None:
            raise LookupError("pamtopnm is not installed")
        # pamtopnm checks the file (a PGM passes through as it is) and turns
        # a PAM into a PGM or PPM; PIL would scale samples whose maxval is not
        # 255 or 65535, so the result is taken apart here.
        with open(path, "rb") as src:
            pnm = subprocess.run(["pamtopnm"], stdin=src, capture_output=True, check=True).stdout
        magic, width, height, maxval, raster = re.match(
            rb"(P[56])\s+(\d+)\s+(\d+)\s+(\d+)\s(.*)", pnm, re.S).groups()
        shape = (int(height), int(width)) + ((3,) if magic == b"P6" else ())
        return np.frombuffer(raster, dtype=">u2" if int(maxval) > 255 else "u1").reshape(shape)
    with Image.open(path) as image:
        return np.array(image)


for name in sys.argv[2:]:
    files = [f for f in os.listdir(out) if f.startswith(name + ".") and not f.endswith(".values")]
    raw = np.fromfile(f"{out}/{name}.values", dtype="<u8")
    height, width, channels = (int(v) for v in raw[-3:])
    shape = (height, width) if channels == 1 else (height, width, channels)
    want = raw[:-3].reshape(shape)
    try:
        got = decoded(f"{out}/{files[0]}")
    except LookupError as missing:
        print(name, "skip", missing)
        continue
    except Exception as error:  # any refusal by the reader is a failed output
        print(name, "fail", type(error).__name__, error)
        continue
    if got.shape != want.shape:
        print(name, "fail shape", got.shape, "not", want.shape)
    elif not np.array_equal(got.astype(np.uint64), want):
        bad = np.argwhere(got.astype(np.uint64) != want)[0]
        print(name, "fail value at", tuple(bad), got[tuple(bad)], "not", want[tuple(bad)])
    else:
        print(name, "ok", got.dtype.str)
