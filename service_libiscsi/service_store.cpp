#include "service_libiscsi/service_store.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_libiscsi/failure_mapping.h"
#include "service_libiscsi/service_status.h"
#include "service_libiscsi/service_testing.h"
#include "service_libiscsi/state_location.h"
#include "service_libiscsi/store_files.h"
#include "service_libiscsi/stored_login.h"
#include "service_support/step_time.h"
#include "service_support/text_conversion.h"

namespace {

sqlite3 *gDatabase = nullptr;
bool gInTransaction = false;
// Counts the transactions this process committed and the connections it
// opened (storeChangeCount).
unsigned long long gChangeCount = 0;

// 1: the first schema.  2: portals count their registrations (generation).
// 3: a row's login settings in one blob (stored_login.h) and its CHAP secret
// in a column of its own; persistent logins kept by their key alone (a
// change of one is one page).
const int kSchemaVersion = 3;

// A new store's page size.  Every run reads the whole write-ahead log when
// it opens the store, and a commit writes every page it changed: small pages
// keep both short (a persistent login is a row of about 150 bytes).
const int kNewStorePageSize = 1024;

// The log is written back into the database (a checkpoint: flushes to the
// disk of the log and the database, and of the log's header when it starts
// again, a millisecond or more together) once it holds this many bytes of
// pages.  Every run reads the whole log when it opens the store, a little
// under a microsecond for each page; a run of targetlogin writes about two
// pages a target (a persistent login removed and recorded again) and one for
// its portal.  128 KiB keeps that read near a tenth of a millisecond and
// costs a run of 30 targets a checkpoint every other time, a run of one
// target every fortieth.
const int kCheckpointBytes = 128 * 1024;

// The tables of the store.  Every process parses them when it first uses the
// store: they are kept short.  `login` is a stored_login.h blob, `secret`
// the CHAP secret.
#define PORTALS_TABLE(name)                                                                        \
    "CREATE TABLE " name "(id INTEGER PRIMARY KEY, address TEXT NOT NULL, socket INT NOT NULL, "   \
    "instance TEXT NOT NULL, port_number INT NOT NULL, generation INT NOT NULL, "                  \
    "login BLOB NOT NULL, secret BLOB NOT NULL, UNIQUE(address, socket));"
#define PERSISTENT_LOGINS_TABLE(name)                                                              \
    "CREATE TABLE " name "(target TEXT NOT NULL, instance TEXT NOT NULL, "                         \
    "port_number INT NOT NULL, address TEXT NOT NULL, socket INT NOT NULL, "                       \
    "login BLOB NOT NULL, secret BLOB NOT NULL, "                                                  \
    "PRIMARY KEY(target, instance, port_number, address, socket)) WITHOUT ROWID;"

#define SETTINGS_TABLE "CREATE TABLE settings(name TEXT PRIMARY KEY, value TEXT NOT NULL);"
#define DISCOVERED_TABLE                                                                           \
    "CREATE TABLE discovered("                                                                     \
    "portal_id INTEGER NOT NULL REFERENCES portals(id) ON DELETE CASCADE, record INT NOT NULL, "   \
    "target_ordinal INT NOT NULL, target TEXT NOT NULL, address TEXT NOT NULL, "                   \
    "socket INT NOT NULL, tag INT NOT NULL, PRIMARY KEY(portal_id, record));"                      \
    "CREATE INDEX discovered_by_target ON discovered(target);"

const char kSchema[] = SETTINGS_TABLE PORTALS_TABLE("portals")
    DISCOVERED_TABLE PERSISTENT_LOGINS_TABLE("persistent_logins");

// Stores of versions 1 and 2 kept the login settings in ten columns.  The
// upgrade makes the tables of version 3 beside the old ones, copies every row
// (converting its login settings), drops the old tables and gives the new
// ones their names; discovered, settings and every id stay as they were.
// Foreign keys are off while it runs, so that dropping the old portals takes
// no discovered row along.
const char kUpgradeFromVersion1[] =
    "ALTER TABLE portals ADD COLUMN generation INTEGER NOT NULL DEFAULT 1;";
const char kUpgradeNewTables[] =
    PORTALS_TABLE("portals_v3") PERSISTENT_LOGINS_TABLE("persistent_logins_v3");
const char kUpgradeSwapTables[] = "DROP TABLE portals; ALTER TABLE portals_v3 RENAME TO portals;"
                                  "DROP TABLE persistent_logins;"
                                  "ALTER TABLE persistent_logins_v3 RENAME TO persistent_logins;";
// The old login columns, in LoginSettings order.
#define OLD_LOGIN_COLUMNS                                                                          \
    "version, specified, login_flags, auth_type, header_digest, data_digest, "                     \
    "max_connections, time2wait, time2retain, username, password"
const char kUpgradeReadPortals[] =
    "SELECT id, address, socket, instance, port_number, generation, " OLD_LOGIN_COLUMNS
    " FROM portals";
const char kUpgradeWritePortal[] = "INSERT INTO portals_v3 VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
const char kUpgradeReadLogins[] =
    "SELECT target, instance, port_number, address, socket, " OLD_LOGIN_COLUMNS
    " FROM persistent_logins";
const char kUpgradeWriteLogin[] =
    "INSERT INTO persistent_logins_v3 VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)";

// The statements of the store.  Each is prepared once per connection and
// kept: a run asks the same few questions many times, and compiling a
// statement costs more than running it.
enum StatementId {
    STATEMENT_BEGIN_READ,
    STATEMENT_BEGIN_WRITE,
    STATEMENT_COMMIT,
    STATEMENT_ROLLBACK,
    STATEMENT_READ_SETTING,
    STATEMENT_WRITE_SETTING,
    STATEMENT_UPDATE_PORTAL,
    STATEMENT_INSERT_PORTAL,
    STATEMENT_READ_DISCOVERY,
    STATEMENT_DELETE_DISCOVERY,
    STATEMENT_INSERT_DISCOVERY,
    STATEMENT_REMOVE_PORTAL,
    STATEMENT_FIND_REGISTRATION,
    STATEMENT_LIST_PORTALS,
    STATEMENT_PORTAL_SECRET,
    STATEMENT_RECORDS_OF_TARGET,
    STATEMENT_TARGET_NAMES,
    STATEMENT_SAVE_PERSISTENT_LOGIN,
    STATEMENT_REMOVE_PERSISTENT_LOGIN,
    STATEMENT_COUNT_PERSISTENT_LOGINS,
    STATEMENT_COUNT
};

const char *const kStatementTexts[STATEMENT_COUNT] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT value FROM settings WHERE name = ?1",
    "INSERT OR IGNORE INTO settings(name, value) VALUES(?1, ?2)",
    // A registration again: an upsert with RETURNING would take three times as
    // long to compile as this update and the id lookup.
    "UPDATE portals SET instance = ?3, port_number = ?4, generation = generation + 1, "
    "login = ?5, secret = ?6 WHERE address = ?1 AND socket = ?2",
    "INSERT INTO portals(address, socket, instance, port_number, generation, login, secret) "
    "VALUES(?1, ?2, ?3, ?4, 1, ?5, ?6)",
    "SELECT record, target_ordinal, target, address, socket, tag FROM discovered "
    "WHERE portal_id = ?1 ORDER BY record",
    "DELETE FROM discovered WHERE portal_id = ?1",
    "INSERT INTO discovered(portal_id, record, target_ordinal, target, address, socket, tag) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
    "DELETE FROM portals WHERE address = ?1 AND socket = ?2",
    "SELECT id, generation FROM portals WHERE address = ?1 AND socket = ?2",
    // The secrets are read only where an exchange needs one
    // (storeReadPortalSecret): the answers about a target never carry them.
    "SELECT id, address, socket, instance, port_number, login, x'' FROM portals ORDER BY id",
    "SELECT secret FROM portals WHERE id = ?1",
    "SELECT portal_id, target_ordinal, address, socket, tag FROM discovered "
    "WHERE target = ?1 ORDER BY portal_id, record",
    "SELECT target FROM discovered GROUP BY target "
    "ORDER BY MIN(portal_id * 1048576 + target_ordinal)",
    "INSERT OR REPLACE INTO persistent_logins(target, instance, port_number, address, socket, "
    "login, secret) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
    "DELETE FROM persistent_logins WHERE target = ?1 AND instance = ?2 AND "
    "port_number = ?3 AND address = ?4 AND socket = ?5",
    "SELECT COUNT(*) FROM persistent_logins WHERE ?1 IS NULL OR target = ?1",
};

