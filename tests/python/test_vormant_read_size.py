"""vormant reads its files in 64 KiB pieces, not tarnex's 8192 bytes: lines that meet or cross
those borders arrive whole, the same values as tarnex's, the same line numbers in errors."""

import pytest
from vormant_files import assert_same_values

import vormant

READ_SIZE = 64 * 1024
HEADER = "VORMANT PLOT FILE   3\r\nTIME  S\r\nA\r\nB\r\n"
WIDTH = 12


def value_line(step):
    return "".join(f"{value:{WIDTH}.5E}" for value in (step * 0.25, -step / 3, step * 1e-30))


def straddling_file(shift, last_field=None):
    """A first block whose value line ends `shift` bytes after the first read's end (-2: CR and LF
    end the read, -1: CR ends it and LF begins the next, 0: both in the next), a lead line with a
    two-byte character cut by the second border, a lead line spanning three reads, then blocks
    enough to cross several borders more. `last_field` replaces the last line's last field."""
    first_value = value_line(0)
    lead = "x" * (READ_SIZE + shift - len(HEADER) - 2 - len(first_value))
    blocks = [(lead, first_value)]
    offset = READ_SIZE + shift + 2
    blocks.append(("y" * (2 * READ_SIZE - 1 - offset) + "\u00e9", value_line(1)))
    blocks.append(("z" * (3 * READ_SIZE + 5), value_line(2)))
    blocks += [(f" STEP {step}", value_line(step)) for step in range(3, 8000)]
    if last_field is not None:
        lead, line = blocks[-1]
        blocks[-1] = (lead, line[:-WIDTH] + last_field.rjust(WIDTH))
    text = HEADER + "".join(f"{lead}\r\n{line}\r\n" for lead, line in blocks)
    assert text.encode().index("\u00e9".encode()) == 2 * READ_SIZE - 1
    assert len(text) > 6 * READ_SIZE
    return text, len(blocks)


@pytest.mark.parametrize("shift", [-2, -1, 0, 1])
def test_lines_across_read_borders_give_tarnex_values(read, plot_file, shift):
    text, steps = straddling_file(shift)
    path = plot_file(text)
    plot = vormant.read(path)
    assert plot.n_digits == WIDTH and plot.names == ("TIME  S", "A", "B")
    assert plot.values.shape == (steps, 3)
    assert_same_values(plot, *read(path, WIDTH))


@pytest.mark.parametrize("shift", [-1, 0])
def test_errors_after_read_borders_name_their_line(plot_file, shift):
    text, steps = straddling_file(shift, last_field="1.0x")
    path = plot_file(text)
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.read(path, WIDTH)
    assert caught.value.line == 4 + 2 * steps
    assert "1.0x" in str(caught.value)
