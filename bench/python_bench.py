#!/usr/bin/python3
"""The Python module against its peers, in one process: runlabel.label
against scipy.ndimage.label, skimage.measure.label and cv2.connectedComponents,
runlabel.regions against skimage.measure.regionprops_table and
cv2.connectedComponentsWithStats, on the C++ benchmark's image families made
again with numpy from fixed seeds. Medians of several calls; OpenCV on one
thread, as runlabel labels by default.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py
        [--sizes 2048 4096] [--connectivity 4] [--repeat 5] [--families noise50-b1 ...]
        [--api-timing build/release/bench/runlabel_api_timing]

With --api-timing (the C++ program bench/api_timing.cpp), the binding's own
cost is measured too: the same call on the same pixels through the C++ API,
at the smallest size, the two taking turns.
"""
import argparse
import gc
import math
import os
import statistics
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np
import scipy.ndimage as ndi
import skimage.measure

import runlabel

INK = 1

# ---------------------------------------------------------------------------
# Image families, as bench/images.cpp draws them.


def fill_rect(px, r0, c0, r1, c1):
    """Rows r0..r1 and columns c0..c1, inclusive, clipped to the image."""
    size = px.shape[0]
    r0, c0, r1, c1 = max(r0, 0), max(c0, 0), min(r1, size - 1), min(c1, size - 1)
    if r0 <= r1 and c0 <= c1:
        px[r0:r1 + 1, c0:c1 + 1] = INK


