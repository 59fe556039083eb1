// How the atom table reads a name it is given.
#ifndef ATOMTABLE_POSIX_ATOM_NAMES_H
#define ATOMTABLE_POSIX_ATOM_NAMES_H

#include <cstddef>

#include "atommarker/atom_platform.h"

// Longest string atom name, in bytes.
#define ATOM_NAME_MAX_BYTES 255u

enum AtomNameKind {
    ATOM_NAME_STRING,    // a name the table stores
    ATOM_NAME_INTEGER,   // "#" and a number 1..0xBFFF: the atom is the number
    ATOM_NAME_INVALID,   // refused with ERROR_INVALID_PARAMETER
};

struct AtomNameReading {
    AtomNameKind kind;
    ATOM integerAtom;    // ATOM_NAME_INTEGER only
    size_t length;       // bytes before the NUL, ATOM_NAME_STRING only
};

// Reads the NUL-terminated `name` (never past byte 256) as the platform
// does: an empty name or one of more than 255 bytes is invalid; "#" followed
// by nothing but ASCII digits (leading zeros allowed) is an integer atom
// whose value is the number modulo 65536, invalid when that is 0 or 0xC000
// and above; anything else ("#", "#abc", "#12abc", "# 12", "#+1") is a
// string atom.
AtomNameReading readAtomName(const char *name);

// Whether two names of the given lengths are equal without regard to ASCII
// case.  Bytes from 0x80 up compare as they are.
bool atomNamesEqual(const char *left, size_t leftLength, const char *right,
                    size_t rightLength);

#endif  // ATOMTABLE_POSIX_ATOM_NAMES_H
