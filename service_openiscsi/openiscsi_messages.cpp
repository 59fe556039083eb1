// The open-iscsi service's message table: one text for each code of
// openiscsi_status.h.
#include "common/message_lookup.h"
#include "service_openiscsi/openiscsi_status.h"

namespace {

const MessageTableEntry kOpeniscsiMessages[] = {
    {OPENISCSI_TOOL_FAILED,
     "The host's iSCSI initiator (iscsiadm) failed for a reason it does not name.\r\n"},
    {OPENISCSI_SESSION_NOT_FOUND, "The host's iSCSI initiator has no such session.\r\n"},
    {OPENISCSI_TOOL_OUT_OF_MEMORY, "The host's iSCSI initiator ran out of memory.\r\n"},
    {OPENISCSI_CONNECTION_FAILED,
     "The host's iSCSI initiator could not connect to the target portal.\r\n"},
    {OPENISCSI_LOGIN_FAILED, "The login to the target failed.\r\n"},
    {OPENISCSI_RECORDS_FAILED,
     "The host's iSCSI initiator could not read or write its records in /etc/iscsi.\r\n"},
    {OPENISCSI_INVALID_ARGUMENT, "The host's iSCSI initiator refused an argument as invalid.\r\n"},
    {OPENISCSI_CONNECT_TIMEOUT, "The connection to the target portal was not made in time.\r\n"},
    {OPENISCSI_INTERNAL_ERROR,
     "The host's iSCSI daemon or kernel reported an internal failure.\r\n"},
    {OPENISCSI_LOGOUT_FAILED, "The logout from the target failed.\r\n"},
    {OPENISCSI_PDU_TIMEOUT, "The target portal did not answer in time.\r\n"},
    {OPENISCSI_TRANSPORT_NOT_FOUND, "The kernel's iSCSI transport is not loaded on this host.\r\n"},
    {OPENISCSI_ACCESS_DENIED,
     "The host's iSCSI initiator needs administrator rights for this.\r\n"},
    {OPENISCSI_TRANSPORT_CANNOT,
     "The kernel's iSCSI transport does not support this operation.\r\n"},
    {OPENISCSI_SESSION_EXISTS, "A session to the target through this portal already exists.\r\n"},
    {OPENISCSI_INVALID_REQUEST, "The host's iSCSI daemon refused the request as invalid.\r\n"},
    {OPENISCSI_ISNS_UNAVAILABLE,
     "The iSNS service is not supported by the host's iSCSI initiator.\r\n"},
    {OPENISCSI_DAEMON_EXCHANGE_FAILED,
     "The exchange with the host's iSCSI daemon (iscsid) failed.\r\n"},
    {OPENISCSI_LOGIN_REFUSED, "The target refused the login, and a retry would not help.\r\n"},
    {OPENISCSI_DAEMON_NOT_RUNNING, "The host's iSCSI daemon (iscsid) is not running.\r\n"},
    {OPENISCSI_NOTHING_FOUND, "The host's iSCSI initiator has no matching record or session.\r\n"},
    {OPENISCSI_SYSFS_LOOKUP_FAILED,
     "The host's iSCSI initiator could not find the object in /sys.\r\n"},
    {OPENISCSI_HOST_NOT_FOUND, "The host's iSCSI initiator could not find the SCSI host.\r\n"},
    {OPENISCSI_AUTHENTICATION_FAILED, "The target refused the login: authentication failed.\r\n"},
    {OPENISCSI_ISNS_QUERY_FAILED, "The iSNS query failed.\r\n"},
    {OPENISCSI_ISNS_REGISTRATION_FAILED, "The iSNS registration failed.\r\n"},
    {OPENISCSI_NOT_SUPPORTED, "The host's iSCSI initiator does not support this operation.\r\n"},
    {OPENISCSI_BUSY, "The device or resource is in use.\r\n"},
    {OPENISCSI_TRY_AGAIN, "The operation failed for now; it may succeed if tried again later.\r\n"},
    {OPENISCSI_UNKNOWN_DISCOVERY_TYPE,
     "The host's iSCSI initiator does not know this discovery type.\r\n"},
    {OPENISCSI_CHILD_TERMINATED, "A process of the host's iSCSI initiator ended unexpectedly.\r\n"},
    {OPENISCSI_SESSION_NOT_CONNECTED, "The session is most likely not connected.\r\n"},
    {OPENISCSI_UNKNOWN_EXIT_CODE,
     "The host's iSCSI initiator (iscsiadm) failed with an exit code this tool does not know.\r\n"},
    {OPENISCSI_TOOL_TIMED_OUT,
     "The host's iSCSI initiator (iscsiadm) did not finish in time and was stopped.\r\n"},
    {OPENISCSI_TOOL_NOT_STARTED, "The host's iSCSI initiator (iscsiadm) could not be started.\r\n"},
    {OPENISCSI_TOOL_KILLED, "The host's iSCSI initiator (iscsiadm) was ended by a signal.\r\n"},
    {OPENISCSI_TOOL_NOT_INSTALLED,
     "The host's iSCSI initiator (iscsiadm of open-iscsi) is not installed.\r\n"},
    {OPENISCSI_OUTPUT_UNREADABLE,
     "The host's iSCSI initiator (iscsiadm) printed an answer this tool cannot read.\r\n"},
    {OPENISCSI_OUTPUT_TOO_LARGE,
     "The host's iSCSI initiator (iscsiadm) printed more than this tool reads.\r\n"},
    {OPENISCSI_CONNECTION_REFUSED, "The target portal refused the connection.\r\n"},
    {OPENISCSI_PORTAL_UNREACHABLE, "The target portal cannot be reached from this host.\r\n"},
    {OPENISCSI_NO_LOGIN_RESPONSE,
     "The target portal accepted the connection but did not answer the login.\r\n"},
    {OPENISCSI_ARGUMENT_REFUSED,
     "A name, address or secret holds characters the host's iSCSI initiator cannot store.\r\n"},
    {OPENISCSI_NEEDS_ROOT,
     "The host's iSCSI initiator (open-iscsi) can be driven by root only, and this tool does "
     "not run as root.\r\n"},
    {OPENISCSI_NO_TCP_TRANSPORT,
     "The kernel has no iSCSI TCP transport: iscsi_tcp is not loaded and is no module of the "
     "running kernel.\r\n"},
    {OPENISCSI_MODULES_DISABLED,
     "The kernel's iSCSI TCP transport (iscsi_tcp) is not loaded, and this kernel loads no more "
     "modules.\r\n"},
    {OPENISCSI_PORTAL_NOT_FOUND,
     "The host's iSCSI initiator has no send-target portal at this address and port.\r\n"},
    {OPENISCSI_TARGET_NOT_FOUND, "The host's iSCSI initiator has no record of this target.\r\n"},
    {OPENISCSI_PERSISTENT_LOGIN_NOT_FOUND,
     "The target has no persistent login through this portal.\r\n"},
    {OPENISCSI_MECHANISM_NOT_FOUND,
     "The target was not found through this discovery mechanism.\r\n"},
    {OPENISCSI_INSTANCE_NOT_FOUND,
     "The initiator instance names no interface of the host's iSCSI initiator.\r\n"},
    {OPENISCSI_SESSION_NOT_SEEN,
     "The login succeeded, but the kernel shows no session of the target through this "
     "portal.\r\n"},
    {OPENISCSI_NO_INITIATOR_NAME,
     "The host has no initiator name: /etc/iscsi/initiatorname.iscsi is missing.\r\n"},
    {OPENISCSI_INITIATOR_NAME_UNREADABLE,
     "The initiator name file /etc/iscsi/initiatorname.iscsi cannot be read.\r\n"},
    {OPENISCSI_INITIATOR_NAME_UNUSABLE,
     "The initiator name file /etc/iscsi/initiatorname.iscsi holds no usable "
     "InitiatorName.\r\n"},
    {OPENISCSI_RECORDS_NOT_KEPT,
     "The send-target portal was removed, but the node records of its persistent logins could "
     "not all be kept.\r\n"},
    {OPENISCSI_DAEMON_UNREACHABLE,
     "The host's iSCSI daemon (iscsid) cannot be reached, so no record is made now (it would "
     "lack the settings of iscsid.conf).\r\n"},
};

}  // namespace

ULONG lookupOpeniscsiMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    (void)languageId;  // one language
    return lookupMessageTable(kOpeniscsiMessages,
                              sizeof kOpeniscsiMessages / sizeof kOpeniscsiMessages[0], code,
                              buffer, room);
}
