// The boundary to the host's iSCSI initiator service.
//
// These are our own declarations of the service's published records and of
// the nine operations its discovery library exports.  On Windows they bind to
// the real library (iscsidsc.dll); elsewhere a library of ours provides the
// same symbols (the scripted stand-in for tests, the Linux service).
//
// Rules every implementation keeps:
//   - Wide text is 16-bit characters (WCHAR16) ended by a 0 character, on
//     every platform.
//   - A list is terminated texts in a row, ended by an empty text; list sizes
//     count characters.  The target-information query counts bytes.
//   - Buffers are always the caller's.  A missing or too small buffer yields
//     ERROR_INSUFFICIENT_BUFFER with the size needed written back.
//   - Output buffers are meaningful only after a status of 0.
#ifndef COMMON_ISCSI_SERVICE_H
#define COMMON_ISCSI_SERVICE_H

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
// Base types (ULONG, USHORT, ...) and WINAPI only: the lean set keeps the
// RPC and COM headers, and their names such as "byte", out of every includer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define ISDSC_API WINAPI
#else
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef uint64_t ULONGLONG;
typedef unsigned char UCHAR;
typedef unsigned char BOOLEAN;
typedef char CHAR;
typedef void *PVOID;
#define ISDSC_API
#endif

// 16 bits everywhere.  On Windows this has the representation of wchar_t, so
// the same declarations link against the real library.
typedef char16_t WCHAR16;

typedef ULONG ISDSC_STATUS;

#define ISDSC_SUCCESS 0u
#define ISDSC_ERROR_NOT_ENOUGH_MEMORY 8u
#define ISDSC_ERROR_INVALID_PARAMETER 87u
#define ISDSC_ERROR_INSUFFICIENT_BUFFER 122u

#define MAX_ISCSI_NAME_LEN 223
#define MAX_ISCSI_PORTAL_NAME_LEN 256
#define MAX_ISCSI_PORTAL_ADDRESS_LEN 256
#define ISCSI_ANY_INITIATOR_PORT 0xFFFFFFFFu

typedef ULONGLONG ISCSI_SECURITY_FLAGS;

// InformationSpecified bits of ISCSI_LOGIN_OPTIONS.
#define ISCSI_LOGIN_OPTIONS_HEADER_DIGEST 0x00000001u
#define ISCSI_LOGIN_OPTIONS_DATA_DIGEST 0x00000002u
#define ISCSI_LOGIN_OPTIONS_MAXIMUM_CONNECTIONS 0x00000004u
#define ISCSI_LOGIN_OPTIONS_DEFAULT_TIME_2_WAIT 0x00000008u
#define ISCSI_LOGIN_OPTIONS_DEFAULT_TIME_2_RETAIN 0x00000010u
#define ISCSI_LOGIN_OPTIONS_USERNAME 0x00000020u
#define ISCSI_LOGIN_OPTIONS_PASSWORD 0x00000040u
#define ISCSI_LOGIN_OPTIONS_AUTH_TYPE 0x00000080u

// LoginFlags bits.
#define ISCSI_LOGIN_FLAG_REQUIRE_IPSEC 0x00000001u
#define ISCSI_LOGIN_FLAG_MULTIPATH_ENABLED 0x00000002u

// TargetFlags bits.
#define ISCSI_TARGET_FLAG_HIDE_STATIC_TARGET 0x00000002u

enum ISCSI_AUTH_TYPES {
    ISCSI_NO_AUTH_TYPE = 0,
    ISCSI_CHAP_AUTH_TYPE = 1,
    ISCSI_MUTUAL_CHAP_AUTH_TYPE = 2
};

enum ISCSI_DIGEST_TYPES {
    ISCSI_DIGEST_TYPE_NONE = 0,
    ISCSI_DIGEST_TYPE_CRC32C = 1
};

enum TARGET_INFORMATION_CLASS {
    ProtocolType = 0,
    TargetAlias = 1,
    DiscoveryMechanisms = 2,
    PortalGroups = 3,
    PersistentTargetMappings = 4,
    InitiatorName = 5,
    TargetFlags = 6,
    LoginOptions = 7
};

// ProtocolType value for iSCSI over TCP.
#define ISCSI_TCP_PROTOCOL_TYPE 0u

struct ISCSI_VERSION_INFO {
    ULONG MajorVersion;
    ULONG MinorVersion;
    ULONG BuildNumber;
};