sqlite3_stmt *gStatements[STATEMENT_COUNT];

// Countdown of store calls until an injected failure; -1: none.
int gFailureCountdown = -1;

// The wait for another connection's lock: when it began, and whether the
// last one gave up because STORE_BUSY_TIMEOUT_MS had passed.
long long gBusySince = 0;
bool gBusyTimedOut = false;

// SQLite's busy handler: waits, in short sleeps, until the lock is free or
// the bound has passed since the first call of this wait (attempt 0).
int waitWhileBusy(void *, int attempt)
{
    long long now = monotonicMs();
    if (attempt == 0) {
        gBusySince = now;
        gBusyTimedOut = false;
    }
    long long left = gBusySince + STORE_BUSY_TIMEOUT_MS - now;
    if (left <= 0) {
        gBusyTimedOut = true;
        return 0;
    }
    long long sleepMs = attempt < 10 ? attempt + 1 : 20;
    usleep(static_cast<useconds_t>((sleepMs < left ? sleepMs : left) * 1000));
    return 1;
}

ISDSC_STATUS fail(int result)
{
    bool waitedWholeBound = gBusyTimedOut;
    gBusyTimedOut = false;
    return statusForStoreResult(result, waitedWholeBound);
}

// True when this call is the one that an injected failure hits.
bool injectedFailure()
{
    if (gFailureCountdown < 0)
        return false;
    return gFailureCountdown-- == 0;
}

ISDSC_STATUS execute(const char *sql)
{
    int result =
        injectedFailure() ? SQLITE_IOERR : sqlite3_exec(gDatabase, sql, nullptr, nullptr, nullptr);
    return result == SQLITE_OK ? ISDSC_SUCCESS : fail(result);
}

