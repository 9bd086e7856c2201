"""What RegisterTypeLib writes for a type library file, read from the file.

A type library in its compiled form ("MSFT") starts with a header of 21
32-bit fields, an optional help DLL field, the offsets of its type
descriptions and a directory of 15 segments; the library's identifier,
version, locale, platform, flags, name and help text are reached from
there. RegisterTypeLib writes, under HKEY_CLASSES_ROOT:

  TypeLib\\{LIBID}\\MAJOR.MINOR            = the help text
  TypeLib\\{LIBID}\\MAJOR.MINOR\\LCID\\win32 (or win64) = the file's path
  TypeLib\\{LIBID}\\MAJOR.MINOR\\FLAGS      = the flags, in decimal (with
                                            "has a disk image")
  TypeLib\\{LIBID}\\MAJOR.MINOR\\HELPDIR    = the help folder

and an Interface key for each dispatch or automation interface; a library
that holds one is refused here rather than registered half.
"""

import struct
import uuid

_HEADER = struct.Struct("<21i")
_HELP_DLL_PRESENT = 0x100
_SEGMENTS = 15
_SEGMENT = struct.Struct("<4i")
_TYPEINFO_SIZE = 0x64
_TYPEINFO_FLAGS_AT = 0x30
_GUID_SEGMENT, _NAME_SEGMENT, _STRING_SEGMENT, _TYPEINFO_SEGMENT = 5, 7, 8, 0
_TKIND_INTERFACE, _TKIND_DISPATCH = 3, 4
_TYPEFLAG_FDUAL, _TYPEFLAG_FOLEAUTOMATION = 0x40, 0x100
_PLATFORMS = {1: "win32", 3: "win64"}
# A library loaded from a file reports this flag beside its own, and is
# registered with it.
_LIBFLAG_FHASDISKIMAGE = 0x8
# The header holds two locales: the one the library was made with, and the
# one it registers under (the second, 0 for a neutral library).


class TypeLibError(Exception):
    pass


def _library_block(data):
    """The MSFT block: the file itself, or the TYPELIB resource of a module."""
    if data[:4] == b"MSFT":
        return data
    at = data.find(b"MSFT")
    if at < 0:
        raise TypeLibError("no type library in the file")
    return data[at:]


def read(path):
    """The library's registration facts as a dict."""
    with open(path, "rb") as f:
        block = _library_block(f.read())
    header = _HEADER.unpack_from(block, 0)
    (_, _, guid_at, _, lcid, varflags, version, flags, typeinfos, help_at, _, _, _, _, name_at) = header[:15]
    at = _HEADER.size + (4 if varflags & _HELP_DLL_PRESENT else 0) + 4 * typeinfos
    segments = [_SEGMENT.unpack_from(block, at + i * _SEGMENT.size) for i in range(_SEGMENTS)]

    def segment(index):
        return segments[index][0]

    libid = uuid.UUID(bytes_le=bytes(block[segment(_GUID_SEGMENT) + guid_at:][:16]))
    name_entry = segment(_NAME_SEGMENT) + name_at
    name_length = struct.unpack_from("<i", block, name_entry + 8)[0] & 0xFF
    name = block[name_entry + 12:name_entry + 12 + name_length].decode("latin-1")
    help_text = None
    if help_at >= 0:
        string_entry = segment(_STRING_SEGMENT) + help_at
        length = struct.unpack_from("<H", block, string_entry)[0]
        help_text = block[string_entry + 2:string_entry + 2 + length].decode("latin-1")
    platform = _PLATFORMS.get(varflags & 0x0F)
    if platform is None:
        raise TypeLibError("the library is for platform %d, not win32 or win64" % (varflags & 0x0F))
    for index in range(typeinfos):
        entry = segment(_TYPEINFO_SEGMENT) + index * _TYPEINFO_SIZE
        kind = struct.unpack_from("<i", block, entry)[0] & 0x0F
        type_flags = struct.unpack_from("<i", block, entry + _TYPEINFO_FLAGS_AT)[0]
        automation = type_flags & (_TYPEFLAG_FDUAL | _TYPEFLAG_FOLEAUTOMATION)
        if kind == _TKIND_DISPATCH or (kind == _TKIND_INTERFACE and automation):
            raise TypeLibError("the library holds an automation interface, whose Interface key is not written here")
    return {
        "libid": "{%s}" % str(libid).upper(),
        "version": "%d.%d" % (version & 0xFFFF, (version >> 16) & 0xFFFF),
        "lcid": "%x" % lcid,
        "platform": platform,
        "flags": "%d" % (flags | _LIBFLAG_FHASDISKIMAGE),
        "name": name,
        "help": help_text if help_text is not None else name,
    }


def entries(library, module_path, help_folder):
    """The values RegisterTypeLib writes, as (root, key, name, type, value)."""
    key = "TypeLib\\%s\\%s" % (library["libid"], library["version"])
    return [
        ("HKCR", key, "", "s", library["help"]),
        ("HKCR", "%s\\%s\\%s" % (key, library["lcid"], library["platform"]), "", "s", module_path),
        ("HKCR", key + "\\FLAGS", "", "s", library["flags"]),
        ("HKCR", key + "\\HELPDIR", "", "s", help_folder),
    ]
