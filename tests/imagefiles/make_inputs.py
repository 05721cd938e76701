#!/usr/bin/python3
"""Writes the input variants the format tests read, all from one seeded mask,
with tools that share no code with the readers under test: PIL and tifffile,
the Netpbm programs and ImageMagick.

usage: make_inputs.py DIR SEED [WIDTH HEIGHT]

DIR gets mask.pgm (the mask as a raw greymap, 0 and 255) and, per variant,
NAME.<ext>; where the samples a reader must deliver are known exactly, also
NAME.expected: those samples in the reader's layout (C order, machine byte
order, kBit rows packed most significant bit first), and for an image with
alpha NAME-kept.expected, its samples with alpha kept. A variant whose tool is
missing is left out; the test says which tool it wanted.
"""
import shutil
import subprocess
import sys

import numpy as np
from PIL import Image
import tifffile

out, seed = sys.argv[1], int(sys.argv[2])
rng = np.random.default_rng(seed)
# By default neither a multiple of 8 nor of a 16-pixel tile; the fuzz corpus
# asks for smaller ones.
W, H = (int(sys.argv[3]), int(sys.argv[4])) if len(sys.argv) > 4 else (37, 29)
mask = rng.random((H, W)) < 0.4
mask[0, :5] = True  # a foreground pixel in the first and last column
mask[-1, -3:] = True


def path(name):
    return f"{out}/{name}"


def values(dtype, top, channels=0):
    """Random non-zero samples where the mask is set, zero elsewhere; in a
    colour pixel some channels may be zero, never all."""
    shape = (H, W, channels) if channels else (H, W)
    v = rng.integers(1 if not channels else 0, top, size=shape, endpoint=True, dtype=np.uint64)
    if channels:
        keep = rng.integers(0, channels, size=(H, W))
        one = np.take_along_axis(v, keep[..., None], axis=2)
        np.put_along_axis(v, keep[..., None], np.maximum(one, 1), axis=2)
        v[~mask] = 0
    else:
        v[~mask] = 0
    return v.astype(dtype)


def expect(name, samples):
    np.ascontiguousarray(samples).tofile(path(name + ".expected"))


def expect_bits(name, bits):
    np.packbits(bits.astype(np.uint8), axis=1).tofile(path(name + ".expected"))


def netpbm(magic, maxval, data):
    """A Netpbm raw file as the Netpbm programs read it (two bytes per sample,
    most significant first, when maxval passes 255): tool input, never read by
    the readers under test."""
    samples = data.astype(">u2" if maxval > 255 else "u1")
    return f"{magic}\n{W} {H}\n{maxval}\n".encode() + samples.tobytes()


def run(tool, *args, stdout=None, stdin=None):
    if shutil.which(tool) is None:
        return False
    with open(stdout, "wb") if stdout else open("/dev/null", "wb") as sink:
        with open(stdin, "rb") if stdin else open("/dev/null", "rb") as source:
            return subprocess.run([tool, *args], stdin=source, stdout=sink,
                                  stderr=subprocess.DEVNULL).returncode == 0


with open(path("mask.pgm"), "wb") as f:
    f.write(f"P5\n{W} {H}\n255\n".encode() + (mask * 255).astype(np.uint8).tobytes())

grey8 = values(np.uint8, 255)
grey16 = values(np.uint16, 65535)
grey32 = values(np.uint32, 2**32 - 1)
rgb8 = values(np.uint8, 255, 3)
alpha = rng.integers(0, 255, size=(H, W), endpoint=True).astype(np.uint8)

# Netpbm programs' own inputs (not variants themselves).
with open(path("values8.pgm"), "wb") as f:
    f.write(netpbm("P5", 255, grey8))
grey1000 = values(np.uint16, 1000)
with open(path("values1000.pgm"), "wb") as f:
    f.write(netpbm("P5", 1000, grey1000))
narrow = {1: mask.astype(np.uint8), 3: values(np.uint8, 3), 15: values(np.uint8, 15)}
for top, data in narrow.items():
    with open(path(f"values{top}.pgm"), "wb") as f:
        f.write(netpbm("P5", top, data))
with open(path("rgb.ppm"), "wb") as f:
    f.write(netpbm("P6", 255, rgb8))
with open(path("inverted.pgm"), "wb") as f:  # black (0) where the mask is set
    f.write(netpbm("P5", 255, np.where(mask, 0, 255).astype(np.uint8)))


