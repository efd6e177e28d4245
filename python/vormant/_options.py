"""The values of the command line's shared options: the steps to read and the formats to write.

Kept apart from the commands, so that parsing a command line imports none of them.
"""

from __future__ import annotations

import argparse
import re

PROG = "vormant"

# The formats `vormant convert` writes, each with the suffix it gives its files.
SUFFIXES = {"parquet": ".parquet", "csv": ".csv", "hdf5": ".h5", "mat": ".mat", "netcdf": ".nc"}
FORMAT_OF_SUFFIX = {**{suffix: form for form, suffix in SUFFIXES.items()},
                    ".pq": "parquet", ".hdf5": "hdf5", ".hdf": "hdf5", ".cdf": "netcdf"}

STEPS_FORM = re.compile(r"(-?\d*):(-?\d*)")


def step_slice(text: str) -> slice:
    """`--steps START:STOP`: the time steps as Python slices a list; either side may be
    left out, and a negative one counts from the end."""
    form = STEPS_FORM.fullmatch(text)
    if form is None:
        raise argparse.ArgumentTypeError(
            f"expected START:STOP, whole numbers either of which may be left out "
            f"(as 100:200 or -1000:), not {text!r}")
    start, stop = (int(bound) if bound else None for bound in form.groups())
    return slice(start, stop)
