// tessmark: adds, finds or deletes one named entry in the host's global atom
// table, so that a script can leave a marker and test for it later.
#ifndef ATOMMARKER_ATOM_MARKER_H
#define ATOMMARKER_ATOM_MARKER_H

// Exit codes of a run.
#define ATOM_MARKER_OK 0
#define ATOM_MARKER_USAGE 1
#define ATOM_MARKER_ALREADY_EXISTS 2
#define ATOM_MARKER_NOT_FOUND 3

// One run with the process's arguments (argv[0] is the program, argv[1] the
// operation "add", "delete" or "find", argv[2] the atom's name).  Writes its
// report to std::cout, flushing after every line, and reaches the platform
// only through the operations of atom_platform.h.  Returns the exit code.
int runAtomMarker(int argc, char **argv);

// Writes the six lines of the usage text to std::cout, each flushed.
void printAtomMarkerUsage();

#endif  // ATOMMARKER_ATOM_MARKER_H