# PNG, PIL
Image.fromarray(mask).save(path("png-grey1.png"))
expect("png-grey1", mask.astype(np.uint8))
Image.fromarray(grey8).save(path("png-grey8.png"))
expect("png-grey8", grey8)
Image.fromarray(grey16).save(path("png-grey16.png"))
expect("png-grey16", grey16)
Image.fromarray(rgb8).save(path("png-rgb.png"))
expect("png-rgb", rgb8)
Image.fromarray(np.dstack([rgb8, alpha])).save(path("png-rgba.png"))
expect("png-rgba", rgb8)
expect("png-rgba-kept", np.dstack([rgb8, alpha]))
Image.fromarray(np.dstack([grey8, alpha])).save(path("png-grey-alpha.png"))
expect("png-grey-alpha", grey8)
expect("png-grey-alpha-kept", np.dstack([grey8, alpha]))
indices = values(np.uint8, 200)
palette = Image.fromarray(indices, mode="P")
palette.putpalette([(7 * i + 40) % 256 for i in range(768)])  # index 0 is not black
palette.save(path("png-palette.png"))
expect("png-palette", indices)
indices4 = values(np.uint8, 15)
palette4 = Image.fromarray(indices4, mode="P")
palette4.putpalette([(11 * i + 1) % 256 for i in range(48)])
palette4.save(path("png-palette4.png"), bits=4)
expect("png-palette4", indices4)

# PNG, Netpbm: pnmtopng takes the bit depth from maxval.
for top in (3, 15):
    name = f"png-grey{ {3: 2, 15: 4}[top] }"
    if run("pnmtopng", path(f"values{top}.pgm"), stdout=path(name + ".png")):
        expect(name, narrow[top])
if run("pnmtopng", "-interlace", path("values8.pgm"), stdout=path("png-interlaced8.png")):
    expect("png-interlaced8", grey8)
if run("pnmtopng", "-interlace", path("values1.pgm"), stdout=path("png-interlaced1.png")):
    expect("png-interlaced1", mask.astype(np.uint8))
if run("pnmtopng", "-interlace", path("rgb.ppm"), stdout=path("png-interlaced-rgb.png")):
    expect("png-interlaced-rgb", rgb8)

# PNG, ImageMagick: its own choice of depth, so the mask alone is compared.
run("/usr/bin/convert", path("mask.pgm"), "-interlace", "PNG", "PNG:" + path("png-magick-interlaced.png"))

# TIFF, tifffile
tifffile.imwrite(path("tiff-bilevel-minisblack.tif"), mask, photometric="minisblack")
expect_bits("tiff-bilevel-minisblack", mask)
tifffile.imwrite(path("tiff-bilevel-miniswhite.tif"), mask, photometric="miniswhite")
expect_bits("tiff-bilevel-miniswhite", mask)
for name, data in (("tiff-grey8", grey8), ("tiff-grey16", grey16), ("tiff-grey32", grey32)):
    tifffile.imwrite(path(name + ".tif"), data, photometric="minisblack")
    expect(name, data)
signed = values(np.int16, 30000) * np.where(rng.random((H, W)) < 0.5, -1, 1).astype(np.int16)
tifffile.imwrite(path("tiff-int16.tif"), signed, photometric="minisblack")
expect("tiff-int16", signed.view(np.uint16))
tifffile.imwrite(path("tiff-rgb.tif"), rgb8, photometric="rgb")
expect("tiff-rgb", rgb8)
tifffile.imwrite(path("tiff-rgb-planar.tif"), np.moveaxis(rgb8, 2, 0), photometric="rgb",
                 planarconfig="separate", rowsperstrip=4)
expect("tiff-rgb-planar", rgb8)
tifffile.imwrite(path("tiff-rgba.tif"), np.dstack([rgb8, alpha]), photometric="rgb",
                 extrasamples=["unassalpha"])
expect("tiff-rgba", rgb8)
expect("tiff-rgba-kept", np.dstack([rgb8, alpha]))
tifffile.imwrite(path("tiff-tiled16.tif"), grey16, photometric="minisblack", tile=(16, 16))
expect("tiff-tiled16", grey16)
tifffile.imwrite(path("tiff-tiled-planar-rgb.tif"), np.moveaxis(rgb8, 2, 0), photometric="rgb",
                 planarconfig="separate", tile=(16, 16))
expect("tiff-tiled-planar-rgb", rgb8)
tifffile.imwrite(path("tiff-tiled-bilevel.tif"), mask, photometric="minisblack", tile=(16, 16))
expect_bits("tiff-tiled-bilevel", mask)
tifffile.imwrite(path("tiff-deflate.tif"), grey16, photometric="minisblack", compression="zlib",
                 rowsperstrip=5)
expect("tiff-deflate", grey16)
tifffile.imwrite(path("tiff-strips.tif"), grey8, photometric="minisblack", rowsperstrip=3)
expect("tiff-strips", grey8)

