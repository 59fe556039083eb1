#include "service_openiscsi/iscsiadm_args.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const kDiscoverySettingNames[] = {
    "discovery.sendtargets.auth.authmethod", "discovery.sendtargets.auth.username",
    "discovery.sendtargets.auth.password", "discovery.sendtargets.auth.username_in",
    "discovery.sendtargets.auth.password_in"};

const char *const kNodeSettingNames[] = {"node.startup",
                                         "node.session.auth.authmethod",
                                         "node.session.auth.username",
                                         "node.session.auth.password",
                                         "node.session.auth.username_in",
                                         "node.session.auth.password_in"};

bool hasControlByte(const char *text)
{
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c != 0; c++)
        if (*c < 0x20 || *c == 0x7f)
            return true;
    return false;
}

bool onlyBytesOf(const char *text, const char *extra)
{
    for (const char *c = text; *c != 0; c++) {
        bool plain =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (!plain && strchr(extra, *c) == nullptr)
            return false;
    }
    return true;
}

bool validTarget(const char *target)
{
    return target != nullptr && target[0] != 0 && strlen(target) < OPENISCSI_NAME_BYTES &&
           !hasControlByte(target) && strchr(target, ' ') == nullptr;
}

bool validIface(const char *iface)
{
    return iface == nullptr ||
           (iface[0] != 0 && strlen(iface) < OPENISCSI_IFACE_BYTES && onlyBytesOf(iface, "._:-"));
}

bool validChapValue(const char *value)
{
    return value != nullptr && strlen(value) < OPENISCSI_CHAP_BYTES && !hasControlByte(value);
}

bool isOneOf(const char *value, const char *first, const char *second)
{
    return value != nullptr && (strcmp(value, first) == 0 || strcmp(value, second) == 0);
}

void reset(IscsiadmCommand *command)
{
    command->used = 0;
    command->count = 0;
    command->text[0] = 0;
}

// Appends each argument; on any failure the command is left empty.
bool add(IscsiadmCommand *command, const char *argument)
{
    size_t length = strlen(argument);
    if (command->count == ISCSIADM_MAX_ARGUMENTS ||
        length + 1 > ISCSIADM_TEXT_BYTES - command->used) {
        reset(command);
        return false;
    }
    command->offsets[command->count++] = command->used;
    memcpy(command->text + command->used, argument, length + 1);
    command->used += length + 1;
    return true;
}

bool addAll(IscsiadmCommand *command, const char *const *arguments, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (!add(command, arguments[i]))
            return false;
    return true;
}

// "iscsiadm" and the fixed words.
template <size_t N>
bool start(IscsiadmCommand *command, const char *const (&words)[N])
{
    reset(command);
    return add(command, "iscsiadm") && addAll(command, words, N);
}

// "-p address:port[,tag]", IPv6 in brackets; no tag for OPENISCSI_NO_TAG.
bool addTaggedPortal(IscsiadmCommand *command, const OpeniscsiPortal &portal, long tag)
{
    char text[OPENISCSI_ADDRESS_BYTES + 16];
    if (portal.address == nullptr || portal.address[0] == 0 || portal.port == 0 ||
        portal.port > 65535 || strlen(portal.address) >= OPENISCSI_ADDRESS_BYTES ||
        !onlyBytesOf(portal.address, ".:%_-") || tag < OPENISCSI_NO_TAG || tag > 65535) {
        reset(command);
        return false;
    }
    bool bracketed = strchr(portal.address, ':') != nullptr;
    int length =
        snprintf(text, sizeof text, bracketed ? "[%s]:%u" : "%s:%u", portal.address, portal.port);
    if (tag != OPENISCSI_NO_TAG)
        snprintf(text + length, sizeof text - static_cast<size_t>(length), ",%ld", tag);
    return add(command, "-p") && add(command, text);
}

bool addPortal(IscsiadmCommand *command, const OpeniscsiPortal &portal)
{
    return addTaggedPortal(command, portal, OPENISCSI_NO_TAG);
}

// "-n NAME -v VALUE"
bool addPair(IscsiadmCommand *command, const char *name, const char *value)
{
    return add(command, "-n") && add(command, name) && add(command, "-v") && add(command, value);
}

bool addIface(IscsiadmCommand *command, const char *iface)
{
    return iface == nullptr || (add(command, "-I") && add(command, iface));
}

// -m node -T TARGET -p PORTAL [-I IFACE]
bool startNode(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
               const char *iface)
{
    static const char *const kWords[] = {"-m", "node", "-T"};
    if (!validTarget(target) || !validIface(iface)) {
        reset(command);
        return false;
    }
    return start(command, kWords) && add(command, target) && addPortal(command, portal) &&
           addIface(command, iface);
}

// -m discoverydb -t st -p PORTAL
bool startDiscovery(IscsiadmCommand *command, const OpeniscsiPortal &portal)
{
    static const char *const kWords[] = {"-m", "discoverydb", "-t", "st"};
    return start(command, kWords) && addPortal(command, portal);
}

bool finish(IscsiadmCommand *command, bool built)
{
    if (!built)
        reset(command);
    return built;
}

}  // namespace

bool commandArgv(const IscsiadmCommand *command, const char **argv, size_t room)
{
    if (room < command->count + 1)
        return false;
    for (size_t i = 0; i < command->count; i++)
        argv[i] = command->text + command->offsets[i];
    argv[command->count] = nullptr;
    return true;
}

bool buildVersion(IscsiadmCommand *command)
{
    static const char *const kWords[] = {"--version"};
    return finish(command, start(command, kWords));
}

bool buildDiscoveryNew(IscsiadmCommand *command, const OpeniscsiPortal &portal)
{
    return finish(command,
                  startDiscovery(command, portal) && add(command, "-o") && add(command, "new"));
}

