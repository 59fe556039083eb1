// The argument vectors of the iscsiadm calls, and the values refused before
// they reach iscsiadm.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "service_openiscsi/iscsiadm_args.h"

namespace {

// The vector joined by blanks, "<refused>" when the builder refused.
std::string joined(bool built, const IscsiadmCommand &command)
{
    if (!built)
        return command.count == 0 ? "<refused>" : "<refused but not empty>";
    const char *argv[ISCSIADM_MAX_ARGUMENTS + 1];
    if (!commandArgv(&command, argv, ISCSIADM_MAX_ARGUMENTS + 1))
        return "<no room>";
    std::string text;
    for (size_t i = 0; argv[i] != nullptr; i++)
        text += (i > 0 ? " " : "") + std::string(argv[i]);
    return text;
}

const OpeniscsiPortal kPortal = {"10.0.0.5", 3260};
const OpeniscsiPortal kPortal6 = {"fe80::1%eth0", 3261};
const char kTarget[] = "iqn.2024-01.example:disk1";

struct BuildCase {
    const char *what;
    std::function<bool(IscsiadmCommand *)> build;
    const char *expected;
};

TEST(CommandBuilders, EveryActionsVector)
{
    const BuildCase cases[] = {
        {"version", [](IscsiadmCommand *c) { return buildVersion(c); }, "iscsiadm --version"},
        {"discovery record", [](IscsiadmCommand *c) { return buildDiscoveryNew(c, kPortal); },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -o new"},
        {"discovery record, IPv6",
         [](IscsiadmCommand *c) { return buildDiscoveryNew(c, kPortal6); },
         "iscsiadm -m discoverydb -t st -p [fe80::1%eth0]:3261 -o new"},
        {"discovery CHAP",
         [](IscsiadmCommand *c) {
             return buildDiscoveryUpdate(c, kPortal, DISCOVERY_AUTHMETHOD, "CHAP");
         },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -o update -n "
         "discovery.sendtargets.auth.authmethod -v CHAP"},
        {"discovery user",
         [](IscsiadmCommand *c) {
             return buildDiscoveryUpdate(c, kPortal, DISCOVERY_USERNAME, "alice");
         },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -o update -n "
         "discovery.sendtargets.auth.username -v alice"},
        {"discovery secret",
         [](IscsiadmCommand *c) {
             return buildDiscoveryUpdate(c, kPortal, DISCOVERY_PASSWORD, "a secret 12");
         },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -o update -n "
         "discovery.sendtargets.auth.password -v a secret 12"},
        {"discovery mutual",
         [](IscsiadmCommand *c) {
             return buildDiscoveryUpdate(c, kPortal, DISCOVERY_PASSWORD_IN, "");
         },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -o update -n "
         "discovery.sendtargets.auth.password_in -v "},
        {"discover", [](IscsiadmCommand *c) { return buildDiscover(c, kPortal, nullptr); },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 --discover -o new"},
        {"discover through an iface",
         [](IscsiadmCommand *c) { return buildDiscover(c, kPortal, "eth1-iface"); },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -I eth1-iface --discover -o new"},
        {"discovery delete", [](IscsiadmCommand *c) { return buildDiscoveryDelete(c, kPortal); },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -o delete"},
        {"discovery list", [](IscsiadmCommand *c) { return buildDiscoveryList(c); },
         "iscsiadm -m discoverydb"},
        {"discovery show", [](IscsiadmCommand *c) { return buildDiscoveryShow(c, kPortal); },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260"},
        {"node list", [](IscsiadmCommand *c) { return buildNodeList(c); }, "iscsiadm -m node"},
        {"node show",
         [](IscsiadmCommand *c) { return buildNodeShow(c, kTarget, kPortal, nullptr); },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260"},
        {"persistent",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_STARTUP, "automatic");
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -o update -n node.startup "
         "-v automatic"},
        {"not persistent",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, "default", NODE_STARTUP, "manual");
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -I default -o update -n "
         "node.startup -v manual"},
        {"node CHAP",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_AUTHMETHOD, "None");
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -o update -n "
         "node.session.auth.authmethod -v None"},
        {"node user",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_USERNAME, "alice");
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -o update -n "
         "node.session.auth.username -v alice"},
        {"node secret",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_PASSWORD, "-o delete");
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -o update -n "
         "node.session.auth.password -v -o delete"},
        {"node mutual user",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_USERNAME_IN, "bob");
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -o update -n "
         "node.session.auth.username_in -v bob"},
        {"login", [](IscsiadmCommand *c) { return buildLogin(c, kTarget, kPortal6, nullptr); },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p [fe80::1%eth0]:3261 --login"},
        {"logout", [](IscsiadmCommand *c) { return buildLogout(c, kTarget, kPortal, "iser"); },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -I iser --logout"},
        {"node delete",
         [](IscsiadmCommand *c) { return buildNodeDelete(c, kTarget, kPortal, nullptr); },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -o delete"},
        {"sessions", [](IscsiadmCommand *c) { return buildSessionList(c, -1); },
         "iscsiadm -m session"},
        {"session details", [](IscsiadmCommand *c) { return buildSessionList(c, 3); },
         "iscsiadm -m session -P 3"},
        {"session logout", [](IscsiadmCommand *c) { return buildSessionLogout(c, 4294967295UL); },
         "iscsiadm -m session -r 4294967295 -u"},
        {"ifaces", [](IscsiadmCommand *c) { return buildIfaceList(c); }, "iscsiadm -m iface"},
        {"several settings in one call",
         [](IscsiadmCommand *c) {
             const NodeSettingValue settings[] = {{NODE_STARTUP, "automatic"},
                                                  {NODE_AUTHMETHOD, "CHAP"},
                                                  {NODE_USERNAME, "alice"},
                                                  {NODE_PASSWORD, "a secret"}};
             return buildNodeUpdates(c, kTarget, kPortal, "default", settings, 4);
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -I default -o update -n "
         "node.startup -v automatic -n node.session.auth.authmethod -v CHAP -n "
         "node.session.auth.username -v alice -n node.session.auth.password -v a secret"},
        {"discovery CHAP in one call",
         [](IscsiadmCommand *c) {
             const DiscoverySettingValue settings[] = {{DISCOVERY_AUTHMETHOD, "CHAP"},
                                                       {DISCOVERY_USERNAME, "iqn.x"},
                                                       {DISCOVERY_PASSWORD, "s"}};
             return buildDiscoveryUpdates(c, kPortal, settings, 3);
         },
         "iscsiadm -m discoverydb -t st -p 10.0.0.5:3260 -o update -n "
         "discovery.sendtargets.auth.authmethod -v CHAP -n discovery.sendtargets.auth.username -v "
         "iqn.x -n discovery.sendtargets.auth.password -v s"},
        {"every record", [](IscsiadmCommand *c) { return buildNodeShowAll(c); },
         "iscsiadm -m node -o show"},
        {"a record with its secrets",
         [](IscsiadmCommand *c) { return buildNodeShowSecrets(c, kTarget, kPortal, "default"); },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260 -I default -S"},
        {"a record by hand, with its tag",
         [](IscsiadmCommand *c) { return buildNodeNew(c, kTarget, kPortal6, 2, "default"); },
         "iscsiadm -m node -o new -T iqn.2024-01.example:disk1 -p [fe80::1%eth0]:3261,2 -I "
         "default"},
        {"a record by hand, no tag",
         [](IscsiadmCommand *c) {
             return buildNodeNew(c, kTarget, kPortal, OPENISCSI_NO_TAG, nullptr);
         },
         "iscsiadm -m node -o new -T iqn.2024-01.example:disk1 -p 10.0.0.5:3260"},
        {"host name portal",
         [](IscsiadmCommand *c) {
             return buildLogin(c, kTarget, OpeniscsiPortal{"san-1.example.com", 65535}, nullptr);
         },
         "iscsiadm -m node -T iqn.2024-01.example:disk1 -p san-1.example.com:65535 --login"},
    };
    for (const BuildCase &c : cases) {
        SCOPED_TRACE(c.what);
        IscsiadmCommand command;
        bool built = c.build(&command);
        EXPECT_EQ(c.expected, joined(built, command));
    }
}

TEST(CommandBuilders, RefusedValues)
{
    std::string longTarget(OPENISCSI_NAME_BYTES, 'a');
    std::string longSecret(OPENISCSI_CHAP_BYTES, 's');
    std::string longIface(OPENISCSI_IFACE_BYTES, 'i');
    std::string longAddress(OPENISCSI_ADDRESS_BYTES, '1');
    const BuildCase cases[] = {
        {"a line break in a secret",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_PASSWORD,
                                    "x\nnode.startup = automatic");
         },
         "<refused>"},
        {"a tab in a user name",
         [](IscsiadmCommand *c) {
             return buildDiscoveryUpdate(c, kPortal, DISCOVERY_USERNAME, "a\tb");
         },
         "<refused>"},
        {"a secret too long",
         [&](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_PASSWORD,
                                    longSecret.c_str());
         },
         "<refused>"},
        {"no value",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_USERNAME, nullptr);
         },
         "<refused>"},
        {"startup other than manual/automatic",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_STARTUP, "onboot");
         },
         "<refused>"},
        {"authmethod other than None/CHAP",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, NODE_AUTHMETHOD, "chap");
         },
         "<refused>"},
        {"discovery authmethod",
         [](IscsiadmCommand *c) {
             return buildDiscoveryUpdate(c, kPortal, DISCOVERY_AUTHMETHOD, "KRB5");
         },
         "<refused>"},
        {"a setting out of range",
         [](IscsiadmCommand *c) {
             return buildNodeUpdate(c, kTarget, kPortal, nullptr, static_cast<NodeSetting>(7), "x");
         },
         "<refused>"},
        {"empty target", [](IscsiadmCommand *c) { return buildLogin(c, "", kPortal, nullptr); },
         "<refused>"},
        {"target with a blank",
         [](IscsiadmCommand *c) { return buildLogin(c, "iqn.a b:c", kPortal, nullptr); },
         "<refused>"},
        {"target too long",
         [&](IscsiadmCommand *c) { return buildLogin(c, longTarget.c_str(), kPortal, nullptr); },
         "<refused>"},
        {"null target",
         [](IscsiadmCommand *c) { return buildLogout(c, nullptr, kPortal, nullptr); }, "<refused>"},
        {"iface with a slash",
         [](IscsiadmCommand *c) { return buildLogin(c, kTarget, kPortal, "../x"); }, "<refused>"},
        {"empty iface", [](IscsiadmCommand *c) { return buildDiscover(c, kPortal, ""); },
         "<refused>"},
        {"iface too long",
         [&](IscsiadmCommand *c) { return buildLogin(c, kTarget, kPortal, longIface.c_str()); },
         "<refused>"},
        {"port 0",
         [](IscsiadmCommand *c) {
             return buildDiscoveryNew(c, OpeniscsiPortal{"10.0.0.5", 0});
         },
         "<refused>"},
        {"port too large",
         [](IscsiadmCommand *c) {
             return buildDiscoveryNew(c, OpeniscsiPortal{"10.0.0.5", 65536});
         },
         "<refused>"},
        {"address with a blank",
         [](IscsiadmCommand *c) {
             return buildDiscoveryNew(c, OpeniscsiPortal{"10.0.0.5 -o delete", 3260});
         },
         "<refused>"},
        {"address in brackets already",
         [](IscsiadmCommand *c) {
             return buildDiscoveryNew(c, OpeniscsiPortal{"[::1]", 3260});
         },
         "<refused>"},
        {"empty address",
         [](IscsiadmCommand *c) {
             return buildNodeDelete(c, kTarget, OpeniscsiPortal{"", 3260}, nullptr);
         },
         "<refused>"},
        {"null address",
         [](IscsiadmCommand *c) {
             return buildDiscoveryDelete(c, OpeniscsiPortal{nullptr, 3260});
         },
         "<refused>"},
        {"address too long",
         [&](IscsiadmCommand *c) {
             return buildDiscoveryNew(c, OpeniscsiPortal{longAddress.c_str(), 3260});
         },
         "<refused>"},
        {"no settings",
         [](IscsiadmCommand *c) {
             return buildNodeUpdates(c, kTarget, kPortal, nullptr, nullptr, 0);
         },
         "<refused>"},
        {"more settings than one call takes",
         [](IscsiadmCommand *c) {
             const NodeSettingValue settings[] = {{NODE_USERNAME, "a"},
                                                  {NODE_USERNAME, "b"},
                                                  {NODE_USERNAME, "c"},
                                                  {NODE_USERNAME, "d"},
                                                  {NODE_USERNAME, "e"}};
             return buildNodeUpdates(c, kTarget, kPortal, nullptr, settings, 5);
         },
         "<refused>"},
        {"one bad setting among good ones",
         [](IscsiadmCommand *c) {
             const DiscoverySettingValue settings[] = {{DISCOVERY_AUTHMETHOD, "CHAP"},
                                                       {DISCOVERY_PASSWORD, "x\ny"}};
             return buildDiscoveryUpdates(c, kPortal, settings, 2);
         },
         "<refused>"},
        {"a tag out of range",
         [](IscsiadmCommand *c) { return buildNodeNew(c, kTarget, kPortal, 65536, nullptr); },
         "<refused>"},
        {"print level", [](IscsiadmCommand *c) { return buildSessionList(c, 4); }, "<refused>"},
        {"print level below", [](IscsiadmCommand *c) { return buildSessionList(c, -2); },
         "<refused>"},
    };
    for (const BuildCase &c : cases) {
        SCOPED_TRACE(c.what);
        IscsiadmCommand command;
        buildVersion(&command);  // a refusal must not leave an older vector behind
        bool built = c.build(&command);
        EXPECT_EQ(c.expected, joined(built, command));
    }
}

