// The initiator node name: the host's, as open-iscsi keeps it, or one the
// service generates once.
#ifndef SERVICE_LINUX_NODE_IDENTITY_H
#define SERVICE_LINUX_NODE_IDENTITY_H

#include <cstddef>

#define HOST_INITIATOR_NAME_FILE "/etc/iscsi/initiatorname.iscsi"

enum NameFileResult {
    NAME_FILE_ABSENT,  // no file, or no InitiatorName= line in it
    NAME_FILE_FOUND,   // the name is in out
    NAME_FILE_INVALID  // the line holds no valid iSCSI name
};

// Reads the first "InitiatorName=" line of an open-iscsi name file (blanks
// around the name ignored, "#" lines skipped) into out[room].
NameFileResult readInitiatorNameFile(const char *path, char *out, size_t room);

// True for an iSCSI name the service can use: 1 to 223 bytes of letters,
// digits, '.', '-' and ':', beginning with "iqn.yyyy-mm.", "eui." and 16 hex
// digits, or "naa." and 16 or 32 hex digits.
bool isValidIscsiName(const char *name);

// Writes a fresh IQN, "iqn.yyyy-mm.invalid.iscsi-tools:host-<16 hex>", into
// out[room] (room of at least 224), with the current month and random digits.
void generateInitiatorName(char *out, size_t room);

#endif  // SERVICE_LINUX_NODE_IDENTITY_H
