// The files of the service's store in its state directory: service.db and
// the write-ahead log (-wal) and shared-memory index (-shm) that SQLite keeps
// beside it.  They hold the CHAP secrets, so they are the user's alone, and
// none of them is reached through a symbolic link.
#ifndef SERVICE_LIBISCSI_STORE_FILES_H
#define SERVICE_LIBISCSI_STORE_FILES_H

#include "common/iscsi_service.h"

#define STORE_FILE_NAME "service.db"

// Checks the store's files in the state directory open as `directory`
// (openStateDirectory), without following symbolic links, and creates
// service.db when it is missing, with permissions for its owner alone
// whatever the umask (SQLite gives the -wal and -shm files it creates the
// database's permissions).  Each file that exists must be a regular file of
// the effective user that no one else may read or write.  Fills *header from
// service.db's header.  Returns 0, SERVICE_STORE_IS_LINK,
// SERVICE_STORE_NOT_OWNED, SERVICE_STORE_NOT_PRIVATE, SERVICE_STORE_FAILED
// (not a regular file) or another status.
struct StoreHeader {
    bool walMode;       // a write-ahead-log database already
    unsigned pageSize;  // 0: a new store
};

ISDSC_STATUS prepareStoreFiles(int directory, StoreHeader *header);

#endif  // SERVICE_LIBISCSI_STORE_FILES_H
