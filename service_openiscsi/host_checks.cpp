#include "service_openiscsi/host_checks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>

#include "service_openiscsi/host_paths.h"
#include "service_openiscsi/openiscsi_status.h"

namespace {

// A unix socket that listens has the flag __SO_ACCEPTCON in /proc/net/unix.
const unsigned long kAcceptingFlag = 0x10000;
const char kIscsidSocket[] = "@ISCSIADM_ABSTRACT_NAMESPACE";

// Calls visit(line) for each line of the host's file, read in
// chunks (modules.dep and /proc/net/unix may be long); lines longer than
// the buffer are cut.  Stops when visit returns true; returns whether one
// did.  False too when the file cannot be opened.
bool anyLine(const char *path, bool (*visit)(const char *line))
{
    char full[512];
    if (!hostPath(path, full, sizeof full))
        return false;
    FILE *file = fopen(full, "re");
    if (file == nullptr)
        return false;
    char line[1024];
    bool found = false;
    while (!found && fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\n")] = 0;
        found = visit(line);
    }
    fclose(file);
    return found;
}

// "kernel/drivers/scsi/iscsi_tcp.ko[.xz]: deps..." names the module file.
bool listsIscsiTcp(const char *line)
{
    const char *colon = strchr(line, ':');
    if (colon == nullptr)
        return false;
    const char *name = colon;
    while (name > line && name[-1] != '/')
        name--;
    static const char kModule[] = "iscsi_tcp.ko";
    size_t length = static_cast<size_t>(colon - name);
    return length >= strlen(kModule) && strncmp(name, kModule, strlen(kModule)) == 0 &&
           (length == strlen(kModule) || name[strlen(kModule)] == '.');
}

// "Num RefCount Protocol Flags Type St Inode Path"
bool isIscsidListener(const char *line)
{
    char path[128];
    unsigned long flags = 0;
    if (sscanf(line, "%*s %*s %*s %lx %*s %*s %*s %127s", &flags, path) != 2)
        return false;
    return (flags & kAcceptingFlag) != 0 && strcmp(path, kIscsidSocket) == 0;
}

}  // namespace

ISDSC_STATUS tcpTransportStatus()
{
    if (hostPathExists("/sys/module/iscsi_tcp") || hostPathExists("/sys/class/iscsi_transport/tcp"))
        return ISDSC_SUCCESS;
    struct utsname system {};
    char dependencies[sizeof system.release + 64];
    if (uname(&system) != 0 ||
        snprintf(dependencies, sizeof dependencies, "/lib/modules/%s/modules.dep",
                 system.release) >= static_cast<int>(sizeof dependencies) ||
        !anyLine(dependencies, listsIscsiTcp))
        return OPENISCSI_NO_TCP_TRANSPORT;
    char disabled[8];
    if (readHostLine("/proc/sys/kernel/modules_disabled", disabled, sizeof disabled) &&
        strcmp(disabled, "0") != 0)
        return OPENISCSI_MODULES_DISABLED;
    return ISDSC_SUCCESS;
}

ISDSC_STATUS availabilityFrom(bool iscsiadmInstalled, bool root)
{
    if (!iscsiadmInstalled)
        return OPENISCSI_TOOL_NOT_INSTALLED;
    if (!root)
        return OPENISCSI_NEEDS_ROOT;
    return tcpTransportStatus();
}

bool iscsidListening()
{
    return anyLine("/proc/net/unix", isIscsidListener);
}
