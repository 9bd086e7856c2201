#!/usr/bin/env python3
"""The Windows Installer package of a release folder, made with wixl.

  package.py --folder DIR --entries-tool TOOL --script RGS --version V
             --kind x64|x86 --out FILE.msi [--work DIR]

x64: for 64-bit Windows, Quillomat.dll and quill-console.exe in the 32-bit
Program Files folder, Quillomat64.dll, quill-console64.exe and the guides in
the 64-bit one, each module registered in its own registry view.
x86: for 32-bit Windows, the 32-bit files and the guides only.

Each module's registry entries are those of its registration script, run by
the module's own runner (TOOL), and of its type library, read from the
module. The package writes them itself; a name that another component may
take since (a ProgID, the shared type library) is removed at uninstall only
while it still leads to this package's module.
"""

import argparse
import os
import subprocess
import sys
from xml.sax.saxutils import escape, quoteattr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import typelib  # noqa: E402

PRODUCT = "Quillomat"
MANUFACTURER = "Quillomat"
UPGRADE_CODE = "{6C1F4E0B-7D39-4B8A-9E52-3A0D8F61C2B7}"
CLASS_KEY = "CLSID"
DEFAULTS_KEY = "SOFTWARE\\Quillomat"
DOWNGRADE_MESSAGE = ("A newer version of Quillomat is already installed on this computer. "
                     "To go back to this older version, remove the newer one first "
                     "(Settings, Apps, \"Apps & features\"), then install this one.")
PROCESSOR_MESSAGE = ("This package is for 32-bit Windows. On 64-bit Windows, install "
                     "Quillomat-%s.msi, which installs both modules.")

# Deployment properties: name, registry value, condition that it is valid,
# what the message says it must be.
DEPLOYMENT = [
    ("PORT", "Port", "PORT >= 1 AND PORT <= 255", "PORT must be a COM port number from 1 to 255, for example PORT=3 for COM3."),
    ("SPEED", "Speed", " OR ".join("SPEED = %d" % b for b in (115200, 57600, 38400, 19200, 9600, 4800, 2400)),
     "SPEED must be a line speed in baud: 115200, 57600, 38400, 19200, 9600, 4800 or 2400."),
    ("IRDA", "IrDA", "IRDA = 0 OR IRDA = 1",
     "IRDA must be 1 (the terminal sits in a cradle with an infrared adapter) or 0 (a cable)."),
]

# Component identities: fixed for ever, one per component and word size.
GUIDS = {
    ("Module", "32"): "{0E3B6F52-1C7A-4D9E-8B21-5F4A2C9D7E31}",
    ("Module", "64"): "{4A7D2E91-6B3C-4F58-9D0E-7C1B5A3F2E64}",
    ("Console", "32"): "{8C2F5A13-9E4D-4B7A-A6C1-2D3E8F7B4C32}",
    ("Console", "64"): "{D1E6B47A-3F2C-4A89-B5D0-6E9C1A2F7B64}",
    ("Guides", "32"): "{5B9C3D28-7A1E-4F6B-8C2D-4E0F9A3B1D32}",
    ("Guides", "64"): "{F3A8C1D6-2B5E-4C7A-9D3F-1E6B8C4A2F64}",
    ("Port", "32"): "{2C7E9A14-5D3B-4E8F-A1C6-9B2D7F3E5A32}",
    ("Port", "64"): "{A9D3F6B2-8E1C-4A57-B3D9-5C2E7A1F6B64}",
    ("Speed", "32"): "{6E1B8D3F-4C9A-4B2E-8F5D-3A7C1E9B2D32}",
    ("Speed", "64"): "{C4F7A2E9-1B6D-4E3A-9C8F-2D5B7E1A4C64}",
    ("IrDA", "32"): "{7A3D5E1C-9F2B-4D6A-B8E4-1C7F3A9D5E32}",
    ("IrDA", "64"): "{E2B9C6F4-3A7D-4F1E-8D2C-6B4A9E3F7C64}",
}


