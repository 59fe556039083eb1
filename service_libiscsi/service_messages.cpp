// The service's message table: one text for each code of service_status.h.
#include "common/message_lookup.h"
#include "service_libiscsi/service_status.h"

namespace {

const MessageTableEntry kServiceMessages[] = {
    {SERVICE_NON_SPECIFIC_ERROR, "The initiator service failed for a reason it cannot name.\r\n"},
    {SERVICE_CONNECTION_REFUSED, "The target portal refused the connection.\r\n"},
    {SERVICE_NO_ANSWER_IN_TIME, "The target portal did not answer in time.\r\n"},
    {SERVICE_PORTAL_UNREACHABLE, "The target portal cannot be reached from this host.\r\n"},
    {SERVICE_CONNECTION_CLOSED, "The target portal closed the connection.\r\n"},
    {SERVICE_CONNECTION_FAILED, "The connection to the target portal failed.\r\n"},
    {SERVICE_NAME_NOT_FOUND, "The host name of the target portal is not known.\r\n"},
    {SERVICE_NAME_LOOKUP_FAILED, "The host name of the target portal could not be looked up.\r\n"},
    {SERVICE_NAME_LOOKUP_TIMEOUT,
     "The host name of the target portal could not be looked up in time.\r\n"},
    {SERVICE_NOT_AN_ISCSI_TARGET, "The target portal does not answer as an iSCSI target.\r\n"},
    {SERVICE_AUTHENTICATION_FAILED, "The target refused the login: authentication failed.\r\n"},
    {SERVICE_AUTHORIZATION_FAILED,
     "The target refused the login: this initiator is not authorized.\r\n"},
    {SERVICE_LOGIN_TARGET_NOT_FOUND,
     "The target refused the login: it has no target of this name.\r\n"},
    {SERVICE_LOGIN_TARGET_REMOVED,
     "The target refused the login: the target has been removed.\r\n"},
    {SERVICE_LOGIN_REDIRECTED,
     "The target redirected the login to another portal, which this service does not follow.\r\n"},
    {SERVICE_LOGIN_REJECTED, "The target refused the login.\r\n"},
    {SERVICE_TARGET_ERROR,
     "The target could not complete the login because of an error of its own.\r\n"},
    {SERVICE_TOO_MANY_CONNECTIONS,
     "The target refused the login: it has too many connections.\r\n"},
    {SERVICE_DISCOVERY_FAILED, "The target portal did not complete SendTargets discovery.\r\n"},
    {SERVICE_TARGET_NOT_FOUND, "The target is not known to the initiator service.\r\n"},
    {SERVICE_PORTAL_NOT_FOUND,
     "The send-target portal is not registered with the initiator service.\r\n"},
    {SERVICE_PERSISTENT_LOGIN_NOT_FOUND,
     "No persistent login is recorded for this target and portal.\r\n"},
    {SERVICE_MECHANISM_NOT_FOUND,
     "The target was not discovered through this discovery mechanism.\r\n"},
    {SERVICE_INITIATOR_NOT_FOUND,
     "The initiator instance is not known to the initiator service.\r\n"},
    {SERVICE_TOO_MANY_LOGINS,
     "The initiator service has made as many logins as one process may make.\r\n"},
    {SERVICE_STORE_FAILED, "The initiator service could not read or write its store.\r\n"},
    {SERVICE_STORE_BUSY,
     "The initiator service's store stayed locked by another process for too long.\r\n"},
    {SERVICE_STATE_DIRECTORY_FAILED,
     "The initiator service could not create or open its state directory.\r\n"},
    {SERVICE_INITIATOR_NAME_INVALID,
     "The initiator name in /etc/iscsi/initiatorname.iscsi is not a valid iSCSI name.\r\n"},
    {SERVICE_STORE_CONFLICT, "Another process held the initiator service's store in a way this "
                             "operation cannot wait for.\r\n"},
    {SERVICE_STATE_DIRECTORY_NOT_OWNED, "The initiator service's state directory belongs to "
                                        "another user; the service does not use it.\r\n"},
    {SERVICE_STATE_DIRECTORY_NOT_PRIVATE, "Other users may write to the initiator service's state "
                                          "directory; the service does not use it.\r\n"},
    {SERVICE_STORE_NOT_OWNED, "The initiator service's store (service.db or its -wal or -shm file) "
                              "belongs to another user; the service does not use it.\r\n"},
    {SERVICE_STORE_NOT_PRIVATE,
     "Other users may read or change the initiator service's store (service.db or its -wal or -shm "
     "file); the service does not use it.\r\n"},
    {SERVICE_STORE_IS_LINK, "The initiator service's store (service.db or its -wal or -shm file) "
                            "is a symbolic link; the service does not follow it.\r\n"},
    {SERVICE_PORTAL_KEPT_FOR_ANOTHER_RUN,
     "The send-target portal stays registered: another process registered it while this one's "
     "registration failed.\r\n"},
};

}  // namespace

ULONG lookupLibiscsiMessage(ULONG code, ULONG languageId, WCHAR16 *buffer, ULONG room)
{
    ULONG length = lookupMessageTable(
        kServiceMessages, sizeof kServiceMessages / sizeof kServiceMessages[0], code, buffer, room);
    return length != 0 ? length : lookupSupportMessage(code, languageId, buffer, room);
}