struct ISCSI_TARGET_PORTALW {
    WCHAR16 SymbolicName[MAX_ISCSI_PORTAL_NAME_LEN];
    WCHAR16 Address[MAX_ISCSI_PORTAL_ADDRESS_LEN];
    USHORT Socket;
};

// One portal group as the service lays it out: a count, then that many
// portal records.  Groups follow each other at portalGroupStride(Count).
struct ISCSI_TARGET_PORTAL_GROUPW {
    ULONG Count;
    ISCSI_TARGET_PORTALW Portals[1];
};

// The login options.  In a 32-bit build this is the 52-byte record the
// service's documentation describes; a 64-bit build has 8-byte pointers and
// so a larger record.
struct ISCSI_LOGIN_OPTIONS {
    ULONG Version;
    ULONG InformationSpecified;
    ULONG LoginFlags;
    ISCSI_AUTH_TYPES AuthType;
    ISCSI_DIGEST_TYPES HeaderDigest;
    ISCSI_DIGEST_TYPES DataDigest;
    ULONG MaximumConnections;
    ULONG DefaultTime2Wait;
    ULONG DefaultTime2Retain;
    ULONG UsernameLength;
    ULONG PasswordLength;
    UCHAR *Username;
    UCHAR *Password;
};

struct ISCSI_UNIQUE_SESSION_ID {
    ULONGLONG AdapterUnique;
    ULONGLONG AdapterSpecific;
};
typedef ISCSI_UNIQUE_SESSION_ID ISCSI_UNIQUE_CONNECTION_ID;

// Never filled in by this system: logins pass no target mappings.
struct ISCSI_TARGET_MAPPINGW;

// Distance in bytes from the start of a portal group of `count` portals to
// the start of the next one: the record size raised to a multiple of 4, or 4
// for an empty group.  In 64 bits: a count read from a service answer may be
// anything, and a stride wrapped in 32 bits would pass a size check.
constexpr uint64_t portalGroupStride(ULONG count)
{
    return count == 0 ? 4u
                      : ((static_cast<uint64_t>(count) * sizeof(ISCSI_TARGET_PORTALW) + 9u) &
                         ~static_cast<uint64_t>(3));
}

static_assert(sizeof(WCHAR16) == 2, "wide characters are 16 bits");
static_assert(sizeof(ULONG) == 4, "ULONG is 32 bits");
static_assert(sizeof(ULONGLONG) == 8, "ULONGLONG is 64 bits");
static_assert(sizeof(ISCSI_VERSION_INFO) == 12, "three 32-bit numbers");
static_assert(sizeof(ISCSI_TARGET_PORTALW) == 1026, "portal record size");
static_assert(offsetof(ISCSI_TARGET_PORTALW, SymbolicName) == 0, "portal layout");
static_assert(offsetof(ISCSI_TARGET_PORTALW, Address) == 512, "portal layout");
static_assert(offsetof(ISCSI_TARGET_PORTALW, Socket) == 1024, "portal layout");
static_assert(offsetof(ISCSI_TARGET_PORTAL_GROUPW, Portals) == 4, "group layout");
static_assert(sizeof(ISCSI_TARGET_PORTAL_GROUPW) == portalGroupStride(1), "stride of one");
static_assert(portalGroupStride(0) == 4 && portalGroupStride(2) == 2060 &&
                  portalGroupStride(3) == 3084 && portalGroupStride(4) == 4112,
              "stride rule");
static_assert(portalGroupStride(0xFFFFFFFFu) == 4406636444676ull, "no wrap for the largest count");
static_assert(sizeof(ISCSI_AUTH_TYPES) == 4 && sizeof(ISCSI_DIGEST_TYPES) == 4,
              "enumerations are 32 bits");
static_assert(offsetof(ISCSI_LOGIN_OPTIONS, Version) == 0 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, InformationSpecified) == 4 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, LoginFlags) == 8 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, AuthType) == 12 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, HeaderDigest) == 16 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, DataDigest) == 20 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, MaximumConnections) == 24 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, DefaultTime2Wait) == 28 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, DefaultTime2Retain) == 32 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, UsernameLength) == 36 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, PasswordLength) == 40 &&
                  offsetof(ISCSI_LOGIN_OPTIONS, Username) == (sizeof(void *) == 4 ? 44 : 48),
              "login options field order");
static_assert(sizeof(void *) != 4 || sizeof(ISCSI_LOGIN_OPTIONS) == 52,
              "32-bit login options record is 52 bytes");
