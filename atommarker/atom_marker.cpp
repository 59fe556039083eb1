// The run of tessmark: one operation on the global atom table per process.
#include "atommarker/atom_marker.h"

#include <cstring>
#include <iostream>

#include "atommarker/atom_platform.h"

namespace {

// Loaded by name only; the handle is neither examined nor released.
const char kLoadedLibrary[] = "user32.dll";

void printLine(const char *text)
{
    std::cout << text << std::endl;
}

void printLineWith(const char *label, const char *argument)
{
    std::cout << label << argument << std::endl;
}

// Atoms are unsigned 16-bit values: 0xFFFF prints as 65535.
void printLineWithAtom(const char *label, ATOM atom)
{
    std::cout << label << static_cast<unsigned>(atom) << std::endl;
}

// A whole-word, case-sensitive match: "Add", "ad" and "adds" are not "add".
bool isOperation(const char *argument, const char *word)
{
    return strcmp(argument, word) == 0;
}

// The system's text for a refused add, on a line of its own.  The platform
// may have no text for the code: the line is then empty and there is
// nothing to release.
void printRefusal(DWORD errorCode)
{
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, errorCode, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    printLine(text != nullptr ? text : "");
    if (text != nullptr)
        LocalFree(text);
}

int addMarker(const char *uniqueid)
{
    LoadLibraryA(kLoadedLibrary);
    if (GlobalFindAtomA(uniqueid) != 0) {
        // Never a second reference: one delete must remove what add left.
        printLineWith("Atom already exists for: ", uniqueid);
        return ATOM_MARKER_ALREADY_EXISTS;
    }
    ATOM added = GlobalAddAtomA(uniqueid);
    if (added == 0)
        printRefusal(GetLastError());  // fetched before anything else runs
    printLineWithAtom("New Atom: ", added);
    return ATOM_MARKER_OK;
}

int deleteMarker(const char *uniqueid)
{
    LoadLibraryA(kLoadedLibrary);
    ATOM found = GlobalFindAtomA(uniqueid);
    if (found == 0) {
        printLineWith("Atom not found for: ", uniqueid);
        return ATOM_MARKER_NOT_FOUND;
    }
    GlobalDeleteAtom(found);
    printLineWithAtom("Deleted Atom: ", found);
    return ATOM_MARKER_OK;
}

int findMarker(const char *uniqueid)
{
    LoadLibraryA(kLoadedLibrary);
    ATOM found = GlobalFindAtomA(uniqueid);
    if (found == 0) {
        printLineWith("Atom not found for: ", uniqueid);
        return ATOM_MARKER_NOT_FOUND;
    }
    printLineWithAtom("Found Atom: ", found);
    return ATOM_MARKER_OK;
}

}  // namespace

void printAtomMarkerUsage()
{
    printLine("Usage: tessmark operation uniqueid");
    printLine("");
    printLine("  operation      add     add a global atom");
    printLine("                 delete  delete a global atom");
    printLine("                 find    find a global atom");
    printLine("  uniqueid       a uniqueid to use for the global atom");
}

int runAtomMarker(int argc, char **argv)
{
    if (argc != 3) {
        printLine("Invalid syntax.");
        printAtomMarkerUsage();
        return ATOM_MARKER_USAGE;
    }
    const char *operation = argv[1];
    const char *uniqueid = argv[2];
    if (isOperation(operation, "add"))
        return addMarker(uniqueid);
    if (isOperation(operation, "delete"))
        return deleteMarker(uniqueid);
    if (isOperation(operation, "find"))
        return findMarker(uniqueid);
    printLineWith("Invalid operation specified: ", operation);
    printAtomMarkerUsage();
    return ATOM_MARKER_USAGE;
}
