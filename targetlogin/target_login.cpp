// The login pass at the end of a target report: the portals chosen from the
// PortalTable, and the persistent and immediate login through each.
#include <cstring>

#include "common/report_output.h"
#include "common/status_text.h"
#include "common/text_format.h"
#include "common/wide_text.h"
#include "targetlogin/targetlogin.h"

namespace {

const ULONG kUserNameBytes = 256;

bool portalChosen(const PortalArgument *portal, const PortalTableEntry *entry)
{
    if (connectOptions.loginAllPortals)
        return true;
    return wideEqual(entry->address, portal->address) &&
           parsePortText(portal->portText) == static_cast<int32_t>(entry->socket);
}

}  // namespace

ULONG chapUserName(const WCHAR16 *targetName, char *out, ULONG room)
{
    if (room == 0)
        return 0;
    ULONG written = 0;
    size_t at = 0;
    while (targetName[at] != 0) {
        // One character at a time, a surrogate pair as one.
        size_t length = 1;
        if (targetName[at] >= 0xD800 && targetName[at] <= 0xDBFF && targetName[at + 1] >= 0xDC00 &&
            targetName[at + 1] <= 0xDFFF)
            length = 2;
        char bytes[8];
        size_t needed = wideToUtf8(targetName + at, length, bytes, sizeof bytes);
        if (written + needed > room - 1)
            break;  // never half a character
        memcpy(out + written, bytes, needed);
        written += static_cast<ULONG>(needed);
        at += length;
    }
    out[written] = 0;
    return written;
}

ISDSC_STATUS loginTarget(const WCHAR16 *targetName, const WCHAR16 *portalAddress, USHORT socket,
                         const WCHAR16 *initiatorInstance, ULONG initiatorPort)
{
    ISCSI_TARGET_PORTALW portal;
    memset(&portal, 0, sizeof portal);
    copyBounded(portal.Address, MAX_ISCSI_PORTAL_ADDRESS_LEN, portalAddress);  // cut at 255
    portal.Socket = socket;

    char userName[kUserNameBytes];
    ISCSI_LOGIN_OPTIONS loginOptions;
    memset(&loginOptions, 0, sizeof loginOptions);
    loginOptions.LoginFlags = ISCSI_LOGIN_FLAG_MULTIPATH_ENABLED;
    const char *secret = connectOptions.chapSecret;
    if (secret != nullptr) {
        loginOptions.InformationSpecified = ISCSI_LOGIN_OPTIONS_AUTH_TYPE |
                                            ISCSI_LOGIN_OPTIONS_USERNAME |
                                            ISCSI_LOGIN_OPTIONS_PASSWORD;
        loginOptions.AuthType = ISCSI_CHAP_AUTH_TYPE;
        loginOptions.UsernameLength = chapUserName(targetName, userName, kUserNameBytes);
        loginOptions.Username = reinterpret_cast<UCHAR *>(userName);
        loginOptions.Password = reinterpret_cast<UCHAR *>(const_cast<char *>(secret));
        loginOptions.PasswordLength = static_cast<ULONG>(strlen(secret));
    } else {
        loginOptions.InformationSpecified = ISCSI_LOGIN_OPTIONS_AUTH_TYPE;
        loginOptions.AuthType = ISCSI_NO_AUTH_TYPE;
    }

    reportPrintf("LoginTarget to %ws on %ws to %ws/%d\n", targetName,
                 initiatorInstance != nullptr ? initiatorInstance : u"<no init instance>",
                 portal.Address, static_cast<int>(portal.Socket));

    // The platform's operations take non-const texts; they do not write them.
    WCHAR16 *name = const_cast<WCHAR16 *>(targetName);
    WCHAR16 *instance = const_cast<WCHAR16 *>(initiatorInstance);

    RemoveIScsiPersistentTargetW(instance, initiatorPort, name, &portal);  // none may exist

    // One pair of identifiers serves both logins; the immediate one fills
    // them last.
    ISCSI_UNIQUE_SESSION_ID sessionId = {0, 0};
    ISCSI_UNIQUE_CONNECTION_ID connectionId = {0, 0};
    ISDSC_STATUS status =
        LoginIScsiTargetW(name, 0, instance, initiatorPort, &portal, 0, nullptr, &loginOptions, 0,
                          nullptr, 1, &sessionId, &connectionId);
    if (status == ISDSC_SUCCESS)
        status = LoginIScsiTargetW(name, 0, instance, initiatorPort, &portal, 0, nullptr,
                                   &loginOptions, 0, nullptr, 0, &sessionId, &connectionId);
    if (status == ISDSC_SUCCESS) {
        reportPrintf("Session Id is 0x%I64x-0x%I64x\n", sessionId.AdapterUnique,
                     sessionId.AdapterSpecific);
        reportPrintf("Connection Id is 0x%I64x-0x%I64x\n", connectionId.AdapterUnique,
                     connectionId.AdapterSpecific);
        return ISDSC_SUCCESS;
    }

    printFailure("    Login Failed : %ws\n", status);
    ISDSC_STATUS removal = RemoveIScsiPersistentTargetW(instance, initiatorPort, name, &portal);
    if (removal != ISDSC_SUCCESS)
        printFailure("Presistent Login Remove Failed : %ws\n", removal);
    return status;
}

ISDSC_STATUS loginChosenPortals(const WCHAR16 *targetName, const WCHAR16 *initiatorInstance)
{
    ISDSC_STATUS status = ISDSC_SUCCESS;
    for (int32_t i = 0; i < connectOptions.portalCount && i < MAX_COMMAND_LINE_PORTALS; i++) {
        const PortalArgument *portal = &connectOptions.portals[i];
        if (portal->address == nullptr)
            break;  // the used entries are contiguous from entry 0
        for (int e = 0; e < PORTAL_TABLE_ENTRIES && portalTable.entries[e].socket != 0; e++) {
            const PortalTableEntry *entry = &portalTable.entries[e];
            if (!portalChosen(portal, entry))
                continue;
            reportPrintf(">           Address and Socket    : %ws %d\n", entry->address,
                         static_cast<int>(entry->socket));
            status = loginTarget(targetName, entry->address, entry->socket, initiatorInstance,
                                 portal->initiatorPort);
            if (status == ISDSC_SUCCESS)
                connectOptions.anyLoginSucceeded = true;
        }
    }
    return status;
}
