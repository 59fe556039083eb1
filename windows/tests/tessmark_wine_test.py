#!/usr/bin/env python3
"""tessmark.exe against Wine's global atom table.

    tessmark_wine_test.py WINE_RUN TESSMARK_EXE

Every run is a process of its own in the one prefix whose wineserver the
caller keeps alive, so an atom that one run adds is there for the next.
Outputs are compared whole, with the exit code.
"""
import os
import re
import sys

from check_tally import check, finish, run

USAGE = (b"Usage: tessmark operation uniqueid\n"
         b"\n"
         b"  operation      add     add a global atom\n"
         b"                 delete  delete a global atom\n"
         b"                 find    find a global atom\n"
         b"  uniqueid       a uniqueid to use for the global atom\n")

# Wine's system message for ERROR_INVALID_PARAMETER, as FormatMessageA gives
# it (ending in its own line break, after which the tool ends the line).
WINE_INVALID_PARAMETER = b"Invalid parameter.\r\n\n"

# Names with no atom behind them: string atoms live at 0xC000..0xFFFF.
FIRST_STRING_ATOM = 0xC000


def tessmark(arguments):
    return run([WINE_RUN, TESSMARK] + arguments)


def expect(name, arguments, output, code):
    got, got_code = tessmark(arguments)
    check(name, (got, got_code) == (output, code),
          "expected %r, exit %d\ngot      %r, exit %s" % (output, code, got, got_code))


def expect_value(name, arguments, label, code=0):
    """Runs and checks a "<label><value>" line; returns the value or None."""
    got, got_code = tessmark(arguments)
    match = re.fullmatch(re.escape(label).encode() + rb"(0|[1-9][0-9]*)\n", got)
    value = int(match.group(1)) if match else None
    check(name, match is not None and got_code == code and value <= 0xFFFF,
          "expected %r<value>, exit %d\ngot      %r, exit %s" % (label, code, got, got_code))
    return value


def command_line_cases():
    syntax = b"Invalid syntax.\n" + USAGE
    for arguments in ([], ["add"], ["add", "a", "b"]):
        expect("%d arguments: usage" % len(arguments), arguments, syntax, 1)
    for word in ("Add", "ADD", "ad", "adds", "finds", "remove"):
        expect("operation %r is refused" % word, [word, "x"],
               b"Invalid operation specified: " + word.encode() + b"\n" + USAGE, 1)


def marker_lifecycle_cases():
    name = "wine-marker-%d" % os.getpid()
    raw = name.encode()
    expect("find before add", ["find", name], b"Atom not found for: " + raw + b"\n", 3)
    added = expect_value("add a fresh name", ["add", name], "New Atom: ")
    # The table gives string atoms values with the top bit set, so this also
    # shows that they print unsigned.
    check("string atom value is in the string range",
          added is not None and FIRST_STRING_ATOM <= added <= 0xFFFF, "value %r" % added)
    found = expect_value("the next process finds it", ["find", name], "Found Atom: ")
    check("find gives the value of the add", found == added, "%r != %r" % (found, added))
    expect("a second add is refused", ["add", name],
           b"Atom already exists for: " + raw + b"\n", 2)
    deleted = expect_value("delete", ["delete", name], "Deleted Atom: ")
    check("delete gives the value of the add", deleted == added, "%r != %r" % (deleted, added))
    expect("gone after one delete", ["find", name], b"Atom not found for: " + raw + b"\n", 3)
    expect("delete of a missing name", ["delete", name],
           b"Atom not found for: " + raw + b"\n", 3)


def refused_add_cases():
    refused = WINE_INVALID_PARAMETER + b"New Atom: 0\n"
    expect("add of 256 bytes: system text, atom 0", ["add", "m" * 256], refused, 0)
    expect("add of the empty name: system text, atom 0", ["add", ""], refused, 0)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: tessmark_wine_test.py WINE_RUN TESSMARK_EXE")
    WINE_RUN, TESSMARK = sys.argv[1], sys.argv[2]
    command_line_cases()
    marker_lifecycle_cases()
    refused_add_cases()
    sys.exit(finish("tessmark-wine"))