class Module:
    """One module of the package and what goes with it."""

    def __init__(self, bits, dll, console, folder_id, folder, work):
        self.folder = folder
        self.work = work
        self.bits = bits
        self.dll = dll
        self.console = console
        self.folder_id = folder_id
        self.win64 = "yes" if bits == "64" else "no"
        self.file_id = dll
        self.view = "/reg:%s" % bits

    def source(self, name):
        """A file of the package as wixl takes it: relative to where it runs."""
        return os.path.relpath(os.path.join(self.folder, name), self.work)


def registry_entries(tool, script, module, folder):
    """The script's entries and the type library's, with the module's path as
    the package resolves it."""
    module_path = "[#%s]" % module.file_id
    out = subprocess.run([tool, script, module_path], check=True, capture_output=True, text=True).stdout
    rows = [tuple(line.split("\t")) for line in out.splitlines() if line]
    library = typelib.read(os.path.join(folder, module.dll))
    rows += typelib.entries(library, module_path, "[%s]" % module.folder_id)
    return rows, library


def is_class_entry(row):
    return row[0] == "HKCR" and row[1].split("\\")[0].upper() == CLASS_KEY


def registry_xml(rows, indent):
    lines = []
    for root, key, name, kind, value in rows:
        if kind == "-":
            # A key the script only makes sure of and never removes (CLSID):
            # Windows has it already.
            continue
        wix_type = {"s": "string", "d": "integer", "b": "binary"}[kind]
        name_attr = " Name=%s" % quoteattr(name) if name else ""
        lines.append("%s<RegistryValue Root=%s Key=%s%s Type=\"%s\" Value=%s/>" %
                     (indent, quoteattr(root), quoteattr(key), name_attr, wix_type, quoteattr(value)))
    return "\n".join(lines)


class SharedName:
    """A key another component may take: removed at uninstall only while the
    value `probe` under it is still the package's."""

    def __init__(self, module, key, probe_key, expected, index):
        self.module = module
        self.key = key
        self.probe_key = probe_key
        self.expected = expected
        self.found = "Found%s_%d" % (module.bits, index)
        self.own = "Own%s_%d" % (module.bits, index)
        self.drop = "Drop%s_%d" % (module.bits, index)


def shared_names(module, rows, library):
    """The ProgID keys (a top key under HKCR other than CLSID and TypeLib,
    whose CLSID subkey names the class) and the type library's key."""
    names = []
    for root, key, name, kind, value in rows:
        parts = key.split("\\")
        if root == "HKCR" and len(parts) == 2 and parts[1].upper() == "CLSID" and name == "" and \
                parts[0].upper() not in (CLASS_KEY, "TYPELIB"):
            names.append(SharedName(module, parts[0], key, value, len(names)))
    names.append(SharedName(module, "TypeLib\\" + library["libid"],
                            "TypeLib\\%s\\%s\\%s\\%s" % (library["libid"], library["version"], library["lcid"],
                                                         library["platform"]),
                            "[%s]%s" % (module.folder_id, module.dll), len(names)))
    return names


def component(id_, guid, win64, body, indent="      "):
    guid_attr = "Guid=%s" % quoteattr(guid)
    text = "%s<Component Id=%s %s Win64=\"%s\">\n" % (indent, quoteattr(id_), guid_attr, win64)
    text += body + "\n%s</Component>\n" % indent
    return text


