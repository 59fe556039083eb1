#!/usr/bin/env python3
"""The Windows executables link what a user's build links, and no more.

    check_imports.py OBJDUMP FOLDER

Reads the import tables of the executables in FOLDER with mingw-w64's
objdump and checks that each needs only the system's DLLs (no compiler
runtime DLL: libgcc and libstdc++ are linked in), that the iSCSI tools
take from iscsidsc.dll exactly the operations they call, and that none of
them carries the scripted stand-in (its environment variables' names).
"""
import os
import re
import subprocess
import sys

from check_tally import check, finish

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}

# Text that only the scripted stand-in's code holds.
STANDIN_MARK = b"ISCSI_STANDIN_"

ALL_OPERATIONS = {
    "GetIScsiVersionInformation", "GetIScsiInitiatorNodeNameW", "ReportIScsiInitiatorListW",
    "AddIScsiSendTargetPortalW", "RemoveIScsiSendTargetPortalW", "ReportIScsiTargetsW",
    "GetIScsiTargetInformationW", "LoginIScsiTargetW", "RemoveIScsiPersistentTargetW",
}

# Executable: what it imports from iscsidsc.dll (None: the DLL not at all).
EXPECTED = {
    "targetlogin.exe": ALL_OPERATIONS,
    "ovelin.exe": {"GetIScsiVersionInformation", "GetIScsiInitiatorNodeNameW"},
    "tessmark.exe": None,
}


def imports(objdump, exe):
    """{dll name in lower case: set of imported names} of one executable."""
    text = subprocess.run([objdump, "-p", exe], stdout=subprocess.PIPE, check=True,
                          universal_newlines=True).stdout
    tables, current = {}, None
    for line in text.splitlines():
        dll = re.match(r"\s*DLL Name: (\S+)", line)
        if dll:
            current = tables.setdefault(dll.group(1).lower(), set())
            continue
        entry = re.match(r"\s*[0-9a-f]+\s+[0-9]+\s+(\w+)$", line)
        if current is not None and entry:
            current.add(entry.group(1))
        elif not line.strip():
            current = None
    return tables


def main(objdump, folder):
    for exe, operations in sorted(EXPECTED.items()):
        path = os.path.join(folder, exe)
        if not os.path.exists(path):
            check("%s is built" % exe, False, "missing: " + path)
            continue
        tables = imports(objdump, path)
        wanted = SYSTEM_DLLS | ({"iscsidsc.dll"} if operations is not None else set())
        others = set(tables) - wanted
        check("%s needs no DLL beyond the system's" % exe, not others,
              "also imports: %s" % ", ".join(sorted(others)))
        with open(path, "rb") as image:
            check("%s holds no stand-in code" % exe, STANDIN_MARK not in image.read())
        if operations is not None:
            got = tables.get("iscsidsc.dll", set())
            check("%s takes its operations from iscsidsc.dll" % exe, got == operations,
                  "missing: %s; extra: %s" % (sorted(operations - got), sorted(got - operations)))
    return finish("windows-imports")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: check_imports.py OBJDUMP FOLDER")
    sys.exit(main(*sys.argv[1:]))
