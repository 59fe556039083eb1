// Small helpers the service's tests share: wide text, portal and login
// option records, and the two-call sized query.
#ifndef SERVICE_LIBISCSI_TESTS_SERVICE_TEST_SUPPORT_H
#define SERVICE_LIBISCSI_TESTS_SERVICE_TEST_SUPPORT_H

#include <cstring>
#include <string>
#include <vector>

#include "common/iscsi_service.h"
#include "common/status_text.h"

inline std::u16string wide(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

inline std::string narrow(const WCHAR16 *text)
{
    std::string out;
    for (; *text != 0; text++)
        out.push_back(static_cast<char>(*text));
    return out;
}

inline ISCSI_TARGET_PORTALW portalRecord(const std::string &address, int port)
{
    ISCSI_TARGET_PORTALW portal;
    memset(&portal, 0, sizeof portal);
    for (size_t i = 0; i < address.size() && i < 255; i++)
        portal.Address[i] = static_cast<WCHAR16>(static_cast<unsigned char>(address[i]));
    portal.Socket = static_cast<USHORT>(port);
    return portal;
}

// Login options as the tools build them: CHAP with the given user name (may
// be empty) and secret.
struct ChapOptions {
    ISCSI_LOGIN_OPTIONS options;
    std::string user;
    std::string secret;
};

inline void fillChapOptions(ChapOptions *chap, const std::string &user, const std::string &secret)
{
    chap->user = user;
    chap->secret = secret;
    memset(&chap->options, 0, sizeof chap->options);
    chap->options.InformationSpecified =
        ISCSI_LOGIN_OPTIONS_AUTH_TYPE | ISCSI_LOGIN_OPTIONS_USERNAME | ISCSI_LOGIN_OPTIONS_PASSWORD;
    chap->options.LoginFlags = ISCSI_LOGIN_FLAG_MULTIPATH_ENABLED;
    chap->options.AuthType = ISCSI_CHAP_AUTH_TYPE;
    chap->options.UsernameLength = static_cast<ULONG>(chap->user.size());
    chap->options.Username =
        chap->user.empty() ? nullptr : reinterpret_cast<UCHAR *>(&chap->user[0]);
    chap->options.PasswordLength = static_cast<ULONG>(chap->secret.size());
    chap->options.Password = reinterpret_cast<UCHAR *>(&chap->secret[0]);
}

// The sized query: first without a buffer, then with exactly what it asked
// for.  Returns the status of the last call; data holds the answer on 0.
inline ISDSC_STATUS queryInformation(const std::string &target, const WCHAR16 *mechanism,
                                     TARGET_INFORMATION_CLASS infoClass,
                                     std::vector<unsigned char> *data)
{
    std::u16string name = wide(target);
    ULONG size = 0;
    ISDSC_STATUS status = GetIScsiTargetInformationW(&name[0], const_cast<WCHAR16 *>(mechanism),
                                                     infoClass, &size, nullptr);
    data->clear();
    if (status != ISDSC_ERROR_INSUFFICIENT_BUFFER)
        return status;
    data->resize(size);
    return GetIScsiTargetInformationW(&name[0], const_cast<WCHAR16 *>(mechanism), infoClass, &size,
                                      data->data());
}

// The target list as strings; status in *status.
inline std::vector<std::string> targetList(bool force, ISDSC_STATUS *status)
{
    std::vector<WCHAR16> buffer(4096);
    ULONG size = 4096;
    *status = ReportIScsiTargetsW(force, &size, buffer.data());
    std::vector<std::string> names;
    if (*status != 0)
        return names;
    for (ULONG at = 0; at < size && buffer[at] != 0;) {
        names.push_back(narrow(&buffer[at]));
        at += static_cast<ULONG>(names.back().size()) + 1;
    }
    return names;
}

inline std::string statusText(ISDSC_STATUS status)
{
    WCHAR16 text[STATUS_TEXT_CHARS];
    return narrow(formatStatus(text, STATUS_TEXT_CHARS, status));
}

#endif  // SERVICE_LIBISCSI_TESTS_SERVICE_TEST_SUPPORT_H
