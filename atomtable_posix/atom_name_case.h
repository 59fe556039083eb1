// The letters whose case the atom table ignores, as the platform's table
// does: pairs of a small letter and its capital among the 16-bit characters.
#ifndef ATOMTABLE_POSIX_ATOM_NAME_CASE_H
#define ATOMTABLE_POSIX_ATOM_NAME_CASE_H

#include <cstdint>

// Every step-th character from first to last (both included) is a small
// letter whose capital is the character + delta.  Runs are in ascending
// order and do not overlap.
struct AtomCaseRun {
    uint16_t first;
    uint16_t last;
    int32_t delta;
    uint16_t step;
};

extern const AtomCaseRun kAtomCaseRuns[];
extern const unsigned kAtomCaseRunCount;

#endif  // ATOMTABLE_POSIX_ATOM_NAME_CASE_H