ISDSC_STATUS prepare(const char *sql, sqlite3_stmt **statement)
{
    *statement = nullptr;
    int result = injectedFailure() ? SQLITE_IOERR
                                   : sqlite3_prepare_v2(gDatabase, sql, -1, statement, nullptr);
    return result == SQLITE_OK ? ISDSC_SUCCESS : fail(result);
}

// The kept statement `id`, prepared on its first use.  Counts as one store
// call for the failure injection, as preparing it every time did.
ISDSC_STATUS statementFor(StatementId id, sqlite3_stmt **statement)
{
    *statement = nullptr;
    if (injectedFailure())
        return fail(SQLITE_IOERR);
    if (gStatements[id] == nullptr) {
        int result = sqlite3_prepare_v3(gDatabase, kStatementTexts[id], -1,
                                        SQLITE_PREPARE_PERSISTENT, &gStatements[id], nullptr);
        if (result != SQLITE_OK) {
            sqlite3_finalize(gStatements[id]);
            gStatements[id] = nullptr;
            return fail(result);
        }
    }
    *statement = gStatements[id];
    return ISDSC_SUCCESS;
}

// Makes a kept statement ready for its next use; nothing it was bound to is
// referred to any more.
void doneWith(sqlite3_stmt *statement)
{
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

// Steps a statement that returns no rows, then makes it ready again.
ISDSC_STATUS runToEnd(sqlite3_stmt *statement)
{
    int result = sqlite3_step(statement);
    doneWith(statement);
    return result == SQLITE_DONE ? ISDSC_SUCCESS : fail(result);
}

// Runs one of the transaction statements (a store call).
ISDSC_STATUS runKept(StatementId id)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(id, &statement);
    return status == ISDSC_SUCCESS ? runToEnd(statement) : status;
}

