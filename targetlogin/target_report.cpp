// The report on one discovered target: seven questions to the service, the
// portals recorded in the PortalTable, then the login pass.
//
// Everything the service returns is read only inside the bytes it returned:
// texts end at the end of the data when they have no terminator there, and
// counts that claim more than the data holds end the walk at its end.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/report_output.h"
#include "common/status_text.h"
#include "common/wide_text.h"
#include "targetlogin/targetlogin.h"

PortalTable portalTable;

namespace {

const ULONG kPortalRecordBytes = sizeof(ISCSI_TARGET_PORTALW);
const size_t kAddressBytes = MAX_ISCSI_PORTAL_ADDRESS_LEN * sizeof(WCHAR16);

ULONG readULong(const unsigned char *at)
{
    ULONG value;
    memcpy(&value, at, sizeof value);
    return value;
}

// A terminated copy of the first text in data[size]; the text ends at the
// first 0 character or at the last whole character of the data.  Null when
// the copy cannot be allocated.  The caller frees it.
WCHAR16 *copyFirstText(const unsigned char *data, ULONG size)
{
    size_t chars = size / sizeof(WCHAR16);
    size_t length = 0;
    while (length < chars) {
        WCHAR16 ch;
        memcpy(&ch, data + length * sizeof(WCHAR16), sizeof ch);
        if (ch == 0)
            break;
        length++;
    }
    WCHAR16 *copy = static_cast<WCHAR16 *>(malloc((length + 1) * sizeof(WCHAR16)));
    if (copy == nullptr)
        return nullptr;
    if (length > 0)
        memcpy(copy, data, length * sizeof(WCHAR16));
    copy[length] = 0;
    return copy;
}

// Prints one portal record and records it while the table has room.
void reportPortal(const unsigned char *record, int *recorded)
{
    // Both texts are printed no further than their 256-character fields.
    ISCSI_TARGET_PORTALW portal;
    memcpy(&portal, record, sizeof portal);
    reportPrintf("            Address and Socket    : %.*ws %d\n"
                 "            Symbolic Name         : %.*ws\n",
                 MAX_ISCSI_PORTAL_ADDRESS_LEN, portal.Address, static_cast<int>(portal.Socket),
                 MAX_ISCSI_PORTAL_NAME_LEN, portal.SymbolicName);
    if (*recorded < PORTAL_TABLE_ENTRIES) {
        PortalTableEntry *entry = &portalTable.entries[*recorded];
        memcpy(entry->address, portal.Address, kAddressBytes);
        entry->address[MAX_ISCSI_PORTAL_ADDRESS_LEN] = 0;
        entry->socket = portal.Socket;
        (*recorded)++;
    }
}

// True when the record's user name lies wholly inside data[size].
bool userNameInsideData(const ISCSI_LOGIN_OPTIONS *options, const unsigned char *data, ULONG size)
{
    uintptr_t start = reinterpret_cast<uintptr_t>(data);
    uintptr_t name = reinterpret_cast<uintptr_t>(options->Username);
    return name >= start && name - start <= size &&
           options->UsernameLength <= size - (name - start);
}

// Renders the login options when the data holds one whole record in this
// build's layout.  A user name that does not lie inside the data is treated
// as absent: the label is printed, no rows.
void reportLoginOptions(const unsigned char *data, ULONG size)
{
    if (data == nullptr || size < sizeof(ISCSI_LOGIN_OPTIONS))
        return;
    ISCSI_LOGIN_OPTIONS options;
    memcpy(&options, data, sizeof options);
    if (options.Username != nullptr && !userNameInsideData(&options, data, size))
        options.Username = nullptr;
    options.Password = nullptr;  // never read
    printLoginOptions("    ", &options);
}

struct ReportState {
    const WCHAR16 *targetName;
    WCHAR16 *mechanism;          // copy of the first discovery mechanism
    WCHAR16 *initiatorInstance;  // copy of the first initiator name, or null
};

// Prints the answer to one class: data[size], or null and 0 when the service
// had no data.  Returns 0, or a status that the step reports as its failure.
typedef ISDSC_STATUS (*AnswerPrinter)(ReportState *state, const unsigned char *data, ULONG size);

ISDSC_STATUS printProtocolType(ReportState *, const unsigned char *data, ULONG size)
{
    bool tcp = size >= sizeof(ULONG) && readULong(data) == ISCSI_TCP_PROTOCOL_TYPE;
    reportPrintf("    Protocol Type        : %s\n", tcp ? "iSCSI TCP Protocol" : "Unknown");
    return ISDSC_SUCCESS;
}

ISDSC_STATUS printTargetAlias(ReportState *, const unsigned char *data, ULONG size)
{
    // No data is an empty alias.
    WCHAR16 *alias = copyFirstText(data, size);
    if (alias == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    reportPrintf("    Target Alias         : %ws\n", alias);
    free(alias);
    return ISDSC_SUCCESS;
}

ISDSC_STATUS printPortalGroups(ReportState *, const unsigned char *data, ULONG size)
{
    if (size >= sizeof(ULONG)) {
        ULONG groupCount = readULong(data);
        reportPrintf("    PortalGroups         : %d portal groups\n", static_cast<int>(groupCount));
        walkPortalGroups(groupCount, data + sizeof(ULONG), size);
    } else {
        // Without a whole group count there are no groups to walk.
        reportPrintf("    PortalGroups         : <This List Is Empty>\n");
    }
    return ISDSC_SUCCESS;
}

// Keeps a copy of the initiator name for the login pass.
ISDSC_STATUS printInitiatorName(ReportState *state, const unsigned char *data, ULONG size)
{
    if (size == 0) {
        reportPrintf("    Initiator Name       : <Empty>\n");
        return ISDSC_SUCCESS;
    }
    state->initiatorInstance = copyFirstText(data, size);
    if (state->initiatorInstance == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    reportPrintf("    Initiator Name       : %ws\n", state->initiatorInstance);
    return ISDSC_SUCCESS;
}

ISDSC_STATUS printTargetFlags(ReportState *, const unsigned char *data, ULONG size)
{
    if (size != sizeof(ULONG))
        return ISDSC_SUCCESS;
    ULONG flags = readULong(data);
    reportPrintf("    Target Flags         : 0x%x\n", flags);
    if (flags & ISCSI_TARGET_FLAG_HIDE_STATIC_TARGET)
        reportPrintf("                          Target is hidden until dynamically discovered\n");
    return ISDSC_SUCCESS;
}

ISDSC_STATUS printLoginOptionsAnswer(ReportState *, const unsigned char *data, ULONG size)
{
    reportLoginOptions(data, size);
    return ISDSC_SUCCESS;
}

// One question of the report: its class, the failure line that ends in the
// status text, whether a failure ends the report, and what prints the answer.
struct ReportStep {
    TARGET_INFORMATION_CLASS infoClass;
    const char *failureLine;
    bool failureEndsReport;
    AnswerPrinter print;
};

// The questions after the discovery mechanism, in the order of the report.
const ReportStep kReportSteps[] = {
    {ProtocolType, "    Protocol Type Failed : %ws\n", true, printProtocolType},
    {TargetAlias, "    Target Alias Failed  : %ws\n", false, printTargetAlias},
    {PortalGroups, "    Portal Groups Failed : %ws\n", true, printPortalGroups},
    {InitiatorName, "    Initiator List Failed: %ws\n", true, printInitiatorName},
    {TargetFlags, "    Target Flags Failed  : %ws\n", true, printTargetFlags},
    {LoginOptions, "    Login Options Failed : %ws\n", true, printLoginOptionsAnswer},
};

// Asks one question, prints the answer and frees it; a failed query, or a
// printer that fails, prints the step's failure line.  Returns the status.
ISDSC_STATUS reportStep(ReportState *state, const ReportStep &step)
{
    ULONG size = 0;
    unsigned char *data = nullptr;
    ISDSC_STATUS status =
        queryTargetInformation(state->targetName, state->mechanism, step.infoClass, &size, &data);
    if (status == ISDSC_SUCCESS)
        status = step.print(state, data, size);
    free(data);
    if (status != ISDSC_SUCCESS)
        printFailure(step.failureLine, status);
    return status;
}

// The report after the discovery mechanism; returns 0 when the login pass
// may run.
ISDSC_STATUS reportTargetDetails(ReportState *state)
{
    for (const ReportStep &step : kReportSteps) {
        ISDSC_STATUS status = reportStep(state, step);
        if (status != ISDSC_SUCCESS && step.failureEndsReport)
            return status;
    }
    return ISDSC_SUCCESS;
}

}  // namespace

void emptyPortalTable()
{
    memset(&portalTable, 0, sizeof portalTable);
}

ISDSC_STATUS queryTargetInformation(const WCHAR16 *targetName, const WCHAR16 *mechanism,
                                    TARGET_INFORMATION_CLASS infoClass, ULONG *dataSize,
                                    unsigned char **data)
{
    *dataSize = 0;
    *data = nullptr;
    // The platform's operation takes non-const texts; it does not write them.
    WCHAR16 *name = const_cast<WCHAR16 *>(targetName);
    WCHAR16 *discovery = const_cast<WCHAR16 *>(mechanism);

    ULONG size = 0;
    ISDSC_STATUS status = GetIScsiTargetInformationW(name, discovery, infoClass, &size, nullptr);
    if (status == ISDSC_SUCCESS)
        return ISDSC_SUCCESS;  // no data
    if (status != ISDSC_ERROR_INSUFFICIENT_BUFFER)
        return status;

    const ULONG allocated = size;
    unsigned char *buffer = static_cast<unsigned char *>(malloc(allocated > 0 ? allocated : 1));
    if (buffer == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    status = GetIScsiTargetInformationW(name, discovery, infoClass, &size, buffer);
    if (status != ISDSC_SUCCESS) {
        free(buffer);  // a second 122 too: there is no third call
        return status;
    }
    // A size beyond the buffer would have the readers leave it.
    *dataSize = size < allocated ? size : allocated;
    if (*dataSize == 0) {
        free(buffer);
        return ISDSC_SUCCESS;
    }
    *data = buffer;
    return ISDSC_SUCCESS;
}

void walkPortalGroups(ULONG groupCount, const unsigned char *groups, ULONG bytesAvailable)
{
    // The account starts at the whole size, the group count included; the
    // reads stop at the real end of the data, 4 bytes earlier.
    uint64_t account = bytesAvailable;
    const uint64_t readable = bytesAvailable >= sizeof(ULONG) ? bytesAvailable - sizeof(ULONG) : 0;
    uint64_t offset = 0;
    int recorded = 0;

    for (ULONG group = 0; group < groupCount; group++) {
        if (offset + sizeof(ULONG) > readable)
            return;
        ULONG portalCount = readULong(groups + offset);
        reportPrintf("        Group %d has %d portals\n", static_cast<int>(group),
                     static_cast<int>(portalCount));
        uint64_t stride = portalGroupStride(portalCount);
        if (stride > account)
            return;
        for (ULONG k = 0; k < portalCount; k++) {
            uint64_t record =
                offset + sizeof(ULONG) + static_cast<uint64_t>(k) * kPortalRecordBytes;
            if (record + kPortalRecordBytes > readable)
                return;
            reportPortal(groups + record, &recorded);
        }
        account -= stride;
        offset += stride;
    }
}

ISDSC_STATUS reportTarget(const WCHAR16 *targetName)
{
    emptyPortalTable();
    reportPrintf("Get Target information for %ws\n", targetName);

    ULONG size = 0;
    unsigned char *data = nullptr;
    ISDSC_STATUS status =
        queryTargetInformation(targetName, nullptr, DiscoveryMechanisms, &size, &data);
    if (status != ISDSC_SUCCESS)
        return status;
    if (size == 0) {
        reportPrintf("Discovery Mechanisms: <This List is Empty>\n");
        return NO_DISCOVERY_MECHANISM;
    }
    ReportState state = {targetName, copyFirstText(data, size), nullptr};
    free(data);
    if (state.mechanism == nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    reportPrintf("Discovery Mechanism: %ws\n", state.mechanism);

    status = reportTargetDetails(&state);
    if (status == ISDSC_SUCCESS)
        status = loginChosenPortals(targetName, state.initiatorInstance);
    free(state.mechanism);
    free(state.initiatorInstance);
    return status;
}
