// The host-wide atom table: one table per user in POSIX shared memory.
//
// Layout and crash safety: every change a holder of the lock makes becomes
// visible through one aligned 32-bit store, made after everything it
// publishes is written.  A holder killed at any point therefore leaves a
// consistent table, and the next one to take the robust lock only has to
// mark the lock consistent.  A slot whose reference count is 0 is free,
// whatever its name bytes hold.
#ifndef ATOMTABLE_POSIX_ATOM_TABLE_STORE_H
#define ATOMTABLE_POSIX_ATOM_TABLE_STORE_H

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "atommarker/atom_platform.h"
#include "atomtable_posix/atom_names.h"

// Names the table of the tests' own choosing instead of the user's.
#define ATOM_TABLE_ENVIRONMENT "TESSMARK_ATOM_TABLE"

// String atoms are 0xC000 + slot; 0x4000 slots reach 0xFFFF.
#define ATOM_TABLE_FIRST_STRING_ATOM 0xC000u
#define ATOM_TABLE_SLOTS 0x4000u

// Room for a shared-memory object name with its NUL.
#define ATOM_TABLE_NAME_ROOM 256u

struct AtomSlot {
    uint32_t references;  // 0: free; stored last when a name is added
    uint32_t length;      // bytes of name, 1..255
    char name[ATOM_NAME_MAX_BYTES + 1];
};

struct AtomTableShared {
    uint32_t magic;        // ATOM_TABLE_MAGIC once set up; written last
    uint32_t layoutBytes;  // sizeof(AtomTableShared) of the writer
    uint32_t slotsUsed;    // slots at and above it are free
    uint32_t reserved;
    pthread_mutex_t lock;  // process-shared, robust
    AtomSlot slots[ATOM_TABLE_SLOTS];
};

// Writes the name of this process's table into buffer[room]: the value of
// TESSMARK_ATOM_TABLE when set and not empty (a "/" put in front when it
// has none), else "/tessmark-atoms-<effective uid>".  Returns 0, or
// ERROR_INVALID_PARAMETER when the name does not fit or holds a "/" after
// the first byte.
DWORD resolveAtomTableName(char *buffer, size_t room);

// Maps this process's table, creating it (mode 0600) and setting it up on
// first use.  Returns 0 with *table pointing at it, or the error code:
// ERROR_ACCESS_DENIED when the object is not the user's own or not private
// to the user, ERROR_INVALID_DATA when it has another layout,
// ERROR_NOT_ENOUGH_MEMORY when the system has no room, ERROR_GEN_FAILURE
// otherwise.  The mapping is kept for the process's life; a later call for
// another table name replaces it.  Serialised across the process's threads.
DWORD mapAtomTable(AtomTableShared **table);

// How long a process waits for the table's lock.  A holder that died is
// noticed at once (the lock is robust); one that is alive and stopped
// (SIGSTOP, a debugger) would hold it for ever.
#define ATOM_TABLE_LOCK_WAIT_MS 3000

// Takes the table's lock, making it consistent after a holder died.  Waits
// ATOM_TABLE_LOCK_WAIT_MS at most, and once per process: after one wait
// that timed out, the process only tries the lock.  Returns 0,
// ERROR_TIMEOUT when another process kept the lock, or ERROR_INVALID_DATA
// when the lock cannot be had.
DWORD lockAtomTable(AtomTableShared *table);
void unlockAtomTable(AtomTableShared *table);

// The rest require the lock.

// The atom of the string name[length] (1..255 bytes), 0 when absent.
ATOM findStringAtom(const AtomTableShared *table, const char *name, size_t length);

// Adds name[length] or takes one more reference to it.  Returns 0 with
// *atom set, or ERROR_NOT_ENOUGH_MEMORY when the table is full (or the
// name's reference count is at its limit).
DWORD addStringAtom(AtomTableShared *table, const char *name, size_t length, ATOM *atom);

// Releases one reference to a string atom; the name goes with the last one.
// Returns 0, or ERROR_INVALID_HANDLE when no name carries the atom.
DWORD releaseStringAtom(AtomTableShared *table, ATOM atom);

// The steps of adding a new name, in the order addStringAtom takes them.
// claimFreeSlot returns the lowest free slot (raising slotsUsed to cover it
// first) or -1 when the table is full; writeSlotName fills the slot without
// making it visible; publishSlot makes it visible with one reference.
long claimFreeSlot(AtomTableShared *table);
void writeSlotName(AtomTableShared *table, uint32_t slot, const char *name, size_t length);
void publishSlot(AtomTableShared *table, uint32_t slot);

#endif  // ATOMTABLE_POSIX_ATOM_TABLE_STORE_H
