"""Type information for `tarnex`, a reader of VORMANT plot files."""

__all__ = ["rust_read_vormant"]

def rust_read_vormant(
    file_path: str, n_digits: int
) -> tuple[list[float], list[list[float]]]:
    """Reads a VORMANT plot file.

    `file_path` names the file; `n_digits` is the width of one field in bytes: 12 for files
    with 6 digits of precision, 15 for files with 9 digits.

    Returns `(time, columns)`: the time of every time step, and for every other parameter
    the list of its values, each the binary32 value of its field.

    Raises `TypeError`, `OverflowError` or `UnicodeEncodeError` for unusable arguments, and
    `PanicException` (a `BaseException`, not an `Exception`) when the file cannot be read.
    """
