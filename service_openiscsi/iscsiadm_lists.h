// Readers of iscsiadm's one-line-per-object outputs: --version, -m node,
// -m session, -m iface and -m discoverydb.  Each fills a caller's array and
// a summary; a line that does not have the expected form is skipped and
// counted, never half-used.
#ifndef SERVICE_OPENISCSI_ISCSIADM_LISTS_H
#define SERVICE_OPENISCSI_ISCSIADM_LISTS_H

#include <cstddef>

#include "service_openiscsi/openiscsi_text.h"

struct ListSummary {
    size_t count;    // entries written
    size_t skipped;  // lines of another form (empty lines are not counted)
    bool overflow;   // more entries than the array holds; the rest dropped
};

struct IscsiadmVersion {
    unsigned long major;
    unsigned long minor;
    unsigned long patch;              // 0 when the version has two numbers
    char text[OPENISCSI_WORD_BYTES];  // as printed, "2.1.8"
};

// "iscsiadm version 2.1.8" (also "2.0-874", "2.1.9-1": numbers joined by
// "." or "-", of which the first three are kept).  False for anything else.
bool parseVersion(const char *text, size_t length, IscsiadmVersion *out);

// -m node: "address:port,tag target".
struct NodeEntry {
    PortalField portal;
    char target[OPENISCSI_NAME_BYTES];
};
void parseNodeList(const char *text, size_t length, NodeEntry *entries, size_t capacity,
                   ListSummary *summary);

// -m session: "transport: [sid] address:port,tag target (non-flash)"; the
// "(flash)"/"(non-flash)" word may be absent.
struct SessionEntry {
    char transport[OPENISCSI_WORD_BYTES];
    unsigned long sid;
    PortalField portal;
    char target[OPENISCSI_NAME_BYTES];
    bool flash;
};
void parseSessionList(const char *text, size_t length, SessionEntry *entries, size_t capacity,
                      ListSummary *summary);

// -m iface: "name transport,hwaddress,ipaddress,net_ifacename,initiatorname"
// with "<empty>" for an empty field.
struct IfaceEntry {
    char name[OPENISCSI_WORD_BYTES];
    char transport[OPENISCSI_WORD_BYTES];
    char hwaddress[OPENISCSI_WORD_BYTES];
    char ipaddress[OPENISCSI_ADDRESS_BYTES];
    char netIfacename[OPENISCSI_WORD_BYTES];
    char initiatorName[OPENISCSI_NAME_BYTES];
};
void parseIfaceList(const char *text, size_t length, IfaceEntry *entries, size_t capacity,
                    ListSummary *summary);

// -m discoverydb: "address:port via type" (an IPv6 address without
// brackets).
struct DiscoveryEntry {
    PortalField portal;               // tag is OPENISCSI_NO_TAG
    char type[OPENISCSI_WORD_BYTES];  // "sendtargets", "isns", ...
};
void parseDiscoveryList(const char *text, size_t length, DiscoveryEntry *entries, size_t capacity,
                        ListSummary *summary);

#endif  // SERVICE_OPENISCSI_ISCSIADM_LISTS_H
