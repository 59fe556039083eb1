// tessmark's runs on the Linux atom table, with names and operations from
// the input.
//
// Input: records of an operation byte and a name ended by a 0 byte.  Each
// record is one tessmark run ("add", "find", "delete" or a wrong word) on a
// table private to this process (TESSMARK_ATOM_TABLE), removed at exit.
// For string names a model of the table (names equal without regard to
// ASCII case) gives the exit code each run must end with; every name the
// input added is deleted again before the next input.  Findings: any memory
// or undefined-behaviour fault, an exit code other than the model's, or a
// name found under another atom when only its case differs.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atommarker/atom_marker.h"
#include "atommarker/atom_platform.h"
#include "atomtable_posix/atom_names.h"
#include "atomtable_posix/atom_table_store.h"
#include "fuzz/report_capture.h"

namespace {

const size_t kMaxRuns = 64;
const size_t kMaxName = 300;

char gTableName[64];

struct ModelName {
    char name[kMaxName + 1];
    size_t length;
    bool present;
};

ModelName gNames[kMaxRuns];
size_t gNameCount;

[[noreturn]] void finding(const char *what, const char *name)
{
    fprintf(stderr, "atom names fuzz: %s (name \"%s\")\n", what, name);
    abort();
}

void removeTable()
{
    shm_unlink(gTableName);
}

ModelName *modelEntry(const char *name, size_t length)
{
    for (size_t i = 0; i < gNameCount; i++)
        if (atomNamesEqual(gNames[i].name, gNames[i].length, name, length))
            return &gNames[i];
    ModelName *entry = &gNames[gNameCount++];
    memcpy(entry->name, name, length + 1);
    entry->length = length;
    entry->present = false;
    return entry;
}

int runTessmark(const char *operation, const char *name)
{
    char program[] = "tessmark";
    char op[16];
    snprintf(op, sizeof op, "%s", operation);
    char *argument = strdup(name);
    char *argv[] = {program, op, argument, nullptr};
    int exitCode = runAtomMarker(3, argv);
    free(argument);
    takeReportOutput(nullptr, 0);
    return exitCode;
}

// The same name with the case of every ASCII letter turned.
void swapCase(const char *name, char *out)
{
    size_t i = 0;
    for (; name[i] != 0; i++) {
        char ch = name[i];
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 'a' + 'A');
        else if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
        out[i] = ch;
    }
    out[i] = 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    snprintf(gTableName, sizeof gTableName, "/tessmark-fuzz-%d", static_cast<int>(getpid()));
    setenv(ATOM_TABLE_ENVIRONMENT, gTableName, 1);
    atexit(removeTable);
    captureReportOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const kOperations[] = {"add", "find", "delete", "Add"};
    size_t at = 0;
    gNameCount = 0;
    for (size_t run = 0; run < kMaxRuns && at < size; run++) {
        int operation = data[at++] % 4;
        char name[kMaxName + 1];
        size_t length = 0;
        while (at < size && data[at] != 0 && length < kMaxName)
            name[length++] = static_cast<char>(data[at++]);
        at++;  // the 0 byte, or past the end
        name[length] = 0;

        int exitCode = runTessmark(kOperations[operation], name);
        AtomNameReading reading = readAtomName(name);
        if (operation == 3) {
            if (exitCode != ATOM_MARKER_USAGE)
                finding("a wrong operation word did not end with the usage code", name);
            continue;
        }
        if (exitCode < ATOM_MARKER_OK || exitCode > ATOM_MARKER_NOT_FOUND)
            finding("exit code outside 0..3", name);
        if (reading.kind != ATOM_NAME_STRING)
            continue;

        ModelName *entry = modelEntry(name, reading.length);
        int expected;
        if (operation == 0) {
            expected = entry->present ? ATOM_MARKER_ALREADY_EXISTS : ATOM_MARKER_OK;
            entry->present = true;
        } else if (operation == 1) {
            expected = entry->present ? ATOM_MARKER_OK : ATOM_MARKER_NOT_FOUND;
        } else {
            expected = entry->present ? ATOM_MARKER_OK : ATOM_MARKER_NOT_FOUND;
            entry->present = false;
        }
        if (exitCode != expected)
            finding("exit code differs from the table's model", name);

        if (entry->present) {
            char swapped[kMaxName + 1];
            swapCase(name, swapped);
            ATOM atom = GlobalFindAtomA(name);
            if (atom < ATOM_TABLE_FIRST_STRING_ATOM || GlobalFindAtomA(swapped) != atom)
                finding("a present name is not found under one string atom", name);
        }
    }

    // Leave the table as the input found it.
    for (size_t i = 0; i < gNameCount; i++) {
        if (!gNames[i].present)
            continue;
        ATOM atom = GlobalFindAtomA(gNames[i].name);
        if (atom == 0 || GlobalDeleteAtom(atom) != 0 || GlobalFindAtomA(gNames[i].name) != 0)
            finding("an added name could not be deleted again", gNames[i].name);
    }
    return 0;
}
