#include "service_libiscsi/failure_mapping.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sqlite3.h>

#include "service_libiscsi/service_status.h"

namespace {

ISDSC_STATUS statusForNetworkErrno(int error)
{
    switch (error) {
    case 0:
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
        return SERVICE_CONNECTION_CLOSED;
    case ECONNREFUSED:
        return SERVICE_CONNECTION_REFUSED;
    case ETIMEDOUT:
        return SERVICE_NO_ANSWER_IN_TIME;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT:
        return SERVICE_PORTAL_UNREACHABLE;
    case ENOMEM:
    case ENOBUFS:
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM:
        return SERVICE_ACCESS_DENIED;
    default:
        return SERVICE_CONNECTION_FAILED;
    }
}

ISDSC_STATUS statusForResolverResult(int result)
{
    switch (result) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return SERVICE_NAME_NOT_FOUND;
    case EAI_MEMORY:
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    default:
        return SERVICE_NAME_LOOKUP_FAILED;
    }
}

// Reads the decimal number that follows `marker` in text; -1 when the text
// has no such marker followed by a digit.
long numberAfter(const char *text, const char *marker)
{
    const char *at = strstr(text, marker);
    if (at == nullptr)
        return -1;
    at += strlen(marker);
    while (*at == ' ')
        at++;
    if (*at < '0' || *at > '9')
        return -1;
    return strtol(at, nullptr, 10);
}

// The number inside the last "(...)" of text, or -1.
long lastParenthesizedNumber(const char *text)
{
    const char *open = strrchr(text, '(');
    if (open == nullptr || open[1] < '0' || open[1] > '9')
        return -1;
    char *end = nullptr;
    long value = strtol(open + 1, &end, 10);
    return (end != nullptr && *end == ')') ? value : -1;
}

ISDSC_STATUS statusForLibraryText(ExchangeStep step, const char *text)
{
    if (text == nullptr)
        text = "";
    if (strstr(text, "Failed to log in to target") != nullptr) {
        long status = lastParenthesizedNumber(text);
        return status >= 0 ? statusForLoginResponse(static_cast<int>(status))
                           : SERVICE_LOGIN_REJECTED;
    }
    long error = numberAfter(text, "errno:");
    if (error < 0 &&
        (strstr(text, "socket error") != nullptr || strstr(text, "Connect failed") != nullptr ||
         strstr(text, "Failed to open iscsi socket") != nullptr))
        error = lastParenthesizedNumber(text);
    if (error >= 0)
        return statusForNetworkErrno(static_cast<int>(error));
    if (strstr(text, "CHAP") != nullptr)
        return SERVICE_AUTHENTICATION_FAILED;
    if (strstr(text, "Out-of-memory") != nullptr)
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    switch (step) {
    case STEP_NAME_LOOKUP:
        return SERVICE_NAME_LOOKUP_FAILED;
    case STEP_CONNECT:
        return SERVICE_CONNECTION_FAILED;
    case STEP_TEXT:
    case STEP_LOGIN:
    case STEP_LOGOUT:
        break;
    }
    return SERVICE_NOT_AN_ISCSI_TARGET;
}

}  // namespace

ISDSC_STATUS statusForLoginResponse(int classAndDetail)
{
    switch (classAndDetail) {
    case 0x0201:
        return SERVICE_AUTHENTICATION_FAILED;
    case 0x0202:
        return SERVICE_AUTHORIZATION_FAILED;
    case 0x0203:
        return SERVICE_LOGIN_TARGET_NOT_FOUND;
    case 0x0204:
        return SERVICE_LOGIN_TARGET_REMOVED;
    case 0x0206:
        return SERVICE_TOO_MANY_CONNECTIONS;
    default:
        break;
    }
    switch (classAndDetail >> 8) {
    case 0x01:
        return SERVICE_LOGIN_REDIRECTED;
    case 0x03:
        return SERVICE_TARGET_ERROR;
    default:
        return SERVICE_LOGIN_REJECTED;
    }
}

ISDSC_STATUS statusForExchangeFailure(const ExchangeFailure &failure)
{
    switch (failure.kind) {
    case FAILURE_TIMEOUT:
        return failure.step == STEP_NAME_LOOKUP ? SERVICE_NAME_LOOKUP_TIMEOUT
                                                : SERVICE_NO_ANSWER_IN_TIME;
    case FAILURE_ERRNO:
        return statusForNetworkErrno(failure.code);
    case FAILURE_NAME_LOOKUP:
        return statusForResolverResult(failure.code);
    case FAILURE_LIBRARY:
        return statusForLibraryText(failure.step, failure.text);
    }
    return SERVICE_NON_SPECIFIC_ERROR;
}

ISDSC_STATUS statusForStateDirectoryErrno(int error)
{
    return (error == ENOMEM) ? ISDSC_ERROR_NOT_ENOUGH_MEMORY : SERVICE_STATE_DIRECTORY_FAILED;
}

ISDSC_STATUS statusForStoreFileErrno(int error)
{
    switch (error) {
    case ELOOP:
        return SERVICE_STORE_IS_LINK;  // what O_NOFOLLOW says of a link
    case ENOMEM:
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM:
        return SERVICE_ACCESS_DENIED;
    default:
        return SERVICE_STORE_FAILED;
    }
}

ISDSC_STATUS statusForStoreResult(int sqliteResult, bool waitedWholeBound)
{
    switch (sqliteResult & 0xFF) {
    case SQLITE_BUSY:
        return waitedWholeBound ? SERVICE_STORE_BUSY : SERVICE_STORE_CONFLICT;
    case SQLITE_LOCKED:
        return SERVICE_STORE_CONFLICT;
    case SQLITE_NOMEM:
        return ISDSC_ERROR_NOT_ENOUGH_MEMORY;
    default:
        return SERVICE_STORE_FAILED;
    }
}