# TIFF, PIL (through its own libtiff encoders)
Image.fromarray(grey8).save(path("tiff-lzw.tif"), compression="tiff_lzw")
expect("tiff-lzw", grey8)
Image.fromarray(rgb8).save(path("tiff-packbits.tif"), compression="packbits")
expect("tiff-packbits", rgb8)
palette.save(path("tiff-palette.tif"))
expect("tiff-palette", indices)
Image.fromarray(grey8).save(path("tiff-multipage.tif"), save_all=True,
                            append_images=[Image.fromarray(255 - grey8)])
expect("tiff-multipage", grey8)
run("/usr/bin/convert", path("mask.pgm"), path("values8.pgm"), "TIFF:" + path("tiff-magick-multipage.tif"))

# Netpbm formats, Netpbm programs
if run("pgmtopbm", "-threshold", path("inverted.pgm"), stdout=path("pbm-raw.pbm")):
    expect_bits("pbm-raw", mask)
    if run("pnmtoplainpnm", path("pbm-raw.pbm"), stdout=path("pbm-plain.pbm")):
        expect_bits("pbm-plain", mask)
if run("pnmtoplainpnm", path("values8.pgm"), stdout=path("pgm-plain8.pgm")):
    expect("pgm-plain8", grey8)
if run("pnmtoplainpnm", path("values1000.pgm"), stdout=path("pgm-plain1000.pgm")):
    expect("pgm-plain1000", grey1000)
if run("pnmtoplainpnm", path("rgb.ppm"), stdout=path("ppm-plain.ppm")):
    expect("ppm-plain", rgb8)
if run("pamtopam", stdin=path("values8.pgm"), stdout=path("pam-grey8.pam")):
    expect("pam-grey8", grey8)
if run("pamtopam", stdin=path("values1000.pgm"), stdout=path("pam-grey1000.pam")):
    expect("pam-grey1000", grey1000)
if run("pamtopam", stdin=path("rgb.ppm"), stdout=path("pam-rgb.pam")):
    expect("pam-rgb", rgb8)
with open(path("alpha.pgm"), "wb") as f:
    f.write(netpbm("P5", 255, alpha))
if run("pamstack", "-tupletype=RGB_ALPHA", path("rgb.ppm"), path("alpha.pgm"),
       stdout=path("pam-rgb-alpha.pam")):
    expect("pam-rgb-alpha", rgb8)
    expect("pam-rgb-alpha-kept", np.dstack([rgb8, alpha]))
shutil.copy(path("rgb.ppm"), path("ppm-raw.ppm"))
expect("ppm-raw", rgb8)

# Raw 16-bit greymaps and pixmaps, ImageMagick: two bytes a sample, most
# significant first, from a 16-bit PNG and TIFF.
if run("/usr/bin/convert", path("png-grey16.png"), "-depth", "16", "PGM:" + path("pgm-raw16.pgm")):
    expect("pgm-raw16", grey16)
rgb16 = values(np.uint16, 65535, 3)
tifffile.imwrite(path("rgb16.tif"), rgb16, photometric="rgb")
if run("/usr/bin/convert", path("rgb16.tif"), "-depth", "16", "PPM:" + path("ppm-raw16.ppm")):
    expect("ppm-raw16", rgb16)

# NumPy's own writer: every dtype read, both orders, every format version.
def npy(name, data, version=None):
    with open(path(name + ".npy"), "wb") as f:
        np.lib.format.write_array(f, data, version=version)


npy("npy-u1", grey8)
expect("npy-u1", grey8)
npy("npy-bool", mask)
expect("npy-bool", mask.astype(np.uint8))
npy("npy-i1", grey8.view(np.int8))
expect("npy-i1", grey8)
npy("npy-u2", grey16)
expect("npy-u2", grey16)
npy("npy-i2", signed)
expect("npy-i2", signed.view(np.uint16))
npy("npy-u4", grey32)
expect("npy-u4", grey32)
grey64 = values(np.uint64, 2**64 - 1)
npy("npy-u8", grey64)
expect("npy-u8", grey64)
npy("npy-i8", grey64.view(np.int64))
expect("npy-i8", grey64)
npy("npy-rgb", rgb8)
expect("npy-rgb", rgb8)
npy("npy-big-endian", grey16.astype(">u2"))
expect("npy-big-endian", grey16)
npy("npy-fortran", np.asfortranarray(grey16))
expect("npy-fortran", grey16)
npy("npy-fortran-rgb", np.asfortranarray(rgb8))
expect("npy-fortran-rgb", rgb8)
npy("npy-version2", grey8, version=(2, 0))
expect("npy-version2", grey8)
npy("npy-version3", grey16, version=(3, 0))
expect("npy-version3", grey16)
