#!/usr/bin/env python3
"""Reads ms_print output (every snapshot detailed, threshold 0) on standard
input and prints, one a line, the names of the functions that allocate
directly from one of the source files named in argv[1] ("a.cpp|b.cpp"),
together with the functions they are inlined into (the frames that follow
with the same address), as massif's --ignore-fn wants them."""
import re
import sys

FRAME = re.compile(r'^([| ]*)->[0-9.]+% \([0-9,]+B\) (0x[0-9A-F]+): (.*) \(([^():]+):[0-9]+\)$')


def main(argv):
    files = set(argv[1].split('|'))
    names = set()
    chain_address = None
    for line in sys.stdin:
        frame = FRAME.match(line.rstrip('\n'))
        if not frame:
            chain_address = None
            continue
        depth, address, name, source = frame.groups()
        if not depth:   # an allocation site
            chain_address = address if source in files else None
            if chain_address:
                names.add(name)
        elif chain_address == address:
            names.add(name)   # the site inlined into this function
        else:
            chain_address = None
    sys.stdout.write(''.join(name + '\n' for name in sorted(names)))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
