// targetlogin: registers send-target portals, reports on every discovered
// target and logs it in through the chosen portals.
//
// The run keeps two pieces of process-wide state: the ConnectOptions of the
// command line and the PortalTable of the target under report.  Neither owns
// heap memory, so a run can be repeated in one process (tests do) after
// resetConnectOptions and emptyPortalTable.
#ifndef TARGETLOGIN_TARGETLOGIN_H
#define TARGETLOGIN_TARGETLOGIN_H

#include <cstdint>

#include "common/iscsi_service.h"

#define MAX_COMMAND_LINE_PORTALS 8
// An address or "-p" value is widened into this many characters, terminator
// included; a longer argument is refused.
#define ARGUMENT_TEXT_CHARS 64
// Both service lists are asked once into buffers of this many characters.
#define SERVICE_LIST_CHARS 4096u
#define PORTAL_TABLE_ENTRIES 16
// reportTarget's result for a target that has no discovery mechanism.
#define NO_DISCOVERY_MECHANISM 0xEFFF0001u

// Exit codes of the run.
#define EXIT_DONE 0
#define EXIT_FAILED 1
#define EXIT_USAGE 2

// One portal of the command line.  The pointers point at the entry's own
// storage (or at the default port text), so an entry must not be copied.
struct PortalArgument {
    const WCHAR16 *address;   // null while the entry is unused
    const WCHAR16 *portText;  // "3260" until a "-p" follows the address
    ULONG initiatorPort;      // ISCSI_ANY_INITIATOR_PORT until a "-s" follows
    ISDSC_STATUS addStatus;   // what registerPortal returned
    WCHAR16 addressStorage[ARGUMENT_TEXT_CHARS];
    WCHAR16 portTextStorage[ARGUMENT_TEXT_CHARS];
};

// Settings and results of one run.  Must not be copied (see PortalArgument).
struct ConnectOptions {
    PortalArgument portals[MAX_COMMAND_LINE_PORTALS];
    int32_t portalCount;               // entries 0 .. portalCount - 1 have an address
    const char *chapSecret;            // the "-t" argument itself, or null
    bool loginAllPortals;              // "-a"
    const WCHAR16 *initiatorInstance;  // null, or initiatorInstanceStorage
    bool anyPortalAdded;
    bool anyLoginSucceeded;
    // A list text may run to the end of the list buffer; one slot more for
    // its terminator.
    WCHAR16 initiatorInstanceStorage[SERVICE_LIST_CHARS + 1];
};

// One portal recorded for the target under report.  The address is the
// portal record's 256-character field copied whole, with one slot more that
// always holds a terminator, so that an address filling the field is still a
// terminated text.
struct PortalTableEntry {
    WCHAR16 address[MAX_ISCSI_PORTAL_ADDRESS_LEN + 1];
    USHORT socket;  // 0: the entry is empty
};

// The recorded portals are the entries in front of the first empty entry.
struct PortalTable {
    PortalTableEntry entries[PORTAL_TABLE_ENTRIES];
};

extern ConnectOptions connectOptions;
extern PortalTable portalTable;

// ---- Command line and run sequence (run_sequence.cpp) ----

// The whole run: start-up report, command line, registration, target list
// and reports.  Writes only standard output; returns the exit code
// (EXIT_DONE, EXIT_FAILED or EXIT_USAGE).  Resets connectOptions and the
// PortalTable first.
int runTargetLogin(int argc, char **argv);

enum CommandLineResult {
    COMMAND_LINE_ACCEPTED,
    // A ninth address, an address or "-p" value of more than 63 bytes, or a
    // "-p" or "-s" without a value after an address (before any address it
    // is passed over): the caller prints the usage text and ends with
    // EXIT_USAGE.
    COMMAND_LINE_REFUSED
};

// Reads argv[1] .. argv[argc - 1] into *options, which the caller has reset.
// chapSecret points into argv, so argv must outlive the run.  Prints nothing.
CommandLineResult readCommandLine(int argc, char **argv, ConnectOptions *options);