// Ends the open transaction, if any, taking back what it changed.  Never an
// injected failure: this is how failures end.
void rollBack()
{
    if (gStatements[STATEMENT_ROLLBACK] == nullptr &&
        sqlite3_prepare_v3(gDatabase, kStatementTexts[STATEMENT_ROLLBACK], -1,
                           SQLITE_PREPARE_PERSISTENT, &gStatements[STATEMENT_ROLLBACK],
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(gStatements[STATEMENT_ROLLBACK]);
        gStatements[STATEMENT_ROLLBACK] = nullptr;
        sqlite3_exec(gDatabase, "ROLLBACK", nullptr, nullptr, nullptr);
        return;
    }
    sqlite3_step(gStatements[STATEMENT_ROLLBACK]);
    sqlite3_reset(gStatements[STATEMENT_ROLLBACK]);
}

void finalizeStatements()
{
    for (sqlite3_stmt *&statement : gStatements) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
}

void bindText(sqlite3_stmt *statement, int index, const char *text)
{
    sqlite3_bind_text(statement, index, text, -1, SQLITE_STATIC);
}

// Binds a row's login blob at index `first` and its secret after it.
void bindLogin(sqlite3_stmt *statement, int first, const LoginSettings &login)
{
    unsigned char blob[STORED_LOGIN_MAX_BYTES];
    size_t length = encodeStoredLogin(login, blob);
    sqlite3_bind_blob(statement, first, blob, static_cast<int>(length), SQLITE_TRANSIENT);
    sqlite3_bind_blob(statement, first + 1, login.password, static_cast<int>(login.passwordLength),
                      SQLITE_STATIC);
}

// Runs a statement that takes a portal row as ?1 to ?6: address, socket,
// instance, port number, login blob and secret.
ISDSC_STATUS runPortalRow(sqlite3_stmt *statement, const PortalRow &row)
{
    bindText(statement, 1, row.address);
    sqlite3_bind_int(statement, 2, row.socket);
    bindText(statement, 3, row.instance);
    sqlite3_bind_int64(statement, 4, row.portNumber);
    bindLogin(statement, 5, row.login);
    return runToEnd(statement);
}

ULONG columnUlong(sqlite3_stmt *statement, int index)
{
    return static_cast<ULONG>(sqlite3_column_int64(statement, index));
}

// Copies a text column into out[room], cut to fit (the store only holds what
// fitted when it was written).
void columnText(sqlite3_stmt *statement, int index, char *out, size_t room)
{
    const unsigned char *text = sqlite3_column_text(statement, index);
    size_t length =
        text != nullptr ? static_cast<size_t>(sqlite3_column_bytes(statement, index)) : 0;
    if (length >= room)
        length = room - 1;
    if (length > 0)
        memcpy(out, text, length);
    out[length] = 0;
}

// A text column that the service may hand back: it fits in room whole, is
// UTF-8 and holds no control character.  A row written by an older service,
// or by hand, may hold anything; such a row is passed over.
bool columnReadableText(sqlite3_stmt *statement, int index, char *out, size_t room)
{
    const unsigned char *text = sqlite3_column_text(statement, index);
    size_t length =
        text != nullptr ? static_cast<size_t>(sqlite3_column_bytes(statement, index)) : 0;
    if (text == nullptr || length >= room || strlen(reinterpret_cast<const char *>(text)) != length)
        return false;
    memcpy(out, text, length + 1);
    return isReadableText(out);
}

void columnBlob(sqlite3_stmt *statement, int index, unsigned char *out, ULONG *length)
{
    const void *bytes = sqlite3_column_blob(statement, index);
    int size = sqlite3_column_bytes(statement, index);
    if (bytes == nullptr || size < 0)
        size = 0;
    if (size > LOGIN_SECRET_BYTES)
        size = LOGIN_SECRET_BYTES;
    if (size > 0)
        memcpy(out, bytes, static_cast<size_t>(size));
    *length = static_cast<ULONG>(size);
}

// Reads a row's login blob at column `first` and its secret after it; false
// when the blob is not one the service writes (the row is passed over).
bool columnLogin(sqlite3_stmt *statement, int first, LoginSettings *login)
{
    const void *blob = sqlite3_column_blob(statement, first);
    int size = sqlite3_column_bytes(statement, first);
    if (size < 0 || !decodeStoredLogin(blob, static_cast<size_t>(size), login))
        return false;
    columnBlob(statement, first + 1, login->password, &login->passwordLength);
    if (login->passwordLength > 0)
        protectHeldSecrets();
    return true;
}

// Reads the eleven login columns of a store of version 1 or 2 from column
// `first` on.
void columnOldLogin(sqlite3_stmt *statement, int first, LoginSettings *login)
{
    login->version = columnUlong(statement, first);
    login->informationSpecified = columnUlong(statement, first + 1);
    login->loginFlags = columnUlong(statement, first + 2);
    login->authType = columnUlong(statement, first + 3);
    login->headerDigest = columnUlong(statement, first + 4);
    login->dataDigest = columnUlong(statement, first + 5);
    login->maximumConnections = columnUlong(statement, first + 6);
    login->defaultTime2Wait = columnUlong(statement, first + 7);
    login->defaultTime2Retain = columnUlong(statement, first + 8);
    columnBlob(statement, first + 9, login->username, &login->usernameLength);
    columnBlob(statement, first + 10, login->password, &login->passwordLength);
    if (login->passwordLength > 0)
        protectHeldSecrets();
}

ISDSC_STATUS setSchemaVersion()
{
    char statement[64];
    snprintf(statement, sizeof statement, "PRAGMA user_version = %d", kSchemaVersion);
    return execute(statement);
}

ISDSC_STATUS readSchemaVersion(int *version)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = prepare("PRAGMA user_version", &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    int result = sqlite3_step(statement);
    *version = result == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
    sqlite3_finalize(statement);
    if (result != SQLITE_ROW)
        return fail(result);
    // Written by a newer service: its meaning is unknown here.
    return *version > kSchemaVersion ? SERVICE_STORE_FAILED : ISDSC_SUCCESS;
}

// Copies every row of an old table, read by readSql, into its table of
// version 3, written by writeSql: the first `kept` columns as they are, then
// the old login columns as a login blob and a secret.
ISDSC_STATUS copyRowsToVersion3(const char *readSql, const char *writeSql, int kept)
{
    sqlite3_stmt *read = nullptr;
    sqlite3_stmt *write = nullptr;
    ISDSC_STATUS status = prepare(readSql, &read);
    if (status == ISDSC_SUCCESS)
        status = prepare(writeSql, &write);
    int result = SQLITE_DONE;
    while (status == ISDSC_SUCCESS && (result = sqlite3_step(read)) == SQLITE_ROW) {
        for (int column = 0; column < kept; column++)
            sqlite3_bind_value(write, column + 1, sqlite3_column_value(read, column));
        LoginSettings login;
        memset(&login, 0, sizeof login);
        columnOldLogin(read, kept, &login);
        bindLogin(write, kept + 1, login);
        result = sqlite3_step(write);
        sqlite3_reset(write);
        memset(&login, 0, sizeof login);
        if (result != SQLITE_DONE)
            status = fail(result);
    }
    if (status == ISDSC_SUCCESS && result != SQLITE_DONE)
        status = fail(result);
    sqlite3_finalize(read);
    sqlite3_finalize(write);
    return status;
}

// Brings the tables of a store of version 2 to version 3 (see
// kUpgradeNewTables), inside the caller's transaction.
ISDSC_STATUS upgradeToVersion3()
{
    ISDSC_STATUS status = execute(kUpgradeNewTables);
    if (status == ISDSC_SUCCESS)
        status = copyRowsToVersion3(kUpgradeReadPortals, kUpgradeWritePortal, 6);
    if (status == ISDSC_SUCCESS)
        status = copyRowsToVersion3(kUpgradeReadLogins, kUpgradeWriteLogin, 5);
    if (status == ISDSC_SUCCESS)
        status = execute(kUpgradeSwapTables);
    return status;
}

// Creates the tables of a new store, or brings an older store's up to date,
// in one transaction.  Foreign keys must be off (see kUpgradeNewTables).
ISDSC_STATUS createSchema()
{
    int version = 0;
    ISDSC_STATUS status = readSchemaVersion(&version);
    if (status != ISDSC_SUCCESS || version == kSchemaVersion)
        return status;
    status = execute("BEGIN IMMEDIATE");
    if (status != ISDSC_SUCCESS)
        return status;
    // Again under the write lock: another run may have been first.
    status = readSchemaVersion(&version);
    if (status == ISDSC_SUCCESS && version == 0)
        status = execute(kSchema);
    if (status == ISDSC_SUCCESS && version == 1)
        status = execute(kUpgradeFromVersion1);
    if (status == ISDSC_SUCCESS && (version == 1 || version == 2))
        status = upgradeToVersion3();
    if (status == ISDSC_SUCCESS && version != kSchemaVersion)
        status = setSchemaVersion();
    if (status == ISDSC_SUCCESS)
        status = execute("COMMIT");
    if (status != ISDSC_SUCCESS)
        sqlite3_exec(gDatabase, "ROLLBACK", nullptr, nullptr, nullptr);
    return status;
}

// Takes the lock that makes one run at a time switch a new store to WAL
// mode: flock on the state directory, waited for STORE_BUSY_TIMEOUT_MS at
// most.  Closing the directory releases it.
ISDSC_STATUS lockStoreSetUp(int directory)
{
    long long deadline = monotonicMs() + STORE_BUSY_TIMEOUT_MS;
    while (flock(directory, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return statusForStoreFileErrno(errno);
        if (monotonicMs() >= deadline)
            return SERVICE_STORE_BUSY;
        usleep(5000);
    }
    return ISDSC_SUCCESS;
}

// The state directory's path with every symbolic link resolved, checked to
// be the directory open as `directory`.  SQLite then opens the store's files
// by a path that holds no link, and follows none.
ISDSC_STATUS resolveStateDirectory(const char *path, int directory, char *out)
{
    struct stat opened;
    struct stat named;
    if (realpath(path, out) == nullptr)
        return statusForStateDirectoryErrno(errno);
    if (fstat(directory, &opened) != 0 || stat(out, &named) != 0)
        return statusForStateDirectoryErrno(errno);
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        return SERVICE_STATE_DIRECTORY_FAILED;  // replaced since it was checked
    return ISDSC_SUCCESS;
}

// Opens the SQLite connection to the checked store in directory (a path
// without links) and sets it up.
ISDSC_STATUS connectStore(const char *directory, const StoreHeader &header)
{
    char path[PATH_MAX + 16];
    int written = snprintf(path, sizeof path, "%s/" STORE_FILE_NAME, directory);
    if (written < 0 || static_cast<size_t>(written) >= sizeof path)
        return SERVICE_STATE_DIRECTORY_FAILED;
    int flags = SQLITE_OPEN_READWRITE;
#ifdef SQLITE_OPEN_NOFOLLOW
    flags |= SQLITE_OPEN_NOFOLLOW;
#endif
    // The page cache takes memory page by page as the store needs it, not
    // twenty pages at once, and no allocation updates SQLite's memory
    // statistics under its lock, which nothing reads (process-wide settings,
    // refused without harm once SQLite is in use).
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    int result = sqlite3_open_v2(path, &gDatabase, flags, nullptr);
    if (result != SQLITE_OK) {
        sqlite3_close(gDatabase);
        gDatabase = nullptr;
        return fail(result);
    }
    sqlite3_busy_handler(gDatabase, waitWhileBusy, nullptr);
    // WAL: readers never wait for a writer, and a commit is one append.  The
    // mode stays with the file; only a new store is switched.  With
    // synchronous=NORMAL a killed process loses nothing it committed; only a
    // power cut may take back the last commits, never the database's
    // consistency.  Every run is the first connection and rebuilds its index
    // from the log, which costs it a little for each page there; a
    // checkpoint empties the log, and costs two flushes to the disk.
    // A new store gets its page size before its first page is written.
    char setUp[96];
    snprintf(setUp, sizeof setUp, "PRAGMA page_size=%d; PRAGMA journal_mode=WAL;",
             kNewStorePageSize);
    ISDSC_STATUS status = header.walMode ? ISDSC_SUCCESS : execute(setUp);
    if (status == ISDSC_SUCCESS)
        status = execute("PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=2097152;");
    if (status == ISDSC_SUCCESS) {
        unsigned pageSize = header.pageSize != 0 ? header.pageSize : kNewStorePageSize;
        sqlite3_wal_autocheckpoint(gDatabase, static_cast<int>(kCheckpointBytes / pageSize));
    }
    if (status == ISDSC_SUCCESS)
        status = createSchema();
    if (status == ISDSC_SUCCESS)
        sqlite3_db_config(gDatabase, SQLITE_DBCONFIG_ENABLE_FKEY, 1, nullptr);
    if (status != ISDSC_SUCCESS) {
        sqlite3_close(gDatabase);
        gDatabase = nullptr;
    }
    return status;
}

ISDSC_STATUS openStore()
{
    char directory[STATE_PATH_BYTES];
    char resolved[PATH_MAX];
    int directoryDescriptor = -1;
    ISDSC_STATUS status = findStateDirectory(directory, sizeof directory);
    if (status == ISDSC_SUCCESS)
        status = openStateDirectory(directory, &directoryDescriptor);
    if (status != ISDSC_SUCCESS)
        return status;
    status = resolveStateDirectory(directory, directoryDescriptor, resolved);
    StoreHeader header = {false, 0};
    if (status == ISDSC_SUCCESS)
        status = prepareStoreFiles(directoryDescriptor, &header);
    // Two connections that switch one new file to WAL mode at once both have
    // to raise a shared lock to a write lock; SQLite then fails one of them
    // at once, without the busy handler.  So a new store is set up by one run
    // at a time, and the others wait for it.
    if (status == ISDSC_SUCCESS && !header.walMode)
        status = lockStoreSetUp(directoryDescriptor);
    if (status == ISDSC_SUCCESS)
        status = connectStore(resolved, header);
    close(directoryDescriptor);
    return status;
}

// Gathers PortalRow results of a statement whose columns are id, address,
// socket, instance, port_number and the login columns.
ISDSC_STATUS collectPortals(sqlite3_stmt *statement, PortalRow **rows, size_t *count)
{
    *rows = nullptr;
    *count = 0;
    size_t capacity = 0;
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        if (*count == capacity) {
            capacity = capacity == 0 ? 4 : capacity * 2;
            PortalRow *grown =
                static_cast<PortalRow *>(realloc(*rows, capacity * sizeof(PortalRow)));
            if (grown == nullptr) {
                doneWith(statement);
                free(*rows);
                *rows = nullptr;
                *count = 0;
                return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
            }
            *rows = grown;
        }
        PortalRow *row = &(*rows)[*count];
        memset(row, 0, sizeof *row);
        row->id = sqlite3_column_int64(statement, 0);
        if (!columnReadableText(statement, 1, row->address, sizeof row->address) ||
            !columnReadableText(statement, 3, row->instance, sizeof row->instance))
            continue;
        row->socket = static_cast<USHORT>(sqlite3_column_int(statement, 2));
        row->portNumber = columnUlong(statement, 4);
        if (!columnLogin(statement, 5, &row->login))
            continue;
        (*count)++;
    }
    doneWith(statement);
    if (result != SQLITE_DONE) {
        free(*rows);
        *rows = nullptr;
        *count = 0;
        return fail(result);
    }
    return ISDSC_SUCCESS;
}

bool columnEquals(sqlite3_stmt *statement, int index, const char *text)
{
    const unsigned char *stored = sqlite3_column_text(statement, index);
    size_t length = strlen(text);
    return stored != nullptr &&
           static_cast<size_t>(sqlite3_column_bytes(statement, index)) == length &&
           memcmp(stored, text, length) == 0;
}

// Whether portal portalId's stored discovery is list, record for record.
ISDSC_STATUS storedDiscoveryEquals(long long portalId, const DiscoveryList &list, bool *same)
{
    *same = false;
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_READ_DISCOVERY, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    sqlite3_bind_int64(statement, 1, portalId);
    size_t matched = 0;
    bool differs = false;
    int result;
    while (!differs && (result = sqlite3_step(statement)) == SQLITE_ROW) {
        const DiscoveryRecord *record = matched < list.count ? &list.records[matched] : nullptr;
        differs =
            record == nullptr ||
            sqlite3_column_int64(statement, 0) != static_cast<long long>(matched) ||
            sqlite3_column_int64(statement, 1) != static_cast<long long>(record->targetOrdinal) ||
            !columnEquals(statement, 2, record->target) ||
            !columnEquals(statement, 3, record->address) ||
            sqlite3_column_int64(statement, 4) != static_cast<long long>(record->socket) ||
            sqlite3_column_int64(statement, 5) != static_cast<long long>(record->tag);
        matched++;
    }
    doneWith(statement);
    if (differs)
        return ISDSC_SUCCESS;
    if (result != SQLITE_DONE)
        return fail(result);
    *same = matched == list.count;
    return ISDSC_SUCCESS;
}

// Gathers the records of target that a statement returns as portal_id,
// target_ordinal, address, socket and tag, ordered by portal and answer
// order, into the list of their portal in rows (ordered by id too), and
// marks named[i] for each portal that has a record of the target.  Records
// of portals that rows does not hold are passed over.
ISDSC_STATUS collectTargetRecords(sqlite3_stmt *statement, const char *target, TargetRows *rows,
                                  bool *named)
{
    size_t portal = 0;
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        long long portalId = sqlite3_column_int64(statement, 0);
        while (portal < rows->portalCount && rows->portals[portal].id < portalId)
            portal++;
        if (portal == rows->portalCount || rows->portals[portal].id != portalId)
            continue;
        named[portal] = true;
        DiscoveryRecord record;
        memset(&record, 0, sizeof record);
        snprintf(record.target, sizeof record.target, "%s", target);
        record.targetOrdinal = columnUlong(statement, 1);
        if (!columnReadableText(statement, 2, record.address, sizeof record.address))
            continue;
        record.socket = static_cast<USHORT>(sqlite3_column_int(statement, 3));
        record.tag = columnUlong(statement, 4);
        if (!appendDiscoveryRecord(&rows->records[portal], record)) {
            doneWith(statement);
            return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    doneWith(statement);
    return result == SQLITE_DONE ? ISDSC_SUCCESS : fail(result);
}

// Binds the five key columns of a persistent login, from index 1 on.
void bindLoginKey(sqlite3_stmt *statement, const PersistentLogin &key)
{
    bindText(statement, 1, key.target);
    bindText(statement, 2, key.instance);
    sqlite3_bind_int64(statement, 3, key.portNumber);
    bindText(statement, 4, key.address);
    sqlite3_bind_int(statement, 5, key.socket);
}

}  // namespace

ISDSC_STATUS storeBegin(bool write)
{
    gBusyTimedOut = false;
    if (gDatabase == nullptr) {
        gChangeCount++;
        ISDSC_STATUS status = openStore();
        if (status != ISDSC_SUCCESS)
            return status;
    }
    ISDSC_STATUS status = runKept(write ? STATEMENT_BEGIN_WRITE : STATEMENT_BEGIN_READ);
    gInTransaction = status == ISDSC_SUCCESS;
    return status;
}

ISDSC_STATUS storeCommit()
{
    gChangeCount++;
    ISDSC_STATUS status = runKept(STATEMENT_COMMIT);
    if (status != ISDSC_SUCCESS)
        rollBack();
    gInTransaction = false;
    return status;
}

unsigned long long storeChangeCount()
{
    return gChangeCount;
}

void storeRollback()
{
    if (gDatabase != nullptr && gInTransaction)
        rollBack();
    gInTransaction = false;
}

ISDSC_STATUS storeReadSetting(const char *name, char *out, size_t room, bool *found)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_READ_SETTING, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    bindText(statement, 1, name);
    int result = sqlite3_step(statement);
    *found = result == SQLITE_ROW;
    if (*found)
        columnText(statement, 0, out, room);
    doneWith(statement);
    return (result == SQLITE_ROW || result == SQLITE_DONE) ? ISDSC_SUCCESS : fail(result);
}

