// Reader of open-iscsi's initiator name file, /etc/iscsi/initiatorname.iscsi:
// "#" comment lines and one "InitiatorName=<name>" line (the package writes
// it at install time; iscsid will not start without it).
#ifndef SERVICE_SUPPORT_INITIATOR_NAME_FILE_H
#define SERVICE_SUPPORT_INITIATOR_NAME_FILE_H

#include <cstddef>

#define HOST_INITIATOR_NAME_FILE "/etc/iscsi/initiatorname.iscsi"
// More than this is not an initiator name file; only this much is read.
#define INITIATOR_NAME_FILE_LIMIT 65536

enum InitiatorNameRead {
    INITIATOR_NAME_READ,        // the name is in out
    INITIATOR_NAME_NO_FILE,     // the file is not there
    INITIATOR_NAME_UNREADABLE,  // it could not be opened or read
    INITIATOR_NAME_ABSENT,      // no InitiatorName= line
    INITIATOR_NAME_MALFORMED    // the first such line holds no usable name
};

// Finds the first "InitiatorName=" line of text[length] (blanks before the
// key and around the name allowed; lines beginning with "#" skipped) and
// copies the name into out[room].  A usable name has 1 to 223 bytes and no
// blank or control byte; whether it is a valid iSCSI name is the caller's
// question.
InitiatorNameRead parseInitiatorNameText(const char *text, size_t length, char *out, size_t room);

// Reads up to INITIATOR_NAME_FILE_LIMIT bytes of `path` and parses them.
InitiatorNameRead readInitiatorNameFile(const char *path, char *out, size_t room);

#endif  // SERVICE_SUPPORT_INITIATOR_NAME_FILE_H
