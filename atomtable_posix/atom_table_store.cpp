// The shared-memory table behind the atom operations on POSIX systems.
#include "atomtable_posix/atom_table_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

const uint32_t kTableMagic = 0x41544d31u;  // "ATM1"

struct MappedTable {
    char name[ATOM_TABLE_NAME_ROOM];
    dev_t device;
    ino_t inode;
    AtomTableShared *table;
};

pthread_mutex_t mappedTableLock = PTHREAD_MUTEX_INITIALIZER;
MappedTable mappedTable;

// Set once a wait for the table's lock has timed out: the holder is alive
// and keeps it, and the process's later operations do not wait again.
bool lockWaitTimedOut = false;

DWORD errorFromErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case ENOSPC:
    case EMFILE:
    case ENFILE:
    case EFBIG:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Opens the object, creating it private to the user when it is missing.
// Returns 0 with *fd set, or the error code.
DWORD openTableObject(const char *name, int *fd)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        int created = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (created >= 0) {
            fchmod(created, 0600);  // whatever the umask took away
            *fd = created;
            return 0;
        }
        if (errno != EEXIST)
            return errorFromErrno(errno);
        int existing = shm_open(name, O_RDWR | O_CLOEXEC, 0);
        if (existing >= 0) {
            *fd = existing;
            return 0;
        }
        if (errno != ENOENT)  // ENOENT: removed since; create it again
            return errorFromErrno(errno);
    }
    return ERROR_GEN_FAILURE;
}

// Another user's object, or one that others may read, is never used.
DWORD checkTableObject(const struct stat &status)
{
    if (status.st_uid != geteuid() || (status.st_mode & 077) != 0)
        return ERROR_ACCESS_DENIED;
    return 0;
}

// A fresh or half set-up table (its creator died before the magic was
// written) is set up from scratch.  Runs under the object's flock, so one
// process at a time.
DWORD setUpTable(AtomTableShared *table)
{
    if (table->magic == kTableMagic)
        return table->layoutBytes == sizeof(AtomTableShared) ? 0 : ERROR_INVALID_DATA;
    memset(static_cast<void *>(table), 0, sizeof(AtomTableShared));
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0)
        return ERROR_NOT_ENOUGH_MEMORY;
    int failed = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    failed = failed != 0 ? failed : pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    failed = failed != 0 ? failed : pthread_mutex_init(&table->lock, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (failed != 0)
        return ERROR_GEN_FAILURE;
    table->layoutBytes = sizeof(AtomTableShared);
    __atomic_store_n(&table->magic, kTableMagic, __ATOMIC_RELEASE);
    return 0;
}

