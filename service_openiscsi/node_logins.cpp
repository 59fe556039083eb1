#include "service_openiscsi/node_logins.h"

#include <cstring>

#include "service_openiscsi/host_checks.h"
#include "service_openiscsi/iscsiadm_run.h"
#include "service_openiscsi/kernel_sessions.h"
#include "service_openiscsi/node_records.h"
#include "service_openiscsi/openiscsi_status.h"

namespace {

// The CHAP settings this process last stated on a record, so that the
// immediate login after a persistent one does not state them again.
struct StatedChap {
    bool valid;
    char target[OPENISCSI_NAME_BYTES];
    char address[OPENISCSI_ADDRESS_BYTES];
    unsigned port;
    char iface[OPENISCSI_IFACE_BYTES];
    ChapCredentials chap;
};
StatedChap gStated;

bool sameStatement(const char *target, const OpeniscsiPortal &portal, const char *iface,
                   const ChapCredentials &chap)
{
    return gStated.valid && strcmp(gStated.target, target) == 0 &&
           strcmp(gStated.address, portal.address) == 0 && gStated.port == portal.port &&
           strcmp(gStated.iface, iface != nullptr ? iface : "") == 0 &&
           strcmp(gStated.chap.username, chap.username) == 0 &&
           strcmp(gStated.chap.password, chap.password) == 0;
}

void noteStatement(const char *target, const OpeniscsiPortal &portal, const char *iface,
                   const ChapCredentials &chap)
{
    forgetStatedChap();
    if (strlen(target) >= sizeof gStated.target ||
        strlen(portal.address) >= sizeof gStated.address ||
        (iface != nullptr && strlen(iface) >= sizeof gStated.iface))
        return;
    strcpy(gStated.target, target);
    strcpy(gStated.address, portal.address);
    gStated.port = portal.port;
    strcpy(gStated.iface, iface != nullptr ? iface : "");
    gStated.chap = chap;
    gStated.valid = true;
    noteNodeChap(target, portal, iface, chap.username);
}

// Sets settings[count] on the record, making it first when it is missing.
ISDSC_STATUS updateRecord(const char *target, const OpeniscsiPortal &portal, const char *iface,
                          const NodeSettingValue *settings, size_t count)
{
    IscsiadmCommand command;
    if (!buildNodeUpdates(&command, target, portal, iface, settings, count))
        return OPENISCSI_ARGUMENT_REFUSED;
    IscsiadmCommand again = command;
    ISDSC_STATUS status = runIscsiadmQuietly(&command);
    if (status == OPENISCSI_NOTHING_FOUND) {
        IscsiadmCommand make;
        if (!iscsidListening())
            status = OPENISCSI_DAEMON_UNREACHABLE;
        else if (!buildNodeNew(&make, target, portal, OPENISCSI_NO_TAG, iface))
            status = OPENISCSI_ARGUMENT_REFUSED;
        else
            status = runIscsiadmQuietly(&make);
        if (status == ISDSC_SUCCESS) {
            forgetNodeRecords();
            status = runIscsiadmQuietly(&again);
        }
    }
    memset(&again, 0, sizeof again);
    return status;
}

size_t chapSettings(const ChapCredentials &chap, NodeSettingValue *settings)
{
    settings[0] = {NODE_AUTHMETHOD, "CHAP"};
    settings[1] = {NODE_USERNAME, chap.username};
    settings[2] = {NODE_PASSWORD, chap.password};
    return 3;
}

}  // namespace

ISDSC_STATUS makePersistentLogin(const char *target, const OpeniscsiPortal &portal,
                                 const char *iface, const ChapCredentials &chap)
{
    NodeSettingValue settings[SETTINGS_PER_UPDATE];
    settings[0] = {NODE_STARTUP, "automatic"};
    size_t count = 1;
    if (chap.enabled)
        count += chapSettings(chap, settings + 1);
    ISDSC_STATUS status = updateRecord(target, portal, iface, settings, count);
    if (status == ISDSC_SUCCESS) {
        noteNodeStartup(target, portal, iface, STARTUP_AUTOMATIC);
        if (chap.enabled)
            noteStatement(target, portal, iface, chap);
    }
    return status;
}

ISDSC_STATUS loginNow(const char *target, const OpeniscsiPortal &portal, const char *iface,
                      const ChapCredentials &chap, ISCSI_UNIQUE_SESSION_ID *sessionId,
                      ISCSI_UNIQUE_CONNECTION_ID *connectionId)
{
    ISDSC_STATUS status = ISDSC_SUCCESS;
    if (chap.enabled && !sameStatement(target, portal, iface, chap)) {
        NodeSettingValue settings[SETTINGS_PER_UPDATE];
        size_t count = chapSettings(chap, settings);
        status = updateRecord(target, portal, iface, settings, count);
        if (status == ISDSC_SUCCESS)
            noteStatement(target, portal, iface, chap);
    }
    IscsiadmCommand command;
    if (status == ISDSC_SUCCESS && !buildLogin(&command, target, portal, iface))
        status = OPENISCSI_ARGUMENT_REFUSED;
    if (status == ISDSC_SUCCESS) {
        status = runIscsiadmQuietly(&command);
        if (status == OPENISCSI_NOTHING_FOUND) {
            // No record yet (a portal no discovery found): make it and log in.
            const NodeSettingValue keep = {NODE_STARTUP, "manual"};
            status = updateRecord(target, portal, iface, &keep, 1);
            if (status == ISDSC_SUCCESS && buildLogin(&command, target, portal, iface))
                status = runIscsiadmQuietly(&command);
        }
        if (status == OPENISCSI_TOOL_TIMED_OUT && buildLogout(&command, target, portal, iface))
            runIscsiadmQuietly(&command);
    }
    if (status == OPENISCSI_SESSION_EXISTS)
        status = ISDSC_SUCCESS;
    KernelSession session;
    if (status == ISDSC_SUCCESS) {
        if (findKernelSession(target, portal.address, portal.port, iface, &session))
            sessionIdentifiers(session, sessionId, connectionId);
        else
            status = OPENISCSI_SESSION_NOT_SEEN;
    }
    return status;
}

ISDSC_STATUS removePersistentLogin(const char *target, const OpeniscsiPortal &portal,
                                   const char *iface)
{
    const NodeRecordList *records = nullptr;
    ISDSC_STATUS status = knownNodeRecords(&records);
    if (status != ISDSC_SUCCESS)
        return status;
    bool persistent = false;
    for (size_t i = 0; i < records->count && !persistent; i++)
        persistent = recordMatches(records->records[i], target, portal, iface) &&
                     records->records[i].startup == STARTUP_AUTOMATIC;
    if (!persistent)
        return OPENISCSI_PERSISTENT_LOGIN_NOT_FOUND;
    IscsiadmCommand command;
    if (!buildNodeUpdate(&command, target, portal, iface, NODE_STARTUP, "manual"))
        return OPENISCSI_ARGUMENT_REFUSED;
    status = runIscsiadmQuietly(&command);
    if (status == ISDSC_SUCCESS)
        noteNodeStartup(target, portal, iface, STARTUP_MANUAL);
    return status;
}

void forgetStatedChap()
{
    memset(&gStated, 0, sizeof gStated);
}
