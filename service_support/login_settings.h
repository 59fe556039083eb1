// Login options as the service keeps them: the caller's ISCSI_LOGIN_OPTIONS
// copied into fixed arrays, so that nothing points into the caller's memory.
#ifndef SERVICE_SUPPORT_LOGIN_SETTINGS_H
#define SERVICE_SUPPORT_LOGIN_SETTINGS_H

#include "common/iscsi_service.h"

#define LOGIN_SECRET_BYTES 255

// The CHAP credentials of one exchange with a target.
struct ChapCredentials {
    bool enabled;
    char username[256];  // terminated, 1 to 255 bytes
    char password[256];  // terminated, 0 to 255 bytes
};

struct LoginSettings {
    ULONG version;
    ULONG informationSpecified;
    ULONG loginFlags;
    ULONG authType;
    ULONG headerDigest;
    ULONG dataDigest;
    ULONG maximumConnections;
    ULONG defaultTime2Wait;
    ULONG defaultTime2Retain;
    ULONG usernameLength;
    unsigned char username[LOGIN_SECRET_BYTES];
    ULONG passwordLength;
    unsigned char password[LOGIN_SECRET_BYTES];
};

// Copies options (null: no options, all zero) into *settings.  Returns
// SERVICE_SECRET_TOO_LONG for a secret over 255 bytes, 87 for a user name
// over 255 bytes or a length above 0 that comes without its bytes.  A
// secret makes the process undumpable (protectHeldSecrets).
ISDSC_STATUS settingsFromOptions(const ISCSI_LOGIN_OPTIONS *options, LoginSettings *settings);

// Called when a CHAP secret enters the process: from then on the process
// cannot be dumped, so that no core file (readable in the dump folder) and
// no debugger of another process of the user gets the secret.
void protectHeldSecrets();

// Fills the CHAP credentials of an exchange: CHAP when the options specify
// the authentication type CHAP, with their user name or, when they give none,
// nodeName.  Returns SERVICE_NOT_SUPPORTED for mutual CHAP, a data digest or
// another authentication type, 87 for a user name or secret holding a zero
// byte.
ISDSC_STATUS chapFromSettings(const LoginSettings &settings, const char *nodeName,
                              ChapCredentials *chap);

// True when the options ask for the CRC32C header digest.
bool wantsHeaderDigest(const LoginSettings &settings);

#endif  // SERVICE_SUPPORT_LOGIN_SETTINGS_H