static_assert(sizeof(ISCSI_UNIQUE_SESSION_ID) == 16, "two 64-bit halves");

extern "C" {

// Fills *VersionInfo with the service's version.
ISDSC_STATUS ISDSC_API GetIScsiVersionInformation(ISCSI_VERSION_INFO *VersionInfo /* OUT */);

// Writes the initiator node name and its terminator into InitiatorNodeName,
// which has room for MAX_ISCSI_NAME_LEN + 1 characters.
ISDSC_STATUS ISDSC_API GetIScsiInitiatorNodeNameW(WCHAR16 *InitiatorNodeName /* OUT */);

// Writes the list of initiator instance names into Buffer, which holds
// *BufferSize characters; sets *BufferSize to the characters returned (or,
// with status 122, to the characters needed).
ISDSC_STATUS ISDSC_API ReportIScsiInitiatorListW(ULONG *BufferSize /* IN/OUT */,
                                                 WCHAR16 *Buffer /* OUT */);

// Registers a send-target portal and runs discovery on it.  InitiatorInstance
// and LoginOptions may be null.  0 means the portal is registered.
ISDSC_STATUS ISDSC_API AddIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance,
                                                 ULONG InitiatorPortNumber,
                                                 ISCSI_LOGIN_OPTIONS *LoginOptions,
                                                 ISCSI_SECURITY_FLAGS SecurityFlags,
                                                 ISCSI_TARGET_PORTALW *Portal);

// Drops a send-target portal registered with the same instance, port number
// and portal record.
ISDSC_STATUS ISDSC_API RemoveIScsiSendTargetPortalW(WCHAR16 *InitiatorInstance,
                                                    ULONG InitiatorPortNumber,
                                                    ISCSI_TARGET_PORTALW *Portal);

// Writes the list of known target names into Buffer (*BufferSize characters);
// with ForceUpdate the send-target portals are asked again first.
ISDSC_STATUS ISDSC_API ReportIScsiTargetsW(BOOLEAN ForceUpdate, ULONG *BufferSize /* IN/OUT */,
                                           WCHAR16 *Buffer /* OUT */);

// Answers one class of information about TargetName.  *BufferSize counts
// bytes: with a null or too small Buffer the result is 122 and *BufferSize
// the bytes needed; with status 0 *BufferSize is the bytes written.
ISDSC_STATUS ISDSC_API GetIScsiTargetInformationW(WCHAR16 *TargetName, WCHAR16 *DiscoveryMechanism,
                                                  TARGET_INFORMATION_CLASS InfoClass,
                                                  ULONG *BufferSize /* IN/OUT */,
                                                  PVOID Buffer /* OUT */);

// Logs TargetName in through TargetPortal.  With IsPersistent the login is
// recorded for the service to restore at each start; otherwise it takes
// effect at once and fills both identifiers.
ISDSC_STATUS ISDSC_API LoginIScsiTargetW(WCHAR16 *TargetName, BOOLEAN IsInformationalSession,
                                         WCHAR16 *InitiatorInstance, ULONG InitiatorPortNumber,
                                         ISCSI_TARGET_PORTALW *TargetPortal,
                                         ISCSI_SECURITY_FLAGS SecurityFlags,
                                         ISCSI_TARGET_MAPPINGW *Mappings,
                                         ISCSI_LOGIN_OPTIONS *LoginOptions, ULONG KeySize,
                                         CHAR *Key, BOOLEAN IsPersistent,
                                         ISCSI_UNIQUE_SESSION_ID *UniqueSessionId /* OUT */,
                                         ISCSI_UNIQUE_CONNECTION_ID *UniqueConnectionId /* OUT */);

// Removes the persistent login of TargetName through Portal.
ISDSC_STATUS ISDSC_API RemoveIScsiPersistentTargetW(WCHAR16 *InitiatorInstance,
                                                    ULONG InitiatorPortNumber, WCHAR16 *TargetName,
                                                    ISCSI_TARGET_PORTALW *Portal);

#ifndef _WIN32
// The service's message table, where the platform has no FormatMessageW to
// read the library's: renders the text of `code` into buffer[room]
// (characters, terminator included) as the platform renders a message-table
// text with the width mask and no insert arguments.  Returns the characters
// stored before the terminator, or 0 when the service has no text for the
// code or it does not fit.  languageId 0 is the default language.  Every
// service provides this with the nine operations.
ULONG lookupServiceMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room);
#endif

}  // extern "C"

#endif  // COMMON_ISCSI_SERVICE_H