def module_xml(module, rows, names, with_guides, docs):
    """The components of one module's folder."""
    bits = module.bits
    indent = "        "
    classes = [r for r in rows if is_class_entry(r) or (r[2] == "-" and r[1].upper() == CLASS_KEY)]
    shared_keys = [n.key.upper() for n in names]
    shared = [r for r in rows if r not in classes and
              any(r[1].upper() == k or r[1].upper().startswith(k + "\\") for k in shared_keys)]
    rest = [r for r in rows if r not in classes and r not in shared]
    if rest:
        raise SystemExit("package: entries neither of the class nor of a shared name: %r" % rest)
    xml = ""
    body = "%s<File Id=%s Name=%s Source=%s KeyPath=\"yes\"/>\n%s" % (
        indent, quoteattr(module.file_id), quoteattr(module.dll), quoteattr(module.source(module.dll)),
        registry_xml(classes, indent))
    xml += component("Module" + bits, GUIDS[("Module", bits)], module.win64, body)
    # The names others may take: written by the package, never removed by
    # Windows Installer itself (no component identity), and removed by the
    # package's own step at uninstall while they still lead here.
    first, *others = shared
    body = registry_xml([first], indent).replace("/>", " KeyPath=\"yes\"/>", 1) + "\n" + registry_xml(others, indent)
    xml += component("Names" + bits, "", module.win64, body)
    body = "%s<File Id=%s Name=%s Source=%s KeyPath=\"yes\"/>" % (
        indent, quoteattr(module.console), quoteattr(module.console), quoteattr(module.source(module.console)))
    xml += component("Console" + bits, GUIDS[("Console", bits)], module.win64, body)
    if with_guides:
        files = ["%s<File Id=%s Name=%s Source=%s%s/>" % (
            indent, quoteattr(os.path.basename(d)), quoteattr(os.path.basename(d)), quoteattr(module.source(d)),
            " KeyPath=\"yes\"" if i == 0 else "") for i, d in enumerate(docs)]
        xml += component("Guides" + bits, GUIDS[("Guides", bits)], module.win64, "\n".join(files))
    for prop, value_name, _, _ in DEPLOYMENT:
        body = "%s<RegistryValue Root=\"HKLM\" Key=%s Name=%s Type=\"string\" Value=\"[%s]\" KeyPath=\"yes\"/>" % (
            indent, quoteattr(DEFAULTS_KEY), quoteattr(value_name), prop)
        xml += component(value_name + bits, GUIDS[(value_name, bits)], module.win64, body)
    return xml


def searches_xml(modules_names, first_module):
    """AppSearch: who holds each shared name now, and the deployment values a
    former installation left (kept on upgrade unless given anew)."""
    lines = []
    for module, names in modules_names:
        for n in names:
            lines.append("    <Property Id=%s>\n      <RegistrySearch Id=%s Root=\"HKCR\" Key=%s Name=\"\" Type=\"raw\" "
                         "Win64=\"%s\"/>\n    </Property>" % (quoteattr(n.found), quoteattr("Search" + n.found),
                                                              quoteattr(n.probe_key), module.win64))
    for prop, value_name, _, _ in DEPLOYMENT:
        lines.append("    <Property Id=%s>\n      <RegistrySearch Id=%s Root=\"HKLM\" Key=%s Name=%s Type=\"raw\" "
                     "Win64=\"%s\"/>\n    </Property>" % (quoteattr("Kept" + value_name), quoteattr("SearchKept" + value_name),
                                                          quoteattr(DEFAULTS_KEY), quoteattr(value_name),
                                                          first_module.win64))
    return "\n".join(lines)


