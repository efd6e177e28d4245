"""Realistic VORMANT plot files for the benchmark, and the exact binary32 value of every field.

The files look like those of real simulation runs: a title line ending in the parameter count,
one name line per parameter, then per time step a lead line and the values as Fortran E fields
(` 1.23457E+02`, `-1.23457E+02`, E12.5 or E15.8) right-aligned in 12 or 15 characters, ten to a
line, the time first. A negative value fills its whole field. The signals are what solvers write:
smooth responses over several decades, counters, ramps, flags that stay zero, negative zeros,
noise, and decays that run down through the binary32 subnormals to zero. Values are binary32
numbers, as the solver stores them, before they are printed.
"""

from __future__ import annotations

import math
import os
from fractions import Fraction
from pathlib import Path

import numpy as np

GENERATOR_VERSION = 1
DIGITS_FOR_WIDTH = {12: 6, 15: 9}
FIELDS_PER_LINE = 10


def parameter_signals(parameters: int, steps: int, seed: int) -> np.ndarray:
    """The values as binary32, shape (parameters, steps); row 0 is the time."""
    rng = np.random.default_rng(seed)
    t = np.arange(steps, dtype=np.float64)
    values = np.empty((parameters, steps), dtype=np.float64)
    values[0] = t * 1.0e-3
    for p in range(1, parameters):
        kind = rng.integers(0, 10)
        scale = 10.0 ** rng.integers(-4, 7)
        phase = rng.uniform(0, 2 * math.pi)
        if kind == 0:  # a flag or unused channel: zeros, some negative
            row = np.where(rng.random(steps) < 0.3, -0.0, 0.0)
        elif kind == 1:  # a decay from a large value through the subnormals to zero
            row = scale * np.exp(-t * (120.0 / max(steps, 1)) - rng.uniform(0, 20))
            row[row < 1e-46] = 0.0
        elif kind == 2:  # a counter
            row = np.floor(t / rng.integers(1, 50)) + rng.integers(0, 100)
        elif kind == 3:  # noise around zero, both signs
            row = scale * rng.standard_normal(steps)
        elif kind == 4:  # a ramp with small wiggles
            row = scale * (t / max(steps, 1) + 0.01 * np.sin(t * 0.3 + phase))
        else:  # smooth responses over a few decades, both signs
            row = scale * np.sin(t * rng.uniform(1e-4, 5e-2) + phase) * np.exp(
                np.sin(t * 1e-3 + phase) * rng.uniform(0, 4))
        values[p] = row
    return values.astype(np.float32)


def write_plot_file(path: Path, parameters: int, steps: int, width: int, seed: int = 1) -> None:
    digits = DIGITS_FOR_WIDTH[width]
    field = f"%{width}.{digits - 1}E"
    values = parameter_signals(parameters, steps, seed).T.astype(np.float64)  # (steps, params)
    full_line = field * FIELDS_PER_LINE + "\n"
    rest = parameters % FIELDS_PER_LINE
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write(f" VORMANT PLOT FILE   RUN {seed:04d}   {parameters}\n")
        out.write("TIME            S\n")
        for p in range(1, parameters):
            out.write(f"PARAM{p:05d}       UNIT{p % 7}\n")
        for step in range(steps):
            row = values[step].tolist()
            out.write(f" TIME STEP {step + 1:9d}   ITERATIONS {(step * 7919) % 37 + 1:3d}\n")
            full = parameters - rest
            for start in range(0, full, FIELDS_PER_LINE):
                out.write(full_line % tuple(row[start:start + FIELDS_PER_LINE]))
            if rest:
                out.write(field * rest % tuple(row[full:]) + "\n")


def file_name(parameters: int, steps: int, width: int) -> str:
    return f"plot_v{GENERATOR_VERSION}_p{parameters}_t{steps}_n{width}.plt"


def ensure_plot_file(directory: Path, parameters: int, steps: int, width: int) -> Path:
    """The plot file of this shape in `directory`, written if it is not there yet."""
    directory.mkdir(parents=True, exist_ok=True)
    path = directory / file_name(parameters, steps, width)
    if not path.exists():
        partial = path.with_suffix(".partial")
        write_plot_file(partial, parameters, steps, width)
        os.replace(partial, path)
    return path


def fields_as_doubles(path: Path, width: int) -> tuple[list[str], np.ndarray]:
    """Every field text (blocks in order, time first) and its correctly rounded binary64."""
    with open(path, encoding="ascii") as lines:
        parameters = int(next(lines).split()[-1])
        for _ in range(parameters):
            next(lines)
        texts: list[str] = []
        per_line = FIELDS_PER_LINE
        value_lines = -(-parameters // per_line)
        for _lead in lines:
            for j in range(value_lines):
                line = next(lines)
                count = min(per_line, parameters - j * per_line)
                texts.extend(line[k * width:(k + 1) * width] for k in range(count))
    return texts, np.array([float(t) for t in texts], dtype=np.float64)


def round_to_binary32(texts: list[str], doubles: np.ndarray) -> np.ndarray:
    """The binary32 nearest to each decimal text, ties to even, from its correctly rounded double.

    Rounding the double again gives the same binary32 unless the double lies exactly on a binary32
    midpoint (a double between the decimal and a midpoint would be nearer the decimal than the
    midpoint is); those few are rounded from the exact fraction.
    """
    rounded = doubles.astype(np.float32)
    widened = rounded.astype(np.float64)
    inexact = widened != doubles
    toward = np.where(doubles > widened, np.float32(np.inf), np.float32(-np.inf))
    other = np.nextafter(rounded, toward).astype(np.float64)
    midpoint = inexact & (2.0 * doubles == widened + other)
    for index in np.flatnonzero(midpoint):
        rounded[index] = exact_binary32(texts[index])
    return rounded


def exact_binary32(text: str) -> np.float32:
    """The binary32 nearest to the decimal `text`, ties to even, by exact arithmetic."""
    value = Fraction(text.strip())
    sign = -1 if value < 0 or text.strip().startswith("-") else 1
    magnitude = abs(value)
    if magnitude == 0:
        return np.float32(math.copysign(0.0, sign))
    exponent = max(math.floor(math.log2(magnitude)) - 23, -149)
    while Fraction(2) ** (exponent + 24) <= magnitude and exponent > -149:
        exponent += 1
    while exponent > -149 and Fraction(2) ** (exponent + 23) > magnitude:
        exponent -= 1
    quantum = Fraction(2) ** exponent
    units, remainder = divmod(magnitude, quantum)
    if remainder * 2 > quantum or (remainder * 2 == quantum and units % 2 == 1):
        units += 1
    result = float(units * quantum) if units * quantum < Fraction(2) ** 128 else math.inf
    return np.float32(math.copysign(result, sign))


def reference_values(path: Path, width: int, parameters: int) -> np.ndarray:
    """The exact binary32 values of the file, shape (parameters, steps); cached beside it."""
    cache = path.with_suffix(".reference.npy")
    if cache.exists() and cache.stat().st_mtime >= path.stat().st_mtime:
        return np.load(cache)
    texts, doubles = fields_as_doubles(path, width)
    values = round_to_binary32(texts, doubles).reshape(-1, parameters).T.copy()
    np.save(cache, values)
    return values
