#include "service_openiscsi/target_information.h"

#include <cstdlib>
#include <cstring>

#include "service_openiscsi/initiator_instances.h"
#include "service_openiscsi/kernel_sessions.h"
#include "service_openiscsi/openiscsi_status.h"
#include "service_support/boundary_arguments.h"
#include "service_support/iscsi_names.h"
#include "service_support/portal_text.h"
#include "service_support/support_status.h"
#include "service_support/text_conversion.h"

namespace {

// The discovery mechanism text of a record; false for one no send-targets
// discovery found (a record made by hand).
bool mechanismOf(const NodeRecordFields &record, char *text, size_t room)
{
    return strcmp(record.discoveryType, "send_targets") == 0 && record.discoveryAddress[0] != 0 &&
           record.discoveryPort != 0 && isReadableText(record.discoveryAddress) &&
           formatDiscoveryMechanism(record.discoveryAddress,
                                    static_cast<USHORT>(record.discoveryPort), text, room);
}

// The records of target (through mechanism, unless null) with an address
// that may be handed back.
bool selected(const NodeRecordFields &record, const char *target, const char *mechanism)
{
    if (strcmp(record.name, target) != 0 || !isReadableText(record.address))
        return false;
    char text[MECHANISM_BYTES];
    return mechanism == nullptr ||
           (mechanismOf(record, text, sizeof text) && strcmp(text, mechanism) == 0);
}

bool appendMechanisms(const NodeRecordList &records, const char *target, Answer *answer)
{
    bool any = false;
    bool ok = true;
    for (size_t i = 0; i < records.count && ok; i++) {
        char text[MECHANISM_BYTES];
        if (!selected(records.records[i], target, nullptr) ||
            !mechanismOf(records.records[i], text, sizeof text))
            continue;
        bool seen = false;
        for (size_t j = 0; j < i && !seen; j++) {
            char earlier[MECHANISM_BYTES];
            seen = selected(records.records[j], target, nullptr) &&
                   mechanismOf(records.records[j], earlier, sizeof earlier) &&
                   strcmp(earlier, text) == 0;
        }
        if (!seen) {
            ok = appendWideText(answer, text);
            any = true;
        }
    }
    return ok && (!any || appendWideText(answer, ""));
}

bool appendPortalGroups(const NodeRecordList &records, const char *target, const char *mechanism,
                        Answer *answer)
{
    DiscoveryList portals = {nullptr, 0, 0};
    bool ok = true;
    for (size_t i = 0; i < records.count && ok; i++) {
        const NodeRecordFields &record = records.records[i];
        if (!selected(record, target, mechanism) || strlen(record.address) >= PORTAL_ADDRESS_BYTES)
            continue;
        DiscoveryRecord portal;
        memset(&portal, 0, sizeof portal);
        strcpy(portal.address, record.address);
        portal.socket = static_cast<USHORT>(record.port);
        // A record made by hand has no tag: its portal stands in group 0.
        portal.tag = record.tag >= 0 ? static_cast<ULONG>(record.tag) : 0;
        // Several ifaces give several records of one portal.
        bool seen = false;
        for (size_t j = 0; j < portals.count && !seen; j++)
            seen = portals.records[j].socket == portal.socket &&
                   portals.records[j].tag == portal.tag &&
                   strcmp(portals.records[j].address, portal.address) == 0;
        if (!seen)
            ok = appendDiscoveryRecord(&portals, portal);
    }
    ok = ok && buildPortalGroups(portals, answer);
    freeDiscoveryList(&portals);
    return ok;
}

const char *ifaceOf(const NodeRecordFields &record)
{
    return record.ifaceName[0] != 0 ? record.ifaceName : DEFAULT_IFACE;
}

bool appendInstances(const NodeRecordList &records, const char *target, const char *mechanism,
                     Answer *answer)
{
    bool ok = true;
    bool hasDefault = false;
    for (size_t i = 0; i < records.count; i++)
        hasDefault = hasDefault || (selected(records.records[i], target, mechanism) &&
                                    strcmp(ifaceOf(records.records[i]), DEFAULT_IFACE) == 0);
    if (hasDefault)
        ok = appendInstance(answer, DEFAULT_IFACE);
    for (size_t i = 0; i < records.count && ok; i++) {
        const NodeRecordFields &record = records.records[i];
        if (!selected(record, target, mechanism) || strcmp(ifaceOf(record), DEFAULT_IFACE) == 0)
            continue;
        bool seen = false;
        for (size_t j = 0; j < i && !seen; j++)
            seen = selected(records.records[j], target, mechanism) &&
                   strcmp(ifaceOf(records.records[j]), ifaceOf(record)) == 0;
        if (!seen)
            ok = appendInstance(answer, ifaceOf(record));
    }
    return ok && appendWideText(answer, "");
}

bool appendLoginOptions(const NodeRecordFields &record, Answer *answer)
{
    LoginSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.informationSpecified = ISCSI_LOGIN_OPTIONS_AUTH_TYPE;
    if (strcmp(record.authMethod, "CHAP") == 0) {
        settings.authType = ISCSI_CHAP_AUTH_TYPE;
        size_t length = strlen(record.username);
        if (length > 0 && length <= LOGIN_SECRET_BYTES) {
            settings.informationSpecified |= ISCSI_LOGIN_OPTIONS_USERNAME;
            settings.usernameLength = static_cast<ULONG>(length);
            memcpy(settings.username, record.username, length);
        }
        if (record.passwordSet)
            settings.informationSpecified |= ISCSI_LOGIN_OPTIONS_PASSWORD;
    }
    return buildLoginOptions(settings, answer);
}

}  // namespace

