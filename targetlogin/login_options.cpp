// Rendering of a login-options record in the target report.
#include <cstring>

#include "common/report_output.h"
#include "targetlogin/targetlogin.h"

namespace {

const char kDumpPrefix[] = "                          ";  // 26 blanks
const ULONG kBytesPerRow = 16;

// A code field read as its 32 bits: the service may send codes that the
// enumeration does not name, and loading those as the enumeration is not
// defined.
ULONG codeField(const void *field)
{
    ULONG value;
    memcpy(&value, field, sizeof value);
    return value;
}

// Completes an open digest label.  An unknown code leaves the line open, so
// that the next output continues it.
void printDigest(ULONG code)
{
    if (code == ISCSI_DIGEST_TYPE_NONE)
        reportPrintf("None\n");
    else if (code == ISCSI_DIGEST_TYPE_CRC32C)
        reportPrintf("CRC-32C\n");
}

}  // namespace

void dumpBytes(const char *prefix, const unsigned char *bytes, ULONG count)
{
    for (ULONG start = 0; start < count; start += kBytesPerRow) {
        ULONG rowLength = count - start < kBytesPerRow ? count - start : kBytesPerRow;
        reportPrintf("%s", prefix);
        for (ULONG column = 0; column < kBytesPerRow; column++)
            if (column < rowLength)
                reportPrintf("%02x ", static_cast<unsigned>(bytes[start + column]));
            else
                reportPrintf("   ");
        reportPrintf("    ");
        for (ULONG column = 0; column < rowLength; column++) {
            unsigned char byte = bytes[start + column];
            if (byte >= 0x21 && byte <= 0x7E)
                reportPrintf("%c", byte);
            else
                reportPrintf(".");
        }
        reportPrintf("\n");
    }
}

void printLoginOptions(const char *prefix, const ISCSI_LOGIN_OPTIONS *options)
{
    const ULONG mask = options->InformationSpecified;
    reportPrintf("%sVersion              : %d\n", prefix, static_cast<int>(options->Version));
    reportPrintf("%sInformation Specified: 0x%x\n", prefix, mask);
    if (mask & ISCSI_LOGIN_OPTIONS_HEADER_DIGEST) {
        reportPrintf("%sHeader Digest        : ", prefix);
        printDigest(codeField(&options->HeaderDigest));
    }
    if (mask & ISCSI_LOGIN_OPTIONS_DATA_DIGEST) {
        reportPrintf("%sData Digest          : ", prefix);
        printDigest(codeField(&options->DataDigest));
    }
    if (mask & ISCSI_LOGIN_OPTIONS_MAXIMUM_CONNECTIONS)
        reportPrintf("%sMaximum Connections  : %d\n", prefix,
                     static_cast<int>(options->MaximumConnections));
    if (mask & ISCSI_LOGIN_OPTIONS_DEFAULT_TIME_2_WAIT)
        reportPrintf("%sDefault Time 2 Wait  : %d\n", prefix,
                     static_cast<int>(options->DefaultTime2Wait));
    if (mask & ISCSI_LOGIN_OPTIONS_DEFAULT_TIME_2_RETAIN)
        reportPrintf("%sDefault Time 2 Retain: %d\n", prefix,
                     static_cast<int>(options->DefaultTime2Retain));

    reportPrintf("%sLogin Flags          : 0x%x\n", prefix, options->LoginFlags);
    if (options->LoginFlags & ISCSI_LOGIN_FLAG_REQUIRE_IPSEC)
        reportPrintf("%s                       Require IPsec\n", prefix);
    if (options->LoginFlags & ISCSI_LOGIN_FLAG_MULTIPATH_ENABLED)
        reportPrintf("%s                       Multipath Enabled\n", prefix);

    // The authentication type comes before the user name and the password,
    // although its mask bit is the highest.
    if (mask & ISCSI_LOGIN_OPTIONS_AUTH_TYPE) {
        reportPrintf("%sAuthentication Type  : ", prefix);
        const ULONG authType = codeField(&options->AuthType);
        switch (authType) {
        case ISCSI_NO_AUTH_TYPE:
            reportPrintf("None\n");
            break;
        case ISCSI_CHAP_AUTH_TYPE:
            reportPrintf("CHAP\n");
            break;
        case ISCSI_MUTUAL_CHAP_AUTH_TYPE:
            reportPrintf("Mutual CHAP\n");
            break;
        default:
            reportPrintf("Unknown - %d\n", static_cast<int>(authType));
            break;
        }
    }
    if (mask & ISCSI_LOGIN_OPTIONS_USERNAME) {
        reportPrintf("%sUsername             : \n", prefix);
        if (options->Username != nullptr)
            dumpBytes(kDumpPrefix, options->Username, options->UsernameLength);
    }
    if (mask & ISCSI_LOGIN_OPTIONS_PASSWORD)
        reportPrintf("%sPassword             : <is established>\n", prefix);
}
