// How the atom table reads a name it is given.
//
// A name is text in the command line's encoding, UTF-8, as the platform's
// names are text in its code page: the platform counts and compares 16-bit
// characters, so this table does too.  A character beyond 0xFFFF counts as
// two; a byte that is not part of a well-formed UTF-8 sequence counts as one
// character of its own, equal only to the same byte.
#ifndef ATOMTABLE_POSIX_ATOM_NAMES_H
#define ATOMTABLE_POSIX_ATOM_NAMES_H

#include <cstddef>

#include "atommarker/atom_platform.h"

// Longest string atom name, in 16-bit characters.
#define ATOM_NAME_MAX_CHARS 255u

// Most bytes such a name takes in UTF-8: three per character.
#define ATOM_NAME_MAX_BYTES (3u * ATOM_NAME_MAX_CHARS)

enum AtomNameKind {
    ATOM_NAME_STRING,   // a name the table stores
    ATOM_NAME_INTEGER,  // "#" and a number 1..0xBFFF: the atom is the number
    ATOM_NAME_INVALID,  // refused with ERROR_INVALID_PARAMETER
};

struct AtomNameReading {
    AtomNameKind kind;
    ATOM integerAtom;  // ATOM_NAME_INTEGER only
    size_t length;     // bytes before the NUL, ATOM_NAME_STRING only
};

// Reads the NUL-terminated `name` (never past byte ATOM_NAME_MAX_BYTES + 1)
// as the platform does: an empty name or one of more than 255 characters is
// invalid; "#" followed by nothing but ASCII digits (leading zeros allowed)
// is an integer atom whose value is the number modulo 65536, invalid when
// that is 0 or 0xC000 and above; anything else ("#", "#abc", "#12abc",
// "# 12", "#+1") is a string atom.
AtomNameReading readAtomName(const char *name);

// Whether two names of the given lengths in bytes are equal without regard
// to case: character by character, each small letter taken as its capital
// where the two form a pair (atom_name_case.h).
bool atomNamesEqual(const char *left, size_t leftLength, const char *right, size_t rightLength);

#endif  // ATOMTABLE_POSIX_ATOM_NAMES_H