ISDSC_STATUS answerTargetInformation(const NodeRecordList &records, const char *target,
                                     const char *mechanism, TARGET_INFORMATION_CLASS infoClass,
                                     Answer *answer)
{
    const NodeRecordFields *first = nullptr;
    bool known = false;
    for (size_t i = 0; i < records.count && first == nullptr; i++) {
        known = known || selected(records.records[i], target, nullptr);
        if (selected(records.records[i], target, mechanism))
            first = &records.records[i];
    }
    if (!known || !isAcceptableTargetName(target))
        return OPENISCSI_TARGET_NOT_FOUND;
    if (first == nullptr)
        return OPENISCSI_MECHANISM_NOT_FOUND;
    bool ok = true;
    switch (infoClass) {
    case DiscoveryMechanisms:
        ok = appendMechanisms(records, target, answer);
        break;
    case ProtocolType:
        ok = appendUlong(answer, ISCSI_TCP_PROTOCOL_TYPE);
        break;
    case TargetAlias: {
        KernelSession session;
        ok = appendWideText(answer, findSessionOfTarget(target, &session) ? session.alias : "");
        break;
    }
    case PortalGroups:
        ok = appendPortalGroups(records, target, mechanism, answer);
        break;
    case InitiatorName:
        ok = appendInstances(records, target, mechanism, answer);
        break;
    case TargetFlags:
        ok = appendUlong(answer, 0);
        break;
    case LoginOptions:
        ok = appendLoginOptions(*first, answer);
        break;
    case PersistentTargetMappings:
        return SERVICE_NOT_SUPPORTED;
    }
    return ok ? ISDSC_SUCCESS : ISDSC_ERROR_NOT_ENOUGH_MEMORY;
}

bool appendTargetNames(const NodeRecordList &records, Answer *answer)
{
    bool ok = true;
    for (size_t i = 0; i < records.count && ok; i++) {
        const char *name = records.records[i].name;
        // Sorted by name: a name repeats only right after itself.
        if ((i > 0 && strcmp(records.records[i - 1].name, name) == 0) ||
            !isAcceptableTargetName(name))
            continue;
        ok = appendWideText(answer, name);
    }
    return ok && appendWideText(answer, "");
}