// Sizes, maps and sets up the open object.  Returns 0 with *table set.
DWORD mapTableObject(int fd, AtomTableShared **table)
{
    while (flock(fd, LOCK_EX) != 0)
        if (errno != EINTR)
            return errorFromErrno(errno);
    DWORD result = 0;
    struct stat status;
    void *base = MAP_FAILED;
    if (fstat(fd, &status) != 0) {
        result = errorFromErrno(errno);
    } else if (status.st_size == 0 && ftruncate(fd, sizeof(AtomTableShared)) != 0) {
        result = errorFromErrno(errno);
    } else if (status.st_size != 0 &&
               static_cast<size_t>(status.st_size) != sizeof(AtomTableShared)) {
        result = ERROR_INVALID_DATA;
    } else {
        base = mmap(nullptr, sizeof(AtomTableShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        result = base == MAP_FAILED ? errorFromErrno(errno)
                                    : setUpTable(static_cast<AtomTableShared *>(base));
    }
    flock(fd, LOCK_UN);
    if (result != 0) {
        if (base != MAP_FAILED)
            munmap(base, sizeof(AtomTableShared));
        return result;
    }
    *table = static_cast<AtomTableShared *>(base);
    return 0;
}

// Opens, checks and maps the named table, reusing the mapping this process
// holds when the name still refers to the same object.
DWORD mapNamedTable(const char *name, AtomTableShared **table)
{
    int fd = -1;
    DWORD result = openTableObject(name, &fd);
    if (result != 0)
        return result;
    struct stat status;
    if (fstat(fd, &status) != 0)
        result = errorFromErrno(errno);
    else
        result = checkTableObject(status);
    if (result == 0 && mappedTable.table != nullptr && strcmp(mappedTable.name, name) == 0 &&
        mappedTable.device == status.st_dev && mappedTable.inode == status.st_ino) {
        *table = mappedTable.table;
        close(fd);
        return 0;
    }
    AtomTableShared *mapped = nullptr;
    if (result == 0)
        result = mapTableObject(fd, &mapped);
    close(fd);
    if (result != 0)
        return result;
    if (mappedTable.table != nullptr)
        munmap(mappedTable.table, sizeof(AtomTableShared));
    std::snprintf(mappedTable.name, sizeof mappedTable.name, "%s", name);
    mappedTable.device = status.st_dev;
    mappedTable.inode = status.st_ino;
    mappedTable.table = mapped;
    *table = mapped;
    return 0;
}

uint32_t slotsInUse(const AtomTableShared *table)
{
    uint32_t used = __atomic_load_n(&table->slotsUsed, __ATOMIC_ACQUIRE);
    return used < ATOM_TABLE_SLOTS ? used : ATOM_TABLE_SLOTS;
}

uint32_t slotReferences(const AtomSlot &slot)
{
    return __atomic_load_n(&slot.references, __ATOMIC_ACQUIRE);
}

void storeReferences(AtomSlot *slot, uint32_t references)
{
    __atomic_store_n(&slot->references, references, __ATOMIC_RELEASE);
}

// The slot that carries `atom`, or -1.
long slotOfAtom(const AtomTableShared *table, ATOM atom)
{
    if (atom < ATOM_TABLE_FIRST_STRING_ATOM)
        return -1;
    uint32_t slot = atom - ATOM_TABLE_FIRST_STRING_ATOM;
    if (slot >= slotsInUse(table) || slotReferences(table->slots[slot]) == 0)
        return -1;
    return static_cast<long>(slot);
}

}  // namespace

DWORD resolveAtomTableName(char *buffer, size_t room)
{
    const char *chosen = std::getenv(ATOM_TABLE_ENVIRONMENT);
    int written;
    if (chosen != nullptr && chosen[0] != '\0') {
        const char *prefix = chosen[0] == '/' ? "" : "/";
        if (strchr(chosen + 1, '/') != nullptr)
            return ERROR_INVALID_PARAMETER;
        written = std::snprintf(buffer, room, "%s%s", prefix, chosen);
    } else {
        written = std::snprintf(buffer, room, "/tessmark-atoms-%lu",
                                static_cast<unsigned long>(geteuid()));
    }
    if (written < 2 || static_cast<size_t>(written) >= room)
        return ERROR_INVALID_PARAMETER;
    return 0;
}

DWORD mapAtomTable(AtomTableShared **table)
{
    char name[ATOM_TABLE_NAME_ROOM];
    DWORD result = resolveAtomTableName(name, sizeof name);
    if (result != 0)
        return result;
    pthread_mutex_lock(&mappedTableLock);
    result = mapNamedTable(name, table);
    pthread_mutex_unlock(&mappedTableLock);
    return result;
}

DWORD lockAtomTable(AtomTableShared *table)
{
    int locked;
    if (__atomic_load_n(&lockWaitTimedOut, __ATOMIC_ACQUIRE)) {
        locked = pthread_mutex_trylock(&table->lock);
    } else {
        struct timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += ATOM_TABLE_LOCK_WAIT_MS / 1000;
        deadline.tv_nsec += (ATOM_TABLE_LOCK_WAIT_MS % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        locked = pthread_mutex_clocklock(&table->lock, CLOCK_MONOTONIC, &deadline);
        if (locked == ETIMEDOUT)
            __atomic_store_n(&lockWaitTimedOut, true, __ATOMIC_RELEASE);
    }
    if (locked == ETIMEDOUT || locked == EBUSY)
        return ERROR_TIMEOUT;
    if (locked == EOWNERDEAD) {
        // The holder died; every change it made was published whole or
        // not at all, so the table is consistent as it stands.
        locked = pthread_mutex_consistent(&table->lock);
    }
    return locked == 0 ? 0 : ERROR_INVALID_DATA;
}

void unlockAtomTable(AtomTableShared *table)
{
    pthread_mutex_unlock(&table->lock);
}

ATOM findStringAtom(const AtomTableShared *table, const char *name, size_t length)
{
    uint32_t used = slotsInUse(table);
    for (uint32_t slot = 0; slot < used; ++slot) {
        const AtomSlot &entry = table->slots[slot];
        if (slotReferences(entry) != 0 && entry.length <= ATOM_NAME_MAX_BYTES &&
            atomNamesEqual(entry.name, entry.length, name, length))
            return static_cast<ATOM>(ATOM_TABLE_FIRST_STRING_ATOM + slot);
    }
    return 0;
}

long claimFreeSlot(AtomTableShared *table)
{
    uint32_t used = slotsInUse(table);
    for (uint32_t slot = 0; slot < used; ++slot)
        if (slotReferences(table->slots[slot]) == 0)
            return static_cast<long>(slot);
    if (used == ATOM_TABLE_SLOTS)
        return -1;
    __atomic_store_n(&table->slotsUsed, used + 1, __ATOMIC_RELEASE);
    return static_cast<long>(used);
}

void writeSlotName(AtomTableShared *table, uint32_t slot, const char *name, size_t length)
{
    AtomSlot *entry = &table->slots[slot];
    memcpy(entry->name, name, length);
    entry->name[length] = '\0';
    entry->length = static_cast<uint32_t>(length);
}

void publishSlot(AtomTableShared *table, uint32_t slot)
{
    storeReferences(&table->slots[slot], 1);
}

DWORD addStringAtom(AtomTableShared *table, const char *name, size_t length, ATOM *atom)
{
    ATOM existing = findStringAtom(table, name, length);
    if (existing != 0) {
        AtomSlot *entry = &table->slots[existing - ATOM_TABLE_FIRST_STRING_ATOM];
        uint32_t references = slotReferences(*entry);
        if (references == UINT32_MAX)
            return ERROR_NOT_ENOUGH_MEMORY;
        storeReferences(entry, references + 1);
        *atom = existing;
        return 0;
    }
    long slot = claimFreeSlot(table);
    if (slot < 0)
        return ERROR_NOT_ENOUGH_MEMORY;
    writeSlotName(table, static_cast<uint32_t>(slot), name, length);
    publishSlot(table, static_cast<uint32_t>(slot));
    *atom = static_cast<ATOM>(ATOM_TABLE_FIRST_STRING_ATOM + static_cast<uint32_t>(slot));
    return 0;
}

DWORD releaseStringAtom(AtomTableShared *table, ATOM atom)
{
    long slot = slotOfAtom(table, atom);
    if (slot < 0)
        return ERROR_INVALID_HANDLE;
    AtomSlot *entry = &table->slots[slot];
    storeReferences(entry, slotReferences(*entry) - 1);
    // Free slots at the top need no scanning any more.
    uint32_t used = slotsInUse(table);
    while (used > 0 && slotReferences(table->slots[used - 1]) == 0) {
        --used;
        __atomic_store_n(&table->slotsUsed, used, __ATOMIC_RELEASE);
    }
    return 0;
}