ISDSC_STATUS storeWriteSettingIfAbsent(const char *name, const char *value)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_WRITE_SETTING, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    bindText(statement, 1, name);
    bindText(statement, 2, value);
    return runToEnd(statement);
}

ISDSC_STATUS storeSavePortal(const PortalRow &row, long long *id)
{
    // The caller's write transaction makes the update, the lookup of the id
    // and the insert one step.
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_UPDATE_PORTAL, &statement);
    if (status == ISDSC_SUCCESS)
        status = runPortalRow(statement, row);
    if (status != ISDSC_SUCCESS)
        return status;
    if (sqlite3_changes(gDatabase) > 0) {
        PortalRegistration now = {0, 0};
        status = storeFindRegistration(row.address, row.socket, &now);
        *id = now.id;
        return status == ISDSC_SUCCESS && now.id == 0 ? SERVICE_STORE_FAILED : status;
    }
    status = statementFor(STATEMENT_INSERT_PORTAL, &statement);
    if (status == ISDSC_SUCCESS)
        status = runPortalRow(statement, row);
    *id = sqlite3_last_insert_rowid(gDatabase);
    return status;
}

ISDSC_STATUS storeReplaceDiscovery(long long portalId, const DiscoveryList &list)
{
    // A discovery that found what the last one found changes nothing: the
    // store is not written (each write grows the log that the next run
    // reads when it opens the store).
    bool same = false;
    ISDSC_STATUS status = storedDiscoveryEquals(portalId, list, &same);
    if (status != ISDSC_SUCCESS || same)
        return status;
    sqlite3_stmt *statement = nullptr;
    status = statementFor(STATEMENT_DELETE_DISCOVERY, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    sqlite3_bind_int64(statement, 1, portalId);
    status = runToEnd(statement);
    if (status != ISDSC_SUCCESS)
        return status;
    status = statementFor(STATEMENT_INSERT_DISCOVERY, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    for (size_t i = 0; i < list.count; i++) {
        const DiscoveryRecord &record = list.records[i];
        sqlite3_reset(statement);
        sqlite3_bind_int64(statement, 1, portalId);
        sqlite3_bind_int64(statement, 2, static_cast<long long>(i));
        sqlite3_bind_int64(statement, 3, record.targetOrdinal);
        bindText(statement, 4, record.target);
        bindText(statement, 5, record.address);
        sqlite3_bind_int(statement, 6, record.socket);
        sqlite3_bind_int64(statement, 7, record.tag);
        int result = sqlite3_step(statement);
        if (result != SQLITE_DONE) {
            doneWith(statement);
            return fail(result);
        }
    }
    doneWith(statement);
    return ISDSC_SUCCESS;
}

ISDSC_STATUS storeRemovePortal(const char *address, USHORT socket, bool *found)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_REMOVE_PORTAL, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    bindText(statement, 1, address);
    sqlite3_bind_int(statement, 2, socket);
    status = runToEnd(statement);
    *found = status == ISDSC_SUCCESS && sqlite3_changes(gDatabase) > 0;
    return status;
}

ISDSC_STATUS storeFindRegistration(const char *address, USHORT socket, PortalRegistration *seen)
{
    seen->id = 0;
    seen->generation = 0;
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_FIND_REGISTRATION, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    bindText(statement, 1, address);
    sqlite3_bind_int(statement, 2, socket);
    int result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
        seen->id = sqlite3_column_int64(statement, 0);
        seen->generation = sqlite3_column_int64(statement, 1);
    }
    doneWith(statement);
    return (result == SQLITE_ROW || result == SQLITE_DONE) ? ISDSC_SUCCESS : fail(result);
}

