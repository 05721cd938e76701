"""Images for the module's tests: seeded noise of any pixel type and the
shapes whose merge order matters, each reproducible from its arguments."""
import numpy as np

PIXEL_TYPES = [np.bool_, np.uint8, np.int8, np.uint16, np.int16,
               np.uint32, np.int32, np.uint64, np.int64]
LABEL_TYPES = [np.uint8, np.int8, np.uint16, np.int16,
               np.uint32, np.int32, np.uint64, np.int64]

# scipy.ndimage.label's structures for each connectivity.
STRUCTURES = {4: np.array([[0, 1, 0], [1, 1, 1], [0, 1, 0]]), 8: np.ones((3, 3), int)}


def noise(shape, density, dtype=np.uint8, seed=0):
    """Foreground with probability density. Foreground values have one bit
    set, anywhere in the sample (the sign bit too), so that a pixel is never
    judged by one of its bytes alone."""
    rng = np.random.default_rng([seed, *shape, int(density * 1000)])
    mask = rng.random(shape) < density
    if dtype is np.bool_:
        return mask
    bits = np.dtype(dtype).itemsize * 8
    unsigned = np.dtype(f"u{np.dtype(dtype).itemsize}")
    ones = np.left_shift(np.uint64(1), rng.integers(0, bits, shape, dtype=np.uint64))
    return np.where(mask, ones.astype(unsigned), 0).astype(unsigned).view(dtype)


FLOAT_TYPES = [np.float16, np.float32, np.float64]


def float_noise(shape, density, dtype=np.float64, seed=0):
    """Foreground drawn from the values a zero test can get wrong: NaN, the
    infinities, the smallest subnormals of either sign; background is 0.0 or
    -0.0, whose only set bit is the sign."""
    rng = np.random.default_rng([seed, *shape, int(density * 1000), 7])
    info = np.finfo(dtype)
    tiny = info.smallest_subnormal
    foreground = np.array([np.nan, np.inf, -np.inf, tiny, -tiny, 1.0, -info.max], dtype)
    background = np.array([0.0, -0.0], dtype)
    mask = rng.random(shape) < density
    return np.where(mask, rng.choice(foreground, shape), rng.choice(background, shape))


def spiral(size):
    """A square spiral one pixel wide: one region whose turns join only at
    their corners, many runs on every row."""
    image = np.zeros((size, size), np.uint8)
    top, left, bottom, right = 0, 0, size - 1, size - 1
    while top <= bottom and left <= right:
        image[top, left:right + 1] = 1
        image[top:bottom + 1, right] = 1
        if bottom - top < 2 or right - left < 2:
            break
        image[bottom, left:right + 1] = 1
        image[top + 2:bottom + 1, left] = 1
        if bottom - top < 4 or right - left < 4:
            break
        image[top + 2, left + 1] = 1
        top, left, bottom, right = top + 2, left + 2, bottom - 2, right - 2
    return image


def comb(size, up=True):
    """Teeth on every other column joined by a spine at the bottom (or top):
    regions that only meet late in the scan."""
    image = np.zeros((size, size), np.uint8)
    image[:, ::2] = 1
    image[-1 if up else 0, :] = 1
    return image


def staircase(size):
    """Diagonal steps: joined only through corners."""
    image = np.zeros((size, size), np.uint8)
    for k in range(size):
        image[k, k] = 1
        image[k, size - 1 - k] = 1
    return image


def checker(shape):
    rows, cols = np.indices(shape)
    return ((rows + cols) % 2).astype(np.uint8)


def shapes_of_note():
    """Name and image of each shape where merge order matters."""
    u_shape = np.zeros((9, 11), np.uint8)
    u_shape[:, 1] = u_shape[:, 9] = 1
    u_shape[8, 1:10] = 1
    nested = np.zeros((15, 15), np.uint8)
    nested[[0, -1], :] = nested[:, [0, -1]] = 1
    nested[4:11, 4:11] = 1
    nested[6:9, 6:9] = 0
    nested[7, 7] = 1
    empty_rows = noise((30, 40), 0.5, seed=7)
    empty_rows[::3] = 0
    return [
        ("spiral", spiral(31)),
        ("spiral-even", spiral(32)),
        ("comb-up", comb(21, up=True)),
        ("comb-down", comb(21, up=False)),
        ("staircase", staircase(25)),
        ("checker", checker((17, 23))),
        ("u", u_shape),
        ("nested", nested),
        ("empty-rows", empty_rows),
    ]


def isolated(count):
    """One row holding count single-pixel regions."""
    image = np.zeros((1, max(2 * count - 1, 0)), np.uint8)
    image[0, ::2] = 1
    return image
