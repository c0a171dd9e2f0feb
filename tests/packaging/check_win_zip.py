#!/usr/bin/env python3
"""Checks the Windows zip without running anything from it.

    check_win_zip.py ZIP VERSION

The zip holds one folder, quarnel-fwupdate-VERSION-win32, with the two 32-bit programs,
README.txt and LICENSE.txt and nothing else. Each program's resources carry a version block
with VERSION in both its numeric and its text fields, the product name and the file's own
name, and a manifest that keeps Windows from asking for administrator rights. The windowed
program is a GUI program, the command-line program a console one.
"""

import struct
import sys
import zipfile

PRODUCT = "Quarnel USB Digital Audio Firmware Update"
RT_VERSION = 16
RT_MANIFEST = 24
MACHINE_I386 = 0x14C
SUBSYSTEM_GUI = 2
SUBSYSTEM_CONSOLE = 3


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class PeFile:
    """The headers and the resource tree of a PE image held in memory."""

    def __init__(self, data, name):
        self.data = data
        check(data[:2] == b"MZ", f"{name}: no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        check(data[pe:pe + 4] == b"PE\0\0", f"{name}: no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        check(magic == 0x10B, f"{name}: not a 32-bit (PE32) image, optional header magic {magic:#x}")
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        # The resource table is the third data directory; PE32 directories start at 96.
        self.resource_rva, _ = struct.unpack_from("<II", data, optional + 96 + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr))
        check(self.resource_rva != 0, f"{name}: no resources")
        self.resource_base = self.offset(self.resource_rva)

    def offset(self, rva):
        for vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise Failure(f"address {rva:#x} lies in no section")

    def entries(self, directory):
        named, ids = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            yield name, target

    def resource(self, type_id):
        """The bytes of the first resource of this type (any name, any language), or None."""
        node = None
        for name, target in self.entries(self.resource_base):
            if name == type_id:
                node = target
        if node is None:
            return None
        # Type, then name, then language: take the first entry of each level.
        while node & 0x80000000:
            node = next(self.entries(self.resource_base + (node & 0x7FFFFFFF)))[1]
        rva, size = struct.unpack_from("<II", self.data, self.resource_base + node)
        start = self.offset(rva)
        return self.data[start:start + size]


def align4(n):
    return (n + 3) & ~3


def utf16z(buf, start, end):
    """The NUL-terminated UTF-16 string at start, and the offset after its NUL."""
    pos = start
    while pos + 1 < end and buf[pos:pos + 2] != b"\0\0":
        pos += 2
    return buf[start:pos].decode("utf-16-le"), pos + 2


def version_block(buf, start):
    """One node of a version resource: (key, value bytes, children), and its end offset."""
    length, value_length, kind = struct.unpack_from("<HHH", buf, start)
    end = start + length
    key, pos = utf16z(buf, start + 6, end)
    pos = align4(pos)
    # Text values count characters, binary values bytes.
    value_size = value_length * 2 if kind == 1 else value_length
    value = buf[pos:min(pos + value_size, end)]
    pos = align4(pos + value_size)
    children = []
    while pos < end:
        child, child_end = version_block(buf, pos)
        check(child_end > pos, "version resource: empty block")
        children.append(child)
        pos = align4(child_end)
    return (key, value, children), end


def version_info(pe):
    data = pe.resource(RT_VERSION)
    check(data is not None, "no version resource")
    (key, fixed, children), _ = version_block(data, 0)
    check(key == "VS_VERSION_INFO", f"version resource starts with {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    check(signature == 0xFEEF04BD, "version resource without its fixed part")

    def numbers(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings = {}
    for child_key, _, tables in children:
        if child_key != "StringFileInfo":
            continue
        for _, _, entries in tables:
            for name, value, _ in entries:
                strings[name] = value.decode("utf-16-le").split("\0")[0]
    return numbers(file_ms, file_ls), numbers(product_ms, product_ls), strings


def check_program(name, data, version, subsystem):
    pe = PeFile(data, name)
    check(pe.machine == MACHINE_I386, f"{name}: machine {pe.machine:#x}, not i386")
    check(pe.subsystem == subsystem,
          f"{name}: subsystem {pe.subsystem}, expected {subsystem} (2 GUI, 3 console)")
    file_version, product_version, strings = version_info(pe)
    numeric = tuple(int(part) for part in version.split(".")) + (0,)
    check(file_version == numeric, f"{name}: file version {file_version}, expected {numeric}")
    check(product_version == numeric,
          f"{name}: product version {product_version}, expected {numeric}")
    expected = {
        "ProductName": PRODUCT,
        "FileVersion": version,
        "ProductVersion": version,
        "OriginalFilename": name,
    }
    for key, value in expected.items():
        check(strings.get(key) == value,
              f"{name}: version string {key} is {strings.get(key)!r}, expected {value!r}")
    check(strings.get("FileDescription", "").startswith(PRODUCT),
          f"{name}: FileDescription {strings.get('FileDescription')!r}")
    manifest = pe.resource(RT_MANIFEST)
    check(manifest is not None, f"{name}: no manifest")
    check(b'requestedExecutionLevel level="asInvoker"' in manifest,
          f"{name}: the manifest does not say asInvoker; Windows would ask for administrator "
          "rights")
    print(f"{name}: PE32 i386, subsystem {subsystem}, version {version}, "
          f"{strings['FileDescription']!r}, asInvoker")


def main():
    zip_path, version = sys.argv[1:3]
    folder = f"quarnel-fwupdate-{version}-win32/"
    programs = {"quarnel-fwupdate.exe": SUBSYSTEM_GUI, "quarnel-fwupdate-cli.exe": SUBSYSTEM_CONSOLE}
    expected = {folder + name for name in [*programs, "README.txt", "LICENSE.txt"]}
    try:
        with zipfile.ZipFile(zip_path) as archive:
            names = {name for name in archive.namelist() if not name.endswith("/")}
            check(names == expected,
                  f"zip entries {sorted(names)}, expected {sorted(expected)}")
            for name, subsystem in programs.items():
                check_program(name, archive.read(folder + name), version, subsystem)
            readme = archive.read(folder + "README.txt")
            check(version.encode() in readme.split(b"\n", 1)[0], "README.txt: no version in line 1")
            check(b"\r\n" in readme and b"\n" not in readme.replace(b"\r\n", b""),
                  "README.txt: not in Windows line ends")
            check(archive.read(folder + "LICENSE.txt").startswith(b"MIT License"),
                  "LICENSE.txt: not the MIT licence")
    except (Failure, zipfile.BadZipFile, OSError, struct.error, UnicodeDecodeError) as error:
        print(f"FAIL: {zip_path}: {error}")
        return 1
    print(f"{zip_path}: {len(expected)} entries as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