TEST(CommandBuilders, TheLongestVectorsFit)
{
    std::string target(OPENISCSI_NAME_BYTES - 1, 't');
    std::string secret(OPENISCSI_CHAP_BYTES - 1, 's');
    std::string iface(OPENISCSI_IFACE_BYTES - 1, 'i');
    std::string address(OPENISCSI_ADDRESS_BYTES - 1, 'a');
    const NodeSettingValue settings[] = {{NODE_STARTUP, "automatic"},
                                         {NODE_AUTHMETHOD, "CHAP"},
                                         {NODE_USERNAME, secret.c_str()},
                                         {NODE_PASSWORD, secret.c_str()}};
    IscsiadmCommand command;
    ASSERT_TRUE(buildNodeUpdates(&command, target.c_str(), OpeniscsiPortal{address.c_str(), 65535},
                                 iface.c_str(), settings, SETTINGS_PER_UPDATE));
    EXPECT_EQ(27u, command.count);
    ASSERT_TRUE(buildNodeNew(&command, target.c_str(), OpeniscsiPortal{address.c_str(), 65535},
                             65535, iface.c_str()));
    const char *argv[ISCSIADM_MAX_ARGUMENTS + 1];
    ASSERT_TRUE(commandArgv(&command, argv, ISCSIADM_MAX_ARGUMENTS + 1));
    EXPECT_EQ(address + ":65535,65535", argv[8]);
}