def wxs(args, modules, rows_of, names_of, docs):
    main_bits = modules[-1].bits
    folders = {"32": "ProgramFilesFolder", "64": "ProgramFiles64Folder"}
    directories = "\n".join(
        "      <Directory Id=\"%s\"><Directory Id=\"%s\" Name=\"%s\"/></Directory>" % (folders[m.bits], m.folder_id, PRODUCT)
        for m in modules)
    refs = []
    for m in modules:
        refs.append("    <DirectoryRef Id=\"%s\">\n%s    </DirectoryRef>" %
                    (m.folder_id, module_xml(m, rows_of[m.bits], names_of[m.bits], m.bits == main_bits, docs)))
    component_ids = []
    for m in modules:
        component_ids += ["Module" + m.bits, "Names" + m.bits, "Console" + m.bits]
        if m.bits == main_bits:
            component_ids.append("Guides" + m.bits)
        component_ids += [value_name + m.bits for _, value_name, _, _ in DEPLOYMENT]
    conditions = ["    <Condition Message=%s>%s</Condition>" % (quoteattr(message),
                                                             escape("Installed OR NOT %s OR (%s)" % (prop, valid)))
                  for prop, _, valid, message in DEPLOYMENT]
    if args.kind == "x86":
        conditions.append("    <Condition Message=%s>Installed OR NOT VersionNT64</Condition>" %
                          quoteattr(PROCESSOR_MESSAGE % args.version))
    conditions.append("    <Condition Message=%s>NOT NEWERFOUND</Condition>" % quoteattr(DOWNGRADE_MESSAGE))
    return """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="{product}" Language="1033" Version="{version}" Manufacturer="{manufacturer}"
           UpgradeCode="{upgrade}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="{product} {version}" Comments="The Quillomat component for the host application's terminal scripts"/>
    <Media Id="1" Cabinet="quillomat.cab" EmbedCab="yes"/>
    <Upgrade Id="{upgrade}">
      <UpgradeVersion Minimum="{version}" IncludeMinimum="no" OnlyDetect="yes" Property="NEWERFOUND"/>
    </Upgrade>
{conditions}
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Property Id="ARPCOMMENTS" Value="Drives the hand-held barcode terminal for the host application's scripts"/>
{searches}
    <Directory Id="TARGETDIR" Name="SourceDir">
{directories}
    </Directory>
{refs}
    <Feature Id="Quillomat" Title="Quillomat" Level="1">
{components}
    </Feature>
  </Product>
</Wix>
""".format(product=PRODUCT, version=args.version, manufacturer=MANUFACTURER, upgrade=UPGRADE_CODE,
           conditions="\n".join(conditions),
           searches=searches_xml([(m, names_of[m.bits]) for m in modules], modules[-1]),
           directories=directories, refs="\n".join(refs),
           components="\n".join("      <ComponentRef Id=\"%s\"/>" % c for c in component_ids))


def classes_key(kind, module, key):
    """Where a key of HKEY_CLASSES_ROOT lies for the machine, in the module's
    view, named from the 64-bit view: the 32-bit view's own keys are under
    Wow6432Node (where Windows keeps it apart from the 64-bit one: ProgIDs
    on Vista, and under Wine). reg.exe is not asked to pick the view for a
    key it deletes, since Wine's ignores that."""
    if kind == "x64" and module.bits == "32":
        return "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\" + key
    return "HKLM\\SOFTWARE\\Classes\\" + key


def sql_quote(text):
    return "'" + text.replace("'", "''") + "'"


# Sequence numbers of the package's own steps, between the standard actions
# (AppSearch 50, CostInitialize 800, CostFinalize 1000, InstallValidate 1400,
# RemoveRegistryValues 2600).
KEEP_AFTER = 51
REPAIR_AT = 790
OWN_AT = 1010
REMOVE_OLDER_AT = 1401
DROP_AT = 2601

# Custom action types: 51 sets a property; 50 runs the program a property
# names, here deferred (1024), as the system (2048), its failure ignored (64).
SET_PROPERTY = 51
RUN_DEFERRED = 50 + 64 + 1024 + 2048