def noise(px, rng, density, block):
    size = px.shape[0]
    cells = -(-size // block)
    grid = (rng.random((cells, cells)) < density / 100).astype(np.uint8)
    px[:] = np.repeat(np.repeat(grid, block, 0), block, 1)[:size, :size]


def glyph(px, kind, base, left, w):
    s = 2  # strokes 2 pixels wide, as text scanned at 300 dpi
    top, asc, desc = base - 11, base - 17, base + 5
    right = left + w - 1
    mid = (top + base) // 2

    def vbar(c, r0, r1):
        fill_rect(px, r0, c, r1, c + s - 1)

    def hbar(r, c0, c1):
        fill_rect(px, r, c0, r + s - 1, c1)

    def diag(r0, c0, r1, c1):
        for r in range(r0, r1 + 1):
            c = c0 + int((c1 - c0) * (r - r0) / max(r1 - r0, 1))
            fill_rect(px, r, c, r, c + s)

    if kind == 0:  # l
        vbar(left + w // 2, asc, base)
    elif kind == 1:  # o
        vbar(left, top, base), vbar(right - 1, top, base)
        hbar(top, left, right), hbar(base - 1, left, right)
    elif kind == 2:  # n
        vbar(left, top, base), vbar(right - 1, top + 1, base), hbar(top, left, right - 1)
    elif kind == 3:  # e
        vbar(left, top, base), vbar(right - 1, top, mid)
        hbar(top, left, right), hbar(mid, left, right), hbar(base - 1, left, right)
    elif kind == 4:  # i
        vbar(left + w // 2, top + 1, base)
        fill_rect(px, asc + 1, left + w // 2, asc + 2, left + w // 2 + 1)
    elif kind == 5:  # v
        diag(top, left, base, left + w // 2 - 1), diag(top, right - 2, base, left + w // 2 - 1)
    elif kind == 6:  # p
        vbar(left, top, desc), vbar(right - 1, top, mid + 2)
        hbar(top, left, right), hbar(mid + 2, left, right)
    elif kind == 7:  # c
        vbar(left, top, base), hbar(top, left, right), hbar(base - 1, left, right)
    elif kind == 8:  # h
        vbar(left, asc, base), vbar(right - 1, top + 1, base), hbar(top, left, right - 1)
    elif kind == 9:  # s
        hbar(top, left, right), hbar(mid, left, right), hbar(base - 1, left, right)
        vbar(left, top, mid), vbar(right - 1, mid, base)
    elif kind == 10:  # x
        diag(top, left, base, right - 2), diag(top, right - 2, base, left)
    else:  # full stop
        fill_rect(px, base - 2, left, base - 1, left + 1)


def document(px, rng):
    """Ragged lines of glyph-like shapes, paragraph gaps, the odd rule."""
    size = px.shape[0]
    margin = max(size // 16, 8)
    paragraph_start = True
    for base in range(margin + 18, size - margin - 6, 26):
        roll = rng.integers(100)
        if roll < 6:
            paragraph_start = True
            continue
        if roll < 9:
            fill_rect(px, base - 6, margin, base - 5, size - margin - 1)
            continue
        x = margin + (40 if paragraph_start else 0)
        line_end = size - margin - (0 if paragraph_start else rng.integers(size // 6 + 1))
        paragraph_start = False
        while True:
            glyphs = rng.integers(1, 10)
            if x + glyphs * 12 >= line_end:
                break
            for _ in range(glyphs):
                w = int(rng.integers(7, 12))
                glyph(px, int(rng.integers(11)), base, x, w)
                x += w + 2
            if rng.integers(8) == 0:
                glyph(px, 11, base, x, 2)
                x += 4
            x += 9


def blobs(px, rng):
    """A few dozen large filled ellipses at random angles."""
    size = px.shape[0]
    for _ in range(36):
        cy, cx = rng.random() * size, rng.random() * size
        a, b = size * (0.03 + 0.07 * rng.random()), size * (0.03 + 0.07 * rng.random())
        t = rng.random() * math.pi
        reach = max(a, b)
        r0, r1 = max(0, int(cy - reach)), min(size - 1, int(cy + reach))
        c0, c1 = max(0, int(cx - reach)), min(size - 1, int(cx + reach))
        y, x = np.ogrid[r0:r1 + 1, c0:c1 + 1]
        u = (x - cx) * math.cos(t) + (y - cy) * math.sin(t)
        v = -(x - cx) * math.sin(t) + (y - cy) * math.cos(t)
        px[r0:r1 + 1, c0:c1 + 1][(u / a) ** 2 + (v / b) ** 2 <= 1] = INK


def spiral(px):
    size = px.shape[0]
    top, left, bottom, right = 0, 0, size - 1, size - 1
    while top <= bottom and left <= right:
        px[top, left:right + 1] = INK
        px[top:bottom + 1, right] = INK
        if bottom - top < 2 or right - left < 2:
            break
        px[bottom, left:right + 1] = INK
        px[top + 2:bottom + 1, left] = INK
        if bottom - top < 4 or right - left < 4:
            break
        px[top + 2, left + 1] = INK
        top, left, bottom, right = top + 2, left + 2, bottom - 2, right - 2


FAMILIES = ([f"noise{d}-b{b}" for b in (1, 4, 16) for d in (10, 30, 50, 70, 90)] +
            ["document", "blobs", "zero", "ones", "checker", "spiral"])


def make_image(family, size):
    """size x size uint8 pixels, 0 or 1; the same for the same arguments."""
    seed = [sum(map(ord, family)) * 131 + len(family), size]
    rng = np.random.default_rng(seed)
    px = np.zeros((size, size), np.uint8)
    if family.startswith("noise"):
        density, block = family[5:].split("-b")
        noise(px, rng, int(density), int(block))
    elif family == "document":
        document(px, rng)
    elif family == "blobs":
        blobs(px, rng)
    elif family == "ones":
        px[:] = INK
    elif family == "checker":
        px[:] = np.indices((size, size)).sum(axis=0) % 2
    elif family == "spiral":
        spiral(px)
    return px


# ---------------------------------------------------------------------------
# Timing.


def median_seconds(call, repeat, slow=2.0):
    """The median of repeat calls after one to warm up; a call slower than
    slow seconds is timed once."""
    gc.collect()
    start = time.perf_counter()
    call()
    first = time.perf_counter() - start
    if first > slow:
        return first
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def ms(seconds):
    return "—" if seconds is None else f"{seconds * 1e3:9.2f}"


def ratio(theirs, ours):
    return "—" if theirs is None or ours is None else f"{theirs / ours:6.1f}×"


def print_table(title, header, rows):
    print(f"\n{title}\n")
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    line = lambda r: "| " + " | ".join(str(v).rjust(w) for v, w in zip(r, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 1) + ":" for w in widths) + "|")
    for r in rows:
        print(line(r))
    sys.stdout.flush()


def label_row(image, name, connectivity, repeat):
    cv_conn = connectivity
    structure = ndi.generate_binary_structure(2, 1 if connectivity == 4 else 2)
    labels, count = runlabel.label(image, connectivity)
    peers = {
        "scipy": lambda: ndi.label(image, structure),
        "skimage": lambda: skimage.measure.label(image, connectivity=connectivity // 4),
        "cv2": lambda: cv2.connectedComponents(image, connectivity=cv_conn, ltype=cv2.CV_32S),
    }
    # Every peer finds the same regions (OpenCV counts the background too).
    assert ndi.label(image, structure)[1] == count, name
    assert cv2.connectedComponents(image, connectivity=cv_conn, ltype=cv2.CV_32S)[0] == count + 1
    out = np.empty(image.shape, np.uint32)
    ours = median_seconds(lambda: runlabel.label(image, connectivity), repeat)
    ours_out = median_seconds(lambda: runlabel.label(image, connectivity, out=out), repeat)
    theirs = {k: median_seconds(f, repeat) for k, f in peers.items()}
    return count, ours, ours_out, theirs


def regions_row(image, count, connectivity, repeat, skimage_limit):
    props = ("label", "area", "bbox", "centroid")
    ours = median_seconds(lambda: runlabel.regions(image, connectivity), repeat)
    sk = None
    if count <= skimage_limit:
        sk = median_seconds(lambda: skimage.measure.regionprops_table(
            skimage.measure.label(image, connectivity=connectivity // 4), properties=props), 1)
    cv = median_seconds(lambda: cv2.connectedComponentsWithStats(
        image, connectivity=connectivity, ltype=cv2.CV_32S), repeat)
    return ours, sk, cv


def binding_overhead(program, images, connectivity, repeat, rounds=3):
    """The C++ API's one-shot call into a reused 32-bit label buffer (the
    program bench/api_timing.cpp) and the same call from Python, on the same
    pixels, taking turns so that the machine's load weighs on both alike:
    [(name, C++ seconds, Python seconds)], the best median of each."""
    rows = []
    with tempfile.TemporaryDirectory(prefix="runlabel-bench.") as scratch:
        for name, image in images:
            path = os.path.join(scratch, "image.raw")
            image.tofile(path)
            args = [program, str(connectivity), str(repeat), name, str(image.shape[1]),
                    str(image.shape[0]), path]
            out = np.empty(image.shape, np.uint32)
            cxx, py = [], []
            for _ in range(rounds):
                line = subprocess.run(args, check=True, capture_output=True, text=True).stdout
                cxx.append(float(line.split()[1]))
                py.append(median_seconds(lambda: runlabel.label(image, connectivity, out=out),
                                         repeat))
            rows.append((name, min(cxx), min(py)))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[2048, 4096])
    parser.add_argument("--connectivity", type=int, choices=(4, 8), default=4)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--families", nargs="+", default=FAMILIES, choices=FAMILIES,
                        metavar="FAMILY")
    parser.add_argument("--skimage-regions-limit", type=int, default=100_000,
                        help="time regionprops_table only up to this many regions")
    parser.add_argument("--api-timing", help="the C++ timing program (bench/api_timing.cpp)")
    args = parser.parse_args()
    cv2.setNumThreads(1)
    c = args.connectivity
    print(f"runlabel {runlabel.__version__}, numpy {np.__version__}, scipy "
          f"{sys.modules['scipy'].__version__}, scikit-image {skimage.__version__}, "
          f"OpenCV {cv2.__version__} (1 thread); {c}-connectivity; milliseconds, median of "
          f"{args.repeat}")

    label_rows, regions_rows, overhead_images = [], [], []
    for size in args.sizes:
        for family in args.families:
            name = f"{family}/{size}"
            image = make_image(family, size)
            count, ours, ours_out, theirs = label_row(image, name, c, args.repeat)
            label_rows.append([name, count, ms(ours), ms(ours_out), ms(theirs["scipy"]),
                               ms(theirs["skimage"]), ms(theirs["cv2"]),
                               ratio(theirs["scipy"], ours), ratio(theirs["cv2"], ours)])
            r_ours, r_sk, r_cv = regions_row(image, count, c, args.repeat,
                                             args.skimage_regions_limit)
            regions_rows.append([name, count, ms(r_ours), ms(r_sk), ms(r_cv),
                                 ratio(r_sk, r_ours), ratio(r_cv, r_ours)])
            if size == min(args.sizes):
                overhead_images.append((family, image))
            print(f"  {name}", file=sys.stderr, flush=True)

    print_table("label: runlabel.label(image) (default dtype) and into a uint32 out=; the peers",
                ["image", "regions", "runlabel", "out=u32", "scipy", "skimage", "cv2",
                 "vs scipy", "vs cv2"], label_rows)
    print_table("regions: runlabel.regions(image); skimage label + regionprops_table; "
                "cv2.connectedComponentsWithStats",
                ["image", "regions", "runlabel", "skimage", "cv2", "vs skimage", "vs cv2"],
                regions_rows)
    if args.api_timing:
        rows = [[f"{name}/{min(args.sizes)}", ms(cxx), ms(py), f"{(py / cxx - 1) * 100:+6.1f} %"]
                for name, cxx, py in binding_overhead(args.api_timing, overhead_images, c,
                                                      args.repeat)]
        print_table("binding: runlabel.label(image, out=u32) against the same call in C++, "
                    "in turns, best of 3 medians",
                    ["image", "C++", "Python", "overhead"], rows)

if __name__ == "__main__":
    main()
