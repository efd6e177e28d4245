"""Checks an extension module built for macOS: its processor, its kind of file and what it exports.

Usage: check-macho.py MODULE ARCH [ARCH ...]   ARCH: arm64 or x86_64, the processors expected

Fails (exit 1) unless the file is a 64-bit Mach-O dynamic library or bundle for the expected
processor that defines PyInit_<name> and exports no other symbol of its own. The interpreter's
symbols must stay undefined, to be bound from the loading process.

Two kinds of exported symbol are not the module's own and are allowed:
  - the header symbols every Mach-O image carries (__mh_bundle_header, __mh_dylib_header,
    ___dso_handle);
  - the C++ runtime's replaceable operator new and delete: the cross toolchain links its libc++
    into the module and gives them default visibility, as the standard asks of them. A build
    on a Mac takes the system's libc++ instead and exports none.
Written without any Mach-O tooling, which a Linux machine may lack.
"""

import os
import re
import struct
import sys

MH_MAGIC_64 = 0xFEEDFACF
FAT_MAGIC = 0xCAFEBABE
CPU_TYPES = {0x01000007: "x86_64", 0x0100000C: "arm64"}
FILE_TYPES = {6: "dylib", 8: "bundle"}
LC_SYMTAB = 0x2
N_STAB, N_TYPE, N_EXT, N_SECT, N_UNDF = 0xE0, 0x0E, 0x01, 0x0E, 0x0
HEADER_SYMBOLS = {"__mh_bundle_header", "__mh_dylib_header", "___dso_handle"}
# operator new, new[], delete and delete[], in every overload: _Znwm, _ZdlPvSt11align_val_t, ...
RUNTIME_OPERATORS = re.compile(r"^__Z(nw|na|dl|da)[A-Za-z0-9_]*$")


class MachOError(Exception):
    pass


def read_header(data):
    """The processor and file type of a thin 64-bit image."""
    if len(data) < 32:
        raise MachOError("too short for a Mach-O header")
    magic, cputype, _, filetype, ncmds, _, _, _ = struct.unpack_from("<IiiIIIII", data, 0)
    if magic != MH_MAGIC_64:
        kind = "a universal file" if struct.unpack_from(">I", data, 0)[0] == FAT_MAGIC else "no"
        raise MachOError(f"{kind} 64-bit Mach-O image (magic {magic:#x})")
    return CPU_TYPES.get(cputype, f"cputype {cputype:#x}"), filetype, ncmds


def symbols(data, ncmds):
    """(name, defined, external) of each symbol-table entry that is not debugging information."""
    offset = 32
    for _ in range(ncmds):
        command, size = struct.unpack_from("<II", data, offset)
        if command == LC_SYMTAB:
            symoff, nsyms, stroff, _ = struct.unpack_from("<IIII", data, offset + 8)
            for index in range(nsyms):
                strx, n_type, _, _, _ = struct.unpack_from("<IBBHQ", data, symoff + 16 * index)
                if n_type & N_STAB:
                    continue
                end = data.index(b"\0", stroff + strx)
                name = data[stroff + strx : end].decode("ascii", "replace")
                yield name, (n_type & N_TYPE) == N_SECT, bool(n_type & N_EXT)
            return
        offset += size
    raise MachOError("no symbol table")


def check(path, architectures):
    """The problems found in the module at path, as lines of text."""
    with open(path, "rb") as file:
        data = file.read()
    architecture, filetype, ncmds = read_header(data)
    problems = []
    if architecture not in architectures:
        problems.append(f"built for {architecture}, not {' or '.join(architectures)}")
    if filetype not in FILE_TYPES:
        problems.append(f"file type {filetype} is neither a dylib nor a bundle")
    module = os.path.basename(path).split(".")[0]
    entries = list(symbols(data, ncmds))
    exported = {name for name, defined, external in entries if defined and external}
    init = f"_PyInit_{module}"
    if init not in exported:
        problems.append(f"{init} is not exported")
    own = sorted(
        name
        for name in exported - {init} - HEADER_SYMBOLS
        if not RUNTIME_OPERATORS.match(name)
    )
    if own:
        problems.append(f"exports more than {init}: {', '.join(own[:10])}")
    undefined = {name for name, defined, _ in entries if not defined}
    if not any(name.startswith("_Py") for name in undefined):
        problems.append("no interpreter symbol is left to the loading process")
    summary = f"{architecture} {FILE_TYPES.get(filetype, filetype)}, exports {init}"
    return problems, summary


def main(argv):
    if len(argv) < 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    path, architectures = argv[1], argv[2:]
    try:
        problems, summary = check(path, architectures)
    except (OSError, MachOError, struct.error, ValueError) as error:
        problems, summary = [str(error)], ""
    name = os.path.basename(path)
    if problems:
        for problem in problems:
            print(f"check-macho: {name}: {problem}", file=sys.stderr)
        return 1
    print(f"check-macho: {name}: {summary}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
