// The rules for iSCSI names: the host's own initiator name, and the target
// names that targets send.
#ifndef SERVICE_SUPPORT_ISCSI_NAMES_H
#define SERVICE_SUPPORT_ISCSI_NAMES_H

// True for an iSCSI name a service can use as its initiator name: 1 to 223
// bytes of letters, digits, '.', '-' and ':', beginning with "iqn.yyyy-mm.",
// "eui." and 16 hex digits, or "naa." and 16 or 32 hex digits.
bool isValidIscsiName(const char *name);

// True for a target name a service takes from a target: 1 to 223 bytes (the
// iSCSI naming rules' limit) of UTF-8 without control characters.
bool isAcceptableTargetName(const char *name);

#endif  // SERVICE_SUPPORT_ISCSI_NAMES_H