def finish(msi, args, modules, names_of):
    """What wixl does not write: the upgrade that takes in the same version,
    the same package again as a repair, the kept deployment values, and the
    removal of the shared names that are still the package's."""
    queries = []
    actions = []  # (table rows) name, type, source, target, condition, sequence, both sequences
    queries.append("INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) "
                   "VALUES (%s, '0.0.0', %s, 768, 'OLDERFOUND')" % (sql_quote(UPGRADE_CODE), sql_quote(args.version)))
    queries.append("INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveExistingProducts', %d)" %
                   REMOVE_OLDER_AT)
    queries.append("UPDATE Property SET Value = 'OLDERFOUND;NEWERFOUND;PORT;SPEED;IRDA' "
                   "WHERE Property = 'SecureCustomProperties'")
    # A preset is written only when it is given (or kept from before).
    for module in modules:
        for prop, value_name, _, _ in DEPLOYMENT:
            queries.append("UPDATE Component SET Condition = %s WHERE Component = %s" %
                           (sql_quote(prop), sql_quote(value_name + module.bits)))
    # A second run of the installed package repairs it.
    actions.append(("RepairAgain", SET_PROPERTY, "REINSTALL", "ALL",
                    "Installed AND NOT REMOVE AND NOT REINSTALL AND NOT UPGRADINGPRODUCTCODE", REPAIR_AT, True))
    for index, (prop, value_name, _, _) in enumerate(DEPLOYMENT):
        actions.append(("Keep" + value_name, SET_PROPERTY, prop, "[Kept%s]" % value_name,
                        "NOT %s AND Kept%s" % (prop, value_name), KEEP_AFTER + index, True))
    reg_tool = "[System64Folder]reg.exe" if args.kind == "x64" else "[SystemFolder]reg.exe"
    actions.append(("FindRegTool", SET_PROPERTY, "RegTool", reg_tool, None, KEEP_AFTER + len(DEPLOYMENT), False))
    sequence = DROP_AT
    for module in modules:
        for n in names_of[module.bits]:
            expected = n.expected
            if expected.startswith("["):
                actions.append((n.own, SET_PROPERTY, n.own, expected, None, OWN_AT, False))
                condition = "REMOVE~=\"ALL\" AND %s~=%s" % (n.found, n.own)
            else:
                condition = "REMOVE~=\"ALL\" AND %s=\"%s\"" % (n.found, expected)
            actions.append((n.drop, RUN_DEFERRED, "RegTool", "delete \"%s\" /f%s" % (
                classes_key(args.kind, module, n.key), " /reg:64" if args.kind == "x64" else ""),
                condition, sequence, False))
            sequence += 1
    for name, kind, source, target, condition, at, both in actions:
        queries.append("INSERT INTO CustomAction (Action, Type, Source, Target) VALUES (%s, %d, %s, %s)" %
                       (sql_quote(name), kind, sql_quote(source), sql_quote(target)))
        for table in ("InstallExecuteSequence", "InstallUISequence") if both else ("InstallExecuteSequence",):
            if condition:
                queries.append("INSERT INTO %s (Action, Condition, Sequence) VALUES (%s, %s, %d)" %
                               (table, sql_quote(name), sql_quote(condition), at))
            else:
                queries.append("INSERT INTO %s (Action, Sequence) VALUES (%s, %d)" % (table, sql_quote(name), at))
    for query in queries:
        done = subprocess.run(["msibuild", msi, "-q", query], capture_output=True, text=True)
        if done.returncode != 0 or "failed" in done.stderr:
            raise SystemExit("package: msibuild refused: %s\n%s" % (query, done.stderr))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--folder", required=True)
    parser.add_argument("--entries-tool", required=True)
    parser.add_argument("--script", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--kind", choices=("x64", "x86"), required=True)
    parser.add_argument("--docs", nargs="*", default=[])
    parser.add_argument("--out", required=True)
    parser.add_argument("--work", default=None)
    args = parser.parse_args()

    work = os.path.abspath(args.work or os.path.dirname(os.path.abspath(args.out)))
    folder = os.path.abspath(args.folder)
    modules = [Module("32", "Quillomat.dll", "quill-console.exe", "Folder32", folder, work)]
    if args.kind == "x64":
        modules.append(Module("64", "Quillomat64.dll", "quill-console64.exe", "Folder64", folder, work))
    rows_of, names_of = {}, {}
    for m in modules:
        rows, library = registry_entries(args.entries_tool, args.script, m, args.folder)
        rows_of[m.bits] = rows
        names_of[m.bits] = shared_names(m, rows, library)
    source = os.path.join(work, os.path.splitext(os.path.basename(args.out))[0] + ".wxs")
    with open(source, "w", encoding="utf-8") as f:
        f.write(wxs(args, modules, rows_of, names_of, args.docs))
    arch = "x64" if args.kind == "x64" else "x86"
    done = subprocess.run(["wixl", "-a", arch, "-o", os.path.abspath(args.out), source], cwd=work,
                          capture_output=True, text=True)
    # wixl warns about attributes it does not know through GLib; anything
    # CRITICAL means a table it could not fill.
    if done.returncode != 0 or "CRITICAL" in done.stderr:
        sys.stderr.write(done.stderr)
        raise SystemExit("package: wixl failed on %s" % source)
    finish(args.out, args, modules, names_of)


if __name__ == "__main__":
    main()
