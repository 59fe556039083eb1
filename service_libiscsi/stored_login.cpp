#include "service_libiscsi/stored_login.h"

#include <cstring>

namespace {

const size_t kNumberCount = STORED_LOGIN_NUMBER_BYTES / 4;

}  // namespace

size_t encodeStoredLogin(const LoginSettings &login, unsigned char (&out)[STORED_LOGIN_MAX_BYTES])
{
    const ULONG numbers[kNumberCount] = {login.version,
                                         login.informationSpecified,
                                         login.loginFlags,
                                         login.authType,
                                         login.headerDigest,
                                         login.dataDigest,
                                         login.maximumConnections,
                                         login.defaultTime2Wait,
                                         login.defaultTime2Retain};
    for (size_t i = 0; i < kNumberCount; i++)
        for (size_t byte = 0; byte < 4; byte++)
            out[i * 4 + byte] = static_cast<unsigned char>(numbers[i] >> (8 * byte));
    size_t nameLength = login.usernameLength <= LOGIN_SECRET_BYTES ? login.usernameLength : 0;
    memcpy(out + STORED_LOGIN_NUMBER_BYTES, login.username, nameLength);
    return STORED_LOGIN_NUMBER_BYTES + nameLength;
}

bool decodeStoredLogin(const void *blob, size_t size, LoginSettings *login)
{
    if (blob == nullptr || size < STORED_LOGIN_NUMBER_BYTES || size > STORED_LOGIN_MAX_BYTES)
        return false;
    const unsigned char *bytes = static_cast<const unsigned char *>(blob);
    ULONG numbers[kNumberCount];
    for (size_t i = 0; i < kNumberCount; i++) {
        numbers[i] = 0;
        for (size_t byte = 0; byte < 4; byte++)
            numbers[i] |= static_cast<ULONG>(bytes[i * 4 + byte]) << (8 * byte);
    }
    login->version = numbers[0];
    login->informationSpecified = numbers[1];
    login->loginFlags = numbers[2];
    login->authType = numbers[3];
    login->headerDigest = numbers[4];
    login->dataDigest = numbers[5];
    login->maximumConnections = numbers[6];
    login->defaultTime2Wait = numbers[7];
    login->defaultTime2Retain = numbers[8];
    login->usernameLength = static_cast<ULONG>(size - STORED_LOGIN_NUMBER_BYTES);
    memcpy(login->username, bytes + STORED_LOGIN_NUMBER_BYTES, login->usernameLength);
    return true;
}