TEST(CommandBuilders, TheLongestVectorFitsAndACopyStandsAlone)
{
    std::string target(OPENISCSI_NAME_BYTES - 1, 't');
    std::string secret(OPENISCSI_CHAP_BYTES - 1, 's');
    std::string iface(OPENISCSI_IFACE_BYTES - 1, 'i');
    std::string address(OPENISCSI_ADDRESS_BYTES - 1, 'a');
    IscsiadmCommand command;
    ASSERT_TRUE(buildNodeUpdate(&command, target.c_str(), OpeniscsiPortal{address.c_str(), 65535},
                                iface.c_str(), NODE_PASSWORD_IN, secret.c_str()));
    IscsiadmCommand copy = command;
    memset(&command, 0, sizeof command);
    const char *argv[ISCSIADM_MAX_ARGUMENTS + 1];
    ASSERT_TRUE(commandArgv(&copy, argv, ISCSIADM_MAX_ARGUMENTS + 1));
    EXPECT_EQ(target, argv[4]);
    EXPECT_EQ(address + ":65535", argv[6]);
    EXPECT_EQ(secret, argv[14]);
    EXPECT_EQ(nullptr, argv[15]);
    EXPECT_FALSE(commandArgv(&copy, argv, 15));  // no room for the terminating null
}

}  // namespace
