// Readers of iscsiadm's record printouts (-m node -T -p, -m discoverydb -t
// st -p): "# BEGIN RECORD 2.1.8", then "name = value" lines with "<empty>"
// for an empty value, then "# END RECORD".  One call may print several
// records (one per iface of a node).  iscsiadm prints every secret as
// "********", so no secret is ever read back.
#ifndef SERVICE_OPENISCSI_ISCSIADM_RECORDS_H
#define SERVICE_OPENISCSI_ISCSIADM_RECORDS_H

#include <cstddef>

#include "service_openiscsi/openiscsi_text.h"

enum FieldLookup {
    FIELD_FOUND,
    FIELD_MISSING,
    FIELD_UNREADABLE  // present but too long for the room, or with control bytes
};

// Finds the first "name = value" line of text[length] whose name is `name`
// and copies its value ("<empty>" as "") into value[room].
FieldLookup findRecordField(const char *text, size_t length, const char *name, char *value,
                            size_t room);

// Splits text[length] into its records: each call gives the next record's
// lines (between BEGIN and END, or to the end of the text when END is
// missing).  *position starts at 0.  False when no record is left.
bool nextRecord(const char *text, size_t length, size_t *position, const char **record,
                size_t *recordLength);

enum NodeStartup {
    STARTUP_UNKNOWN,
    STARTUP_MANUAL,
    STARTUP_AUTOMATIC,
    STARTUP_ONBOOT
};

struct NodeRecordFields {
    char name[OPENISCSI_NAME_BYTES];                 // node.name
    long tag;                                        // node.tpgt, OPENISCSI_NO_TAG for -1
    NodeStartup startup;                             // node.startup
    char ifaceName[OPENISCSI_WORD_BYTES];            // iface.iscsi_ifacename
    char discoveryAddress[OPENISCSI_ADDRESS_BYTES];  // node.discovery_address, may be ""
    unsigned discoveryPort;                          // node.discovery_port, 0 when none
    char discoveryType[OPENISCSI_WORD_BYTES];        // node.discovery_type
    char address[OPENISCSI_ADDRESS_BYTES];           // node.conn[0].address
    unsigned port;                                   // node.conn[0].port
    char authMethod[OPENISCSI_WORD_BYTES];           // node.session.auth.authmethod
    char username[OPENISCSI_VALUE_BYTES];            // node.session.auth.username
    bool passwordSet;                                // node.session.auth.password not empty
    char usernameIn[OPENISCSI_VALUE_BYTES];          // node.session.auth.username_in
    bool passwordInSet;
};

// Reads one node record (as nextRecord gives it).  node.name,
// node.conn[0].address and node.conn[0].port must be there and readable;
// any other field missing or unreadable is left empty (0, STARTUP_UNKNOWN).
bool parseNodeRecord(const char *record, size_t length, NodeRecordFields *out);

struct DiscoveryRecordFields {
    char type[OPENISCSI_WORD_BYTES];        // discovery.type
    char address[OPENISCSI_ADDRESS_BYTES];  // discovery.sendtargets.address
    unsigned port;                          // discovery.sendtargets.port
    char authMethod[OPENISCSI_WORD_BYTES];  // discovery.sendtargets.auth.authmethod
    char username[OPENISCSI_VALUE_BYTES];   // discovery.sendtargets.auth.username
    bool passwordSet;
};

// Reads one send-targets discovery record; type, address and port must be
// there and readable.
bool parseDiscoveryRecord(const char *record, size_t length, DiscoveryRecordFields *out);

#endif  // SERVICE_OPENISCSI_ISCSIADM_RECORDS_H
