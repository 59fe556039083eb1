// The service's store: one SQLite database, service.db, in the state
// directory (state_location.h).  Each operation of the service runs its
// reads and writes as one transaction between storeBegin and storeCommit, so
// that concurrent runs serialize on the database's lock and a run killed at
// any moment leaves every committed operation whole and nothing of the others.
//
// The connection is opened on first use and lives for the process.
#ifndef SERVICE_LIBISCSI_SERVICE_STORE_H
#define SERVICE_LIBISCSI_SERVICE_STORE_H

#include <cstddef>

#include "common/iscsi_service.h"
#include "service_libiscsi/iscsi_exchange.h"
#include "service_support/login_settings.h"
#include "service_support/portal_text.h"

// How long a run waits for another run's transaction, or for another run
// setting up a new store, before giving up (SERVICE_STORE_BUSY).
#define STORE_BUSY_TIMEOUT_MS 10000

// A registered send-target portal.
struct PortalRow {
    long long id;
    char address[PORTAL_ADDRESS_BYTES];
    USHORT socket;
    char instance[PORTAL_ADDRESS_BYTES];  // empty: none given
    ULONG portNumber;
    LoginSettings login;
};

// A persistent login; the first five fields are its key.
struct PersistentLogin {
    char target[ISCSI_NAME_BYTES];
    char instance[PORTAL_ADDRESS_BYTES];
    ULONG portNumber;
    char address[PORTAL_ADDRESS_BYTES];
    USHORT socket;
    LoginSettings login;
};

// Opens the store when needed and begins a transaction: a write transaction
// takes the write lock at once.  Opening refuses a state directory or store
// files that are not the user's alone, or that are symbolic links (see
// openStateDirectory and prepareStoreFiles).  Returns 0 or a status.
ISDSC_STATUS storeBegin(bool write);
// Commits the open transaction.  On failure it has been rolled back.
ISDSC_STATUS storeCommit();
// Rolls back the open transaction, if any.
void storeRollback();
// Grows with every transaction this process commits and every connection
// it opens: what was read before it grew may be out of date.
unsigned long long storeChangeCount();

// Settings: small named texts (the generated node name).
ISDSC_STATUS storeReadSetting(const char *name, char *out, size_t room, bool *found);
ISDSC_STATUS storeWriteSettingIfAbsent(const char *name, const char *value);

// Adds or replaces the portal with row's address and socket, keeping its id
// (and so its place in the target list) and counting the registration in
// its generation; writes the id to *id.
ISDSC_STATUS storeSavePortal(const PortalRow &row, long long *id);
// Replaces what the portal's last discovery found.
ISDSC_STATUS storeReplaceDiscovery(long long portalId, const DiscoveryList &list);
// Drops the portal with address and socket and what it discovered.
ISDSC_STATUS storeRemovePortal(const char *address, USHORT socket, bool *found);
// A portal's registration as a run saw it: its row and the number of times
// it has been registered (both 0: not registered).
struct PortalRegistration {
    long long id;
    long long generation;
};

// The registration of the portal with address and socket, as it is now.
ISDSC_STATUS storeFindRegistration(const char *address, USHORT socket, PortalRegistration *seen);
// Every registered portal, in registration order, as a heap array the caller
// frees with free(); *rows is null when there are none.  The CHAP secrets are
// not read (passwordLength 0): storeReadPortalSecret reads one.
ISDSC_STATUS storeListPortals(PortalRow **rows, size_t *count);
// Reads the CHAP secret of the portal with id into login (none: length 0).
ISDSC_STATUS storeReadPortalSecret(long long id, LoginSettings *login);
// What the store holds about one target, read at once: the portals whose
// discovery found it, in registration order, and for each of them
// (records[i] for portals[i]) what that discovery found for the target, in
// answer order.  The portals' CHAP secrets are not read (passwordLength 0).
struct TargetRows {
    PortalRow *portals;
    size_t portalCount;
    DiscoveryList *records;
};

// Fills *out (no portals: the store knows no such target); the caller frees
// it with freeTargetRows.
ISDSC_STATUS storeReadTarget(const char *target, TargetRows *out);
void freeTargetRows(TargetRows *rows);

// Calls visit(context, name) for each discovered target once, ordered by the
// portal that found it first and its place in that portal's answer.
//
// Every reading passes over a row whose texts the service could not hand
// back (not UTF-8, holding control characters, too long): a store written
// before such texts were kept out, or by hand, hides nothing else.
ISDSC_STATUS storeVisitTargetNames(void (*visit)(void *context, const char *name), void *context);

ISDSC_STATUS storeSavePersistentLogin(const PersistentLogin &login);
ISDSC_STATUS storeRemovePersistentLogin(const PersistentLogin &key, bool *found);

#endif  // SERVICE_LIBISCSI_SERVICE_STORE_H
