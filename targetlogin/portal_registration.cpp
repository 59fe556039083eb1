// Registration of one command-line portal as a send-target portal.
#include <cstring>

#include "common/wide_text.h"
#include "targetlogin/targetlogin.h"

ISDSC_STATUS registerPortal(const WCHAR16 *address, const WCHAR16 *portText, ULONG initiatorPort)
{
    if (wideLengthBounded(address, MAX_ISCSI_PORTAL_ADDRESS_LEN) >= MAX_ISCSI_PORTAL_ADDRESS_LEN)
        return ISDSC_ERROR_INVALID_PARAMETER;

    ISCSI_TARGET_PORTALW portal;
    memset(&portal, 0, sizeof portal);
    copyBounded(portal.Address, MAX_ISCSI_PORTAL_ADDRESS_LEN, address);  // fits, see above
    portal.Socket = static_cast<USHORT>(static_cast<uint32_t>(parsePortText(portText)) & 0xFFFFu);

    // The secret travels as the password; the service gets no user name
    // here, although the user-name bit is set.
    ISCSI_LOGIN_OPTIONS loginOptions;
    memset(&loginOptions, 0, sizeof loginOptions);
    ISCSI_LOGIN_OPTIONS *chapOptions = nullptr;
    const char *secret = connectOptions.chapSecret;
    if (secret != nullptr) {
        loginOptions.Version = 0;
        loginOptions.InformationSpecified = ISCSI_LOGIN_OPTIONS_USERNAME |
                                            ISCSI_LOGIN_OPTIONS_PASSWORD |
                                            ISCSI_LOGIN_OPTIONS_AUTH_TYPE;
        loginOptions.LoginFlags = ISCSI_LOGIN_FLAG_MULTIPATH_ENABLED;
        loginOptions.AuthType = ISCSI_CHAP_AUTH_TYPE;
        loginOptions.Username = nullptr;
        loginOptions.UsernameLength = 0;
        loginOptions.Password = reinterpret_cast<UCHAR *>(const_cast<char *>(secret));
        loginOptions.PasswordLength = static_cast<ULONG>(strlen(secret));
        chapOptions = &loginOptions;
    }

    // The platform's operations take non-const texts; they do not write them.
    WCHAR16 *instance = const_cast<WCHAR16 *>(connectOptions.initiatorInstance);
    ISDSC_STATUS status =
        AddIScsiSendTargetPortalW(instance, initiatorPort, chapOptions, 0, &portal);
    if (status != ISDSC_SUCCESS)
        RemoveIScsiSendTargetPortalW(instance, initiatorPort, &portal);  // result not needed
    return status;
}
