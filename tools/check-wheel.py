"""Checks a repaired wheel before it leaves the machine: check-wheel.py WHEEL NEWEST_GLIBC.

- `auditwheel show` names a manylinux tag no newer than NEWEST_GLIBC (e.g. 2.28);
- every extension module in it is built for the processor of the wheel's tag, and exports its PyInit_<name> function and nothing else (`nm -D`),
  so no symbol of the bundled C++ runtime can clash with another module's.

Prints the tag and the newest glibc symbol version the wheel needs.
"""

import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile


def fail(message):
    print(f"check-wheel: {message}", file=sys.stderr)
    sys.exit(1)


def manylinux_tag(wheel):
    shown = subprocess.run([sys.executable, "-m", "auditwheel", "show", str(wheel)],
                           capture_output=True, text=True, check=False)
    text = " ".join((shown.stdout + shown.stderr).split())
    if shown.returncode != 0:
        fail(f"auditwheel show {wheel.name} failed: {text}")
    tag = re.search(r'consistent with the following platform tag: "(manylinux_(\d+)_(\d+)_\w+)"',
                    text)
    if not tag:
        fail(f"auditwheel finds no manylinux tag for {wheel.name}: {text}")
    glibc = sorted(set(re.findall(r"GLIBC_(\d+(?:\.\d+)+)", text)),
                   key=lambda version: tuple(map(int, version.split("."))))
    return tag.group(1), (int(tag.group(2)), int(tag.group(3))), glibc[-1:] or ["none"]


def exported_symbols(library):
    listing = subprocess.run(["nm", "-D", "--defined-only", str(library)],
                             capture_output=True, text=True, check=True).stdout
    return sorted(line.split()[-1] for line in listing.splitlines() if line.strip())


# ELF e_machine of each processor a wheel is tagged for.
MACHINES = {"x86_64": 62, "aarch64": 183}


def check_machine(name, library, wheel):
    """The module is built for the processor the wheel's tag names, and its suffix says so."""
    tagged = next((arch for arch in MACHINES if wheel.name.endswith(f"_{arch}.whl")), None)
    if tagged is None:
        fail(f"{wheel.name} is tagged for no processor this project builds for")
    with open(library, "rb") as file:
        header = file.read(20)
    machine = int.from_bytes(header[18:20], "little")
    if header[:4] != b"\x7fELF" or machine != MACHINES[tagged]:
        fail(f"{name} in {wheel.name} is not an ELF module for {tagged} (machine {machine})")
    if f"-{tagged}-linux-gnu.so" not in name:
        fail(f"{name} in {wheel.name} lacks the {tagged} extension suffix")


def check_exports(wheel):
    with tempfile.TemporaryDirectory() as folder, zipfile.ZipFile(wheel) as archive:
        modules = [name for name in archive.namelist() if name.endswith(".so")]
        if not modules:
            fail(f"{wheel.name} holds no extension module")
        for name in modules:
            library = archive.extract(name, folder)
            check_machine(name, library, wheel)
            wanted = ["PyInit_" + pathlib.PurePosixPath(name).name.split(".")[0]]
            got = exported_symbols(library)
            if got != wanted:
                fail(f"{name} in {wheel.name} exports {got}, not only {wanted}")
    return modules


def main(argv):
    if len(argv) != 3:
        fail("usage: check-wheel.py WHEEL NEWEST_GLIBC")
    wheel = pathlib.Path(argv[1])
    newest = tuple(int(part) for part in argv[2].split("."))
    tag, version, glibc = manylinux_tag(wheel)
    if version > newest:
        fail(f"{wheel.name} is {tag}, newer than manylinux_{newest[0]}_{newest[1]}")
    modules = check_exports(wheel)
    print(f"{wheel.name}: {tag}, newest glibc symbol {glibc[0]}, "
          f"{len(modules)} module(s) exporting only PyInit")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
