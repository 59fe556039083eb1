// Status codes of the open-iscsi service, in a range of their own
// (0xEFFF01xx, apart from the embedded service's 0xEFFF00xx), each with a
// text in the table of openiscsi_messages.cpp.
//
// Exit code N of iscsiadm (1 to 32, see iscsiadm(8), EXIT STATUS) is
// 0xEFFF0100 + N; the codes from 0xEFFF0140 name what no exit code says.
#ifndef SERVICE_OPENISCSI_OPENISCSI_STATUS_H
#define SERVICE_OPENISCSI_OPENISCSI_STATUS_H

#include "common/iscsi_service.h"

#define OPENISCSI_EXIT_STATUS_BASE 0xEFFF0100u
#define OPENISCSI_HIGHEST_EXIT_CODE 32

// iscsiadm's exit codes, by their names in iscsiadm(8).
#define OPENISCSI_TOOL_FAILED 0xEFFF0101u               // 1 ISCSI_ERR
#define OPENISCSI_SESSION_NOT_FOUND 0xEFFF0102u         // 2 ISCSI_ERR_SESS_NOT_FOUND
#define OPENISCSI_TOOL_OUT_OF_MEMORY 0xEFFF0103u        // 3 ISCSI_ERR_NOMEM
#define OPENISCSI_CONNECTION_FAILED 0xEFFF0104u         // 4 ISCSI_ERR_TRANS
#define OPENISCSI_LOGIN_FAILED 0xEFFF0105u              // 5 ISCSI_ERR_LOGIN
#define OPENISCSI_RECORDS_FAILED 0xEFFF0106u            // 6 ISCSI_ERR_IDBM
#define OPENISCSI_INVALID_ARGUMENT 0xEFFF0107u          // 7 ISCSI_ERR_INVAL
#define OPENISCSI_CONNECT_TIMEOUT 0xEFFF0108u           // 8 ISCSI_ERR_TRANS_TIMEOUT
#define OPENISCSI_INTERNAL_ERROR 0xEFFF0109u            // 9 ISCSI_ERR_INTERNAL
#define OPENISCSI_LOGOUT_FAILED 0xEFFF010Au             // 10 ISCSI_ERR_LOGOUT
#define OPENISCSI_PDU_TIMEOUT 0xEFFF010Bu               // 11 ISCSI_ERR_PDU_TIMEOUT
#define OPENISCSI_TRANSPORT_NOT_FOUND 0xEFFF010Cu       // 12 ISCSI_ERR_TRANS_NOT_FOUND
#define OPENISCSI_ACCESS_DENIED 0xEFFF010Du             // 13 ISCSI_ERR_ACCESS
#define OPENISCSI_TRANSPORT_CANNOT 0xEFFF010Eu          // 14 ISCSI_ERR_TRANS_CAPS
#define OPENISCSI_SESSION_EXISTS 0xEFFF010Fu            // 15 ISCSI_ERR_SESS_EXISTS
#define OPENISCSI_INVALID_REQUEST 0xEFFF0110u           // 16 ISCSI_ERR_INVALID_MGMT_REQ
#define OPENISCSI_ISNS_UNAVAILABLE 0xEFFF0111u          // 17 ISCSI_ERR_ISNS_UNAVAILABLE
#define OPENISCSI_DAEMON_EXCHANGE_FAILED 0xEFFF0112u    // 18 ISCSI_ERR_ISCSID_COMM_ERR
#define OPENISCSI_LOGIN_REFUSED 0xEFFF0113u             // 19 ISCSI_ERR_FATAL_LOGIN
#define OPENISCSI_DAEMON_NOT_RUNNING 0xEFFF0114u        // 20 ISCSI_ERR_ISCSID_NOTCONN
#define OPENISCSI_NOTHING_FOUND 0xEFFF0115u             // 21 ISCSI_ERR_NO_OBJS_FOUND
#define OPENISCSI_SYSFS_LOOKUP_FAILED 0xEFFF0116u       // 22 ISCSI_ERR_SYSFS_LOOKUP
#define OPENISCSI_HOST_NOT_FOUND 0xEFFF0117u            // 23 ISCSI_ERR_HOST_NOT_FOUND
#define OPENISCSI_AUTHENTICATION_FAILED 0xEFFF0118u     // 24 ISCSI_ERR_LOGIN_AUTH_FAILED
#define OPENISCSI_ISNS_QUERY_FAILED 0xEFFF0119u         // 25 ISCSI_ERR_ISNS_QUERY
#define OPENISCSI_ISNS_REGISTRATION_FAILED 0xEFFF011Au  // 26 ISCSI_ERR_ISNS_REG_FAILED
#define OPENISCSI_NOT_SUPPORTED 0xEFFF011Bu             // 27 ISCSI_ERR_OP_NOT_SUPP
#define OPENISCSI_BUSY 0xEFFF011Cu                      // 28 ISCSI_ERR_BUSY
#define OPENISCSI_TRY_AGAIN 0xEFFF011Du                 // 29 ISCSI_ERR_AGAIN
#define OPENISCSI_UNKNOWN_DISCOVERY_TYPE 0xEFFF011Eu    // 30 ISCSI_ERR_UNKNOWN_DISCOVERY_TYPE
#define OPENISCSI_CHILD_TERMINATED 0xEFFF011Fu          // 31 ISCSI_ERR_CHILD_TERMINATED
#define OPENISCSI_SESSION_NOT_CONNECTED 0xEFFF0120u     // 32 ISCSI_ERR_SESSION_NOT_CONNECTED

