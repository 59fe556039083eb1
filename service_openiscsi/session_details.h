// Reader of iscsiadm -m session -P 1 (and -P 3, which adds the attached
// disks): a "Target: name (non-flash)" line, then per session of it an
// indented block that starts with "Current Portal:".
#ifndef SERVICE_OPENISCSI_SESSION_DETAILS_H
#define SERVICE_OPENISCSI_SESSION_DETAILS_H

#include <cstddef>

#include "service_openiscsi/iscsiadm_lists.h"
#include "service_openiscsi/openiscsi_text.h"

// Disks kept per session; more only set moreDisks.
#define SESSION_DISKS_MAX 16
#define DISK_NAME_BYTES 32

struct SessionDetail {
    char target[OPENISCSI_NAME_BYTES];
    bool flash;
    PortalField currentPortal;     // the address connected to
    PortalField persistentPortal;  // the node record's portal
    unsigned long sid;
    char ifaceName[OPENISCSI_WORD_BYTES];
    char transport[OPENISCSI_WORD_BYTES];
    char initiatorName[OPENISCSI_NAME_BYTES];
    char ifaceAddress[OPENISCSI_ADDRESS_BYTES];      // without brackets
    char connectionState[OPENISCSI_WORD_BYTES];      // "LOGGED IN", ...
    char sessionState[OPENISCSI_WORD_BYTES];         // "LOGGED_IN", "FAILED", ...
    char disks[SESSION_DISKS_MAX][DISK_NAME_BYTES];  // "sda", ... (-P 3 only)
    size_t diskCount;
    bool moreDisks;
};

// Fills entries[capacity] with the sessions of text[length].  A session
// block counts when it has its target, a current portal and a SID; other
// blocks are counted as skipped.  Lines the reader does not know are
// ignored.
void parseSessionDetails(const char *text, size_t length, SessionDetail *entries, size_t capacity,
                         ListSummary *summary);

#endif  // SERVICE_OPENISCSI_SESSION_DETAILS_H
