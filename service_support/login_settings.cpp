#include "service_support/login_settings.h"

#include <cstring>
#include <sys/prctl.h>

#include "service_support/support_status.h"

void protectHeldSecrets()
{
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

ISDSC_STATUS settingsFromOptions(const ISCSI_LOGIN_OPTIONS *options, LoginSettings *settings)
{
    memset(settings, 0, sizeof *settings);
    if (options == nullptr)
        return ISDSC_SUCCESS;
    if (options->PasswordLength > LOGIN_SECRET_BYTES)
        return SERVICE_SECRET_TOO_LONG;
    if (options->UsernameLength > LOGIN_SECRET_BYTES ||
        (options->UsernameLength > 0 && options->Username == nullptr) ||
        (options->PasswordLength > 0 && options->Password == nullptr))
        return ISDSC_ERROR_INVALID_PARAMETER;
    if (options->PasswordLength > 0)
        protectHeldSecrets();
    settings->version = options->Version;
    settings->informationSpecified = options->InformationSpecified;
    settings->loginFlags = options->LoginFlags;
    // The code fields are read as their 32 bits: a caller may pass a code
    // that the enumeration does not name, and loading that as the
    // enumeration is undefined.
    memcpy(&settings->authType, &options->AuthType, sizeof settings->authType);
    memcpy(&settings->headerDigest, &options->HeaderDigest, sizeof settings->headerDigest);
    memcpy(&settings->dataDigest, &options->DataDigest, sizeof settings->dataDigest);
    settings->maximumConnections = options->MaximumConnections;
    settings->defaultTime2Wait = options->DefaultTime2Wait;
    settings->defaultTime2Retain = options->DefaultTime2Retain;
    settings->usernameLength = options->UsernameLength;
    if (options->UsernameLength > 0)
        memcpy(settings->username, options->Username, options->UsernameLength);
    settings->passwordLength = options->PasswordLength;
    if (options->PasswordLength > 0)
        memcpy(settings->password, options->Password, options->PasswordLength);
    return ISDSC_SUCCESS;
}

ISDSC_STATUS chapFromSettings(const LoginSettings &settings, const char *nodeName,
                              ChapCredentials *chap)
{
    memset(chap, 0, sizeof *chap);
    ULONG specified = settings.informationSpecified;
    if ((specified & ISCSI_LOGIN_OPTIONS_DATA_DIGEST) != 0 &&
        settings.dataDigest != ISCSI_DIGEST_TYPE_NONE)
        return SERVICE_NOT_SUPPORTED;
    if ((specified & ISCSI_LOGIN_OPTIONS_HEADER_DIGEST) != 0 &&
        settings.headerDigest > ISCSI_DIGEST_TYPE_CRC32C)
        return SERVICE_NOT_SUPPORTED;
    ULONG authType = (specified & ISCSI_LOGIN_OPTIONS_AUTH_TYPE) != 0 ? settings.authType
                                                                      : ULONG{ISCSI_NO_AUTH_TYPE};
    if (authType == ISCSI_NO_AUTH_TYPE)
        return ISDSC_SUCCESS;
    if (authType != ISCSI_CHAP_AUTH_TYPE)
        return SERVICE_NOT_SUPPORTED;

    chap->enabled = true;
    if ((specified & ISCSI_LOGIN_OPTIONS_USERNAME) != 0 && settings.usernameLength > 0) {
        if (memchr(settings.username, 0, settings.usernameLength) != nullptr)
            return ISDSC_ERROR_INVALID_PARAMETER;
        memcpy(chap->username, settings.username, settings.usernameLength);
        chap->username[settings.usernameLength] = 0;
    } else {
        size_t length = strlen(nodeName);
        if (length >= sizeof chap->username)
            return ISDSC_ERROR_INVALID_PARAMETER;
        memcpy(chap->username, nodeName, length + 1);
    }
    if ((specified & ISCSI_LOGIN_OPTIONS_PASSWORD) != 0 && settings.passwordLength > 0) {
        if (memchr(settings.password, 0, settings.passwordLength) != nullptr)
            return ISDSC_ERROR_INVALID_PARAMETER;
        memcpy(chap->password, settings.password, settings.passwordLength);
        chap->password[settings.passwordLength] = 0;
    }
    return ISDSC_SUCCESS;
}

bool wantsHeaderDigest(const LoginSettings &settings)
{
    return (settings.informationSpecified & ISCSI_LOGIN_OPTIONS_HEADER_DIGEST) != 0 &&
           settings.headerDigest == ISCSI_DIGEST_TYPE_CRC32C;
}
