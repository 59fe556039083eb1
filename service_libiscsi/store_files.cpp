#include "service_libiscsi/store_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service_libiscsi/failure_mapping.h"
#include "service_libiscsi/service_status.h"

namespace {

const char *const kCompanionFiles[] = {STORE_FILE_NAME "-wal", STORE_FILE_NAME "-shm"};

ISDSC_STATUS checkFile(const struct stat &info)
{
    if (S_ISLNK(info.st_mode))
        return SERVICE_STORE_IS_LINK;
    if (!S_ISREG(info.st_mode))
        return SERVICE_STORE_FAILED;
    if (info.st_uid != geteuid())
        return SERVICE_STORE_NOT_OWNED;
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return SERVICE_STORE_NOT_PRIVATE;
    return ISDSC_SUCCESS;
}

// Checks the file `name` of directory, if it exists, as it is (a link is
// not followed).
ISDSC_STATUS checkExistingFile(int directory, const char *name, bool *exists)
{
    struct stat info;
    if (fstatat(directory, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        *exists = false;
        return errno == ENOENT ? ISDSC_SUCCESS : statusForStoreFileErrno(errno);
    }
    *exists = true;
    return checkFile(info);
}

// Opens service.db, creating it when missing.  Returns 0 with *descriptor.
ISDSC_STATUS openDatabaseFile(int directory, int *descriptor)
{
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    // Twice at most: another run may create the file between the check and
    // the creation.
    for (int attempt = 0; attempt < 2; attempt++) {
        bool exists = false;
        ISDSC_STATUS status = checkExistingFile(directory, STORE_FILE_NAME, &exists);
        if (status != ISDSC_SUCCESS)
            return status;
        int opened =
            openat(directory, STORE_FILE_NAME, exists ? flags : flags | O_CREAT | O_EXCL, 0600);
        if (opened < 0 && !exists && errno == EEXIST)
            continue;
        if (opened < 0)
            return statusForStoreFileErrno(errno);
        struct stat info;
        if (!exists && fchmod(opened, 0600) != 0)
            status = statusForStoreFileErrno(errno);
        else if (fstat(opened, &info) != 0)
            status = statusForStoreFileErrno(errno);
        else
            status = checkFile(info);
        if (status != ISDSC_SUCCESS) {
            close(opened);
            return status;
        }
        *descriptor = opened;
        return ISDSC_SUCCESS;
    }
    return SERVICE_STORE_FAILED;
}

// What the database's header tells: a database in write-ahead-log mode has
// 2 in bytes 18 and 19; bytes 16 and 17 hold the page size (1: 65536).  A
// new, empty file has no header yet.
void readHeader(int descriptor, StoreHeader *header)
{
    unsigned char bytes[20];
    header->walMode = false;
    header->pageSize = 0;
    if (pread(descriptor, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return;
    header->walMode = bytes[18] == 2 && bytes[19] == 2;
    unsigned size = static_cast<unsigned>(bytes[16]) << 8 | bytes[17];
    header->pageSize = size == 1 ? 65536u : size;
}

}  // namespace

ISDSC_STATUS prepareStoreFiles(int directory, StoreHeader *header)
{
    int database = -1;
    ISDSC_STATUS status = openDatabaseFile(directory, &database);
    if (status != ISDSC_SUCCESS)
        return status;
    readHeader(database, header);
    // Closed before SQLite opens the file: a second descriptor of this
    // process on the database would drop SQLite's locks when it is closed.
    close(database);
    for (const char *name : kCompanionFiles) {
        bool exists = false;
        status = checkExistingFile(directory, name, &exists);
        if (status != ISDSC_SUCCESS)
            return status;
    }
    return ISDSC_SUCCESS;
}