// What no exit code says.
#define OPENISCSI_UNKNOWN_EXIT_CODE 0xEFFF0140u   // an exit code not listed above
#define OPENISCSI_TOOL_TIMED_OUT 0xEFFF0141u      // the step's deadline ended iscsiadm
#define OPENISCSI_TOOL_NOT_STARTED 0xEFFF0142u    // iscsiadm could not be started
#define OPENISCSI_TOOL_KILLED 0xEFFF0143u         // iscsiadm ended by a signal
#define OPENISCSI_TOOL_NOT_INSTALLED 0xEFFF0144u  // no iscsiadm in the system folders
#define OPENISCSI_OUTPUT_UNREADABLE 0xEFFF0145u   // its output has not the expected form
#define OPENISCSI_OUTPUT_TOO_LARGE 0xEFFF0146u    // its output passed the bound
#define OPENISCSI_CONNECTION_REFUSED 0xEFFF0147u  // read from iscsiadm's messages
#define OPENISCSI_PORTAL_UNREACHABLE 0xEFFF0148u  // read from iscsiadm's messages
#define OPENISCSI_NO_LOGIN_RESPONSE 0xEFFF0149u   // read from iscsiadm's messages
#define OPENISCSI_ARGUMENT_REFUSED 0xEFFF014Au    // a value iscsiadm must not be given

// Why the service cannot work on this host (its availability).
#define OPENISCSI_NEEDS_ROOT 0xEFFF014Bu        // the process is not root
#define OPENISCSI_NO_TCP_TRANSPORT 0xEFFF014Cu  // iscsi_tcp neither loaded nor a module
#define OPENISCSI_MODULES_DISABLED 0xEFFF014Du  // iscsi_tcp a module, loading disabled

// What the records and sessions of open-iscsi do not hold.
#define OPENISCSI_PORTAL_NOT_FOUND 0xEFFF014Eu            // no discovery record of it
#define OPENISCSI_TARGET_NOT_FOUND 0xEFFF014Fu            // no node record of it
#define OPENISCSI_PERSISTENT_LOGIN_NOT_FOUND 0xEFFF0150u  // no automatic node record
#define OPENISCSI_MECHANISM_NOT_FOUND 0xEFFF0151u         // not how the target was found
#define OPENISCSI_INSTANCE_NOT_FOUND 0xEFFF0152u          // names no iface of ours
#define OPENISCSI_SESSION_NOT_SEEN 0xEFFF0153u            // login done, no kernel session

// The host's initiator name file.
#define OPENISCSI_NO_INITIATOR_NAME 0xEFFF0154u  // no /etc/iscsi/initiatorname.iscsi
#define OPENISCSI_INITIATOR_NAME_UNREADABLE 0xEFFF0155u
#define OPENISCSI_INITIATOR_NAME_UNUSABLE 0xEFFF0156u  // no usable InitiatorName= line

// A portal was removed, but a node record it took along could not be made
// again.
#define OPENISCSI_RECORDS_NOT_KEPT 0xEFFF0157u
// iscsid could not be reached before a record was to be made.
#define OPENISCSI_DAEMON_UNREACHABLE 0xEFFF0158u

// The highest code with a text.
#define OPENISCSI_LAST_STATUS OPENISCSI_DAEMON_UNREACHABLE

// Renders the text of one of the codes above into buffer[room] as
// lookupMessageTable does; 0 for any other code.
ULONG lookupOpeniscsiMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room);

#endif  // SERVICE_OPENISCSI_OPENISCSI_STATUS_H
