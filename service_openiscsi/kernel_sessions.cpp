#include "service_openiscsi/kernel_sessions.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

#include "service_openiscsi/host_paths.h"
#include "service_support/text_conversion.h"

namespace {

const char kSessions[] = "/sys/class/iscsi_session";
const char kConnections[] = "/sys/class/iscsi_connection";

// Reads "<prefix><digits>" (the whole name) into *number.
bool numberAfter(const char *name, const char *prefix, unsigned long *number)
{
    size_t length = strlen(prefix);
    if (strncmp(name, prefix, length) != 0)
        return false;
    return parseDecimal(name + length, strlen(name + length), 0xffffffffUL, number);
}

bool sameAddress(const char *a, const char *b)
{
    unsigned char first[16], second[16];
    if (inet_pton(AF_INET, a, first) == 1 && inet_pton(AF_INET, b, second) == 1)
        return memcmp(first, second, 4) == 0;
    if (inet_pton(AF_INET6, a, first) == 1 && inet_pton(AF_INET6, b, second) == 1)
        return memcmp(first, second, 16) == 0;
    return strcmp(a, b) == 0;
}

// The connection of session sid: its number, persistent address and port.
bool readConnection(unsigned long sid, KernelSession *session)
{
    DIR *dir = openHostFolder(kConnections);
    if (dir == nullptr)
        return false;
    char prefix[48];
    snprintf(prefix, sizeof prefix, "connection%lu:", sid);
    bool found = false;
    while (!found) {
        dirent *entry = readdir(dir);
        if (entry == nullptr)
            break;
        unsigned long cid = 0;
        if (!numberAfter(entry->d_name, prefix, &cid))
            continue;
        char path[512], port[16];
        unsigned long portNumber = 0;
        snprintf(path, sizeof path, "%s/%s/persistent_address", kConnections, entry->d_name);
        bool address = readHostLine(path, session->address, sizeof session->address);
        snprintf(path, sizeof path, "%s/%s/persistent_port", kConnections, entry->d_name);
        found = address && readHostLine(path, port, sizeof port) &&
                parseDecimal(port, strlen(port), 65535, &portNumber) && portNumber > 0;
        session->cid = cid;
        session->port = static_cast<unsigned>(portNumber);
    }
    closedir(dir);
    return found;
}

// Reads sessionN's attributes; false when the session cannot be read whole.
bool readSession(unsigned long sid, KernelSession *session)
{
    memset(session, 0, sizeof *session);
    session->sid = sid;
    char path[256];
    snprintf(path, sizeof path, "%s/session%lu/targetname", kSessions, sid);
    if (!readHostLine(path, session->target, sizeof session->target))
        return false;
    snprintf(path, sizeof path, "%s/session%lu/ifacename", kSessions, sid);
    if (!readHostLine(path, session->iface, sizeof session->iface))
        session->iface[0] = 0;
    snprintf(path, sizeof path, "%s/session%lu/targetalias", kSessions, sid);
    if (!readHostLine(path, session->alias, sizeof session->alias) ||
        !isReadableText(session->alias))
        session->alias[0] = 0;
    return readConnection(sid, session);
}

// Visits the readable sessions; keeps in *out the one with the highest sid
// for which matches(session, context) holds.
bool newestSession(bool (*matches)(const KernelSession &, const void *), const void *context,
                   KernelSession *out)
{
    DIR *dir = openHostFolder(kSessions);
    if (dir == nullptr)
        return false;
    bool found = false;
    KernelSession *candidate = static_cast<KernelSession *>(malloc(sizeof(KernelSession)));
    while (candidate != nullptr) {
        dirent *entry = readdir(dir);
        if (entry == nullptr)
            break;
        unsigned long sid = 0;
        if (!numberAfter(entry->d_name, "session", &sid) || (found && sid <= out->sid))
            continue;
        if (readSession(sid, candidate) && matches(*candidate, context)) {
            *out = *candidate;
            found = true;
        }
    }
    free(candidate);
    closedir(dir);
    return found;
}

struct SessionQuery {
    const char *target;
    const char *address;  // null: any portal
    unsigned port;
    const char *iface;  // null: any iface
};

bool matchesQuery(const KernelSession &session, const void *context)
{
    const SessionQuery *query = static_cast<const SessionQuery *>(context);
    return strcmp(session.target, query->target) == 0 &&
           (query->address == nullptr ||
            (session.port == query->port && sameAddress(session.address, query->address))) &&
           (query->iface == nullptr || strcmp(session.iface, query->iface) == 0);
}

unsigned long long bootTag()
{
    char text[64];
    if (!readHostLine("/proc/sys/kernel/random/boot_id", text, sizeof text))
        return 0;
    unsigned long long tag = 0;
    int digits = 0;
    for (const char *c = text; *c != 0 && digits < 16; c++) {
        int value = *c >= '0' && *c <= '9'   ? *c - '0'
                    : *c >= 'a' && *c <= 'f' ? *c - 'a' + 10
                    : *c >= 'A' && *c <= 'F' ? *c - 'A' + 10
                                             : -1;
        if (value < 0)
            continue;
        tag = tag << 4 | static_cast<unsigned long long>(value);
        digits++;
    }
    return tag;
}

}  // namespace

bool findKernelSession(const char *target, const char *address, unsigned port, const char *iface,
                       KernelSession *out)
{
    SessionQuery query = {target, address, port, iface};
    return newestSession(matchesQuery, &query, out);
}

bool findSessionOfTarget(const char *target, KernelSession *out)
{
    SessionQuery query = {target, nullptr, 0, nullptr};
    return newestSession(matchesQuery, &query, out);
}

void sessionIdentifiers(const KernelSession &session, ISCSI_UNIQUE_SESSION_ID *sessionId,
                        ISCSI_UNIQUE_CONNECTION_ID *connectionId)
{
    ULONGLONG boot = bootTag();
    if (sessionId != nullptr) {
        sessionId->AdapterUnique = boot;
        sessionId->AdapterSpecific = session.sid;
    }
    if (connectionId != nullptr) {
        connectionId->AdapterUnique = boot;
        connectionId->AdapterSpecific = static_cast<ULONGLONG>(session.sid) << 32 | session.cid;
    }
}
