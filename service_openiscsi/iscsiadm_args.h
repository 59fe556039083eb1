// The argument vectors of the iscsiadm calls the open-iscsi service makes,
// one builder per action.  A builder checks every value it is given and
// copies it into the command, so a command may be kept and copied freely;
// commandArgv turns it into the vector runChild takes.
//
// Values reach iscsiadm's record files as "name = value" lines: a value with
// a line break could add lines of its own, so control bytes are refused
// everywhere.  A CHAP secret is an argument like any other: whoever can list
// this host's processes sees it while iscsiadm runs, and iscsiadm keeps it
// in the root-only record files under /etc/iscsi.
#ifndef SERVICE_OPENISCSI_ISCSIADM_ARGS_H
#define SERVICE_OPENISCSI_ISCSIADM_ARGS_H

#include <cstddef>

#include "service_openiscsi/openiscsi_text.h"

#define ISCSIADM_MAX_ARGUMENTS 32
#define ISCSIADM_TEXT_BYTES 2048
// A CHAP name or secret: iscsiadm keeps at most 255 bytes.
#define OPENISCSI_CHAP_BYTES 256
// An iface name: iscsiadm keeps at most 64 bytes.
#define OPENISCSI_IFACE_BYTES 65

struct IscsiadmCommand {
    char text[ISCSIADM_TEXT_BYTES];  // the arguments, each ended by a NUL
    size_t used;
    size_t offsets[ISCSIADM_MAX_ARGUMENTS];  // start of each argument in text
    size_t count;                            // arguments, "iscsiadm" first
};

// A portal as the service names it.
struct OpeniscsiPortal {
    const char *address;  // host name, IPv4 or IPv6 address (without brackets)
    unsigned port;        // 1 to 65535
};

// Fills argv[room] with pointers into command's text and a null pointer
// after the last; false when room is too small.  argv stays valid while
// command is neither changed nor freed.
bool commandArgv(const IscsiadmCommand *command, const char **argv, size_t room);

// Every builder below starts `command` afresh and returns false (command
// empty) when a value is refused: a portal address other than letters,
// digits and ".:%_-", a port of 0, a target name empty, over 223 bytes or
// with a blank, an iface name other than 1 to 64 letters, digits and "._:-",
// a CHAP value of 256 bytes or more, any control byte.  `iface` may be null
// (iscsiadm's default iface).

// iscsiadm --version
bool buildVersion(IscsiadmCommand *command);

// -m discoverydb -t st -p PORTAL -o new: a send-targets discovery record.
// Over an existing record this resets its settings (CHAP included), so the
// caller states them again after it.
bool buildDiscoveryNew(IscsiadmCommand *command, const OpeniscsiPortal &portal);

enum DiscoverySetting {
    DISCOVERY_AUTHMETHOD,   // discovery.sendtargets.auth.authmethod: "None" or "CHAP"
    DISCOVERY_USERNAME,     // discovery.sendtargets.auth.username
    DISCOVERY_PASSWORD,     // discovery.sendtargets.auth.password
    DISCOVERY_USERNAME_IN,  // discovery.sendtargets.auth.username_in (mutual CHAP)
    DISCOVERY_PASSWORD_IN   // discovery.sendtargets.auth.password_in
};

// -m discoverydb -t st -p PORTAL -o update -n NAME -v VALUE
bool buildDiscoveryUpdate(IscsiadmCommand *command, const OpeniscsiPortal &portal,
                          DiscoverySetting setting, const char *value);

struct DiscoverySettingValue {
    DiscoverySetting setting;
    const char *value;
};

// The same with up to SETTINGS_PER_UPDATE "-n NAME -v VALUE" pairs in one
// call (iscsiadm applies them all, or none when one is refused).
#define SETTINGS_PER_UPDATE 4
bool buildDiscoveryUpdates(IscsiadmCommand *command, const OpeniscsiPortal &portal,
                           const DiscoverySettingValue *settings, size_t count);

// -m discoverydb -t st -p PORTAL [-I IFACE] --discover -o new: discovery
// that adds node records for new targets and leaves existing ones as they
// are (a discovery without "-o new" resets their node.startup and CHAP).
bool buildDiscover(IscsiadmCommand *command, const OpeniscsiPortal &portal, const char *iface);

// -m discoverydb -t st -p PORTAL -o delete.  iscsiadm deletes the node
// records found through it too, those with a session or node.startup
// automatic included.
bool buildDiscoveryDelete(IscsiadmCommand *command, const OpeniscsiPortal &portal);

// -m discoverydb (all records) and -m discoverydb -t st -p PORTAL (one
// record's printout).
bool buildDiscoveryList(IscsiadmCommand *command);
bool buildDiscoveryShow(IscsiadmCommand *command, const OpeniscsiPortal &portal);

// -m node (all records) and -m node -T TARGET -p PORTAL [-I IFACE].
bool buildNodeList(IscsiadmCommand *command);
bool buildNodeShow(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                   const char *iface);

// -m node -o show: every node record printed whole, one after the other.
bool buildNodeShowAll(IscsiadmCommand *command);

// -m node -T TARGET -p PORTAL [-I IFACE] -S: the printout with the CHAP
// secrets in the clear (iscsiadm's --show), for a record that is to be made
// again.
bool buildNodeShowSecrets(IscsiadmCommand *command, const char *target,
                          const OpeniscsiPortal &portal, const char *iface);

// -m node -o new -T TARGET -p PORTAL[,TAG] [-I IFACE]: a record made by hand
// (a "static" one, found through no discovery); tag OPENISCSI_NO_TAG for
// none, else 0 to 65535.
bool buildNodeNew(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                  long tag, const char *iface);

enum NodeSetting {
    NODE_STARTUP,      // node.startup: "manual" or "automatic"
    NODE_AUTHMETHOD,   // node.session.auth.authmethod: "None" or "CHAP"
    NODE_USERNAME,     // node.session.auth.username
    NODE_PASSWORD,     // node.session.auth.password
    NODE_USERNAME_IN,  // node.session.auth.username_in (mutual CHAP)
    NODE_PASSWORD_IN   // node.session.auth.password_in
};

// -m node -T TARGET -p PORTAL [-I IFACE] -o update -n NAME -v VALUE.
// NODE_STARTUP takes "manual" or "automatic" only, the authmethods "None"
// or "CHAP" only.
bool buildNodeUpdate(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                     const char *iface, NodeSetting setting, const char *value);

struct NodeSettingValue {
    NodeSetting setting;
    const char *value;
};

// The same with 1 to SETTINGS_PER_UPDATE pairs in one call.
bool buildNodeUpdates(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                      const char *iface, const NodeSettingValue *settings, size_t count);

// -m node -T TARGET -p PORTAL [-I IFACE] --login / --logout / -o delete.
bool buildLogin(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                const char *iface);
bool buildLogout(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                 const char *iface);
bool buildNodeDelete(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                     const char *iface);

// -m session (printLevel -1), or -m session -P LEVEL (0 to 3) for the
// details.
bool buildSessionList(IscsiadmCommand *command, int printLevel);

// -m session -r SID -u: the logout of one session by its identifier, for a
// session whose node record is gone.
bool buildSessionLogout(IscsiadmCommand *command, unsigned long sid);

// -m iface
bool buildIfaceList(IscsiadmCommand *command);

#endif  // SERVICE_OPENISCSI_ISCSIADM_ARGS_H
