# Types of the runlabel package, for type checkers and editors.
import os
from typing import Literal, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

__version__: str

class Error(ValueError): ...

def label(
    image: npt.ArrayLike,
    connectivity: int = 4,
    dtype: npt.DTypeLike = None,
    out: Optional[np.ndarray] = None,
    offset: int = 1,
    *,
    min_area: int = 0,
    sort: Literal["raster", "area"] = "raster",
    threads: int = 1,
) -> Tuple[np.ndarray, int]: ...
def regions(
    image: npt.ArrayLike,
    connectivity: int = 4,
    min_area: int = 0,
    *,
    sort: Literal["raster", "area"] = "raster",
    threads: int = 1,
) -> dict[str, np.ndarray]: ...
def read(path: _Path) -> np.ndarray: ...
def write(path: _Path, labels: npt.ArrayLike) -> None: ...