// Sets every field to its initial value: no portals (each with port text
// "3260" and initiator port ISCSI_ANY_INITIATOR_PORT), no secret, no flags,
// no initiator instance.
void resetConnectOptions(ConnectOptions *options);

// Port text to number.  "0x"/"0X" and at least one more character: the rest
// read as hexadecimal in 32-bit arithmetic (any other character gives 0);
// otherwise base-10 string-to-long rules (blanks skipped, a sign, stop at the
// first non-digit, clamped to the signed 32-bit range).
int32_t parsePortText(const WCHAR16 *portText);

// ---- Send-target portal registration (portal_registration.cpp) ----

// Registers one portal as a send-target portal with connectOptions'
// initiatorInstance and, when chapSecret is set, CHAP login options.  After a
// failed add the same portal is removed again.  Returns the add's status, or
// ISDSC_ERROR_INVALID_PARAMETER without a service call for an address of
// more than 255 characters.  Prints nothing.
ISDSC_STATUS registerPortal(const WCHAR16 *address, const WCHAR16 *portText, ULONG initiatorPort);

// ---- Target information report (target_report.cpp) ----

// Empties every entry of portalTable.
void emptyPortalTable();

// Asks GetIScsiTargetInformationW for one class: first without a buffer, then
// on 122 once more with a buffer of the size asked for.  On 0 *dataSize is
// the bytes returned (never more than were allocated) and *data the buffer,
// which the caller frees with free(); with size 0, or any other status,
// *data is null.  Allocation failure gives ISDSC_ERROR_NOT_ENOUGH_MEMORY.
ISDSC_STATUS queryTargetInformation(const WCHAR16 *targetName, const WCHAR16 *mechanism,
                                    TARGET_INFORMATION_CLASS infoClass, ULONG *dataSize,
                                    unsigned char **data);

// Prints the report of one target, records its portals in portalTable and
// runs the login pass.  Returns the status that ended the report,
// NO_DISCOVERY_MECHANISM, or loginChosenPortals' result.
ISDSC_STATUS reportTarget(const WCHAR16 *targetName);

// Prints the groups and portals of portal-group data and records the first
// 16 portals in portalTable.  `groups` is the data from its byte 4 on;
// `bytesAvailable` is the size of the whole data, the 4-byte group count
// included, so no more than bytesAvailable - 4 bytes are read from `groups`.
void walkPortalGroups(ULONG groupCount, const unsigned char *groups, ULONG bytesAvailable);

// ---- Login options rendering (login_options.cpp) ----

// Prints the fields of a login-options record that its mask declares, each
// line after `prefix`.  A Username that is null prints the label and no rows;
// otherwise UsernameLength bytes are read from it, so the caller makes sure
// they lie inside its data.  The password is never read.
void printLoginOptions(const char *prefix, const ISCSI_LOGIN_OPTIONS *options);

// Hex dump of bytes[count], 16 to a row, each row after `prefix`, with the
// printable bytes (0x21 to 0x7E) beside it.  A count of 0 prints nothing.
void dumpBytes(const char *prefix, const unsigned char *bytes, ULONG count);

// ---- Target login (target_login.cpp) ----

// Logs the target in through each portalTable entry that a command-line
// portal chooses (every entry for every command-line portal with "-a").
// Returns the status of the last login tried, 0 when none was.
ISDSC_STATUS loginChosenPortals(const WCHAR16 *targetName, const WCHAR16 *initiatorInstance);

// Removes the persistent login of the target through the portal, logs in
// persistently, then at once, and prints the identifiers.  After a failed
// login the persistent login is removed again.  Sets nothing; returns 0 or
// the status of the login that failed.  initiatorInstance may be null.
ISDSC_STATUS loginTarget(const WCHAR16 *targetName, const WCHAR16 *portalAddress, USHORT socket,
                         const WCHAR16 *initiatorInstance, ULONG initiatorPort);

// The CHAP user name for a target: its name in UTF-8 (ASCII names one byte a
// character), cut after the last whole character that fits in room - 1
// bytes, then a terminator.  Returns the bytes before the terminator.
ULONG chapUserName(const WCHAR16 *targetName, char *out, ULONG room);

#endif  // TARGETLOGIN_TARGETLOGIN_H
