#!/usr/bin/env python3
"""One sequence of tessmark operations, run through tessmark.exe on Wine's
global atom table and through the Linux tessmark on a table of its own:
both must print the same lines and end with the same exit codes.

    atom_differential_test.py WINE_RUN TESSMARK_EXE LINUX_TESSMARK

What is allowed to differ, and so is evened out before the comparison:
  - string atom values (0xC000 and up), which each table assigns itself:
    the value of each add becomes "<atom N>", N counting the adds, and a
    find or delete must show the placeholder of the value it gives; integer
    atoms ("#100") stay as they are;
  - the wording of the system's message for a refused add, which is each
    platform's own: a known text becomes the name of its error code;
  - the command line's code page: Wine hands a Windows program its
    arguments in the ANSI code page (1252), so what it echoes is read back
    from that code page.  The names below use only characters it holds.
"""
import os
import re
import sys

from check_tally import check, finish, run

LONGEST = "n" * 255
TOO_LONG = "n" * 256

# (operation, name).  Each line is one process; the tables carry state from
# one line to the next.
SEQUENCE = [
    # Case variants: one name to the table.
    ("add", "DiffMarker"),
    ("find", "diffmarker"),
    ("find", "DIFFMARKER"),
    ("add", "DIFFMARKER"),
    ("delete", "dIFFmARKER"),
    ("find", "DiffMarker"),
    ("delete", "DiffMarker"),
    # A name given twice.
    ("add", "twice"),
    ("add", "twice"),
    ("delete", "twice"),
    ("find", "twice"),
    # "#" and a number is an integer atom: no table entry, the number itself.
    ("find", "#100"),
    ("add", "#100"),
    ("find", "#00100"),
    ("delete", "#100"),
    ("find", "#100"),
    ("find", "#65636"),
    ("find", "#49151"),
    ("add", "#49152"),
    ("add", "#0"),
    ("find", "#0"),
    ("find", "#" + "0" * 250 + "7"),
    # Not an integer atom: stored as a name.
    ("add", "#"),
    ("find", "#"),
    ("add", "#12ab"),
    ("find", "#12AB"),
    ("find", "#+5"),
    ("find", "# 5"),
    ("delete", "#12ab"),
    ("delete", "#"),
    # The empty name.
    ("find", ""),
    ("add", ""),
    ("delete", ""),
    # 255 bytes is the longest name, 256 is refused.
    ("add", LONGEST),
    ("find", LONGEST.upper()),
    ("find", TOO_LONG),
    ("add", TOO_LONG),
    ("delete", TOO_LONG),
    ("delete", LONGEST),
    ("find", LONGEST),
    # Bytes above 0x7F: letters of the code page, and names of 255
    # characters that take more bytes than that in UTF-8.
    ("add", "caf\u00e9"),
    ("find", "caf\u00e9"),
    ("find", "CAF\u00c9"),
    ("find", "cafe"),
    ("add", "stra\u00dfe"),
    ("find", "STRA\u00dfE"),
    ("find", "STRASSE"),
    ("delete", "CAF\u00c9"),
    ("find", "caf\u00e9"),
    ("delete", "STRA\u00dfE"),
    ("find", "stra\u00dfe"),
    ("add", "\u00ff\u0161\u0153"),
    ("find", "\u0178\u0160\u0152"),
    ("delete", "\u0178\u0160\u0152"),
    ("find", "\u00ff\u0161\u0153"),
    ("add", "\u00e9" * 200),
    ("find", "\u00c9" * 200),
    ("delete", "\u00e9" * 200),
]

# The system's text for a refused add, by platform wording.
KNOWN_SYSTEM_TEXTS = {
    "Invalid parameter.": "ERROR_INVALID_PARAMETER",          # Wine
    "The parameter is incorrect.": "ERROR_INVALID_PARAMETER",  # Windows, ours
}

ATOM_LINE = re.compile(r"^((?:New|Found|Deleted) Atom: )(\d+)$", re.M)
REFUSAL = re.compile(r"\A(.*)\r\n\nNew Atom: 0\n\Z", re.S)


def even_out(text, atoms):
    """The output with string atom values and system texts evened out.
    atoms maps this platform's string atom values to placeholders: an add
    gives its value a new one (a table may hand a freed value out again),
    a find or a delete shows the one its value has."""
    refusal = REFUSAL.match(text)
    if refusal and refusal.group(1) in KNOWN_SYSTEM_TEXTS:
        text = "<%s>\r\n\nNew Atom: 0\n" % KNOWN_SYSTEM_TEXTS[refusal.group(1)]

    def placeholder(match):
        value = int(match.group(2))
        if value < 0xC000:
            return match.group(0)
        if match.group(1) == "New Atom: " or value not in atoms:
            atoms["count"] = atoms.get("count", 0) + 1
            atoms[value] = "<atom %d>" % atoms["count"]
        return match.group(1) + atoms[value]
    return ATOM_LINE.sub(placeholder, text)


def main(wine_run, windows_tool, linux_tool):
    table = "tessmark-differential-%d" % os.getpid()
    shm = os.path.join("/dev/shm", table)
    linux_env = dict(os.environ, TESSMARK_ATOM_TABLE=table)
    wine_atoms, linux_atoms = {}, {}
    try:
        for step, (operation, name) in enumerate(SEQUENCE, 1):
            wine_out, wine_code = run([wine_run, windows_tool, operation, name])
            linux_out, linux_code = run([linux_tool, operation, name], env=linux_env)
            wine_text = even_out(wine_out.decode("cp1252", "replace"), wine_atoms)
            linux_text = even_out(linux_out.decode("utf-8", "replace"), linux_atoms)
            shown = name if len(name) < 40 else name[:6] + "...(%d)" % len(name.encode())
            check("%2d %s %r" % (step, operation, shown),
                  (wine_text, wine_code) == (linux_text, linux_code),
                  "Wine:  %r, exit %s\nLinux: %r, exit %s"
                  % (wine_text, wine_code, linux_text, linux_code))
    finally:
        if os.path.exists(shm):
            os.remove(shm)
    return finish("atom-differential")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: atom_differential_test.py WINE_RUN TESSMARK_EXE LINUX_TESSMARK")
    sys.exit(main(*sys.argv[1:]))