ISDSC_STATUS storeListPortals(PortalRow **rows, size_t *count)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_LIST_PORTALS, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    return collectPortals(statement, rows, count);
}

ISDSC_STATUS storeReadPortalSecret(long long id, LoginSettings *login)
{
    login->passwordLength = 0;
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_PORTAL_SECRET, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    sqlite3_bind_int64(statement, 1, id);
    int result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
        columnBlob(statement, 0, login->password, &login->passwordLength);
        if (login->passwordLength > 0)
            protectHeldSecrets();
    }
    doneWith(statement);
    return (result == SQLITE_ROW || result == SQLITE_DONE) ? ISDSC_SUCCESS : fail(result);
}

ISDSC_STATUS storeReadTarget(const char *target, TargetRows *out)
{
    // Every portal, then the target's records: the portals that have a
    // record of it (readable or not) are the target's.  Two short statements
    // compile faster than one that picks the portals.
    memset(out, 0, sizeof *out);
    bool *named = nullptr;
    ISDSC_STATUS status = storeListPortals(&out->portals, &out->portalCount);
    if (status == ISDSC_SUCCESS && out->portalCount > 0) {
        out->records =
            static_cast<DiscoveryList *>(calloc(out->portalCount, sizeof(DiscoveryList)));
        named = static_cast<bool *>(calloc(out->portalCount, sizeof(bool)));
        if (out->records == nullptr || named == nullptr)
            status = ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    }
    sqlite3_stmt *statement = nullptr;
    if (status == ISDSC_SUCCESS && out->portalCount > 0)
        status = statementFor(STATEMENT_RECORDS_OF_TARGET, &statement);
    if (status == ISDSC_SUCCESS && out->portalCount > 0) {
        bindText(statement, 1, target);
        status = collectTargetRecords(statement, target, out, named);
    }
    if (status == ISDSC_SUCCESS) {
        size_t kept = 0;
        for (size_t i = 0; i < out->portalCount; i++) {
            if (named[i]) {
                out->portals[kept] = out->portals[i];
                out->records[kept] = out->records[i];
                kept++;
            }
        }
        if (kept < out->portalCount) {
            memset(out->portals + kept, 0, (out->portalCount - kept) * sizeof(PortalRow));
            memset(out->records + kept, 0, (out->portalCount - kept) * sizeof(DiscoveryList));
        }
        out->portalCount = kept;
    }
    free(named);
    if (status != ISDSC_SUCCESS || out->portalCount == 0)
        freeTargetRows(out);
    return status;
}

