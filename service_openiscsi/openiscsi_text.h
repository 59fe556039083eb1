// Pieces every reader of iscsiadm's output shares: lines of a bounded
// buffer, fields copied with a bound, decimal numbers and the portal texts
// "address:port,tag" as iscsiadm prints them.  The input may be anything:
// nothing here reads past the length it is given or writes past a room.
#ifndef SERVICE_OPENISCSI_OPENISCSI_TEXT_H
#define SERVICE_OPENISCSI_OPENISCSI_TEXT_H

#include <cstddef>

// An iSCSI name: 223 bytes and the terminator.
#define OPENISCSI_NAME_BYTES 224
// A host name or address: 253 bytes of name, or an IPv6 address with a zone.
#define OPENISCSI_ADDRESS_BYTES 256
// Short words: transports, iface names, states.
#define OPENISCSI_WORD_BYTES 128
// A value of a record printout.
#define OPENISCSI_VALUE_BYTES 512

// The tag of a record made without one; iscsiadm prints it as -1 or, in
// node lists, as 4294967295.
#define OPENISCSI_NO_TAG (-1L)

struct LineCursor {
    const char *text;
    size_t length;
    size_t position;
};

void startLines(LineCursor *cursor, const char *text, size_t length);

// The next line of the buffer, without its "\n" and a "\r" before that.
// False at the end.  A line may hold any byte, NUL included.
bool nextLine(LineCursor *cursor, const char **line, size_t *lineLength);

// Copies bytes[length] into out[room] with a terminator.  False (out empty)
// when it does not fit or holds a control byte (below 0x20, or 0x7f).
bool copyField(const char *bytes, size_t length, char *out, size_t room);

// Like copyField, but iscsiadm's "<empty>" becomes the empty text.
bool copyValue(const char *bytes, size_t length, char *out, size_t room);

// True when bytes[length] is exactly `word`.
bool fieldIs(const char *bytes, size_t length, const char *word);

// Reads bytes[length] as decimal digits only, at most `maximum`.
bool parseDecimal(const char *bytes, size_t length, unsigned long maximum, unsigned long *value);

// The address, port and tag of one portal text.
struct PortalField {
    char address[OPENISCSI_ADDRESS_BYTES];  // without brackets
    unsigned port;                          // 1 to 65535
    long tag;                               // 0 to 65535, or OPENISCSI_NO_TAG
};

// Reads "address:port,tag" (tagged) or "address:port" (not tagged).  An IPv6
// address is in brackets ("[::1]:3260,1"), or bare where iscsiadm prints it
// so ("::1:3260" in discovery lists: the port follows the last colon).  The
// address holds letters, digits and ".:%_-" only.  False for anything else.
bool parsePortalField(const char *bytes, size_t length, bool tagged, PortalField *out);

#endif  // SERVICE_OPENISCSI_OPENISCSI_TEXT_H
