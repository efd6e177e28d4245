"""The exception for plot files whose content cannot be read."""

from __future__ import annotations


class PlotFileError(ValueError):
    """Something inside a plot file is wrong: a bad count, a missing line, a bad field, ...

    `path` is the file (as given, decoded like os.fsdecode) and `line` the 1-based number of
    the line at fault; for a file that ends too early, the line after its last.
    """

    path: str
    line: int

    def __init__(self, message: str, path: str, line: int) -> None:
        super().__init__(message)
        self.path = path
        self.line = line

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""

    # BaseException pickles only `args`, which would call __init__ with the message alone.
    # The instance dict comes along too, for notes added on the way.
    def __reduce__(self) -> tuple[type[PlotFileError], tuple[str, str, int], dict[str, object]]:
        return type(self), (str(self), self.path, self.line), self.__dict__