void freeTargetRows(TargetRows *rows)
{
    for (size_t i = 0; rows->records != nullptr && i < rows->portalCount; i++)
        freeDiscoveryList(&rows->records[i]);
    free(rows->records);
    if (rows->portals != nullptr)
        memset(rows->portals, 0, rows->portalCount * sizeof(PortalRow));
    free(rows->portals);
    memset(rows, 0, sizeof *rows);
}

ISDSC_STATUS storeVisitTargetNames(void (*visit)(void *context, const char *name), void *context)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_TARGET_NAMES, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        char name[ISCSI_NAME_BYTES];
        if (columnReadableText(statement, 0, name, sizeof name) && name[0] != 0)
            visit(context, name);
    }
    doneWith(statement);
    return result == SQLITE_DONE ? ISDSC_SUCCESS : fail(result);
}

ISDSC_STATUS storeSavePersistentLogin(const PersistentLogin &login)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_SAVE_PERSISTENT_LOGIN, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    bindLoginKey(statement, login);
    bindLogin(statement, 6, login.login);
    return runToEnd(statement);
}

ISDSC_STATUS storeRemovePersistentLogin(const PersistentLogin &key, bool *found)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_REMOVE_PERSISTENT_LOGIN, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    bindLoginKey(statement, key);
    status = runToEnd(statement);
    *found = status == ISDSC_SUCCESS && sqlite3_changes(gDatabase) > 0;
    return status;
}

// For tests only (service_testing.h).

void storeClose()
{
    storeRollback();
    finalizeStatements();
    if (gDatabase != nullptr)
        sqlite3_close(gDatabase);
    gDatabase = nullptr;
}

ISDSC_STATUS storeCountPersistentLogins(const char *target, size_t *count)
{
    sqlite3_stmt *statement = nullptr;
    ISDSC_STATUS status = statementFor(STATEMENT_COUNT_PERSISTENT_LOGINS, &statement);
    if (status != ISDSC_SUCCESS)
        return status;
    if (target != nullptr)
        bindText(statement, 1, target);
    int result = sqlite3_step(statement);
    *count = result == SQLITE_ROW ? static_cast<size_t>(sqlite3_column_int64(statement, 0)) : 0;
    doneWith(statement);
    return result == SQLITE_ROW ? ISDSC_SUCCESS : fail(result);
}

void storeFailAfter(int calls)
{
    gFailureCountdown = calls;
}
