"""Writes synthetic VORMANT plot files shaped like those of real simulation runs.

Fields are Fortran-style E fields right-aligned in their width: `E12.5` (6 significant digits)
for 12-digit files and `E15.8` (9 significant digits) for 15-digit files. A negative value fills
its field completely. The values mix smooth signals, zeros, negative zeros and magnitudes down to
binary32 subnormals, as plot files of long runs do.
"""

from __future__ import annotations

import argparse
import math
import random

DIGITS_FOR_WIDTH = {12: 6, 15: 9}


def e_field(value: float, width: int) -> str:
    """`value` as a Fortran E field of `width` characters: ` 1.23457E+02`."""
    digits = DIGITS_FOR_WIDTH[width]
    if value == 0.0:
        mantissa, exponent = 0.0, 0
    else:
        exponent = math.floor(math.log10(abs(value)))
        mantissa = abs(value) / 10.0**exponent
        if round(mantissa, digits - 1) >= 10.0:
            mantissa /= 10.0
            exponent += 1
    sign = "-" if math.copysign(1.0, value) < 0 else " "
    text = f"{sign}{mantissa:.{digits - 1}f}E{exponent:+03d}"
    return text.rjust(width)


def parameter_value(rng: random.Random, parameter: int, step: int) -> float:
    kind = parameter % 7
    if kind == 0:
        return 0.0
    if kind == 1:
        return -0.0 if step % 5 == 0 else -abs(math.sin(step * 0.01 + parameter)) * 1e3
    if kind == 2:
        return rng.uniform(1e-44, 1e-38)  # binary32 subnormals and the smallest normals
    if kind == 3:
        return rng.uniform(-1.0, 1.0) * 10.0 ** rng.randint(-30, 30)
    return math.sin((step + 1) * 0.01 * parameter + parameter) * 10.0 ** (parameter % 9 - 4)


def plot_file_text(parameters: int, steps: int, width: int, seed: int = 1) -> str:
    """The whole text of a plot file with `parameters` values per block (the time included)."""
    rng = random.Random(seed)
    lines = [f" VORMANT PLOT FILE   RUN {seed:04d}   WIDTH {width}   {parameters}"]
    lines.append("TIME  S")
    lines.extend(f"PARAM{p:04d}  UNIT{p % 5}" for p in range(1, parameters))
    for step in range(steps):
        lines.append(f" TIME STEP {step + 1:8d}   ITERATIONS {rng.randint(1, 40):3d}")
        values = [step * 1.0e-3] + [parameter_value(rng, p, step) for p in range(1, parameters)]
        for start in range(0, parameters, 10):
            lines.append("".join(e_field(v, width) for v in values[start:start + 10]))
    return "\n".join(lines) + "\n"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("output")
    parser.add_argument("--parameters", type=int, default=12)
    parser.add_argument("--steps", type=int, default=40)
    parser.add_argument("--width", type=int, choices=sorted(DIGITS_FOR_WIDTH), default=12)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    with open(args.output, "w", encoding="ascii", newline="\n") as out:
        out.write(plot_file_text(args.parameters, args.steps, args.width, args.seed))


if __name__ == "__main__":
    main()
