#!/usr/bin/env python3
"""Compares the module for 32-bit hosts with the module for 64-bit hosts, as
files on the build machine, and names every difference in what the two must
share:

- the exported entry points (by name);
- the resources: every type, name and language, byte for byte (the dialog
  template 202, the registration script 210, the version information, the
  string tables), except the type library 1, where only the platform mark
  may differ (SYS_WIN32 in the one, SYS_WIN64 in the other) with the tables
  that hold pointer sizes (type information and member records); its GUIDs,
  names, strings and type descriptions must be the same;
- the imported DLLs: neither imports a DLL that is not a Windows system DLL.

    compare-modules.py MODULE32 MODULE64
"""
import re
import struct
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll",
               "msvcrt.dll"}
RESOURCE_TYPES = {1: "CURSOR", 2: "BITMAP", 3: "ICON", 4: "MENU", 5: "DIALOG", 6: "STRING", 9: "ACCELERATOR",
                  10: "RCDATA", 16: "VERSION", 24: "MANIFEST"}
MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
# Directory entries of the optional header.
EXPORTS, IMPORTS, RESOURCES = 0, 1, 2
# The type library's platform mark (low bits of the header's flags word).
SYS_WIN32, SYS_WIN64 = 1, 3


class Module:
    """The few tables of a PE file that the comparison reads."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        header = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[header:header + 4] != b"PE\0\0":
            raise ValueError(f"{path} is not a Windows module")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, header + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        optional = header + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        count = struct.unpack_from("<I", self.data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            _, virtual_size, address, raw_size, raw_offset = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((address, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"{self.path}: address {rva:#x} is in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def directory(self, index):
        rva, size = self.directories[index] if index < len(self.directories) else (0, 0)
        return (rva, size) if rva and size else None

    def exports(self):
        found = self.directory(EXPORTS)
        if not found:
            return []
        fields = struct.unpack_from("<IIHHIIIIIII", self.data, self.offset(found[0]))
        names, name_table = fields[7], fields[9]
        return sorted(self.text(struct.unpack_from("<I", self.data, self.offset(name_table) + 4 * i)[0])
                      for i in range(names))

    def imports(self):
        found = self.directory(IMPORTS)
        result = []
        if not found:
            return result
        at = self.offset(found[0])
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, at)
            if not any(descriptor):
                return sorted(result, key=str.lower)
            result.append(self.text(descriptor[3]))
            at += 20

    def resources(self):
        """{(type, name, language): bytes} of the resource tree."""
        found = self.directory(RESOURCES)
        if not found:
            return {}
        base = self.offset(found[0])
        result = {}

        def entry_name(value):
            if value & 0x80000000:
                at = base + (value & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return value

        def walk(at, path):
            named, numbered = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                key = path + (entry_name(name),)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, key)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(rva)
                    result[key] = self.data[start:start + size]

        walk(0, ())
        return result


def resource_label(key):
    kind, name, language = key
    return f"{RESOURCE_TYPES.get(kind, kind)} {name} (language {language:#06x})"


# widl stamps each type library in its custom data with the time it wrote it:
# a text "Created by WIDL version ... at <time>" and the time as a number
# (VT_UI4) after it. Two builds differ there, whatever their platforms.
BUILD_STAMP = re.compile(rb"Created by WIDL [^\n]*\n(?:WW)?\x13\x00....", re.S)


def without_build_stamp(data):
    return BUILD_STAMP.sub(b"", data)


def type_library_differences(narrow, wide):
    """What differs between the two type libraries beyond the platform."""
    problems = []
    header = struct.Struct("<21i")  # the MSFT header, 0x54 bytes
    if narrow[:4] != b"MSFT" or wide[:4] != b"MSFT":
        return ["the type library is not in the MSFT format"]
    first, second = list(header.unpack_from(narrow)), list(header.unpack_from(wide))
    for name, fields, mark in (("32-bit", first, SYS_WIN32), ("64-bit", second, SYS_WIN64)):
        if fields[5] & 0xF != mark:
            problems.append(f"the {name} module's type library is marked for platform {fields[5] & 0xF}, "
                            f"not {mark}")
    first[5] &= ~0xF
    second[5] &= ~0xF
    if first != second:
        problems.append("the type library headers differ beyond the platform mark")
        return problems

    def segments(data, fields):
        typeinfos, flags = fields[8], fields[5]
        at = header.size + (4 if flags & 0x100 else 0) + 4 * typeinfos
        return [struct.unpack_from("<iiii", data, at + 16 * i)[:2] for i in range(15)]

    names = ["type information", "imports", "imported files", "references", "GUID hash", "GUIDs",
             "name hash", "names", "strings", "type descriptions", "array descriptions", "custom data",
             "custom data GUIDs", "reserved", "reserved"]
    pointer_sized = {"type information"}
    for name, (at1, size1), (at2, size2) in zip(names, segments(narrow, first), segments(wide, second)):
        if name in pointer_sized:
            continue
        one = narrow[at1:at1 + size1] if at1 >= 0 else b""
        other = wide[at2:at2 + size2] if at2 >= 0 else b""
        if without_build_stamp(one) != without_build_stamp(other):
            problems.append(f"the type library's {name} differ")
    return problems


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    try:
        narrow, wide = Module(sys.argv[1]), Module(sys.argv[2])
    except (OSError, ValueError, struct.error) as error:
        print(f"cannot read the modules: {error}", file=sys.stderr)
        return 1
    problems = []
    if (narrow.machine, wide.machine) != ("i386", "x86-64"):
        problems.append(f"the modules are for {narrow.machine} and {wide.machine}, not i386 and x86-64")

    exports = (narrow.exports(), wide.exports())
    for name in sorted(set(exports[0]) ^ set(exports[1])):
        problems.append(f"export {name} is only in the {'32' if name in exports[0] else '64'}-bit module")

    for module in (narrow, wide):
        for dll in module.imports():
            if dll.lower() not in SYSTEM_DLLS and not dll.lower().startswith("api-ms-win-crt-"):
                problems.append(f"{module.path} imports {dll}, which is not a Windows system DLL")

    resources = (narrow.resources(), wide.resources())
    for key in sorted(set(resources[0]) | set(resources[1]), key=resource_label):
        if key not in resources[0] or key not in resources[1]:
            which = "32" if key in resources[0] else "64"
            problems.append(f"resource {resource_label(key)} is only in the {which}-bit module")
        elif key[0] == "TYPELIB":
            problems += [f"resource {resource_label(key)}: {p}"
                         for p in type_library_differences(resources[0][key], resources[1][key])]
        elif resources[0][key] != resources[1][key]:
            problems.append(f"resource {resource_label(key)} differs ({len(resources[0][key])} bytes "
                            f"against {len(resources[1][key])})")

    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"exports: {' '.join(exports[0])}")
    print("resources: " + ", ".join(resource_label(key) for key in sorted(resources[0], key=resource_label)))
    print(f"imports (32-bit): {' '.join(narrow.imports())}")
    print(f"imports (64-bit): {' '.join(wide.imports())}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