bool buildDiscoveryUpdate(IscsiadmCommand *command, const OpeniscsiPortal &portal,
                          DiscoverySetting setting, const char *value)
{
    DiscoverySettingValue one = {setting, value};
    return buildDiscoveryUpdates(command, portal, &one, 1);
}

bool buildDiscoveryUpdates(IscsiadmCommand *command, const OpeniscsiPortal &portal,
                           const DiscoverySettingValue *settings, size_t count)
{
    bool built = count >= 1 && count <= SETTINGS_PER_UPDATE && startDiscovery(command, portal) &&
                 add(command, "-o") && add(command, "update");
    for (size_t i = 0; built && i < count; i++) {
        size_t index = static_cast<size_t>(settings[i].setting);
        const char *value = settings[i].value;
        built = index < sizeof kDiscoverySettingNames / sizeof kDiscoverySettingNames[0] &&
                validChapValue(value) &&
                (settings[i].setting != DISCOVERY_AUTHMETHOD || isOneOf(value, "None", "CHAP")) &&
                addPair(command, kDiscoverySettingNames[index], value);
    }
    return finish(command, built);
}

bool buildDiscover(IscsiadmCommand *command, const OpeniscsiPortal &portal, const char *iface)
{
    return finish(command, validIface(iface) && startDiscovery(command, portal) &&
                               addIface(command, iface) && add(command, "--discover") &&
                               add(command, "-o") && add(command, "new"));
}

bool buildDiscoveryDelete(IscsiadmCommand *command, const OpeniscsiPortal &portal)
{
    return finish(command,
                  startDiscovery(command, portal) && add(command, "-o") && add(command, "delete"));
}

bool buildDiscoveryList(IscsiadmCommand *command)
{
    static const char *const kWords[] = {"-m", "discoverydb"};
    return finish(command, start(command, kWords));
}

bool buildDiscoveryShow(IscsiadmCommand *command, const OpeniscsiPortal &portal)
{
    return finish(command, startDiscovery(command, portal));
}

bool buildNodeList(IscsiadmCommand *command)
{
    static const char *const kWords[] = {"-m", "node"};
    return finish(command, start(command, kWords));
}

bool buildNodeShow(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                   const char *iface)
{
    return finish(command, startNode(command, target, portal, iface));
}

bool buildNodeUpdate(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                     const char *iface, NodeSetting setting, const char *value)
{
    NodeSettingValue one = {setting, value};
    return buildNodeUpdates(command, target, portal, iface, &one, 1);
}

bool buildNodeUpdates(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                      const char *iface, const NodeSettingValue *settings, size_t count)
{
    bool built = count >= 1 && count <= SETTINGS_PER_UPDATE &&
                 startNode(command, target, portal, iface) && add(command, "-o") &&
                 add(command, "update");
    for (size_t i = 0; built && i < count; i++) {
        NodeSetting setting = settings[i].setting;
        size_t index = static_cast<size_t>(setting);
        const char *value = settings[i].value;
        built = index < sizeof kNodeSettingNames / sizeof kNodeSettingNames[0] &&
                validChapValue(value) &&
                (setting != NODE_STARTUP || isOneOf(value, "manual", "automatic")) &&
                (setting != NODE_AUTHMETHOD || isOneOf(value, "None", "CHAP")) &&
                addPair(command, kNodeSettingNames[index], value);
    }
    return finish(command, built);
}

bool buildNodeShowAll(IscsiadmCommand *command)
{
    static const char *const kWords[] = {"-m", "node", "-o", "show"};
    return finish(command, start(command, kWords));
}

bool buildNodeShowSecrets(IscsiadmCommand *command, const char *target,
                          const OpeniscsiPortal &portal, const char *iface)
{
    return finish(command, startNode(command, target, portal, iface) && add(command, "-S"));
}

bool buildNodeNew(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                  long tag, const char *iface)
{
    static const char *const kWords[] = {"-m", "node", "-o", "new", "-T"};
    bool built = validTarget(target) && validIface(iface) && start(command, kWords) &&
                 add(command, target) && addTaggedPortal(command, portal, tag) &&
                 addIface(command, iface);
    return finish(command, built);
}

bool buildLogin(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                const char *iface)
{
    return finish(command, startNode(command, target, portal, iface) && add(command, "--login"));
}

bool buildLogout(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                 const char *iface)
{
    return finish(command, startNode(command, target, portal, iface) && add(command, "--logout"));
}

bool buildNodeDelete(IscsiadmCommand *command, const char *target, const OpeniscsiPortal &portal,
                     const char *iface)
{
    return finish(command, startNode(command, target, portal, iface) && add(command, "-o") &&
                               add(command, "delete"));
}

bool buildSessionList(IscsiadmCommand *command, int printLevel)
{
    static const char *const kWords[] = {"-m", "session"};
    if (printLevel < -1 || printLevel > 3) {
        reset(command);
        return false;
    }
    char level[2] = {static_cast<char>('0' + (printLevel < 0 ? 0 : printLevel)), 0};
    return finish(command, start(command, kWords) &&
                               (printLevel < 0 || (add(command, "-P") && add(command, level))));
}

bool buildSessionLogout(IscsiadmCommand *command, unsigned long sid)
{
    static const char *const kWords[] = {"-m", "session", "-r"};
    char text[24];
    snprintf(text, sizeof text, "%lu", sid);
    return finish(command, start(command, kWords) && add(command, text) && add(command, "-u"));
}

bool buildIfaceList(IscsiadmCommand *command)
{
    static const char *const kWords[] = {"-m", "iface"};
    return finish(command, start(command, kWords));
}
