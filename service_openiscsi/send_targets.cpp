#include "service_openiscsi/send_targets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service_openiscsi/host_checks.h"
#include "service_openiscsi/iscsiadm_lists.h"
#include "service_openiscsi/iscsiadm_run.h"
#include "service_openiscsi/kernel_sessions.h"
#include "service_openiscsi/node_records.h"
#include "service_openiscsi/openiscsi_status.h"

namespace {

// The portals this process discovered through: the target list is not
// asked of them again in the same run.
const size_t kDiscoveredMax = 64;
struct DiscoveredPortal {
    char address[OPENISCSI_ADDRESS_BYTES];
    unsigned port;
};
DiscoveredPortal gDiscovered[kDiscoveredMax];
size_t gDiscoveredCount = 0;

bool wasDiscovered(const OpeniscsiPortal &portal)
{
    for (size_t i = 0; i < gDiscoveredCount; i++)
        if (gDiscovered[i].port == portal.port &&
            strcmp(gDiscovered[i].address, portal.address) == 0)
            return true;
    return false;
}

void noteDiscovered(const OpeniscsiPortal &portal, bool discovered)
{
    for (size_t i = 0; i < gDiscoveredCount; i++) {
        if (gDiscovered[i].port != portal.port ||
            strcmp(gDiscovered[i].address, portal.address) != 0)
            continue;
        if (!discovered)
            gDiscovered[i] = gDiscovered[--gDiscoveredCount];
        return;
    }
    if (discovered && gDiscoveredCount < kDiscoveredMax &&
        strlen(portal.address) < OPENISCSI_ADDRESS_BYTES) {
        strcpy(gDiscovered[gDiscoveredCount].address, portal.address);
        gDiscovered[gDiscoveredCount++].port = portal.port;
    }
}

// iscsiadm's answers for a discovery record that is not there.
bool isMissingRecord(ISDSC_STATUS status)
{
    return status == OPENISCSI_RECORDS_FAILED || status == OPENISCSI_NOTHING_FOUND;
}

ISDSC_STATUS stateDiscoveryChap(const OpeniscsiPortal &portal, const ChapCredentials &chap)
{
    const DiscoverySettingValue settings[] = {{DISCOVERY_AUTHMETHOD, "CHAP"},
                                              {DISCOVERY_USERNAME, chap.username},
                                              {DISCOVERY_PASSWORD, chap.password}};
    IscsiadmCommand command;
    if (!buildDiscoveryUpdates(&command, portal, settings, 3))
        return OPENISCSI_ARGUMENT_REFUSED;
    return runIscsiadmQuietly(&command);
}

ISDSC_STATUS discover(const OpeniscsiPortal &portal, const char *iface)
{
    IscsiadmCommand command;
    if (!buildDiscover(&command, portal, iface))
        return OPENISCSI_ARGUMENT_REFUSED;
    ISDSC_STATUS status = runIscsiadmQuietly(&command);
    if (status == ISDSC_SUCCESS) {
        noteDiscovered(portal, true);
        forgetNodeRecords();
    }
    return status;
}

// A node record that goes with its discovery record and is made again.
struct KeptRecord {
    NodeRecordFields fields;
    char password[OPENISCSI_CHAP_BYTES];  // in the clear: wiped with the list
};

bool foundThrough(const NodeRecordFields &record, const OpeniscsiPortal &portal)
{
    return strcmp(record.discoveryType, "send_targets") == 0 &&
           strcmp(record.discoveryAddress, portal.address) == 0 &&
           record.discoveryPort == portal.port;
}

bool inUse(const NodeRecordFields &record)
{
    KernelSession session;
    return findKernelSession(record.name, record.address, record.port,
                             record.ifaceName[0] != 0 ? record.ifaceName : nullptr, &session);
}

// The record's CHAP secret, read with iscsiadm's --show.
ISDSC_STATUS readSecret(const NodeRecordFields &record, char *password, size_t room)
{
    IscsiadmCommand command;
    OpeniscsiPortal portal = {record.address, record.port};
    if (!buildNodeShowSecrets(&command, record.name, portal,
                              record.ifaceName[0] != 0 ? record.ifaceName : nullptr))
        return OPENISCSI_ARGUMENT_REFUSED;
    ChildResult run;
    ISDSC_STATUS status = runIscsiadm(command, 0, &run);
    if (status == ISDSC_SUCCESS &&
        findRecordField(run.out.data, run.out.length, "node.session.auth.password", password,
                        room) != FIELD_FOUND)
        status = OPENISCSI_OUTPUT_UNREADABLE;
    releaseRun(&run);
    return status;
}

// The records found through portal that must outlive its discovery record.
ISDSC_STATUS collectKept(const OpeniscsiPortal &portal, KeptRecord **kept, size_t *count)
{
    *kept = nullptr;
    *count = 0;
    forgetNodeRecords();
    const NodeRecordList *records = nullptr;
    ISDSC_STATUS status = knownNodeRecords(&records);
    if (status != ISDSC_SUCCESS)
        return status;
    *kept = static_cast<KeptRecord *>(calloc(records->count + 1, sizeof(KeptRecord)));
    if (*kept == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    for (size_t i = 0; i < records->count && status == ISDSC_SUCCESS; i++) {
        const NodeRecordFields &record = records->records[i];
        if (!foundThrough(record, portal) ||
            (record.startup != STARTUP_AUTOMATIC && !inUse(record)))
            continue;
        KeptRecord &entry = (*kept)[(*count)++];
        entry.fields = record;
        if (record.passwordSet)
            status = readSecret(record, entry.password, sizeof entry.password);
    }
    return status;
}

// Makes the record again, with the settings it had.
ISDSC_STATUS makeAgain(const KeptRecord &kept)
{
    const NodeRecordFields &record = kept.fields;
    const char *iface = record.ifaceName[0] != 0 ? record.ifaceName : nullptr;
    OpeniscsiPortal portal = {record.address, record.port};
    IscsiadmCommand command;
    if (!buildNodeNew(&command, record.name, portal, record.tag, iface))
        return OPENISCSI_ARGUMENT_REFUSED;
    ISDSC_STATUS status = runIscsiadmQuietly(&command);
    // Found through another discovery record too: it is still there.
    if (status == OPENISCSI_SESSION_EXISTS)
        status = ISDSC_SUCCESS;
    NodeSettingValue settings[SETTINGS_PER_UPDATE];
    size_t count = 0;
    settings[count++] = {NODE_STARTUP,
                         record.startup == STARTUP_AUTOMATIC ? "automatic" : "manual"};
    if (strcmp(record.authMethod, "CHAP") == 0 || strcmp(record.authMethod, "None") == 0)
        settings[count++] = {NODE_AUTHMETHOD, record.authMethod};
    if (record.username[0] != 0)
        settings[count++] = {NODE_USERNAME, record.username};
    if (record.passwordSet)
        settings[count++] = {NODE_PASSWORD, kept.password};
    if (status == ISDSC_SUCCESS &&
        !buildNodeUpdates(&command, record.name, portal, iface, settings, count))
        status = OPENISCSI_ARGUMENT_REFUSED;
    if (status == ISDSC_SUCCESS)
        status = runIscsiadmQuietly(&command);
    memset(&command, 0, sizeof command);
    return status;
}

}  // namespace

ISDSC_STATUS addSendTargets(const OpeniscsiPortal &portal, const char *iface,
                            const ChapCredentials &chap)
{
    // The record, and the discovery's node records, are made with
    // iscsid.conf's settings only while iscsid answers.
    if (!iscsidListening())
        return OPENISCSI_DAEMON_UNREACHABLE;
    if (chap.enabled) {
        ISDSC_STATUS status = stateDiscoveryChap(portal, chap);
        if (isMissingRecord(status)) {
            IscsiadmCommand command;
            if (!buildDiscoveryNew(&command, portal))
                return OPENISCSI_ARGUMENT_REFUSED;
            status = runIscsiadmQuietly(&command);
            if (status == ISDSC_SUCCESS)
                status = stateDiscoveryChap(portal, chap);
        }
        if (status != ISDSC_SUCCESS)
            return status;
    }
    return discover(portal, iface);
}

ISDSC_STATUS removeSendTargets(const OpeniscsiPortal &portal)
{
    KeptRecord *kept = nullptr;
    size_t count = 0;
    ISDSC_STATUS status = collectKept(portal, &kept, &count);
    if (status == ISDSC_SUCCESS && count > 0 && !iscsidListening())
        status = OPENISCSI_DAEMON_UNREACHABLE;
    IscsiadmCommand command;
    if (status == ISDSC_SUCCESS && !buildDiscoveryDelete(&command, portal))
        status = OPENISCSI_ARGUMENT_REFUSED;
    if (status == ISDSC_SUCCESS) {
        status = runIscsiadmQuietly(&command);
        if (status == OPENISCSI_RECORDS_FAILED)
            status = OPENISCSI_PORTAL_NOT_FOUND;
    }
    if (status == ISDSC_SUCCESS) {
        noteDiscovered(portal, false);
        forgetNodeRecords();
        for (size_t i = 0; i < count; i++)
            if (makeAgain(kept[i]) != ISDSC_SUCCESS)
                status = OPENISCSI_RECORDS_NOT_KEPT;
    }
    if (kept != nullptr)
        memset(kept, 0, count * sizeof(KeptRecord));
    free(kept);
    return status;
}

ISDSC_STATUS rediscoverAll()
{
    IscsiadmCommand command;
    buildDiscoveryList(&command);
    ChildResult run;
    ISDSC_STATUS status = runIscsiadm(command, 0, &run);
    static DiscoveryEntry entries[kDiscoveredMax * 4];
    ListSummary summary = {0, 0, false};
    if (status == ISDSC_SUCCESS)
        parseDiscoveryList(run.out.data, run.out.length, entries,
                           sizeof entries / sizeof entries[0], &summary);
    releaseRun(&run);
    if (status == OPENISCSI_NOTHING_FOUND)
        return ISDSC_SUCCESS;
    if (status != ISDSC_SUCCESS)
        return status;
    bool reachable = iscsidListening();
    for (size_t i = 0; i < summary.count && reachable; i++) {
        OpeniscsiPortal portal = {entries[i].portal.address, entries[i].portal.port};
        if (strcmp(entries[i].type, "sendtargets") == 0 && !wasDiscovered(portal))
            discover(portal, nullptr);
    }
    return ISDSC_SUCCESS;
}

void forgetDiscoveredPortals()
{
    gDiscoveredCount = 0;
}
